#include "values/piece_format.h"

#include <cstdarg>
#include <cstdio>

void AppendFormat(std::string& line, const char* format, ...) {
  char piece[64];
  va_list args;
  va_start(args, format);
  va_list again;
  va_copy(again, args);
  int length = std::vsnprintf(piece, sizeof piece, format, args);
  va_end(args);
  if (length > 0 && static_cast<size_t>(length) < sizeof piece) {
    line.append(piece, static_cast<size_t>(length));
  } else if (length > 0) {
    size_t start = line.size();
    line.resize(start + static_cast<size_t>(length) + 1);
    std::vsnprintf(&line[start], static_cast<size_t>(length) + 1, format, again);
    line.resize(start + static_cast<size_t>(length));
  }
  va_end(again);
}

void AppendUnsigned(std::string& line, uint32_t number) {
  char digits[10];
  size_t count = 0;
  do {
    digits[count++] = static_cast<char>('0' + number % 10);
    number /= 10;
  } while (number != 0);
  while (count > 0) line += digits[--count];
}

void AppendSigned(std::string& line, int32_t number) {
  if (number < 0) line += '-';
  // The magnitude of INT32_MIN does not fit an int32_t, but does fit a uint32_t.
  AppendUnsigned(line,
                 number < 0 ? 0u - static_cast<uint32_t>(number) : static_cast<uint32_t>(number));
}

void AppendHexByte(std::string& line, unsigned char byte) {
  constexpr char HEX_DIGITS[] = "0123456789abcdef";
  line += HEX_DIGITS[byte >> 4];
  line += HEX_DIGITS[byte & 0xF];
}
