// orvu-agentd as an AgentX subagent of a master agent (RFC 2741): net-snmp's agent library in
// subagent mode, its descriptors and timers driven from the agent's own event loop.
#pragma once

#include <poll.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent_core.h"

namespace orvu::agent {

// How often the subagent pings its master, and so how soon it notices a master that went away
// and opens a new session once one answers again.
constexpr int AGENTX_PING_SECONDS = 1;

struct SubagentCounters {
  uint64_t requests = 0;       // varbinds answered (Get, GetNext, each GetBulk repetition)
  uint64_t setsCommitted = 0;  // varbinds written
  uint64_t setsRefused = 0;    // varbinds refused at TestSet (the whole set changed nothing)
  uint64_t setsUndone = 0;     // varbinds written and then taken back at UndoSet
};

// Connects CORE to the master at ADDRESS (a Unix socket path, or tcp:HOST:PORT). A master that
// does not answer is no error: the subagent keeps trying while the agent serves its libraries.
bool StartSubagent(AgentCore* core, const std::string& address, std::string* error);

// Appends the library's descriptors to FDS and lowers *timeoutMs (-1: none) to its next timer.
void SubagentPollSet(std::vector<pollfd>* fds, int* timeoutMs);

// Lets the library read what POLLED (the entries SubagentPollSet added, after the poll) has
// ready, and run its due timers and the requests it kept waiting.
void SubagentDispatch(const pollfd* polled, size_t count);

// Closes the session with the master.
void StopSubagent();

const SubagentCounters& SubagentStatistics();

}  // namespace orvu::agent
