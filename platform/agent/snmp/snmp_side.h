// What the agent serves and how SNMP managers reach it:
// - served_objects.h: MIB modules turned into served scalars and table entries;
// - instance_index.h: whether an instance OID fits its entry's INDEX clause;
// - agentx_subagent.h: the AgentX subagent, a library of its own above AgentCore (whose SNMP view
//   it serves), with agentx_pdu.h, the protocol's packets, and so not included here.
// The SNMP view itself, whole sets and RowStatus are AgentCore's (agent/core/agent_core.h:
// snmp_view.cc, snmp_rows.cc).
#pragma once

#include "agent/snmp/instance_index.h"
#include "agent/snmp/served_objects.h"
