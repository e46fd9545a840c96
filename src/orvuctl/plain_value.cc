#include "orvuctl/plain_value.h"

#include <charconv>
#include <cstring>

#include "agentapi/outside_api.h"
#include "values/syntax_table.h"

namespace {

constexpr char HEX_DIGITS[] = "0123456789abcdef";

// UTF-8 as RFC 3629 has it (no overlong forms, no surrogates), without control characters but
// tab, line feed and carriage return: what a script can take as text and print as it is.
bool IsPrintableUtf8(const std::string& bytes) {
  size_t i = 0;
  while (i < bytes.size()) {
    unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c < 0x80) {
      if ((c < 0x20 && c != '\t' && c != '\n' && c != '\r') || c == 0x7F) return false;
      ++i;
      continue;
    }
    size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 ? 2 : 0;
    if (length == 0 || c > 0xF4 || i + length > bytes.size()) return false;
    uint32_t point = c & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
      unsigned char next = static_cast<unsigned char>(bytes[i + k]);
      if ((next & 0xC0) != 0x80) return false;
      point = (point << 6) | (next & 0x3F);
    }
    if ((length == 3 && (point < 0x800 || (point >= 0xD800 && point <= 0xDFFF))) ||
        (length == 4 && (point < 0x10000 || point > 0x10FFFF)))
      return false;
    if (point >= 0x80 && point < 0xA0) return false;  // C1 controls
    i += length;
  }
  return true;
}

std::string HexOf(const std::string& bytes) {
  std::string hex;
  hex.reserve(bytes.size() * 2);
  for (unsigned char c : bytes) {
    hex += HEX_DIGITS[c >> 4];
    hex += HEX_DIGITS[c & 15];
  }
  return hex;
}

std::string DottedBytes(const std::string& bytes) {
  std::string text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    if (i > 0) text += '.';
    text += std::to_string(static_cast<unsigned char>(bytes[i]));
  }
  return text;
}

int64_t SignedNumber(const PlainValue& value) {
  return value.syntax == SYNTAX_INTEGER ? static_cast<int32_t>(value.number)
                                        : static_cast<int64_t>(value.number);
}

template <typename Number>
bool ReadWholeNumber(const std::string& text, Number* number) {
  const char* first = text.data();
  const char* last = first + text.size();
  if (first != last && *first == '+') ++first;
  auto [end, error] = std::from_chars(first, last, *number);
  return error == std::errc() && end == last && first != last;
}

bool ReadHex(const std::string& text, std::string* bytes) {
  if (text.size() < 2 || text[0] != '0' || (text[1] != 'x' && text[1] != 'X')) return false;
  std::string digits = text.substr(2);
  if (digits.size() % 2 != 0) return false;
  bytes->clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    unsigned byte = 0;
    auto [end, error] = std::from_chars(digits.data() + i, digits.data() + i + 2, byte, 16);
    if (error != std::errc() || end != digits.data() + i + 2) return false;
    bytes->push_back(static_cast<char>(byte));
  }
  return true;
}

