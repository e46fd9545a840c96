// Writing values into agent objects (-s with -m).
#pragma once

#include "agentapi/snmp_oid.h"

void SetValues(AgentHandle agent);
// Turns "name" or "name.suffix" into an OID through the MIB library; 1 on success.
int ResolveSymbolicOid(const char* text, SnmpOid* oid);
