// orvuctl: the agent's objects for scripts and fleet tools. See docs/orvuctl.md.
#include <cstdio>
#include <cstring>

#include "orvuctl/agent_connection.h"
#include "orvuctl/command_line.h"
#include "orvuctl/commands.h"
#include "orvuctl/desired_state.h"
#include "orvuctl/report_error.h"

namespace {

struct Subcommand {
  const char* name;
  int (*run)(const AgentSession&, OrvuctlCommand&);
  bool needsModules;
};

constexpr Subcommand SUBCOMMANDS[] = {
    {"get", RunGet, true},        {"show", RunShow, true},        {"set", RunSet, true},
    {"apply", RunApply, true},    {"modules", RunModules, false}, {"clients", RunClients, false},
    {"notify", RunNotify, false},
};

}  // namespace

int main(int argc, char** argv) {
  OrvuctlCommand command;
  std::string reason;
  if (!ParseOrvuctlCommand(argc, argv, &command, &reason)) {
    ReportError(reason);
    std::fputs(OrvuctlUsage(), stderr);
    return ORVUCTL_EXIT_USAGE;
  }
  if (command.help) {
    std::fputs(OrvuctlUsage(), stdout);
    return ORVUCTL_EXIT_DONE;
  }
  // A file that does not read sends nothing: it is read before the agent is asked anything.
  if (command.name == "apply" && !ReadDesiredState(command.args[0], &command.desired, &reason)) {
    ReportError(reason);
    return ORVUCTL_EXIT_USAGE;
  }
  for (const Subcommand& subcommand : SUBCOMMANDS) {
    if (command.name != subcommand.name) continue;
    AgentSession session;
    if (!OpenSession(&session, subcommand.needsModules)) return ORVUCTL_EXIT_REFUSED;
    int status = subcommand.run(session, command);
    std::fflush(stdout);
    CloseSession(&session);
    return status;
  }
  return ORVUCTL_EXIT_USAGE;
}
