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

// An enumeration call returned 0: true when that is a failure rather than the list's end (error
// code 1007). A lost connection or an oversized reply must never show a populated list as empty.
bool EnumerationFailed();
// The report of such a failure, "\nWHAT error: TEXT\n"; it also sets *exitStatus to 1.
void PrintEnumerationError(const char* what, int* exitStatus);
