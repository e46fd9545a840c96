// The records that restate the whole live state, written when the journal is rewritten.
#include "agent_core.h"

namespace orvu::agent {

std::vector<StateRecord> AgentCore::Snapshot() const {
  std::vector<StateRecord> out;
  for (const std::string& m : modules_) {
    StateRecord r;
    r.type = RecordType::Module;
    r.moduleName = m;
    out.push_back(std::move(r));
  }
  for (const proto::ClientRecord& c : resident_) {
    StateRecord r;
    r.type = RecordType::Client;
    r.client = c;
    out.push_back(std::move(r));
  }
  for (const auto& [handle, i] : instances_) {
    StateRecord r;
    r.type = RecordType::Instance;
    r.entryOid = entries_[i.entryHandle - 1].oid;
    r.oid = i.index;
    r.handle = handle;
    r.creator = i.creator;
    r.time = i.time;
    r.enabledFlags = i.enabledFlags;
    r.leaves = i.leaves;
    out.push_back(std::move(r));
    for (const auto& [column, value] : i.values) {
      StateRecord v;
      v.type = RecordType::Value;
      v.handle = handle;
      v.column = column;
      v.value = value;
      out.push_back(std::move(v));
    }
  }
  for (const ScalarDef& s : scalars_) {
    if (!s.stored) continue;
    StateRecord r;
    r.type = RecordType::Scalar;
    r.oid = s.oid;
    r.value = s.value;
    out.push_back(std::move(r));
  }
  return out;
}

}  // namespace orvu::agent
