// Data handles: what each stands for, reading the leaf behind one, and GetData and SetData.
#include "agent_core.h"
#include "agent_reply.h"

namespace orvu::agent {

using proto::Reply;
using proto::Request;
using proto::Value;
using proto::ValueKind;

bool AgentCore::ColumnExists(const EntryDef& entry, const Instance& instance,
                             uint32_t column) const {
  return entry.columns.count(column) != 0 || instance.values.count(column) != 0;
}

Value AgentCore::ColumnValue(const EntryDef& entry, const Instance& instance,
                             uint32_t column) const {
  auto stored = instance.values.find(column);
  if (stored != instance.values.end()) return stored->second;
  const ColumnDef& def = entry.columns.at(column);
  Value v;
  if (def.indexPosition >= 0 && IndexColumnValue(entry, def, instance.index, &v)) return v;
  return def.initial;
}

uint32_t AgentCore::DataHandle(const DataKey& key) {
  auto it = dataByKey_.find(key);
  if (it != dataByKey_.end()) return it->second;
  uint32_t handle = nextData_++;
  if (nextData_ == 0) nextData_ = 1;
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
    const ScalarDef& s = scalars_[key.leaf];
    item->oid = s.oid;
    item->oid.push_back(0);
    item->value = s.value;
  } else {
    auto it = instances_.find(key.instance);
    if (it == instances_.end()) return false;
    const Instance& i = it->second;
    const EntryDef& e = entries_[i.entryHandle - 1];
    if (!ColumnExists(e, i, key.leaf)) return false;
    item->oid = e.oid;
    item->oid.push_back(key.leaf);
    item->oid.insert(item->oid.end(), i.index.begin(), i.index.end());
    item->value = ColumnValue(e, i, key.leaf);
  }
  item->dataHandle = DataHandle(key);
  return true;
}

bool AgentCore::ReadHandle(uint32_t dataHandle, DataKey* key, proto::DataItem* item, Reply* reply) {
  auto it = keyByData_.find(dataHandle);
  if (it == keyByData_.end() || !ReadItem(it->second, item)) {
    *reply = Fail(AGENT_ERR_NO_SUCH_DATA, "no such data handle: " + std::to_string(dataHandle));
    return false;
  }
  *key = it->second;
  return true;
}

Reply AgentCore::GetData(const Request& q) {
  DataKey key;
  proto::DataItem item;
  Reply reply;
  if (!ReadHandle(q.dataHandle, &key, &item, &reply)) return reply;
  reply.items.push_back(std::move(item));
  return reply;
}

Reply AgentCore::SetData(const Request& q) {
  DataKey key;
  proto::DataItem item;
  Reply failure;
  if (!ReadHandle(q.dataHandle, &key, &item, &failure)) return failure;
  uint32_t syntax = 0;
  bool writable = true;
  std::string name = OidText(item.oid);
  if (key.IsScalar()) {
    const ScalarDef& s = scalars_[key.leaf];
    syntax = s.syntax;
    writable = s.writable;
    if (s.fromMib) name = s.name;
  } else {
    const EntryDef& e = entries_[instances_.at(key.instance).entryHandle - 1];
    auto def = e.columns.find(key.leaf);
    if (def != e.columns.end()) {
      syntax = def->second.syntax;
      writable = def->second.writable;
      name = def->second.name + "." + OidText(instances_.at(key.instance).index);
    }
  }
  if (!writable) return Fail(AGENT_ERR_READ_ONLY, "object is read-only: " + name);
  bool known = false;
  ValueKind kind = proto::KindOfSyntax(q.value.syntax, &known);
  if ((syntax != 0 && q.value.syntax != syntax) || (known && kind != q.value.kind)) {
    return Fail(AGENT_ERR_WRONG_SYNTAX, "wrong syntax for object " + name + ": it takes syntax " +
                                            std::to_string(syntax) + ", not " +
                                            std::to_string(q.value.syntax));
  }
  if (q.value.syntax == 64 && q.value.bytes.size() != 4) {
    return Fail(AGENT_ERR_WRONG_LENGTH, "wrong length for object " + name +
                                            ": an IP address has 4 bytes, not " +
                                            std::to_string(q.value.bytes.size()));
  }
  StateRecord r;
  if (key.IsScalar()) {
    r.type = RecordType::Scalar;
    r.oid = scalars_[key.leaf].oid;
  } else {
    r.type = RecordType::Value;
    r.handle = key.instance;
    r.column = key.leaf;
  }
  r.value = q.value;
  Reply reply;
  Commit(r, &reply);
  return reply;
}

}  // namespace orvu::agent
