// Handing the C library's free heap pages back to the system. The agent does it where a burst of
// short-lived buffers has just gone (start-up's reading of the state file, a client's listing with
// its snapshot and large replies), so that its resident set is again what it holds.
#pragma once

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace orvu::agent {

// Blocks of a mebibyte and more (a large table's instance snapshot, long replies) get pages of
// their own, given back as soon as they are freed. Left to itself, glibc raises that threshold to
// the size of the first such block freed and keeps the next ones in the heap, where a trim may not
// reach them.
inline void GiveLargeBlocksTheirOwnPages() {
#if defined(__GLIBC__)
  mallopt(M_MMAP_THRESHOLD, 1 << 20);
#endif
}

inline void ReturnFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace orvu::agent
