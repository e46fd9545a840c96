#include "mibreader/mib_text.h"

#include <sys/stat.h>

#include <cstdio>

#if !defined(_WIN32)
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace orvu::mib {
namespace {

constexpr size_t MIB_MAX_FILE_SIZE = 16u << 20;

bool ReadWhole(const std::string& path, std::string* text, std::string* cause) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) {
    *cause = "cannot open the file";
    return false;
  }
  // The text is read into a block of its own size, not one that doubled its way there.
  struct stat info;
  if (fstat(fileno(file), &info) == 0 && info.st_size > 0 &&
      static_cast<size_t>(info.st_size) <= MIB_MAX_FILE_SIZE) {
    text->reserve(static_cast<size_t>(info.st_size));
  }
  char chunk[65536];
  size_t got;
  while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    if (text->size() + got > MIB_MAX_FILE_SIZE) {
      std::fclose(file);
      *cause = "file larger than 16 MiB";
      return false;
    }
    text->append(chunk, got);
  }
  bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) *cause = "cannot read the file";
  return !failed;
}

}  // namespace

ModuleText::~ModuleText() {
#if !defined(_WIN32)
  if (mapped_) munmap(const_cast<char*>(mapped_), mappedSize_);
#endif
}

bool ModuleText::Open(const std::string& path, std::string* cause) {
#if !defined(_WIN32)
  int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    *cause = "cannot open the file";
    return false;
  }
  struct stat info;
  bool mappable = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0;
  if (mappable && static_cast<size_t>(info.st_size) > MIB_MAX_FILE_SIZE) {
    close(fd);
    *cause = "file larger than 16 MiB";
    return false;
  }
  if (mappable) {
    void* at = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE, fd, 0);
    if (at != MAP_FAILED) {
      mapped_ = static_cast<const char*>(at);
      mappedSize_ = static_cast<size_t>(info.st_size);
    }
  }
  close(fd);
  if (mapped_) return true;
#endif
  return ReadWhole(path, &read_, cause);
}

std::string_view ModuleText::View() const {
  return mapped_ ? std::string_view(mapped_, mappedSize_) : std::string_view(read_);
}

}  // namespace orvu::mib
