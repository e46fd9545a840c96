#include "libs/vnoagent/last_error.h"

#include "protocol/agent_errors.h"

namespace orvu::client {
namespace {

// In the static TLS block, though the library is loaded with dlopen: the few bytes fit in what
// the loader keeps for that, and a dynamic TLS block is one that LeakSanitizer's thread scan
// misreads (it crashed at the tool's exit when the environment moved the memory's layout).
#if defined(__linux__)
#define ORVU_STATIC_TLS __attribute__((tls_model("initial-exec")))
#else
#define ORVU_STATIC_TLS
#endif
ORVU_STATIC_TLS thread_local int32_t tCode = 0;
ORVU_STATIC_TLS thread_local std::string tText;

}  // namespace

void SetLastError(int32_t code, const std::string& text) {
  tCode = code;
  tText = text;
}

int32_t LastErrorCode() { return tCode; }

std::string ErrorTextFor(int32_t code) {
  if (code == tCode && !tText.empty()) return tText;
  if (const char* text = AgentErrorDefaultText(code)) return text;
  return "unknown error code " + std::to_string(code);
}

}  // namespace orvu::client
