// A private folder of module files for one test, removed afterwards.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace orvu::mib {

class MibTestFolder {
 public:
  MibTestFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "mibtest-XXXXXX").string();
    if (mkdtemp(pattern.data())) path_ = pattern;
  }
  ~MibTestFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  MibTestFolder(const MibTestFolder&) = delete;
  MibTestFolder& operator=(const MibTestFolder&) = delete;

  const std::string& Path() const { return path_; }

  void Write(const std::string& fileName, const std::string& text) const {
    std::ofstream out(path_ + "/" + fileName, std::ios::binary);
    out << text;
  }

 private:
  std::string path_;
};

}  // namespace orvu::mib
