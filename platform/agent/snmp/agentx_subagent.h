// orvu-agentd as an AgentX subagent of a master agent (RFC 2741): a session of its own
// (agentx_pdu.h reads and writes the packets), in a thread of its own that shares the core with the
// agent's event loop.
#pragma once

#include <poll.h>

#include <cstdint>
#include <string>
#include <vector>

#include "agent/core/agent_core.h"
#include "agent/snmp/agentx_master_trust.h"

namespace orvu::agent {

struct SubagentCounters {
  uint64_t requests = 0;       // varbinds answered (Get, GetNext, each GetBulk repetition)
  uint64_t setsCommitted = 0;  // varbinds written
  uint64_t setsRefused = 0;    // varbinds refused at TestSet (the whole set changed nothing)
  uint64_t setsUndone = 0;     // varbinds written and then taken back at UndoSet
};

// Whether ADDRESS is one the subagent may use (a Unix socket path, or tcp:HOST:PORT with a
// privileged port unless TRUST accepts another); false with *error. Checked before the agent
// makes anything, and again by StartSubagent.
bool CheckSubagentAddress(const std::string& address, const MasterTrust& trust, std::string* error);

// Connects CORE to the master at ADDRESS from a thread of its own, which alone ever waits for the
// master, and opens a session only with a master that TRUST allows (agentx_master_trust.h). A
// master that does not answer, or is not trusted, is no error: the subagent keeps trying while the
// agent serves its libraries. The caller holds CORE from then on, but while it waits in poll:
// SubagentPollSet lets go of it, SubagentDispatch takes it back, within one step of an answer.
bool StartSubagent(AgentCore* core, const std::string& address, const MasterTrust& trust,
                   std::string* error);

// Called by the event loop right before it waits (its arguments are left alone).
void SubagentPollSet(std::vector<pollfd>* fds, int* timeoutMs);

// Called by the event loop right after it waits.
void SubagentDispatch(const pollfd* polled, size_t count);

// Closes the session with the master and ends the thread; the core is the caller's again.
void StopSubagent();

const SubagentCounters& SubagentStatistics();

}  // namespace orvu::agent
