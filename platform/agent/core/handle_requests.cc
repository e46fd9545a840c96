// The answer to each request: dispatch by operation and the handlers for clients, entries and
// instances. Data handles are in handle_data.cc, the row prefetch in handle_prefetch.cc.
#include <unistd.h>

#include <algorithm>
#include <climits>

#include "agent/core/agent_core.h"
#include "agent/core/agent_reply.h"
#include "agent/snmp/instance_index.h"

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

Reply AgentCore::Handle(ClientContext* client, const Request& request) {
  // Whose share a change or a listing counts against, for as long as this request is handled.
  struct Serving {
    const ClientContext** slot;
    ~Serving() { *slot = nullptr; }
  } serving{&serving_};
  serving_ = client;
  if (request.op == proto::Op::Register) return Register(client, request);
  if (client->clientHandle == 0) return Fail(AGENT_ERR_NOT_REGISTERED, "client not registered");
  Reply reply;
  switch (request.op) {
    case proto::Op::Register: break;
    case proto::Op::Challenge: return Fail(AGENT_ERR_BAD_REQUEST, "no challenge is expected here");
    case proto::Op::EnumModules:
      for (size_t i = 0; i < modules_.size(); ++i) {
        reply.modules.push_back({modules_[i], static_cast<uint32_t>(i + 1)});
      }
      break;
    case proto::Op::EnumClients:
      reply.clients = resident_;
      for (const auto& [handle, connected] : clients_) reply.clients.push_back(connected);
      break;
    case proto::Op::FindEntry: {
      EntryDef* entry = EntryByOid(request.oid);
      if (!entry)
        return Fail(AGENT_ERR_NO_SUCH_ENTRY, "no such table entry: " + OidText(request.oid));
      reply.handle = entry->handle;
      break;
    }
    case proto::Op::EnumInstances: return EnumInstances(*client, request);
    case proto::Op::FindInstance: {
      if (!EntryByHandle(request.entryHandle)) {
        return NoSuchEntryHandle(request.entryHandle);
      }
      auto it = instancesByIndex_[request.entryHandle - 1].find(request.index);
      if (it == instancesByIndex_[request.entryHandle - 1].end()) {
        return Fail(AGENT_ERR_NO_SUCH_INSTANCE, "no such instance: " + OidText(request.index));
      }
      reply.handle = it->second;
      break;
    }
    case proto::Op::CreateInstance: return Create(*client, request);
    case proto::Op::EnableInstance: return ChangeInstance(request, RecordType::Enable);
    case proto::Op::RemoveInstance: return ChangeInstance(request, RecordType::Remove);
    case proto::Op::GetDataHandle: return GetDataHandle(request);
    case proto::Op::GetData: return GetData(request);
    case proto::Op::ReadRows: return ReadRows(request);
    case proto::Op::SetData: return SetData(request);
    case proto::Op::ApplyChanges: return ApplyChanges(*client, request);
    case proto::Op::Notify: {
      std::string why;
      if (!Notify(request.notification, request.index, &why))
        return Fail(AGENT_ERR_NO_SUCH_OBJECT, why);
      break;
    }
    case proto::Op::Unregister:
      client->droppedSnapshot = Disconnect(*client);
      client->clientHandle = 0;
      break;
  }
  return reply;
}

Reply AgentCore::Register(ClientContext* client, const Request& request) {
  if (client->clientHandle != 0) return Fail(AGENT_ERR_BAD_REQUEST, "client already registered");
  if (request.version != proto::PROTO_VERSION) {
    return Fail(AGENT_ERR_BAD_REQUEST,
                "unsupported protocol version " + std::to_string(request.version));
  }
  uint32_t handle = nextClient_++;
  if (nextClient_ == 0) nextClient_ = 1;
  proto::ClientRecord record;
  record.clientHandle = handle;
  record.clientId = 1000 + handle;
  record.processHandle = 2000 + handle;
  record.processId = client->selfReported ? request.processId : client->processId;
  record.threadHandle = 3000 + handle;
  record.threadId = request.threadId;
  record.registrationTime = Now();
  record.flags = 1;
  record.name = request.clientName;
  record.fileName = client->selfReported ? request.fileName.substr(0, proto::PROTO_MAX_NAME)
                                         : ExecutableOf(client->processId);
  clients_[handle] = std::move(record);
  client->clientHandle = handle;
  Reply reply;
  reply.handle = handle;
  return reply;
}

bool AgentCore::Disconnect(const ClientContext& client) {
  if (!client.clientHandle) return false;
  clients_.erase(client.clientHandle);
  auto listing = listings_.find(client.clientHandle);
  if (listing == listings_.end()) return false;
  snapshotBytes_ -= listing->second.bytes;
  listings_.erase(listing);
  return true;
}

