#include "modules/h264/h264_annexb.h"

#include <cstring>

namespace {

constexpr uint8_t kStartCode[4] = {0, 0, 0, 1};

// Walks length-prefixed units, writing them with start codes when `out` has
// room for all of them. Answers the size of the Annex B form, or -1 when a unit
// runs past the end.
int64_t convert_units(const uint8_t* data, uint32_t size, uint32_t length_size, uint32_t count,
                      uint8_t* out, uint32_t capacity, uint32_t* consumed) {
  uint64_t pos = 0;
  uint64_t written = 0;
  for (uint32_t unit = 0; unit < count && (count != UINT32_MAX || pos < size); ++unit) {
    if (pos + length_size > size) return -1;
    uint32_t length = 0;
    for (uint32_t i = 0; i < length_size; ++i) length = (length << 8) | data[pos + i];
    pos += length_size;
    if (pos + length > size) return -1;
    if (out && written + 4 + length <= capacity) {
      std::memcpy(out + written, kStartCode, 4);
      std::memcpy(out + written + 4, data + pos, length);
    }
    written += 4 + uint64_t(length);
    pos += length;
  }
  if (consumed) *consumed = uint32_t(pos);
  return int64_t(written);
}

ZEP_STATUS finish(int64_t needed, uint8_t* out, uint32_t capacity, uint32_t* out_size) {
  if (needed < 0 || needed > int64_t(UINT32_MAX)) return ZEP_FAIL;
  *out_size = uint32_t(needed);
  if (!out || capacity < needed) return ZEP_ERR_BUFFER_TOO_SMALL;
  return ZEP_OK;
}

}  // namespace

extern "C" uint32_t zep_h264_avcc_length_size(const uint8_t* avcc, uint32_t avcc_size) {
  if (!avcc || avcc_size < 7 || avcc[0] != 1) return 0;
  const uint32_t length_size = (avcc[4] & 3u) + 1;
  return length_size == 3 ? 0 : length_size;
}

extern "C" ZEP_STATUS zep_h264_avcc_to_annexb(const uint8_t* avcc, uint32_t avcc_size, uint8_t* out,
                                              uint32_t capacity, uint32_t* out_size) {
  if (!avcc || !out_size) return ZEP_E_NULL_ARG;
  *out_size = 0;
  if (avcc_size < 7) return ZEP_FAIL;
  // Two passes: the first measures, the second writes when the room is there.
  for (int pass = 0; pass < 2; ++pass) {
    uint8_t* target = pass == 0 ? nullptr : out;
    uint32_t used = 0;
    const int64_t sps =
        convert_units(avcc + 6, avcc_size - 6, 2, avcc[5] & 0x1Fu, target, capacity, &used);
    if (sps < 0) return ZEP_FAIL;
    const uint32_t pps_at = 6 + used;
    if (pps_at >= avcc_size) return ZEP_FAIL;
    uint32_t pps_used = 0;
    const int64_t pps = convert_units(avcc + pps_at + 1, avcc_size - pps_at - 1, 2, avcc[pps_at],
                                      target ? target + sps : nullptr,
                                      capacity >= sps ? capacity - uint32_t(sps) : 0, &pps_used);
    if (pps < 0) return ZEP_FAIL;
    const ZEP_STATUS status = finish(sps + pps, out, capacity, out_size);
    if (status != ZEP_OK) return status;
  }
  return ZEP_OK;
}

extern "C" ZEP_STATUS zep_h264_block_to_annexb(const uint8_t* block, uint32_t size,
                                               uint32_t length_size, uint8_t* out,
                                               uint32_t capacity, uint32_t* out_size) {
  if (!out_size || (!block && size)) return ZEP_E_NULL_ARG;
  *out_size = 0;
  if (length_size < 1 || length_size > 4) return ZEP_FAIL;
  const int64_t needed = convert_units(block, size, length_size, UINT32_MAX, nullptr, 0, nullptr);
  const ZEP_STATUS status = finish(needed, out, capacity, out_size);
  if (status != ZEP_OK) return status;
  convert_units(block, size, length_size, UINT32_MAX, out, capacity, nullptr);
  return ZEP_OK;
}
