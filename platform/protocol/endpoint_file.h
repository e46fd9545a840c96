// The endpoint file of an agent on TCP loopback: where a client that cannot use the Unix socket
// (one under Wine) finds the agent's port, and the secret that proves it may talk to the agent.
//   port=PORT
//   secret=HEX
#pragma once

#include <cstdint>
#include <string>

namespace orvu::endpoint {

// 128 bits: enough that a peer guessing within the registration bound never gets in.
constexpr size_t ENDPOINT_SECRET_BYTES = 16;
// The longest secret a registration may carry; anything longer is refused before it is compared.
constexpr size_t ENDPOINT_MAX_SECRET = 256;

std::string FormatEndpoint(uint16_t port, const std::string& secret);
bool ParseEndpoint(const std::string& text, uint16_t* port, std::string* secret,
                   std::string* error);
// The reason ReadEndpointFile gives when PATH cannot be opened.
constexpr const char* ENDPOINT_MISSING = "no such endpoint file";
// *error is the reason alone.
bool ReadEndpointFile(const std::string& path, uint16_t* port, std::string* secret,
                      std::string* error);
// A comparison whose time does not depend on where the texts differ.
bool SameSecret(const std::string& given, const std::string& expected);
std::string HexText(const void* data, size_t size);

}  // namespace orvu::endpoint
