#include "agent_ops/agent_error.h"

#include <cstdio>

#include "agent_ops/run_outcome.h"
#include "agentapi/outside_api.h"

void PrintAgentError(const char* format) {
  NoteFailedStep();
  std::printf(format, LastAgentErrorText().c_str());
}

std::string NumericOidReason(const char* text) {
  return "\"" + std::string(text) + "\" is not a numeric OID (dotted numbers, as 1.3.6.1)";
}

void PrintEnumerationError(const char* what, int* exitStatus) {
  std::printf("\n%s error: ", what);
  PrintAgentError("%s");
  std::printf("\n");
  *exitStatus = 1;
}
