// The one allocator of every block that crosses between the libraries and their callers: what
// SnmpStringToOid, MibGetObjectOid and the tool's value conversion attach is released by
// SnmpFreeValue, and the framework library's own blocks by AgentFreeValue. The C runtime's heap
// on POSIX; on Windows the process heap, since each DLL may carry a C runtime of its own.
#pragma once

#include <cstddef>

namespace orvu {

void* SharedAlloc(size_t size);
void SharedFree(void* block);

}  // namespace orvu
