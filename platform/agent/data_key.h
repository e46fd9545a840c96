// What a data handle stands for: one scalar, or one column of one table instance. Data handles
// are handed out per key and dropped with the instance they belong to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

namespace orvu::agent {

struct DataKey {
  uint32_t instance = 0;  // the instance handle; 0 for a scalar
  uint32_t leaf = 0;      // the column number, or for a scalar its position in the scalar list

  static DataKey Scalar(size_t position) { return {0, static_cast<uint32_t>(position)}; }
  static DataKey Column(uint32_t instance, uint32_t column) { return {instance, column}; }
  bool IsScalar() const { return instance == 0; }
  bool operator==(const DataKey&) const = default;
};

struct DataKeyHash {
  size_t operator()(const DataKey& key) const {
    return std::hash<uint64_t>{}(static_cast<uint64_t>(key.instance) << 32 | key.leaf);
  }
};

}  // namespace orvu::agent
