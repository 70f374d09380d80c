// Codec identities of streams and their codec headers: from the codec
// private data (AVC and HEVC decoder configuration records) or derived from a
// stream's first block.
#pragma once

#include <cstdint>

namespace zep::codec {

// Four bytes in file order read as a little-endian word.
constexpr uint32_t fourcc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | (uint32_t(uint8_t(s[1])) << 8) |
         (uint32_t(uint8_t(s[2])) << 16) | (uint32_t(uint8_t(s[3])) << 24);
}

constexpr uint32_t kH264 = 10;
constexpr uint32_t kHevc = 13;
constexpr uint32_t kMpeg2Video = 3;
constexpr uint32_t kMpeg4Visual = 4;
constexpr uint32_t kMsMpeg4V3 = 35;
constexpr uint32_t kMpeg4Nor4 = 36;
constexpr uint32_t kMpegAudio = 131;
constexpr uint32_t kAacOther = 141;
constexpr uint32_t kAac = 143;
constexpr uint32_t kAc3 = 150;
constexpr uint32_t kAc3Tag39 = 151;
constexpr uint32_t kDts = 172;
constexpr uint32_t kPcm = 201;

constexpr uint32_t kMaxCodecHeader = 1024;

uint32_t video_codec_id(uint32_t fourccWord);
uint32_t subtitle_codec_id(uint32_t fourccWord);
uint32_t audio_codec_id(uint32_t formatTag);

// The format tag of an audio format record: for WAVE_FORMAT_EXTENSIBLE
// (0xFFFE) with 22 extra bytes and the standard sub-format GUID tail, the
// sub-format's first byte when it is 1, 2, 3, 6, 7, 80 or 85.
uint32_t resolve_format_tag(uint32_t formatTag, uint32_t extraSize, const uint8_t* extra);

// True for the codec ids that get a codec header.
bool has_codec_header(uint32_t codecId);

struct CodecHeader {
  uint8_t bytes[kMaxCodecHeader];
  uint32_t size;
  uint32_t nalLengthSize;  // H.264 / HEVC: 1 to 4
};

// Parameter sets of an AVCDecoderConfigurationRecord, each behind
// 00 00 00 01: every SPS, then every PPS, as many as fit in 1024 bytes.
// False when the record is too short to name its NAL length size.
bool header_from_avcc(const uint8_t* record, uint32_t size, CodecHeader* out);

// The last VPS, SPS and PPS of an HEVCDecoderConfigurationRecord, each
// behind 00 00 00 01. False for a record shorter than 24 bytes.
bool header_from_hvcc(const uint8_t* record, uint32_t size, CodecHeader* out);

// Derives the header from the stream's first block. False when the rule of
// the codec finds nothing (the stream's codec id then becomes 0).
bool header_from_first_block(uint32_t codecId, const uint8_t* block, uint32_t size,
                             uint32_t channels, uint32_t sampleRate, CodecHeader* out);

}  // namespace zep::codec
