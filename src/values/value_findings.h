// What the conversion of a -m text leaves out or changes, in words for the user: the conversions
// themselves read "12abc" as 12 and "300" in an address as 44 without a word.
#pragma once

#include <string>

#include "values/snmp_value.h"

struct ValueTextNote {
  bool refused = false;  // ParseValueText fails on this text; TEXT says why
  std::string text;      // empty: the text converts whole and as typed
};

// Reads TEXT the way ParseValueText reads it for SYNTAX and says what it made of it:
// "\"12abc\" is read as 12 (\"abc\" is ignored)". An empty text of a number type is taken as 0
// without a word: nothing of it is dropped.
ValueTextNote ExamineValueText(SnmpSyntax syntax, const char* text);
