#include "mibreader/mib_search_path.h"

#include <cstdlib>

#if !defined(_WIN32)
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

std::string DefaultMibFolder() {
#if !defined(_WIN32)
  std::string own = OwnFile();
  size_t slash = own.rfind('/');
  if (slash != std::string::npos) {
    for (const char* relative : MIB_INSTALLED_FOLDERS) {
      std::string installed = own.substr(0, slash + 1) + relative;
      struct stat status {};
      if (stat(installed.c_str(), &status) == 0 && S_ISDIR(status.st_mode)) return installed;
    }
  }
#endif
  return ORVU_DEFAULT_MIB_DIR;
}

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
