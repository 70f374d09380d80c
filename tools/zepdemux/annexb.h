// Turns length-prefixed H.264 blocks into an Annex B byte stream, for files
// read through the container layer (the library does this itself for the
// files it opens): start codes instead of the big-endian length prefixes,
// and the codec header ahead of the first block after open or seek when
// that block does not already begin with the same parameter set.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zepcli {

class AnnexBFramer {
 public:
  AnnexBFramer(std::vector<uint8_t> codec_header, int length_size)
      : header_(std::move(codec_header)), length_size_(length_size) {}

  // Call after open and after every seek.
  void restart() { first_ = true; }

  // True when the codec header must be delivered ahead of this block.
  bool header_first(const uint8_t* data, size_t size);
  const std::vector<uint8_t>& header() const { return header_; }

  // Converts one block into `out`; false when its first unit does not fit.
  // Bytes after the last whole unit are dropped.
  bool convert(const uint8_t* data, size_t size, std::vector<uint8_t>& out) const;

 private:
  std::vector<uint8_t> header_;
  int length_size_;
  bool first_ = true;
};

}  // namespace zepcli
