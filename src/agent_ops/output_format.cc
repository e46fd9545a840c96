#include "agent_ops/output_format.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

namespace {

constexpr const char* DAY_NAMES[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* MONTH_NAMES[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char* TIME_MISSING = "(null)";

bool ToLocalTime(int32_t seconds, std::tm* local) {
  std::time_t time = seconds;
#ifdef _WIN32
  return localtime_s(local, &time) == 0;
#else
  tzset();
  return localtime_r(&time, local) != nullptr;
#endif
}

}  // namespace

const char* FormatHandle(uint32_t value, char (&buffer)[9]) {
  constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
  for (int i = 7; i >= 0; --i, value >>= 4) buffer[i] = HEX_DIGITS[value & 0xF];
  buffer[8] = '\0';
  return buffer;
}

// The names are the tool's own, not the C library's, so the text is English in every locale.
const char* FormatTimeText(int32_t seconds, char (&buffer)[32]) {
  // A listing asks for the same few times over and over: the last text is kept with the time and
  // the zone it was made for.
  static int32_t lastSeconds = -1;
  static std::string lastZone;
  static char lastText[32];
  const char* zoneVariable = std::getenv("TZ");
  std::string zone = zoneVariable != nullptr ? std::string("=") + zoneVariable : std::string();
  if (seconds >= 0 && seconds == lastSeconds && zone == lastZone) {
    std::memcpy(buffer, lastText, sizeof buffer);
    return buffer;
  }
  std::tm local{};
  if (seconds < 0 || !ToLocalTime(seconds, &local) || local.tm_wday < 0 || local.tm_wday > 6 ||
      local.tm_mon < 0 || local.tm_mon > 11) {
    return TIME_MISSING;
  }
  std::snprintf(buffer, sizeof(buffer), "%s %s %02d %02d:%02d:%02d %04d\n",
                DAY_NAMES[local.tm_wday], MONTH_NAMES[local.tm_mon], local.tm_mday, local.tm_hour,
                local.tm_min, local.tm_sec, local.tm_year + 1900);
  std::memcpy(lastText, buffer, sizeof lastText);
  lastSeconds = seconds;
  lastZone = zone;
  return buffer;
}
