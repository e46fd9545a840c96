// The agent's event loop: one thread, non-blocking sockets, one request at a time per connection.
#pragma once

#include <csignal>
#include <cstddef>

#include "agent_core.h"
#include "transport.h"

namespace orvu::agent {

constexpr size_t SERVER_MAX_CLIENTS = 1000;

// Serves LISTENER until *stop turns nonzero. Signals that set it must be blocked by the caller;
// they are let through only while the loop waits.
void RunServer(AgentCore* core, transport::Socket listener, volatile std::sig_atomic_t* stop);

}  // namespace orvu::agent