bool ReadDotted(const std::string& text, std::vector<uint32_t>* ids) {
  ids->clear();
  size_t start = 0;
  while (start <= text.size()) {
    size_t dot = text.find('.', start);
    std::string part =
        text.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    uint32_t id = 0;
    if (part.empty() || part[0] == '+' || !ReadWholeNumber(part, &id)) return false;
    ids->push_back(id);
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  return !ids->empty();
}

std::string RangesText(const std::vector<std::pair<int64_t, int64_t>>& ranges) {
  std::string text;
  for (size_t i = 0; i < ranges.size(); ++i) {
    if (i > 0) text += " | ";
    text += std::to_string(ranges[i].first);
    if (ranges[i].second != ranges[i].first) text += ".." + std::to_string(ranges[i].second);
  }
  return text;
}

bool InRanges(int64_t number, const std::vector<std::pair<int64_t, int64_t>>& ranges) {
  if (ranges.empty()) return true;
  for (const auto& [low, high] : ranges)
    if (number >= low && number <= high) return true;
  return false;
}

std::string LabelList(const ValueShape& shape) {
  std::string text;
  for (const ValueLabel& label : shape.labels) {
    if (!text.empty()) text += ", ";
    text += label.name + "(" + std::to_string(label.number) + ")";
  }
  return text;
}

const ValueLabel* FindLabel(const ValueShape& shape, const std::string& name) {
  for (const ValueLabel& label : shape.labels)
    if (label.name == name) return &label;
  return nullptr;
}

// BITS: bit 0 is the first byte's high bit; the value is as long as its highest bit needs.
bool ReadBitNames(const std::string& text, const ValueShape& shape, std::string* bytes,
                  std::string* reason) {
  bytes->clear();
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find_first_of(",|", start);
    std::string name =
        text.substr(start, end == std::string::npos ? std::string::npos : end - start);
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    while (!name.empty() && name.back() == ' ') name.pop_back();
    if (!name.empty()) {
      const ValueLabel* label = FindLabel(shape, name);
      if (!label || label->number < 0 || label->number > 65535) {
        *reason = "no bit of that name; it takes " + LabelList(shape) + ", or 0x and hex digits";
        return false;
      }
      size_t byte = static_cast<size_t>(label->number / 8);
      if (bytes->size() <= byte) bytes->resize(byte + 1, '\0');
      (*bytes)[byte] = static_cast<char>((*bytes)[byte] | (0x80 >> (label->number % 8)));
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return true;
}

bool TypeInteger(const std::string& text, const ValueShape& shape, PlainValue* value,
                 std::string* reason) {
  int64_t number = 0;
  if (const ValueLabel* label = FindLabel(shape, text)) {
    number = label->number;
  } else if (!ReadWholeNumber(text, &number) || number < INT32_MIN || number > INT32_MAX) {
    *reason = shape.labels.empty() ? "takes a whole number from -2147483648 to 2147483647"
                                   : "takes one of " + LabelList(shape);
    return false;
  }
  if (!shape.labels.empty() && !FindLabel(shape, text)) {
    bool known = false;
    for (const ValueLabel& label : shape.labels) known = known || label.number == number;
    if (!known) {
      *reason = "takes one of " + LabelList(shape);
      return false;
    }
  }
  if (!InRanges(number, shape.ranges)) {
    *reason = "takes " + RangesText(shape.ranges);
    return false;
  }
  value->number = static_cast<uint32_t>(static_cast<int32_t>(number));
  return true;
}

bool TypeOctets(const std::string& text, const ValueShape& shape, PlainValue* value,
                std::string* reason) {
  bool isHex = ReadHex(text, &value->bytes);
  if (!isHex) {
    if (shape.syntax != SYNTAX_OCTETS) {
      *reason = "takes 0x and hexadecimal digits, two for each byte";
      return false;
    }
    if (!shape.labels.empty()) {
      if (!ReadBitNames(text, shape, &value->bytes, reason)) return false;
    } else {
      value->bytes = text;
    }
  }
  if (!InRanges(static_cast<int64_t>(value->bytes.size()), shape.sizes)) {
    *reason =
        "takes " + RangesText(shape.sizes) + " bytes, not " + std::to_string(value->bytes.size());
    return false;
  }
  return true;
}

bool TypeOid(const std::string& text, PlainValue* value, std::string* reason) {
  if (ReadDotted(text, &value->ids)) return true;
  // A name, with an optional instance suffix.
  std::string name = text.substr(
      0, text.find('.', text.find("::") == std::string::npos ? 0 : text.find("::") + 2));
  std::vector<uint32_t> suffix;
  if (name.size() < text.size() && !ReadDotted(text.substr(name.size() + 1), &suffix)) {
    *reason = "takes dotted numbers (1.3.6.1) or a name with an optional numeric suffix";
    return false;
  }
  uint32_t object = gApi.MibLookupName(name.c_str());
  SnmpOid oid{};
  if (object == 0 || !gApi.MibGetObjectOid(object, MIB_FORM_OID, &oid)) {
    *reason = "takes dotted numbers (1.3.6.1) or the name of a known object";
    return false;
  }
  value->ids.assign(oid.ids, oid.ids + oid.count);
  gApi.SnmpFreeValue(SYNTAX_OID, &oid);
  value->ids.insert(value->ids.end(), suffix.begin(), suffix.end());
  return true;
}

}  // namespace

std::string DottedText(const std::vector<uint32_t>& ids) {
  std::string text;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i > 0) text += '.';
    text += std::to_string(ids[i]);
  }
  return text;
}

