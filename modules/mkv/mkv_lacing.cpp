#include "modules/mkv/mkv_lacing.h"

#include "modules/mkv/ebml_reader.h"

namespace mkv {

bool read_block_head(MkvByteSource& source, BlockHead* head) {
  uint32_t length = 0;
  uint8_t bytes[3];
  uint64_t got = 0;
  if (ReadVint(source, false, true, &head->track, &length) < 0 ||
      source.read(bytes, 3, &got) < 0 || got != 3)
    return false;
  head->relative = int16_t(uint16_t(bytes[0] << 8 | bytes[1]));
  head->flags = bytes[2];
  head->bytes = length + 3;
  return true;
}

ZEP_STATUS read_lace_sizes(MkvByteSource& source, uint32_t lacing, uint64_t payload,
                           std::vector<uint64_t>* sizes, uint64_t* headerBytes) {
  sizes->clear();
  *headerBytes = 0;
  if (payload < 1) return ZEP_FAIL;
  uint8_t countByte = 0;
  uint64_t got = 0;
  if (source.read(&countByte, 1, &got) < 0 || got != 1) return ZEP_FAIL;
  const uint32_t frames = uint32_t(countByte) + 1;
  uint64_t header = 1;
  uint64_t sum = 0;
  if (lacing == kLacingFixed) {
    const uint64_t each = (payload - 1) / frames;
    sizes->assign(frames, each);
    *headerBytes = 1;
    return ZEP_OK;
  }
  if (lacing == kLacingXiph) {
    for (uint32_t i = 0; i + 1 < frames; ++i) {
      uint64_t size = 0;
      for (;;) {
        uint8_t b = 0;
        if (header >= payload || source.read(&b, 1, &got) < 0 || got != 1) return ZEP_FAIL;
        ++header;
        size += b;
        if (b != 255) break;
      }
      sizes->push_back(size);
      sum += size;
      if (sum > payload) return ZEP_FAIL;
    }
  } else if (lacing == kLacingEbml) {
    uint64_t value = 0;
    uint32_t length = 0;
    if (ReadVint(source, false, true, &value, &length) < 0) return ZEP_FAIL;
    header += length;
    int64_t size = int64_t(value);
    if (frames > 1) {
      sizes->push_back(value);
      sum = value;
    }
    for (uint32_t i = 1; i + 1 < frames; ++i) {
      if (ReadVint(source, false, true, &value, &length) < 0 || length > 8) return ZEP_FAIL;
      header += length;
      // The difference to the previous size, as a signed vint.
      const int64_t bias = (int64_t(1) << (7 * length - 1)) - 1;
      size += int64_t(value) - bias;
      if (size < 0) return ZEP_FAIL;
      sizes->push_back(uint64_t(size));
      sum += uint64_t(size);
      if (sum > payload) return ZEP_FAIL;
    }
  } else {
    return ZEP_FAIL;
  }
  if (header + sum > payload) return ZEP_FAIL;
  sizes->push_back(payload - header - sum);
  *headerBytes = header;
  return ZEP_OK;
}

}  // namespace mkv
