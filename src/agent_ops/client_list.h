// -c: the clients registered with the agent, on the connection.
#pragma once

#include "agentapi/snmp_oid.h"

void PrintClientList(AgentHandle agent);
