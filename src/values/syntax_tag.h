// The tag that the printer shows for a syntax code.
#pragma once

#include "values/snmp_value.h"

// "(int,int32)", "(octets)", ...; nullptr for a code that the tool does not know.
const char* SyntaxTag(SnmpSyntax syntax);
