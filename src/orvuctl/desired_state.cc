#include "orvuctl/desired_state.h"

#include <yaml-cpp/eventhandler.h>
#include <yaml-cpp/exceptions.h>
#include <yaml-cpp/parser.h>

#include <fstream>
#include <iostream>
#include <map>
#include <nlohmann/json.hpp>

namespace {

// The file's shape is wrong at a place: says where, for the user to find it.
struct ShapeError {
  std::string text;
};

[[noreturn]] void Refuse(const YAML::Mark& mark, const std::string& what) {
  std::string where = mark.is_null() ? "" : "line " + std::to_string(mark.line + 1) + ": ";
  throw ShapeError{where + what};
}

// Where in the shape a mapping or a list stands.
enum class Role { ROOT, VALUES, TABLES, TABLE, ROWS, ROW };

struct Level {
  Role role;
  bool isMap;
  bool haveKey = false;  // a mapping's key has come, its value not yet
  std::string key;
  YAML::Mark keyMark;
};

// Takes the parser's events into a DesiredState as they come.
class DesiredStateReader : public YAML::EventHandler {
 public:
  explicit DesiredStateReader(DesiredState* state) : state_(state) {}

  void OnDocumentStart(const YAML::Mark&) override {}
  void OnDocumentEnd() override {}
  void OnNull(const YAML::Mark& mark, YAML::anchor_t) override { Value(mark, std::string(), true); }
  void OnAlias(const YAML::Mark& mark, YAML::anchor_t) override {
    Refuse(mark, "aliases (*name) are not taken; write the value out");
  }
  void OnScalar(const YAML::Mark& mark, const std::string&, YAML::anchor_t,
                const std::string& value) override {
    Value(mark, value, false);
  }
  void OnSequenceStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t,
                       YAML::EmitterStyle::value) override {
    Start(mark, false);
  }
  void OnSequenceEnd() override { End(); }
  void OnMapStart(const YAML::Mark& mark, const std::string&, YAML::anchor_t,
                  YAML::EmitterStyle::value) override {
    Start(mark, true);
  }
  void OnMapEnd() override { End(); }

 private:
  DesiredTable& Table() { return state_->tables.back(); }

  [[noreturn]] void UnknownKey(const Level& level) {
    if (level.role == Role::ROOT)
      Refuse(level.keyMark, "unknown key \"" + level.key + "\" (values, tables)");
    Refuse(level.keyMark, Table().entry + ": unknown key \"" + level.key + "\" (rows, exclusive)");
  }

  bool Flag(const YAML::Mark& mark, const std::string& text, const std::string& what) {
    if (text == "true" || text == "yes" || text == "True") return true;
    if (text == "false" || text == "no" || text == "False" || text.empty()) return false;
    Refuse(mark, what + " takes true or false, not \"" + text + "\"");
  }

  uint32_t ColumnId(const std::string& name) {
    auto [found, added] = columnIds_.emplace(name, static_cast<uint32_t>(Table().columns.size()));
    if (added) Table().columns.push_back(name);
    return found->second;
  }

  void RowValue(const YAML::Mark& mark, const std::string& key, const std::string& text) {
    DesiredRow& row = Table().rows.back();
    if (key == "index") {
      row.index = text;
    } else if (key == "state") {
      if (text != "present" && text != "absent")
        Refuse(mark, "state takes present or absent, not \"" + text + "\"");
      row.present = text == "present";
    } else {
      row.values.emplace_back(ColumnId(key), text);
    }
  }

 public:
  // The events of either parser. A scalar (or null) where the top level takes it: a key, or the
  // value of the key before.
  void Value(const YAML::Mark& mark, const std::string& text, bool isNull) {
    if (levels_.empty()) {
      if (isNull) return;
      Refuse(mark, "a desired state is a mapping of values and tables");
    }
    Level& top = levels_.back();
    if (!top.isMap) Refuse(mark, "a row is a mapping of index, state and columns");
    if (!top.haveKey) {
      top.key = text;
      top.keyMark = mark;
      top.haveKey = true;
      return;
    }
    top.haveKey = false;
    switch (top.role) {
      case Role::ROOT:
        if (top.key != "values" && top.key != "tables") UnknownKey(top);
        if (!isNull)
          Refuse(mark, top.key == "values" ? "values is a mapping of names and values"
                                           : "tables is a mapping of table entries");
        return;
      case Role::VALUES: state_->values.emplace_back(top.key, text); return;
      case Role::TABLES: Refuse(mark, top.key + ": a table is a mapping with rows and exclusive");
      case Role::TABLE:
        if (top.key == "exclusive") {
          Table().exclusive = Flag(mark, text, Table().entry + ": exclusive");
        } else if (top.key == "rows") {
          if (!isNull) Refuse(mark, Table().entry + ": rows takes a list");
        } else {
          UnknownKey(top);
        }
        return;
      case Role::ROW: RowValue(mark, top.key, text); return;
      case Role::ROWS: return;
    }
  }

