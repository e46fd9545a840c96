#include "agent_ops/module_list.h"

#include <cstdint>
#include <cstdio>

#include "agent_ops/agent_error.h"
#include "agentapi/outside_api.h"

namespace {
constexpr uint32_t MODULE_NAME_SIZE = 128;
}

int PrintModuleList(AgentHandle agent, int* exitStatus) {
  std::printf("\nMIB modules handled by Orvu Agent:");
  std::printf("\n");
  // One byte fewer is offered than the buffer holds, so the name stays terminated.
  char name[MODULE_NAME_SIZE] = {};
  uint32_t moduleHandle = 0;
  gApi.AgentEnumModules(agent, 0, name, MODULE_NAME_SIZE - 1, &moduleHandle);
  for (uint32_t index = 1;; ++index) {
    if (!gApi.AgentEnumModules(agent, index, name, MODULE_NAME_SIZE - 1, &moduleHandle)) {
      if (EnumerationFailed()) {
        PrintEnumerationError("Module list", exitStatus);
        return 0;
      }
      if (index == 1) std::printf("\n\n  None.");
      break;
    }
    std::printf("\n  Module %d: %s (handle = %d)", static_cast<int>(index), name,
                static_cast<int32_t>(moduleHandle));
  }
  std::printf("\n");
  return 1;
}
