#include "protocol/proof.h"

#include "protocol/transport.h"

namespace orvu::proof {
namespace {

constexpr const char PROOF_AGENT_LABEL[] = "orvu-agent-proof";
constexpr const char PROOF_CLIENT_LABEL[] = "orvu-client-proof";

bool Labelled(const char* label, const std::string& secret, const std::string& clientNonce,
              const std::string& agentNonce, std::string* mac) {
  // The label's terminating zero keeps it apart from the nonces that follow.
  std::string message(label, std::char_traits<char>::length(label) + 1);
  message += clientNonce;
  message += agentNonce;
  return HmacSha256(secret, message, mac);
}

}  // namespace

bool AgentProof(const std::string& secret, const std::string& clientNonce,
                const std::string& agentNonce, std::string* mac) {
  return Labelled(PROOF_AGENT_LABEL, secret, clientNonce, agentNonce, mac);
}

bool ClientProof(const std::string& secret, const std::string& clientNonce,
                 const std::string& agentNonce, std::string* mac) {
  return Labelled(PROOF_CLIENT_LABEL, secret, clientNonce, agentNonce, mac);
}

std::string FreshNonce() {
  std::string nonce(PROOF_NONCE_BYTES, '\0');
  if (!transport::RandomBytes(nonce.data(), nonce.size())) return std::string();
  return nonce;
}

}  // namespace orvu::proof
