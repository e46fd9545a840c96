// get and show: values and rows as the agent holds them.
#include <cstdio>
#include <map>

#include "orvuctl/agent_reads.h"
#include "orvuctl/commands.h"
#include "orvuctl/mib_object.h"
#include "orvuctl/report_error.h"
#include "values/syntax_table.h"

namespace {

// From this many values of one table on, get walks the table rather than asking value by value.
constexpr size_t GET_WALK_LEAST = 64;

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void PrintJson(const nlohmann::ordered_json& document) { Print(JsonDocumentText(document)); }

nlohmann::ordered_json ValueEntry(const ResolvedName& name, const PlainValue& value) {
  nlohmann::ordered_json entry;
  entry["object"] = name.display;
  entry["oid"] = DottedText(name.oid);
  entry["syntax"] = SyntaxSmiText(value.syntax, false);
  if (name.object && !name.object->shape.typeName.empty() &&
      name.object->shape.typeName != entry["syntax"])
    entry["type"] = name.object->shape.typeName;
  entry["value"] = PlainJson(value);
  if (name.object) {
    std::vector<std::string> labels = ValueLabels(value, name.object->shape);
    if (value.syntax == SYNTAX_INTEGER && !labels.empty()) entry["label"] = labels[0];
    if (value.syntax == SYNTAX_OCTETS && !name.object->shape.labels.empty()) entry["bits"] = labels;
  }
  return entry;
}

const ValueShape* ShapeOf(const ResolvedName& name) {
  return name.object ? &name.object->shape : nullptr;
}

// Columns of many rows of one table are read by walking the table, whose rows the library reads
// many at a time, where one round trip a value would set the pace. What the walk does not find
// is left to be read (and refused) on its own.
void ReadManyRows(AgentHandle agent, const std::vector<ResolvedName>& names,
                  std::vector<PlainValue>* values, std::vector<bool>* read) {
  std::map<uint32_t, std::vector<size_t>> byEntry;
  for (size_t i = 0; i < names.size(); ++i)
    if (names[i].object && names[i].object->kind == MIB_KIND_COLUMN)
      byEntry[names[i].object->parent].push_back(i);
  for (const auto& [entryHandle, positions] : byEntry) {
    const MibObject* entry = DescribeObject(entryHandle);
    if (!entry || positions.size() < GET_WALK_LEAST) continue;
    std::map<std::vector<uint32_t>, std::vector<size_t>> byIndex;
    for (size_t position : positions) byIndex[names[position].instance].push_back(position);
    size_t left = byIndex.size();
    std::string reason;
    auto readRow = [&](const std::vector<uint32_t>& index) {
      auto found = byIndex.find(index);
      if (found == byIndex.end()) return true;
      for (size_t position : found->second)
        (*read)[position] = ReadValue(agent, names[position].oid, &(*values)[position], &reason) ==
                            ReadOutcome::VALUE;
      return --left > 0;
    };
    ForEachInstance(agent, entry->oid, readRow, &reason);
  }
}

}  // namespace

int RunGet(const AgentSession& session, OrvuctlCommand& command) {
  std::vector<ResolvedName> names(command.args.size());
  int status = ORVUCTL_EXIT_DONE;
  for (size_t i = 0; i < command.args.size(); ++i) {
    std::string reason;
    if (!ResolveName(command.args[i], &names[i], &reason)) {
      ReportError(command.args[i] + ": " + reason);
      status = ORVUCTL_EXIT_REFUSED;
    }
  }
  if (status != ORVUCTL_EXIT_DONE) return status;
  std::vector<PlainValue> values(names.size());
  std::vector<bool> read(names.size(), false);
  ReadManyRows(session.agent, names, &values, &read);
  for (size_t i = 0; i < names.size(); ++i) {
    std::string reason;
    if (read[i]) continue;
    if (ReadValue(session.agent, names[i].oid, &values[i], &reason) != ReadOutcome::VALUE) {
      ReportError(names[i].display + ": " + reason);
      status = ORVUCTL_EXIT_REFUSED;
    }
  }
  if (status != ORVUCTL_EXIT_DONE) return status;
  if (command.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (size_t i = 0; i < names.size(); ++i) list.push_back(ValueEntry(names[i], values[i]));
    PrintJson({{"values", std::move(list)}});
    return status;
  }
  std::string out;
  for (size_t i = 0; i < names.size(); ++i)
    out += names[i].display + " = " + PlainText(values[i], ShapeOf(names[i])) + "\n";
  Print(out);
  return status;
}

int RunShow(const AgentSession& session, OrvuctlCommand& command) {
  std::string reason;
  const MibObject* entry = ResolveEntry(command.args[0], &reason);
  if (!entry) {
    ReportError(command.args[0] + ": " + reason);
    return ORVUCTL_EXIT_REFUSED;
  }
  std::vector<const MibObject*> columns;
  for (uint32_t handle : entry->columns)
    if (const MibObject* column = DescribeObject(handle)) columns.push_back(column);
  nlohmann::ordered_json rows = nlohmann::ordered_json::array();
  std::string out;
  bool readFailed = false;
  auto showRow = [&](const std::vector<uint32_t>& index) {
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    out += InstanceName(*entry, index);
    for (const MibObject* column : columns) {
      // Index columns that are not accessible are in the instance suffix, not in the row.
      if (column->access == MIB_ACCESS_NOT_ACCESSIBLE) continue;
      std::vector<uint32_t> oid = column->oid;
      oid.insert(oid.end(), index.begin(), index.end());
      PlainValue value;
      ReadOutcome outcome = ReadValue(session.agent, oid, &value, &reason);
      if (outcome == ReadOutcome::FAILED) {
        ReportError(InstanceName(*column, index) + ": " + reason);
        readFailed = true;
        return false;
      }
      if (outcome == ReadOutcome::ABSENT) continue;
      values[column->name] = PlainJson(value);
      out += " " + column->name + "=" + PlainText(value, &column->shape);
    }
    out += "\n";
    rows.push_back({{"index", DottedText(index)}, {"values", std::move(values)}});
    return true;
  };
  if (!ForEachInstance(session.agent, entry->oid, showRow, &reason)) {
    ReportError(entry->name + ": " + reason);
    return ORVUCTL_EXIT_REFUSED;
  }
  if (readFailed) return ORVUCTL_EXIT_REFUSED;
  if (!command.json) {
    Print(out);
    return ORVUCTL_EXIT_DONE;
  }
  nlohmann::ordered_json columnList = nlohmann::ordered_json::array();
  for (const MibObject* column : columns) {
    nlohmann::ordered_json item;
    item["name"] = column->name;
    item["syntax"] = SyntaxSmiText(column->shape.syntax, false);
    if (!column->shape.typeName.empty() && column->shape.typeName != item["syntax"])
      item["type"] = column->shape.typeName;
    item["access"] = AccessText(column->access);
    columnList.push_back(std::move(item));
  }
  nlohmann::ordered_json document;
  document["entry"] = entry->name;
  document["oid"] = DottedText(entry->oid);
  document["columns"] = std::move(columnList);
  document["rows"] = std::move(rows);
  PrintJson(document);
  return ORVUCTL_EXIT_DONE;
}
