// What orvuctl reads from the agent: values and the rows of a table.
#pragma once

#include <string>
#include <vector>

#include "agentapi/snmp_oid.h"
#include "orvuctl/plain_value.h"

enum class ReadOutcome { VALUE, ABSENT, FAILED };

// The value at OID; ABSENT (with the agent's reason) when it holds no such instance.
ReadOutcome ReadValue(AgentHandle agent, const std::vector<uint32_t>& oid, PlainValue* value,
                      std::string* reason);

// The instance suffixes of the rows of the entry at ENTRYOID, in the agent's order. False with
// *reason when the agent knows no such entry or the listing fails.
bool ListInstances(AgentHandle agent, const std::vector<uint32_t>& entryOid,
                   std::vector<std::vector<uint32_t>>* instances, std::string* reason);
