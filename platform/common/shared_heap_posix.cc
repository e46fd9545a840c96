#include <cstdlib>

#include "common/shared_heap.h"

namespace orvu {

void* SharedAlloc(size_t size) { return std::malloc(size); }

void SharedFree(void* block) { std::free(block); }

}  // namespace orvu
