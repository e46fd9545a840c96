#include "mib_search_path.h"

#include <cstdlib>

namespace orvu::mib {

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
  if (folders.empty()) folders.push_back(ORVU_DEFAULT_MIB_DIR);
  return folders;
}

}  // namespace orvu::mib
