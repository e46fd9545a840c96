// The agent framework library: the twenty operations, each a thin step from the caller's records
// to one request (or to a list or row that an earlier request brought).
#include "orvu/agent_framework.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "common/faults.h"
#include "common/shared_heap.h"
#include "libs/vnoagent/agent_session.h"
#include "libs/vnoagent/last_error.h"
#include "protocol/agent_errors.h"
#include "protocol/transport.h"

namespace {

using orvu::client::AgentSession;
using orvu::client::SetLastError;
namespace proto = orvu::proto;

struct Library {
  std::mutex mutex;
  bool started = false;
  std::map<AgentHandle, std::unique_ptr<AgentSession>> sessions;
  AgentHandle nextHandle = 1;
  // Blocks handed out for values of syntaxes that the library does not know: only these may be
  // freed under such a syntax, whatever else the caller passes.
  std::set<uintptr_t> foreignBlocks;
};

Library& Lib() {
  static Library* library = new Library;
  return *library;
}

// Every operation's fault check hands /CODE to the caller's last error.
#define AGENT_FAULT_POINT(name, type) ORVU_FAULT_POINT(name, type, SetLastError)

bool Fail(int32_t code, const std::string& text = std::string()) {
  SetLastError(code, text);
  return false;
}

// The session of AGENT, or nullptr with the last error set.
AgentSession* SessionOf(AgentHandle agent) {
  Library& lib = Lib();
  if (!lib.started) {
    Fail(orvu::AGENT_ERR_NOT_STARTED);
    return nullptr;
  }
  auto it = lib.sessions.find(agent);
  if (it == lib.sessions.end()) {
    Fail(orvu::AGENT_ERR_BAD_CONNECTION, "no such agent connection: " + std::to_string(agent));
    return nullptr;
  }
  return it->second.get();
}

// The start of every operation on a connection: the fault check, then the library's lock and the
// session of AGENT. BODY(session) runs under the lock; without a session the operation returns 0
// with the last error set.
template <typename Result, typename Body>
Result OnSession(const char* operation, AgentHandle agent, Body body) {
  AGENT_FAULT_POINT(operation, Result);
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mutex);
  AgentSession* session = SessionOf(agent);
  if (!session) return 0;
  return body(session);
}

// Room left in a request for sub-identifiers; anything longer cannot be sent.
constexpr uint32_t MAX_IDS = (proto::PROTO_MAX_REQUEST - 64) / 4;

bool ReadOid(const SnmpOid* oid, std::vector<uint32_t>* out, const char* what) {
  if (!oid || (oid->count > 0 && !oid->ids)) {
    return Fail(orvu::AGENT_ERR_BAD_ARGUMENT, std::string("bad argument: no ") + what + " OID");
  }
  if (oid->count > MAX_IDS) {
    return Fail(orvu::AGENT_ERR_VALUE_TOO_LARGE, std::string(what) + " OID too long");
  }
  out->assign(oid->ids, oid->ids + oid->count);
  return true;
}

// The caller's value in the wire's form, its syntax deciding which fields hold it; no value of more
// than LIMIT bytes is taken.
bool ReadValue(const SnmpValue& value, uint32_t limit, proto::Value* v) {
  v->syntax = value.syntax;
  bool known = false;
  v->kind = proto::KindOfSyntax(value.syntax, &known);
  size_t unit = v->kind == proto::ValueKind::Oid ? 4 : 1;
  if (v->kind == proto::ValueKind::Bytes || v->kind == proto::ValueKind::Oid) {
    if (value.number > 0 && !value.data)
      return Fail(orvu::AGENT_ERR_BAD_ARGUMENT, "bad argument: value without data");
    if (value.number > (limit - 64) / unit) return Fail(orvu::AGENT_ERR_VALUE_TOO_LARGE);
    const char* data = reinterpret_cast<const char*>(value.data);
    if (v->kind == proto::ValueKind::Bytes) {
      v->bytes.assign(data, data + value.number);
    } else {
      const uint32_t* ids = reinterpret_cast<const uint32_t*>(value.data);
      v->ids.assign(ids, ids + value.number);
    }
  } else {
    v->number = value.number;
    if (v->kind == proto::ValueKind::Pair) v->second = static_cast<uint32_t>(value.data);
  }
  return true;
}

