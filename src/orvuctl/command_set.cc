// set: values written all or nothing.
#include "orvuctl/agent_reads.h"
#include "orvuctl/change_apply.h"
#include "orvuctl/change_report.h"
#include "orvuctl/commands.h"
#include "orvuctl/report_error.h"
#include "orvuctl/wanted_value.h"
#include "values/change_record.h"

int RunSet(const AgentSession& session, OrvuctlCommand& command) {
  for (const std::string& arg : command.args) {
    if (arg.find('=') == std::string::npos) {
      ReportError(arg + ": takes NAME=VALUE");
      return ORVUCTL_EXIT_USAGE;
    }
  }
  std::vector<PlannedChange> changes;
  std::vector<ResolvedName> names(command.args.size());
  int status = ORVUCTL_EXIT_DONE;
  for (size_t i = 0; i < command.args.size(); ++i) {
    const std::string& arg = command.args[i];
    size_t equals = arg.find('=');
    std::string nameText = arg.substr(0, equals);
    std::string text = arg.substr(equals + 1);
    std::string reason;
    PlainValue value;
    if (!ResolveName(nameText, &names[i], &reason)) {
      ReportError(nameText + ": " + reason);
      status = ORVUCTL_EXIT_REFUSED;
      continue;
    }
    if (!TypeWantedValue(names[i], text, &value, &reason)) {
      ReportError(names[i].display + " = " + text + ": " + reason);
      status = ORVUCTL_EXIT_REFUSED;
      continue;
    }
    PlainValue current;
    std::optional<PlainValue> before;
    ReadOutcome outcome = ReadValue(session.agent, names[i].oid, &current, &reason);
    if (outcome == ReadOutcome::FAILED) {
      ReportError(names[i].display + ": " + reason);
      status = ORVUCTL_EXIT_REFUSED;
      continue;
    }
    if (outcome == ReadOutcome::VALUE) before = current;
    PlannedChange change;
    change.action = CHANGE_SET;
    change.object = names[i].object;
    change.oid = names[i].oid;
    change.before = before;
    change.after = value;
    changes.push_back(std::move(change));
  }
  if (status != ORVUCTL_EXIT_DONE) {
    ReportError("nothing was changed");
    return status;
  }
  if (!ApplyChanges(session.agent, changes)) return ORVUCTL_EXIT_REFUSED;
  ChangeReportOptions options;
  options.json = command.json;
  PrintChanges(changes, options);
  return ORVUCTL_EXIT_DONE;
}
