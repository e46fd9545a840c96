#include "cli/invocation.h"

const char* SyntaxName(SnmpSyntax syntax) {
  switch (syntax) {
    case SYNTAX_INTEGER: return "int, int32";
    case SYNTAX_OCTETS: return "octets";
    case SYNTAX_NULL: return "null";
    case SYNTAX_OID: return "oid";
    case SYNTAX_IPADDR: return "ipaddr";
    case SYNTAX_CNTR32: return "cntr32";
    case SYNTAX_GAUGE32: return "gauge32";
    case SYNTAX_TIMETICKS: return "timeticks";
    case SYNTAX_OPAQUE: return "opaque";
    case SYNTAX_NSAPADDR: return "nsapaddr";
    default: return "bad syntax";
  }
}