bool TakePlainValue(const SnmpValue& value, PlainValue* plain) {
  *plain = PlainValue{};
  plain->syntax = value.syntax;
  const char* data = reinterpret_cast<const char*>(value.data);
  uint32_t length = value.data == 0 ? 0 : value.number;
  switch (value.syntax) {
    case SYNTAX_INTEGER:
    case SYNTAX_CNTR32:
    case SYNTAX_GAUGE32:
    case SYNTAX_TIMETICKS: plain->number = value.number; return true;
    case SYNTAX_CNTR64:
      plain->number = (uint64_t{value.number} << 32) | static_cast<uint32_t>(value.data);
      return true;
    case SYNTAX_OCTETS:
    case SYNTAX_IPADDR:
    case SYNTAX_OPAQUE:
    case SYNTAX_NSAPADDR: plain->bytes.assign(data ? data : "", data ? length : 0); return true;
    case SYNTAX_OID: {
      const uint32_t* ids = reinterpret_cast<const uint32_t*>(value.data);
      if (ids) plain->ids.assign(ids, ids + length);
      return true;
    }
    case SYNTAX_NULL: return true;
    default: return false;
  }
}

SnmpValue AsSnmpValue(const PlainValue& plain) {
  SnmpValue value{};
  value.syntax = plain.syntax;
  switch (plain.syntax) {
    case SYNTAX_CNTR64:
      value.number = static_cast<uint32_t>(plain.number >> 32);
      value.data = static_cast<uint32_t>(plain.number);
      break;
    case SYNTAX_OCTETS:
    case SYNTAX_IPADDR:
    case SYNTAX_OPAQUE:
    case SYNTAX_NSAPADDR:
      value.number = static_cast<uint32_t>(plain.bytes.size());
      value.data = plain.bytes.empty() ? 0 : reinterpret_cast<uintptr_t>(plain.bytes.data());
      break;
    case SYNTAX_OID:
      value.number = static_cast<uint32_t>(plain.ids.size());
      value.data = reinterpret_cast<uintptr_t>(plain.ids.data());
      break;
    default: value.number = static_cast<uint32_t>(plain.number); break;
  }
  return value;
}

nlohmann::ordered_json PlainJson(const PlainValue& value) {
  switch (value.syntax) {
    case SYNTAX_INTEGER: return static_cast<int32_t>(value.number);
    case SYNTAX_CNTR32:
    case SYNTAX_GAUGE32:
    case SYNTAX_TIMETICKS:
    case SYNTAX_CNTR64: return value.number;
    case SYNTAX_IPADDR: return DottedBytes(value.bytes);
    case SYNTAX_OID: return DottedText(value.ids);
    case SYNTAX_NULL: return nullptr;
    default:
      if (IsPrintableUtf8(value.bytes)) return value.bytes;
      return nlohmann::ordered_json{{"hex", HexOf(value.bytes)}};
  }
}