  // A mapping or a list opens where the top level takes it.
  void Start(const YAML::Mark& mark, bool isMap) {
    if (levels_.empty()) {
      if (!isMap) Refuse(mark, "a desired state is a mapping of values and tables");
      levels_.push_back(Level{Role::ROOT, true, false, {}, {}});
      return;
    }
    Level& top = levels_.back();
    if (top.isMap && !top.haveKey) Refuse(mark, "a key takes a plain name");
    Role role = Role::ROOT;
    switch (top.role) {
      case Role::ROOT:
        if (top.key == "values") {
          if (!isMap) Refuse(mark, "values is a mapping of names and values");
          role = Role::VALUES;
        } else if (top.key == "tables") {
          if (!isMap) Refuse(mark, "tables is a mapping of table entries");
          role = Role::TABLES;
        } else {
          UnknownKey(top);
        }
        break;
      case Role::VALUES:
      case Role::ROW: Refuse(mark, top.key + " takes a single value, not a list or a mapping");
      case Role::TABLES:
        if (!isMap) Refuse(mark, top.key + ": a table is a mapping with rows and exclusive");
        state_->tables.push_back(DesiredTable{top.key, false, {}, {}});
        columnIds_.clear();
        role = Role::TABLE;
        break;
      case Role::TABLE:
        if (top.key != "rows" && top.key != "exclusive") UnknownKey(top);
        if (isMap || top.key != "rows")
          Refuse(mark, Table().entry + ": " + top.key +
                           (top.key == "rows" ? " takes a list" : " takes true or false"));
        role = Role::ROWS;
        break;
      case Role::ROWS:
        if (!isMap) Refuse(mark, "a row is a mapping of index, state and columns");
        Table().rows.emplace_back();
        rowMark_ = mark;
        role = Role::ROW;
        break;
    }
    levels_.push_back(Level{role, isMap, false, {}, {}});
  }

  void End() {
    Role role = levels_.back().role;
    levels_.pop_back();
    if (role == Role::ROW && Table().rows.back().index.empty())
      Refuse(rowMark_, "a row without its index");
    if (!levels_.empty()) levels_.back().haveKey = false;
  }

 private:
  DesiredState* state_;
  std::vector<Level> levels_;
  std::map<std::string, uint32_t> columnIds_;
  YAML::Mark rowMark_;
};

// A JSON file goes through the JSON parser's events into the same reader: for a file that a
// program wrote, several times faster than the YAML parser, which reads JSON as well.
class JsonEvents : public nlohmann::json_sax<nlohmann::json> {
 public:
  explicit JsonEvents(DesiredStateReader* reader) : reader_(reader) {}
  bool null() override { return Take(std::string(), true); }
  bool boolean(bool value) override { return Take(value ? "true" : "false", false); }
  bool number_integer(number_integer_t value) override {
    return Take(std::to_string(value), false);
  }
  bool number_unsigned(number_unsigned_t value) override {
    return Take(std::to_string(value), false);
  }
  bool number_float(number_float_t, const string_t& text) override { return Take(text, false); }
  bool string(string_t& value) override { return Take(value, false); }
  bool binary(binary_t&) override { return Take(std::string(), true); }
  bool start_object(std::size_t) override {
    reader_->Start(YAML::Mark::null_mark(), true);
    return true;
  }
  bool key(string_t& value) override { return Take(value, false); }
  bool end_object() override {
    reader_->End();
    return true;
  }
  bool start_array(std::size_t) override {
    reader_->Start(YAML::Mark::null_mark(), false);
    return true;
  }
  bool end_array() override {
    reader_->End();
    return true;
  }
  bool parse_error(std::size_t position, const std::string&,
                   const nlohmann::detail::exception& error) override {
    throw ShapeError{"byte " + std::to_string(position) + ": " + error.what()};
  }

 private:
  bool Take(const std::string& text, bool isNull) {
    reader_->Value(YAML::Mark::null_mark(), text, isNull);
    return true;
  }
  DesiredStateReader* reader_;
};

// JSON when the first character that is no white space opens an object.
bool LooksLikeJson(std::istream& in) {
  in >> std::ws;
  return in.peek() == '{';
}

}  // namespace

bool ReadDesiredStateFrom(std::istream& in, const std::string& path, DesiredState* state,
                          std::string* reason) {
  *state = DesiredState{};
  try {
    DesiredStateReader reader(state);
    if (LooksLikeJson(in)) {
      JsonEvents events(&reader);
      nlohmann::json::sax_parse(in, &events);
      return true;
    }
    YAML::Parser parser(in);
    parser.HandleNextDocument(reader);
    return true;
  } catch (const ShapeError& error) {
    *reason = path + ": " + error.text;
  } catch (const YAML::Exception& error) {
    *reason = path + ": line " + std::to_string(error.mark.line + 1) + ": " + error.msg;
  }
  return false;
}

bool ReadDesiredState(const std::string& path, DesiredState* state, std::string* reason) {
  if (path == "-") return ReadDesiredStateFrom(std::cin, path, state, reason);
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    *reason = path + ": cannot be read";
    return false;
  }
  return ReadDesiredStateFrom(file, path, state, reason);
}
