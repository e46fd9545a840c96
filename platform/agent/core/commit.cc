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
  size_t failed = 0;
  if (records.size() > STATE_MAX_GROUP) {
    *reply =
        Fail(AGENT_ERR_VALUE_TOO_LARGE,
             "the change makes " + std::to_string(records.size()) + " records, more than the " +
                 std::to_string(STATE_MAX_GROUP) + " that one change may hold");
    return false;
  }
  if (!CheckChange(records, &failed, &error)) {
    *reply = Fail(AGENT_ERR_STORAGE, "the agent could not store the change: " + error);
    return false;
  }
  // The file is appended to only after the agent rewrote it (at start, between requests after
  // it, or once there is room), or while the rewrite after start goes on.
  if (journal_.AppendsWhileRewriting()) {
    CopyAheadOfRewrite(records);
  } else {
    ContinueRewrite(SIZE_MAX);
  }
  if (rewritePending_ && !journal_.StillHeld(&error)) {
    *reply = Fail(AGENT_ERR_STORAGE, "the agent could not store the change: " + error);
    return false;
  }
  if (rewritePending_ && !journal_.Rewrite(SnapshotSource(), &error)) {
    *reply = Fail(AGENT_ERR_STORAGE, "the agent could not store the change: " + error +
                                         " (the state file waits for room to be rewritten)");
    return false;
  }
  rewritePending_ = false;
  std::string noRoom = StateRoomRefusal(records);
  if (!noRoom.empty()) {
    *reply = Fail(AGENT_ERR_STORAGE, "the agent could not store the change: " + noRoom);
    return false;
  }
  if (!journal_.Append(records, &error)) {
    *reply = Fail(AGENT_ERR_STORAGE, "the agent could not store the change: " + error);
    return false;
  }
  LinksBefore(records);
  for (const StateRecord& record : records) {
    Apply(record);
    // A handle given anew after four billion creations may still be marked from its first life.
    if (record.type == RecordType::Instance) snmpHidden_.erase(record.handle);
  }
  CountMemberWrites(records);
  DeviceAfter(records);
  LinksAfter();
  // Compared in bytes with the last rewrite, not with a fresh count, so that a large state does
  // not cost a full pass on every change, and small changes to rows of large values do not
  // rewrite those values over and over; nor does a count of records hold it back, so that a few
  // huge records do not grow the file without bound.
  // A removal may have taken the file past its bound; it is compacted at once then.
  size_t appended = journal_.AppendedBytesSinceRewrite();
  bool pastBound =
      options_.maxStateBytes != 0 && journal_.BytesAtRewrite() + appended > options_.maxStateBytes;
  if (!RewriteUnderway() &&
      ((appended > AGENT_COMPACT_AFTER_BYTES && appended > journal_.BytesAtRewrite()) ||
       pastBound) &&
      !journal_.Rewrite(SnapshotSource(), &error)) {
    std::fprintf(stderr, "orvu-agentd: %s\n", error.c_str());
  }
  return true;
}

void AgentCore::ContinueRewrite(size_t records) {
  if (!rewriteFrom_) return;
  std::string error;
  // A state file replaced or moved away meanwhile is not written over, nor is the copy of it
  // carried on: changes are refused with the reason until the path names the agent's file again.
  if (!journal_.StillHeld(&error)) {
    journal_.AbandonRewrite();
    rewriteFrom_.reset();
    rewroteAhead_.clear();
    rewritePending_ = true;
    std::fprintf(stderr, "orvu-agentd: %s; changes are refused\n", error.c_str());
    return;
  }
  auto add = [this](const StateRecord& record) { journal_.AddToRewrite(record); };
  rewriteFrom_ = SnapshotRows(*rewriteFrom_, records, add, &rewroteAhead_);
  if (rewriteFrom_) return;
  rewroteAhead_.clear();
  SnapshotTail(add);
  if (journal_.FinishRewrite(&error)) return;
  // The file read at start stays the state file; the next change tries the rewrite again, whole,
  // and is refused when that fails too.
  std::fprintf(stderr, "orvu-agentd: %s; changes wait until it can be rewritten\n", error.c_str());
  rewritePending_ = true;
}

void AgentCore::CopyAheadOfRewrite(const std::vector<StateRecord>& records) {
  if (!rewriteFrom_) return;
  auto add = [this](const StateRecord& record) { journal_.AddToRewrite(record); };
  for (const StateRecord& record : records) {
    if (record.type == RecordType::Module || record.type == RecordType::Client ||
        record.type == RecordType::Scalar || record.type == RecordType::Group ||
        record.handle < *rewriteFrom_ || !rewroteAhead_.insert(record.handle).second)
      continue;
    // The scalars are written after the rows, as they are then; the change's own records, which
    // follow the snapshot, set them again.
    if (record.type != RecordType::Instance && instances_.count(record.handle))
      SnapshotRows(record.handle, 1, add);
  }
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

}  // namespace orvu::agent
