// Bit reader, Exp-Golomb codes, Annex B start-code scanning and removal of
// emulation-prevention bytes.
#include "modules/h264/h264_bitstream.h"

namespace {

// A ue(v) code carries a value of at most 32 bits: 31 leading zeros at most.
constexpr uint32_t kMaxLeadingZeros = 31;

inline uint32_t bit_at(const uint8_t* data, uint64_t position) {
  return (data[position >> 3] >> (7 - (position & 7))) & 1u;
}

}  // namespace

extern "C" uint64_t zep_bits_read(const uint8_t* data, uint32_t size, uint64_t bit_position,
                                  uint32_t count) {
  if (count > 64) count = 64;
  const uint64_t end = data ? uint64_t(size) * 8 : 0;
  uint64_t value = 0;
  uint32_t i = 0;
  // Whole bytes where the position is byte-aligned, single bits elsewhere.
  while (i < count) {
    const uint64_t p = bit_position + i;
    if (p >= end) {
      value = (count - i >= 64) ? 0 : value << (count - i);
      break;
    }
    if ((p & 7) == 0 && count - i >= 8 && p + 8 <= end) {
      value = (value << 8) | data[p >> 3];
      i += 8;
    } else {
      value = (value << 1) | bit_at(data, p);
      ++i;
    }
  }
  return value;
}

extern "C" uint64_t zep_bits_read_ue(const uint8_t* data, uint32_t size, uint64_t bit_position,
                                     uint32_t* bits_used) {
  uint32_t unused = 0;
  if (!bits_used) bits_used = &unused;
  *bits_used = 0;
  if (!data) return 0;
  const uint64_t end = uint64_t(size) * 8;
  uint32_t zeros = 0;
  while (bit_position + zeros < end && bit_at(data, bit_position + zeros) == 0) {
    if (++zeros > kMaxLeadingZeros) return 0;
  }
  // The 1 bit and the `zeros` bits behind it must lie inside the buffer.
  const uint64_t length = 2 * uint64_t(zeros) + 1;
  if (bit_position + length > end) return 0;
  const uint64_t suffix = zep_bits_read(data, size, bit_position + zeros + 1, zeros);
  *bits_used = uint32_t(length);
  return ((uint64_t(1) << zeros) - 1) + suffix;
}

extern "C" int64_t zep_bits_read_se(const uint8_t* data, uint32_t size, uint64_t bit_position,
                                    uint32_t* bits_used) {
  const uint64_t k = zep_bits_read_ue(data, size, bit_position, bits_used);
  const int64_t magnitude = int64_t((k + 1) / 2);
  return (k & 1) ? magnitude : -magnitude;
}

extern "C" void zep_bit_reader_init(ZepBitReader* reader, const uint8_t* data, uint32_t size) {
  if (!reader) return;
  reader->data = data;
  reader->size = data ? size : 0;
  reader->position = 0;
  reader->failed = 0;
}

extern "C" uint64_t zep_bit_reader_u(ZepBitReader* reader, uint32_t count) {
  if (!reader || reader->failed) return 0;
  if (count > 64) count = 64;
  if (reader->position + count > uint64_t(reader->size) * 8) {
    reader->failed = 1;
    return 0;
  }
  const uint64_t value = zep_bits_read(reader->data, reader->size, reader->position, count);
  reader->position += count;
  return value;
}

extern "C" uint64_t zep_bit_reader_ue(ZepBitReader* reader) {
  if (!reader || reader->failed) return 0;
  uint32_t used = 0;
  const uint64_t value = zep_bits_read_ue(reader->data, reader->size, reader->position, &used);
  if (used == 0) {
    reader->failed = 1;
    return 0;
  }
  reader->position += used;
  return value;
}

extern "C" int64_t zep_bit_reader_se(ZepBitReader* reader) {
  if (!reader || reader->failed) return 0;
  uint32_t used = 0;
  const int64_t value = zep_bits_read_se(reader->data, reader->size, reader->position, &used);
  if (used == 0) {
    reader->failed = 1;
    return 0;
  }
  reader->position += used;
  return value;
}

extern "C" ZEP_STATUS zep_nal_find_start(const uint8_t* data, uint32_t length,
                                         uint32_t* payload_offset) {
  if (!data || !payload_offset || length <= 2) return ZEP_FAIL;
  for (uint32_t i = 0; i + 2 < length; ++i) {
    if (data[i] != 0) return ZEP_FAIL;
    if (data[i + 1] == 0 && data[i + 2] == 1) {
      *payload_offset = i + 3;
      return ZEP_OK;
    }
  }
  return ZEP_FAIL;
}

extern "C" ZEP_STATUS zep_nal_find_end(const uint8_t* data, uint32_t length, uint32_t* nal_length) {
  if (!nal_length) return ZEP_OK;
  *nal_length = length;
  if (!data) {
    *nal_length = 0;
    return ZEP_OK;
  }
  for (uint32_t i = 0; i + 2 < length; ++i) {
    // Most bytes are not zero: step over them two at a time.
    if (data[i + 1] != 0) {
      ++i;
      continue;
    }
    if (data[i] == 0 && data[i + 2] <= 1) {
      *nal_length = i;
      break;
    }
  }
  return ZEP_OK;
}

extern "C" uint32_t zep_avc_unescape(const uint8_t* nal, uint32_t length, uint8_t* out) {
  if (!nal || !out || length < 2) return 0;
  uint32_t written = 0;
  uint32_t i = 1;  // behind the NAL header byte
  while (i + 2 < length) {
    if (nal[i] == 0 && nal[i + 1] == 0 && nal[i + 2] == 3) {
      out[written++] = 0;
      out[written++] = 0;
      i += 3;
    } else {
      out[written++] = nal[i++];
    }
  }
  while (i < length) out[written++] = nal[i++];
  return written;
}

// clang-format off
extern "C" const char* const zep_avc_nal_type_names[32] = {
    "unspec", "non-idr slice", "partition a", "partition b", "partition c", "idr slice",
    "sei",    "sps",           "pps",         "aud",         "end seq",     "end stream",
    "filler", "sps ext",       "14",          "15",          "16",          "17",
    "18",     "19",            "20",          "21",          "22",          "23",
    "24",     "25",            "26",          "27",          "28",          "29",
    "30",     "31"};
// clang-format on
