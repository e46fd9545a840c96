// modules and clients: what the agent serves and who is connected to it.
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "agentapi/agent_last_error.h"
#include "agentapi/agent_records.h"
#include "agentapi/outside_api.h"
#include "orvuctl/commands.h"
#include "orvuctl/plain_value.h"
#include "orvuctl/report_error.h"

namespace {

void Print(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

std::string FieldText(const char* field, size_t size) {
  return std::string(field, strnlen(field, size));
}

}  // namespace

int RunModules(const AgentSession& session, OrvuctlCommand& command) {
  if (command.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const std::string& module : session.modules) list.push_back({{"name", module}});
    Print(JsonDocumentText({{"modules", std::move(list)}}));
    return ORVUCTL_EXIT_DONE;
  }
  std::string out;
  for (const std::string& module : session.modules) out += module + "\n";
  Print(out);
  return ORVUCTL_EXIT_DONE;
}

int RunClients(const AgentSession& session, OrvuctlCommand& command) {
  AgentClientInfo info{};
  info.size = AGENT_CLIENT_INFO_SIZE;
  gApi.AgentEnumClients(session.agent, 0, &info);
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  std::string out;
  for (uint32_t index = 1;; ++index) {
    if (!gApi.AgentEnumClients(session.agent, index, &info)) {
      if (!EnumerationFailed()) break;
      ReportError("the agent's client list: " + LastAgentErrorText());
      return ORVUCTL_EXIT_REFUSED;
    }
    std::string name = FieldText(info.name, sizeof(info.name));
    std::string file = FieldText(info.fileName, sizeof(info.fileName));
    out += name + " pid " + std::to_string(info.processId) + " " + file + "\n";
    nlohmann::ordered_json client;
    client["name"] = name;
    client["processId"] = info.processId;
    client["threadId"] = info.threadId;
    client["registered"] = info.registrationTime;
    client["file"] = file;
    list.push_back(std::move(client));
  }
  Print(command.json ? JsonDocumentText({{"clients", std::move(list)}}) : out);
  return ORVUCTL_EXIT_DONE;
}
