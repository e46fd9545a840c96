#include "agent_ops/agent_error.h"

#include <cstdio>

#include "agentapi/outside_api.h"

namespace {
constexpr uint32_t AGENT_ERROR_TEXT_SIZE = 512;
}

void PrintAgentError(const char* format) {
  char text[AGENT_ERROR_TEXT_SIZE] = {};
  int code = gApi.AgentGetLastError();
  const char* message = gApi.AgentErrorText(code, text, AGENT_ERROR_TEXT_SIZE);
  // A library that hands back no text must not take the tool down with it.
  std::printf(format, message != nullptr ? message : "");
}

bool EnumerationFailed() {
  int code = gApi.AgentGetLastError();
  return code != 0 && code != OUTSIDE_ERR_NO_MORE_ENTRIES;
}

void PrintEnumerationError(const char* what, int* exitStatus) {
  std::printf("\n%s error: ", what);
  PrintAgentError("%s");
  std::printf("\n");
  *exitStatus = 1;
}
