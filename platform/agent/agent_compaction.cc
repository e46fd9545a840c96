// Committing a change, and when the journal is compacted into a snapshot.
#include <cstdio>

#include "agent_core.h"
#include "agent_reply.h"

namespace orvu::agent {

namespace {

// Appended records before a rewrite is considered at all.
constexpr size_t AGENT_COMPACT_AFTER = 1000;

}  // namespace

// The change is in the journal before it is applied, and both happen before the reply: a client
// that saw success finds its change after any crash of the agent.
bool AgentCore::Commit(const StateRecord& record, proto::Reply* reply) {
  std::string error;
  if (!journal_.Append(record, &error)) {
    *reply = Fail(AGENT_ERR_STORAGE, "the agent could not store the change: " + error);
    return false;
  }
  Apply(record, &error);
  // Compared in bytes with the last rewrite, not with a fresh count, so that a large state does
  // not cost a full pass on every change, and small changes to rows of large values do not
  // rewrite those values over and over; the file stays within about twice the live state.
  if (journal_.AppendedSinceRewrite() > AGENT_COMPACT_AFTER &&
      journal_.AppendedBytesSinceRewrite() > journal_.BytesAtRewrite() &&
      !journal_.Rewrite(SnapshotSource(), &error)) {
    std::fprintf(stderr, "orvu-agentd: %s\n", error.c_str());
  }
  return true;
}

}  // namespace orvu::agent
