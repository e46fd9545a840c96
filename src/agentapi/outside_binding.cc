#include "agentapi/outside_binding.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "agentapi/outside_api.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace {

enum OutsideLibrary { LIBRARY_AGENT, LIBRARY_SNMP, LIBRARY_MIB, LIBRARY_COUNT };

#ifdef _WIN32
constexpr const char* LIBRARY_FILES[LIBRARY_COUNT] = {"vnoagent.dll", "VnWsnmp.dll", "VNXMIB.dll"};
using LibraryHandle = HMODULE;
#else
constexpr const char* LIBRARY_FILES[LIBRARY_COUNT] = {"libvnoagent.so", "libvnwsnmp.so",
                                                      "libvnxmib.so"};
using LibraryHandle = void*;
#endif

struct OutsideOperation {
  OutsideLibrary library;
  uint16_t ordinal;
  const char* name;
  size_t slot;  // offset of the function pointer in OutsideApi (or OptionalApi)
};

#define OUTSIDE_OPERATION(library, ordinal, name) \
  { library, ordinal, #name, offsetof(OutsideApi, name) }

constexpr OutsideOperation OUTSIDE_OPERATIONS[] = {
    OUTSIDE_OPERATION(LIBRARY_AGENT, 10, AgentFrameworkInit),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 11, AgentFrameworkCleanup),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 20, AgentConnect),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 21, AgentDisconnect),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 97, AgentGetVersionInfo),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 99, AgentGetLastError),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 100, AgentErrorText),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 63, AgentEnumModules),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 60, AgentEnumClients),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 62, AgentEnumTableInstances),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 42, AgentFindTableEntry),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 43, AgentFindTableInstance),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 50, AgentCreateTableEntry),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 52, AgentEnableTableEntry),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 51, AgentRemoveTableEntry),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 40, AgentGetDataHandle),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 48, AgentGetData),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 44, AgentSetData),
    OUTSIDE_OPERATION(LIBRARY_AGENT, 98, AgentFreeValue),
    OUTSIDE_OPERATION(LIBRARY_SNMP, 903, SnmpStringToOid),
    OUTSIDE_OPERATION(LIBRARY_SNMP, 904, SnmpOidToString),
    OUTSIDE_OPERATION(LIBRARY_SNMP, 900, SnmpFreeValue),
    OUTSIDE_OPERATION(LIBRARY_MIB, 502, MibLoadModule),
    OUTSIDE_OPERATION(LIBRARY_MIB, 100, MibLookupName),
    OUTSIDE_OPERATION(LIBRARY_MIB, 301, MibGetObjectOid),
    OUTSIDE_OPERATION(LIBRARY_MIB, 101, MibLookupOid),
    OUTSIDE_OPERATION(LIBRARY_MIB, 303, MibGetObjectName),
};

#undef OUTSIDE_OPERATION

