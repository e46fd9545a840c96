// Notifications on their way to the AgentX master: the core queues each one, whichever thread
// makes it; the subagent's thread sends them (AgentX Notify, RFC 2741 6.2.10).
#pragma once

#include <vector>

#include "agent/core/agent_core.h"

namespace orvu::agent {

// Called once the subagent runs: before that nothing is queued, since nothing would send it.
void EnableNotifications();
// Queues VARBINDS (sysUpTime.0, snmpTrapOID.0, then the objects); the oldest go when too many wait
// for a master that does not read them.
void QueueNotification(std::vector<SnmpVarBind> varbinds);
// The next notification waiting, false when none.
bool TakeNotification(std::vector<SnmpVarBind>* varbinds);

}  // namespace orvu::agent
