// Carrying out planned changes as one change set.
#pragma once

#include <vector>

#include "agentapi/snmp_oid.h"
#include "orvuctl/change_plan.h"

// All of CHANGES or, when the agent refuses a part, none; false with the reason on standard
// error. A library without change sets refuses, never falls back to one write at a time.
bool ApplyChanges(AgentHandle agent, const std::vector<PlannedChange>& changes);
