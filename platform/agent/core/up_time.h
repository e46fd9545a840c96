// sysUpTime as the agent's TimeStamps (RFC 2579) take it: the master agent's, once a master told
// it in its answer to the session's Open, else the agent's own time since it started (none under
// a fixed clock, so that outputs compare byte for byte).
#pragma once

#include <cstdint>

namespace orvu::agent {

// At start: FIXED holds the agent's own uptime at 0.
void StartUpTime(bool fixed);
// The master's sysUpTime (hundredths of a second) as it answered just now.
void NoteMasterUpTime(uint32_t ticks);
// sysUpTime now, in hundredths of a second.
uint32_t UpTimeTicks();

}  // namespace orvu::agent
