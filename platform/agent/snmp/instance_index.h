// Whether an instance OID is one that an entry's INDEX clause gives (RFC 2578 section 7.7): each
// INDEX object in turn takes its sub-identifiers, within its ranges and sizes, and none is left
// over. Creation by a library or by SNMP refuses the rest; SNMP does not see stored ones.
#pragma once

#include <string>

#include "agent/snmp/served_objects.h"

namespace orvu::agent {

// Why INDEX is not an instance OID of ENTRY, naming the INDEX object at fault and what it takes;
// empty when it is one. Entries that only a state file names, and INDEX clauses that name an
// object of unknown syntax, take any index.
std::string IndexMisfit(const EntryDef& entry, const Oid& index);

}  // namespace orvu::agent
