#include "orvuctl/agent_connection.h"

#include "agentapi/agent_last_error.h"
#include "agentapi/outside_api.h"
#include "agentapi/outside_binding.h"
#include "orvuctl/report_error.h"

namespace {

constexpr const char* ORVUCTL_CLIENT_NAME = "orvuctl";
constexpr uint32_t MODULE_NAME_SIZE = 128;
constexpr uint32_t LOAD_REASON_SIZE = 1024;

bool ListModules(AgentSession* session) {
  char name[MODULE_NAME_SIZE] = {};
  uint32_t moduleHandle = 0;
  gApi.AgentEnumModules(session->agent, 0, name, MODULE_NAME_SIZE - 1, &moduleHandle);
  for (uint32_t index = 1;; ++index) {
    if (!gApi.AgentEnumModules(session->agent, index, name, MODULE_NAME_SIZE - 1, &moduleHandle)) {
      if (!EnumerationFailed()) return true;
      ReportError("the agent's module list: " + LastAgentErrorText());
      return false;
    }
    session->modules.emplace_back(name);
  }
}

// A module that does not load leaves its names unknown; that is said once, and a name it would
// have resolved fails with its own reason.
void LoadServedModules(const AgentSession& session) {
  for (const std::string& module : session.modules) {
    if (gApi.MibLoadModule(module.c_str())) continue;
    char reason[LOAD_REASON_SIZE] = {};
    if (gOptionalApi.MibGetLastReason) gOptionalApi.MibGetLastReason(reason, sizeof reason);
    ReportError("served module " + module + " does not load" +
                (reason[0] ? ": " + std::string(reason) : std::string()));
  }
}

}  // namespace

bool OpenSession(AgentSession* session, bool loadModules) {
  gBindingProgram = "orvuctl";
  if (!BindOutsideLibraries()) return false;
  if (loadModules && !gOptionalApi.MibGetObjectFacet) {
    ReportError(
        "the MIB library cannot describe objects (it has no MibGetObjectFacet): "
        "install the libraries that come with orvuctl");
    return false;
  }
  if (!gApi.AgentFrameworkInit()) {
    ReportError("the agent framework does not start: " + LastAgentErrorText());
    return false;
  }
  session->agent = gApi.AgentConnect(ORVUCTL_CLIENT_NAME, 0, 0, 0);
  if (session->agent == 0) {
    ReportError("cannot connect to the agent: " + LastAgentErrorText());
    gApi.AgentFrameworkCleanup();
    return false;
  }
  if (!ListModules(session)) {
    CloseSession(session);
    return false;
  }
  if (loadModules) LoadServedModules(*session);
  return true;
}

void CloseSession(AgentSession* session) {
  if (session->agent != 0) gApi.AgentDisconnect(session->agent);
  session->agent = 0;
  gApi.AgentFrameworkCleanup();
}
