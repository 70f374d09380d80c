// Bounded little-endian reader over a byte span. Every integer the AVI module
// takes from a header or an index goes through it: a read past the end of the
// span yields zero and marks the reader as failed instead of touching memory
// that does not belong to the span.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace avi {

class LeReader {
 public:
  LeReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool ok() const { return ok_; }
  size_t position() const { return pos_; }
  size_t remaining() const { return pos_ <= size_ ? size_ - pos_ : 0; }

  void seek(size_t pos) {
    if (pos > size_) {
      ok_ = false;
      pos_ = size_;
    } else {
      pos_ = pos;
    }
  }
  void skip(size_t count) { seek(count <= remaining() ? pos_ + count : size_ + 1); }

  uint8_t u8() { return uint8_t(take(1)); }
  uint16_t u16() { return uint16_t(take(2)); }
  uint32_t u32() { return uint32_t(take(4)); }
  uint64_t u64() { return take(8); }
  int16_t i16() { return int16_t(u16()); }
  int32_t i32() { return int32_t(u32()); }

  // Copies `count` raw bytes; on overrun the destination is zero-filled.
  void bytes(void* out, size_t count) {
    if (count > remaining()) {
      std::memset(out, 0, count);
      ok_ = false;
      pos_ = size_;
      return;
    }
    std::memcpy(out, data_ + pos_, count);
    pos_ += count;
  }

 private:
  uint64_t take(size_t width) {
    if (width > remaining()) {
      ok_ = false;
      pos_ = size_;
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v |= uint64_t(data_[pos_ + i]) << (8 * i);
    pos_ += width;
    return v;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

inline uint32_t le32_at(const uint8_t* p) {
  return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace avi
