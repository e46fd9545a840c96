// What orvuctl reads from the agent: values and the rows of a table.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "agentapi/snmp_oid.h"
#include "orvuctl/plain_value.h"

enum class ReadOutcome { VALUE, ABSENT, FAILED };

// The value at OID; ABSENT (with the agent's reason) when it holds no such instance.
ReadOutcome ReadValue(AgentHandle agent, const std::vector<uint32_t>& oid, PlainValue* value,
                      std::string* reason);

// Calls VISIT with the instance suffix of each row of the entry at ENTRYOID, in the agent's order,
// until it returns false. Values read inside VISIT, of the row it was given, come from rows the
// library reads many at a time. False with *reason when the agent knows no such entry or the
// listing fails.
bool ForEachInstance(AgentHandle agent, const std::vector<uint32_t>& entryOid,
                     const std::function<bool(const std::vector<uint32_t>&)>& visit,
                     std::string* reason);
