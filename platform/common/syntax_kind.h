// The one place the platform tells what shape a value of each syntax has. The syntax codes
// themselves are the ORVU_SYNTAX_ constants of orvu/orvu_types.h.
#pragma once

#include <cstdint>

#include "orvu/orvu_types.h"

namespace orvu {

// How the (number, data) pair of a value is filled; the numbers travel on the agent's wire.
enum class ValueKind : uint8_t {
  Number = 0,  // number only
  Pair = 1,    // two 32-bit halves (Counter64)
  Bytes = 2,   // data points to `number` bytes
  Oid = 3,     // data points to `number` sub-identifiers
};

// The shape that a known syntax has; *known is false for codes outside the SNMP set, which the
// agent may still hold (from a hand-written state file) as numbers or as bytes.
ValueKind KindOfSyntax(uint32_t syntax, bool* known);

// Whether a value of a known SYNTAX points to a block of its own (bytes or sub-identifiers).
bool SyntaxHasBlock(uint32_t syntax);

}  // namespace orvu
