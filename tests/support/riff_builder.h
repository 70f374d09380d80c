// Crafted RIFF/AVI files from streams and chunks, with every index layout the module reads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/byte_writer.h"

namespace zeptest {

// Nests chunks and lists: begin_* writes a size that end_* patches, with the pad byte.
class RiffWriter : public ByteWriter {
 public:
  RiffWriter& begin_list(std::string_view id, std::string_view form);
  RiffWriter& end_list() { return end_chunk(); }
  RiffWriter& chunk(std::string_view id, const Bytes& data);
  RiffWriter& begin_chunk(std::string_view id);
  RiffWriter& end_chunk();

 private:
  std::vector<size_t> open_;
};

struct AviStreamSpec {
  enum Kind { kVideo, kAudio, kSubtitle, kOther } kind = kVideo;
  std::string handler = "XVID", compression = "XVID";  // compression: biCompression
  uint32_t scale = 1, rate = 25, sampleSize = 0, length = 0, suggestedBufferSize = 0;
  uint16_t formatTag = 1, channels = 2, blockAlign = 4, bitsPerSample = 16;
  uint32_t samplesPerSec = 44100, avgBytesPerSec = 176400;
  Bytes waveExtra;         // cbSize and extra bytes follow when not empty
  bool shortWave = false;  // 16-byte WAVEFORMAT without cbSize
  std::string name;        // strn, empty: none
  int width = 160, height = 120;
};

// An audio stream of the given format and stream header timing.
inline AviStreamSpec audio_stream(uint16_t formatTag, uint32_t scale, uint32_t rate,
                                  uint32_t sampleSize, uint16_t blockAlign,
                                  uint32_t avgBytesPerSec = 176400, uint32_t samplesPerSec = 44100,
                                  uint16_t channels = 2) {
  return {.kind = AviStreamSpec::kAudio, .scale = scale, .rate = rate, .sampleSize = sampleSize,
          .formatTag = formatTag, .channels = channels, .blockAlign = blockAlign,
          .samplesPerSec = samplesPerSec, .avgBytesPerSec = avgBytesPerSec};
}

struct AviChunkSpec {
  uint32_t stream = 0;  // strl position
  std::string suffix = "dc";
  Bytes data;
  bool key = true;
  uint32_t segment = 0;  // 0: first RIFF, k: k-th AVIX
};

struct AviFileSpec {
  std::vector<AviStreamSpec> streams;
  std::vector<AviChunkSpec> chunks;
  enum Index { kNone, kIdx1Relative, kIdx1Absolute, kOdml, kOdmlType1 } index = kIdx1Relative;
  // idx1 before movi, with only its first entry, without entries; chunks of segment 0 in LIST rec.
  bool idx1BeforeMovi = false, idx1OneEntry = false, idx1Empty = false, recLists = false;
  size_t odmlChunksPerIx = 0;  // OpenDML: chunks per ix## (0: one ix## per segment)
  uint32_t segments = 0;       // AVIX segments after the first RIFF
  std::vector<std::pair<std::string, Bytes>> info;  // LIST INFO sub-chunks
  Bytes cover;  // a RIFF META with a dpic after the title when not empty
};

Bytes build_avi(const AviFileSpec& spec);

// Frames whose key flag the bitstream tells; `tag` makes each distinct.
Bytes mpeg4_frame(bool key, uint32_t tag, size_t size = 64);
Bytes h264_frame(bool idr, uint32_t tag, size_t size = 64);
Bytes mpeg2_frame(bool intra, uint32_t tag, size_t size = 64);
Bytes pattern_bytes(uint32_t tag, size_t size);
// A bitmap-subtitle chunk with its 27-byte time header and `extra` bytes.
Bytes subtitle_packet(const std::string& start, const std::string& end, size_t extra = 16);

// The file without its idx1 (RIFF size fixed, has-index flag cleared).
Bytes strip_idx1(const Bytes& avi);

}  // namespace zeptest
