// One connection of the library to orvu-agentd, with the lists and the row that it keeps so that
// enumerations and listings cost one round trip where the caller makes many calls.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "protocol/messages.h"
#include "protocol/transport.h"

namespace orvu::client {

class AgentSession {
 public:
  AgentSession() = default;
  AgentSession(const AgentSession&) = delete;
  AgentSession& operator=(const AgentSession&) = delete;
  ~AgentSession();

  // Connects to the endpoint and registers as NAME; sets the last error on failure.
  bool Open(const std::string& endpoint, const std::string& name, uint32_t flags);
  // One round trip; false with the last error set when it failed or the agent said no. A request
  // that changes the agent's state or brings a new row drops the row held first.
  bool Call(const proto::Request& request, proto::Reply* reply);

  // The reply of enumeration OP (EnumModules or EnumClients): the one taken before, unless FRESH
  // is set or none was taken, when it is taken anew. nullptr with the last error set when that
  // fails.
  const proto::Reply* Listing(proto::Op op, bool fresh);

  // Has the agent take a fresh snapshot of ENTRY_HANDLE's instances; its first page comes along.
  bool TakeSnapshot(uint32_t entryHandle);
  // Record POSITION (from 0) of the snapshot of ENTRY_HANDLE, taken first when the one held is of
  // another entry. Only the page around it is held here. nullptr with the last error set when
  // the agent fails or there is no such record.
  const proto::InstanceRecord* Instance(uint32_t entryHandle, uint32_t position);

  // The rows that reads brought along: each item is handed out once, then read anew. The data
  // handle of an item for OID not yet handed out, else 0. When OID is a leaf of the instance
  // last handed out by Instance() and no row of it is held, the rows of that instance and the
  // ones after it on its page are read first, in one round trip.
  uint32_t RowHandleFor(const uint32_t* ids, size_t count);
  // The item behind DATA_HANDLE, marked as handed out; nullptr when the rows have none unused.
  const proto::DataItem* TakeFromRow(uint32_t dataHandle);

  // The rows ahead that a GetDataHandle brought along (KeepAhead): the data handle of the column
  // OID of one of them, else 0. They are dropped by any request but GetDataHandle and SetData,
  // and once a reply shows that rows came or went in the agent since.
  uint32_t AheadHandleFor(const uint32_t* ids, size_t count) const;
  void KeepAhead(const std::vector<uint32_t>& oid, const proto::Reply& reply);
  // The handle AheadHandleFor gave last, with the OID and context it was asked for; a set that
  // the agent refuses for that handle asks for the OID's handle anew (rows ahead can be stale by
  // the time between two calls).
  struct Answered {
    uint32_t handle = 0;
    uint32_t context = 0;
    std::vector<uint32_t> oid;
  };
  Answered& LastAnswered() { return answered_; }

 private:
  struct Taken {
    bool valid = false;
    proto::Reply reply;
  };
  // One page of the agent's instance snapshot.
  struct Page {
    bool valid = false;
    uint32_t entryHandle = 0;
    uint32_t total = 0;  // records in the snapshot
    uint32_t first = 0;  // position of page[0]
    std::vector<proto::InstanceRecord> records;
    size_t current = SIZE_MAX;  // the record handed out last
    size_t rowsUntil = 0;       // records before this one had their rows read
  };

  // While the TCP listener has yet to prove itself, who it is in the texts of failures: nothing it
  // says is passed on as the agent's, and its reply is read only up to PROTO_MAX_UNPROVEN_REPLY.
  std::string unprovenPeer_;
  // Connects to the agent that the endpoint FILE names, and has it prove itself; *clientProof is
  // then what the registration must carry. Sets the last error on failure.
  bool OpenLoopback(const std::string& file, std::string* clientProof);
  bool FetchPage(uint32_t entryHandle, uint32_t position, bool fresh);
  bool IsLeafOfCurrent(const uint32_t* ids, size_t count) const;
  // The unused item for the OID IDS (COUNT sub-identifiers) or, when IDS is null, for
  // DATA_HANDLE; SIZE_MAX when there is none.
  size_t FindInRow(const uint32_t* ids, size_t count, uint32_t dataHandle) const;

  // Rows of one entry, in index order, whose instance handles a GetDataHandle told.
  struct Ahead {
    bool valid = false;
    uint32_t generation = 0;
    std::vector<uint32_t> entry;
    std::vector<bool> columns;  // by number: columns every row has
    struct Row {
      uint32_t instance = 0;
      size_t start = 0;  // its index in ids
      size_t count = 0;
    };
    std::vector<Row> rows;
    std::vector<uint32_t> ids;
  };

  transport::Socket socket_ = transport::NO_SOCKET;
  // Bytes received past the reply being read: the first inboxSize_ of inbox_, which keeps its
  // size between calls so that receiving into it never clears it first.
  std::string inbox_;
  size_t inboxSize_ = 0;
  Ahead ahead_;
  Answered answered_;
  Taken modules_, clients_;
  Page page_;
  // The leaves held, and beside each whether it was handed out.
  std::vector<proto::DataItem> row_;
  std::vector<uint8_t> rowUsed_;
  // The reply that rows are read into: after a read it holds the rows that the read replaced,
  // whose strings and vectors the next read writes over instead of allocating anew.
  proto::Reply rowsReply_;
  size_t rowCursor_ = 0;  // rows are mostly read in order: the search starts here
  size_t listed_ = 0;     // the first items of row_ came with a listing, the rest with one GetData
};

}  // namespace orvu::client
