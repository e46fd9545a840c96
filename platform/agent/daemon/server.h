// The agent's event loop: one thread, non-blocking sockets, one request at a time per connection.
#pragma once

#include <poll.h>

#include <csignal>
#include <cstddef>
#include <string>
#include <vector>

#include "agent/core/agent_core.h"
#include "protocol/transport.h"

namespace orvu::agent {

constexpr size_t SERVER_MAX_CLIENTS = 1000;
// One budget for what all connections hold: unfinished requests and replies not yet taken. What
// would pass it is refused with a reason (a reply of at most SERVER_SMALL_REPLY bytes never is).
// The core's listing snapshots count against it too (AgentCore::ShareMemoryBudget).
constexpr size_t SERVER_BUFFER_BUDGET = 64u << 20;
constexpr size_t SERVER_SMALL_REPLY = 4096;
// A connection that has not registered by then is closed; registered ones may idle for ever.
constexpr int SERVER_REGISTER_SECONDS = 5;
// How long accepting rests when the process has no descriptor left.
constexpr int SERVER_ACCEPT_PAUSE_MS = 100;

// Raises the open-file limit as far as allowed and returns how many clients fit within it beside
// the descriptors already open (at most SERVER_MAX_CLIENTS), so that accepting does not fail for
// want of descriptors. Call it once everything else the agent keeps open is open.
size_t ClientCapacity();

// The descriptors and timers of another library that the loop drives too (the AgentX subagent):
// pollSet appends its descriptors and lowers the wait (milliseconds, -1 for none); dispatch gets
// those entries back after every wait, whether or not any is ready.
struct ExtraEvents {
  void (*pollSet)(std::vector<pollfd>* fds, int* timeoutMs) = nullptr;
  void (*dispatch)(const pollfd* polled, size_t count) = nullptr;
};

// A TCP loopback listener beside the Unix socket, for clients that have no Unix sockets (Windows
// programs under Wine). A peer there must prove that it knows SECRET (proof.h) and register within
// SERVER_PROOF_SECONDS.
struct LoopbackListener {
  transport::Socket socket = transport::NO_SOCKET;
  std::string secret;
};
constexpr int SERVER_PROOF_SECONDS = 5;
// Places for TCP peers that have not proved themselves yet (at most a quarter of the capacity):
// when they are taken, the oldest such peer is closed for a newcomer. They never take the places
// of the user's clients, nor count against the buffer budget (each may send one small request).
// Peers that the kernel names as the user's own (or root's) have as many places again, apart, so
// that strangers of other users never push out a client between its challenge and its proof.
constexpr size_t SERVER_MAX_STRANGERS = 16;

// Besides the agent's own user, root and the members of GROUP may connect to the Unix socket
// (orvu-agentd --group). Called before RunServer.
void AdmitGroup(const transport::GroupAccess& group);

// Serves LISTENER (and LOOPBACK when given) until *stop turns nonzero. Signals that set it must be
// blocked by the caller; they are let through only while the loop waits.
void RunServer(AgentCore* core, transport::Socket listener, size_t maxClients,
               volatile std::sig_atomic_t* stop, const ExtraEvents* extra = nullptr,
               const LoopbackListener* loopback = nullptr);

}  // namespace orvu::agent
