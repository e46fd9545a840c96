#include "agent/core/stored_values.h"

#include <cstring>
#include <new>
#include <string>

namespace orvu::agent {
namespace {

// An item: column, syntax and kind, then the value by its kind: a number; two numbers; a length
// and that many bytes; a count and that many sub-identifiers of 4 bytes. Numbers and lengths are
// written 7 bits a byte, low bits first, so that the small ones most values hold take one byte.
void PutVarint(std::string* out, uint32_t v) {
  while (v >= 0x80) {
    out->push_back(static_cast<char>(v | 0x80));
    v >>= 7;
  }
  out->push_back(static_cast<char>(v));
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

void Encode(uint32_t column, const proto::Value& value, std::string* out) {
  PutVarint(out, column);
  PutVarint(out, value.syntax);
  out->push_back(static_cast<char>(value.kind));
  switch (value.kind) {
    case proto::ValueKind::Number: PutVarint(out, value.number); break;
    case proto::ValueKind::Pair:
      PutVarint(out, value.number);
      PutVarint(out, value.second);
      break;
    case proto::ValueKind::Bytes:
      PutVarint(out, static_cast<uint32_t>(value.bytes.size()));
      out->append(value.bytes);
      break;
    case proto::ValueKind::Oid:
      PutVarint(out, static_cast<uint32_t>(value.ids.size()));
      out->append(reinterpret_cast<const char*>(value.ids.data()),
                  value.ids.size() * sizeof(uint32_t));
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
  // A start sets a million values: the encoding's room is made once.
  thread_local std::string item;
  item.clear();
  Encode(column, value, &item);
  size_t before = static_cast<size_t>(at - Begin());
  size_t old = static_cast<size_t>(after - at);
  size_t rest = static_cast<size_t>(End() - after);
  size_t size = before + item.size() + rest;
  if (size > size_) {
    // Grown in place: what follows the item moves back once the block has room for it.
    uint8_t* grown = static_cast<uint8_t*>(std::realloc(block_.get(), size));
    if (!grown) throw std::bad_alloc();
    block_.release();
    block_.reset(grown);
  }
  uint8_t* base = block_.get();
  if (rest > 0 && item.size() != old)
    std::memmove(base + before + item.size(), base + before + old, rest);
  std::memcpy(base + before, item.data(), item.size());
  if (size < size_) {
    uint8_t* shrunk = static_cast<uint8_t*>(std::realloc(base, size));
    if (shrunk) {
      block_.release();
      block_.reset(shrunk);
    }
  }
  size_ = static_cast<uint32_t>(size);
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
