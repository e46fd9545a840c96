#include "values/piece_format.h"

void AppendUnsigned(std::string& line, uint32_t number) {
  // Written from the end, then appended in one step: a listing prints several numbers a leaf.
  char digits[10];
  size_t at = sizeof digits;
  do {
    digits[--at] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  line.append(digits + at, sizeof digits - at);
}

void AppendSigned(std::string& line, int32_t number) {
  if (number < 0) line += '-';
  // The magnitude of INT32_MIN does not fit an int32_t, but does fit a uint32_t.
  AppendUnsigned(line,
                 number < 0 ? 0u - static_cast<uint32_t>(number) : static_cast<uint32_t>(number));
}

namespace {
constexpr char HEX_DIGITS[] = "0123456789abcdef";
}  // namespace

void AppendHexByte(std::string& line, unsigned char byte) {
  char pair[2] = {HEX_DIGITS[byte >> 4], HEX_DIGITS[byte & 0xF]};
  line.append(pair, 2);
}

void AppendHex(std::string& line, uint32_t number) {
  char digits[8];
  size_t at = sizeof digits;
  do {
    digits[--at] = HEX_DIGITS[number & 0xF];
    number >>= 4;
  } while (number != 0);
  line.append(digits + at, sizeof digits - at);
}

void AppendTwoDigits(std::string& line, uint32_t number) {
  if (number < 10) line += '0';
  AppendUnsigned(line, number);
}
