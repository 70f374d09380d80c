#include "api/zep_codec_header.h"

#include <cstring>

#include "api/zep_es_framing.h"

namespace zep::codec {
namespace {

// Appends a parameter set behind a 4-byte start code when it still fits.
bool append_unit(CodecHeader* out, const uint8_t* unit, uint32_t unitSize) {
  if (uint64_t(out->size) + 4 + unitSize > kMaxCodecHeader) return false;
  static const uint8_t kStartCode[4] = {0, 0, 0, 1};
  std::memcpy(out->bytes + out->size, kStartCode, 4);
  std::memcpy(out->bytes + out->size + 4, unit, unitSize);
  out->size += 4 + unitSize;
  return true;
}

bool copy_range(CodecHeader* out, const uint8_t* data, uint32_t size) {
  if (size > kMaxCodecHeader) return false;
  std::memcpy(out->bytes, data, size);
  out->size = size;
  return true;
}

// Offset of the next 00 00 01 at or after `from`, or -1.
int64_t find_start_code(const uint8_t* data, uint32_t size, uint32_t from) {
  for (uint64_t i = from; i + 3 <= size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return int64_t(i);
  }
  return -1;
}

// Offset of the next 00 00 01 whose following byte satisfies `accept`.
template <typename Accept>
int64_t find_start_code_with(const uint8_t* data, uint32_t size, uint32_t from, Accept accept) {
  for (int64_t at = find_start_code(data, size, from); at >= 0;
       at = find_start_code(data, size, uint32_t(at + 1))) {
    if (uint64_t(at) + 3 < size && accept(data[at + 3])) return at;
  }
  return -1;
}

uint16_t be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }

bool mpeg2_sequence_header(const uint8_t* block, uint32_t size, CodecHeader* out) {
  const int64_t seq = find_start_code_with(block, size, 0, [](uint8_t c) { return c == 0xB3; });
  if (seq < 0) return false;
  const int64_t next = find_start_code(block, size, uint32_t(seq + 4));
  if (next < 0) return false;
  if (!copy_range(out, block + seq, uint32_t(next - seq))) return false;
  // A sequence extension (extension start code id 1 in the high nibble).
  if (uint64_t(next) + 4 < size && block[next + 3] == 0xB5 && (block[next + 4] >> 4) == 1) {
    int64_t end = find_start_code(block, size, uint32_t(next + 4));
    if (end < 0) end = size;
    const uint32_t extSize = uint32_t(end - next);
    if (uint64_t(out->size) + extSize > kMaxCodecHeader) return false;
    std::memcpy(out->bytes + out->size, block + next, extSize);
    out->size += extSize;
  }
  return true;
}

bool mpeg4_visual_config(const uint8_t* block, uint32_t size, CodecHeader* out) {
  // Visual object sequence (B0), video object (00) or video object layer (20-2F).
  const int64_t first = find_start_code_with(
      block, size, 0, [](uint8_t c) { return c == 0x00 || c == 0xB0 || (c >= 0x20 && c <= 0x2F); });
  if (first < 0) return false;
  const int64_t vop =
      find_start_code_with(block, size, uint32_t(first + 3), [](uint8_t c) { return c == 0xB6; });
  if (vop < 0) return false;
  return copy_range(out, block + first, uint32_t(vop - first));
}

bool h264_parameter_sets(const uint8_t* block, uint32_t size, CodecHeader* out) {
  const int64_t first = find_start_code(block, size, 0);
  if (first < 0) return false;
  out->nalLengthSize = (first >= 1 && block[first - 1] == 0) ? 4 : 3;
  bool sps = false;
  bool pps = false;
  for (int64_t at = first; at >= 0; at = find_start_code(block, size, uint32_t(at + 3))) {
    if (sps && pps) {
      // The header ends where the start code after the parameter sets begins
      // (including the leading zero byte of a 4-byte start code).
      int64_t end = at;
      if (end > 0 && block[end - 1] == 0) --end;
      return copy_range(out, block, uint32_t(end));
    }
    if (uint64_t(at) + 3 >= size) break;
    const uint8_t type = block[at + 3] & 0x1F;
    if (type == 7) sps = true;
    if (type == 8) pps = true;
  }
  // The block ends with the parameter sets.
  return sps && pps && copy_range(out, block, size);
}

}  // namespace

uint32_t video_codec_id(uint32_t word) {
  if (word == fourcc("h264") || word == fourcc("H264")) return kH264;
  if (word == fourcc("HEVC")) return kHevc;
  if (word == fourcc("MPG2")) return kMpeg2Video;
  if (word == fourcc("MP4V") || word == fourcc("NORV") || word == fourcc("XVID") ||
      word == fourcc("xvid") || word == fourcc("3IV2") || word == fourcc("3iv2") ||
      word == fourcc("NR50")) {
    return kMpeg4Visual;
  }
  if (word == fourcc("NOR3") || word == fourcc("MP42")) return kMsMpeg4V3;
  if (word == fourcc("NOR4")) return kMpeg4Nor4;
  if (word == fourcc("MJPG")) return 26;
  return 1;
}

uint32_t subtitle_codec_id(uint32_t word) {
  if (word == fourcc("NRSB")) return 281;
  if (word == fourcc("NRSA")) return 291;
  if (word == fourcc("VSUB")) return 287;
  if (word == fourcc("UTF8")) return 282;
  if (word == fourcc("SSA\0")) return 283;
  if (word == fourcc("ASS\0")) return 284;
  if (word == fourcc("USF\0")) return 285;
  if (word == fourcc("BMP\0")) return 286;
  return 0;
}

