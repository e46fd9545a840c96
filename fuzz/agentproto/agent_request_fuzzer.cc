// Any bytes as the body of a request frame. The encoding has one form per request, so a body that
// decodes must encode back to the very same bytes; anything else is refused with a reason.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/messages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  orvu::proto::Request request;
  std::string error;
  if (orvu::proto::DecodeRequest(data, size, &request, &error)) {
    if (!error.empty()) std::abort();
    std::string again = orvu::proto::EncodeRequest(request);
    if (again != std::string(reinterpret_cast<const char*>(data), size)) std::abort();
  } else if (error.empty()) {
    std::abort();
  }
  return 0;
}
