// GetDataHandle: finding the object an OID names, and which other leaves of its row travel along.
#include <algorithm>

#include "agent_core.h"
#include "agent_reply.h"

namespace orvu::agent {

using proto::Reply;
using proto::Request;
using proto::Value;

namespace {

// A row prefetched by GetDataHandle stops growing at this many payload bytes, so that one odd
// huge value does not make every listing step carry it.
constexpr size_t AGENT_ROW_PREFETCH_BYTES = 64 * 1024;

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
    proto::DataItem item;
    ReadItem(DataKey::Scalar(scalar->second), &item);
    reply.items.push_back(std::move(item));
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
  proto::DataItem first;
  ReadItem(DataKey::Column(instanceHandle, column), &first);
  size_t bytes = PayloadSize(first.value);
  reply.items.push_back(std::move(first));
  // The rest of the row travels along: a listing reads the leaves of one instance in turn.
  std::vector<uint32_t> columns;
  for (const auto& [number, def] : entry->columns) columns.push_back(number);
  for (const auto& [number, value] : instance.values) columns.push_back(number);
  std::sort(columns.begin(), columns.end());
  columns.erase(std::unique(columns.begin(), columns.end()), columns.end());
  for (uint32_t c : columns) {
    if (c == column) continue;
    proto::DataItem item;
    if (!ReadItem(DataKey::Column(instanceHandle, c), &item)) continue;
    if (bytes + PayloadSize(item.value) > AGENT_ROW_PREFETCH_BYTES) continue;
    bytes += PayloadSize(item.value);
    reply.items.push_back(std::move(item));
  }
  return reply;
}

}  // namespace orvu::agent
