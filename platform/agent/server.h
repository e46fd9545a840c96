// The agent's event loop: one thread, non-blocking sockets, one request at a time per connection.
#pragma once

#include <csignal>
#include <cstddef>

#include "agent_core.h"
#include "transport.h"

namespace orvu::agent {

constexpr size_t SERVER_MAX_CLIENTS = 1000;

// Raises the open-file limit as far as allowed and returns how many clients fit within it (at
// most SERVER_MAX_CLIENTS), so that accepting never fails for want of descriptors.
size_t ClientCapacity();

// Serves LISTENER until *stop turns nonzero. Signals that set it must be blocked by the caller;
// they are let through only while the loop waits.
void RunServer(AgentCore* core, transport::Socket listener, size_t maxClients,
               volatile std::sig_atomic_t* stop);

}  // namespace orvu::agent
