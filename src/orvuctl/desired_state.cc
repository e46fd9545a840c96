#include "orvuctl/desired_state.h"

#include <yaml-cpp/yaml.h>

#include <fstream>
#include <iostream>
#include <sstream>

namespace {

// The file's shape is wrong at NODE: says where, for the user to find it.
struct ShapeError {
  std::string text;
};

[[noreturn]] void Refuse(const YAML::Node& node, const std::string& what) {
  YAML::Mark mark = node.Mark();
  std::string where = mark.is_null() ? "" : "line " + std::to_string(mark.line + 1) + ": ";
  throw ShapeError{where + what};
}

std::string ScalarText(const YAML::Node& node, const std::string& what) {
  if (node.IsNull()) return std::string();
  if (!node.IsScalar()) Refuse(node, what + " takes a single value, not a list or a mapping");
  return node.Scalar();
}

bool Flag(const YAML::Node& node, const std::string& what) {
  std::string text = ScalarText(node, what);
  if (text == "true" || text == "yes" || text == "True") return true;
  if (text == "false" || text == "no" || text == "False" || text.empty()) return false;
  Refuse(node, what + " takes true or false, not \"" + text + "\"");
}

DesiredRow ReadRow(const YAML::Node& node) {
  if (!node.IsMap()) Refuse(node, "a row is a mapping of index, state and columns");
  DesiredRow row;
  bool hasIndex = false;
  for (const auto& item : node) {
    std::string key = item.first.as<std::string>();
    if (key == "index") {
      row.index = ScalarText(item.second, "index");
      hasIndex = true;
    } else if (key == "state") {
      std::string state = ScalarText(item.second, "state");
      if (state != "present" && state != "absent")
        Refuse(item.second, "state takes present or absent, not \"" + state + "\"");
      row.present = state == "present";
    } else {
      row.values.emplace_back(key, ScalarText(item.second, key));
    }
  }
  if (!hasIndex || row.index.empty()) Refuse(node, "a row without its index");
  return row;
}

DesiredTable ReadTable(const std::string& entry, const YAML::Node& node) {
  if (!node.IsMap()) Refuse(node, entry + ": a table is a mapping with rows and exclusive");
  DesiredTable table;
  table.entry = entry;
  for (const auto& item : node) {
    std::string key = item.first.as<std::string>();
    if (key == "exclusive") {
      table.exclusive = Flag(item.second, entry + ": exclusive");
    } else if (key == "rows") {
      if (item.second.IsNull()) continue;
      if (!item.second.IsSequence()) Refuse(item.second, entry + ": rows takes a list");
      for (const auto& row : item.second) table.rows.push_back(ReadRow(row));
    } else {
      Refuse(item.first, entry + ": unknown key \"" + key + "\" (rows, exclusive)");
    }
  }
  return table;
}

void ReadDocument(const YAML::Node& root, DesiredState* state) {
  if (root.IsNull()) return;
  if (!root.IsMap()) Refuse(root, "a desired state is a mapping of values and tables");
  for (const auto& item : root) {
    std::string key = item.first.as<std::string>();
    const YAML::Node& body = item.second;
    if (key == "values") {
      if (body.IsNull()) continue;
      if (!body.IsMap()) Refuse(body, "values is a mapping of names and values");
      for (const auto& value : body)
        state->values.emplace_back(value.first.as<std::string>(),
                                   ScalarText(value.second, value.first.as<std::string>()));
    } else if (key == "tables") {
      if (body.IsNull()) continue;
      if (!body.IsMap()) Refuse(body, "tables is a mapping of table entries");
      for (const auto& table : body)
        state->tables.push_back(ReadTable(table.first.as<std::string>(), table.second));
    } else {
      Refuse(item.first, "unknown key \"" + key + "\" (values, tables)");
    }
  }
}

}  // namespace

bool ReadDesiredState(const std::string& path, DesiredState* state, std::string* reason) {
  *state = DesiredState{};
  try {
    YAML::Node root;
    if (path == "-") {
      root = YAML::Load(std::cin);
    } else {
      std::ifstream file(path, std::ios::binary);
      if (!file) {
        *reason = path + ": cannot be read";
        return false;
      }
      root = YAML::Load(file);
    }
    ReadDocument(root, state);
    return true;
  } catch (const ShapeError& error) {
    *reason = path + ": " + error.text;
  } catch (const YAML::Exception& error) {
    *reason = path + ": line " + std::to_string(error.mark.line + 1) + ": " + error.msg;
  }
  return false;
}
