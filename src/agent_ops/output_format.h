// Text forms shared by the client list and the table listing.
#pragma once

#include <cstdint>

// "%p" of the tool: exactly eight upper-case hex digits of the 32-bit value, into a 9-byte buffer.
const char* FormatHandle(uint32_t value, char (&buffer)[9]);

// The time text: local time as 24 characters and "\n" (Thu Jan 01 00:00:00 1970), or "(null)"
// with no line end when the time has no local time (a negative value among them).
const char* FormatTimeText(int32_t seconds, char (&buffer)[32]);
