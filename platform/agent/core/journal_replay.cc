// Replay: whether a state record fits the agent's state, and how it changes that state, whether
// read from the state file at start or just appended to the journal.
#include <algorithm>
#include <map>
#include <set>
#include <utility>

#include "agent/core/agent_core.h"

namespace orvu::agent {

// A row's values follow its instance record: the instance is looked up once for all of them, by
// Check and by Apply alike.
bool AgentCore::LastApplied(uint32_t handle) const {
  return lastApplied_ != instances_.end() && lastApplied_->first == handle;
}
std::map<uint32_t, Instance>::iterator AgentCore::FindApplied(uint32_t handle) {
  return LastApplied(handle) ? lastApplied_ : instances_.find(handle);
}

// A start reads instances in the order of their handles, and mostly of their indexes: a key past
// the last one of its map is new without a search, and goes in at the end.
template <typename Map, typename Key>
bool PastLast(const Map& map, const Key& key) {
  return map.empty() || map.rbegin()->first < key;
}

uint32_t AgentCore::EntryHandleOf(const Oid& oid) const {
  if (entryMemo_ != 0 && entries_[entryMemo_ - 1].oid == oid) return entryMemo_;
  auto it = entryByOid_.find(oid);
  if (it == entryByOid_.end()) return 0;
  entryMemo_ = it->second;
  return it->second;
}

bool AgentCore::EntryFits(const Oid& oid, std::string* error) const {
  auto nested = [&](const Oid& outer, const Oid& inner) {
    *error = "entry " + OidText(inner) + " lies inside entry " + OidText(outer) +
             ", so that two objects would have one OID";
    return false;
  };
  if (const EntryDef* outer = EntryAbove(oid)) return nested(outer->oid, oid);
  auto after = entryByOid_.upper_bound(oid);
  if (after != entryByOid_.end() && after->first.size() > oid.size() &&
      std::equal(oid.begin(), oid.end(), after->first.begin()))
    return nested(oid, after->first);
  return true;
}

bool AgentCore::Check(const StateRecord& record, std::string* error) const {
  switch (record.type) {
    case RecordType::Module:
    case RecordType::Client:
    case RecordType::Scalar: return true;
    case RecordType::Instance: {
      if (record.handle == 0 ||
          (!PastLast(instances_, record.handle) && instances_.count(record.handle))) {
        *error = "instance handle " + std::to_string(record.handle) + " is 0 or used twice";
        return false;
      }
      uint32_t entry = EntryHandleOf(record.entryOid);
      if (!entry && !EntryFits(record.entryOid, error)) return false;
      if (entry && !PastLast(instancesByIndex_[entry - 1], record.indexOid) &&
          instancesByIndex_[entry - 1].count(record.indexOid)) {
        *error = "instance " + OidText(record.indexOid) + " of " + OidText(record.entryOid) +
                 " stated twice";
        return false;
      }
      return true;
    }
    case RecordType::Enable:
    case RecordType::Remove:
    case RecordType::Value:
      if (!LastApplied(record.handle) && !instances_.count(record.handle)) {
        *error = "no instance with handle " + std::to_string(record.handle);
        return false;
      }
      return true;
    case RecordType::Group:
      // The reader hands on a group's records, never the group itself.
      *error = "a group record out of place";
      return false;
  }
  return true;
}

bool AgentCore::CheckChange(const std::vector<StateRecord>& records, size_t* failed,
                            std::string* error) const {
  *failed = 0;
  if (records.size() == 1) return Check(records.front(), error);
  // What the records before this one did: the instances they made (with their row) and removed.
  using Row = std::pair<Oid, Oid>;  // entry OID, index
  std::map<uint32_t, Row> made;
  std::set<uint32_t> gone;
  std::set<Row> madeRows, goneRows;
  auto live = [&](uint32_t handle) {
    return made.count(handle) || (!gone.count(handle) && instances_.count(handle));
  };
  for (size_t i = 0; i < records.size(); ++i) {
    *failed = i;
    const StateRecord& record = records[i];
    switch (record.type) {
      case RecordType::Instance: {
        Row row(record.entryOid, record.indexOid);
        uint32_t entry = EntryHandleOf(record.entryOid);
        bool stated = madeRows.count(row) || (!goneRows.count(row) && entry &&
                                              instancesByIndex_[entry - 1].count(record.indexOid));
        if (record.handle == 0 || instances_.count(record.handle) || made.count(record.handle)) {
          *error = "instance handle " + std::to_string(record.handle) + " is 0 or used twice";
          return false;
        }
        if (stated) {
          *error = "instance " + OidText(record.indexOid) + " of " + OidText(record.entryOid) +
                   " stated twice";
          return false;
        }
        made.emplace(record.handle, row);
        madeRows.insert(row);
        break;
      }
      case RecordType::Enable:
      case RecordType::Remove:
      case RecordType::Value:
        if (!live(record.handle)) {
          *error = "no instance with handle " + std::to_string(record.handle);
          return false;
        }
        if (record.type == RecordType::Remove) {
          auto it = made.find(record.handle);
          if (it != made.end()) {
            madeRows.erase(it->second);
            made.erase(it);
          } else {
            const Instance& instance = instances_.at(record.handle);
            goneRows.emplace(entries_[instance.entryHandle - 1].oid, instance.index);
          }
          gone.insert(record.handle);
        }
        break;
      default:
        if (!Check(record, error)) return false;
    }
  }
  return true;
}

void AgentCore::Apply(const StateRecord& record) {
  switch (record.type) {
    case RecordType::Module: return;
    case RecordType::Client: resident_.push_back(record.client); return;
    case RecordType::Instance: {
      uint32_t entryHandle = EntryHandleOf(record.entryOid);
      EntryDef* entry = entryHandle ? &entries_[entryHandle - 1] : nullptr;
      if (!entry) {
        EntryDef stateOnly;
        stateOnly.handle = static_cast<uint32_t>(entries_.size() + 1);
        stateOnly.oid = record.entryOid;
        stateOnly.name = OidText(record.entryOid);
        entries_.push_back(std::move(stateOnly));
        instancesByIndex_.emplace_back();
        entry = &entries_.back();
        IndexEntry(*entry);
      }
      auto& byIndex = instancesByIndex_[entry->handle - 1];
      byIndex.emplace_hint(PastLast(byIndex, record.indexOid) ? byIndex.end() : byIndex.begin(),
                           record.indexOid, record.handle);
      ++generation_;
      auto it = PastLast(instances_, record.handle)
                    ? instances_.emplace_hint(instances_.end(), record.handle, Instance{})
                    : instances_.try_emplace(record.handle).first;
      // Its values follow: they find it, and their place, without a search.
      lastApplied_ = it;
      lastColumn_ = 0;
      nextClient_ = std::max(nextClient_, record.creator + 1);
      Instance& instance = it->second;
      instance.handle = record.handle;
      instance.entryHandle = entry->handle;
      instance.index = record.indexOid;
      instance.creator = record.creator;
      instance.time = record.time;
      instance.enabledFlags = record.enabledFlags;
      instance.leaves = record.leaves;
      return;
    }
    case RecordType::Enable:
    case RecordType::Remove:
    case RecordType::Value: {
      auto it = FindApplied(record.handle);
      Instance& instance = it->second;
      if (record.type == RecordType::Enable) {
        instance.enabledFlags = record.enabledFlags;
      } else if (record.type == RecordType::Value) {
        bool last = it == lastApplied_;
        CountNotNull(instance, record.column, &record.value);
        if (last && record.column > lastColumn_) {
          instance.values.Append(record.column, record.value);
        } else {
          instance.values.Set(record.column, record.value);
        }
        lastColumn_ = last ? std::max(lastColumn_, record.column) : instance.values.LastColumn();
        lastApplied_ = it;
      } else {
        ++generation_;
        CountNotNull(instance, 0, nullptr);
        DropDataHandles(instance);
        instancesByIndex_[instance.entryHandle - 1].erase(instance.index);
        instances_.erase(it);
        lastApplied_ = instances_.end();
      }
      return;
    }
    case RecordType::Scalar: {
      auto it = scalarByOid_.find(record.scalarOid);
      if (it == scalarByOid_.end()) {
        ScalarDef scalar;
        scalar.oid = record.scalarOid;
        scalar.name = OidText(record.scalarOid);
        scalars_.push_back(std::move(scalar));
        ++generation_;
        it = scalarByOid_.emplace(record.scalarOid, scalars_.size() - 1).first;
      }
      scalars_[it->second].value = record.value;
      scalars_[it->second].stored = true;
      return;
    }
    case RecordType::Group: return;
  }
}

}  // namespace orvu::agent
