#include "agent_ops/module_loading.h"

#include <cstdio>

#include "agentapi/outside_api.h"
#include "cli/invocation.h"

// A module that fails to load stops nothing: its objects are just not found later.
void LoadModules() {
  const GrowList<const char*>& modules = gInvocation.moduleIds;
  std::printf("\nLoading module%s:\n", modules.size == 1 ? "" : "s");
  for (size_t i = 0; i < modules.size; ++i) {
    std::printf("\n%d: %s ...", static_cast<int>(i + 1), modules.items[i]);
    std::printf(gApi.MibLoadModule(modules.items[i]) ? " OK" : " FAILED");
  }
  std::printf("\n");
}
