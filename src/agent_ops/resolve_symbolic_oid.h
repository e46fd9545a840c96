// Symbolic OIDs for -s: a MIB name, with or without a numeric suffix.
#pragma once

#include "agentapi/snmp_oid.h"

// Turns "name" or "name.suffix" into an OID through the MIB library; 1 on success.
int ResolveSymbolicOid(const char* text, SnmpOid* oid);
