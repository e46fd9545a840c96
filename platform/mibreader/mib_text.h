// The text of a module file, held while the module is parsed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orvu::mib {

// Mapped where the system allows, which spares a copy and the zeroing of fresh pages; read into
// memory otherwise.
class ModuleText {
 public:
  ModuleText() = default;
  ~ModuleText();
  ModuleText(const ModuleText&) = delete;
  ModuleText& operator=(const ModuleText&) = delete;

  // False with *cause set when the file cannot be read or is larger than 16 MiB.
  bool Open(const std::string& path, std::string* cause);
  std::string_view View() const;

 private:
  std::string read_;
  const char* mapped_ = nullptr;
  size_t mappedSize_ = 0;
};

}  // namespace orvu::mib
