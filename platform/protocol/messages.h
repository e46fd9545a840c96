// The requests a client sends to orvu-agentd and the replies it gets. Every message travels as a
// frame: a little-endian u32 body length, then the body. A request body starts with its operation
// code; a reply body starts with a status (0 or an AgentError code), followed by an error text or
// by the operation's results.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/syntax_kind.h"

namespace orvu::proto {

// 2: GetDataHandle tells the rows ahead, SetData the agent's row count (a library of version 1
// could not read either reply). ApplyChanges came later without a new version: it is a request of
// its own that changes no other, so libraries of version 2 with and without it both register; an
// agent without it refuses the request as malformed and closes the connection.
constexpr uint32_t PROTO_VERSION = 2;
constexpr uint32_t PROTO_MAX_REQUEST = 1u
                                       << 20;  // body bytes; larger requests close the connection
// ApplyChanges alone may be larger: a change set of 100,000 values takes some 10 MiB. The agent
// counts it against the budget of all connections like any request, so two at most are held.
constexpr uint32_t PROTO_MAX_CHANGES_REQUEST = 32u << 20;
constexpr uint32_t PROTO_MAX_REPLY = 256u << 20;  // body bytes the library accepts
// Client name (and self-reported file name) bytes kept by the agent.
constexpr uint32_t PROTO_MAX_NAME = 4096;
// Bytes of a challenge's nonce or of a proof that a message may carry.
constexpr uint32_t PROTO_MAX_PROOF = 256;

enum class Op : uint32_t {
  Register = 1,
  EnumModules = 2,
  EnumClients = 3,
  FindEntry = 4,
  EnumInstances = 5,
  FindInstance = 6,
  CreateInstance = 7,
  EnableInstance = 8,
  RemoveInstance = 9,
  GetDataHandle = 10,
  GetData = 11,
  SetData = 12,
  Unregister = 13,
  ReadRows = 14,
  // The first request of a TCP peer: its nonce, which the agent answers with its own nonce and
  // its proof (proof.h); the registration that follows carries the client's proof.
  Challenge = 15,
  // A change set: creations, removals and writes, applied whole or refused whole.
  ApplyChanges = 16,
  // A notification that a served module defines, its OBJECTS read at an index, for the master.
  Notify = 17,
};

// The body bytes the agent takes for a request of operation code OP.
inline uint32_t RequestLimit(uint32_t op) {
  return op == static_cast<uint32_t>(Op::ApplyChanges) ? PROTO_MAX_CHANGES_REQUEST
                                                       : PROTO_MAX_REQUEST;
}

using orvu::KindOfSyntax;
using orvu::ValueKind;

// EnumInstances: the flag that takes a fresh snapshot before the page is served.
constexpr uint32_t PROTO_ENUM_FRESH = 1;
// Records of one EnumInstances page, and instances of one ReadRows request, at most.
constexpr uint32_t PROTO_PAGE_RECORDS = 256;
constexpr uint32_t PROTO_ROWS_PER_READ = 64;

// A data handle with the top bit set names a column of an instance by themselves: the instance
// handle above the low bits, the column in them. The agent gives such handles to columns of
// instances below PROTO_PACKED_INSTANCE_LIMIT and column numbers up to PROTO_PACKED_COLUMN_MASK,
// so a client that knows the instance handle knows the data handle too.
constexpr uint32_t PROTO_PACKED_HANDLE = 0x80000000u;
constexpr uint32_t PROTO_PACKED_COLUMN_BITS = 10;
constexpr uint32_t PROTO_PACKED_COLUMN_MASK = (1u << PROTO_PACKED_COLUMN_BITS) - 1;
constexpr uint32_t PROTO_PACKED_INSTANCE_LIMIT = 1u << (31 - PROTO_PACKED_COLUMN_BITS);

// The packed handle of COLUMN of INSTANCE, or 0 when the pair has none.
inline uint32_t PackedColumnHandle(uint32_t instance, uint32_t column) {
  if (instance == 0 || instance >= PROTO_PACKED_INSTANCE_LIMIT || column == 0 ||
      column > PROTO_PACKED_COLUMN_MASK) {
    return 0;
  }
  return PROTO_PACKED_HANDLE | instance << PROTO_PACKED_COLUMN_BITS | column;
}

struct Value {
  uint32_t syntax = 0;
  ValueKind kind = ValueKind::Number;
  uint32_t number = 0;  // Number and Pair
  uint32_t second = 0;  // Pair
  std::string bytes;
  std::vector<uint32_t> ids;
  bool operator==(const Value&) const = default;
};

// One part of a change set, as the framework header's AgentChange: CHANGE_CREATE and CHANGE_REMOVE
// name an entry and an instance suffix (object), CHANGE_SET an object with its suffix and a value.
constexpr uint32_t PROTO_CHANGE_CREATE = 1;
constexpr uint32_t PROTO_CHANGE_REMOVE = 2;
constexpr uint32_t PROTO_CHANGE_SET = 3;
struct Change {
  uint32_t kind = 0;
  std::vector<uint32_t> entry;
  std::vector<uint32_t> object;
  Value value;
};

struct Request {
  Op op = Op::Register;
  uint32_t version = PROTO_VERSION;  // Register
  std::string clientName;            // Register
  uint32_t threadId = 0;             // Register
  // Register over TCP, where no peer credentials exist: the client's proof that it knows the
  // endpoint file's secret, and what the client says of itself.
  std::string proof;
  uint32_t processId = 0;
  std::string fileName;
  uint32_t flags = 0;  // Register, EnableInstance, EnumInstances
  uint32_t entryHandle = 0;
  uint32_t instanceHandle = 0;
  uint32_t dataHandle = 0;
  uint32_t context = 0;
  std::vector<uint32_t> oid;      // entry OID or object OID
  std::vector<uint32_t> index;    // instance OID
  std::string notification;       // Notify: the NOTIFICATION-TYPE's name
  Value value;                    // SetData
  uint32_t position = 0;          // EnumInstances: first record wanted, counting from 0
  uint32_t count = 0;             // EnumInstances: records wanted; GetDataHandle: rows ahead
  std::vector<uint32_t> handles;  // ReadRows: instance handles
  std::string nonce;              // Challenge
  std::vector<Change> changes;    // ApplyChanges
};

struct ModuleRecord {
  std::string name;
  uint32_t handle = 0;
};

struct ClientRecord {
  uint32_t clientHandle = 0;
  uint32_t clientId = 0;
  uint32_t processHandle = 0;
  uint32_t processId = 0;
  uint32_t threadHandle = 0;
  uint32_t threadId = 0;
  int32_t registrationTime = 0;
  uint32_t flags = 0;
  std::string name;
  std::string fileName;
};

struct InstanceRecord {
  uint32_t instanceHandle = 0;
  uint32_t clientHandle = 0;
  int32_t creationTime = 0;
  uint32_t flags = 0;  // the flags given when it was enabled; 0 while not enabled
  uint32_t leafCount = 0;
  std::vector<uint32_t> entryOid;
  std::vector<uint32_t> indexOid;
};

struct DataItem {
  uint32_t dataHandle = 0;
  std::vector<uint32_t> oid;
  Value value;
};

struct Reply {
  int32_t status = 0;
  std::string text;  // with a nonzero status
  // client, entry, instance or data handle; EnumInstances: the records in the snapshot
  uint32_t handle = 0;
  // ApplyChanges refused for one change: 1 + its position, after the text of the failed reply;
  // 0 (and nothing after the text) when the refusal concerns the set as a whole.
  uint32_t failedChange = 0;
  uint32_t instanceHandle = 0;  // CreateInstance: the new instance's handle (handle: its entry)
  std::vector<ModuleRecord> modules;
  std::vector<ClientRecord> clients;
  std::vector<InstanceRecord> instances;  // EnumInstances: one page of the snapshot
  // GetData: the object read first, then (for a column) other leaves of the same row;
  // ReadRows: the leaves of each row asked for, row after row.
  std::vector<DataItem> items;
  // Challenge: the agent's own nonce and its proof.
  std::string nonce;
  std::string proof;
  // GetDataHandle, SetData: how often rows (or scalars) came or went in the agent; what a client
  // learnt of its rows holds while this stays the same.
  uint32_t generation = 0;
  // GetDataHandle of a column, with rows ahead asked for: the length of the entry's OID (0 when
  // the agent gives none), the columns every row of it has, and the rows from the one asked for
  // on in index order, each as its instance handle, its index length and its index.
  uint32_t entryLength = 0;
  std::vector<uint32_t> columns;
  std::vector<uint32_t> ahead;
};

// Items kept to be written over (a listing's pages of rows) keep the room of their values only
// up to this size: a page of small values must not go on holding the room of large ones.
constexpr size_t PROTO_KEPT_VALUE_BYTES = 256;
// Gives back the room of every value in ITEMS larger than PROTO_KEPT_VALUE_BYTES.
void TrimKeptItems(std::vector<DataItem>* items);

std::string EncodeRequest(const Request& request);
// Pure: the body of one frame in, a request or a reason out.
bool DecodeRequest(const uint8_t* data, size_t size, Request* request, std::string* error);

std::string EncodeReply(Op op, const Reply& reply);
// Frame(EncodeReply(OP, REPLY)), written in one buffer.
std::string FramedReply(Op op, const Reply& reply);
// *REPLY as if fresh, but the items it held are written over (their room reused).
bool DecodeReply(Op op, const uint8_t* data, size_t size, Reply* reply);

// Prepends the frame header.
std::string Frame(const std::string& body);

}  // namespace orvu::proto
