#include "agent_ops/banner.h"

#include <cstdio>
#include <cstring>

#ifdef _WIN32
#include <windows.h>

#include <cstdlib>
#endif

namespace {

constexpr size_t VERSION_TEXT_SIZE = 100;
constexpr size_t PROGRAM_PATH_SIZE = 260;
constexpr const char* VERSION_MISSING = "<not available>";
constexpr const char* BANNER_NOTICE = "Administers a running Orvu SNMP agent.";

void CopyVersionText(const char* text, char* buffer, size_t capacity) {
  if (capacity == 0) return;
  size_t length = std::strlen(text);
  if (length > capacity - 1) length = capacity - 1;
  std::memcpy(buffer, text, length);
  buffer[length] = '\0';
}

#ifdef _WIN32

int ReadVersionResource(const char* path, char* buffer, size_t capacity) {
  DWORD handle = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &handle);
  if (size == 0) return 0;
  void* block = std::malloc(size);
  if (block == nullptr) return 0;
  int found = 0;
  void* translation = nullptr;
  UINT length = 0;
  if (GetFileVersionInfoA(path, handle, size, block) &&
      VerQueryValueA(block, "\\VarFileInfo\\Translation", &translation, &length) && length != 0) {
    // Only the first translation is tried: language in the low half, code page in the high one.
    DWORD first = *static_cast<DWORD*>(translation);
    char query[512];
    std::snprintf(query, sizeof(query), "\\StringFileInfo\\%04hX%04hX\\FileVersion",
                  static_cast<unsigned short>(first & 0xFFFF),
                  static_cast<unsigned short>(first >> 16));
    void* value = nullptr;
    if (VerQueryValueA(block, query, &value, &length) && length != 0) {
      CopyVersionText(static_cast<const char*>(value), buffer, capacity);
      found = 1;
    }
  }
  std::free(block);
  return found;
}

#endif

const char* OwnProgramPath(char (&path)[PROGRAM_PATH_SIZE]) {
#ifdef _WIN32
  if (GetModuleFileNameA(nullptr, path, PROGRAM_PATH_SIZE) == 0) return nullptr;
  return path;
#else
  // Elsewhere the version is compiled in and the path is not consulted.
  path[0] = '\0';
  return path;
#endif
}

int ReadOwnFileVersion(const char* path, char* buffer, size_t capacity) {
#ifdef _WIN32
  return ReadVersionResource(path, buffer, capacity);
#else
  (void)path;
#ifdef OASET_VERSION_TEXT
  CopyVersionText(OASET_VERSION_TEXT, buffer, capacity);
  return buffer[0] != '\0';
#else
  (void)buffer;
  (void)capacity;
  return 0;
#endif
#endif
}

}  // namespace

void PrintBanner() {
  char path[PROGRAM_PATH_SIZE] = {};
  char version[VERSION_TEXT_SIZE] = {};
  const char* programPath = OwnProgramPath(path);
  if (programPath == nullptr || !ReadOwnFileVersion(programPath, version, sizeof(version))) {
    CopyVersionText(VERSION_MISSING, version, sizeof(version));
  }
  std::printf("\nOASET Utility, Version %s\n", version);
  std::printf("%s", BANNER_NOTICE);
  std::printf("\n");
}
