#include "values/parse_value.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "values/decimal_text.h"
#include "values/dotted_list.h"
#include "values/nsap_text.h"
#include "values/value_block.h"

namespace {

// The longest OID text that converts; a longer one is refused rather than cut short.
constexpr size_t PARSE_OID_MAX_IDS = 1408;
constexpr size_t PARSE_IPADDR_BYTES = 4;

// Blocks go to the caller, who hands them to SnmpFreeValue, so they come from its allocator.
int AttachCopy(SnmpValue* value, const void* bytes, size_t size) {
  void* block = AllocateValueBlock(size);
  if (block == nullptr) return 0;
  std::memcpy(block, bytes, size);
  value->number = static_cast<uint32_t>(size);
  value->data = reinterpret_cast<uintptr_t>(block);
  return 1;
}

int ParseOctets(SnmpValue* value, const char* text) {
  size_t length = std::strlen(text);
  if (length == 0) return 1;
  return AttachCopy(value, text, length);
}

int ParseOid(SnmpValue* value, const char* text) {
  uint32_t ids[PARSE_OID_MAX_IDS];
  value->number = 0;
  long count = ReadDottedList(text, ids, PARSE_OID_MAX_IDS);
  if (count <= 0) return 0;
  if (!AttachCopy(value, ids, static_cast<size_t>(count) * sizeof(uint32_t))) return 0;
  value->number = static_cast<uint32_t>(count);
  return 1;
}

int ParseFourBytes(SnmpValue* value, const char* text) {
  uint32_t numbers[PARSE_IPADDR_BYTES];
  if (ReadDottedList(text, numbers, PARSE_IPADDR_BYTES) != PARSE_IPADDR_BYTES) return 0;
  unsigned char bytes[PARSE_IPADDR_BYTES];
  for (size_t i = 0; i < PARSE_IPADDR_BYTES; ++i) bytes[i] = static_cast<unsigned char>(numbers[i]);
  return AttachCopy(value, bytes, sizeof bytes);
}

int ParseCounter64(SnmpValue* value, const char* text) {
  unsigned int high = value->number;
  unsigned int low = static_cast<unsigned int>(value->data);
  std::sscanf(text, "%8x.%8x", &high, &low);
  value->number = high;
  value->data = low;
  return 1;
}

int ParseNsapAddress(SnmpValue* value, const char* text) {
  size_t length = 0;
  if (!ReadNsapText(text, nullptr, &length)) return 0;
  if (length == 0) return 1;
  unsigned char* block = static_cast<unsigned char*>(AllocateValueBlock(length));
  if (block == nullptr) return 0;
  ReadNsapText(text, block, &length);
  value->number = static_cast<uint32_t>(length);
  value->data = reinterpret_cast<uintptr_t>(block);
  return 1;
}

}  // namespace

int ParseValueText(SnmpValue* value, const char* text) {
  switch (value->syntax) {
    case SYNTAX_INTEGER: ReadWrappingDecimal(text, &value->number, nullptr); return 1;
    case SYNTAX_CNTR32:
    case SYNTAX_GAUGE32:
    case SYNTAX_TIMETICKS: ReadSaturatingDecimal(text, &value->number, nullptr); return 1;
    case SYNTAX_OCTETS: return ParseOctets(value, text);
    case SYNTAX_NULL:
    case SYNTAX_NOSUCHOBJECT:
    case SYNTAX_NOSUCHINSTANCE:
    case SYNTAX_ENDOFMIBVIEW: value->number &= ~uint32_t{0xFF}; return 1;
    case SYNTAX_OID: return ParseOid(value, text);
    case SYNTAX_IPADDR:
    case SYNTAX_OPAQUE: return ParseFourBytes(value, text);
    case SYNTAX_CNTR64: return ParseCounter64(value, text);
    case SYNTAX_NSAPADDR: return ParseNsapAddress(value, text);
    default: return 0;
  }
}
