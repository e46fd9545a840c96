// Everything the tool knows about each syntax code, in one table: the printer's tag, the name that
// the parameter echo and the set trace show, the -m type letters that choose it, and whether a
// parsed value of it holds storage that must be given back.
#pragma once

#include "values/snmp_value.h"

// "(int,int32)", "(octets)", ...; nullptr for a code that the tool does not know.
const char* SyntaxTag(SnmpSyntax syntax);

// "int, int32", "octets", ...; "bad syntax" for a code that no type letter chooses.
const char* SyntaxName(SnmpSyntax syntax);

// The syntax a -m type letter chooses; SYNTAX_UNDEFINED for any other character.
SnmpSyntax SyntaxOfTypeLetter(char letter);

// Whether the (number, data) pair of a parsed value of SYNTAX carries storage from
// ParseValueText.
bool SyntaxHoldsStorage(SnmpSyntax syntax);
