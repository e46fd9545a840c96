// Which of net-snmp snmpd's own modules serve a subtree, for the advice the agent gives when the
// master already serves a subtree that the agent registers.
#pragma once

#include <string>

#include "agent/snmp/served_objects.h"

namespace orvu::agent {

// The names that snmpd's -I -NAME,... takes to leave out the modules that serve SUBTREE, or empty
// when the agent knows none.
std::string SnmpdModulesServing(const Oid& subtree);

// The advice for a subtree the master refused as a duplicate registration.
std::string DuplicateAdvice(const Oid& subtree);

}  // namespace orvu::agent