void CopyText(char* field, size_t width, const std::string& text) {
  std::memset(field, 0, width);
  std::memcpy(field, text.data(), std::min(text.size(), width - 1));
}

// The record's count is the true count; at most the array's room is copied.
void CopyIds(uint32_t* count, uint32_t* ids, const std::vector<uint32_t>& from) {
  *count = static_cast<uint32_t>(from.size());
  std::memset(ids, 0, ORVU_INSTANCE_OID_MAX * sizeof(uint32_t));
  std::copy_n(from.begin(), std::min<size_t>(from.size(), ORVU_INSTANCE_OID_MAX), ids);
}

void* CopyBlock(const void* data, size_t size) {
  void* block = orvu::SharedAlloc(size);
  if (block) std::memcpy(block, data, size);
  return block;
}

bool FillResult(const proto::DataItem& item, SnmpOid* oid, SnmpValue* value) {
  Library& lib = Lib();
  uint32_t* ids = nullptr;
  if (!item.oid.empty()) {
    ids = static_cast<uint32_t*>(CopyBlock(item.oid.data(), item.oid.size() * sizeof(uint32_t)));
    if (!ids) return Fail(orvu::AGENT_ERR_OUT_OF_MEMORY);
  }
  const proto::Value& v = item.value;
  uint32_t number = v.number;
  uintptr_t data = 0;
  // A known syntax decides the form: a block only where the syntax has one, so that the caller's
  // release rule for that syntax gives back all it got, and a second half never stands where an
  // address is read. A syntax the caller cannot know gets the value as it stands.
  bool known = false;
  proto::ValueKind syntaxKind = proto::KindOfSyntax(v.syntax, &known);
  bool syntaxHasBlock =
      syntaxKind == proto::ValueKind::Bytes || syntaxKind == proto::ValueKind::Oid;
  bool blockAllowed = !known || syntaxHasBlock;
  switch (v.kind) {
    case proto::ValueKind::Number: break;
    case proto::ValueKind::Pair:
      if (!(known && syntaxHasBlock)) data = v.second;
      break;
    case proto::ValueKind::Bytes:
      number = static_cast<uint32_t>(v.bytes.size());
      // An OID's count is in sub-identifiers: only whole ones of the bytes are counted.
      if (known && syntaxKind == proto::ValueKind::Oid) number /= sizeof(uint32_t);
      if (!v.bytes.empty() && blockAllowed) {
        data = reinterpret_cast<uintptr_t>(CopyBlock(v.bytes.data(), v.bytes.size()));
      }
      break;
    case proto::ValueKind::Oid:
      number = static_cast<uint32_t>(v.ids.size());
      if (!v.ids.empty() && blockAllowed) {
        data =
            reinterpret_cast<uintptr_t>(CopyBlock(v.ids.data(), v.ids.size() * sizeof(uint32_t)));
      }
      break;
  }
  bool hasBlock = v.kind == proto::ValueKind::Bytes || v.kind == proto::ValueKind::Oid;
  if (hasBlock && blockAllowed && number && !data) {
    orvu::SharedFree(ids);
    return Fail(orvu::AGENT_ERR_OUT_OF_MEMORY);
  }
  if (!known && hasBlock && data) lib.foreignBlocks.insert(data);
  oid->count = static_cast<uint32_t>(item.oid.size());
  oid->ids = ids;
  value->syntax = v.syntax;
  value->number = number;
  value->data = data;
  return true;
}

