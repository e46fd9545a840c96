#include <cstdlib>

#include "values/value_block.h"

void* AllocateValueBlock(size_t size) { return std::malloc(size); }

void ReleaseValueBlock(void* block) { std::free(block); }
