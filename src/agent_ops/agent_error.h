// The report of a failed agent framework call.
#pragma once

// Prints the framework's text for its last error code under FORMAT, which holds one "%s".
void PrintAgentError(const char* format);