bool RecordSizeIs(uint32_t size, uint32_t expected) {
  if (size == expected) return true;
  return Fail(orvu::AGENT_ERR_RECORD_SIZE, "wrong record size " + std::to_string(size) +
                                               ", expected " + std::to_string(expected));
}

// The one body of the three enumerations: index 0 takes a fresh list from the agent and only
// that; a later index reads the list taken (taking one first when there is none) from 1 on, and
// FILL copies the record out.
template <typename Record, typename Fill>
int Enumerate(const char* operation, AgentHandle agent, proto::Op op, uint32_t index,
              std::vector<Record> proto::Reply::*list, Fill fill) {
  return OnSession<int>(operation, agent, [&](AgentSession* session) -> int {
    const proto::Reply* listing = session->Listing(op, index == 0);
    if (!listing) return 0;
    if (index == 0) return 1;
    const std::vector<Record>& records = listing->*list;
    if (index > records.size()) return Fail(orvu::AGENT_ERR_NO_MORE_ENTRIES);
    return fill(records[index - 1]) ? 1 : 0;
  });
}

int ChangeInstance(const char* operation, AgentHandle agent, proto::Op op, uint32_t entryHandle,
                   uint32_t instanceHandle, uint32_t flags) {
  return OnSession<int>(operation, agent, [&](AgentSession* session) -> int {
    proto::Request request;
    request.op = op;
    request.entryHandle = entryHandle;
    request.instanceHandle = instanceHandle;
    request.flags = flags;
    proto::Reply reply;
    return session->Call(request, &reply) ? 1 : 0;
  });
}

}  // namespace

extern "C" {

ORVU_EXPORT int ORVU_CALL AgentFrameworkInit(void) {
  AGENT_FAULT_POINT("AgentFrameworkInit", int);
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mutex);
  lib.started = true;
  return 1;
}

ORVU_EXPORT int ORVU_CALL AgentFrameworkCleanup(void) {
  AGENT_FAULT_POINT("AgentFrameworkCleanup", int);
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mutex);
  if (!lib.started) return Fail(orvu::AGENT_ERR_NOT_STARTED);
  lib.sessions.clear();
  lib.nextHandle = 1;
  lib.started = false;
  return 1;
}

ORVU_EXPORT AgentHandle ORVU_CALL AgentConnect(const char* clientName, uint32_t reserved1,
                                               uint32_t reserved2, uint32_t reserved3) {
  AGENT_FAULT_POINT("AgentConnect", AgentHandle);
  (void)reserved2;
  (void)reserved3;
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mutex);
  if (!lib.started) return Fail(orvu::AGENT_ERR_NOT_STARTED);
  auto session = std::make_unique<AgentSession>();
  if (!session->Open(orvu::transport::ClientEndpoint(), clientName ? clientName : "", reserved1)) {
    return 0;
  }
  AgentHandle handle = lib.nextHandle++;
  if (lib.nextHandle == 0) lib.nextHandle = 1;
  lib.sessions[handle] = std::move(session);
  return handle;
}

ORVU_EXPORT int ORVU_CALL AgentDisconnect(AgentHandle agent) {
  return OnSession<int>("AgentDisconnect", agent, [&](AgentSession* session) -> int {
    // The agent drops the client before the reply, so no later list shows it; an agent that is
    // already gone has nothing to drop.
    proto::Request request;
    request.op = proto::Op::Unregister;
    proto::Reply reply;
    session->Call(request, &reply);
    Lib().sessions.erase(agent);
    return 1;
  });
}

