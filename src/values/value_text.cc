#include "values/value_text.h"

#include "values/oid_text.h"
#include "values/piece_format.h"

namespace {

constexpr uint32_t TICKS_PER_DAY = 8640000;
constexpr uint32_t TICKS_PER_HOUR = 360000;
constexpr uint32_t TICKS_PER_MINUTE = 6000;
constexpr uint32_t TICKS_PER_SECOND = 100;

// A value from the agent may announce bytes without a block; it shows as no bytes at all.
uint32_t PayloadLength(const SnmpValue& value) { return value.data == 0 ? 0 : value.number; }

const unsigned char* PayloadBytes(const SnmpValue& value) {
  return reinterpret_cast<const unsigned char*>(value.data);
}

void AppendTimeTicks(std::string& line, uint32_t ticks) {
  unsigned days = ticks / TICKS_PER_DAY;
  unsigned hours = ticks / TICKS_PER_HOUR % 24;
  unsigned minutes = ticks / TICKS_PER_MINUTE % 60;
  unsigned seconds = ticks / TICKS_PER_SECOND % 60;
  unsigned hundredths = ticks % TICKS_PER_SECOND;
  // "%u %s %02uh:%02um:%02us.%02uth"
  AppendUnsigned(line, days);
  line += days == 1 ? " day " : " days ";
  AppendTwoDigits(line, hours);
  line += "h:";
  AppendTwoDigits(line, minutes);
  line += "m:";
  AppendTwoDigits(line, seconds);
  line += "s.";
  AppendTwoDigits(line, hundredths);
  line += "th";
}

void AppendHexBytes(std::string& line, const unsigned char* bytes, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (i > 0) line += '.';
    AppendHexByte(line, bytes[i]);
  }
  line += " (hex)";
}

bool IsPlainByte(unsigned char c) { return (c >= 0x20 && c <= 0x7E) || (c >= 0x09 && c <= 0x0D); }

void AppendOctets(std::string& line, const SnmpValue& value) {
  uint32_t length = PayloadLength(value);
  const unsigned char* bytes = PayloadBytes(value);
  if (length == 0) {
    line += "(zero-length)";
    return;
  }
  // A C string that came with its terminator still counts as text.
  uint32_t textLength = bytes[length - 1] == 0 ? length - 1 : length;
  for (uint32_t i = 0; i < textLength; ++i) {
    if (!IsPlainByte(bytes[i])) {
      AppendHexBytes(line, bytes, length);
      return;
    }
  }
  line.append(reinterpret_cast<const char*>(bytes), textLength);
}

void AppendIpAddress(std::string& line, const SnmpValue& value) {
  const unsigned char* bytes = PayloadBytes(value);
  for (uint32_t i = 0; i < PayloadLength(value); ++i) {
    if (i > 0) line += '.';
    AppendUnsigned(line, bytes[i]);
  }
}

void AppendOidValue(std::string& line, const SnmpValue& value) {
  SnmpOid oid{PayloadLength(value), reinterpret_cast<uint32_t*>(value.data)};
  if (oid.count == 2 && oid.ids[0] == 0 && oid.ids[1] == 0) line += "(null-oid) ";
  AppendSymbolicOid(line, oid);
}

}  // namespace

bool AppendValueText(std::string& line, const SnmpValue& value) {
  switch (value.syntax) {
    case SYNTAX_INTEGER: AppendSigned(line, static_cast<int32_t>(value.number)); return true;
    case SYNTAX_CNTR32:
    case SYNTAX_GAUGE32: AppendUnsigned(line, value.number); return true;
    case SYNTAX_TIMETICKS: AppendTimeTicks(line, value.number); return true;
    case SYNTAX_OCTETS: AppendOctets(line, value); return true;
    case SYNTAX_NULL: line += "NULL"; return true;
    case SYNTAX_OID: AppendOidValue(line, value); return true;
    case SYNTAX_IPADDR: AppendIpAddress(line, value); return true;
    case SYNTAX_OPAQUE:
    case SYNTAX_NSAPADDR:
      AppendHexBytes(line, PayloadBytes(value), PayloadLength(value));
      return true;
    case SYNTAX_CNTR64:
      AppendHex(line, value.number);
      line += '.';
      AppendHex(line, static_cast<uint32_t>(value.data));
      line += " (hex)";
      return true;
    case SYNTAX_NOSUCHOBJECT: line += "NOSUCHOBJECT"; return true;
    case SYNTAX_NOSUCHINSTANCE: line += "NOSUCHINSTANCE"; return true;
    case SYNTAX_ENDOFMIBVIEW: line += "ENDOFMIBVIEW"; return true;
    default: return false;
  }
}
