// The allocator of every block that the tool attaches to a value for the SNMP utility library's
// SnmpFreeValue to release: the C runtime's on POSIX, the process heap on Windows, where the tool
// and each DLL may each have a C runtime of their own.
#pragma once

#include <cstddef>

void* AllocateValueBlock(size_t size);
// What SnmpFreeValue does with such a block; for stand-ins of that library.
void ReleaseValueBlock(void* block);
