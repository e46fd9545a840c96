#include "protocol/wire_codec.h"

#include <bit>
#include <cstring>

namespace orvu::wire {

void Writer::Bytes(const void* data, size_t size) {
  U32(static_cast<uint32_t>(size));
  if (size) out_.append(static_cast<const char*>(data), size);
}

void Writer::Ids(const uint32_t* ids, size_t count) {
  U32(static_cast<uint32_t>(count));
  // The wire is little-endian: on such a host the sub-identifiers are their own bytes.
  if constexpr (std::endian::native == std::endian::little) {
    if (count > 0) out_.append(reinterpret_cast<const char*>(ids), 4 * count);
  } else {
    size_t start = out_.size();
    out_.resize(start + 4 * count);
    auto* at = reinterpret_cast<uint8_t*>(out_.data() + start);
    for (size_t i = 0; i < count; ++i) PutU32(at + 4 * i, ids[i]);
  }
}

void Reader::Bytes(std::string* out) {
  uint32_t n = U32();
  if (!Take(n)) {
    out->clear();
    return;
  }
  out->assign(reinterpret_cast<const char*>(data_ + pos_), n);
  pos_ += n;
}

void Reader::Ids(std::vector<uint32_t>* out) {
  uint32_t n = U32();
  // The count is checked against what is left before anything is allocated, so a forged
  // count cannot make the reader reserve gigabytes.
  if (!ok_ || n > (size_ - pos_) / 4) {
    ok_ = false;
    out->clear();
    return;
  }
  out->resize(n);
  uint32_t* ids = out->data();
  if constexpr (std::endian::native == std::endian::little) {
    if (n > 0) std::memcpy(ids, data_ + pos_, 4 * static_cast<size_t>(n));
  } else {
    for (uint32_t i = 0; i < n; ++i) ids[i] = GetU32(data_ + pos_ + 4 * i);
  }
  pos_ += 4 * static_cast<size_t>(n);
}

}  // namespace orvu::wire
