// Any bytes as the reply to any operation: the first byte picks the operation, the rest is the
// body. What decodes must encode back to the same bytes.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "protocol/messages.h"

namespace proto = orvu::proto;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  auto op = static_cast<proto::Op>(data[0] % static_cast<uint32_t>(proto::Op::ApplyChanges) + 1);
  proto::Reply reply;
  if (proto::DecodeReply(op, data + 1, size - 1, &reply)) {
    std::string again = proto::EncodeReply(op, reply);
    if (again != std::string(reinterpret_cast<const char*>(data + 1), size - 1)) std::abort();
  }
  return 0;
}
