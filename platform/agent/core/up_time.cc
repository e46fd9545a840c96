#include "agent/core/up_time.h"

#include <chrono>
#include <mutex>

namespace orvu::agent {
namespace {

using Clock = std::chrono::steady_clock;

// The subagent's thread notes the master's time while the event loop reads it.
std::mutex gLock;
Clock::time_point gBase = Clock::now();  // the reference point
uint32_t gTicksAtBase = 0;               // sysUpTime at that point
bool gFrozen = false;

}  // namespace

void StartUpTime(bool fixed) {
  std::lock_guard<std::mutex> lock(gLock);
  gFrozen = fixed;
  gTicksAtBase = 0;
  gBase = Clock::now();
}

void NoteMasterUpTime(uint32_t ticks) {
  std::lock_guard<std::mutex> lock(gLock);
  gTicksAtBase = ticks;
  gBase = Clock::now();
  gFrozen = false;
}

uint32_t UpTimeTicks() {
  std::lock_guard<std::mutex> lock(gLock);
  if (gFrozen) return gTicksAtBase;
  auto hundredths =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - gBase) / 10;
  return gTicksAtBase + static_cast<uint32_t>(hundredths.count());
}

}  // namespace orvu::agent