ORVU_EXPORT int ORVU_CALL AgentGetVersionInfo(AgentVersionInfo* info) {
  AGENT_FAULT_POINT("AgentGetVersionInfo", int);
  if (!info) return Fail(orvu::AGENT_ERR_BAD_ARGUMENT, "bad argument: no version record");
  if (!RecordSizeIs(info->size, ORVU_VERSION_INFO_SIZE)) return 0;
  info->versionMajor = 1;
  info->versionMinor = 0;
  info->build = 1;
  CopyText(info->specText, sizeof info->specText, "Orvu stand-in agent framework 1.0");
  info->enterpriseNumber = 32473;
  CopyText(info->vendorName, sizeof info->vendorName, "Orvu stand-in platform");
  CopyText(info->vendorOid, sizeof info->vendorOid, "1.3.6.1.4.1.32473");
  CopyText(info->vendorWeb, sizeof info->vendorWeb, "https://www.example.com/orvu");
  CopyText(info->vendorEmail, sizeof info->vendorEmail, "orvu@example.com");
  return 1;
}

ORVU_EXPORT int ORVU_CALL AgentGetLastError(void) {
  AGENT_FAULT_POINT("AgentGetLastError", int);
  return orvu::client::LastErrorCode();
}

ORVU_EXPORT const char* ORVU_CALL AgentErrorText(int code, char* buffer, uint32_t size) {
  orvu::InjectedFault fault;
  std::string text = orvu::CheckFault("AgentErrorText", &fault)
                         ? "injected fault in AgentErrorText (error code " +
                               std::to_string(fault.hasCode ? fault.code : code) + ")"
                         : orvu::client::ErrorTextFor(code);
  if (!buffer || size == 0) return buffer;
  CopyText(buffer, size, text);
  return buffer;
}

ORVU_EXPORT int ORVU_CALL AgentEnumModules(AgentHandle agent, uint32_t index, char* name,
                                           uint32_t nameSize, uint32_t* moduleHandle) {
  return Enumerate("AgentEnumModules", agent, proto::Op::EnumModules, index, &proto::Reply::modules,
                   [&](const proto::ModuleRecord& module) {
                     if (!name || nameSize == 0)
                       return Fail(orvu::AGENT_ERR_BAD_ARGUMENT, "bad argument: no name buffer");
                     CopyText(name, nameSize, module.name);
                     if (moduleHandle) *moduleHandle = module.handle;
                     return true;
                   });
}

ORVU_EXPORT int ORVU_CALL AgentEnumClients(AgentHandle agent, uint32_t index,
                                           AgentClientInfo* info) {
  return Enumerate("AgentEnumClients", agent, proto::Op::EnumClients, index, &proto::Reply::clients,
                   [&](const proto::ClientRecord& client) {
                     if (!info)
                       return Fail(orvu::AGENT_ERR_BAD_ARGUMENT, "bad argument: no client record");
                     if (!RecordSizeIs(info->size, ORVU_CLIENT_INFO_SIZE)) return false;
                     info->clientHandle = client.clientHandle;
                     info->clientId = client.clientId;
                     info->processHandle = client.processHandle;
                     info->processId = client.processId;
                     info->threadHandle = client.threadHandle;
                     info->threadId = client.threadId;
                     info->registrationTime = client.registrationTime;
                     info->flags = client.flags;
                     CopyText(info->name, sizeof info->name, client.name);
                     CopyText(info->fileName, sizeof info->fileName, client.fileName);
                     return true;
                   });
}

ORVU_EXPORT int ORVU_CALL AgentEnumTableInstances(AgentHandle agent, uint32_t index,
                                                  uint32_t entryHandle, TableInstanceInfo* info) {
  return OnSession<int>("AgentEnumTableInstances", agent, [&](AgentSession* session) -> int {
    // Index 0 takes the snapshot; index N reads its record N - 1.
    if (index == 0) return session->TakeSnapshot(entryHandle) ? 1 : 0;
    const proto::InstanceRecord* record = session->Instance(entryHandle, index - 1);
    if (!record) return 0;
    if (!info) return Fail(orvu::AGENT_ERR_BAD_ARGUMENT, "bad argument: no instance record");
    if (!RecordSizeIs(info->size, ORVU_INSTANCE_INFO_SIZE)) return 0;
    info->instanceHandle = record->instanceHandle;
    info->clientHandle = record->clientHandle;
    info->creationTime = record->creationTime;
    info->reserved = record->flags;
    info->leafCount = record->leafCount;
    CopyIds(&info->entryOidCount, info->entryOidIds, record->entryOid);
    CopyIds(&info->indexOidCount, info->indexOidIds, record->indexOid);
    return 1;
  });
}

