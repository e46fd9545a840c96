// Data handles: what each stands for, reading the leaf behind one, and GetData and SetData.
#include <algorithm>
#include <cstdint>

#include "agent/core/agent_core.h"
#include "agent/core/agent_reply.h"

namespace orvu::agent {

using proto::Reply;
using proto::Request;
using proto::Value;
using proto::ValueKind;

bool AgentCore::ColumnExists(const EntryDef& entry, const Instance& instance,
                             uint32_t column) const {
  return entry.columns.count(column) != 0 || instance.values.Has(column);
}

Value AgentCore::ColumnValue(const EntryDef& entry, const Instance& instance,
                             uint32_t column) const {
  Value v;
  ColumnValue(entry, instance, column, instance.values.Get(column, &v), &v);
  return v;
}

void AgentCore::ColumnValue(const EntryDef& entry, const Instance& instance, uint32_t column,
                            bool hasStored, Value* v) const {
  if (!hasStored) {
    const ColumnDef& def = entry.columns.at(column);
    if (def.indexPosition < 0 || !IndexColumnValue(entry, def, instance.index, v)) *v = def.initial;
  }
  if (DeviceColumn(entry, instance, column, v)) return;
  // A row is notReady for as long as a required column has no value, whoever made it, and
  // notInService once it has them all until it is activated.
  if (column == entry.statusColumn && v->kind == ValueKind::Number &&
      (v->number == ROW_ACTIVE || v->number == ROW_NOT_IN_SERVICE || v->number == ROW_NOT_READY)) {
    if (!RowComplete(entry, &instance, {})) {
      v->number = ROW_NOT_READY;
    } else if (v->number == ROW_NOT_READY) {
      v->number = ROW_NOT_IN_SERVICE;
    }
  }
}

uint32_t AgentCore::DataHandle(const DataKey& key) {
  if (uint32_t packed = PackedDataHandle(key)) return packed;
  auto it = dataByKey_.find(key);
  if (it != dataByKey_.end()) return it->second;
  uint32_t handle = nextData_++;
  if (nextData_ >= DATA_HANDLE_PACKED) nextData_ = 1;
  dataByKey_[key] = handle;
  keyByData_[handle] = key;
  if (!key.IsScalar()) instances_[key.instance].dataHandles.push_back(handle);
  return handle;
}

void AgentCore::DropDataHandles(const Instance& instance) {
  for (uint32_t handle : instance.dataHandles) {
    auto key = keyByData_.find(handle);
    if (key == keyByData_.end()) continue;
    dataByKey_.erase(key->second);
    keyByData_.erase(key);
  }
}

bool AgentCore::ReadItem(const DataKey& key, proto::DataItem* item) {
  if (key.IsScalar()) {
    if (key.leaf >= scalars_.size()) return false;
    const ScalarDef& scalar = scalars_[key.leaf];
    item->oid = scalar.oid;
    item->oid.push_back(0);
    item->value = scalar.value;
  } else {
    auto it = instances_.find(key.instance);
    if (it == instances_.end()) return false;
    const Instance& instance = it->second;
    const EntryDef& entry = entries_[instance.entryHandle - 1];
    if (!ColumnExists(entry, instance, key.leaf)) return false;
    ReadColumn(entry, instance, key.leaf, item);
    return true;
  }
  item->dataHandle = DataHandle(key);
  return true;
}

void AgentCore::ReadColumn(const EntryDef& entry, const Instance& instance, uint32_t column,
                           proto::DataItem* item) {
  StoredValues::Cursor stored(instance.values);
  while (!stored.AtEnd() && stored.Column() < column) stored.Next();
  bool has = !stored.AtEnd() && stored.Column() == column;
  ReadColumn(entry, instance, column, has ? &stored : nullptr, item);
}

void AgentCore::ReadColumn(const EntryDef& entry, const Instance& instance, uint32_t column,
                           const StoredValues::Cursor* stored, proto::DataItem* item) {
  // entry.column.index, written into the room the item already has where it can.
  size_t entryLength = entry.oid.size();
  item->oid.resize(entryLength + 1 + instance.index.size());
  uint32_t* ids = item->oid.data();
  std::copy(entry.oid.begin(), entry.oid.end(), ids);
  ids[entryLength] = column;
  std::copy(instance.index.begin(), instance.index.end(), ids + entryLength + 1);
  if (stored) stored->Value(&item->value);
  ColumnValue(entry, instance, column, stored != nullptr, &item->value);
  item->dataHandle = DataHandle(DataKey::Column(instance.handle, column));
}

bool AgentCore::KeyOfHandle(uint32_t dataHandle, DataKey* key, Reply* reply) const {
  bool known = UnpackDataHandle(dataHandle, key);
  if (!known) {
    auto it = keyByData_.find(dataHandle);
    if (it != keyByData_.end()) {
      *key = it->second;
      known = true;
    }
  }
  if (known && key->IsScalar()) {
    known = key->leaf < scalars_.size();
  } else if (known) {
    auto it = instances_.find(key->instance);
    known = it != instances_.end() &&
            ColumnExists(entries_[it->second.entryHandle - 1], it->second, key->leaf);
  }
  if (!known) {
    *reply = Fail(AGENT_ERR_NO_SUCH_DATA, "no such data handle: " + std::to_string(dataHandle));
  }
  return known;
}

Reply AgentCore::GetData(const Request& request) {
  DataKey key;
  proto::DataItem item;
  Reply reply;
  if (!KeyOfHandle(request.dataHandle, &key, &reply)) return reply;
  ReadItem(key, &item);
  size_t used = 0;
  reply.items.push_back(std::move(item));
  size_t filled = reply.items.size();
  // The rest of the row comes with the first read: a listing reads the leaves of one instance in
  // turn, while a set, which reads nothing, never carries the row.
  if (!key.IsScalar()) AppendRow(key.instance, key.leaf, SIZE_MAX, &used, &reply.items, &filled);
  reply.items.resize(filled);
  return reply;
}

Reply AgentCore::SetData(const Request& request) {
  DataKey key;
  Reply failure;
  // The value in place is not read: a set costs the same however large the row's values are.
  if (!KeyOfHandle(request.dataHandle, &key, &failure)) return failure;
  std::string why;
  // MIB access clauses bind SNMP managers: the agent's clients are where read-only values come
  // from.
  SnmpOutcome outcome = WriteCheck(key.instance, key.leaf, request.value, false, &why);
  if (outcome != SnmpOutcome::Ok) return Fail(ErrorOfOutcome(outcome), why);
  Reply reply;
  WriteValue(key.instance, key.leaf, request.value, &reply);
  reply.generation = generation_;
  return reply;
}

}  // namespace orvu::agent
