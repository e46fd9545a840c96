// Fault injection for tests, read from ORVU_FAULTS by all three client libraries:
//   ORVU_FAULTS="Operation=RESULT[/CODE][@N];..."
// The named operation returns RESULT instead of doing its work: on every call, or on its N-th call
// only (counting from 1) when @N is given. With /CODE the library's last error becomes CODE.
// A malformed variable is reported once on standard error and ignored as a whole.
#pragma once

#include <cstdint>

namespace orvu {

struct InjectedFault {
  int64_t result = 0;
  bool hasCode = false;
  int32_t code = 0;
};

// Counts this call of OPERATION; true when it is to fail, with *fault saying how.
bool CheckFault(const char* operation, InjectedFault* fault);

}  // namespace orvu