// The index-0 call takes the snapshot: a compact copy of every record, kept for this client
// until it takes another or goes away, so that a long listing holds one page at a time in the
// client and every page costs the same however far into the list it lies.
Reply AgentCore::EnumInstances(const ClientContext& client, const Request& request) {
  EntryDef* entry = EntryByHandle(request.entryHandle);
  if (!entry) {
    return NoSuchEntryHandle(request.entryHandle);
  }
  auto held = listings_.find(client.clientHandle);
  if ((request.flags & proto::PROTO_ENUM_FRESH) || held == listings_.end() ||
      held->second.entryHandle != entry->handle) {
    const auto& byIndex = instancesByIndex_[entry->handle - 1];
    size_t indexIds = 0;
    for (const auto& [index, handle] : byIndex) indexIds += index.size();
    size_t bytes = byIndex.size() * sizeof(ListedInstance) + indexIds * sizeof(uint32_t);
    std::string refusal = ListingRefusal(client, bytes);
    if (!refusal.empty()) return Fail(AGENT_ERR_REFUSED, refusal);
    InstanceListing& listing = listings_[client.clientHandle];
    snapshotBytes_ -= listing.bytes;
    listing = InstanceListing{};
    listing.entryHandle = entry->handle;
    listing.bytes = bytes;
    listing.userId = client.userId;
    listing.member = client.member;
    snapshotBytes_ += bytes;
    // Sized once: a vector doubling its way to a million records would hold twice that at its peak.
    listing.records.reserve(byIndex.size());
    listing.indexIds.reserve(indexIds);
    for (const auto& [index, handle] : byIndex) {
      const Instance& instance = instances_.at(handle);
      listing.records.push_back({handle, instance.creator, instance.time,
                                 instance.enabledFlags.value_or(0), LeafCount(instance),
                                 static_cast<uint32_t>(listing.indexIds.size()),
                                 static_cast<uint32_t>(index.size())});
      listing.indexIds.insert(listing.indexIds.end(), index.begin(), index.end());
    }
    listing.records.shrink_to_fit();
    listing.indexIds.shrink_to_fit();
  }
  const InstanceListing& listing = listings_.at(client.clientHandle);
  Reply reply;
  reply.handle = static_cast<uint32_t>(listing.records.size());
  size_t first = std::min<size_t>(request.position, listing.records.size());
  size_t last = first + std::min(request.count, proto::PROTO_PAGE_RECORDS);
  for (size_t n = first; n < std::min(last, listing.records.size()); ++n) {
    const ListedInstance& listed = listing.records[n];
    proto::InstanceRecord& record = reply.instances.emplace_back();
    record.instanceHandle = listed.handle;
    record.clientHandle = listed.creator;
    record.creationTime = listed.time;
    record.flags = listed.flags;
    record.leafCount = listed.leafCount;
    record.entryOid = entry->oid;
    record.indexOid.assign(listing.indexIds.begin() + listed.indexStart,
                           listing.indexIds.begin() + listed.indexStart + listed.indexCount);
  }
  return reply;
}

Reply AgentCore::Create(const ClientContext& client, const Request& request) {
  EntryDef* entry = EntryByOid(request.oid);
  if (!entry) return Fail(AGENT_ERR_NO_SUCH_ENTRY, "no such table entry: " + OidText(request.oid));
  if (request.index.empty()) return Fail(AGENT_ERR_BAD_INSTANCE, "bad instance OID: it is empty");
  // A row of an entry that AUGMENTS another (or is augmented) is a row of all of them.
  std::vector<uint32_t> family = RowFamily(entry->handle);
  for (uint32_t member : family) {
    if (instancesByIndex_[member - 1].count(request.index)) {
      return Fail(AGENT_ERR_INSTANCE_EXISTS, "instance already exists: " + OidText(request.index));
    }
  }
  std::string misfit = IndexMisfit(*entry, request.index);
  if (!misfit.empty()) {
    return Fail(AGENT_ERR_BAD_INSTANCE,
                "bad instance OID " + OidText(request.index) + ": " + misfit);
  }
  // The whole family in one change: a torn write leaves none of its rows.
  std::vector<StateRecord> records;
  uint32_t next = nextInstance_;
  FamilyRowRecords(*entry, request.index, client.clientHandle, {}, &next, &records);
  Reply reply;
  if (!Commit(records, &reply)) return reply;
  nextInstance_ = next;
  reply.handle = entry->handle;
  reply.instanceHandle = records.front().handle;  // the family starts with the entry asked for
  return reply;
}

Reply AgentCore::ChangeInstance(const Request& request, RecordType type) {
  Reply reply;
  Instance* instance = InstanceOf(request.entryHandle, request.instanceHandle, &reply);
  if (!instance) return reply;
  StateRecord record;
  record.type = type;
  record.handle = instance->handle;
  if (type == RecordType::Enable) record.enabledFlags = request.flags;
  std::vector<StateRecord> records{record};
  // The row goes from every entry that shares it, in the same change.
  std::vector<uint32_t> family = RowFamily(instance->entryHandle);
  for (size_t i = 1; i < family.size() && type == RecordType::Remove; ++i) {
    auto shared = instancesByIndex_[family[i] - 1].find(instance->index);
    if (shared == instancesByIndex_[family[i] - 1].end()) continue;
    record.handle = shared->second;
    records.push_back(record);
  }
  Commit(records, &reply);
  return reply;
}

}  // namespace orvu::agent
