// The listing of one table entry's instances (-e), with every leaf value (-t).
#pragma once

#include "agentapi/snmp_oid.h"

// Returns 1 when the run goes on to value setting, 0 when the entry OID was rejected.
int ListTableEntries(AgentHandle agent);
