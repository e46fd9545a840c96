#include "values/syntax_table.h"

#include <cstring>
#include <string>

namespace {

struct SyntaxRow {
  SnmpSyntax code;
  const char* tag;
  const char* name;     // nullptr: no type letter chooses it
  const char* letters;  // -m type letters, lower case; the first is the one to suggest
  bool holdsStorage;
  const char* smiName;
};

constexpr SyntaxRow SYNTAX_ROWS[] = {
    {SYNTAX_INTEGER, "(int,int32)", "int, int32", "iu", false, "INTEGER"},
    {SYNTAX_OCTETS, "(octets)", "octets", "ob", true, "OCTET STRING"},
    {SYNTAX_NULL, "(null)", "null", "n", false, "NULL"},
    {SYNTAX_OID, "(oid)", "oid", "d", true, "OBJECT IDENTIFIER"},
    {SYNTAX_IPADDR, "(ipaddr)", "ipaddr", "a", true, "IpAddress"},
    {SYNTAX_CNTR32, "(cntr32)", "cntr32", "c", false, "Counter32"},
    {SYNTAX_GAUGE32, "(gauge32)", "gauge32", "g", false, "Gauge32"},
    {SYNTAX_TIMETICKS, "(timeticks)", "timeticks", "t", false, "TimeTicks"},
    {SYNTAX_OPAQUE, "(opaque)", "opaque", "q", true, "Opaque"},
    {SYNTAX_NSAPADDR, "(nsapaddr)", "nsapaddr", "p", true, "NsapAddress"},
    {SYNTAX_CNTR64, "(cntr64)", nullptr, "", false, "Counter64"},
    {SYNTAX_NOSUCHOBJECT, "(nosuchobject)", nullptr, "", false, "noSuchObject"},
    {SYNTAX_NOSUCHINSTANCE, "(nosuchinstance)", nullptr, "", false, "noSuchInstance"},
    {SYNTAX_ENDOFMIBVIEW, "(endofmibview)", nullptr, "", false, "endOfMibView"},
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

std::string SyntaxSmiText(SnmpSyntax syntax, bool withLetter) {
  const SyntaxRow* row = RowOf(syntax);
  if (row == nullptr) return "syntax " + std::to_string(syntax);
  std::string text = row->smiName;
  if (withLetter && row->letters[0] != '\0') text += std::string(" (-m") + row->letters[0] + ")";
  return text;
}

const char* TypeLetterList() {
  return "o OCTET STRING (any text), b BITS (any text, written as octets), i INTEGER (a decimal "
         "number), u INTEGER (the same as i), c Counter32, g Gauge32 and t TimeTicks (a decimal "
         "number from 0 to 4294967295), d OBJECT IDENTIFIER (dotted numbers, 1.3.6.1), "
         "a IpAddress (four dotted numbers from 0 to 255), q Opaque (four dotted numbers, as "
         "four bytes), p NsapAddress (two-digit hex bytes joined by dots, 47.00.05), n NULL "
         "(no text)";
}

bool SyntaxHoldsStorage(SnmpSyntax syntax) {
  const SyntaxRow* row = RowOf(syntax);
  return row && row->holdsStorage;
}
