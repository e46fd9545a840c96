#include "agent_ops/module_loading.h"

#include <cstdio>

#include "agent_ops/run_outcome.h"
#include "agentapi/outside_api.h"
#include "cli/diagnostics.h"
#include "cli/invocation.h"

namespace {

constexpr uint32_t MIB_REASON_SIZE = 2048;

std::string gLoadedModules;

}  // namespace

std::string LoadedModuleNames() { return gLoadedModules; }

std::string LastMibReason() {
  if (gOptionalApi.MibGetLastReason == nullptr) return std::string();
  char reason[MIB_REASON_SIZE] = {};
  if (gOptionalApi.MibGetLastReason(reason, MIB_REASON_SIZE) == 0) return std::string();
  reason[MIB_REASON_SIZE - 1] = '\0';
  return reason;
}

// What a library says after a success (what it forgave in a module, which of two definitions of
// a name it took): one line on standard error for each of its lines.
void ReportReasonLines(const std::string& reason) {
  for (size_t start = 0; start < reason.size();) {
    size_t end = reason.find('\n', start);
    if (end == std::string::npos) end = reason.size();
    if (end > start) ReportReason(reason.substr(start, end - start));
    start = end + 1;
  }
}

// A module that fails to load stops nothing: its objects are just not found later.
void LoadModules() {
  const GrowList<const char*>& modules = gInvocation.moduleIds;
  std::printf("\nLoading module%s:\n", modules.size == 1 ? "" : "s");
  for (size_t i = 0; i < modules.size; ++i) {
    std::printf("\n%d: %s ...", static_cast<int>(i + 1), modules.items[i]);
    if (gApi.MibLoadModule(modules.items[i])) {
      std::printf(" OK");
      gLoadedModules += (gLoadedModules.empty() ? "" : ", ") + std::string(modules.items[i]);
      ReportReasonLines(LastMibReason());
      continue;
    }
    std::printf(" FAILED");
    NoteFailedStep();
    std::string reason = LastMibReason();
    if (!reason.empty()) ReportReason(reason);
  }
  std::printf("\n");
}
