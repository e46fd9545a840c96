// HMAC-SHA-256 from OpenSSL's libcrypto.
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include "protocol/proof.h"

namespace orvu::proof {

bool HmacSha256(const std::string& key, const std::string& message, std::string* mac) {
  unsigned char out[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()),
           reinterpret_cast<const unsigned char*>(message.data()), message.size(), out,
           &length) == nullptr ||
      length != PROOF_MAC_BYTES) {
    return false;
  }
  mac->assign(reinterpret_cast<const char*>(out), length);
  return true;
}

}  // namespace orvu::proof
