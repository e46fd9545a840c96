// The proof that a peer on TCP loopback knows the endpoint file's secret without sending it: each
// side sends a fresh nonce and answers the other's with an HMAC-SHA-256 keyed by the secret. The
// agent answers first, so that a client sends nothing of value to a listener that cannot.
#pragma once

#include <cstddef>
#include <string>

namespace orvu::proof {

// Bytes of each side's nonce; a challenge of another length is refused.
constexpr size_t PROOF_NONCE_BYTES = 32;
constexpr size_t PROOF_MAC_BYTES = 32;

// HMAC-SHA-256 of MESSAGE under KEY, from the system's own crypto library (libcrypto on POSIX,
// BCrypt on Windows); false when that library fails.
bool HmacSha256(const std::string& key, const std::string& message, std::string* mac);

// What the agent answers to the client's challenge, and what the client then answers to the
// agent's. Each is labelled with its direction, so that neither side can be made to answer for
// the other.
bool AgentProof(const std::string& secret, const std::string& clientNonce,
                const std::string& agentNonce, std::string* mac);
bool ClientProof(const std::string& secret, const std::string& clientNonce,
                 const std::string& agentNonce, std::string* mac);

// A fresh nonce from the system's random source; empty when there is none.
std::string FreshNonce();

}  // namespace orvu::proof
