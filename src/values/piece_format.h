// printf-style formatting appended to a growing line.
#pragma once

#include <string>

// Appends the formatted text to LINE in full, whatever its length.
void AppendFormat(std::string& line, const char* format, ...) __attribute__((format(printf, 2, 3)));
