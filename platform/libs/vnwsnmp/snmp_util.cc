#include "orvu/snmp_util.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "common/decimal.h"
#include "common/faults.h"
#include "common/shared_heap.h"
#include "common/syntax_kind.h"

namespace {

// More sub-identifiers than any OID a MIB or an agent can hold; longer texts are refused rather
// than turned into an allocation the caller did not expect.
constexpr uint32_t SNMP_OID_TEXT_MAX_IDS = 65535;

// Calls TAKE with each sub-identifier of a dotted OID text; false when the text is not one or
// TAKE says stop.
template <typename Take>
bool ForEachSubIdentifier(std::string_view text, Take take) {
  for (;;) {
    size_t dot = text.find('.');
    uint64_t id = 0;
    if (!orvu::ParseDigits(text.substr(0, dot), UINT32_MAX, &id)) return false;
    if (!take(static_cast<uint32_t>(id))) return false;
    if (dot == std::string_view::npos) return true;
    text.remove_prefix(dot + 1);
  }
}

// Digits of ID in decimal.
size_t DecimalWidth(uint32_t id) {
  size_t width = 1;
  for (uint64_t bound = 10; id >= bound && width < 10; bound *= 10) ++width;
  return width;
}

// Writes ID's decimal digits, two per division, so that they end just before END.
void WriteDecimal(uint32_t id, char* end) {
  static constexpr char PAIRS[] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  while (id >= 100) {
    uint32_t pair = (id % 100) * 2;
    id /= 100;
    *--end = PAIRS[pair + 1];
    *--end = PAIRS[pair];
  }
  if (id >= 10) {
    *--end = PAIRS[id * 2 + 1];
    *--end = PAIRS[id * 2];
  } else {
    *--end = static_cast<char>('0' + id);
  }
}

// Appends ".ID" (or "ID" first, at AT 0) at TEXT + AT; returns the new end.
size_t AppendId(char* text, size_t at, uint32_t id) {
  if (at > 0) text[at++] = '.';
  size_t width = DecimalWidth(id);
  WriteDecimal(id, text + at + width);
  return at + width;
}

// The text of the last OID formatted, up to its first OID_TEXT_MEMO_IDS
// sub-identifiers: ends[i] is where the text of ids[0..i] ends.
constexpr uint32_t OID_TEXT_MEMO_IDS = 64;
// The widest sub-identifier, "4294967295", and its dot.
constexpr size_t OID_TEXT_CHARS_PER_ID = 11;
struct OidTextMemo {
  uint32_t count;
  uint32_t ids[OID_TEXT_MEMO_IDS];
  uint32_t ends[OID_TEXT_MEMO_IDS];
  char text[OID_TEXT_MEMO_IDS * OID_TEXT_CHARS_PER_ID];
};
// One memo for the process, taken by one call at a time: a call that finds it taken formats
// without it. No thread-local storage: this library is loaded with dlopen, where a thread's
// blocks live in dynamic TLS, which LeakSanitizer's thread scan misreads (it crashed at the tool's
// exit).
OidTextMemo gLastOidText;
std::atomic<bool> gLastOidTextTaken{false};

// Writes the sub-identifiers of OID from FIRST on after the USED characters of BUFFER and ends the
// text; 1, or 0 with an empty BUFFER when SIZE is too small.
int AppendIds(const SnmpOid* oid, uint32_t first, size_t used, uint32_t size, char* buffer) {
  for (uint32_t i = first; i < oid->count; ++i) {
    if (used + 1 + DecimalWidth(oid->ids[i]) + 1 > size) {
      buffer[0] = '\0';
      return 0;
    }
    used = AppendId(buffer, used, oid->ids[i]);
  }
  buffer[used] = '\0';
  return 1;
}

}  // namespace

extern "C" {

ORVU_EXPORT int ORVU_CALL SnmpStringToOid(const char* text, SnmpOid* oid) {
  ORVU_FAULT_POINT("SnmpStringToOid", int, nullptr);
  if (!text || !oid) return 0;
  // First pass validates and counts, so that nothing is allocated for a text that is refused.
  uint32_t count = 0;
  if (!ForEachSubIdentifier(text, [&](uint32_t) { return ++count <= SNMP_OID_TEXT_MAX_IDS; })) {
    return 0;
  }
  uint32_t* ids = static_cast<uint32_t*>(orvu::SharedAlloc(sizeof(uint32_t) * count));
  if (!ids) return 0;
  uint32_t filled = 0;
  ForEachSubIdentifier(text, [&](uint32_t id) {
    ids[filled++] = id;
    return true;
  });
  oid->count = count;
  oid->ids = ids;
  return 1;
}

ORVU_EXPORT int ORVU_CALL SnmpOidToString(const SnmpOid* oid, uint32_t size, char* buffer) {
  ORVU_FAULT_POINT("SnmpOidToString", int, nullptr);
  if (!buffer || size == 0) return 0;
  buffer[0] = '\0';
  if (!oid || (oid->count > 0 && !oid->ids)) return 0;
  // Listings print every leaf's OID through here, and the leaves of a table share all but their
  // last few sub-identifiers with the OID before: that part's text is kept, and only the rest is
  // formatted. The text of the first OID_TEXT_MEMO_IDS sub-identifiers is put together in the
  // memo and copied out in one piece.
  if (gLastOidTextTaken.exchange(true, std::memory_order_acquire))
    return AppendIds(oid, 0, 0, size, buffer);
  OidTextMemo& memo = gLastOidText;
  uint32_t same = 0;
  uint32_t comparable = std::min(oid->count, memo.count);
  while (same < comparable && memo.ids[same] == oid->ids[same]) ++same;
  size_t used = same > 0 ? memo.ends[same - 1] : 0;
  uint32_t remembered = std::min(oid->count, OID_TEXT_MEMO_IDS);
  for (uint32_t i = same; i < remembered; ++i) {
    used = AppendId(memo.text, used, oid->ids[i]);
    memo.ids[i] = oid->ids[i];
    memo.ends[i] = static_cast<uint32_t>(used);
  }
  memo.count = remembered;
  bool fits = used + 1 <= size;
  if (fits) std::memcpy(buffer, memo.text, used);
  gLastOidTextTaken.store(false, std::memory_order_release);
  if (!fits) return 0;
  return AppendIds(oid, remembered, used, size, buffer);
}

ORVU_EXPORT int ORVU_CALL SnmpFreeValue(uint32_t syntax, void* pair) {
  ORVU_FAULT_POINT("SnmpFreeValue", int, nullptr);
  if (!pair) return 0;
  if (orvu::SyntaxHasBlock(syntax)) {
    // The (length, pointer) pair of a value is laid out exactly like an SnmpOid.
    SnmpOid* held = static_cast<SnmpOid*>(pair);
    orvu::SharedFree(held->ids);
    held->ids = nullptr;
    held->count = 0;
  }
  return 1;
}

}  // extern "C"
