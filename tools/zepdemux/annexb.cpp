#include "tools/zepdemux/annexb.h"

#include <cstddef>

namespace zepcli {
namespace {

uint64_t read_length(const uint8_t* p, int length_size) {
  uint64_t value = 0;
  const int n = (length_size >= 2 && length_size <= 4) ? length_size : 1;
  for (int i = 0; i < n; ++i) value = value << 8 | p[i];
  return value;
}

// The first NAL header byte behind the header's first start code.
int first_nal_byte_of_header(const std::vector<uint8_t>& header) {
  for (size_t i = 0; i + 3 < header.size(); ++i)
    if (header[i] == 0 && header[i + 1] == 0 && header[i + 2] == 1) return header[i + 3];
  return -1;
}

}  // namespace

bool AnnexBFramer::header_first(const uint8_t* data, size_t size) {
  if (!first_) return false;
  first_ = false;
  if (header_.empty()) return false;
  const size_t n = size_t(length_size_ >= 2 && length_size_ <= 4 ? length_size_ : 1);
  if (size <= n) return false;
  return data[n] != first_nal_byte_of_header(header_);
}

bool AnnexBFramer::convert(const uint8_t* data, size_t size, std::vector<uint8_t>& out) const {
  out.clear();
  const size_t n = size_t(length_size_ >= 2 && length_size_ <= 4 ? length_size_ : 1);
  // A block that already carries start codes goes out unchanged.
  if ((n == 4 && size >= 4 && read_length(data, 4) == 1) ||
      (n == 3 && size >= 3 && read_length(data, 3) == 1)) {
    out.assign(data, data + size);
    return true;
  }
  size_t pos = 0;
  while (size - pos > n) {
    const uint64_t length = read_length(data + pos, int(n));
    if (length > size - pos - n) break;
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), data + pos + n, data + pos + n + length);
    pos += n + length;
  }
  return !out.empty() || size == 0;
}

}  // namespace zepcli
