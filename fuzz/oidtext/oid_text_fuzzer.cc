// The OID text conversions both ways. The input is read twice: as a text, which must come back
// unchanged (but for leading zeros) when it is accepted, and as raw sub-identifiers, which must
// print into a buffer of any size without a byte written past it.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "orvu/snmp_util.h"

namespace {

// The text of OID as the conversion is expected to write it.
std::string DottedText(const SnmpOid& oid) {
  std::string text;
  for (uint32_t i = 0; i < oid.count; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(oid.ids[i]);
  }
  return text;
}

// Sub-identifiers may carry leading zeros on the way in; they never come out.
std::string WithoutLeadingZeros(const std::string& text) {
  std::string result;
  size_t at = 0;
  while (at <= text.size()) {
    size_t dot = text.find('.', at);
    if (dot == std::string::npos) dot = text.size();
    size_t first = at;
    while (first + 1 < dot && text[first] == '0') ++first;
    if (at > 0) result += '.';
    result.append(text, first, dot - first);
    at = dot + 1;
  }
  return result;
}

// Writes OID into an exactly sized heap block, so that one byte past it is caught.
void PrintWithSize(const SnmpOid& oid, uint32_t size, const std::string& expected) {
  char* buffer = static_cast<char*>(std::malloc(size == 0 ? 1 : size));
  int result = SnmpOidToString(&oid, size, size == 0 ? buffer + 1 : buffer);
  bool fits = size > expected.size();
  if (fits) {
    if (result != 1 || expected != buffer) std::abort();
  } else {
    if (result != 0) std::abort();
    if (size > 0 && buffer[0] != '\0') std::abort();
  }
  std::free(buffer);
}

// Every small size, and the sizes around the one that just fits.
void PrintWithEverySize(const SnmpOid& oid) {
  std::string expected = DottedText(oid);
  uint32_t needed = static_cast<uint32_t>(expected.size()) + 1;
  for (uint32_t size = 0; size <= 24 && size <= needed + 1; ++size)
    PrintWithSize(oid, size, expected);
  for (uint32_t size = needed > 27 ? needed - 2 : 25; size <= needed + 1; ++size) {
    PrintWithSize(oid, size, expected);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  char* text = static_cast<char*>(std::malloc(size + 1));
  std::memcpy(text, data, size);
  text[size] = '\0';
  SnmpOid oid{0, nullptr};
  if (SnmpStringToOid(text, &oid) == 1) {
    if (oid.count == 0 || oid.ids == nullptr) std::abort();
    if (DottedText(oid) != WithoutLeadingZeros(text)) std::abort();
    PrintWithEverySize(oid);
    if (SnmpFreeValue(ORVU_SYNTAX_OID, &oid) != 1 || oid.count != 0 || oid.ids != nullptr)
      std::abort();
  } else if (oid.count != 0 || oid.ids != nullptr) {
    std::abort();
  }
  std::free(text);

  SnmpOid raw{static_cast<uint32_t>(size / 4), nullptr};
  raw.ids = static_cast<uint32_t*>(std::malloc(raw.count == 0 ? 1 : raw.count * 4));
  if (raw.count > 0) std::memcpy(raw.ids, data, raw.count * 4);
  PrintWithEverySize(raw);
  std::free(raw.ids);
  return 0;
}
