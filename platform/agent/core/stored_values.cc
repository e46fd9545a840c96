#include "agent/core/stored_values.h"

#include <algorithm>
#include <cstring>

namespace orvu::agent {

const StoredValues::Item* StoredValues::Find(uint32_t column) const {
  auto it = std::lower_bound(items_.begin(), items_.end(), column,
                             [](const Item& item, uint32_t c) { return item.column < c; });
  return it != items_.end() && it->column == column ? &*it : nullptr;
}

bool StoredValues::Get(uint32_t column, proto::Value* value) const {
  const Item* item = Find(column);
  if (!item) return false;
  Unpack(*item, value);
  return true;
}

void StoredValues::Set(uint32_t column, const proto::Value& value) {
  auto it = std::lower_bound(items_.begin(), items_.end(), column,
                             [](const Item& item, uint32_t c) { return item.column < c; });
  if (it == items_.end() || it->column != column) {
    it = items_.insert(it, Item{});
    it->column = column;
  }
  it->syntax = value.syntax;
  it->kind = value.kind;
  it->number = value.number;
  it->second = value.second;
  if (value.kind == proto::ValueKind::Oid) {
    it->payload.assign(reinterpret_cast<const char*>(value.ids.data()),
                       value.ids.size() * sizeof(uint32_t));
  } else {
    it->payload = value.bytes;
  }
  // A value set again and again keeps no room it no longer needs.
  it->payload.shrink_to_fit();
}

void StoredValues::Unpack(const Item& item, proto::Value* value) {
  value->syntax = item.syntax;
  value->kind = item.kind;
  value->number = item.number;
  value->second = item.second;
  if (item.kind == proto::ValueKind::Oid) {
    value->bytes.clear();
    value->ids.resize(item.payload.size() / sizeof(uint32_t));
    if (!value->ids.empty())
      std::memcpy(value->ids.data(), item.payload.data(), item.payload.size());
  } else {
    value->ids.clear();
    value->bytes = item.payload;
  }
}

}  // namespace orvu::agent
