// The records that restate the whole live state, written when the journal is rewritten: whole,
// or a part at a time between requests.
#include "agent/core/agent_core.h"

namespace orvu::agent {

void AgentCore::Snapshot(const std::function<void(const StateRecord&)>& out) const {
  SnapshotHead(out);
  SnapshotRows(0, SIZE_MAX, out);
  SnapshotTail(out);
}

void AgentCore::SnapshotHead(const std::function<void(const StateRecord&)>& out) const {
  for (const std::string& m : modules_) {
    StateRecord record;
    record.type = RecordType::Module;
    record.moduleName = m;
    out(record);
  }
  for (const proto::ClientRecord& client : resident_) {
    StateRecord record;
    record.type = RecordType::Client;
    record.client = client;
    out(record);
  }
}

std::optional<uint32_t> AgentCore::SnapshotRows(uint32_t from, size_t records,
                                                const std::function<void(const StateRecord&)>& out,
                                                const std::set<uint32_t>* skip) const {
  // One record for every instance and one for every value, so that their room is made once.
  StateRecord record, valueRecord;
  record.type = RecordType::Instance;
  valueRecord.type = RecordType::Value;
  size_t written = 0;
  for (auto it = instances_.lower_bound(from); it != instances_.end(); ++it) {
    if (written >= records) return it->first;
    if (skip && !skip->empty() && skip->count(it->first)) continue;
    const Instance& instance = it->second;
    record.entryOid = entries_[instance.entryHandle - 1].oid;
    record.indexOid = instance.index;
    record.handle = it->first;
    record.creator = instance.creator;
    record.time = instance.time;
    record.enabledFlags = instance.enabledFlags;
    record.leaves = instance.leaves;
    out(record);
    ++written;
    valueRecord.handle = it->first;
    instance.values.ForEach([&](uint32_t column, const proto::Value& value) {
      valueRecord.column = column;
      valueRecord.value = value;
      out(valueRecord);
      ++written;
    });
  }
  return std::nullopt;
}

void AgentCore::SnapshotTail(const std::function<void(const StateRecord&)>& out) const {
  for (const ScalarDef& scalar : scalars_) {
    if (!scalar.stored) continue;
    StateRecord record;
    record.type = RecordType::Scalar;
    record.scalarOid = scalar.oid;
    record.value = scalar.value;
    out(record);
  }
}

}  // namespace orvu::agent
