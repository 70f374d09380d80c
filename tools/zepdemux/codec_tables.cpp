#include "tools/zepdemux/codec_tables.h"

#include <cstring>

namespace zepcli {
namespace {

constexpr uint32_t fourcc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

struct FourccCodec {
  uint32_t fourcc;
  uint32_t codec_id;
};

constexpr FourccCodec kVideoCodecs[] = {
    {fourcc("h264"), 10}, {fourcc("H264"), 10}, {fourcc("HEVC"), 13}, {fourcc("MPG2"), 3},
    {fourcc("MP4V"), 4},  {fourcc("NORV"), 4},  {fourcc("XVID"), 4},  {fourcc("xvid"), 4},
    {fourcc("3IV2"), 4},  {fourcc("3iv2"), 4},  {fourcc("NR50"), 4},  {fourcc("NOR3"), 35},
    {fourcc("MP42"), 35}, {fourcc("NOR4"), 36}, {fourcc("MJPG"), 26},
};

constexpr FourccCodec kSubtitleCodecs[] = {
    {fourcc("NRSB"), 281},
    {fourcc("NRSA"), 291},
    {fourcc("VSUB"), 287},
    {fourcc("UTF8"), 282},
    {0x00415353u, 283} /* "SSA\0" */,
    {0x00535341u, 284} /* "ASS\0" */,
    {0x00465355u, 285} /* "USF\0" */,
    {0x00504D42u, 286} /* "BMP\0" */,
};

// Bytes 1..15 of the sub-format identifier 00000000-0000-0010-8000-00AA00389B71.
constexpr uint8_t kSubFormatTail[15] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                        0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

}  // namespace

uint32_t video_codec_id(uint32_t fcc) {
  for (const auto& entry : kVideoCodecs)
    if (entry.fourcc == fcc) return entry.codec_id;
  return 1;
}

uint32_t subtitle_codec_id(uint32_t fcc) {
  for (const auto& entry : kSubtitleCodecs)
    if (entry.fourcc == fcc) return entry.codec_id;
  return 0;
}

uint32_t effective_format_tag(uint32_t tag, const uint8_t* extra, uint32_t extra_size) {
  // Extensible format: valid bits (2), channel mask (4), then the identifier.
  if (tag != 0xFFFE || extra_size != 22 || extra == nullptr) return tag;
  const uint8_t* guid = extra + 6;
  if (std::memcmp(guid + 1, kSubFormatTail, sizeof kSubFormatTail) != 0) return tag;
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

uint32_t audio_codec_id(uint32_t tag, const uint8_t* extra, uint32_t extra_size) {
  switch (effective_format_tag(tag, extra, extra_size)) {
    case 1:
    case 3:
      return 201;
    case 2:
      return 233;
    case 6:
      return 241;
    case 7:
      return 242;
    case 17:
      return 232;
    case 39:
      return 151;
    case 80:
    case 85:
      return 131;
    case 255:
      return 143;
    case 0x2000:
      return 150;
    case 0x2001:
      return 172;
    default:
      return 130;
  }
}

std::string codec_name(uint32_t id) {
  switch (id) {
    case 0:
      return "unknown";
    case 1:
      return "other video";
    case 3:
      return "MPEG-2 video";
    case 4:
      return "MPEG-4 visual";
    case 10:
      return "H.264";
    case 13:
      return "HEVC";
    case 26:
      return "Motion JPEG";
    case 35:
      return "MPEG-4 v2 (MS)";
    case 36:
      return "MPEG-4 v3 variant";
    case 130:
      return "other audio";
    case 131:
      return "MPEG audio";
    case 141:
    case 143:
      return "AAC";
    case 150:
      return "AC-3";
    case 151:
      return "AC-3 (tag 39)";
    case 172:
      return "DTS";
    case 201:
      return "PCM";
    case 232:
      return "IMA ADPCM";
    case 233:
      return "MS ADPCM";
    case 241:
      return "A-law";
    case 242:
      return "mu-law";
    case 281:
      return "QSUB bitmap";
    case 282:
      return "UTF-8 text";
    case 283:
      return "SSA";
    case 284:
      return "ASS";
    case 285:
      return "USF";
    case 286:
      return "BMP";
    case 287:
      return "VobSub";
    case 291:
      return "QSUB bitmap (NRSA)";
    default:
      return "codec " + std::to_string(id);
  }
}

std::string fourcc_text(uint32_t fcc) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (int i = 0; i < 4; ++i) {
    const auto c = uint8_t(fcc >> (8 * i));
    if (c >= 0x20 && c < 0x7F && c != '\\') {
      out += char(c);
    } else {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    }
  }
  return out;
}

int avc_length_size(const std::vector<uint8_t>& avcc) {
  return avcc.size() >= 5 ? (avcc[4] & 3) + 1 : 4;
}

std::vector<uint8_t> avc_codec_header(const std::vector<uint8_t>& avcc) {
  std::vector<uint8_t> header;
  if (avcc.size() < 6) return header;
  size_t pos = 5;
  // Two lists: sequence parameter sets (count in the low 5 bits), then
  // picture parameter sets (count in a whole byte).
  for (int list = 0; list < 2; ++list) {
    if (pos >= avcc.size()) return {};
    const unsigned count = list == 0 ? (avcc[pos] & 31u) : avcc[pos];
    ++pos;
    for (unsigned i = 0; i < count; ++i) {
      if (pos + 2 > avcc.size()) return {};
      const size_t length = size_t(avcc[pos]) << 8 | avcc[pos + 1];
      pos += 2;
      if (length > avcc.size() - pos) return {};
      header.insert(header.end(), {0, 0, 0, 1});
      header.insert(header.end(), avcc.begin() + long(pos), avcc.begin() + long(pos + length));
      pos += length;
      if (header.size() > 1024) return {};
    }
  }
  return header;
}

}  // namespace zepcli
