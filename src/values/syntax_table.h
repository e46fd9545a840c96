// Everything the tool knows about each syntax code, in one table: the printer's tag, the name that
// the parameter echo and the set trace show, the -m type letters that choose it, and whether a
// parsed value of it holds storage that must be given back.
#pragma once

#include <string>

#include "values/snmp_value.h"

// "(int,int32)", "(octets)", ...; nullptr for a code that the tool does not know.
const char* SyntaxTag(SnmpSyntax syntax);

// "int, int32", "octets", ...; "bad syntax" for a code that no type letter chooses.
const char* SyntaxName(SnmpSyntax syntax);

// The syntax a -m type letter chooses; SYNTAX_UNDEFINED for any other character.
SnmpSyntax SyntaxOfTypeLetter(char letter);

// The SMI name of SYNTAX ("INTEGER", "OCTET STRING", ...), with WITH_LETTER followed by the -m
// letter that writes it: "INTEGER (-mi)". "syntax N" for a code the tool does not know.
std::string SyntaxSmiText(SnmpSyntax syntax, bool withLetter);

// Every -m type letter with the syntax it writes and the text it takes, for a user who typed
// another: "o OCTET STRING (any text), b BITS (any text, as octets), ...".
const char* TypeLetterList();

// Whether the (number, data) pair of a parsed value of SYNTAX carries storage from
// ParseValueText.
bool SyntaxHoldsStorage(SnmpSyntax syntax);
