// The one operation of the MIB library beyond the binding table: a client that finds it can tell
// its user why a load or a lookup failed. A library built without this file works as before.
#include <algorithm>
#include <cstring>
#include <string>

#include "libs/vnxmib/mib_reasons.h"
#include "orvu/mib_lib.h"

extern "C" {

ORVU_EXPORT int ORVU_CALL MibGetLastReason(char* buffer, uint32_t size) {
  if (!buffer || size == 0) return 0;
  std::string reason = orvu::mib::LastReason();
  size_t copied = std::min<size_t>(reason.size(), size - 1);
  std::memcpy(buffer, reason.data(), copied);
  buffer[copied] = '\0';
  return reason.empty() ? 0 : 1;
}

}  // extern "C"
