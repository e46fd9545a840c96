#include "cli/diagnostics.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
size_t gFindingCount = 0;
}

void ReportReason(const std::string& text) {
  // Standard output may sit in a large buffer; what the user reads next to it comes in order only
  // if it is written first.
  std::fflush(stdout);
  std::fprintf(stderr, "oaset: %s\n", text.c_str());
  std::fflush(stderr);
}

void ReportFinding(const std::string& text) {
  ++gFindingCount;
  ReportReason(text);
}

size_t FindingCount() { return gFindingCount; }

bool StrictMode() {
  const char* value = std::getenv("OASET_STRICT");
  return value != nullptr && std::strcmp(value, "1") == 0;
}
