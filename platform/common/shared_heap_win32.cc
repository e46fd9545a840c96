#include <windows.h>

#include "common/shared_heap.h"

namespace orvu {

void* SharedAlloc(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void SharedFree(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}

}  // namespace orvu
