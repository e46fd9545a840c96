// Decimal numbers in typed value text, read the way the value letters promise.
#pragma once

#include <cstdint>

// True for the bytes that the readers skip before a number: 0x09 to 0x0D and the blank.
bool IsSpaceByte(char c);

// Skips white space, takes an optional sign, then decimal digits that accumulate modulo 2^32; a
// "-" negates modulo 2^32. Returns false when no digit follows. *END (if given) is the first byte
// after the digits.
bool ReadWrappingDecimal(const char* text, uint32_t* number, const char** end);

// As ReadWrappingDecimal, but a magnitude beyond 32 bits counts as 4294967295 before the sign
// applies, the way a counter or gauge is clamped.
bool ReadSaturatingDecimal(const char* text, uint32_t* number, const char** end);
