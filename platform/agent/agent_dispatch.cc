// The answer to each request: dispatch by operation and the handlers for clients, entries and
// instances. Data handles are in agent_data.cc, the row prefetch in agent_prefetch.cc.
#include <unistd.h>

#include <climits>

#include "agent_core.h"
#include "agent_reply.h"

namespace orvu::agent {

using proto::Reply;
using proto::Request;

namespace {

std::string ExecutableOf(uint32_t pid) {
  char buffer[PATH_MAX];
  std::string link = "/proc/" + std::to_string(pid) + "/exe";
  ssize_t n = readlink(link.c_str(), buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : std::string();
}

}  // namespace

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
        return NoSuchEntryHandle(q.entryHandle);
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
    return NoSuchEntryHandle(q.entryHandle);
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

}  // namespace orvu::agent
