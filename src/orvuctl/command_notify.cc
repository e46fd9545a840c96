// notify: a notification that a served module defines, sent by the agent to its master with its
// OBJECTS as the agent holds them.
#include <cstdio>
#include <nlohmann/json.hpp>

#include "agentapi/agent_last_error.h"
#include "agentapi/outside_api.h"
#include "orvuctl/commands.h"
#include "orvuctl/mib_object.h"
#include "orvuctl/plain_value.h"
#include "orvuctl/report_error.h"

int RunNotify(const AgentSession& session, OrvuctlCommand& command) {
  const std::string& name = command.args[0];
  std::vector<uint32_t> index;
  if (command.args.size() > 1 && !ReadIds(command.args[1], &index)) {
    ReportError(name + " " + command.args[1] + ": the index takes dotted numbers");
    return ORVUCTL_EXIT_USAGE;
  }
  if (!gOptionalApi.AgentSendNotification) {
    ReportError(name + ": the agent's library sends no notifications");
    return ORVUCTL_EXIT_REFUSED;
  }
  SnmpOid oid{static_cast<uint32_t>(index.size()), index.empty() ? nullptr : index.data()};
  if (gOptionalApi.AgentSendNotification(session.agent, name.c_str(), &oid) != 1) {
    ReportError(name + (index.empty() ? "" : "." + DottedText(index)) +
                ": not sent: " + LastAgentErrorText());
    return ORVUCTL_EXIT_REFUSED;
  }
  std::string text = DottedText(index);
  if (command.json) {
    std::string document = JsonDocumentText({{"notified", {{"name", name}, {"index", text}}}});
    std::fwrite(document.data(), 1, document.size(), stdout);
  } else {
    std::printf("notified %s%s%s\n", name.c_str(), text.empty() ? "" : " ", text.c_str());
  }
  return ORVUCTL_EXIT_DONE;
}
