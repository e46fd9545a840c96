// The numbers a listing prints for every leaf, appended to a growing line without the cost of a
// format string.
#pragma once

#include <cstdint>
#include <string>

// The same text as "%u", "%d", "%02x", "%x" and, for a number below 100, "%02u".
void AppendUnsigned(std::string& line, uint32_t number);
void AppendSigned(std::string& line, int32_t number);
void AppendHexByte(std::string& line, unsigned char byte);
void AppendHex(std::string& line, uint32_t number);
void AppendTwoDigits(std::string& line, uint32_t number);
