#include "protocol/endpoint_file.h"

#include <sstream>

#include "protocol/transport.h"

namespace orvu::endpoint {

namespace {

constexpr size_t ENDPOINT_MAX_FILE = 4096;

bool AllDigits(const std::string& text, size_t most) {
  return !text.empty() && text.size() <= most &&
         text.find_first_not_of("0123456789") == std::string::npos;
}

// A dotted IPv4 address in 127.0.0.0/8: a client dials nothing beyond this machine.
bool IsLoopbackAddress(const std::string& text) {
  std::istringstream parts(text);
  std::string part;
  int count = 0;
  bool ok = true;
  while (ok && std::getline(parts, part, '.')) {
    ok = AllDigits(part, 3) && std::stoi(part) <= 255 && (count > 0 || part == "127");
    ++count;
  }
  return ok && count == 4 && text.back() != '.';
}

}  // namespace

std::string FormatEndpoint(const Endpoint& endpoint) {
  return "address=" + endpoint.address + "\nport=" + std::to_string(endpoint.port) +
         "\nsecret=" + endpoint.secret + "\n";
}

bool ParseEndpoint(const std::string& text, Endpoint* endpoint, std::string* error) {
  std::istringstream lines(text);
  std::string line;
  long number = -1;
  *endpoint = Endpoint{};
  bool addressOk = true;
  while (std::getline(lines, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("port=", 0) == 0) {
      std::string digits = line.substr(5);
      if (!AllDigits(digits, 5)) break;
      number = std::stol(digits);
    } else if (line.rfind("secret=", 0) == 0) {
      endpoint->secret = line.substr(7);
    } else if (line.rfind("address=", 0) == 0) {
      endpoint->address = line.substr(8);
      addressOk = IsLoopbackAddress(endpoint->address);
    }
  }
  if (!addressOk) {
    *error =
        "the endpoint file's address is not a loopback address (127.x.x.x): " + endpoint->address;
    return false;
  }
  if (number <= 0 || number > 65535 || endpoint->secret.empty() ||
      endpoint->secret.size() > ENDPOINT_MAX_SECRET) {
    *error = "not an agent endpoint file (port=PORT and secret=HEX expected)";
    return false;
  }
  endpoint->port = static_cast<uint16_t>(number);
  return true;
}

bool ReadEndpointFile(const std::string& path, Endpoint* endpoint, std::string* error,
                      bool* untrusted) {
  std::string text, why;
  bool missing = false;
  *untrusted = false;
  if (!transport::ReadOwnFile(path, ENDPOINT_MAX_FILE, &text, &why, &missing)) {
    *untrusted = !missing;
    *error = missing ? ENDPOINT_MISSING : "the endpoint file is not this user's own: " + why;
    return false;
  }
  return ParseEndpoint(text, endpoint, error);
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
