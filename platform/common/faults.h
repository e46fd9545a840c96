// Fault injection for tests, read from ORVU_FAULTS by all three client libraries:
//   ORVU_FAULTS="Operation=RESULT[/CODE][@N];..."
// The named operation returns RESULT instead of doing its work: on every call, or on its N-th call
// only (counting from 1) when @N is given. With /CODE the library's last error becomes CODE.
// A malformed variable is reported once on standard error and ignored as a whole. The agent reads
// it too, for the faults of its own that the tests inject (a failed write of its state file).
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

namespace orvu {

struct InjectedFault {
  int64_t result = 0;
  bool hasCode = false;
  int32_t code = 0;
};

// Counts this call of OPERATION; true when it is to fail, with *fault saying how.
bool CheckFault(const char* operation, InjectedFault* fault);

// Takes the /CODE of an injected fault with its text, "injected fault in OPERATION (error code
// CODE)", into a library's own last error.
using FaultCodeSink = void (*)(int32_t code, const std::string& text);

// The check that every exported operation of the three libraries starts with: true when OPERATION
// is to fail, with what it returns in *RESULT. With /CODE the system's last error (errno, and on
// Windows the thread's last error) becomes CODE, and SINK, when given, takes it too.
bool InjectedFailure(const char* operation, int64_t* result, FaultCodeSink sink);

// True once ORVU_FAULTS has been read and names no fault: the check at the start of every
// operation is then a single load, where a listing makes several calls for each leaf.
extern std::atomic<bool> gNoFaults;

}  // namespace orvu

// The first statement of an exported operation returning TYPE: the injected result, when there is
// one, is returned at once.
#define ORVU_FAULT_POINT(operation, type, sink)                  \
  do {                                                           \
    int64_t orvuInjected = 0;                                    \
    if (!::orvu::gNoFaults.load(std::memory_order_relaxed) &&    \
        ::orvu::InjectedFailure(operation, &orvuInjected, sink)) \
      return static_cast<type>(orvuInjected);                    \
  } while (0)
