#include "orvuctl/agent_reads.h"

#include <algorithm>

#include "agentapi/agent_last_error.h"
#include "agentapi/agent_records.h"
#include "agentapi/outside_api.h"

ReadOutcome ReadValue(AgentHandle agent, const std::vector<uint32_t>& oid, PlainValue* value,
                      std::string* reason) {
  SnmpOid object{static_cast<uint32_t>(oid.size()), const_cast<uint32_t*>(oid.data())};
  uint32_t dataHandle = gApi.AgentGetDataHandle(agent, 0, &object);
  if (dataHandle == 0) {
    *reason = LastAgentErrorText();
    return ReadOutcome::ABSENT;
  }
  SnmpOid returned{};
  SnmpValue raw{};
  if (!gApi.AgentGetData(agent, dataHandle, &returned, &raw)) {
    *reason = LastAgentErrorText();
    return ReadOutcome::FAILED;
  }
  bool known = TakePlainValue(raw, value);
  SnmpSyntax syntax = raw.syntax;
  gApi.AgentFreeValue(raw.syntax, &raw.number);
  gApi.AgentFreeValue(SYNTAX_OID, &returned);
  if (syntax == SYNTAX_NOSUCHOBJECT || syntax == SYNTAX_NOSUCHINSTANCE) {
    *reason = "the agent holds no such instance";
    return ReadOutcome::ABSENT;
  }
  if (!known) {
    *reason = "the agent sent a value of syntax " + std::to_string(syntax);
    return ReadOutcome::FAILED;
  }
  return ReadOutcome::VALUE;
}

bool ForEachInstance(AgentHandle agent, const std::vector<uint32_t>& entryOid,
                     const std::function<bool(const std::vector<uint32_t>&)>& visit,
                     std::string* reason) {
  SnmpOid entry{static_cast<uint32_t>(entryOid.size()), const_cast<uint32_t*>(entryOid.data())};
  uint32_t entryHandle = gApi.AgentFindTableEntry(agent, &entry);
  if (entryHandle == 0) {
    *reason = LastAgentErrorText();
    return false;
  }
  TableInstanceInfo info{};
  info.size = TABLE_INSTANCE_INFO_SIZE;
  gApi.AgentEnumTableInstances(agent, 0, entryHandle, &info);
  std::vector<uint32_t> index;
  for (uint32_t position = 1; position != 0; ++position) {
    if (!gApi.AgentEnumTableInstances(agent, position, entryHandle, &info)) {
      if (!EnumerationFailed()) return true;
      *reason = LastAgentErrorText();
      return false;
    }
    uint32_t count = std::min(info.indexOidCount, TABLE_OID_MAX_IDS);
    index.assign(info.indexOidIds, info.indexOidIds + count);
    if (!visit(index)) return true;
  }
  return true;
}
