// printf-style formatting appended to a growing line, and the few numbers a listing prints for
// every leaf, written without the cost of a format string.
#pragma once

#include <cstdint>
#include <string>

// Appends the formatted text to LINE in full, whatever its length.
void AppendFormat(std::string& line, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The same text as "%u", "%d" and "%02x".
void AppendUnsigned(std::string& line, uint32_t number);
void AppendSigned(std::string& line, int32_t number);
void AppendHexByte(std::string& line, unsigned char byte);
