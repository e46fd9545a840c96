// HMAC-SHA-256 from Windows' BCrypt.
#include <windows.h>
// bcrypt.h needs the types of windows.h.
#include <bcrypt.h>

#include "protocol/proof.h"

namespace orvu::proof {

bool HmacSha256(const std::string& key, const std::string& message, std::string* mac) {
  BCRYPT_ALG_HANDLE algorithm = nullptr;
  if (!BCRYPT_SUCCESS(BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr,
                                                  BCRYPT_ALG_HANDLE_HMAC_FLAG))) {
    return false;
  }
  BCRYPT_HASH_HANDLE hash = nullptr;
  unsigned char out[PROOF_MAC_BYTES];
  // BCrypt takes no const buffers; it reads them only.
  auto* keyBytes = reinterpret_cast<PUCHAR>(const_cast<char*>(key.data()));
  auto* messageBytes = reinterpret_cast<PUCHAR>(const_cast<char*>(message.data()));
  bool ok =
      BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, keyBytes,
                                      static_cast<ULONG>(key.size()), 0)) &&
      BCRYPT_SUCCESS(BCryptHashData(hash, messageBytes, static_cast<ULONG>(message.size()), 0)) &&
      BCRYPT_SUCCESS(BCryptFinishHash(hash, out, sizeof out, 0));
  if (hash) BCryptDestroyHash(hash);
  BCryptCloseAlgorithmProvider(algorithm, 0);
  if (ok) mac->assign(reinterpret_cast<const char*>(out), sizeof out);
  return ok;
}

}  // namespace orvu::proof
