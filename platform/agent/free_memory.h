// Handing the C library's free heap pages back to the system. The agent does it where a burst of
// short-lived buffers has just gone (start-up's reading of the state file, a client's listing with
// its snapshot and large replies), so that its resident set is again what it holds.
#pragma once

#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace orvu::agent {

inline void ReturnFreeMemory() {
#if defined(__GLIBC__)
  malloc_trim(0);
#endif
}

}  // namespace orvu::agent
