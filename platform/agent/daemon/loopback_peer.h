// Who is at the other end of a TCP loopback connection. TCP has no peer credentials, but on
// loopback the peer's socket lives in this machine's kernel too, which knows its owner: the agent
// asks it, so that peers of other users, which cannot know the endpoint file's secret, never take
// the places of the user's own clients while those prove themselves.
#pragma once

#include <cstdint>

#include "protocol/transport.h"

namespace orvu::agent {

// The user id that owns the peer socket of S, a connection accepted on a loopback listener; false
// when the kernel cannot tell (no sock_diag, or the peer has closed its end already).
bool LoopbackPeerUser(transport::Socket s, uint32_t* userId);

}  // namespace orvu::agent
