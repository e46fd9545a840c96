#include "agentapi/agent_last_error.h"

#include "agentapi/outside_api.h"

namespace {
constexpr uint32_t AGENT_ERROR_TEXT_SIZE = 512;
}

std::string LastAgentErrorText() {
  char text[AGENT_ERROR_TEXT_SIZE] = {};
  int code = gApi.AgentGetLastError();
  const char* message = gApi.AgentErrorText(code, text, AGENT_ERROR_TEXT_SIZE);
  // A library that hands back no text must not take the tool down with it.
  return message != nullptr ? message : "";
}

bool EnumerationFailed() {
  int code = gApi.AgentGetLastError();
  return code != 0 && code != OUTSIDE_ERR_NO_MORE_ENTRIES;
}
