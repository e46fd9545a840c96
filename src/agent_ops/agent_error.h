// The report of a failed agent framework call.
#pragma once

#include <string>

// Prints the framework's text for its last error code under FORMAT, which holds one "%s".
void PrintAgentError(const char* format);

// The framework's text for its last error code, for a reason on standard error where standard
// output has only a fixed message.
std::string LastAgentErrorText();

// Why TEXT is no OID where the tool takes numeric ones only.
std::string NumericOidReason(const char* text);
