#include "values/value_findings.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <vector>

#include "values/decimal_text.h"
#include "values/nsap_text.h"

namespace {

// The same limits as the conversion's own.
constexpr size_t FINDINGS_OID_MAX_IDS = 1408;
constexpr size_t FINDINGS_FOUR_BYTES = 4;

struct NumberReading {
  bool digits = false;
  bool negative = false;
  bool beyond32 = false;  // the magnitude does not fit in 32 bits
  uint32_t wrapped = 0;   // what the wrapping reader makes of it
  const char* end = nullptr;
};

NumberReading ReadNumber(const char* text) {
  NumberReading reading;
  reading.digits = ReadWrappingDecimal(text, &reading.wrapped, &reading.end);
  const char* p = text;
  while (IsSpaceByte(*p)) ++p;
  reading.negative = *p == '-';
  if (*p == '+' || *p == '-') ++p;
  uint64_t magnitude = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    magnitude = magnitude * 10 + static_cast<uint64_t>(*p - '0');
    if (magnitude > UINT32_MAX) {
      reading.beyond32 = true;
      magnitude = uint64_t{UINT32_MAX} + 1;
    }
  }
  return reading;
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

std::string Joined(const std::vector<std::string>& reasons) {
  std::string joined;
  for (const std::string& reason : reasons) joined += (joined.empty() ? "" : "; ") + reason;
  return joined;
}

ValueTextNote ReadAs(const char* text, const std::string& written,
                     const std::vector<std::string>& reasons) {
  ValueTextNote note;
  if (!reasons.empty()) {
    note.text = Quoted(text) + " is read as " + written + " (" + Joined(reasons) + ")";
  }
  return note;
}

ValueTextNote Refused(const char* text, const std::string& why) {
  return {true, Quoted(text) + " is refused: " + why};
}

void NoteTrailing(const char* end, std::vector<std::string>* reasons) {
  if (*end != '\0') reasons->push_back(Quoted(end) + " is ignored");
}

ValueTextNote ExamineInteger(const char* text) {
  NumberReading reading = ReadNumber(text);
  std::vector<std::string> reasons;
  if (!reading.digits) reasons.push_back("there is no number in it");
  if (reading.beyond32) reasons.push_back("the number is beyond 32 bits and wraps");
  if (reading.digits) NoteTrailing(reading.end, &reasons);
  return ReadAs(text, std::to_string(static_cast<int32_t>(reading.wrapped)), reasons);
}

// Counter32, Gauge32 and TimeTicks hold at the largest number and have no sign.
ValueTextNote ExamineUnsigned(const char* text) {
  uint32_t number = 0;
  const char* end = nullptr;
  bool digits = ReadSaturatingDecimal(text, &number, &end);
  NumberReading reading = ReadNumber(text);
  std::vector<std::string> reasons;
  if (!digits) reasons.push_back("there is no number in it");
  if (reading.beyond32) reasons.push_back("the number is beyond 32 bits and holds at 4294967295");
  if (digits && reading.negative && number != 0) {
    reasons.push_back("this type has no sign, so the negative number wraps");
  }
  if (digits) NoteTrailing(end, &reasons);
  return ReadAs(text, std::to_string(number), reasons);
}

struct DottedReading {
  std::vector<uint32_t> numbers;
  std::vector<std::string> reasons;
  std::string refusal;  // empty: the list reads
};

// Walks the list the way ReadDottedList does; BYTE_WIDE cuts every number to its low byte, as the
// four-byte values do.
DottedReading ReadDotted(const char* text, size_t capacity, bool byteWide) {
  DottedReading reading;
  const char* p = text;
  for (;;) {
    if (reading.numbers.size() == capacity) {
      reading.refusal = "it holds more than " + std::to_string(capacity) + " numbers";
      return reading;
    }
    NumberReading number = ReadNumber(p);
    if (!number.digits) {
      reading.refusal = reading.numbers.empty()
                            ? "it does not start with a number"
                            : "a number is missing after " + Quoted(std::string(text, p));
      return reading;
    }
    std::string piece(p, number.end);
    uint32_t value = number.wrapped;
    if (number.beyond32) reading.reasons.push_back(Quoted(piece) + " is beyond 32 bits and wraps");
    if (byteWide && value > 0xFF) {
      value &= 0xFF;
      reading.reasons.push_back(Quoted(piece) + " is beyond 255 and wraps to " +
                                std::to_string(value));
    } else if (!byteWide && number.negative && value != 0) {
      reading.reasons.push_back(Quoted(piece) + " is negative and wraps");
    }
    reading.numbers.push_back(value);
    const char* dot = std::strchr(number.end, '.');
    std::string between = dot != nullptr ? std::string(number.end, dot) : std::string(number.end);
    if (!between.empty()) reading.reasons.push_back(Quoted(between) + " is ignored");
    if (dot == nullptr || dot[1] == '\0') return reading;
    p = dot + 1;
  }
}

std::string DottedText(const std::vector<uint32_t>& numbers, bool hex) {
  std::string text;
  for (uint32_t number : numbers) {
    char piece[16];
    std::snprintf(piece, sizeof piece, hex ? "%02x" : "%u", static_cast<unsigned>(number));
    text += (text.empty() ? "" : ".") + std::string(piece);
  }
  return hex ? text + " (hex)" : text;
}

ValueTextNote ExamineDotted(const char* text, SnmpSyntax syntax) {
  bool fourBytes = syntax != SYNTAX_OID;
  DottedReading reading =
      ReadDotted(text, fourBytes ? FINDINGS_FOUR_BYTES : FINDINGS_OID_MAX_IDS, fourBytes);
  const char* typeName = syntax == SYNTAX_OID      ? "an OBJECT IDENTIFIER"
                         : syntax == SYNTAX_IPADDR ? "an IpAddress"
                                                   : "an Opaque value";
  if (fourBytes && reading.refusal.empty() && reading.numbers.size() != FINDINGS_FOUR_BYTES) {
    reading.refusal = "it holds " + std::to_string(reading.numbers.size()) + " numbers";
  }
  if (!reading.refusal.empty()) {
    std::string takes = fourBytes ? " takes four dotted numbers from 0 to 255, as 192.0.2.1"
                                  : " takes dotted numbers, as 1.3.6.1 (not a name)";
    return Refused(text, reading.refusal + "; " + typeName + takes);
  }
  return ReadAs(text, DottedText(reading.numbers, syntax == SYNTAX_OPAQUE), reading.reasons);
}

}  // namespace

