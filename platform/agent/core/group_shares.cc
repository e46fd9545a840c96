// What one client may take of what all share: the memory that instance snapshots hold, and the
// room of the state file. With --group, members are held to shares of their own, so that one of
// them cannot take what the owner, root and the other members need.
#include <algorithm>
#include <cstdio>

#include "agent/core/agent_core.h"
#include "agent/journal/state_records.h"

namespace orvu::agent {

namespace {

std::string MiB(size_t bytes) { return std::to_string(bytes >> 20) + " MiB"; }

// A line in the state file: the record, its seal (" crc=XXXXXXXX") and the line end.
constexpr size_t AGENT_SEAL_BYTES = 14;

}  // namespace

std::string AgentCore::ListingRefusal(const ClientContext& client, size_t bytes) const {
  auto own = listings_.find(client.clientHandle);
  size_t replaced = own == listings_.end() ? 0 : own->second.bytes;
  size_t others = snapshotBytes_ - replaced;
  size_t held = bufferHeld_ ? *bufferHeld_ : 0;
  const std::string refused = "the agent refused the listing: ";
  const std::string snapshot = "a snapshot of " + std::to_string(bytes) + " bytes";
  bool ownersOthers = false;
  if (client.member) {
    size_t mine = 0, mineBytes = 0, members = 0;
    for (const auto& [handle, listing] : listings_) {
      if (handle == client.clientHandle || !listing.member) continue;
      members += listing.bytes;
      if (listing.userId != client.userId) continue;
      ++mine;
      mineBytes += listing.bytes;
    }
    if (mine >= AGENT_MEMBER_LISTINGS)
      return refused + "user " + std::to_string(client.userId) + " holds " + std::to_string(mine) +
             " open listings, as many as one member of the group may (a listing stays open until "
             "its client lists again or goes away)";
    if (mineBytes + bytes > memoryBudget_ / 4 || members + bytes > memoryBudget_ / 2)
      return refused + snapshot + " would take user " + std::to_string(client.userId) +
             " past the members' share of the agent's memory (" + MiB(memoryBudget_ / 4) +
             " a member, " + MiB(memoryBudget_ / 2) + " all of them)";
  } else {
    for (const auto& [handle, listing] : listings_)
      ownersOthers = ownersOthers || (handle != client.clientHandle && !listing.member);
  }
  // The owner and root may always hold one listing, however large, so that every table can be
  // listed; the members' shares leave them room for it.
  if (others + held + bytes > memoryBudget_ && (client.member || ownersOthers))
    return refused + snapshot + " would pass the agent's budget of " + MiB(memoryBudget_) +
           " for listings, unfinished requests and unsent replies";
  return {};
}

std::string AgentCore::StateRoomRefusal(const std::vector<StateRecord>& records) {
  size_t bound = options_.maxStateBytes;
  if (bound == 0) return {};
  bool member = serving_ != nullptr && serving_->member;
  size_t limit = member ? bound - bound / 4 : bound;
  size_t adding = records.size() > 1 ? 64 : 0;  // the group's own line
  bool makesRoom = true;
  size_t rewritten = 0;  // what the member's values that these replace took
  for (const StateRecord& record : records) {
    adding += FormatStateRecord(record).size() + AGENT_SEAL_BYTES;
    makesRoom = makesRoom && record.type == RecordType::Remove;
    std::pair<uint32_t, uint32_t> key;
    auto written =
        member && WrittenObject(record, &key) ? memberWrites_.find(key) : memberWrites_.end();
    if (written != memberWrites_.end() && written->second.userId == serving_->userId)
      rewritten += written->second.bytes;
  }
  // A removal always goes in: it is how room is made again.
  if (makesRoom) return {};
  if (member) {
    // One member's values take at most a quarter of the bound, so that the members' part leaves
    // room for the others.
    size_t share = bound / 4;
    size_t held = memberBytes_[serving_->userId];
    if (held - std::min(held, rewritten) + adding > share)
      return "the state file " + options_.statePath + " would pass the share of user " +
             std::to_string(serving_->userId) + " (" + std::to_string(share) +
             " bytes, a quarter of its bound of " + std::to_string(bound) +
             " bytes (--max-state-bytes)): the values it wrote take " + std::to_string(held) +
             " bytes, and the change would add " + std::to_string(adding);
  }
  auto fileBytes = [this] {
    return journal_.BytesAtRewrite() + journal_.AppendedBytesSinceRewrite();
  };
  if (fileBytes() + adding <= limit) return {};
  // What the journal holds of changes since the last rewrite may be room that a rewrite gives
  // back; a rewrite that fails says so and leaves the file as it was.
  std::string error;
  if (journal_.AppendedBytesSinceRewrite() > 0 && !journal_.Rewrite(SnapshotSource(), &error))
    std::fprintf(stderr, "orvu-agentd: %s\n", error.c_str());
  if (fileBytes() + adding <= limit) return {};
  return "the state file " + options_.statePath + " would pass " +
         (member ? "the group members' part (" + std::to_string(limit) + " bytes) of its bound"
                 : std::string("its bound")) +
         " of " + std::to_string(bound) + " bytes (--max-state-bytes): it holds " +
         std::to_string(fileBytes()) + " bytes, and the change would add " + std::to_string(adding);
}

bool AgentCore::WrittenObject(const StateRecord& record, std::pair<uint32_t, uint32_t>* key) const {
  if (record.type == RecordType::Value) {
    *key = {record.handle, record.column};
    return true;
  }
  if (record.type != RecordType::Scalar) return false;
  auto scalar = scalarByOid_.find(record.scalarOid);
  if (scalar == scalarByOid_.end()) return false;
  *key = {0, static_cast<uint32_t>(scalar->second)};
  return true;
}

void AgentCore::CountMemberWrites(const std::vector<StateRecord>& records) {
  auto forget = [this](std::map<std::pair<uint32_t, uint32_t>, MemberWrite>::iterator written) {
    memberBytes_[written->second.userId] -= written->second.bytes;
    return memberWrites_.erase(written);
  };
  for (const StateRecord& record : records) {
    if (record.type == RecordType::Remove) {
      for (auto it = memberWrites_.lower_bound({record.handle, 0});
           it != memberWrites_.end() && it->first.first == record.handle;)
        it = forget(it);
      continue;
    }
    std::pair<uint32_t, uint32_t> key;
    if (!WrittenObject(record, &key)) continue;
    auto written = memberWrites_.find(key);
    if (written != memberWrites_.end()) forget(written);
    if (serving_ == nullptr || !serving_->member) continue;
    size_t bytes = FormatStateRecord(record).size() + AGENT_SEAL_BYTES;
    memberWrites_[key] = {serving_->userId, bytes};
    memberBytes_[serving_->userId] += bytes;
  }
}

}  // namespace orvu::agent
