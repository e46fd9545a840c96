// The subagent's answers to a master's requests (RFC 2741): Get, GetNext and GetBulk from the
// core's SNMP view, and a set through its phases (TestSet, CommitSet, UndoSet, CleanupSet), each
// answer appended to the session's output.
#pragma once

#include <string>
#include <vector>

#include "agent/core/agent_core.h"
#include "agent/snmp/agentx_pdu.h"
#include "agent/snmp/agentx_subagent.h"

namespace orvu::agent::agentx {

// What a set keeps from TestSet to CleanupSet: the master sends the phases one by one, under the
// transaction id of the SNMP request.
struct PendingSet {
  uint32_t transaction = 0;
  bool tested = false;  // TestSet passed
  bool committed = false;
  std::vector<SnmpVarBind> varbinds;
  std::vector<SnmpSetTarget> targets;
  // What takes back what CommitSet did, for UndoSet, and the varbinds it wrote.
  std::vector<StateRecord> undo;
  size_t written = 0;
};

// What answering a request needs; the caller holds the core.
struct Answering {
  AgentCore* core = nullptr;
  PendingSet* set = nullptr;
  SubagentCounters* counters = nullptr;
  std::string* out = nullptr;
  // Called between two steps of a Get, GetNext or GetBulk, which may let others have the core
  // meanwhile (the caller holds the core again when it returns); false: the answer is given up.
  bool (*breathe)() = nullptr;
};

// Appends the answer to PDU, a request of an open session in the default context (CleanupSet has
// none).
void AnswerRequest(const Answering& a, const Pdu& pdu);

// Appends a Response that carries only an error status and index.
void Respond(std::string* out, const Header& request, uint16_t error, uint16_t index);

}  // namespace orvu::agent::agentx
