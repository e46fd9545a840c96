#include "mibreader/mib_search_path.h"

#include <cstdlib>

#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace orvu::mib {

namespace {

#if !defined(_WIN32)
// The file of the program or shared library that this code was linked into.
std::string OwnFile() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DefaultMibFolder), &info) != 0 && info.dli_fname != nullptr &&
      info.dli_fname[0] == '/')
    return info.dli_fname;
  char path[4096];
  ssize_t length = readlink("/proc/self/exe", path, sizeof(path));
  if (length <= 0 || static_cast<size_t>(length) >= sizeof(path)) return std::string();
  return std::string(path, static_cast<size_t>(length));
}
#endif

}  // namespace

#if defined(_WIN32)
// A Windows copy is unpacked anywhere: its modules are in the folder beside the DLL (or program)
// that holds this code, never where it was built.
std::string DefaultMibFolder() {
  HMODULE own = nullptr;
  char path[MAX_PATH + 1] = {};
  DWORD length = 0;
  if (GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&DefaultMibFolder), &own))
    length = GetModuleFileNameA(own, path, MAX_PATH);
  std::string file = length == 0 || length >= MAX_PATH ? std::string() : std::string(path, length);
  size_t slash = file.find_last_of("\\/");
  return (slash == std::string::npos ? std::string(".\\") : file.substr(0, slash + 1)) +
         MIB_WINDOWS_FOLDER;
}
#else
std::string DefaultMibFolder() {
  std::string own = OwnFile();
  size_t slash = own.rfind('/');
  if (slash != std::string::npos) {
    for (const char* relative : MIB_INSTALLED_FOLDERS) {
      std::string installed = own.substr(0, slash + 1) + relative;
      struct stat status {};
      if (stat(installed.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return installed;
    }
  }
  return ORVU_DEFAULT_MIB_DIR;
}
#endif

std::vector<std::string> DefaultSearchPath() {
  std::vector<std::string> folders;
  if (const char* path = std::getenv("ORVU_MIB_PATH")) {
    std::string text = path;
    size_t start = 0;
    while (start <= text.size()) {
      size_t end = text.find(MIB_PATH_SEPARATOR, start);
      if (end == std::string::npos) end = text.size();
      if (end > start) folders.push_back(text.substr(start, end - start));
      start = end + 1;
    }
  }
  if (folders.empty()) folders.push_back(DefaultMibFolder());
  return folders;
}

}  // namespace orvu::mib
