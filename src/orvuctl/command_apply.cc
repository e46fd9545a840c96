// apply: a desired state made so in one change set, with a check and a diff mode.
#include <malloc.h>

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

// The index of each row, in the file's order; false when one is no index or is listed twice.
bool WantedIndexes(const MibObject& entry, const DesiredTable& table, Planning* planning,
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
    } else if (!seen.insert(row.index).second) {
      planning->Refuse(InstanceName(entry, row.index) + ": listed twice");
      whole = false;
    }
    rows->push_back(std::move(row));
  }
  return whole;
}

// The values of one row typed by their columns, when its turn comes, and its texts let go: a
// large file is never held as texts and as values at once.
void TypeRowValues(const MibObject& entry, const DesiredTable& table, DesiredRow* desired,
                   WantedRow* row, Planning* planning) {
  for (const auto& [columnId, text] : desired->values) {
    const std::string& columnName = table.columns[columnId];
    const MibObject* column = FindColumn(entry, columnName);
    std::string reason;
    PlainValue value;
    ResolvedName name;
    if (!column) {
      planning->Refuse(InstanceName(entry, row->index) + ": " + columnName + ": is no column of " +
                       entry.name);
      continue;
    }
    name.object = column;
    name.display = InstanceName(*column, row->index);
    if (!TypeWantedValue(name, text, &value, &reason)) {
      planning->Refuse(name.display + " = " + text + ": " + reason);
      continue;
    }
    row->values.emplace_back(column, std::move(value));
  }
  decltype(desired->values)().swap(desired->values);
}

// Held rows are read and compared as the listing reaches them, and what was read is let go at
// once: only the changes stay, in the file's order of rows, then the removals of rows that an
// exclusive table does not list.
void PlanTableOf(DesiredTable& table, Planning* planning) {
  std::string reason;
  const MibObject* entry = ResolveEntry(table.entry, &reason);
  if (!entry) {
    planning->Refuse(table.entry + ": " + reason);
    return;
  }
  std::vector<WantedRow> wanted;
  if (!WantedIndexes(*entry, table, planning, &wanted)) return;
  std::map<std::vector<uint32_t>, size_t> wantedByIndex;
  for (size_t i = 0; i < wanted.size(); ++i) wantedByIndex.emplace(wanted[i].index, i);
  std::vector<std::vector<PlannedChange>> rowChanges(wanted.size());
  std::vector<bool> seen(wanted.size(), false);
  std::vector<PlannedChange> removals;
  bool readFailed = false;
  HeldRow held;
  auto readRow = [&](const std::vector<uint32_t>& index) {
    auto found = wantedByIndex.find(index);
    if (found == wantedByIndex.end()) {
      if (table.exclusive) PlanRemoval(*entry, index, &removals);
      return true;
    }
    WantedRow& row = wanted[found->second];
    seen[found->second] = true;
    TypeRowValues(*entry, table, &table.rows[found->second], &row, planning);
    // Once anything is refused, nothing is sent: the rest is only typed, for its reasons.
    if (planning->refused) return true;
    held.index = index;
    held.values.clear();
    std::vector<uint32_t> oid;
    for (const auto& [column, value] : row.values) {
      if (!row.present) break;
      oid.assign(column->oid.begin(), column->oid.end());
      oid.insert(oid.end(), index.begin(), index.end());
      PlainValue current;
      ReadOutcome outcome = ReadValue(planning->agent, oid, &current, &reason);
      if (outcome == ReadOutcome::FAILED) {
        planning->Refuse(InstanceName(*column, index) + ": " + reason);
        readFailed = true;
        return false;
      }
      if (outcome == ReadOutcome::VALUE) held.values.emplace(column, std::move(current));
    }
    PlanRow(*entry, row, &held, &rowChanges[found->second]);
    decltype(row.values)().swap(row.values);
    return true;
  };
  if (!ForEachInstance(planning->agent, entry->oid, readRow, &reason)) {
    planning->Refuse(entry->name + ": " + reason);
    return;
  }
  if (readFailed) return;
  size_t total = planning->changes.size() + removals.size();
  for (const std::vector<PlannedChange>& row : rowChanges) total += row.size();
  planning->changes.reserve(total);
  for (size_t i = 0; i < wanted.size(); ++i) {
    if (!seen[i]) {
      TypeRowValues(*entry, table, &table.rows[i], &wanted[i], planning);
      PlanRow(*entry, wanted[i], nullptr, &rowChanges[i]);
    }
    for (PlannedChange& change : rowChanges[i]) planning->changes.push_back(std::move(change));
    std::vector<PlannedChange>().swap(rowChanges[i]);
  }
  for (PlannedChange& change : removals) planning->changes.push_back(std::move(change));
}

}  // namespace

int RunApply(const AgentSession& session, OrvuctlCommand& command) {
  DesiredState& state = command.desired;
  Planning planning;
  planning.agent = session.agent;
  PlanValues(state, &planning);
  for (DesiredTable& table : state.tables) PlanTableOf(table, &planning);
  if (planning.refused) {
    ReportError("nothing was changed");
    return ORVUCTL_EXIT_REFUSED;
  }
  // What reading the file and the rows left behind goes back to the system before the set is
  // copied for the agent: otherwise both count in the peak.
  command.desired = DesiredState{};
  malloc_trim(0);
  if (!command.check && !ApplyChanges(session.agent, planning.changes)) return ORVUCTL_EXIT_REFUSED;
  ChangeReportOptions options;
  options.json = command.json;
  options.check = command.check;
  options.diff = command.diff;
  PrintChanges(planning.changes, options);
  return ORVUCTL_EXIT_DONE;
}
