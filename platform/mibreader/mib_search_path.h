// Where MIB modules are looked for when the caller names no folders.
#pragma once

#include <string>
#include <vector>

namespace orvu::mib {

// Windows paths hold drive letters, so there the folders are separated as in PATH.
#if defined(_WIN32)
constexpr char MIB_PATH_SEPARATOR = ';';
#else
constexpr char MIB_PATH_SEPARATOR = ':';
#endif

// ORVU_MIB_PATH split at MIB_PATH_SEPARATOR, or the installed mibs/ folder when it is unset or
// empty.
std::vector<std::string> DefaultSearchPath();

}  // namespace orvu::mib
