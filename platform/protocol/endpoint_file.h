// The endpoint file of an agent on TCP loopback: where a client that cannot use the Unix socket
// (one under Wine) finds the agent's address and port, and the secret by which the two prove
// themselves to each other (proof.h; the secret itself never travels).
//   address=127.0.0.1
//   port=PORT
//   secret=HEX
// A file without an address line (written by an earlier agent) means 127.0.0.1.
#pragma once

#include <cstdint>
#include <string>

namespace orvu::endpoint {

// 128 bits: enough that a peer guessing within the registration bound never gets in.
constexpr size_t ENDPOINT_SECRET_BYTES = 16;
// The longest secret a file may hold.
constexpr size_t ENDPOINT_MAX_SECRET = 256;
constexpr const char* ENDPOINT_DEFAULT_ADDRESS = "127.0.0.1";

struct Endpoint {
  std::string address = ENDPOINT_DEFAULT_ADDRESS;
  uint16_t port = 0;
  std::string secret;
};

std::string FormatEndpoint(const Endpoint& endpoint);
bool ParseEndpoint(const std::string& text, Endpoint* endpoint, std::string* error);
// The reason ReadEndpointFile gives when there is no file at PATH.
constexpr const char* ENDPOINT_MISSING = "no such endpoint file";
// *error is the reason alone; *untrusted is set when the file is there but is not the user's own
// (transport::ReadOwnFile), so that nothing in it may be believed.
bool ReadEndpointFile(const std::string& path, Endpoint* endpoint, std::string* error,
                      bool* untrusted);
// A comparison whose time does not depend on where the texts differ.
bool SameSecret(const std::string& given, const std::string& expected);
std::string HexText(const void* data, size_t size);

}  // namespace orvu::endpoint
