#include "agent_ops/agent_error.h"

#include <cstdio>

#include "agent_ops/run_outcome.h"
#include "agentapi/outside_api.h"

namespace {
constexpr uint32_t AGENT_ERROR_TEXT_SIZE = 512;
}

void PrintAgentError(const char* format) {
  NoteFailedStep();
  std::printf(format, LastAgentErrorText().c_str());
}

std::string LastAgentErrorText() {
  char text[AGENT_ERROR_TEXT_SIZE] = {};
  int code = gApi.AgentGetLastError();
  const char* message = gApi.AgentErrorText(code, text, AGENT_ERROR_TEXT_SIZE);
  // A library that hands back no text must not take the tool down with it.
  return message != nullptr ? message : "";
}

std::string NumericOidReason(const char* text) {
  return "\"" + std::string(text) + "\" is not a numeric OID (dotted numbers, as 1.3.6.1)";
}
