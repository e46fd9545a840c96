// Creation (-a with -i) and removal (-r with -i) of table instances.
#pragma once

#include "agentapi/snmp_oid.h"

// Each returns 1 on success; on failure it has printed its message, set *exitStatus to 1 and
// returns 0, and the run goes straight to the disconnection. The caller checks that the step's
// switches are present.
int AddTableEntry(AgentHandle agent, int* exitStatus);
int RemoveTableEntry(AgentHandle agent, int* exitStatus);
