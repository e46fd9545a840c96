// The difference between what the agent holds and what is wanted, as the changes of one change
// set: rows to create, values to write, rows to remove.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "orvuctl/mib_object.h"
#include "orvuctl/plain_value.h"

// A set of 100,000 changes is held whole before it goes: a change holds no more than it must,
// and its name is made when it is printed.
struct PlannedChange {
  uint32_t action = 0;  // CHANGE_CREATE, CHANGE_REMOVE, CHANGE_SET
  // CREATE, REMOVE: the entry; SET: the scalar or column, null for an OID outside the modules.
  const MibObject* object = nullptr;
  std::vector<uint32_t> oid;         // CREATE, REMOVE: the instance suffix; SET: the whole OID
  std::optional<PlainValue> before;  // SET: absent when the row did not hold it
  std::optional<PlainValue> after;
};

// ROW (ENTRY.INDEX) or OBJECT.INSTANCE, as users read it.
std::string ChangeObjectName(const PlannedChange& change);
// The object's labels for the text form of a SET's values; null outside the modules.
const ValueShape* ChangeShape(const PlannedChange& change);

// A value as wanted, and what the agent holds (none: absent).
void PlanValue(const ResolvedName& name, const std::optional<PlainValue>& current,
               const PlainValue& wanted, std::vector<PlannedChange>* changes);

struct WantedRow {
  std::vector<uint32_t> index;
  bool present = true;
  std::vector<std::pair<const MibObject*, PlainValue>> values;  // columns in the file's order
};

struct HeldRow {
  std::vector<uint32_t> index;
  std::map<const MibObject*, PlainValue> values;  // the columns that were read
};

// One wanted row of ENTRY, with HELD the row as the agent holds it (its wanted columns read), or
// null when it holds none: created with its values, given the values that differ, or removed.
void PlanRow(const MibObject& entry, const WantedRow& wanted, const HeldRow* held,
             std::vector<PlannedChange>* changes);

// The removal of a held row that an exclusive table does not list.
void PlanRemoval(const MibObject& entry, const std::vector<uint32_t>& index,
                 std::vector<PlannedChange>* changes);

// Rows of ENTRY: a wanted row that is not held is created with its values; a held one gets the
// values that differ; a row wanted absent is removed; under EXCLUSIVE so is every held row that
// is not wanted. HELD is every row the agent holds, with the wanted columns read.
void PlanTable(const MibObject& entry, bool exclusive, const std::vector<WantedRow>& wanted,
               const std::vector<HeldRow>& held, std::vector<PlannedChange>* changes);
