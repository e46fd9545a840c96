#include "agent_ops/agent_error.h"

#include <cstdio>

#include "agent_ops/run_outcome.h"
#include "agentapi/outside_api.h"

namespace {
constexpr uint32_t AGENT_ERROR_TEXT_SIZE = 512;
}

void PrintAgentError(const char* format) {
  NoteFailedStep();
  char text[AGENT_ERROR_TEXT_SIZE] = {};
  int code = gApi.AgentGetLastError();
  const char* message = gApi.AgentErrorText(code, text, AGENT_ERROR_TEXT_SIZE);
  // A library that hands back no text must not take the tool down with it.
  std::printf(format, message != nullptr ? message : "");
}
