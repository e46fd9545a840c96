#include "agent_core.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <cstdio>
#include <ctime>

#include "agent_errors.h"

namespace orvu::agent {

using proto::Reply;
using proto::Request;
using proto::Value;
using proto::ValueKind;

namespace {

// A row prefetched by GetDataHandle stops growing at this many payload bytes, so that one odd
// huge value does not make every listing step carry it.
constexpr size_t ROW_PREFETCH_BYTES = 64 * 1024;
constexpr size_t COMPACT_AFTER = 1000;

Reply Fail(int32_t code, const std::string& text) {
  Reply r;
  r.status = code;
  r.text = text;
  return r;
}

uint64_t ScalarKey(size_t index) { return static_cast<uint64_t>(index); }
uint64_t ColumnKey(uint32_t instance, uint32_t column) {
  return static_cast<uint64_t>(instance) << 32 | column;
}

std::string ExecutableOf(uint32_t pid) {
  char buffer[PATH_MAX];
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

size_t PayloadSize(const Value& v) { return 16 + v.bytes.size() + 4 * v.ids.size(); }

}  // namespace

int32_t AgentCore::Now() const {
  return options_.clock ? *options_.clock : static_cast<int32_t>(std::time(nullptr));
}

bool AgentCore::Start(const AgentOptions& options, std::string* error) {
  options_ = options;
  if (!journal_.Lock(options.statePath, options.syncEachChange, error)) return false;
  std::vector<StateRecord> records;
  bool existed = false;
  if (!ReadStateFile(options.statePath, &records, &existed, error)) return false;

  for (const StateRecord& r : records) {
    if (r.type == RecordType::Module) modules_.push_back(r.moduleName);
  }
  modules_.insert(modules_.end(), options.modules.begin(), options.modules.end());
  std::vector<std::string> unique;
  for (const std::string& m : modules_) {
    if (std::find(unique.begin(), unique.end(), m) == unique.end()) unique.push_back(m);
  }
  modules_ = unique;

  mib::Registry registry(options.mibPath);
  for (const std::string& name : modules_) {
    mib::LoadError loadError;
    const mib::Module* module = nullptr;
    if (!registry.Load(name, &loadError) || !(module = registry.FindModule(name))) {
      *error = "cannot load module " + name + ": " + loadError.Text();
      return false;
    }
    AddModuleObjects(registry, *module, &entries_, &scalars_);
  }
  rows_.resize(entries_.size());
  for (const EntryDef& e : entries_) IndexEntry(e);
  for (size_t i = 0; i < scalars_.size(); ++i) scalarByOid_.emplace(scalars_[i].oid, i);

  for (const StateRecord& r : records) {
    std::string cause;
    if (!Apply(r, &cause)) {
      *error = "state file " + options.statePath + ": " + cause;
      return false;
    }
  }
  for (const auto& [handle, instance] : instances_) {
    nextInstance_ = std::max(nextInstance_, handle + 1);
    nextClient_ = std::max(nextClient_, instance.creator + 1);
  }
  for (const proto::ClientRecord& c : resident_)
    nextClient_ = std::max(nextClient_, c.clientHandle + 1);
  if (nextInstance_ == 0) nextInstance_ = 1;
  if (nextClient_ == 0) nextClient_ = 1;
  return journal_.Rewrite(Snapshot(), error);
}

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
        for (uint32_t d : i.dataHandles) {
          dataByKey_.erase(keyByData_[d]);
          keyByData_.erase(d);
        }
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

// The change is in the journal before it is applied, and both happen before the reply: a client
// that saw success finds its change after any crash of the agent.
bool AgentCore::Commit(const StateRecord& record, Reply* reply) {
  std::string error;
  if (!journal_.Append(record, &error)) {
    *reply = Fail(AGENT_ERR_STORAGE, "the agent could not store the change: " + error);
    return false;
  }
  Apply(record, &error);
  // Compared with the size of the last rewrite, not with a fresh count, so that a large state
  // does not cost a full pass on every change; the file stays within about twice the live state.
  size_t appended = journal_.AppendedSinceRewrite();
  if (appended > COMPACT_AFTER && appended > journal_.WrittenAtRewrite() &&
      !journal_.Rewrite(Snapshot(), &error)) {
    std::fprintf(stderr, "orvu-agentd: %s\n", error.c_str());
  }
  return true;
}

uint32_t AgentCore::LeafCount(const Instance& instance) const {
  if (instance.leaves) return *instance.leaves;
  const EntryDef& entry = entries_[instance.entryHandle - 1];
  uint32_t count = entry.leafCount;
  if (!instance.values.empty()) count = std::max(count, instance.values.rbegin()->first);
  return count;
}

EntryDef* AgentCore::EntryByHandle(uint32_t handle) {
  return handle >= 1 && handle <= entries_.size() ? &entries_[handle - 1] : nullptr;
}

EntryDef* AgentCore::EntryByOid(const Oid& oid) {
  auto it = entryByOid_.find(oid);
  return it == entryByOid_.end() ? nullptr : &entries_[it->second - 1];
}

void AgentCore::IndexEntry(const EntryDef& entry) {
  // Two modules may define the same entry; the first one loaded serves it.
  entryByOid_.emplace(entry.oid, entry.handle);
  longestEntry_ = std::max(longestEntry_, entry.oid.size());
}

Instance* AgentCore::InstanceOf(uint32_t entryHandle, uint32_t instanceHandle, Reply* reply) {
  if (!EntryByHandle(entryHandle)) {
    *reply = Fail(AGENT_ERR_NO_SUCH_ENTRY,
                  "no such table entry (handle " + std::to_string(entryHandle) + ")");
    return nullptr;
  }
  auto it = instances_.find(instanceHandle);
  if (it == instances_.end() || it->second.entryHandle != entryHandle) {
    *reply = Fail(AGENT_ERR_NO_SUCH_INSTANCE,
                  "no such instance (handle " + std::to_string(instanceHandle) + ")");
    return nullptr;
  }
  return &it->second;
}

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

uint32_t AgentCore::DataHandle(uint64_t key) {
  auto it = dataByKey_.find(key);
  if (it != dataByKey_.end()) return it->second;
  uint32_t handle = nextData_++;
  if (nextData_ == 0) nextData_ = 1;
  dataByKey_[key] = handle;
  keyByData_[handle] = key;
  uint32_t instance = static_cast<uint32_t>(key >> 32);
  if (instance) instances_[instance].dataHandles.push_back(handle);
  return handle;
}

bool AgentCore::ReadItem(uint64_t key, proto::DataItem* item) {
  uint32_t instanceHandle = static_cast<uint32_t>(key >> 32);
  uint32_t low = static_cast<uint32_t>(key);
  if (instanceHandle == 0) {
    if (low >= scalars_.size()) return false;
    const ScalarDef& s = scalars_[low];
    item->oid = s.oid;
    item->oid.push_back(0);
    item->value = s.value;
  } else {
    auto it = instances_.find(instanceHandle);
    if (it == instances_.end()) return false;
    const Instance& i = it->second;
    const EntryDef& e = entries_[i.entryHandle - 1];
    if (!ColumnExists(e, i, low)) return false;
    item->oid = e.oid;
    item->oid.push_back(low);
    item->oid.insert(item->oid.end(), i.index.begin(), i.index.end());
    item->value = ColumnValue(e, i, low);
  }
  item->dataHandle = DataHandle(key);
  return true;
}

Reply AgentCore::Handle(ClientContext* client, const Request& q) {
  if (q.op == proto::Op::Register) return Register(client, q);
  if (client->clientHandle == 0) return Fail(AGENT_ERR_NOT_REGISTERED, "client not registered");
  Reply reply;
  switch (q.op) {
    case proto::Op::Register: break;
    case proto::Op::EnumModules:
      for (size_t i = 0; i < modules_.size(); ++i) {
        reply.modules.push_back({modules_[i], static_cast<uint32_t>(i + 1)});
      }
      break;
    case proto::Op::EnumClients:
      reply.clients = resident_;
      for (const auto& [handle, c] : clients_) reply.clients.push_back(c);
      break;
    case proto::Op::FindEntry: {
      EntryDef* e = EntryByOid(q.oid);
      if (!e) return Fail(AGENT_ERR_NO_SUCH_ENTRY, "no such table entry: " + OidText(q.oid));
      reply.handle = e->handle;
      break;
    }
    case proto::Op::EnumInstances: return EnumInstances(q);
    case proto::Op::FindInstance: {
      if (!EntryByHandle(q.entryHandle)) {
        return Fail(AGENT_ERR_NO_SUCH_ENTRY,
                    "no such table entry (handle " + std::to_string(q.entryHandle) + ")");
      }
      auto it = rows_[q.entryHandle - 1].find(q.index);
      if (it == rows_[q.entryHandle - 1].end()) {
        return Fail(AGENT_ERR_NO_SUCH_INSTANCE, "no such instance: " + OidText(q.index));
      }
      reply.handle = it->second;
      break;
    }
    case proto::Op::CreateInstance: return Create(*client, q);
    case proto::Op::EnableInstance: return ChangeInstance(q, RecordType::Enable);
    case proto::Op::RemoveInstance: return ChangeInstance(q, RecordType::Remove);
    case proto::Op::GetDataHandle: return GetDataHandle(q);
    case proto::Op::GetData: return GetData(q);
    case proto::Op::SetData: return SetData(q);
    case proto::Op::Unregister:
      Disconnect(*client);
      client->clientHandle = 0;
      break;
  }
  return reply;
}

Reply AgentCore::Register(ClientContext* client, const Request& q) {
  if (client->clientHandle != 0) return Fail(AGENT_ERR_BAD_REQUEST, "client already registered");
  if (q.version != proto::PROTO_VERSION) {
    return Fail(AGENT_ERR_BAD_REQUEST, "unsupported protocol version " + std::to_string(q.version));
  }
  uint32_t h = nextClient_++;
  if (nextClient_ == 0) nextClient_ = 1;
  proto::ClientRecord c;
  c.clientHandle = h;
  c.clientId = 1000 + h;
  c.processHandle = 2000 + h;
  c.processId = client->processId;
  c.threadHandle = 3000 + h;
  c.threadId = q.threadId;
  c.registrationTime = Now();
  c.flags = 1;
  c.name = q.clientName;
  c.fileName = ExecutableOf(client->processId);
  clients_[h] = std::move(c);
  client->clientHandle = h;
  Reply reply;
  reply.handle = h;
  return reply;
}

void AgentCore::Disconnect(const ClientContext& client) {
  if (client.clientHandle) clients_.erase(client.clientHandle);
}

Reply AgentCore::EnumInstances(const Request& q) {
  EntryDef* e = EntryByHandle(q.entryHandle);
  if (!e) {
    return Fail(AGENT_ERR_NO_SUCH_ENTRY,
                "no such table entry (handle " + std::to_string(q.entryHandle) + ")");
  }
  Reply reply;
  for (const auto& [index, handle] : rows_[e->handle - 1]) {
    const Instance& i = instances_.at(handle);
    proto::InstanceRecord r;
    r.instanceHandle = handle;
    r.clientHandle = i.creator;
    r.creationTime = i.time;
    r.flags = i.enabledFlags.value_or(0);
    r.leafCount = LeafCount(i);
    r.entryOid = e->oid;
    r.indexOid = index;
    reply.instances.push_back(std::move(r));
  }
  return reply;
}

Reply AgentCore::Create(const ClientContext& client, const Request& q) {
  EntryDef* e = EntryByOid(q.oid);
  if (!e) return Fail(AGENT_ERR_NO_SUCH_ENTRY, "no such table entry: " + OidText(q.oid));
  if (q.index.empty()) return Fail(AGENT_ERR_BAD_INSTANCE, "bad instance OID: it is empty");
  if (rows_[e->handle - 1].count(q.index)) {
    return Fail(AGENT_ERR_INSTANCE_EXISTS, "instance already exists: " + OidText(q.index));
  }
  // Handles wrap after four billion creations; a handle still in use is never given twice.
  while (nextInstance_ == 0 || instances_.count(nextInstance_)) ++nextInstance_;
  StateRecord r;
  r.type = RecordType::Instance;
  r.entryOid = e->oid;
  r.oid = q.index;
  r.handle = nextInstance_;
  r.creator = client.clientHandle;
  r.time = Now();
  Reply reply;
  if (!Commit(r, &reply)) return reply;
  ++nextInstance_;
  reply.handle = e->handle;
  reply.handle2 = r.handle;
  return reply;
}

Reply AgentCore::ChangeInstance(const Request& q, RecordType type) {
  Reply reply;
  Instance* i = InstanceOf(q.entryHandle, q.instanceHandle, &reply);
  if (!i) return reply;
  StateRecord r;
  r.type = type;
  r.handle = i->handle;
  if (type == RecordType::Enable) r.enabledFlags = q.flags;
  Commit(r, &reply);
  return reply;
}

Reply AgentCore::GetDataHandle(const Request& q) {
  const Oid& o = q.oid;
  auto scalar = scalarByOid_.find(o);
  if (scalar == scalarByOid_.end() && !o.empty() && o.back() == 0) {
    scalar = scalarByOid_.find(Oid(o.begin(), o.end() - 1));
  }
  Reply reply;
  if (scalar != scalarByOid_.end()) {
    proto::DataItem item;
    ReadItem(ScalarKey(scalar->second), &item);
    reply.items.push_back(std::move(item));
    return reply;
  }
  // The longest entry OID that leaves room for a column and an index.
  EntryDef* entry = nullptr;
  for (size_t length = std::min(longestEntry_, o.size() >= 2 ? o.size() - 2 : 0);
       length > 0 && !entry; --length) {
    entry = EntryByOid(Oid(o.begin(), o.begin() + static_cast<long>(length)));
  }
  if (!entry) return Fail(AGENT_ERR_NO_SUCH_OBJECT, "no such object: " + OidText(o));
  uint32_t column = o[entry->oid.size()];
  Oid index(o.begin() + static_cast<long>(entry->oid.size()) + 1, o.end());
  auto row = rows_[entry->handle - 1].find(index);
  if (row == rows_[entry->handle - 1].end()) {
    return Fail(AGENT_ERR_NO_SUCH_INSTANCE,
                "no such instance: " + OidText(index) + " of " +
                    (entry->name.empty() ? OidText(entry->oid) : entry->name));
  }
  uint32_t instanceHandle = row->second;
  const Instance& instance = instances_.at(instanceHandle);
  if (!ColumnExists(*entry, instance, column)) {
    return Fail(AGENT_ERR_NO_SUCH_OBJECT, "no such object: " + OidText(o));
  }
  proto::DataItem first;
  ReadItem(ColumnKey(instanceHandle, column), &first);
  size_t bytes = PayloadSize(first.value);
  reply.items.push_back(std::move(first));
  // The rest of the row travels along: a listing reads the leaves of one instance in turn.
  std::vector<uint32_t> columns;
  for (const auto& [number, def] : entry->columns) columns.push_back(number);
  for (const auto& [number, value] : instance.values) columns.push_back(number);
  std::sort(columns.begin(), columns.end());
  columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
  for (uint32_t c : columns) {
    if (c == column) continue;
    proto::DataItem item;
    if (!ReadItem(ColumnKey(instanceHandle, c), &item)) continue;
    if (bytes + PayloadSize(item.value) > ROW_PREFETCH_BYTES) continue;
    bytes += PayloadSize(item.value);
    reply.items.push_back(std::move(item));
  }
  return reply;
}

Reply AgentCore::GetData(const Request& q) {
  auto it = keyByData_.find(q.dataHandle);
  proto::DataItem item;
  if (it == keyByData_.end() || !ReadItem(it->second, &item)) {
    return Fail(AGENT_ERR_NO_SUCH_DATA, "no such data handle: " + std::to_string(q.dataHandle));
  }
  Reply reply;
  reply.items.push_back(std::move(item));
  return reply;
}

Reply AgentCore::SetData(const Request& q) {
  auto it = keyByData_.find(q.dataHandle);
  proto::DataItem item;
  if (it == keyByData_.end() || !ReadItem(it->second, &item)) {
    return Fail(AGENT_ERR_NO_SUCH_DATA, "no such data handle: " + std::to_string(q.dataHandle));
  }
  uint64_t key = it->second;
  uint32_t instanceHandle = static_cast<uint32_t>(key >> 32);
  uint32_t low = static_cast<uint32_t>(key);
  uint32_t syntax = 0;
  bool writable = true;
  std::string name = OidText(item.oid);
  if (instanceHandle == 0) {
    const ScalarDef& s = scalars_[low];
    syntax = s.syntax;
    writable = s.writable;
    if (s.fromMib) name = s.name;
  } else {
    const EntryDef& e = entries_[instances_.at(instanceHandle).entryHandle - 1];
    auto def = e.columns.find(low);
    if (def != e.columns.end()) {
      syntax = def->second.syntax;
      writable = def->second.writable;
      name = def->second.name + "." + OidText(instances_.at(instanceHandle).index);
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
  if (instanceHandle == 0) {
    r.type = RecordType::Scalar;
    r.oid = scalars_[low].oid;
  } else {
    r.type = RecordType::Value;
    r.handle = instanceHandle;
    r.column = low;
  }
  r.value = q.value;
  Reply reply;
  Commit(r, &reply);
  return reply;
}

}  // namespace orvu::agent
