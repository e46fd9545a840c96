#include "agent_ops/version_report.h"

#include <cstdio>
#include <cstring>

#include "agent_ops/agent_error.h"
#include "agent_ops/run_outcome.h"
#include "agentapi/outside_api.h"
#include "cli/diagnostics.h"

// Text fields are printed no further than their own width: a library that fills one to the brim
// without a terminator must not make the tool read into the next field or past the record.
void PrintVersionReport() {
  std::printf("\n\nOrvu SNMP Agent version information:\n");
  AgentVersionInfo info;
  std::memset(&info, 0, sizeof(info));
  info.size = AGENT_VERSION_INFO_SIZE;
  if (gApi.AgentGetVersionInfo(&info) != 1) {
    std::printf("\nFailed.\n");
    NoteFailedStep();
    ReportReason("no version from the agent framework: " + LastAgentErrorText());
  } else {
    std::printf("\n  Orvu SNMP Agent version: %d.%d (Build %d)", info.versionMajor,
                info.versionMinor, info.build);
    std::printf("\n  Orvu SNMP Agent spec: %.*s", static_cast<int>(sizeof(info.specText)),
                info.specText);
    std::printf("\n  Vendor name: %.*s", static_cast<int>(sizeof(info.vendorName)),
                info.vendorName);
    std::printf("\n  Vendor OID: %.*s", static_cast<int>(sizeof(info.vendorOid)), info.vendorOid);
    std::printf("\n  Vendor IANA enterprise number: %d", info.enterpriseNumber);
    std::printf("\n  Vendor WEB: %.*s", static_cast<int>(sizeof(info.vendorWeb)), info.vendorWeb);
    std::printf("\n  Vendor E-Mail: %.*s", static_cast<int>(sizeof(info.vendorEmail)),
                info.vendorEmail);
  }
  std::printf("\n");
}
