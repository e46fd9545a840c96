// AUGMENTS: an entry that augments another has exactly the rows of the one it extends. Its rows
// are instances of their own (their columns are numbered apart), created and removed together with
// the base's.
#include <algorithm>

#include "agent/core/agent_core.h"

namespace orvu::agent {

namespace {
// An AUGMENTS chain longer than this is a loop: the reader refuses deeper ones anyway.
constexpr int AGENT_MAX_AUGMENTS_DEPTH = 16;
}  // namespace

void AgentCore::FindRowFamilies() {
  rowFamilies_.clear();
  for (const EntryDef& entry : entries_) {
    const EntryDef* base = &entry;
    for (int depth = 0; depth < AGENT_MAX_AUGMENTS_DEPTH && !base->augmentsOid.empty(); ++depth) {
      auto found = entryByOid_.find(base->augmentsOid);
      if (found == entryByOid_.end()) break;
      base = &entries_[found->second - 1];
    }
    if (base == &entry) continue;
    std::vector<uint32_t>& family = rowFamilies_[base->handle];
    if (family.empty()) family.push_back(base->handle);
    family.push_back(entry.handle);
  }
}

std::vector<uint32_t> AgentCore::RowFamily(uint32_t entryHandle) const {
  for (const auto& [base, family] : rowFamilies_) {
    if (std::find(family.begin(), family.end(), entryHandle) == family.end()) continue;
    std::vector<uint32_t> ordered{entryHandle};
    for (uint32_t member : family) {
      if (member != entryHandle) ordered.push_back(member);
    }
    return ordered;
  }
  return {entryHandle};
}

bool AgentCore::ShareRows() {
  bool made = false;
  for (const auto& [base, family] : rowFamilies_) {
    // Every row any member has, with the instance that stands for it.
    std::map<Oid, uint32_t> rows;
    for (uint32_t member : family) {
      for (const auto& [index, handle] : instancesByIndex_[member - 1]) rows.emplace(index, handle);
    }
    for (const auto& [index, model] : rows) {
      const Instance& existing = instances_.at(model);
      StateRecord record;
      record.type = RecordType::Instance;
      record.indexOid = index;
      record.creator = existing.creator;
      record.time = existing.time;
      for (uint32_t member : family) {
        if (instancesByIndex_[member - 1].count(index)) continue;
        while (nextInstance_ == 0 || instances_.count(nextInstance_)) ++nextInstance_;
        record.entryOid = entries_[member - 1].oid;
        // Fits by construction: a fresh handle, an index this member lacks.
        record.handle = nextInstance_++;
        Apply(record);
        made = true;
      }
    }
  }
  return made;
}

}  // namespace orvu::agent
