// The banner the driver prints first: program name, version and notice.
#pragma once

#include <cstddef>

// The running program's version text into BUFFER, cut to CAPACITY - 1 characters; nonzero on
// success. PATH names the executable whose version resource is read (Windows only).
int ReadOwnFileVersion(const char* path, char* buffer, size_t capacity);
// Copies TEXT into BUFFER, at most CAPACITY bytes, always terminated in the last byte.
void CopyVersionText(const char* text, char* buffer, size_t capacity);
void PrintBanner();
