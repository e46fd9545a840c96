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
  // One round trip; false with the last error set when it failed or the agent said no.
  bool Call(const proto::Request& request, proto::Reply* reply);

  // Snapshots taken by the index-0 call of an enumeration.
  std::vector<proto::ModuleRecord> modules;
  std::vector<proto::ClientRecord> clients;
  std::vector<proto::InstanceRecord> instances;
  bool haveModules = false;
  bool haveClients = false;
  bool haveInstances = false;
  uint32_t instancesEntry = 0;

  // The row that the last GetDataHandle brought; each item is handed out once, then read anew.
  struct CachedItem {
    proto::DataItem item;
    bool used = false;
  };
  std::vector<CachedItem> row;

 private:
  transport::Socket socket_ = transport::NO_SOCKET;
};

}  // namespace orvu::client
