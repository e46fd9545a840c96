// The values an instance stores for its columns. An instance keeps a handful, so they lie sorted by
// column in one vector of small records: a value costs its record and, past the string's own room,
// its payload, instead of a map node that holds a whole message value.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "protocol/messages.h"

namespace orvu::agent {

class StoredValues {
 public:
  bool Empty() const { return items_.empty(); }
  bool Has(uint32_t column) const { return Find(column) != nullptr; }
  // The value stored for COLUMN into *VALUE; false when there is none.
  bool Get(uint32_t column, proto::Value* value) const;
  void Set(uint32_t column, const proto::Value& value);
  // The highest column with a stored value, 0 when there is none.
  uint32_t LastColumn() const { return items_.empty() ? 0 : items_.back().column; }

  // F(column) for each stored column, in column order.
  template <typename F>
  void ForEachColumn(F f) const {
    for (const Item& item : items_) f(item.column);
  }
  // F(column, value) for each stored value, in column order.
  template <typename F>
  void ForEach(F f) const {
    for (const Item& item : items_) {
      proto::Value value;
      Unpack(item, &value);
      f(item.column, value);
    }
  }

 private:
  struct Item {
    uint32_t column = 0;
    uint32_t syntax = 0;
    uint32_t number = 0;  // Number and Pair
    uint32_t second = 0;  // Pair
    proto::ValueKind kind = proto::ValueKind::Number;
    std::string payload;  // Bytes as they are; an Oid's sub-identifiers, 4 bytes each
  };

  const Item* Find(uint32_t column) const;
  static void Unpack(const Item& item, proto::Value* value);

  std::vector<Item> items_;
};

}  // namespace orvu::agent
