// -o: the modules the agent serves, on the connection.
#pragma once

#include "agentapi/snmp_oid.h"

void PrintModuleList(AgentHandle agent);
