// The report of a failed agent framework call.
#pragma once

#include <string>

#include "agentapi/agent_last_error.h"

// Prints the framework's text for its last error code under FORMAT, which holds one "%s".
void PrintAgentError(const char* format);

// Why TEXT is no OID where the tool takes numeric ones only.
std::string NumericOidReason(const char* text);

// The report of such a failure, "\nWHAT error: TEXT\n"; it also sets *exitStatus to 1.
void PrintEnumerationError(const char* what, int* exitStatus);
