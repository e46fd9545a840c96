// NSAP address text in the form that the printer writes: two-digit hex bytes joined by ".".
#pragma once

#include <cstddef>

// Checks TEXT and sets *LENGTH to its byte count (0 for an empty text); with BYTES given, also
// stores the bytes there. Returns false for text of any other form.
bool ReadNsapText(const char* text, unsigned char* bytes, size_t* length);
