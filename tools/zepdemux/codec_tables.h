// Codec ids as the library numbers them, their names, and the codec header
// of an H.264 stream from its decoder configuration record. The container
// layer path needs the ids itself; the names serve every path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zepcli {

uint32_t video_codec_id(uint32_t fourcc);
// `extra` holds the format record's extra bytes (for the extensible tag).
uint32_t audio_codec_id(uint32_t format_tag, const uint8_t* extra, uint32_t extra_size);
// The tag after the extensible rule (0xFFFE with a known sub-format).
uint32_t effective_format_tag(uint32_t format_tag, const uint8_t* extra, uint32_t extra_size);
uint32_t subtitle_codec_id(uint32_t fourcc);

// "H.264", "AAC", "QSUB bitmap" ... or "unknown".
std::string codec_name(uint32_t codec_id);

// Four bytes in file order as text; bytes outside printable ASCII as \xNN.
std::string fourcc_text(uint32_t fourcc);

// Every SPS then every PPS of an AVC decoder configuration record, each
// behind 00 00 00 01; empty when the record is damaged or the result would
// exceed 1024 bytes.
std::vector<uint8_t> avc_codec_header(const std::vector<uint8_t>& avcc);
// NAL length size of an AVC configuration record (1..4), 4 when damaged.
int avc_length_size(const std::vector<uint8_t>& avcc);

}  // namespace zepcli
