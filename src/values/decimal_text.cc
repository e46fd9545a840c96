#include "values/decimal_text.h"

namespace {

// Returns the first digit and whether the number is negated.
const char* SkipToDigits(const char* text, bool* negative) {
  while (IsSpaceByte(*text)) ++text;
  *negative = *text == '-';
  if (*text == '+' || *text == '-') ++text;
  return text;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool ReadDecimal(const char* text, bool saturate, uint32_t* number, const char** end) {
  bool negative = false;
  const char* p = SkipToDigits(text, &negative);
  if (!IsDigit(*p)) {
    *number = 0;
    if (end) *end = p;
    return false;
  }
  uint64_t magnitude = 0;
  for (; IsDigit(*p); ++p) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
    if (saturate && magnitude > UINT32_MAX) magnitude = uint64_t{UINT32_MAX} + 1;
    if (!saturate) magnitude &= UINT32_MAX;
  }
  uint32_t value = magnitude > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(magnitude);
  *number = negative ? 0u - value : value;
  if (end) *end = p;
  return true;
}

}  // namespace

bool IsSpaceByte(char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

bool ReadWrappingDecimal(const char* text, uint32_t* number, const char** end) {
  return ReadDecimal(text, false, number, end);
}

bool ReadSaturatingDecimal(const char* text, uint32_t* number, const char** end) {
  return ReadDecimal(text, true, number, end);
}
