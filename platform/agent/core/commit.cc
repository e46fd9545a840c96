// The commit path: the records a checked change makes, written to the journal and then applied,
// and when the journal is compacted into a snapshot.
#include <cstdio>

#include "agent/core/agent_core.h"
#include "agent/core/agent_reply.h"

namespace orvu::agent {

using proto::Reply;
using proto::Value;

namespace {

// The journal is rewritten once the records appended since the last rewrite take more bytes than
// that rewrite wrote, and more than this: the file stays within about twice the live state plus
// this much, whatever the size of the records.
constexpr size_t AGENT_COMPACT_AFTER_BYTES = 64 * 1024;

}  // namespace

// The journal's contract (agent_core.h): checked, written, applied, and only then acknowledged,
// so that a client that saw success finds its change after any crash of the agent.
bool AgentCore::Commit(const StateRecord& record, proto::Reply* reply) {
  return Commit(std::vector<StateRecord>{record}, reply);
}

bool AgentCore::Commit(const std::vector<StateRecord>& records, proto::Reply* reply) {
  std::string error;
  for (const StateRecord& record : records) {
    bool fits = Check(record, &error);
    if (fits && records.size() > 1 &&
        (record.type == RecordType::Instance || record.type == RecordType::Remove)) {
      error = "a change of several records makes or removes an instance";
      fits = false;
    }
    if (!fits) {
      *reply = Fail(AGENT_ERR_STORAGE, "the agent could not store the change: " + error);
      return false;
    }
  }
  // The file is appended to only after the agent rewrote it: at start, between requests after
  // it, or once there is room.
  ContinueRewrite(SIZE_MAX);
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
  LinksBefore(records);
  for (const StateRecord& record : records) Apply(record);
  DeviceAfter(records);
  LinksAfter();
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

void AgentCore::ContinueRewrite(size_t records) {
  if (!rewriteFrom_) return;
  auto add = [this](const StateRecord& record) { journal_.AddToRewrite(record); };
  rewriteFrom_ = SnapshotRows(*rewriteFrom_, records, add);
  if (rewriteFrom_) return;
  SnapshotTail(add);
  std::string error;
  if (journal_.FinishRewrite(&error)) return;
  // The file read at start stays the state file; the next change tries the rewrite again, whole,
  // and is refused when that fails too.
  std::fprintf(stderr, "orvu-agentd: %s; changes wait until it can be rewritten\n", error.c_str());
  rewritePending_ = true;
}

StateRecord AgentCore::ValueRecord(uint32_t instanceHandle, uint32_t leaf,
                                   const Value& value) const {
  StateRecord record;
  if (instanceHandle == 0) {
    record.type = RecordType::Scalar;
    record.scalarOid = scalars_[leaf].oid;
  } else {
    record.type = RecordType::Value;
    record.handle = instanceHandle;
    record.column = leaf;
  }
  record.value = value;
  return record;
}

bool AgentCore::WriteValue(uint32_t instanceHandle, uint32_t leaf, const Value& value,
                           Reply* reply) {
  return Commit(ValueRecord(instanceHandle, leaf, value), reply);
}

bool AgentCore::SnmpCommitSet(const SnmpSetTarget& target, const Value& value) {
  if (target.instanceHandle == 0 ? target.column >= scalars_.size()
                                 : !instances_.count(target.instanceHandle))
    return false;
  proto::Reply reply;
  return WriteValue(target.instanceHandle, target.column, value, &reply);
}

bool AgentCore::SnmpCommitSets(const std::vector<SnmpSetTarget>& targets) {
  std::vector<StateRecord> records;
  for (const SnmpSetTarget& target : targets) {
    // An object removed since the check takes the whole set with it.
    if (target.instanceHandle == 0 ? target.column >= scalars_.size()
                                   : !instances_.count(target.instanceHandle))
      return false;
    records.push_back(ValueRecord(target.instanceHandle, target.column, target.value));
  }
  Reply reply;
  return !records.empty() && Commit(records, &reply);
}

}  // namespace orvu::agent
