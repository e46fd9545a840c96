// A private folder of module files for one test, removed afterwards.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

namespace orvu::mib {

class MibTestFolder {
 public:
  MibTestFolder() {
    // create_directory is false for a folder that exists already: a fresh name is tried then.
    std::random_device seed;
    for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
      auto folder = std::filesystem::temp_directory_path() / ("mibtest-" + std::to_string(seed()));
      std::error_code error;
      if (std::filesystem::create_directory(folder, error)) path_ = folder.string();
    }
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
