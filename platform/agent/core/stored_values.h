// The values an instance stores for its columns. A provisioned row stores every column, so the
// values of one instance lie packed in one block, sorted by column: a value costs its payload and a
// few bytes of column, syntax, kind and length, instead of a record of fixed size with a string.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "protocol/messages.h"

namespace orvu::agent {

class StoredValues {
 public:
  StoredValues() = default;
  StoredValues(const StoredValues& other) { *this = other; }
  StoredValues& operator=(const StoredValues& other);
  StoredValues(StoredValues&&) noexcept = default;
  StoredValues& operator=(StoredValues&&) noexcept = default;

  bool Empty() const { return size_ == 0; }
  bool Has(uint32_t column) const { return Find(column) != nullptr; }
  // The value stored for COLUMN into *VALUE; false when there is none.
  bool Get(uint32_t column, proto::Value* value) const;
  void Set(uint32_t column, const proto::Value& value);
  // Set for a COLUMN past every stored one, without looking for its place.
  void Append(uint32_t column, const proto::Value& value);
  // The highest column with a stored value, 0 when there is none.
  uint32_t LastColumn() const;

  // F(column) for each stored column, in column order.
  template <typename F>
  void ForEachColumn(F f) const {
    for (const uint8_t* p = Begin(); p != End(); p = Skip(p)) f(ColumnAt(p));
  }
  // The stored values one after another, in column order, each unpacked only when asked for.
  class Cursor {
   public:
    explicit Cursor(const StoredValues& values) : at_(values.Begin()), end_(values.End()) {}
    bool AtEnd() const { return at_ == end_; }
    uint32_t Column() const { return ColumnAt(at_); }
    proto::ValueKind Kind() const { return KindAt(at_); }
    void Value(proto::Value* value) const { Unpack(at_, value); }
    void Next() { at_ = Skip(at_); }
    // The bytes the value takes in the block, its payload and a few more.
    size_t ItemBytes() const { return static_cast<size_t>(Skip(at_) - at_); }

   private:
    const uint8_t* at_;
    const uint8_t* end_;
  };
  // F(column, value) for each stored value, in column order.
  template <typename F>
  void ForEach(F f) const {
    proto::Value value;
    for (const uint8_t* p = Begin(); p != End(); p = Skip(p)) {
      Unpack(p, &value);
      f(ColumnAt(p), value);
    }
  }

 private:
  const uint8_t* Begin() const { return block_.get(); }
  const uint8_t* End() const { return block_.get() + size_; }
  // The item that holds COLUMN's value, or nullptr.
  const uint8_t* Find(uint32_t column) const;
  static uint32_t ColumnAt(const uint8_t* item);
  static proto::ValueKind KindAt(const uint8_t* item);
  // Makes the block SIZE bytes, keeping what fits.
  void Resize(size_t size);
  // The item after the one at ITEM.
  static const uint8_t* Skip(const uint8_t* item);
  static void Unpack(const uint8_t* item, proto::Value* value);

  struct Free {
    void operator()(uint8_t* block) const { std::free(block); }
  };
  // From malloc, so that a row's values, set one after another as a start reads them, grow the
  // block in place where the heap allows.
  std::unique_ptr<uint8_t, Free> block_;
  uint32_t size_ = 0;
};

}  // namespace orvu::agent
