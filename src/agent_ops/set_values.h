// Writing values into agent objects (-s with -m).
#pragma once

#include "agentapi/snmp_oid.h"

void SetValues(AgentHandle agent);
