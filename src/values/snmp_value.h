// The value record exchanged as it is with the outside libraries, and its syntax codes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "agentapi/snmp_oid.h"

using SnmpSyntax = uint32_t;

constexpr SnmpSyntax SYNTAX_INTEGER = 2;
constexpr SnmpSyntax SYNTAX_OCTETS = 4;
constexpr SnmpSyntax SYNTAX_NULL = 5;
constexpr SnmpSyntax SYNTAX_OID = 6;
constexpr SnmpSyntax SYNTAX_IPADDR = 64;
constexpr SnmpSyntax SYNTAX_CNTR32 = 65;
constexpr SnmpSyntax SYNTAX_GAUGE32 = 66;
constexpr SnmpSyntax SYNTAX_TIMETICKS = 67;
constexpr SnmpSyntax SYNTAX_OPAQUE = 68;
constexpr SnmpSyntax SYNTAX_NSAPADDR = 69;
constexpr SnmpSyntax SYNTAX_CNTR64 = 70;
constexpr SnmpSyntax SYNTAX_NOSUCHOBJECT = 128;
constexpr SnmpSyntax SYNTAX_NOSUCHINSTANCE = 129;
constexpr SnmpSyntax SYNTAX_ENDOFMIBVIEW = 130;

// The code that a -m type letter outside the letter table records: no syntax has it.
constexpr SnmpSyntax SYNTAX_UNDEFINED = 0xFFFFFFFFu;

// syntax, number, data: 32 bits each on the libraries' 32-bit platform. Elsewhere `data` is
// pointer-wide and the (number, data) pair is aligned like an SnmpOid, because the libraries
// take the address of `number` as an SnmpOid for OID values.
struct SnmpValue {
  SnmpSyntax syntax;
  alignas(void*) uint32_t number;
  uintptr_t data;  // pointer to the payload, or the second half of a Counter64
};

static_assert(offsetof(SnmpValue, data) - offsetof(SnmpValue, number) == offsetof(SnmpOid, ids));
static_assert(sizeof(void*) != 4 || sizeof(SnmpValue) == 12);
