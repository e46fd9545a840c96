// -c: the clients registered with the agent, on the connection.
#pragma once

#include "agentapi/snmp_oid.h"

// 0 when the enumeration failed otherwise than at the list's end: the error is printed, *exitStatus
// is 1 and the run's operations end.
int PrintClientList(AgentHandle agent, int* exitStatus);
