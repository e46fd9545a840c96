// The run from the banner to "Finished.": one pass, one thread, everything on standard output.
#include <cstdio>
#include <string>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "agent_ops/agent_error.h"
#include "agent_ops/banner.h"
#include "agent_ops/client_list.h"
#include "agent_ops/module_list.h"
#include "agent_ops/module_loading.h"
#include "agent_ops/run_outcome.h"
#include "agent_ops/set_values.h"
#include "agent_ops/table_entries.h"
#include "agent_ops/table_listing.h"
#include "agent_ops/version_report.h"
#include "agentapi/outside_api.h"
#include "agentapi/outside_binding.h"
#include "cli/diagnostics.h"
#include "cli/echo_parameters.h"
#include "cli/invocation.h"
#include "cli/parse_command_line.h"
#include "values/value_findings.h"

namespace {

constexpr const char* CLIENT_NAME = "OASetUtility";
constexpr size_t OUTPUT_BUFFER_SIZE = 64 * 1024;

// Everything done while connected. Returning early goes straight to the disconnection: a failed
// table entry creation or removal, or a listing whose entry OID was rejected.
void RunConnectedWork(AgentHandle agent, int* exitStatus) {
  const Invocation& invocation = gInvocation;
  if (invocation.printModules) PrintModuleList(agent);
  if (invocation.printClients) PrintClientList(agent);
  if (invocation.addEntryOid != nullptr && invocation.instanceOid != nullptr &&
      !AddTableEntry(agent, exitStatus)) {
    return;
  }
  if (invocation.removeEntryOid != nullptr && invocation.instanceOid != nullptr &&
      !RemoveTableEntry(agent, exitStatus)) {
    return;
  }
  if (invocation.listTable && !ListTableEntries(agent, exitStatus)) return;
  if (invocation.oids.size > 0) {
    SetValues(agent);
  } else {
    std::printf("\nNothing to set.");
    std::printf("\n");
  }
}

// A listing writes a line per leaf; into a file or a pipe they go in large blocks rather than the
// C library's default of one page. A terminal keeps its line buffering.
void UseLargeOutputBuffer() {
#ifdef _WIN32
  bool terminal = _isatty(_fileno(stdout)) != 0;
#else
  bool terminal = isatty(fileno(stdout)) != 0;
#endif
  // The C library would ignore the size without a buffer of ours; this one lives as long as the
  // process, so the flush at exit still finds it.
  static char buffer[OUTPUT_BUFFER_SIZE];
  if (!terminal) std::setvbuf(stdout, buffer, _IOFBF, sizeof buffer);
}

// Under OASET_STRICT=1 a value text that would be read in part is as much a mistake as a stray
// argument, and it must be found before anything changes in the agent.
void ReportValueFindings() {
  const Invocation& invocation = gInvocation;
  for (size_t i = 0; i < invocation.oids.size && i < invocation.valueTexts.size; ++i) {
    SnmpSyntax syntax = invocation.syntaxes.items[i];
    if (syntax == SYNTAX_UNDEFINED) continue;
    ValueTextNote note = ExamineValueText(syntax, invocation.valueTexts.items[i]);
    if (!note.refused && !note.text.empty()) {
      ReportFinding(std::to_string(i + 1) + ": " + invocation.oids.items[i] + ": " + note.text);
    }
  }
}

void CleanUpFramework() {
  if (!gApi.AgentFrameworkCleanup()) {
    std::printf("\nFramework cleanup error: ");
    PrintAgentError("%s");
  }
}

}  // namespace

int main(int argc, char** argv) {
  int exitStatus = 0;
  UseLargeOutputBuffer();

  PrintBanner();

  // Without arguments, or with an unknown switch, this prints the usage text and exits with 0.
  ResetInvocation();
  ParseCommandLine(argc, argv);

  bool strict = StrictMode();
  if (strict) {
    ReportValueFindings();
    if (FindingCount() > 0) {
      std::fflush(stdout);
      ReportReason("OASET_STRICT=1: stopped before connecting, nothing was changed; " +
                   std::to_string(FindingCount()) + " finding" + (FindingCount() == 1 ? "" : "s") +
                   " above");
      return EXIT_STRICT_FINDINGS;
    }
  }

  // Only now, so that the usage text needs no library.
  if (!BindOutsideLibraries()) {
    std::fflush(stdout);
    return EXIT_BINDING_FAILED;
  }

  // What needs no framework.
  if (gInvocation.printParameters) EchoParameters();
  if (gInvocation.printVersion) PrintVersionReport();
  if (gInvocation.moduleIds.size > 0) LoadModules();

  // A framework that did not start is neither connected nor cleaned up; a failed connection is
  // still cleaned up; a failed disconnection is not.
  if (!gApi.AgentFrameworkInit()) {
    std::printf("\nFramework initialization error: ");
    PrintAgentError("%s");
  } else {
    AgentHandle agent = gApi.AgentConnect(CLIENT_NAME, 0, 0, 0);
    if (agent == 0) {
      std::printf("\nAgent connection failed: ");
      PrintAgentError(" %s");
      CleanUpFramework();
    } else {
      RunConnectedWork(agent, &exitStatus);
      if (!gApi.AgentDisconnect(agent)) {
        std::printf("\nFramework disconnect agent error: ");
        PrintAgentError(" %s");
      } else {
        CleanUpFramework();
      }
    }
  }

  std::printf("\nFinished.");
  // Strict: every failure counts, not only a table entry's.
  if (strict && AnyStepFailed()) exitStatus = 1;
  return exitStatus;
}
