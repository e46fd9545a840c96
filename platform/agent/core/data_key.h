// What a data handle stands for: one scalar, or one column of one table instance. A column of an
// instance whose handle and column number are small enough gets a handle that is the pair itself,
// so that listing or setting a large table keeps nothing per leaf; any other key gets the next
// handle of a counter below DATA_HANDLE_PACKED, kept until its instance is removed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "protocol/messages.h"

namespace orvu::agent {

struct DataKey {
  uint32_t instance = 0;  // the instance handle; 0 for a scalar
  uint32_t leaf = 0;      // the column number, or for a scalar its position in the scalar list

  static DataKey Scalar(size_t position) { return {0, static_cast<uint32_t>(position)}; }
  static DataKey Column(uint32_t instance, uint32_t column) { return {instance, column}; }
  bool IsScalar() const { return instance == 0; }
  bool operator==(const DataKey&) const = default;
};

constexpr uint32_t DATA_HANDLE_PACKED = proto::PROTO_PACKED_HANDLE;
constexpr uint32_t DATA_HANDLE_COLUMN_BITS = proto::PROTO_PACKED_COLUMN_BITS;
constexpr uint32_t DATA_HANDLE_COLUMN_MASK = proto::PROTO_PACKED_COLUMN_MASK;
constexpr uint32_t DATA_HANDLE_INSTANCE_LIMIT = proto::PROTO_PACKED_INSTANCE_LIMIT;

// The packed handle of KEY, or 0 when it has none.
inline uint32_t PackedDataHandle(const DataKey& key) {
  return key.IsScalar() ? 0 : proto::PackedColumnHandle(key.instance, key.leaf);
}

// The key of a packed handle; false for a counted one.
inline bool UnpackDataHandle(uint32_t handle, DataKey* key) {
  if (!(handle & DATA_HANDLE_PACKED)) return false;
  uint32_t instance = (handle & ~DATA_HANDLE_PACKED) >> DATA_HANDLE_COLUMN_BITS;
  uint32_t column = handle & DATA_HANDLE_COLUMN_MASK;
  if (instance == 0 || column == 0) return false;
  *key = DataKey::Column(instance, column);
  return true;
}

struct DataKeyHash {
  size_t operator()(const DataKey& key) const {
    return std::hash<uint64_t>{}(static_cast<uint64_t>(key.instance) << 32 | key.leaf);
  }
};

}  // namespace orvu::agent
