// Little-endian, fixed-width encoding of the values exchanged between the agent and its clients.
// Nothing here knows about sockets, so both sides and the fuzz targets can use it on plain bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace orvu::wire {

// Inline, with the readers' and writers' hot steps: a listing moves every sub-identifier of every
// leaf's OID through them.
inline void PutU32(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
  at[2] = static_cast<uint8_t>(v >> 16);
  at[3] = static_cast<uint8_t>(v >> 24);
}

inline uint32_t GetU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

class Writer {
 public:
  void U8(uint8_t v) { out_.push_back(static_cast<char>(v)); }
  void U32(uint32_t v) {
    char b[4];
    PutU32(reinterpret_cast<uint8_t*>(b), v);
    out_.append(b, 4);
  }
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void Bytes(const void* data, size_t size);  // u32 length, then the bytes
  void Text(const std::string& text) { Bytes(text.data(), text.size()); }
  void Ids(const uint32_t* ids, size_t count);  // u32 count, then the sub-identifiers
  void Ids(const std::vector<uint32_t>& ids) { Ids(ids.data(), ids.size()); }
  void Reserve(size_t size) { out_.reserve(size); }
  std::string& Out() { return out_; }

 private:
  std::string out_;
};

// Reads until the input runs short; then every later read fails too and Ok() turns false,
// so a decoder may read a whole message and check once at the end.
class Reader {
 public:
  Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  uint8_t U8() {
    if (!Take(1)) return 0;
    return data_[pos_++];
  }
  uint32_t U32() {
    if (!Take(4)) return 0;
    uint32_t v = GetU32(data_ + pos_);
    pos_ += 4;
    return v;
  }
  int32_t I32() { return static_cast<int32_t>(U32()); }
  // Into *OUT, whose room is reused: a client decodes page after page of alike rows.
  void Bytes(std::string* out);
  void Ids(std::vector<uint32_t>* out);
  bool Ok() const { return ok_; }
  bool AtEnd() const { return ok_ && pos_ == size_; }
  void Fail() { ok_ = false; }

 private:
  bool Take(size_t n) {
    if (!ok_ || size_ - pos_ < n) {
      ok_ = false;
      return false;
    }
    return true;
  }
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

}  // namespace orvu::wire
