// The rules of RFC 2579's textual conventions and of RFC 3416's order of errors that an SNMP set
// meets beyond an object's syntax and limits. They bind managers only: the agent's clients write
// what the instrumentation holds.
#include "agent/core/agent_core.h"
#include "agent/snmp/instance_index.h"

namespace orvu::agent {

using proto::Value;
using proto::ValueKind;

namespace {

constexpr uint32_t SPIN_LOCK_LAST = 2147483647;

}  // namespace

SnmpOutcome AgentCore::MissingInstance(const Oid& oid, const Value& value, std::string* why) const {
  const EntryDef* entry = EntryAbove(oid);
  const ColumnDef* def = nullptr;
  if (entry) {
    auto found = entry->columns.find(oid[entry->oid.size()]);
    if (found != entry->columns.end()) def = &found->second;
  }
  std::string name = OidText(oid);
  if (def) {
    SnmpOutcome outcome = ValueCheck(def->syntax, true, &def->limits, name, value, why);
    // AgentX has no NsapAddress: a manager writes one as an OCTET STRING.
    if (outcome == SnmpOutcome::WrongType && def->syntax == ORVU_SYNTAX_NSAPADDR &&
        value.syntax == ORVU_SYNTAX_OCTETS) {
      Value nsap = value;
      nsap.syntax = ORVU_SYNTAX_NSAPADDR;
      outcome = ValueCheck(def->syntax, true, &def->limits, name, nsap, why);
    }
    if (outcome != SnmpOutcome::Ok) return outcome;
    Oid index(oid.begin() + static_cast<long>(entry->oid.size()) + 1, oid.end());
    if (entry->statusColumn != 0 && def->writable && IndexMisfit(*entry, index).empty()) {
      *why = "no such row: " + name + " (its row is made through its RowStatus column)";
      return SnmpOutcome::InconsistentName;
    }
  }
  *why = "no such instance: " + name;
  return SnmpOutcome::NoCreation;
}

SnmpOutcome AgentCore::SpinLock(const SnmpSetTarget& target, const std::string& name, Value* value,
                                std::string* why) const {
  bool spinLock = false;
  if (target.instanceHandle == 0) {
    spinLock = scalars_[target.column].testAndIncr;
  } else {
    const EntryDef& entry = entries_[instances_.at(target.instanceHandle).entryHandle - 1];
    auto def = entry.columns.find(target.column);
    spinLock = def != entry.columns.end() && def->second.testAndIncr;
  }
  if (!spinLock || value->kind != ValueKind::Number) return SnmpOutcome::Ok;
  uint32_t held = target.previous.number;
  if (value->number != held) {
    *why = "inconsistent value for object " + name + ": a TestAndIncr takes the value it holds, " +
           std::to_string(held) + ", not " + std::to_string(value->number);
    return SnmpOutcome::InconsistentValue;
  }
  value->number = held >= SPIN_LOCK_LAST ? 0 : held + 1;
  return SnmpOutcome::Ok;
}

SnmpOutcome AgentCore::StorageCheck(const EntryDef& entry, const Instance& instance,
                                    uint32_t column, const Value& value, const std::string& name,
                                    std::string* why) const {
  uint32_t storage = ColumnValue(entry, instance, entry.storageColumn).number;
  bool fixed = storage == STORAGE_PERMANENT || storage == STORAGE_READ_ONLY;
  if (storage == STORAGE_READ_ONLY && column != entry.storageColumn) {
    *why = "object is read-only: " + name + " (its row's StorageType is readOnly(5))";
    return SnmpOutcome::NotWritable;
  }
  if (column == entry.storageColumn && value.kind == ValueKind::Number) {
    bool toFixed = value.number == STORAGE_PERMANENT || value.number == STORAGE_READ_ONLY;
    if ((fixed && value.number != storage) || (!fixed && toFixed) || storage == STORAGE_READ_ONLY) {
      *why = "wrong value for object " + name + ": a StorageType of " + std::to_string(storage) +
             " does not become " + std::to_string(value.number);
      return SnmpOutcome::WrongValue;
    }
  }
  if (storage == STORAGE_PERMANENT && column == entry.statusColumn &&
      value.kind == ValueKind::Number && value.number == ROW_DESTROY) {
    *why = "inconsistent value for object " + name + ": a permanent(4) row is not destroyed";
    return SnmpOutcome::InconsistentValue;
  }
  return SnmpOutcome::Ok;
}

}  // namespace orvu::agent