ORVU_EXPORT uint32_t ORVU_CALL AgentFindTableEntry(AgentHandle agent, const SnmpOid* entry) {
  return OnSession<uint32_t>("AgentFindTableEntry", agent, [&](AgentSession* session) -> uint32_t {
    proto::Request request;
    request.op = proto::Op::FindEntry;
    proto::Reply reply;
    if (!ReadOid(entry, &request.oid, "table entry") || !session->Call(request, &reply)) return 0;
    return reply.handle;
  });
}

ORVU_EXPORT uint32_t ORVU_CALL AgentFindTableInstance(AgentHandle agent, uint32_t entryHandle,
                                                      const SnmpOid* instance) {
  return OnSession<uint32_t>(
      "AgentFindTableInstance", agent, [&](AgentSession* session) -> uint32_t {
        proto::Request request;
        request.op = proto::Op::FindInstance;
        request.entryHandle = entryHandle;
        proto::Reply reply;
        if (!ReadOid(instance, &request.index, "instance") || !session->Call(request, &reply))
          return 0;
        return reply.handle;
      });
}

ORVU_EXPORT uint32_t ORVU_CALL AgentCreateTableEntry(AgentHandle agent, uint32_t reserved1,
                                                     uint32_t reserved2, const SnmpOid* entry,
                                                     const SnmpOid* instance,
                                                     uint32_t* instanceHandle) {
  (void)reserved1;
  (void)reserved2;
  return OnSession<uint32_t>(
      "AgentCreateTableEntry", agent, [&](AgentSession* session) -> uint32_t {
        if (!instanceHandle)
          return Fail(orvu::AGENT_ERR_BAD_ARGUMENT,
                      "bad argument: no place for the instance handle");
        proto::Request request;
        request.op = proto::Op::CreateInstance;
        proto::Reply reply;
        if (!ReadOid(entry, &request.oid, "table entry") ||
            !ReadOid(instance, &request.index, "instance") || !session->Call(request, &reply)) {
          return 0;
        }
        *instanceHandle = reply.instanceHandle;
        return reply.handle;
      });
}

ORVU_EXPORT int ORVU_CALL AgentEnableTableEntry(AgentHandle agent, uint32_t reserved,
                                                uint32_t entryHandle, uint32_t instanceHandle,
                                                uint32_t flags) {
  (void)reserved;
  return ChangeInstance("AgentEnableTableEntry", agent, proto::Op::EnableInstance, entryHandle,
                        instanceHandle, flags);
}

ORVU_EXPORT int ORVU_CALL AgentRemoveTableEntry(AgentHandle agent, uint32_t reserved,
                                                uint32_t entryHandle, uint32_t instanceHandle) {
  (void)reserved;
  return ChangeInstance("AgentRemoveTableEntry", agent, proto::Op::RemoveInstance, entryHandle,
                        instanceHandle, 0);
}

ORVU_EXPORT int ORVU_CALL AgentSendNotification(AgentHandle agent, const char* name,
                                                const SnmpOid* index) {
  return OnSession<int>("AgentSendNotification", agent, [&](AgentSession* session) -> int {
    proto::Request request;
    request.op = proto::Op::Notify;
    if (!name || std::strlen(name) > MAX_IDS)
      return Fail(orvu::AGENT_ERR_BAD_ARGUMENT, "bad argument: no notification name");
    request.notification = name;
    proto::Reply reply;
    if (!ReadOid(index, &request.index, "index") || !session->Call(request, &reply)) return 0;
    return 1;
  });
}

