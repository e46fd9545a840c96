// The syntax codes that the fuzz targets pick from: every known one and a few that are not.
#pragma once

#include <cstddef>
#include <cstdint>

#include "values/snmp_value.h"

inline constexpr SnmpSyntax FUZZ_SYNTAXES[] = {SYNTAX_INTEGER,
                                               SYNTAX_OCTETS,
                                               SYNTAX_NULL,
                                               SYNTAX_OID,
                                               SYNTAX_IPADDR,
                                               SYNTAX_CNTR32,
                                               SYNTAX_GAUGE32,
                                               SYNTAX_TIMETICKS,
                                               SYNTAX_OPAQUE,
                                               SYNTAX_NSAPADDR,
                                               SYNTAX_CNTR64,
                                               SYNTAX_NOSUCHOBJECT,
                                               SYNTAX_NOSUCHINSTANCE,
                                               SYNTAX_ENDOFMIBVIEW,
                                               3,
                                               7,
                                               131,
                                               SYNTAX_UNDEFINED};

inline SnmpSyntax FuzzSyntax(uint8_t selector) {
  return FUZZ_SYNTAXES[selector % (sizeof FUZZ_SYNTAXES / sizeof FUZZ_SYNTAXES[0])];
}

// True for the syntaxes whose value carries a block that its holder releases.
inline bool HasBlock(SnmpSyntax syntax) {
  return syntax == SYNTAX_OCTETS || syntax == SYNTAX_OID || syntax == SYNTAX_IPADDR ||
         syntax == SYNTAX_OPAQUE || syntax == SYNTAX_NSAPADDR;
}