#define OPTIONAL_OUTSIDE_OPERATION(library, ordinal, name) \
  { library, ordinal, #name, offsetof(OptionalApi, name) }

constexpr OutsideOperation OPTIONAL_OPERATIONS[] = {
    OPTIONAL_OUTSIDE_OPERATION(LIBRARY_MIB, 510, MibGetLastReason),
    OPTIONAL_OUTSIDE_OPERATION(LIBRARY_MIB, 511, MibGetObjectFacet),
    OPTIONAL_OUTSIDE_OPERATION(LIBRARY_AGENT, 53, AgentApplyChanges),
    OPTIONAL_OUTSIDE_OPERATION(LIBRARY_AGENT, 54, AgentSendNotification),
};

#undef OPTIONAL_OUTSIDE_OPERATION

static_assert(sizeof(OptionalApi) ==
              sizeof(OPTIONAL_OPERATIONS) / sizeof(OPTIONAL_OPERATIONS[0]) * sizeof(void (*)()));

// Every slot of the table is bound: an operation added to OutsideApi must be listed here too.
static_assert(sizeof(OutsideApi) ==
              sizeof(OUTSIDE_OPERATIONS) / sizeof(OUTSIDE_OPERATIONS[0]) * sizeof(void (*)()));

using OutsideEntry = void (*)();

template <typename Api>
void StoreEntry(Api* api, size_t slot, OutsideEntry entry) {
  std::memcpy(reinterpret_cast<char*>(api) + slot, &entry, sizeof(entry));
}

#ifdef _WIN32

std::string OwnFolder() {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return std::string();
  std::string folder(path, length);
  size_t slash = folder.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

LibraryHandle OpenLibrary(const std::string& path) { return LoadLibraryA(path.c_str()); }

OutsideEntry FindEntry(LibraryHandle library, const OutsideOperation& operation) {
  return reinterpret_cast<OutsideEntry>(
      GetProcAddress(library, MAKEINTRESOURCEA(operation.ordinal)));
}

const char* SystemSearchName() { return "the DLL search path"; }

std::string LastLoadError() { return "Windows error " + std::to_string(GetLastError()); }

bool FileExists(const std::string& path) {
  return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::string LoadAdvice(const std::string& ownFolder) {
  return std::string("put them beside ") + gBindingProgram + " (in " + ownFolder +
         ") or in a folder on PATH";
}

#else

std::string OwnFolder() {
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path));
  if (length <= 0 || static_cast<size_t>(length) >= sizeof(path)) return std::string();
  std::string folder(path, static_cast<size_t>(length));
  size_t slash = folder.rfind('/');
  return slash == std::string::npos ? std::string() : folder.substr(0, slash + 1);
}

LibraryHandle OpenLibrary(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}

OutsideEntry FindEntry(LibraryHandle library, const OutsideOperation& operation) {
  return reinterpret_cast<OutsideEntry>(dlsym(library, operation.name));
}

const char* SystemSearchName() { return "the system library search path"; }

// Every failed dlopen is followed by this call: the loader keeps its message in a block of its
// own until it has been read and asked for once more.
std::string LastLoadError() {
  const char* text = dlerror();
  std::string reason = text != nullptr ? text : "unknown error";
  dlerror();
  return reason;
}

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string LoadAdvice(const std::string& ownFolder) {
  return std::string("put them beside ") + gBindingProgram + " (in " + ownFolder + ") or in " +
         ownFolder + "../lib/oaset, or name their folder in LD_LIBRARY_PATH";
}

#endif

// The program's own folder first, so that a build runs the libraries it was built with; then
// whatever the system's loader finds. On failure *reason is the loader's own word: about the file
// in the own folder when there is one (a broken file), else about the search.
LibraryHandle LoadOutsideLibrary(OutsideLibrary library, const std::string& ownFolder,
                                 std::string* loadedFrom, std::string* reason) {
  const char* file = LIBRARY_FILES[library];
  std::string ownFolderReason;
  if (!ownFolder.empty()) {
    *loadedFrom = ownFolder + file;
    LibraryHandle handle = OpenLibrary(*loadedFrom);
    if (handle != nullptr) return handle;
    std::string openError = LastLoadError();
    if (FileExists(*loadedFrom)) ownFolderReason = openError;
#ifndef _WIN32
    // An installed copy keeps them in ../lib/oaset. Its run path says so too, but a dlopen that a
    // sanitizer runtime intercepts is made on that runtime's behalf and never reads it.
    std::string installed = ownFolder + "../lib/oaset/" + file;
    if (ownFolderReason.empty() && FileExists(installed)) {
      *loadedFrom = installed;
      handle = OpenLibrary(installed);
      if (handle != nullptr) return handle;
      ownFolderReason = LastLoadError();
    }
#endif
  }
  *loadedFrom = std::string(file) + " from " + SystemSearchName();
  LibraryHandle handle = OpenLibrary(file);
  if (handle == nullptr) {
    std::string searchReason = LastLoadError();
    *reason = ownFolderReason.empty() ? searchReason : ownFolderReason;
  }
  return handle;
}

// Every library is tried, so that one run names all that are missing or broken.
bool LoadOutsideLibraries(const std::string& ownFolder, LibraryHandle* libraries,
                          std::string* loadedFrom) {
  std::string failures;
  for (int library = 0; library < LIBRARY_COUNT; ++library) {
    std::string reason;
    libraries[library] = LoadOutsideLibrary(static_cast<OutsideLibrary>(library), ownFolder,
                                            &loadedFrom[library], &reason);
    if (libraries[library] == nullptr)
      failures += std::string("  ") + LIBRARY_FILES[library] + ": " + reason + "\n";
  }
  if (failures.empty()) return true;
  std::string folder = ownFolder.empty() ? "<own folder unknown>" : ownFolder;
  std::fprintf(stderr,
               "%s: cannot load the agent's libraries (looked in %s and %s):\n%s"
               "%s: %s\n",
               gBindingProgram, folder.c_str(), SystemSearchName(), failures.c_str(),
               gBindingProgram, LoadAdvice(folder).c_str());
  return false;
}

}  // namespace

const char* gBindingProgram = "oaset";

int BindOutsideLibraries() {
  std::string ownFolder = OwnFolder();
  LibraryHandle libraries[LIBRARY_COUNT] = {};
  std::string loadedFrom[LIBRARY_COUNT];
  if (!LoadOutsideLibraries(ownFolder, libraries, loadedFrom)) return 0;
  OutsideApi api{};
  for (const OutsideOperation& operation : OUTSIDE_OPERATIONS) {
    LibraryHandle library = libraries[operation.library];
    OutsideEntry entry = FindEntry(library, operation);
    if (entry == nullptr) {
      std::fprintf(stderr, "%s: operation %s (ordinal %u) not found in %s\n", gBindingProgram,
                   operation.name, static_cast<unsigned>(operation.ordinal),
                   loadedFrom[operation.library].c_str());
      return 0;
    }
    StoreEntry(&api, operation.slot, entry);
  }
  // A library without an optional operation leaves its slot null.
  OptionalApi optional{};
  for (const OutsideOperation& operation : OPTIONAL_OPERATIONS) {
    OutsideEntry entry = FindEntry(libraries[operation.library], operation);
    if (entry != nullptr) {
      StoreEntry(&optional, operation.slot, entry);
    } else {
      LastLoadError();  // the loader's message for the missing name is read, so it is let go
    }
  }
  // The libraries stay loaded for the life of the process.
  gApi = api;
  gOptionalApi = optional;
  return 1;
}
