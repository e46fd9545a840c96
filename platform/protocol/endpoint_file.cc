#include "endpoint_file.h"

#include <fstream>
#include <sstream>

namespace orvu::endpoint {

std::string FormatEndpoint(uint16_t port, const std::string& secret) {
  return "port=" + std::to_string(port) + "\nsecret=" + secret + "\n";
}

bool ParseEndpoint(const std::string& text, uint16_t* port, std::string* secret,
                   std::string* error) {
  std::istringstream lines(text);
  std::string line;
  long number = -1;
  secret->clear();
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("port=", 0) == 0) {
      std::string digits = line.substr(5);
      if (digits.empty() || digits.size() > 5 ||
          digits.find_first_not_of("0123456789") != std::string::npos) {
        break;
      }
      number = std::stol(digits);
    } else if (line.rfind("secret=", 0) == 0) {
      *secret = line.substr(7);
    }
  }
  if (number <= 0 || number > 65535 || secret->empty() || secret->size() > ENDPOINT_MAX_SECRET) {
    *error = "not an agent endpoint file (port=PORT and secret=HEX expected)";
    return false;
  }
  *port = static_cast<uint16_t>(number);
  return true;
}

bool ReadEndpointFile(const std::string& path, uint16_t* port, std::string* secret,
                      std::string* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    *error = ENDPOINT_MISSING;
    return false;
  }
  std::string text(4096, '\0');
  in.read(text.data(), static_cast<std::streamsize>(text.size()));
  text.resize(static_cast<size_t>(in.gcount()));
  return ParseEndpoint(text, port, secret, error);
}

bool SameSecret(const std::string& given, const std::string& expected) {
  // Every byte of the expected secret is looked at, whatever the given one holds.
  unsigned difference = given.size() == expected.size() ? 0u : 1u;
  for (size_t i = 0; i < expected.size(); ++i) {
    unsigned char g = i < given.size() ? static_cast<unsigned char>(given[i]) : 0;
    difference |= g ^ static_cast<unsigned char>(expected[i]);
  }
  return difference == 0;
}

std::string HexText(const void* data, size_t size) {
  static const char DIGITS[] = "0123456789abcdef";
  const auto* bytes = static_cast<const unsigned char*>(data);
  std::string text;
  for (size_t i = 0; i < size; ++i) {
    text += DIGITS[bytes[i] >> 4];
    text += DIGITS[bytes[i] & 15];
  }
  return text;
}

}  // namespace orvu::endpoint
