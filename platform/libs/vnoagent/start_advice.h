// What a client is told when it reaches no agent: the remedy that exists where this library runs,
// and whose a socket is that this user may not open.
#pragma once

#include <string>

namespace orvu::client {

// "; start one with ...": ./oaset.sh in the source tree, orvu-agentd for an installed copy, and on
// Windows the agent's TCP listener that writes the endpoint file.
std::string StartAdvice();

// ENDPOINT exists, or lies in a folder, that this user may not open: who owns it and what to do.
std::string ForbiddenSocketText(const std::string& endpoint);

}  // namespace orvu::client
