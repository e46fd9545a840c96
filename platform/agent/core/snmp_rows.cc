// SNMP sets as a whole: the rows of tables with a RowStatus column are created, paused and
// destroyed by managers (RFC 2579), every varbind checked before anything is written.
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "agent/core/agent_core.h"
#include "agent/snmp/instance_index.h"

namespace orvu::agent {

using proto::Value;
using proto::ValueKind;

namespace {

// Where a varbind of a set lands: a column of a row, or no table at all.
struct Place {
  const EntryDef* entry = nullptr;
  uint32_t column = 0;
  Oid index;
  bool exists = false;
  bool status = false;  // the entry's RowStatus column
};

using RowKey = std::pair<uint32_t, Oid>;

std::string StatusName(uint32_t v) {
  switch (v) {
    case ROW_ACTIVE: return "active(1)";
    case ROW_NOT_IN_SERVICE: return "notInService(2)";
    case ROW_NOT_READY: return "notReady(3)";
    case ROW_CREATE_AND_GO: return "createAndGo(4)";
    case ROW_CREATE_AND_WAIT: return "createAndWait(5)";
    case ROW_DESTROY: return "destroy(6)";
  }
  return std::to_string(v);
}

}  // namespace

bool AgentCore::RowComplete(const EntryDef& entry, const Instance* instance,
                            const std::vector<uint32_t>& columns) const {
  for (const auto& [number, def] : entry.columns) {
    if (!def.required) continue;
    if (instance && instance->values.Has(number)) continue;
    if (std::find(columns.begin(), columns.end(), number) != columns.end()) continue;
    return false;
  }
  return true;
}

SnmpOutcome AgentCore::SnmpCheckSets(const std::vector<SnmpVarBind>& varbinds,
                                     std::vector<SnmpSetTarget>* targets, size_t* failed,
                                     std::string* why) const {
  targets->assign(varbinds.size(), SnmpSetTarget());
  std::vector<Place> places(varbinds.size());
  std::map<RowKey, uint32_t> creating;  // rows this set creates: createAndGo or createAndWait
  std::map<RowKey, std::vector<uint32_t>> written;  // the columns it writes, per row
  for (size_t i = 0; i < varbinds.size(); ++i) {
    const Oid& oid = varbinds[i].oid;
    Place& p = places[i];
    if (!oid.empty() && scalarByOid_.count(Oid(oid.begin(), oid.end() - 1))) continue;
    p.entry = EntryAbove(oid);
    if (!p.entry) continue;
    p.column = oid[p.entry->oid.size()];
    p.index.assign(oid.begin() + static_cast<long>(p.entry->oid.size()) + 1, oid.end());
    p.exists = instancesByIndex_[p.entry->handle - 1].count(p.index) != 0;
    p.status = p.entry->statusColumn != 0 && p.column == p.entry->statusColumn;
    RowKey key(p.entry->handle, p.index);
    written[key].push_back(p.column);
    const Value& v = varbinds[i].value;
    if (p.status && !p.exists && v.kind == ValueKind::Number &&
        (v.number == ROW_CREATE_AND_GO || v.number == ROW_CREATE_AND_WAIT)) {
      creating.emplace(key, v.number);
    }
  }
  for (size_t i = 0; i < varbinds.size(); ++i) {
    *failed = i;
    const Value& value = varbinds[i].value;
    const Place& p = places[i];
    SnmpSetTarget& t = (*targets)[i];
    std::string name = OidText(varbinds[i].oid);
    auto row = p.entry ? creating.find(RowKey(p.entry->handle, p.index)) : creating.end();
    if (p.entry && !p.exists && row != creating.end()) {
      // A column of a row that this set creates.
      std::string misfit = IndexMisfit(*p.entry, p.index);
      if (!misfit.empty()) {
        *why = "cannot create " + name + ": " + misfit;
        return SnmpOutcome::NoCreation;
      }
      auto def = p.entry->columns.find(p.column);
      if (def == p.entry->columns.end() || !def->second.readable) {
        *why = "no such object: " + name;
        return SnmpOutcome::NotWritable;
      }
      t.value = value;
      // AgentX has no NsapAddress: a manager writes one as an OCTET STRING.
      if (def->second.syntax == ORVU_SYNTAX_NSAPADDR && value.syntax == ORVU_SYNTAX_OCTETS) {
        t.value.syntax = ORVU_SYNTAX_NSAPADDR;
      }
      SnmpOutcome outcome = ValueCheck(def->second.syntax, def->second.writable,
                                       &def->second.limits, name, t.value, why);
      if (outcome != SnmpOutcome::Ok) return outcome;
      t.column = p.column;
      t.entryHandle = p.entry->handle;
      t.index = p.index;
      t.previous = def->second.initial;
      if (p.status) {
        if (value.number != row->second) {
          *why = "one set gives the new row " + name + " two statuses";
          return SnmpOutcome::InconsistentValue;
        }
        t.row = RowChange::Create;
        // createAndGo makes an active row, createAndWait one that waits for its values.
        t.value.number = value.number == ROW_CREATE_AND_GO ? ROW_ACTIVE : ROW_NOT_IN_SERVICE;
        if (value.number == ROW_CREATE_AND_GO &&
            !RowComplete(*p.entry, nullptr, written[RowKey(p.entry->handle, p.index)])) {
          *why = "createAndGo needs a value for every column without a default: " + name;
          return SnmpOutcome::InconsistentValue;
        }
      }
      continue;
    }
    if (p.status && !p.exists && value.kind == ValueKind::Number &&
        value.syntax == ORVU_SYNTAX_INTEGER) {
      if (value.number == ROW_DESTROY) {
        // Destroying a row that is not there leaves it not there.
        t.row = RowChange::Destroy;
        continue;
      }
      if (value.number == ROW_ACTIVE || value.number == ROW_NOT_IN_SERVICE) {
        *why = "no such row: " + name;
        return SnmpOutcome::InconsistentValue;
      }
    }
    SnmpOutcome outcome = SnmpCheckSet(varbinds[i].oid, value, &t, why);
    if (outcome != SnmpOutcome::Ok) return outcome;
    if (p.entry && p.entry->storageColumn != 0) {
      outcome = StorageCheck(*p.entry, instances_.at(t.instanceHandle), p.column, value, name, why);
      if (outcome != SnmpOutcome::Ok) return outcome;
    }
    if (!p.status) continue;
    t.entryHandle = p.entry->handle;
    t.index = p.index;
    const Instance& instance = instances_.at(t.instanceHandle);
    bool complete = RowComplete(*p.entry, &instance, written[RowKey(p.entry->handle, p.index)]);
    switch (value.number) {
      case ROW_NOT_READY:
        *why = "notReady(3) is a status the agent gives, not one a manager sets: " + name;
        return SnmpOutcome::WrongValue;
      case ROW_CREATE_AND_GO:
      case ROW_CREATE_AND_WAIT:
        *why = StatusName(value.number) + " of a row that exists: " + name;
        return SnmpOutcome::InconsistentValue;
      case ROW_DESTROY: t.row = RowChange::Destroy; break;
      default:
        if (!complete) {
          *why =
              StatusName(value.number) + " of a row that lacks a value without a default: " + name;
          return SnmpOutcome::InconsistentValue;
        }
        break;
    }
  }
  return SnmpOutcome::Ok;
}

bool AgentCore::SnmpCommitWhole(const std::vector<SnmpSetTarget>& targets,
                                std::vector<StateRecord>* undo) {
  undo->clear();
  std::vector<StateRecord> records;
  // The undo in three parts, in this order: destroyed rows made again with what they held, values
  // written back, created rows removed.
  std::vector<StateRecord> remake, restore, unmake;
  uint32_t next = nextInstance_;
  std::set<uint32_t> taken;
  std::map<RowKey, uint32_t> made;
  for (const SnmpSetTarget& t : targets) {
    if (t.row != RowChange::Create) continue;
    const EntryDef* entry = EntryByHandle(t.entryHandle);
    if (!entry || made.count(RowKey(t.entryHandle, t.index))) return false;
    std::vector<uint32_t> family = RowFamily(entry->handle);
    size_t first = records.size();
    FamilyRowRecords(*entry, t.index, 0, taken, &next, &records);
    for (size_t r = first; r < records.size(); ++r) {
      taken.insert(records[r].handle);
      made[RowKey(family[r - first], t.index)] = records[r].handle;
      StateRecord& removal = unmake.emplace_back();
      removal.type = RecordType::Remove;
      removal.handle = records[r].handle;
    }
  }
  for (const SnmpSetTarget& t : targets) {
    if (t.row == RowChange::Destroy) continue;
    uint32_t handle = t.instanceHandle;
    if (handle == 0 && t.entryHandle != 0) {
      auto it = made.find(RowKey(t.entryHandle, t.index));
      if (it == made.end()) return false;
      handle = it->second;
    } else if (handle == 0 ? t.column >= scalars_.size() : !instances_.count(handle)) {
      return false;  // gone since the check
    } else {
      restore.push_back(ValueRecord(handle, t.column, t.previous));
    }
    records.push_back(ValueRecord(handle, t.column, t.value));
  }
  std::set<uint32_t> destroyed;
  for (const SnmpSetTarget& t : targets) {
    // A destroy of a row that is not there has nothing to remove.
    if (t.row != RowChange::Destroy || t.entryHandle == 0) continue;
    for (uint32_t member : RowFamily(t.entryHandle)) {
      auto row = instancesByIndex_[member - 1].find(t.index);
      if (row == instancesByIndex_[member - 1].end() || !destroyed.insert(row->second).second)
        continue;
      StateRecord& removal = records.emplace_back();
      removal.type = RecordType::Remove;
      removal.handle = row->second;
      const Instance& instance = instances_.at(row->second);
      StateRecord& again = remake.emplace_back();
      again.type = RecordType::Instance;
      again.entryOid = entries_[instance.entryHandle - 1].oid;
      again.indexOid = instance.index;
      again.handle = instance.handle;
      again.creator = instance.creator;
      again.time = instance.time;
      again.enabledFlags = instance.enabledFlags;
      again.leaves = instance.leaves;
      Value value;
      for (StoredValues::Cursor at(instance.values); !at.AtEnd(); at.Next()) {
        at.Value(&value);
        remake.push_back(ValueRecord(instance.handle, at.Column(), value));
      }
    }
  }
  proto::Reply reply;
  if (records.empty()) return true;
  if (!Commit(records, &reply)) return false;
  nextInstance_ = next;
  for (std::vector<StateRecord>* part : {&remake, &restore, &unmake})
    undo->insert(undo->end(), part->begin(), part->end());
  return true;
}

bool AgentCore::SnmpUndo(const std::vector<StateRecord>& undo) {
  proto::Reply reply;
  return undo.empty() || Commit(undo, &reply);
}

}  // namespace orvu::agent
