#include "common/syntax_kind.h"

namespace orvu {

ValueKind KindOfSyntax(uint32_t syntax, bool* known) {
  *known = true;
  switch (syntax) {
    case ORVU_SYNTAX_OCTETS:
    case ORVU_SYNTAX_IPADDR:
    case ORVU_SYNTAX_OPAQUE:
    case ORVU_SYNTAX_NSAPADDR: return ValueKind::Bytes;
    case ORVU_SYNTAX_OID: return ValueKind::Oid;
    case ORVU_SYNTAX_CNTR64: return ValueKind::Pair;
    case ORVU_SYNTAX_INTEGER:
    case ORVU_SYNTAX_NULL:
    case ORVU_SYNTAX_CNTR32:
    case ORVU_SYNTAX_GAUGE32:
    case ORVU_SYNTAX_TIMETICKS:
    case ORVU_SYNTAX_NOSUCHOBJECT:
    case ORVU_SYNTAX_NOSUCHINSTANCE:
    case ORVU_SYNTAX_ENDOFMIBVIEW: return ValueKind::Number;
    default: *known = false; return ValueKind::Number;
  }
}

bool SyntaxHasBlock(uint32_t syntax) {
  bool known = false;
  ValueKind kind = KindOfSyntax(syntax, &known);
  return known && (kind == ValueKind::Bytes || kind == ValueKind::Oid);
}

}  // namespace orvu
