// The report of a failed agent framework call.
#pragma once

// Prints the framework's text for its last error code under FORMAT, which holds one "%s".
void PrintAgentError(const char* format);

// An enumeration call returned 0: true when that is a failure rather than the list's end (error
// code 1007). A lost connection or an oversized reply must never show a populated list as empty.
bool EnumerationFailed();
// The report of such a failure, "\nWHAT error: TEXT\n"; it also sets *exitStatus to 1.
void PrintEnumerationError(const char* what, int* exitStatus);
