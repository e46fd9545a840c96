// The listing of one table entry's instances (-e), with every leaf value (-t).
#pragma once

#include "agentapi/snmp_oid.h"

// Returns 1 when the run goes on to value setting, 0 when the entry OID was rejected or the
// enumeration failed; a failed enumeration also sets EXIT_STATUS to 1.
int ListTableEntries(AgentHandle agent, int* exitStatus);
