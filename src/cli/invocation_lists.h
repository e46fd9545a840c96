// Appending to the Invocation's lists (only the parser fills them) and releasing their blocks.
#pragma once

#include "values/snmp_value.h"

void AppendModuleId(const char* text);
void AppendOid(const char* text);
// One -m: its code and its text go in together, so the two lists keep the same length.
void AppendValue(SnmpSyntax syntax, const char* text);
// Frees the four blocks and leaves the lists empty with no capacity; runs at process exit.
void ReleaseInvocationLists();
