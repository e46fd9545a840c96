// The agent's event loop: one thread, non-blocking sockets, one request at a time per connection.
#pragma once

#include <poll.h>

#include <csignal>
#include <cstddef>
#include <vector>

#include "agent_core.h"
#include "transport.h"

namespace orvu::agent {

constexpr size_t SERVER_MAX_CLIENTS = 1000;

// Raises the open-file limit as far as allowed and returns how many clients fit within it (at
// most SERVER_MAX_CLIENTS), so that accepting never fails for want of descriptors.
size_t ClientCapacity();

// The descriptors and timers of another library that the loop drives too (the AgentX subagent):
// pollSet appends its descriptors and lowers the wait (milliseconds, -1 for none); dispatch gets
// those entries back after every wait, whether or not any is ready.
struct ExtraEvents {
  void (*pollSet)(std::vector<pollfd>* fds, int* timeoutMs) = nullptr;
  void (*dispatch)(const pollfd* polled, size_t count) = nullptr;
};

// Serves LISTENER until *stop turns nonzero. Signals that set it must be blocked by the caller;
// they are let through only while the loop waits.
void RunServer(AgentCore* core, transport::Socket listener, size_t maxClients,
               volatile std::sig_atomic_t* stop, const ExtraEvents* extra = nullptr);

}  // namespace orvu::agent
