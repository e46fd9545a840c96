#include "agent_ops/set_values.h"

#include <cstdio>

#include "agent_ops/agent_error.h"
#include "agent_ops/resolve_symbolic_oid.h"
#include "agentapi/outside_api.h"
#include "cli/invocation.h"
#include "values/parse_value.h"
#include "values/syntax_table.h"

namespace {

constexpr size_t SET_SYNTAX_NAME_SIZE = 128;

// The agent framework gives the context no meaning on this path; 0 matches what the table listing
// passes in the same position.
constexpr uint32_t SET_CONTEXT = 0;

void ReleaseEntry(SnmpOid& oid, SnmpValue& value) {
  gApi.SnmpFreeValue(SYNTAX_OID, &oid);
  if (SyntaxHoldsStorage(value.syntax) && value.number != 0 && value.data != 0) {
    gApi.SnmpFreeValue(value.syntax, &value.number);
  }
  oid = SnmpOid{};
  value = SnmpValue{};
}

bool ConvertOid(const char* text, SnmpOid& oid) {
  if (gApi.SnmpStringToOid(text, &oid) != 0) {
    return true;
  }
  if (ResolveSymbolicOid(text, &oid) != 0) {
    return true;
  }
  // A failed conversion attaches nothing we own; whatever the record holds now must not be taken
  // for a live OID by the next entry.
  oid = SnmpOid{};
  return false;
}

// Runs one entry whose OID, syntax and value text are all present; its outcome follows the trace
// line that the caller printed.
void SetOneValue(AgentHandle agent, const char* oidText, SnmpSyntax syntax, const char* valueText,
                 SnmpOid& oid, SnmpValue& value) {
  if (!ConvertOid(oidText, oid)) {
    std::printf("\n  FAILED (While converting OID to internal form)");
    return;
  }
  value.syntax = syntax;
  if (ParseValueText(&value, valueText) == 0) {
    std::printf("\n  FAILED (While converting value to internal form)");
  } else {
    uint32_t dataHandle = gApi.AgentGetDataHandle(agent, SET_CONTEXT, &oid);
    if (dataHandle == 0) {
      std::printf("\nGet data handle failed: ");
      PrintAgentError("%s");
    } else if (gApi.AgentSetData(agent, SET_CONTEXT, dataHandle, &value) != 0) {
      std::printf("OK");
    } else {
      std::printf("\nSet data failed: ");
      PrintAgentError("%s");
    }
  }
  ReleaseEntry(oid, value);
}

}  // namespace

void SetValues(AgentHandle agent) {
  const GrowList<const char*>& oids = gInvocation.oids;
  const GrowList<const char*>& valueTexts = gInvocation.valueTexts;
  const GrowList<SnmpSyntax>& syntaxes = gInvocation.syntaxes;

  SnmpOid oid{};
  SnmpValue value{};
  char syntaxName[SET_SYNTAX_NAME_SIZE];

  std::printf("\nSetting OID%s:\n", oids.size == 1 ? "" : "s");
  for (size_t i = 0; i < oids.size; ++i) {
    int n = static_cast<int>(i + 1);
    const char* oidText = oids.items[i];
    if (i >= valueTexts.size) {
      std::printf("\n%d: %s ", n, oidText);
      std::printf("\n  FAILED (No value specified)");
      continue;
    }
    if (i >= syntaxes.size) {
      std::printf("\n%d: %s ", n, oidText);
      std::printf("\n  FAILED (No syntax specified)");
      continue;
    }
    std::snprintf(syntaxName, sizeof syntaxName, "%s", SyntaxName(syntaxes.items[i]));
    std::printf("\n%d: %s *** (%s) %s ... ", n, oidText, syntaxName, valueTexts.items[i]);
    SetOneValue(agent, oidText, syntaxes.items[i], valueTexts.items[i], oid, value);
  }
  std::printf("\n");
}
