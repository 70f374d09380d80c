// Fuzz target for the H.264 bitstream tools: the first byte chooses the
// parser (SPS, PPS, slice header behind an SPS, start-code scan, Annex B
// conversion); the rest is its input. Every parser must stay inside the
// bytes it was given.
// Input caps: any size (each parser reads what the bitstream asks for).
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "modules/h264/h264_annexb.h"
#include "modules/h264/h264_bitstream.h"

namespace {

// Copies into an exactly sized heap block so that a read past its end is seen.
std::vector<uint8_t> exact(const uint8_t* data, size_t size) {
  return std::vector<uint8_t>(data, data + size);
}

void slice_behind_sps(const uint8_t* data, size_t size) {
  if (size < 2) return;
  const size_t sps_length = data[0] < size - 1 ? data[0] : size - 1;
  const std::vector<uint8_t> sps_nal = exact(data + 1, sps_length);
  ZepAvcSps sps;
  zep_avc_parse_sps(&sps, sps_nal.data(), uint32_t(sps_nal.size()));
  const std::vector<uint8_t> slice = exact(data + 1 + sps_length, size - 1 - sps_length);
  ZepAvcSliceHeader header;
  const uint32_t type = slice.empty() ? 0 : slice[0] & 0x1Fu;
  zep_avc_parse_slice_header(&sps, slice.data(), uint32_t(slice.size()), type, &header);
  static ZepAvcPps pps;
  pps.bottom_field_pic_order_in_frame_present_flag = 1;
  zep_avc_parse_slice_header_poc(&sps, &pps, slice.data(), uint32_t(slice.size()), type, &header);
}

void scan(const std::vector<uint8_t>& bytes) {
  uint32_t offset = 0;
  uint32_t length = 0;
  const uint32_t size = uint32_t(bytes.size());
  if (zep_nal_find_start(bytes.data(), size, &offset) == ZEP_OK) {
    zep_nal_find_end(bytes.data() + offset, size - offset, &length);
  }
  std::vector<uint8_t> out(size);
  zep_avc_unescape(bytes.data(), size, out.data());
  uint64_t position = 0;
  for (int i = 0; i < 64; ++i) {
    uint32_t used = 0;
    zep_bits_read_se(bytes.data(), size, position, &used);
    position += used ? used : 7;
    zep_bits_read(bytes.data(), size, position, 33);
  }
}

void annexb(const std::vector<uint8_t>& bytes, uint8_t mode) {
  uint32_t needed = 0;
  const uint32_t size = uint32_t(bytes.size());
  if (mode & 1) {
    if (zep_h264_avcc_to_annexb(bytes.data(), size, nullptr, 0, &needed) ==
        ZEP_ERR_BUFFER_TOO_SMALL) {
      std::vector<uint8_t> out(needed);
      zep_h264_avcc_to_annexb(bytes.data(), size, out.data(), needed, &needed);
    }
    zep_h264_avcc_length_size(bytes.data(), size);
  } else {
    const uint32_t length_size = 1 + ((mode >> 1) & 3);
    if (zep_h264_block_to_annexb(bytes.data(), size, length_size, nullptr, 0, &needed) ==
        ZEP_ERR_BUFFER_TOO_SMALL) {
      std::vector<uint8_t> out(needed);
      zep_h264_block_to_annexb(bytes.data(), size, length_size, out.data(), needed, &needed);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const uint8_t mode = data[0];
  const std::vector<uint8_t> rest = exact(data + 1, size - 1);
  switch (mode % 5) {
    case 0: {
      ZepAvcSps sps;
      zep_avc_parse_sps(&sps, rest.data(), uint32_t(rest.size()));
      break;
    }
    case 1: {
      static ZepAvcPps pps;  // large: kept out of the stack
      zep_avc_parse_pps(&pps, rest.data(), uint32_t(rest.size()));
      break;
    }
    case 2:
      slice_behind_sps(rest.data(), rest.size());
      break;
    case 3:
      scan(rest);
      break;
    default:
      annexb(rest, uint8_t(mode / 5));
      break;
  }
  return 0;
}