std::string JsonText(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::string JsonDocumentText(const nlohmann::ordered_json& document) {
  return JsonText(document) + "\n";
}

std::string PlainText(const PlainValue& value, const ValueShape* shape) {
  switch (value.syntax) {
    case SYNTAX_INTEGER: {
      std::string number = std::to_string(static_cast<int32_t>(value.number));
      if (shape) {
        std::vector<std::string> labels = ValueLabels(value, *shape);
        if (!labels.empty()) return labels[0] + "(" + number + ")";
      }
      return number;
    }
    case SYNTAX_CNTR32:
    case SYNTAX_GAUGE32:
    case SYNTAX_TIMETICKS:
    case SYNTAX_CNTR64: return std::to_string(value.number);
    case SYNTAX_IPADDR: return DottedBytes(value.bytes);
    case SYNTAX_OID: return DottedText(value.ids);
    case SYNTAX_NULL: return "null";
    default:
      if (IsPrintableUtf8(value.bytes))
        return nlohmann::ordered_json(value.bytes).dump();  // valid UTF-8, checked above
      return "0x" + HexOf(value.bytes);
  }
}

std::vector<std::string> ValueLabels(const PlainValue& value, const ValueShape& shape) {
  std::vector<std::string> names;
  if (value.syntax == SYNTAX_INTEGER) {
    for (const ValueLabel& label : shape.labels)
      if (label.number == SignedNumber(value)) return {label.name};
  } else if (value.syntax == SYNTAX_OCTETS && !shape.labels.empty()) {
    for (const ValueLabel& label : shape.labels) {
      size_t byte = static_cast<size_t>(label.number / 8);
      if (label.number >= 0 && byte < value.bytes.size() &&
          (static_cast<unsigned char>(value.bytes[byte]) & (0x80 >> (label.number % 8))))
        names.push_back(label.name);
    }
  }
  return names;
}

bool TypeValueText(const std::string& text, const ValueShape& shape, PlainValue* value,
                   std::string* reason) {
  *value = PlainValue{};
  value->syntax = shape.syntax;
  switch (shape.syntax) {
    case SYNTAX_INTEGER: return TypeInteger(text, shape, value, reason);
    case SYNTAX_CNTR32:
    case SYNTAX_GAUGE32:
    case SYNTAX_TIMETICKS: {
      uint32_t number = 0;
      if (!ReadWholeNumber(text, &number)) {
        *reason = "takes a whole number from 0 to 4294967295";
        return false;
      }
      if (!InRanges(number, shape.ranges)) {
        *reason = "takes " + RangesText(shape.ranges);
        return false;
      }
      value->number = number;
      return true;
    }
    case SYNTAX_CNTR64:
      if (!ReadWholeNumber(text, &value->number)) {
        *reason = "takes a whole number from 0 to 18446744073709551615";
        return false;
      }
      return true;
    case SYNTAX_OCTETS:
    case SYNTAX_OPAQUE:
    case SYNTAX_NSAPADDR: return TypeOctets(text, shape, value, reason);
    case SYNTAX_IPADDR: {
      std::vector<uint32_t> parts;
      if (!ReadDotted(text, &parts) || parts.size() != 4 || parts[0] > 255 || parts[1] > 255 ||
          parts[2] > 255 || parts[3] > 255) {
        *reason = "takes four dotted numbers from 0 to 255";
        return false;
      }
      for (uint32_t part : parts) value->bytes.push_back(static_cast<char>(part));
      return true;
    }
    case SYNTAX_OID: return TypeOid(text, value, reason);
    case SYNTAX_NULL: return true;
    default:
      *reason = "has " + SyntaxSmiText(shape.syntax, false) + ", which takes no value";
      return false;
  }
}

std::optional<SnmpSyntax> SyntaxOfTypeName(const std::string& name) {
  for (SnmpSyntax syntax :
       {SYNTAX_INTEGER, SYNTAX_OCTETS, SYNTAX_NULL, SYNTAX_OID, SYNTAX_IPADDR, SYNTAX_CNTR32,
        SYNTAX_GAUGE32, SYNTAX_TIMETICKS, SYNTAX_OPAQUE, SYNTAX_NSAPADDR, SYNTAX_CNTR64}) {
    if (SyntaxSmiText(syntax, false) == name) return syntax;
  }
  return std::nullopt;
}
