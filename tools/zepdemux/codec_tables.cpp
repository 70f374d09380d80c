#include "tools/zepdemux/codec_tables.h"

#include <cstring>

#include "api/zep_codec_header.h"

namespace zepcli {

// The ids come from the library's own tables, compiled into this tool too:
// the shared library exports only its sixteen functions.
uint32_t video_codec_id(uint32_t fcc) { return zep::codec::video_codec_id(fcc); }

uint32_t subtitle_codec_id(uint32_t fcc) { return zep::codec::subtitle_codec_id(fcc); }

uint32_t effective_format_tag(uint32_t tag, const uint8_t* extra, uint32_t extra_size) {
  return zep::codec::resolve_format_tag(tag, extra_size, extra);
}

uint32_t audio_codec_id(uint32_t tag, const uint8_t* extra, uint32_t extra_size) {
  return zep::codec::audio_codec_id(effective_format_tag(tag, extra, extra_size));
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
