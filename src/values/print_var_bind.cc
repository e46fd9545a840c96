#include "values/print_var_bind.h"

#include <cstdio>
#include <string>

#include "values/oid_text.h"
#include "values/syntax_table.h"
#include "values/value_text.h"

bool AppendVarBind(std::string& line, SnmpOid oid, SnmpValue value, uint8_t flags) {
  if (flags & PRINT_NEWLINE) line += "\n";
  if (flags & PRINT_OID_NUMERIC) AppendNumericOid(line, oid);
  if (flags & PRINT_OID_SYMBOLIC) AppendSymbolicOid(line, oid);
  if (flags & PRINT_MARKER) line += " **** ";
  if (flags & PRINT_SYNTAX) {
    const char* tag = SyntaxTag(value.syntax);
    if (tag != nullptr) line += tag;
    line += " ";
  }
  return !(flags & PRINT_VALUE) || AppendValueText(line, value);
}

int PrintVarBind(SnmpOid oid, SnmpValue value, uint8_t flags) {
  // The tool runs on one thread; one line buffer, kept between calls, spares a heap block per
  // leaf of a listing.
  static std::string line;
  line.clear();
  if (!AppendVarBind(line, oid, value, flags)) return 0;
  // One write, so that the line reaches the output whole.
  std::fwrite(line.data(), 1, line.size(), stdout);
  return 1;
}
