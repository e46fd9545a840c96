// OIDs as text: numeric through the SNMP utility library, symbolic through the MIB library.
#pragma once

#include <string>

#include "agentapi/snmp_oid.h"

// Appends the dotted decimal text that SnmpOidToString writes, however long the OID.
void AppendNumericOid(std::string& line, const SnmpOid& oid);

// Appends the name of the longest known prefix of OID, then the remaining sub-identifiers as
// ".n"; an OID without a known prefix appears in plain dotted decimal.
void AppendSymbolicOid(std::string& line, const SnmpOid& oid);
