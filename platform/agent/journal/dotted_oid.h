// OIDs as the agent writes them in its state file and its error texts: 1.3.6.1, empty for none.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace orvu::agent {

std::string OidText(const std::vector<uint32_t>& oid);

}  // namespace orvu::agent
