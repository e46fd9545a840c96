// Committing a change, and when the journal is compacted into a snapshot.
#include <cstdio>

#include "agent_core.h"
#include "agent_reply.h"

namespace orvu::agent {

namespace {

// The journal is rewritten once the records appended since the last rewrite take more bytes than
// that rewrite wrote, and more than this: the file stays within about twice the live state plus
// this much, whatever the size of the records.
constexpr size_t AGENT_COMPACT_AFTER_BYTES = 64 * 1024;

}  // namespace

// The change is in the journal before it is applied, and both happen before the reply: a client
// that saw success finds its change after any crash of the agent.
bool AgentCore::Commit(const StateRecord& record, proto::Reply* reply) {
  return Commit(std::vector<StateRecord>{record}, reply);
}

bool AgentCore::Commit(const std::vector<StateRecord>& records, proto::Reply* reply) {
  std::string error;
  // The file is appended to only after the agent rewrote it: at start, or once there is room.
  if (rewritePending_ && !journal_.Rewrite(SnapshotSource(), &error)) {
    *reply = Fail(AGENT_ERR_STORAGE, "the agent could not store the change: " + error +
                                         " (the state file waits for room to be rewritten)");
    return false;
  }
  rewritePending_ = false;
  if (!journal_.Append(records, &error)) {
    *reply = Fail(AGENT_ERR_STORAGE, "the agent could not store the change: " + error);
    return false;
  }
  for (const StateRecord& record : records) Apply(record, &error);
  // Compared in bytes with the last rewrite, not with a fresh count, so that a large state does
  // not cost a full pass on every change, and small changes to rows of large values do not
  // rewrite those values over and over; nor does a count of records hold it back, so that a few
  // huge records do not grow the file without bound.
  size_t appended = journal_.AppendedBytesSinceRewrite();
  if (appended > AGENT_COMPACT_AFTER_BYTES && appended > journal_.BytesAtRewrite() &&
      !journal_.Rewrite(SnapshotSource(), &error)) {
    std::fprintf(stderr, "orvu-agentd: %s\n", error.c_str());
  }
  return true;
}

}  // namespace orvu::agent
