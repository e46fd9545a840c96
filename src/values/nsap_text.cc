#include "values/nsap_text.h"

namespace {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

bool ReadNsapText(const char* text, unsigned char* bytes, size_t* length) {
  size_t count = 0;
  const char* p = text;
  while (*p != '\0') {
    if (count > 0 && *p++ != '.') return false;
    int high = HexDigitValue(p[0]);
    int low = high < 0 ? -1 : HexDigitValue(p[1]);
    if (low < 0) return false;
    if (bytes) bytes[count] = static_cast<unsigned char>(high * 16 + low);
    ++count;
    p += 2;
  }
  *length = count;
  return true;
}
