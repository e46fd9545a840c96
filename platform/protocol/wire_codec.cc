#include "wire_codec.h"

namespace orvu::wire {

void PutU32(uint8_t* at, uint32_t v) {
  at[0] = static_cast<uint8_t>(v);
  at[1] = static_cast<uint8_t>(v >> 8);
  at[2] = static_cast<uint8_t>(v >> 16);
  at[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t GetU32(const uint8_t* at) {
  return static_cast<uint32_t>(at[0]) | static_cast<uint32_t>(at[1]) << 8 |
         static_cast<uint32_t>(at[2]) << 16 | static_cast<uint32_t>(at[3]) << 24;
}

void Writer::U32(uint32_t v) {
  uint8_t b[4];
  PutU32(b, v);
  out_.append(reinterpret_cast<const char*>(b), 4);
}

void Writer::Bytes(const void* data, size_t size) {
  U32(static_cast<uint32_t>(size));
  if (size) out_.append(static_cast<const char*>(data), size);
}

void Writer::Ids(const uint32_t* ids, size_t count) {
  U32(static_cast<uint32_t>(count));
  for (size_t i = 0; i < count; ++i) U32(ids[i]);
}

bool Reader::Take(size_t n) {
  if (!ok_ || size_ - pos_ < n) {
    ok_ = false;
    return false;
  }
  return true;
}

uint8_t Reader::U8() {
  if (!Take(1)) return 0;
  return data_[pos_++];
}

uint32_t Reader::U32() {
  if (!Take(4)) return 0;
  uint32_t v = GetU32(data_ + pos_);
  pos_ += 4;
  return v;
}

std::string Reader::Bytes() {
  uint32_t n = U32();
  if (!Take(n)) return {};
  std::string s(reinterpret_cast<const char*>(data_ + pos_), n);
  pos_ += n;
  return s;
}

std::vector<uint32_t> Reader::Ids() {
  uint32_t n = U32();
  // The count is checked against what is left before anything is allocated, so a forged
  // count cannot make the reader reserve gigabytes.
  if (!ok_ || n > (size_ - pos_) / 4) {
    ok_ = false;
    return {};
  }
  std::vector<uint32_t> ids(n);
  for (uint32_t i = 0; i < n; ++i) ids[i] = U32();
  return ids;
}

}  // namespace orvu::wire
