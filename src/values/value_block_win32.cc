#include <windows.h>

#include "values/value_block.h"

void* AllocateValueBlock(size_t size) { return HeapAlloc(GetProcessHeap(), 0, size); }

void ReleaseValueBlock(void* block) {
  if (block != nullptr) HeapFree(GetProcessHeap(), 0, block);
}
