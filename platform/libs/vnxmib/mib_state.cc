#include "libs/vnxmib/mib_state.h"

namespace orvu::mib {

// Never destroyed: the process's end returns the memory at once, where taking apart every loaded
// module one by one cost a twentieth of loading a large set of modules; and a caller still busy
// in another thread while the process exits finds the state whole.
MibState& State() {
  static MibState* state = new MibState;
  return *state;
}

}  // namespace orvu::mib