ORVU_EXPORT uint32_t ORVU_CALL AgentGetDataHandle(AgentHandle agent, uint32_t context,
                                                  const SnmpOid* object) {
  return OnSession<uint32_t>("AgentGetDataHandle", agent, [&](AgentSession* session) -> uint32_t {
    // A leaf of a row read ahead is answered from the row, with no copy of the OID.
    if (object && (object->count == 0 || object->ids) && object->count <= MAX_IDS) {
      if (uint32_t held = session->RowHandleFor(object->ids, object->count)) return held;
      // A column of a row that the last handle's reply told of: its handle is known, and any
      // change to the agent's rows since has dropped what was told.
      if (uint32_t known = session->AheadHandleFor(object->ids, object->count)) {
        AgentSession::Answered& answered = session->LastAnswered();
        answered.handle = known;
        answered.context = context;
        answered.oid.assign(object->ids, object->ids + object->count);
        return known;
      }
    }
    proto::Request request;
    request.op = proto::Op::GetDataHandle;
    request.context = context;
    request.count = proto::PROTO_PAGE_RECORDS;
    if (!ReadOid(object, &request.oid, "object")) return 0;
    proto::Reply reply;
    if (!session->Call(request, &reply)) return 0;
    session->KeepAhead(request.oid, reply);
    return reply.handle;
  });
}

ORVU_EXPORT int ORVU_CALL AgentGetData(AgentHandle agent, uint32_t dataHandle, SnmpOid* oid,
                                       SnmpValue* value) {
  return OnSession<int>("AgentGetData", agent, [&](AgentSession* session) -> int {
    if (!oid || !value)
      return Fail(orvu::AGENT_ERR_BAD_ARGUMENT, "bad argument: no OID or value record");
    if (const proto::DataItem* held = session->TakeFromRow(dataHandle)) {
      return FillResult(*held, oid, value) ? 1 : 0;
    }
    proto::Request request;
    request.op = proto::Op::GetData;
    request.dataHandle = dataHandle;
    proto::Reply reply;
    if (!session->Call(request, &reply)) return 0;
    if (reply.items.empty()) return Fail(orvu::AGENT_ERR_CONNECTION_LOST);
    return FillResult(reply.items.front(), oid, value) ? 1 : 0;
  });
}

ORVU_EXPORT int ORVU_CALL AgentSetData(AgentHandle agent, uint32_t context, uint32_t dataHandle,
                                       const SnmpValue* value) {
  return OnSession<int>("AgentSetData", agent, [&](AgentSession* session) -> int {
    if (!value) return Fail(orvu::AGENT_ERR_BAD_ARGUMENT, "bad argument: no value");
    proto::Request request;
    request.op = proto::Op::SetData;
    request.context = context;
    request.dataHandle = dataHandle;
    if (!ReadValue(*value, proto::PROTO_MAX_REQUEST, &request.value)) return 0;
    proto::Reply reply;
    if (session->Call(request, &reply)) return 1;
    // A handle the library answered from rows it was told of, whose row went or came anew since:
    // the OID is looked up again, as if the row had changed just before the handle was asked for.
    // When it names nothing now, the refusal stands, as if the row had gone after it.
    AgentSession::Answered& answered = session->LastAnswered();
    int32_t refusal = orvu::client::LastErrorCode();
    if (refusal != orvu::AGENT_ERR_NO_SUCH_DATA || answered.handle == 0 ||
        answered.handle != dataHandle) {
      return 0;
    }
    answered.handle = 0;
    std::string why = orvu::client::ErrorTextFor(refusal);
    proto::Request lookup;
    lookup.op = proto::Op::GetDataHandle;
    lookup.context = answered.context;
    lookup.oid = answered.oid;
    proto::Reply found;
    if (!session->Call(lookup, &found)) {
      SetLastError(refusal, why);
      return 0;
    }
    request.dataHandle = found.handle;
    return session->Call(request, &reply) ? 1 : 0;
  });
}

