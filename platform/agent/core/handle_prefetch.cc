// GetDataHandle: finding the object an OID names; the rows that travel along with a read.
#include <algorithm>

#include "agent/core/agent_core.h"
#include "agent/core/agent_reply.h"

namespace orvu::agent {

using proto::Reply;
using proto::Request;
using proto::Value;

namespace {

// A row prefetched by GetDataHandle stops growing at this many payload bytes, so that one odd
// huge value does not make every listing step carry it.
constexpr size_t AGENT_ROW_PREFETCH_BYTES = 64 * 1024;
// The payload bytes of one ReadRows reply, at most.
constexpr size_t AGENT_ROWS_REPLY_BYTES = 1024 * 1024;

size_t PayloadSize(const Value& v) { return 16 + v.bytes.size() + 4 * v.ids.size(); }

}  // namespace

Reply AgentCore::GetDataHandle(const Request& request) {
  const Oid& o = request.oid;
  auto scalar = scalarByOid_.find(o);
  if (scalar == scalarByOid_.end() && !o.empty() && o.back() == 0) {
    scalar = scalarByOid_.find(Oid(o.begin(), o.end() - 1));
  }
  Reply reply;
  if (scalar != scalarByOid_.end()) {
    reply.handle = DataHandle(DataKey::Scalar(scalar->second));
    return reply;
  }
  // The longest entry OID that leaves room for a column and an index.
  EntryDef* entry = nullptr;
  for (size_t length = std::min(longestEntry_, o.size() >= 2 ? o.size() - 2 : 0);
       length > 0 && !entry; --length) {
    entry = EntryByOid(Oid(o.begin(), o.begin() + static_cast<long>(length)));
  }
  if (!entry) return Fail(AGENT_ERR_NO_SUCH_OBJECT, "no such object: " + OidText(o));
  uint32_t column = o[entry->oid.size()];
  Oid index(o.begin() + static_cast<long>(entry->oid.size()) + 1, o.end());
  auto row = instancesByIndex_[entry->handle - 1].find(index);
  if (row == instancesByIndex_[entry->handle - 1].end()) {
    return Fail(AGENT_ERR_NO_SUCH_INSTANCE,
                "no such instance: " + OidText(index) + " of " +
                    (entry->name.empty() ? OidText(entry->oid) : entry->name));
  }
  uint32_t instanceHandle = row->second;
  const Instance& instance = instances_.at(instanceHandle);
  if (!ColumnExists(*entry, instance, column)) {
    return Fail(AGENT_ERR_NO_SUCH_OBJECT, "no such object: " + OidText(o));
  }
  reply.handle = DataHandle(DataKey::Column(instanceHandle, column));
  reply.generation = generation_;
  if (request.count > 0) RowsAhead(*entry, index, request.count, &reply);
  return reply;
}

void AgentCore::RowsAhead(const EntryDef& entry, const Oid& index, uint32_t count,
                          Reply* reply) const {
  // A scalar or another entry below this one would answer for some of its OIDs.
  auto startsEntry = [&](const Oid& oid) {
    return oid.size() > entry.oid.size() &&
           std::equal(entry.oid.begin(), entry.oid.end(), oid.begin());
  };
  auto scalar = scalarByOid_.lower_bound(entry.oid);
  if (scalar != scalarByOid_.end() && startsEntry(scalar->first)) return;
  auto below = entryByOid_.upper_bound(entry.oid);
  if (below != entryByOid_.end() && startsEntry(below->first)) return;
  reply->entryLength = static_cast<uint32_t>(entry.oid.size());
  for (const auto& [number, def] : entry.columns) {
    if (number <= proto::PROTO_PACKED_COLUMN_MASK) reply->columns.push_back(number);
  }
  const std::map<Oid, uint32_t>& rows = instancesByIndex_[entry.handle - 1];
  count = std::min(count, proto::PROTO_PAGE_RECORDS);
  for (auto row = rows.find(index); row != rows.end() && count > 0; ++row, --count) {
    if (row->second >= proto::PROTO_PACKED_INSTANCE_LIMIT) continue;
    reply->ahead.push_back(row->second);
    reply->ahead.push_back(static_cast<uint32_t>(row->first.size()));
    reply->ahead.insert(reply->ahead.end(), row->first.begin(), row->first.end());
  }
}

void AgentCore::AppendRow(uint32_t instanceHandle, uint32_t skipColumn, size_t budget, size_t* used,
                          std::vector<proto::DataItem>* items, size_t* filled) {
  auto found = instances_.find(instanceHandle);
  if (found == instances_.end()) return;
  const Instance& instance = found->second;
  const EntryDef& entry = entries_[instance.entryHandle - 1];
  // The entry's columns and the ones the instance stores, both in column order, merged in one
  // walk: each stored value is read where the walk passes it.
  auto def = entry.columns.begin();
  StoredValues::Cursor stored(instance.values);
  size_t rowBytes = 0;
  while (def != entry.columns.end() || !stored.AtEnd()) {
    bool has = !stored.AtEnd() && (def == entry.columns.end() || stored.Column() <= def->first);
    uint32_t c = has ? stored.Column() : def->first;
    if (def != entry.columns.end() && def->first == c) ++def;
    if (c != skipColumn) {
      if (*filled == items->size()) items->emplace_back();
      proto::DataItem& item = (*items)[*filled];
      ReadColumn(entry, instance, c, has ? &stored : nullptr, &item);
      // A leaf left out is read on its own when it is asked for; its item is written over next.
      size_t size = PayloadSize(item.value);
      if (rowBytes + size <= AGENT_ROW_PREFETCH_BYTES && *used + size <= budget) {
        rowBytes += size;
        *used += size;
        ++*filled;
      }
    }
    if (has) stored.Next();
  }
}

// The rows that a listing is about to read, in one round trip instead of one per instance.
Reply AgentCore::ReadRows(const Request& request) {
  Reply reply;
  // Rows of one page are mostly alike: the items of the page before are written over.
  reply.items = std::move(spareItems_);
  spareItems_.clear();
  size_t used = 0;
  size_t filled = 0;
  size_t rows = std::min<size_t>(request.handles.size(), proto::PROTO_ROWS_PER_READ);
  for (size_t n = 0; n < rows && used < AGENT_ROWS_REPLY_BYTES; ++n) {
    AppendRow(request.handles[n], 0, AGENT_ROWS_REPLY_BYTES, &used, &reply.items, &filled);
    // Room for the rest, sized on the first row, saves the vector's copies of every item as it
    // grows.
    if (n == 0) reply.items.reserve(filled * rows);
  }
  reply.items.resize(filled);
  return reply;
}

void AgentCore::Recycle(Reply&& reply) {
  if (reply.items.capacity() <= spareItems_.capacity()) return;
  spareItems_ = std::move(reply.items);
  proto::TrimKeptItems(&spareItems_);
}

}  // namespace orvu::agent
