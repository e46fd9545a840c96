// The one decimal integer reader of the platform: the agent's command line and state file, the
// MIB reader, the OID text of the SNMP utility library and fault injection all read numbers
// through it.
#pragma once

#include <cstdint>
#include <string_view>

namespace orvu {

// Digits only, at most MAX; false when TEXT is empty, holds anything else, or exceeds MAX.
bool ParseDigits(std::string_view text, uint64_t max, uint64_t* out);

// An optional '-' and digits, between LOW and HIGH; nothing else may come before or after.
bool ParseDecimal(std::string_view text, int64_t low, int64_t high, int64_t* out);

}  // namespace orvu