// Unlike the operations before it, this one returns 0 for success and the error code otherwise.
ORVU_EXPORT int ORVU_CALL AgentApplyChanges(AgentHandle agent, const AgentChange* changes,
                                            uint32_t count, uint32_t* failedIndex) {
  if (failedIndex) *failedIndex = count;
  AGENT_FAULT_POINT("AgentApplyChanges", int);
  Library& lib = Lib();
  std::lock_guard<std::mutex> lock(lib.mutex);
  AgentSession* session = SessionOf(agent);
  if (!session) return orvu::client::LastErrorCode();
  if (count > 0 && !changes) {
    Fail(orvu::AGENT_ERR_BAD_ARGUMENT, "bad argument: no changes");
    return orvu::client::LastErrorCode();
  }
  proto::Request request;
  request.op = proto::Op::ApplyChanges;
  // Counted as it is read, so that a set too large for the agent is refused before it is copied
  // whole: a change takes at least its kind, two OID counts and a value's syntax, form and number.
  constexpr size_t CHANGE_MIN_BYTES = 4 + 4 + 4 + 4 + 1 + 4;
  size_t bytes = 8;
  request.changes.reserve(
      std::min<size_t>(count, proto::PROTO_MAX_CHANGES_REQUEST / CHANGE_MIN_BYTES));
  for (uint32_t i = 0; i < count; ++i) {
    const AgentChange& change = changes[i];
    proto::Change& to = request.changes.emplace_back();
    to.kind = change.kind;
    bool read = ReadOid(&change.object, &to.object, "object") &&
                (change.kind == ORVU_CHANGE_SET
                     ? ReadValue(change.value, proto::PROTO_MAX_CHANGES_REQUEST, &to.value)
                     : ReadOid(&change.entry, &to.entry, "entry"));
    if (!read) {
      if (failedIndex) *failedIndex = i;
      return orvu::client::LastErrorCode();
    }
    bytes += CHANGE_MIN_BYTES + 4 * (to.entry.size() + to.object.size() + to.value.ids.size()) +
             to.value.bytes.size();
    if (bytes > proto::PROTO_MAX_CHANGES_REQUEST) {
      Fail(orvu::AGENT_ERR_VALUE_TOO_LARGE,
           "value too large: the change set passes the " +
               std::to_string(proto::PROTO_MAX_CHANGES_REQUEST >> 20) +
               " MiB that one request may take at change " + std::to_string(i));
      return orvu::client::LastErrorCode();
    }
  }
  proto::Reply reply;
  if (session->Call(request, &reply)) return orvu::AGENT_OK;
  if (failedIndex && reply.failedChange != 0 && reply.failedChange <= count)
    *failedIndex = reply.failedChange - 1;
  return orvu::client::LastErrorCode();
}

ORVU_EXPORT int ORVU_CALL AgentFreeValue(uint32_t syntax, void* payload) {
  AGENT_FAULT_POINT("AgentFreeValue", int);
  if (!payload) return Fail(orvu::AGENT_ERR_BAD_ARGUMENT, "bad argument: no value to free");
  SnmpOid* pair = static_cast<SnmpOid*>(payload);
  uintptr_t block = reinterpret_cast<uintptr_t>(pair->ids);
  bool known = false;
  proto::ValueKind kind = proto::KindOfSyntax(syntax, &known);
  if (known) {
    if (kind == proto::ValueKind::Bytes || kind == proto::ValueKind::Oid)
      orvu::SharedFree(pair->ids);
  } else if (block) {
    Library& lib = Lib();
    std::lock_guard<std::mutex> lock(lib.mutex);
    if (lib.foreignBlocks.erase(block)) orvu::SharedFree(pair->ids);
  }
  pair->count = 0;
  pair->ids = nullptr;
  return 1;
}

}  // extern "C"
