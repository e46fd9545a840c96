// One connection of the library to orvu-agentd, with the lists and the row that it keeps so that
// enumerations and listings cost one round trip where the caller makes many calls.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "messages.h"
#include "transport.h"

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

  // The reply of enumeration OP (EnumModules, EnumClients, or EnumInstances of ENTRY_HANDLE): the
  // one taken before, unless FRESH is set or none was taken for that entry, when it is taken
  // anew. nullptr with the last error set when that fails.
  const proto::Reply* Listing(proto::Op op, uint32_t entryHandle, bool fresh);

  // The row that the last GetDataHandle brought: each item is handed out once, then read anew.
  // The data handle of an item for OID not yet handed out, else 0.
  uint32_t RowHandleFor(const std::vector<uint32_t>& oid) const;
  // The item behind DATA_HANDLE, marked as handed out; nullptr when the row has none unused.
  const proto::DataItem* TakeFromRow(uint32_t dataHandle);

 private:
  struct RowItem {
    proto::DataItem item;
    bool used = false;
  };
  struct Taken {
    bool valid = false;
    uint32_t entryHandle = 0;
    proto::Reply reply;
  };

  transport::Socket socket_ = transport::NO_SOCKET;
  Taken modules_, clients_, instances_;
  std::vector<RowItem> prefetchedRow_;
};

}  // namespace orvu::client
