// apply: a desired state made so in one change set, with a check and a diff mode.
#include <map>
#include <set>

#include "orvuctl/agent_reads.h"
#include "orvuctl/change_apply.h"
#include "orvuctl/change_report.h"
#include "orvuctl/commands.h"
#include "orvuctl/desired_state.h"
#include "orvuctl/report_error.h"
#include "orvuctl/wanted_value.h"

namespace {

bool ReadIndex(const std::string& text, std::vector<uint32_t>* ids) {
  ResolvedName unused;
  PlainValue dotted;
  ValueShape shape;
  shape.syntax = SYNTAX_OID;
  std::string reason;
  // Dotted numbers only: an index is no name.
  if (text.empty() || text[0] < '0' || text[0] > '9') return false;
  if (!TypeValueText(text, shape, &dotted, &reason)) return false;
  *ids = dotted.ids;
  return true;
}

// Every failure is said, and any of them stops the run before anything is sent.
struct Planning {
  AgentHandle agent = 0;
  std::vector<PlannedChange> changes;
  bool refused = false;

  void Refuse(const std::string& text) {
    ReportError(text);
    refused = true;
  }
};

void PlanValues(const DesiredState& state, Planning* planning) {
  for (const auto& [nameText, text] : state.values) {
    ResolvedName name;
    std::string reason;
    PlainValue wanted;
    if (!ResolveName(nameText, &name, &reason)) {
      planning->Refuse(nameText + ": " + reason);
      continue;
    }
    if (!TypeWantedValue(name, text, &wanted, &reason)) {
      planning->Refuse(name.display + " = " + text + ": " + reason);
      continue;
    }
    PlainValue current;
    ReadOutcome outcome = ReadValue(planning->agent, name.oid, &current, &reason);
    if (outcome == ReadOutcome::FAILED) {
      planning->Refuse(name.display + ": " + reason);
      continue;
    }
    PlanValue(name,
              outcome == ReadOutcome::VALUE ? std::optional<PlainValue>(current) : std::nullopt,
              wanted, &planning->changes);
  }
}

const MibObject* FindColumn(const MibObject& entry, const std::string& name) {
  std::string bare = name.substr(name.find("::") == std::string::npos ? 0 : name.find("::") + 2);
  for (uint32_t handle : entry.columns) {
    const MibObject* column = DescribeObject(handle);
    if (column && column->name == bare) return column;
  }
  return nullptr;
}

bool WantedRows(const MibObject& entry, const DesiredTable& table, Planning* planning,
                std::vector<WantedRow>* rows) {
  std::set<std::vector<uint32_t>> seen;
  bool whole = true;
  for (const DesiredRow& desired : table.rows) {
    WantedRow row;
    row.present = desired.present;
    if (!ReadIndex(desired.index, &row.index)) {
      planning->Refuse(entry.name + ": index " + desired.index +
                       ": takes a number, or dotted numbers for several index parts");
      whole = false;
      continue;
    }
    std::string rowName = InstanceName(entry, row.index);
    if (!seen.insert(row.index).second) {
      planning->Refuse(rowName + ": listed twice");
      whole = false;
    }
    for (const auto& [columnId, text] : desired.values) {
      const std::string& columnName = table.columns[columnId];
      const MibObject* column = FindColumn(entry, columnName);
      std::string reason;
      PlainValue value;
      ResolvedName name;
      if (!column) {
        planning->Refuse(rowName + ": " + columnName + ": is no column of " + entry.name);
        whole = false;
        continue;
      }
      name.object = column;
      name.display = InstanceName(*column, row.index);
      if (!TypeWantedValue(name, text, &value, &reason)) {
        planning->Refuse(name.display + " = " + text + ": " + reason);
        whole = false;
        continue;
      }
      row.values.emplace_back(column, std::move(value));
    }
    rows->push_back(std::move(row));
  }
  return whole;
}

void PlanTableOf(const DesiredTable& table, Planning* planning) {
  std::string reason;
  const MibObject* entry = ResolveEntry(table.entry, &reason);
  if (!entry) {
    planning->Refuse(table.entry + ": " + reason);
    return;
  }
  std::vector<WantedRow> wanted;
  if (!WantedRows(*entry, table, planning, &wanted)) return;
  std::map<std::vector<uint32_t>, const WantedRow*> wantedByIndex;
  for (const WantedRow& row : wanted) wantedByIndex.emplace(row.index, &row);
  std::vector<HeldRow> held;
  bool readFailed = false;
  // The wanted columns of a held row are read as its turn comes in the listing.
  auto readRow = [&](const std::vector<uint32_t>& index) {
    held.push_back(HeldRow{index, {}});
    auto found = wantedByIndex.find(index);
    if (found == wantedByIndex.end() || !found->second->present) return true;
    std::vector<uint32_t> oid;
    for (const auto& [column, value] : found->second->values) {
      oid.assign(column->oid.begin(), column->oid.end());
      oid.insert(oid.end(), index.begin(), index.end());
      PlainValue current;
      ReadOutcome outcome = ReadValue(planning->agent, oid, &current, &reason);
      if (outcome == ReadOutcome::FAILED) {
        planning->Refuse(InstanceName(*column, index) + ": " + reason);
        readFailed = true;
        return false;
      }
      if (outcome == ReadOutcome::VALUE) held.back().values.emplace(column, std::move(current));
    }
    return true;
  };
  if (!ForEachInstance(planning->agent, entry->oid, readRow, &reason)) {
    planning->Refuse(entry->name + ": " + reason);
    return;
  }
  if (readFailed) return;
  PlanTable(*entry, table.exclusive, wanted, held, &planning->changes);
}

}  // namespace

int RunApply(const AgentSession& session, const OrvuctlCommand& command) {
  DesiredState state;
  std::string reason;
  if (!ReadDesiredState(command.args[0], &state, &reason)) {
    ReportError(reason);
    return ORVUCTL_EXIT_USAGE;
  }
  Planning planning;
  planning.agent = session.agent;
  PlanValues(state, &planning);
  for (const DesiredTable& table : state.tables) PlanTableOf(table, &planning);
  if (planning.refused) {
    ReportError("nothing was changed");
    return ORVUCTL_EXIT_REFUSED;
  }
  if (!command.check && !ApplyChanges(session.agent, planning.changes)) return ORVUCTL_EXIT_REFUSED;
  ChangeReportOptions options;
  options.json = command.json;
  options.check = command.check;
  options.diff = command.diff;
  PrintChanges(planning.changes, options);
  return ORVUCTL_EXIT_DONE;
}
