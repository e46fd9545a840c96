// What the agent keeps for the device behind the sample module VORNEL-VNBEEP-MIB: where its
// objects are, the stamps of its tone rows and the beeps its schedule holds. It lives for the
// agent's run, as sysUpTime does, and is never journaled.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <unordered_map>

namespace orvu::agent {

constexpr size_t BEEPER_NONE = SIZE_MAX;

struct BeeperState {
  // Positions among the scalars, BEEPER_NONE when the module is not served.
  size_t control = BEEPER_NONE;
  size_t beepCount = BEEPER_NONE;
  size_t lastBeep = BEEPER_NONE;
  // speakerFreqEntry and its LastChange column; speakerScheduleEntry and its columns (0: none).
  uint32_t freqEntry = 0;
  uint32_t lastChangeColumn = 0;
  uint32_t scheduleEntry = 0;
  uint32_t delayColumn = 0;
  uint32_t statusColumn = 0;
  // Tone row -> sysUpTime when one of its settings last changed.
  std::unordered_map<uint32_t, uint32_t> lastChange;
  // Active schedule row -> when its beep plays.
  std::map<uint32_t, std::chrono::steady_clock::time_point> due;
  // Readable once a beep was scheduled from the subagent's thread, so that the event loop, which
  // may wait without a timeout, sets its wait anew; -1 without a subagent.
  int wakeFd = -1;
};

}  // namespace orvu::agent
