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

// Where installed copies keep the sample modules, relative to the folder of the program
// (PREFIX/bin) or of the library (PREFIX/lib/oaset).
constexpr const char* MIB_INSTALLED_FOLDERS[] = {"../share/oaset/mibs", "../../share/oaset/mibs"};

// Where a Windows copy keeps them: beside the DLL, as the zip unpacks.
constexpr const char* MIB_WINDOWS_FOLDER = "mibs";

// The folder searched when ORVU_MIB_PATH names none: the first of MIB_INSTALLED_FOLDERS beside the
// program or library that holds this code that exists (an installed copy), else the sample modules
// of the source tree it was built from. On Windows always MIB_WINDOWS_FOLDER beside it.
std::string DefaultMibFolder();

// ORVU_MIB_PATH split at MIB_PATH_SEPARATOR, or DefaultMibFolder() when it is unset or empty.
std::vector<std::string> DefaultSearchPath();

}  // namespace orvu::mib
