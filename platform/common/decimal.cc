#include "common/decimal.h"

namespace orvu {

bool ParseDigits(std::string_view text, uint64_t max, uint64_t* out) {
  if (text.empty()) return false;
  // One division per number, not per digit: a start-up reads millions of them.
  const uint64_t tenth = max / 10, lastDigit = max % 10;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    uint64_t digit = static_cast<uint64_t>(c - '0');
    if (value > tenth || (value == tenth && digit > lastDigit)) return false;
    value = value * 10 + digit;
  }
  *out = value;
  return true;
}

bool ParseDecimal(std::string_view text, int64_t low, int64_t high, int64_t* out) {
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.remove_prefix(1);
  // The magnitude is bounded by the side of the range that its sign reaches.
  uint64_t limit = negative ? (low < 0 ? static_cast<uint64_t>(-(low + 1)) + 1 : 0)
                            : (high < 0 ? 0 : static_cast<uint64_t>(high));
  uint64_t magnitude = 0;
  if (!ParseDigits(text, limit, &magnitude)) return false;
  int64_t value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
  if (value < low || value > high) return false;
  *out = value;
  return true;
}

}  // namespace orvu
