#include "values/syntax_table.h"

#include <cstring>

namespace {

struct SyntaxRow {
  SnmpSyntax code;
  const char* tag;
  const char* name;     // nullptr: no type letter chooses it
  const char* letters;  // -m type letters, lower case
  bool holdsStorage;
};

constexpr SyntaxRow SYNTAX_ROWS[] = {
    {SYNTAX_INTEGER, "(int,int32)", "int, int32", "iu", false},
    {SYNTAX_OCTETS, "(octets)", "octets", "bo", true},
    {SYNTAX_NULL, "(null)", "null", "n", false},
    {SYNTAX_OID, "(oid)", "oid", "d", true},
    {SYNTAX_IPADDR, "(ipaddr)", "ipaddr", "a", true},
    {SYNTAX_CNTR32, "(cntr32)", "cntr32", "c", false},
    {SYNTAX_GAUGE32, "(gauge32)", "gauge32", "g", false},
    {SYNTAX_TIMETICKS, "(timeticks)", "timeticks", "t", false},
    {SYNTAX_OPAQUE, "(opaque)", "opaque", "q", true},
    {SYNTAX_NSAPADDR, "(nsapaddr)", "nsapaddr", "p", true},
    {SYNTAX_CNTR64, "(cntr64)", nullptr, "", false},
    {SYNTAX_NOSUCHOBJECT, "(nosuchobject)", nullptr, "", false},
    {SYNTAX_NOSUCHINSTANCE, "(nosuchinstance)", nullptr, "", false},
    {SYNTAX_ENDOFMIBVIEW, "(endofmibview)", nullptr, "", false},
};

const SyntaxRow* RowOf(SnmpSyntax syntax) {
  for (const SyntaxRow& row : SYNTAX_ROWS) {
    if (row.code == syntax) return &row;
  }
  return nullptr;
}

}  // namespace

const char* SyntaxTag(SnmpSyntax syntax) {
  const SyntaxRow* row = RowOf(syntax);
  return row ? row->tag : nullptr;
}

const char* SyntaxName(SnmpSyntax syntax) {
  const SyntaxRow* row = RowOf(syntax);
  return row && row->name ? row->name : "bad syntax";
}

SnmpSyntax SyntaxOfTypeLetter(char letter) {
  if (letter == '\0') return SYNTAX_UNDEFINED;
  for (const SyntaxRow& row : SYNTAX_ROWS) {
    if (std::strchr(row.letters, letter)) return row.code;
  }
  return SYNTAX_UNDEFINED;
}

bool SyntaxHoldsStorage(SnmpSyntax syntax) {
  const SyntaxRow* row = RowOf(syntax);
  return row && row->holdsStorage;
}
