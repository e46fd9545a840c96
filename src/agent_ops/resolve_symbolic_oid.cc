#include "agent_ops/resolve_symbolic_oid.h"

#include <cstring>

#include "agentapi/outside_api.h"
#include "values/snmp_value.h"

namespace {
constexpr size_t RESOLVE_TEXT_SIZE = 1024;
}

int ResolveSymbolicOid(const char* text, SnmpOid* oid) {
  char work[RESOLVE_TEXT_SIZE];
  char numeric[RESOLVE_TEXT_SIZE];

  size_t textLength = std::strlen(text);
  if (textLength >= sizeof work) {
    return 0;
  }
  std::memcpy(work, text, textLength + 1);

  // The name ends at the first dot; everything after it is the instance suffix, even when empty.
  char* suffix = std::strchr(work, '.');
  if (suffix != nullptr) {
    *suffix++ = '\0';
  }

  uint32_t object = gApi.MibLookupName(work);
  if (object == 0) {
    return 0;
  }
  if (gApi.MibGetObjectOid(object, MIB_FORM_OID, oid) == 0) {
    return 0;
  }
  int converted = gApi.SnmpOidToString(oid, sizeof numeric, numeric);
  gApi.SnmpFreeValue(SYNTAX_OID, oid);
  *oid = SnmpOid{};
  if (converted == 0) {
    return 0;
  }
  // The library promises a terminated text; we do not let a broken promise run past the buffer.
  numeric[sizeof numeric - 1] = '\0';

  if (suffix != nullptr) {
    size_t numericLength = std::strlen(numeric);
    size_t suffixLength = std::strlen(suffix);
    if (numericLength + 1 + suffixLength >= sizeof numeric) {
      return 0;
    }
    numeric[numericLength] = '.';
    std::memcpy(numeric + numericLength + 1, suffix, suffixLength + 1);
  }
  return gApi.SnmpStringToOid(numeric, oid) != 0 ? 1 : 0;
}
