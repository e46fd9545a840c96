// The records that restate the whole live state, written when the journal is rewritten.
#include "agent/core/agent_core.h"

namespace orvu::agent {

void AgentCore::Snapshot(const std::function<void(const StateRecord&)>& out) const {
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
  // One record for every instance and one for every value, so that their room is made once.
  StateRecord record, valueRecord;
  valueRecord.type = RecordType::Value;
  for (const auto& [handle, instance] : instances_) {
    record.type = RecordType::Instance;
    record.entryOid = entries_[instance.entryHandle - 1].oid;
    record.indexOid = instance.index;
    record.handle = handle;
    record.creator = instance.creator;
    record.time = instance.time;
    record.enabledFlags = instance.enabledFlags;
    record.leaves = instance.leaves;
    out(record);
    // A structured binding cannot be captured by the fuzz builds' compiler (clang 14).
    uint32_t instanceHandle = handle;
    instance.values.ForEach([&](uint32_t column, const proto::Value& value) {
      valueRecord.handle = instanceHandle;
      valueRecord.column = column;
      valueRecord.value = value;
      out(valueRecord);
    });
  }
  for (const ScalarDef& scalar : scalars_) {
    if (!scalar.stored) continue;
    record = StateRecord{};
    record.type = RecordType::Scalar;
    record.scalarOid = scalar.oid;
    record.value = scalar.value;
    out(record);
  }
}

}  // namespace orvu::agent
