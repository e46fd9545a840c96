#include "agent/core/stored_values.h"

#include <cstring>
#include <new>

namespace orvu::agent {
namespace {

// An item: column, syntax and kind, then the value by its kind: a number; two numbers; a length
// and that many bytes; a count and that many sub-identifiers of 4 bytes. Numbers and lengths are
// written 7 bits a byte, low bits first, so that the small ones most values hold take one byte.
uint8_t* PutVarint(uint8_t* out, uint32_t v) {
  while (v >= 0x80) {
    *out++ = static_cast<uint8_t>(v | 0x80);
    v >>= 7;
  }
  *out++ = static_cast<uint8_t>(v);
  return out;
}

size_t VarintSize(uint32_t v) {
  size_t size = 1;
  for (; v >= 0x80; v >>= 7) ++size;
  return size;
}

uint32_t GetVarint(const uint8_t** p) {
  uint32_t v = 0;
  for (int shift = 0;; shift += 7) {
    uint8_t byte = *(*p)++;
    v |= static_cast<uint32_t>(byte & 0x7F) << shift;
    if (!(byte & 0x80)) return v;
  }
}

// The payload of an item after its column, syntax and kind: where it starts, and its bytes.
struct Payload {
  proto::ValueKind kind;
  uint32_t syntax;
  const uint8_t* at;
};

Payload PayloadOf(const uint8_t* item) {
  GetVarint(&item);
  Payload payload;
  payload.syntax = GetVarint(&item);
  payload.kind = static_cast<proto::ValueKind>(*item++);
  payload.at = item;
  return payload;
}

size_t EncodedSize(uint32_t column, const proto::Value& value) {
  size_t size = VarintSize(column) + VarintSize(value.syntax) + 1;
  switch (value.kind) {
    case proto::ValueKind::Number: return size + VarintSize(value.number);
    case proto::ValueKind::Pair: return size + VarintSize(value.number) + VarintSize(value.second);
    case proto::ValueKind::Bytes:
      return size + VarintSize(static_cast<uint32_t>(value.bytes.size())) + value.bytes.size();
    case proto::ValueKind::Oid:
      return size + VarintSize(static_cast<uint32_t>(value.ids.size())) +
             value.ids.size() * sizeof(uint32_t);
  }
  return size;
}

// Writes the item of EncodedSize(column, value) bytes at OUT.
void Encode(uint32_t column, const proto::Value& value, uint8_t* out) {
  out = PutVarint(out, column);
  out = PutVarint(out, value.syntax);
  *out++ = static_cast<uint8_t>(value.kind);
  switch (value.kind) {
    case proto::ValueKind::Number: PutVarint(out, value.number); break;
    case proto::ValueKind::Pair: PutVarint(PutVarint(out, value.number), value.second); break;
    case proto::ValueKind::Bytes:
      out = PutVarint(out, static_cast<uint32_t>(value.bytes.size()));
      if (!value.bytes.empty()) std::memcpy(out, value.bytes.data(), value.bytes.size());
      break;
    case proto::ValueKind::Oid:
      out = PutVarint(out, static_cast<uint32_t>(value.ids.size()));
      if (!value.ids.empty())
        std::memcpy(out, value.ids.data(), value.ids.size() * sizeof(uint32_t));
      break;
  }
}

}  // namespace

StoredValues& StoredValues::operator=(const StoredValues& other) {
  if (this == &other) return *this;
  std::unique_ptr<uint8_t, Free> copy;
  if (other.size_ > 0) {
    copy.reset(static_cast<uint8_t*>(std::malloc(other.size_)));
    if (!copy) throw std::bad_alloc();
    std::memcpy(copy.get(), other.block_.get(), other.size_);
  }
  block_ = std::move(copy);
  size_ = other.size_;
  return *this;
}

uint32_t StoredValues::ColumnAt(const uint8_t* item) { return GetVarint(&item); }

proto::ValueKind StoredValues::KindAt(const uint8_t* item) { return PayloadOf(item).kind; }

const uint8_t* StoredValues::Skip(const uint8_t* item) {
  Payload payload = PayloadOf(item);
  const uint8_t* p = payload.at;
  switch (payload.kind) {
    case proto::ValueKind::Number: GetVarint(&p); return p;
    case proto::ValueKind::Pair:
      GetVarint(&p);
      GetVarint(&p);
      return p;
    case proto::ValueKind::Bytes: {
      uint32_t length = GetVarint(&p);
      return p + length;
    }
    case proto::ValueKind::Oid: {
      uint32_t count = GetVarint(&p);
      return p + static_cast<size_t>(count) * sizeof(uint32_t);
    }
  }
  return p;
}

const uint8_t* StoredValues::Find(uint32_t column) const {
  for (const uint8_t* p = Begin(); p != End(); p = Skip(p)) {
    uint32_t at = ColumnAt(p);
    if (at == column) return p;
    if (at > column) break;
  }
  return nullptr;
}

uint32_t StoredValues::LastColumn() const {
  uint32_t last = 0;
  ForEachColumn([&](uint32_t column) { last = column; });
  return last;
}

bool StoredValues::Get(uint32_t column, proto::Value* value) const {
  const uint8_t* item = Find(column);
  if (!item) return false;
  Unpack(item, value);
  return true;
}

void StoredValues::Set(uint32_t column, const proto::Value& value) {
  const uint8_t* at = Begin();
  while (at != End() && ColumnAt(at) < column) at = Skip(at);
  const uint8_t* after = at != End() && ColumnAt(at) == column ? Skip(at) : at;
  size_t item = EncodedSize(column, value);
  size_t before = static_cast<size_t>(at - Begin());
  size_t old = static_cast<size_t>(after - at);
  size_t rest = static_cast<size_t>(End() - after);
  size_t size = before + item + rest;
  if (size > size_) Resize(size);
  uint8_t* base = block_.get();
  if (rest > 0 && item != old) std::memmove(base + before + item, base + before + old, rest);
  Encode(column, value, base + before);
  if (size < size_) Resize(size);
  size_ = static_cast<uint32_t>(size);
}

void StoredValues::Append(uint32_t column, const proto::Value& value) {
  size_t item = EncodedSize(column, value);
  Resize(size_ + item);
  Encode(column, value, block_.get() + size_);
  size_ += static_cast<uint32_t>(item);
}

void StoredValues::Resize(size_t size) {
  // Grown in place where the heap allows: a start sets a row's values one after another.
  uint8_t* block = static_cast<uint8_t*>(std::realloc(block_.get(), size));
  if (!block) {
    // A smaller block that cannot move keeps the larger one it had.
    if (size < size_) return;
    throw std::bad_alloc();
  }
  block_.release();
  block_.reset(block);
}

void StoredValues::Unpack(const uint8_t* item, proto::Value* value) {
  Payload payload = PayloadOf(item);
  const uint8_t* p = payload.at;
  value->syntax = payload.syntax;
  value->kind = payload.kind;
  value->number = 0;
  value->second = 0;
  value->bytes.clear();
  value->ids.clear();
  switch (payload.kind) {
    case proto::ValueKind::Number: value->number = GetVarint(&p); break;
    case proto::ValueKind::Pair:
      value->number = GetVarint(&p);
      value->second = GetVarint(&p);
      break;
    case proto::ValueKind::Bytes: {
      uint32_t length = GetVarint(&p);
      value->bytes.assign(reinterpret_cast<const char*>(p), length);
      break;
    }
    case proto::ValueKind::Oid: {
      uint32_t count = GetVarint(&p);
      value->ids.resize(count);
      if (count > 0) std::memcpy(value->ids.data(), p, count * sizeof(uint32_t));
      break;
    }
  }
}

}  // namespace orvu::agent
