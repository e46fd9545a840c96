// Appending to the Invocation's lists; only the parser fills them.
#pragma once

#include "values/snmp_value.h"

void AppendModuleId(const char* text);
void AppendOid(const char* text);
// One -m: its code and its text go in together, so the two lists keep the same length.
void AppendValue(SnmpSyntax syntax, const char* text);
