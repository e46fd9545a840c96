// The dotted number lists of OID, IP address and opaque value text.
#pragma once

#include <cstddef>
#include <cstdint>

// Reads "n.n.n" into IDS, at most CAPACITY numbers, each a wrapping signed decimal; anything
// between a number and the next "." is ignored and one trailing "." is accepted. Returns the count,
// or -1 when a number is missing or the list has more than CAPACITY numbers.
long ReadDottedList(const char* text, uint32_t* ids, size_t capacity);
