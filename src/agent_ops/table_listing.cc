#include "agent_ops/table_listing.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "agent_ops/agent_error.h"
#include "agent_ops/output_format.h"
#include "agent_ops/run_outcome.h"
#include "agentapi/outside_api.h"
#include "cli/diagnostics.h"
#include "cli/invocation.h"
#include "values/piece_format.h"
#include "values/print_var_bind.h"
#include "values/snmp_value.h"

namespace {

constexpr uint8_t LISTING_OID_FLAGS = PRINT_OID_NUMERIC;
constexpr uint8_t LISTING_LEAF_FLAGS =
    PRINT_OID_NUMERIC | PRINT_VALUE | PRINT_MARKER | PRINT_SYNTAX;
// entry.leaf.index, each OID at most as long as the record holds.
constexpr uint32_t LEAF_OID_MAX_IDS = TABLE_OID_MAX_IDS + 1 + TABLE_OID_MAX_IDS;

// Text of an instance's leaves held before it is written.
constexpr size_t LEAF_TEXT_HELD = 16 * 1024;

// The record holds at most 128 sub-identifiers per OID; a larger count from the library is taken
// as 128, so that nothing is read past the record.
uint32_t UsableCount(uint32_t count) { return std::min(count, TABLE_OID_MAX_IDS); }

SnmpOid EntryOidOf(TableInstanceInfo* info) {
  return SnmpOid{UsableCount(info->entryOidCount), info->entryOidIds};
}

SnmpOid IndexOidOf(TableInstanceInfo* info) {
  return SnmpOid{UsableCount(info->indexOidCount), info->indexOidIds};
}

// entry.0.index into IDS; returns the OID and, through *leafSlot, where the leaf number goes.
SnmpOid BuildLeafOid(TableInstanceInfo* info, uint32_t (&ids)[LEAF_OID_MAX_IDS],
                     uint32_t* leafSlot) {
  SnmpOid entry = EntryOidOf(info);
  SnmpOid index = IndexOidOf(info);
  std::copy_n(entry.ids, entry.count, ids);
  ids[entry.count] = 0;
  std::copy_n(index.ids, index.count, ids + entry.count + 1);
  *leafSlot = entry.count;
  return SnmpOid{entry.count + 1 + index.count, ids};
}

void GiveBackLeaf(SnmpOid* oid, SnmpValue* value) {
  gApi.AgentFreeValue(value->syntax, &value->number);
  gApi.AgentFreeValue(SYNTAX_OID, oid);
  *value = {};
  *oid = {};
}

// The lines of a listing are put together without the format machinery: they are printed for
// every instance and leaf. The tool runs on one thread, so one buffer per line serves every call.
void PrintText(const std::string& text) { std::fwrite(text.data(), 1, text.size(), stdout); }

void PrintLeaves(AgentHandle agent, TableInstanceInfo* info) {
  std::fputs("    Instance leafs:", stdout);
  uint32_t leafIds[LEAF_OID_MAX_IDS];
  uint32_t leafSlot = 0;
  SnmpOid leafOid = BuildLeafOid(info, leafIds, &leafSlot);
  uint32_t leafCount = info->leafCount;
  // The instance's leaves go out in one write, each leaf's number and line; where a leaf fails,
  // what came before and its number alone go out before anything else is said.
  static std::string text;
  text.clear();
  // A leaf count of 4294967295 must still end, not wrap round to leaf 0.
  for (uint32_t leaf = 1; leaf <= leafCount && leaf != 0; ++leaf) {
    leafIds[leafSlot] = leaf;
    SnmpOid returnedOid{};
    SnmpValue value{};
    // "\n    %d: "
    text += "\n    ";
    AppendSigned(text, static_cast<int32_t>(leaf));
    text += ": ";
    size_t numberSize = text.size();
    // A refused data handle ends this instance's leaves without a word.
    uint32_t dataHandle = gApi.AgentGetDataHandle(agent, 0, &leafOid);
    if (dataHandle == 0) {
      PrintText(text);
      return;
    }
    if (gApi.AgentGetData(agent, dataHandle, &returnedOid, &value) == 0) {
      PrintText(text);
      std::printf("\nError: %d", gApi.AgentGetLastError());
      NoteFailedStep();
      ReportReason("leaf " + std::to_string(leaf) + ": " + LastAgentErrorText());
      return;
    }
    // A value of a syntax the tool does not know prints nothing after the number.
    if (!AppendVarBind(text, returnedOid, value, LISTING_LEAF_FLAGS)) text.resize(numberSize);
    GiveBackLeaf(&returnedOid, &value);
    // Rows of large values go out as they come, so that the text held stays small.
    if (text.size() >= LEAF_TEXT_HELD) {
      PrintText(text);
      text.clear();
    }
  }
  PrintText(text);
}

void PrintInstance(AgentHandle agent, uint32_t index, TableInstanceInfo* info) {
  static std::string text;
  text.assign("\n ");
  AppendSigned(text, static_cast<int32_t>(index));
  text += ": Table entry instance OID - ";
  PrintText(text);
  PrintVarBind(EntryOidOf(info), SnmpValue{}, LISTING_OID_FLAGS);
  std::fputs(".<index>.", stdout);
  PrintVarBind(IndexOidOf(info), SnmpValue{}, LISTING_OID_FLAGS);
  char handleText[9];
  text.assign("\n    Table entry instace handle: 0x");
  text += FormatHandle(info->instanceHandle, handleText);
  text += "\n    Client handle: 0x";
  text += FormatHandle(info->clientHandle, handleText);
  char timeText[32];
  text += "\n    Instance creation: ";
  text += FormatTimeText(info->creationTime, timeText);
  PrintText(text);
  if (gInvocation.noLeafs) {
    return;
  }
  PrintLeaves(agent, info);
  std::printf("\n");
}

// The converted entry OID is needed only for the lookup; 0 when the text or the entry is refused.
uint32_t FindListedEntry(AgentHandle agent, const char* entryText) {
  SnmpOid entryOid{};
  // A failed conversion attaches nothing that the tool owns.
  if (entryText == nullptr || gApi.SnmpStringToOid(entryText, &entryOid) == 0) {
    std::printf("\nBad OID.");
    NoteFailedStep();
    ReportReason(NumericOidReason(entryText != nullptr ? entryText : ""));
    return 0;
  }
  uint32_t entryHandle = gApi.AgentFindTableEntry(agent, &entryOid);
  gApi.SnmpFreeValue(SYNTAX_OID, &entryOid);
  if (entryHandle == 0) {
    std::printf("\nOID does not represent the table entry.");
    NoteFailedStep();
    ReportReason(LastAgentErrorText());
  }
  return entryHandle;
}

}  // namespace

int ListTableEntries(AgentHandle agent, int* exitStatus) {
  const char* entryText = gInvocation.tableOid;
  std::printf("\nAllocated table entries for %s:", entryText != nullptr ? entryText : "[???]");
  std::printf("\n");
  uint32_t entryHandle = FindListedEntry(agent, entryText);
  if (entryHandle == 0) {
    return 0;
  }
  TableInstanceInfo info{};
  info.size = TABLE_INSTANCE_INFO_SIZE;
  gApi.AgentEnumTableInstances(agent, 0, entryHandle, &info);
  for (uint32_t index = 1; index != 0; ++index) {
    if (gApi.AgentEnumTableInstances(agent, index, entryHandle, &info) == 0) {
      if (EnumerationFailed()) {
        PrintEnumerationError("Table listing", exitStatus);
        return 0;
      }
      if (index == 1) {
        std::printf("\n\n  None.");
      }
      break;
    }
    PrintInstance(agent, index, &info);
  }
  std::printf("\n");
  return 1;
}