uint32_t audio_codec_id(uint32_t tag) {
  switch (tag) {
    case 1:
    case 3:
      return kPcm;
    case 2:
      return 233;
    case 6:
      return 241;
    case 7:
      return 242;
    case 17:
      return 232;
    case 39:
      return kAc3Tag39;
    case 80:
    case 85:
      return kMpegAudio;
    case 255:
      return kAac;
    case 0x2000:
      return kAc3;
    case 0x2001:
      return kDts;
    default:
      return 130;
  }
}

uint32_t resolve_format_tag(uint32_t tag, uint32_t extraSize, const uint8_t* extra) {
  if (tag != 0xFFFE || extraSize != 22 || extra == nullptr) return tag;
  // Sub-format GUID 00000000-0000-0010-8000-00AA00389B71 as stored: its first
  // (little-endian) word carries the format tag.
  static const uint8_t kGuidTail[15] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};
  const uint8_t* guid = extra + 6;  // after valid bits (2) and channel mask (4)
  if (std::memcmp(guid + 1, kGuidTail, 15) != 0) return tag;
  switch (guid[0]) {
    case 1:
    case 2:
    case 3:
    case 6:
    case 7:
    case 80:
    case 85:
      return guid[0];
    default:
      return tag;
  }
}

bool has_codec_header(uint32_t id) {
  switch (id) {
    case kMpeg2Video:
    case kMpeg4Visual:
    case kH264:
    case kHevc:
    case kMpegAudio:
    case kAacOther:
    case kAac:
    case kAc3:
    case kAc3Tag39:
    case kDts:
      return true;
    default:
      return false;
  }
}

bool header_from_avcc(const uint8_t* record, uint32_t size, CodecHeader* out) {
  out->size = 0;
  if (record == nullptr || size < 6) return false;
  out->nalLengthSize = (record[4] & 3u) + 1;
  uint64_t pos = 6;
  const uint32_t spsCount = record[5] & 31u;
  for (uint32_t i = 0; i < spsCount; ++i) {
    if (pos + 2 > size) return true;
    const uint32_t len = be16(record + pos);
    if (pos + 2 + len > size) return true;
    append_unit(out, record + pos + 2, len);
    pos += 2 + len;
  }
  if (pos + 1 > size) return true;
  const uint32_t ppsCount = record[pos++];
  for (uint32_t i = 0; i < ppsCount; ++i) {
    if (pos + 2 > size) return true;
    const uint32_t len = be16(record + pos);
    if (pos + 2 + len > size) return true;
    append_unit(out, record + pos + 2, len);
    pos += 2 + len;
  }
  return true;
}

bool header_from_hvcc(const uint8_t* record, uint32_t size, CodecHeader* out) {
  out->size = 0;
  if (record == nullptr || size < 24) return false;
  out->nalLengthSize = (record[21] & 3u) + 1;
  // The last unit of each of the types VPS (32), SPS (33) and PPS (34).
  const uint8_t* last[3] = {nullptr, nullptr, nullptr};
  uint32_t lastSize[3] = {0, 0, 0};
  uint64_t pos = 23;
  const uint32_t arrays = record[22];
  for (uint32_t a = 0; a < arrays; ++a) {
    if (pos + 3 > size) break;
    const uint32_t type = record[pos] & 0x3Fu;
    const uint32_t count = be16(record + pos + 1);
    pos += 3;
    bool truncated = false;
    for (uint32_t n = 0; n < count; ++n) {
      if (pos + 2 > size) {
        truncated = true;
        break;
      }
      const uint32_t len = be16(record + pos);
      if (pos + 2 + len > size) {
        truncated = true;
        break;
      }
      if (type >= 32 && type <= 34) {
        last[type - 32] = record + pos + 2;
        lastSize[type - 32] = len;
      }
      pos += 2 + len;
    }
    if (truncated) break;
  }
  for (int i = 0; i < 3; ++i) {
    if (last[i] != nullptr) append_unit(out, last[i], lastSize[i]);
  }
  return true;
}

bool header_from_first_block(uint32_t codecId, const uint8_t* block, uint32_t size,
                             uint32_t channels, uint32_t sampleRate, CodecHeader* out) {
  out->size = 0;
  if (block == nullptr) return false;
  switch (codecId) {
    case kMpeg2Video:
      return mpeg2_sequence_header(block, size, out);
    case kMpeg4Visual:
      return mpeg4_visual_config(block, size, out);
    case kH264:
      return h264_parameter_sets(block, size, out);
    case kMpegAudio:
      return size >= 4 && copy_range(out, block, 4);
    case kAacOther:
    case kAac: {
      framing::AdtsParams params{};
      // A rate ADTS cannot name gets index 12 here rather than a failure.
      framing::adts_params(nullptr, 0, channels, sampleRate, 12, &params);
      framing::write_adts_header(params, size, out->bytes);
      out->size = 7;
      return true;
    }
    case kAc3:
    case kAc3Tag39:
      return size >= 20 && copy_range(out, block, 20);
    case kDts:
      return size >= 1 && copy_range(out, block, size < kMaxCodecHeader ? size : kMaxCodecHeader);
    default:
      return false;
  }
}

}  // namespace zep::codec
