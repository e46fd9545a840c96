#include "agent_ops/client_list.h"

#include <cstdio>

#include "agent_ops/agent_error.h"
#include "agent_ops/output_format.h"
#include "agentapi/outside_api.h"

int PrintClientList(AgentHandle agent, int* exitStatus) {
  std::printf("\nClients connected to Orvu Agent:");
  std::printf("\n");
  // The size is set once; the record is neither cleared nor resized between calls.
  AgentClientInfo info{};
  info.size = AGENT_CLIENT_INFO_SIZE;
  gApi.AgentEnumClients(agent, 0, &info);
  for (uint32_t index = 1;; ++index) {
    if (!gApi.AgentEnumClients(agent, index, &info)) {
      if (EnumerationFailed()) {
        PrintEnumerationError("Client list", exitStatus);
        return 0;
      }
      if (index == 1) std::printf("\n\n  None.");
      return 1;
    }
    char handle[9];
    char time[32];
    std::printf("\n  Client %d:", static_cast<int>(index));
    // The names are bounded by their fields, terminated or not.
    std::printf("\n    Name: %.*s", static_cast<int>(sizeof(info.name)), info.name);
    std::printf("\n    File name: %.*s", static_cast<int>(sizeof(info.fileName)), info.fileName);
    std::printf("\n    Handle: 0x%s", FormatHandle(info.clientHandle, handle));
    std::printf("\n    Id: 0x%s", FormatHandle(info.clientId, handle));
    std::printf("\n    Flags: 0x%s", FormatHandle(info.flags, handle));
    // The time text brings its own line end, so the Process line starts without one.
    std::printf("\n    Registration time: %s", FormatTimeText(info.registrationTime, time));
    std::printf("    Process: 0x%s (handle), %u (id)", FormatHandle(info.processHandle, handle),
                info.processId);
    std::printf("\n    Thread: 0x%s (handle), %u (id)", FormatHandle(info.threadHandle, handle),
                info.threadId);
    std::printf("\n");
  }
}
