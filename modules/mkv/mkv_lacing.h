// Lace headers: the frame sizes of a Xiph-, EBML- or fixed-size-laced block.
#pragma once

#include <cstdint>
#include <vector>

#include "modules/mkv/mkv_byte_source.h"

namespace mkv {

constexpr uint32_t kLacingNone = 0, kLacingXiph = 0x02, kLacingFixed = 0x04, kLacingEbml = 0x06;
constexpr uint32_t kMaxLacedFrames = 256;

// The head of a SimpleBlock or Block at the source's position: the track
// number (a vint), the relative timecode (signed 16-bit) and the flags byte.
struct BlockHead {
  uint64_t track = 0;
  int16_t relative = 0;
  uint8_t flags = 0;
  uint32_t bytes = 0;  // the head's length
};
bool read_block_head(MkvByteSource& source, BlockHead* head);

// Reads the lace header at the source's position. `payload` is the bytes of
// the block after its track number, timecode and flags. On success `sizes`
// holds every frame's size, they add up to the payload, and `*headerBytes`
// is the lace header's length (count byte included). A header that is cut
// short, a size that runs past the payload or a negative size fails with -1.
ZEP_STATUS read_lace_sizes(MkvByteSource& source, uint32_t lacing, uint64_t payload,
                           std::vector<uint64_t>* sizes, uint64_t* headerBytes);

}  // namespace mkv
