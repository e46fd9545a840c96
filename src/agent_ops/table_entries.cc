#include "agent_ops/table_entries.h"

#include <cstdio>
#include <string>

#include "agent_ops/agent_error.h"
#include "agent_ops/output_format.h"
#include "agentapi/outside_api.h"
#include "cli/diagnostics.h"
#include "cli/invocation.h"
#include "values/snmp_value.h"

namespace {

const char* const ADD_FAILED_FORMAT = "\nFailed to add a table entry: %s\n";
const char* const REMOVE_FAILED_FORMAT = "\nFailed to remove a table entry: %s\n";

// The entry and instance OIDs of one step. What converted is given back on every path, the
// failing ones included, so that no step leaks what it converted.
struct StepOids {
  SnmpOid entry;
  SnmpOid instance;
};

void ReleaseOid(SnmpOid* oid) {
  if (oid->ids != nullptr) {
    gApi.SnmpFreeValue(SYNTAX_OID, oid);
  }
  *oid = {};
}

void ReleaseStepOids(StepOids* oids) {
  ReleaseOid(&oids->entry);
  ReleaseOid(&oids->instance);
}

int FailStep(StepOids* oids, int* exitStatus) {
  ReleaseStepOids(oids);
  *exitStatus = 1;
  return 0;
}

// A failed conversion attaches nothing that the tool owns: the record is cleared, not released.
int ConvertOid(const char* text, SnmpOid* oid) {
  if (gApi.SnmpStringToOid(text, oid) != 0) {
    return 1;
  }
  *oid = {};
  return 0;
}

// One line on standard error for a failed step, naming it as it was asked for.
void ReportStepFailure(bool adding, const std::string& reason) {
  ReportReason(std::string(adding ? "-a" : "-r") +
               (adding ? gInvocation.addEntryOid : gInvocation.removeEntryOid) + " -i" +
               gInvocation.instanceOid + (adding ? ": not created: " : ": not removed: ") + reason);
}

void PrintStepError(bool adding) {
  PrintAgentError(adding ? ADD_FAILED_FORMAT : REMOVE_FAILED_FORMAT);
  ReportStepFailure(adding, LastAgentErrorText());
}

// Converts both texts; on failure prints the message of the text that did not convert.
int ConvertStepOids(bool adding, const char* entryText, StepOids* oids) {
  if (ConvertOid(entryText, &oids->entry) == 0) {
    std::printf("\nBad table entry oid: %s\n", entryText);
    ReportStepFailure(adding, NumericOidReason(entryText));
    return 0;
  }
  if (ConvertOid(gInvocation.instanceOid, &oids->instance) == 0) {
    std::printf("\nBad instance oid: %s\n", gInvocation.instanceOid);
    ReportStepFailure(adding, NumericOidReason(gInvocation.instanceOid));
    return 0;
  }
  return 1;
}

}  // namespace

int AddTableEntry(AgentHandle agent, int* exitStatus) {
  StepOids oids{};
  std::printf("\n\nAdding table entry %s.<index>.%s ...", gInvocation.addEntryOid,
              gInvocation.instanceOid);
  if (ConvertStepOids(true, gInvocation.addEntryOid, &oids) == 0) {
    return FailStep(&oids, exitStatus);
  }
  uint32_t instanceHandle = 0;
  uint32_t entryHandle =
      gApi.AgentCreateTableEntry(agent, 0, 0, &oids.entry, &oids.instance, &instanceHandle);
  ReleaseStepOids(&oids);
  if (entryHandle == 0) {
    PrintStepError(true);
    return FailStep(&oids, exitStatus);
  }
  // A created instance that cannot be enabled stays in the agent as it is.
  if (gApi.AgentEnableTableEntry(agent, 0, entryHandle, instanceHandle, AGENT_ENABLE_FLAGS) == 0) {
    PrintStepError(true);
    return FailStep(&oids, exitStatus);
  }
  char handleText[9];
  std::printf("\nTable entry succesfully added and enabled (handle = %s).\n",
              FormatHandle(instanceHandle, handleText));
  return 1;
}

int RemoveTableEntry(AgentHandle agent, int* exitStatus) {
  StepOids oids{};
  std::printf("\n\nRemoving table entry %s.<index>.%s ...", gInvocation.removeEntryOid,
              gInvocation.instanceOid);
  if (ConvertStepOids(false, gInvocation.removeEntryOid, &oids) == 0) {
    return FailStep(&oids, exitStatus);
  }
  // An entry or instance that the agent does not know reads like a text that did not convert.
  uint32_t entryHandle = gApi.AgentFindTableEntry(agent, &oids.entry);
  if (entryHandle == 0) {
    std::printf("\nBad table entry oid: %s\n", gInvocation.removeEntryOid);
    ReportStepFailure(false, LastAgentErrorText());
    return FailStep(&oids, exitStatus);
  }
  uint32_t instanceHandle = gApi.AgentFindTableInstance(agent, entryHandle, &oids.instance);
  if (instanceHandle == 0) {
    std::printf("\nBad instance oid: %s\n", gInvocation.instanceOid);
    ReportStepFailure(false, LastAgentErrorText());
    return FailStep(&oids, exitStatus);
  }
  ReleaseStepOids(&oids);
  if (gApi.AgentRemoveTableEntry(agent, 0, entryHandle, instanceHandle) == 0) {
    PrintStepError(false);
    return FailStep(&oids, exitStatus);
  }
  std::printf("\nTable entry succesfully removed.\n");
  return 1;
}