ValueTextNote ExamineValueText(SnmpSyntax syntax, const char* text) {
  // An empty number reads as 0 with nothing of it dropped; when a value went astray after a space,
  // the parse has named that argument already.
  bool number = syntax == SYNTAX_INTEGER || syntax == SYNTAX_CNTR32 || syntax == SYNTAX_GAUGE32 ||
                syntax == SYNTAX_TIMETICKS;
  if (number && *text == '\0') return {};
  switch (syntax) {
    case SYNTAX_INTEGER: return ExamineInteger(text);
    case SYNTAX_CNTR32:
    case SYNTAX_GAUGE32:
    case SYNTAX_TIMETICKS: return ExamineUnsigned(text);
    case SYNTAX_NULL:
      return *text == '\0' ? ValueTextNote{} : ReadAs(text, "NULL", {"NULL takes no text"});
    case SYNTAX_OID:
    case SYNTAX_IPADDR:
    case SYNTAX_OPAQUE: return ExamineDotted(text, syntax);
    case SYNTAX_NSAPADDR: {
      size_t length = 0;
      if (ReadNsapText(text, nullptr, &length)) return {};
      return Refused(text, "an NsapAddress takes two-digit hex bytes joined by dots, as 47.00.05");
    }
    case SYNTAX_OCTETS: return {};
    default: return {true, "the -m has no known type letter"};
  }
}
