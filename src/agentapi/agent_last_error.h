// The agent framework's last error, in words and as the end of a listing.
#pragma once

#include <string>

// The framework's text for its last error code, for a reason on standard error where standard
// output has only a fixed message.
std::string LastAgentErrorText();

// An enumeration call returned 0: true when that is a failure rather than the list's end (error
// code 1007). A lost connection or an oversized reply must never show a populated list as empty.
bool EnumerationFailed();
