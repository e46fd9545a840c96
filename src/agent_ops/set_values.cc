#include "agent_ops/set_values.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "agent_ops/agent_error.h"
#include "agent_ops/module_loading.h"
#include "agent_ops/resolve_symbolic_oid.h"
#include "agent_ops/run_outcome.h"
#include "agentapi/outside_api.h"
#include "cli/diagnostics.h"
#include "cli/invocation.h"
#include "cli/split_values.h"
#include "values/parse_value.h"
#include "values/syntax_table.h"
#include "values/value_findings.h"

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
    // A name that several loaded modules define resolves to the first one's: the library says so.
    ReportReasonLines(LastMibReason());
    return true;
  }
  // A failed conversion attaches nothing we own; whatever the record holds now must not be taken
  // for a live OID by the next entry.
  oid = SnmpOid{};
  return false;
}

// Why TEXT named no object: numeric text that does not convert, a name that no loaded module
// defines, or a known name with a suffix that is no instance.
std::string OidFailureReason(const char* text) {
  std::string name(text, std::strcspn(text, "."));
  if ((*text >= '0' && *text <= '9') || name.empty()) return NumericOidReason(text);
  std::string loaded = LoadedModuleNames();
  if (!loaded.empty() && gApi.MibLookupName(name.c_str()) != 0) {
    return "\"" + std::string(text) + "\": " + name +
           " is known, but what follows it is no instance suffix (dotted numbers, as " + name +
           ".0 or " + name + ".50)";
  }
  if (loaded.empty()) {
    return "no MIB module is loaded, so " + name +
           " is not known; load the module that defines it with -w, as -wVORNEL-VNBEEP-MIB";
  }
  std::string reason = LastMibReason();
  return !reason.empty() ? reason : "no object " + name + " in the loaded modules " + loaded;
}

// Standard output says FAILED in the specified words; standard error gives every failed entry one
// line that names the entry and why, so that a script reading it need not parse the trace.
void ReportNotSet(int n, const char* oidText, const std::string& reason) {
  NoteFailedStep();
  ReportReason(std::to_string(n) + ": " + oidText +
               ": not set: " + (reason.empty() ? "the agent framework gave no reason" : reason));
}

// The agent names the syntax it wants by code ("it takes syntax 2, not 4"); the user writes it with
// a type letter.
std::string RefusalReason(SnmpSyntax sent) {
  std::string said = LastAgentErrorText();
  if (gApi.AgentGetLastError() != OUTSIDE_ERR_WRONG_SYNTAX) return said;
  size_t takes = said.find("takes syntax ");
  unsigned wanted = 0;
  if (takes == std::string::npos ||
      std::sscanf(said.c_str() + takes, "takes syntax %u", &wanted) != 1) {
    return said;
  }
  return "it takes " + SyntaxSmiText(wanted, true) + ", not " + SyntaxSmiText(sent, false);
}

// Runs one entry whose OID, syntax and value text are all present; its outcome follows the trace
// line that the caller printed.
void SetOneValue(AgentHandle agent, int n, const char* oidText, SnmpSyntax syntax,
                 const char* valueText, const std::string& splitReason, SnmpOid& oid,
                 SnmpValue& value) {
  if (!ConvertOid(oidText, oid)) {
    std::printf("\n  FAILED (While converting OID to internal form)");
    ReportNotSet(n, oidText, OidFailureReason(oidText));
    return;
  }
  value.syntax = syntax;
  ValueTextNote note = ExamineValueText(syntax, valueText);
  if (!splitReason.empty()) {
    std::printf("\n  FAILED (While converting value to internal form)");
    ReportNotSet(n, oidText, splitReason);
  } else if (ParseValueText(&value, valueText) == 0) {
    std::printf("\n  FAILED (While converting value to internal form)");
    ReportNotSet(n, oidText,
                 syntax == SYNTAX_UNDEFINED
                     ? std::string("no type letter; the letters are ") + TypeLetterList()
                     : note.text);
  } else {
    if (!note.text.empty()) ReportFinding(std::to_string(n) + ": " + oidText + ": " + note.text);
    uint32_t dataHandle = gApi.AgentGetDataHandle(agent, SET_CONTEXT, &oid);
    if (dataHandle == 0) {
      std::printf("\nGet data handle failed: ");
      PrintAgentError("%s");
      ReportNotSet(n, oidText, LastAgentErrorText());
    } else if (gApi.AgentSetData(agent, SET_CONTEXT, dataHandle, &value) != 0) {
      std::printf("OK");
    } else {
      std::printf("\nSet data failed: ");
      PrintAgentError("%s");
      ReportNotSet(n, oidText, RefusalReason(syntax));
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
      ReportNotSet(n, oidText, "no -m for this -s (the n-th -m belongs to the n-th -s)");
      continue;
    }
    if (i >= syntaxes.size) {
      std::printf("\n%d: %s ", n, oidText);
      std::printf("\n  FAILED (No syntax specified)");
      ReportNotSet(n, oidText, "no type letter for this -s");
      continue;
    }
    std::snprintf(syntaxName, sizeof syntaxName, "%s", SyntaxName(syntaxes.items[i]));
    std::printf("\n%d: %s *** (%s) %s ... ", n, oidText, syntaxName, valueTexts.items[i]);
    SetOneValue(agent, n, oidText, syntaxes.items[i], valueTexts.items[i], SplitValueReason(i), oid,
                value);
  }
  std::printf("\n");
}
