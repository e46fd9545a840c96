#include "values/oid_text.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "agentapi/outside_api.h"
#include "values/piece_format.h"

namespace {

// The buffer size that the libraries have always been offered; longer texts get a larger one.
constexpr uint32_t OID_TEXT_BASE_SIZE = 500;
// Widest sub-identifier, "4294967295", plus its separator.
constexpr size_t OID_TEXT_CHARS_PER_ID = 11;
// No MIB object lies deeper than 128 sub-identifiers, so longer prefixes are never looked up:
// this keeps the search linear for the long OIDs an agent may send.
constexpr uint32_t OID_LOOKUP_MAX_DEPTH = 128;
// Object names are short; the retry with a larger buffer stops at this size.
constexpr uint32_t OID_NAME_MAX_SIZE = 1u << 16;

void AppendTerminated(std::string& line, const std::vector<char>& buffer) {
  line.append(buffer.data(), strnlen(buffer.data(), buffer.size()));
}

void AppendObjectName(std::string& line, uint32_t object) {
  // Names nearly always fit the base size: the first try needs no heap block.
  char first[OID_TEXT_BASE_SIZE] = {};
  uint32_t firstSize = sizeof first;
  gApi.MibGetObjectName(object, MIB_FORM_NAME, &firstSize, first);
  size_t firstLength = strnlen(first, sizeof first);
  if (firstLength < sizeof first - 1) {
    line.append(first, firstLength);
    return;
  }
  std::vector<char> buffer;
  for (uint32_t capacity = OID_TEXT_BASE_SIZE * 2;; capacity *= 2) {
    buffer.assign(capacity, '\0');
    uint32_t size = capacity;
    gApi.MibGetObjectName(object, MIB_FORM_NAME, &size, buffer.data());
    // A name that fills the buffer to its last byte may have been cut; ask again with more room.
    if (strnlen(buffer.data(), capacity) < capacity - 1 || capacity >= OID_NAME_MAX_SIZE) break;
  }
  AppendTerminated(line, buffer);
}

}  // namespace

void AppendNumericOid(std::string& line, const SnmpOid& oid) {
  size_t size = std::max<size_t>(OID_TEXT_BASE_SIZE, oid.count * OID_TEXT_CHARS_PER_ID + 1);
  // Most OIDs fit the base size: every leaf of a listing is printed without a heap block.
  char stack[OID_TEXT_BASE_SIZE];
  std::vector<char> heap;
  char* buffer = stack;
  if (size > sizeof stack) {
    heap.resize(size);
    buffer = heap.data();
  }
  buffer[0] = '\0';
  gApi.SnmpOidToString(&oid, static_cast<uint32_t>(size), buffer);
  line.append(buffer, strnlen(buffer, size));
}

void AppendSymbolicOid(std::string& line, const SnmpOid& oid) {
  uint32_t known = std::min(oid.count, OID_LOOKUP_MAX_DEPTH);
  uint32_t object = 0;
  for (; known > 0; --known) {
    SnmpOid prefix{known, oid.ids};
    object = gApi.MibLookupOid(&prefix);
    if (object != 0) break;
  }
  if (object != 0) AppendObjectName(line, object);
  for (uint32_t i = known; i < oid.count; ++i) {
    if (i > 0) line += '.';
    AppendUnsigned(line, oid.ids[i]);
  }
}
