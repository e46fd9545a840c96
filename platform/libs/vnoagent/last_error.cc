#include "libs/vnoagent/last_error.h"

#include "protocol/agent_errors.h"

namespace orvu::client {
namespace {

thread_local int32_t tCode = 0;
thread_local std::string tText;

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
