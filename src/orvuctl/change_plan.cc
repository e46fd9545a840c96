#include "orvuctl/change_plan.h"

#include <algorithm>
#include <set>

#include "values/change_record.h"

namespace {

PlannedChange RowChange(const MibObject& entry, uint32_t action,
                        const std::vector<uint32_t>& index) {
  PlannedChange change;
  change.action = action;
  change.object = &entry;
  change.oid = index;
  return change;
}

PlannedChange SetChange(const MibObject& column, const std::vector<uint32_t>& index,
                        const std::optional<PlainValue>& before, const PlainValue& after) {
  PlannedChange change;
  change.action = CHANGE_SET;
  change.object = &column;
  change.oid = column.oid;
  change.oid.insert(change.oid.end(), index.begin(), index.end());
  change.before = before;
  change.after = after;
  return change;
}

}  // namespace

std::string ChangeObjectName(const PlannedChange& change) {
  if (!change.object) return DottedText(change.oid);
  if (change.action != CHANGE_SET) return InstanceName(*change.object, change.oid);
  size_t prefix = std::min(change.object->oid.size(), change.oid.size());
  return InstanceName(
      *change.object,
      std::vector<uint32_t>(change.oid.begin() + static_cast<long>(prefix), change.oid.end()));
}

const ValueShape* ChangeShape(const PlannedChange& change) {
  return change.object && change.action == CHANGE_SET ? &change.object->shape : nullptr;
}

void PlanValue(const ResolvedName& name, const std::optional<PlainValue>& current,
               const PlainValue& wanted, std::vector<PlannedChange>* changes) {
  if (current && *current == wanted) return;
  PlannedChange change;
  change.action = CHANGE_SET;
  change.object = name.object;
  change.oid = name.oid;
  change.before = current;
  change.after = wanted;
  changes->push_back(std::move(change));
}

void PlanRow(const MibObject& entry, const WantedRow& wanted, const HeldRow* held,
             std::vector<PlannedChange>* changes) {
  if (!wanted.present) {
    if (held) changes->push_back(RowChange(entry, CHANGE_REMOVE, wanted.index));
    return;
  }
  if (!held) changes->push_back(RowChange(entry, CHANGE_CREATE, wanted.index));
  for (const auto& [column, value] : wanted.values) {
    std::optional<PlainValue> before;
    if (held) {
      auto current = held->values.find(column);
      if (current != held->values.end()) before = current->second;
    }
    if (before && *before == value) continue;
    changes->push_back(SetChange(*column, wanted.index, before, value));
  }
}

void PlanTable(const MibObject& entry, bool exclusive, const std::vector<WantedRow>& wanted,
               const std::vector<HeldRow>& held, std::vector<PlannedChange>* changes) {
  std::map<std::vector<uint32_t>, const HeldRow*> heldByIndex;
  for (const HeldRow& row : held) heldByIndex.emplace(row.index, &row);
  std::set<std::vector<uint32_t>> listed;
  for (const WantedRow& row : wanted) {
    listed.insert(row.index);
    auto found = heldByIndex.find(row.index);
    PlanRow(entry, row, found == heldByIndex.end() ? nullptr : found->second, changes);
  }
  if (!exclusive) return;
  for (const HeldRow& row : held)
    if (!listed.count(row.index)) PlanRemoval(entry, row.index, changes);
}

void PlanRemoval(const MibObject& entry, const std::vector<uint32_t>& index,
                 std::vector<PlannedChange>* changes) {
  changes->push_back(RowChange(entry, CHANGE_REMOVE, index));
}
