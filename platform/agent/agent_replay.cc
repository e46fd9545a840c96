// Replay: how one state record changes the agent's state, whether read from the state file at
// start or just appended to the journal.
#include "agent_core.h"

namespace orvu::agent {

bool AgentCore::Apply(const StateRecord& r, std::string* error) {
  switch (r.type) {
    case RecordType::Module: return true;
    case RecordType::Client: resident_.push_back(r.client); return true;
    case RecordType::Instance: {
      if (instances_.count(r.handle) || r.handle == 0) {
        *error = "instance handle " + std::to_string(r.handle) + " is 0 or used twice";
        return false;
      }
      EntryDef* entry = EntryByOid(r.entryOid);
      if (!entry) {
        EntryDef e;
        e.handle = static_cast<uint32_t>(entries_.size() + 1);
        e.oid = r.entryOid;
        e.name = OidText(r.entryOid);
        entries_.push_back(std::move(e));
        rows_.emplace_back();
        entry = &entries_.back();
        IndexEntry(*entry);
      }
      if (!rows_[entry->handle - 1].emplace(r.oid, r.handle).second) {
        *error = "instance " + OidText(r.oid) + " of " + OidText(r.entryOid) + " stated twice";
        return false;
      }
      Instance& i = instances_[r.handle];
      i.handle = r.handle;
      i.entryHandle = entry->handle;
      i.index = r.oid;
      i.creator = r.creator;
      i.time = r.time;
      i.enabledFlags = r.enabledFlags;
      i.leaves = r.leaves;
      return true;
    }
    case RecordType::Enable:
    case RecordType::Remove:
    case RecordType::Value: {
      auto it = instances_.find(r.handle);
      if (it == instances_.end()) {
        *error = "no instance with handle " + std::to_string(r.handle);
        return false;
      }
      Instance& i = it->second;
      if (r.type == RecordType::Enable) {
        i.enabledFlags = r.enabledFlags;
      } else if (r.type == RecordType::Value) {
        i.values[r.column] = r.value;
      } else {
        DropDataHandles(i);
        rows_[i.entryHandle - 1].erase(i.index);
        instances_.erase(it);
      }
      return true;
    }
    case RecordType::Scalar: {
      auto it = scalarByOid_.find(r.oid);
      if (it == scalarByOid_.end()) {
        ScalarDef s;
        s.oid = r.oid;
        s.name = OidText(r.oid);
        scalars_.push_back(std::move(s));
        it = scalarByOid_.emplace(r.oid, scalars_.size() - 1).first;
      }
      scalars_[it->second].value = r.value;
      scalars_[it->second].stored = true;
      return true;
    }
  }
  return true;
}

}  // namespace orvu::agent
