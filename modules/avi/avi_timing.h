// Times of video frames and audio chunks, from the stream header as the AVI
// format defines it: a stream with dwSampleSize 0 has one block of
// dwScale/dwRate seconds per chunk; otherwise a chunk of n bytes lasts
// n / dwSampleSize * dwScale / dwRate seconds. MPEG audio whose nBlockAlign
// names a whole frame (1152, 576, 384 samples) is timed per chunk as well.
#pragma once

#include <cstdint>

#include "modules/avi/avi_context.h"

namespace avi {

__extension__ typedef unsigned __int128 u128;

void setup_timing(AviStream& stream);

// A time computed in floating point, held to what an int64_t can carry:
// headers with huge lengths and scales give times beyond any real file.
inline int64_t saturated_time(double units) {
  if (!(units > 0)) return 0;
  return units >= 9223372036854775807.0 ? INT64_MAX : int64_t(units);
}

// A count computed in floating point, held to what a uint32_t can carry.
inline uint32_t saturated_count(double n) {
  if (!(n > 0)) return 0;
  return n >= 4294967295.0 ? 0xFFFFFFFFu : uint32_t(n);
}

// The sum of two times, held at the ends of the range.
inline int64_t add_time(int64_t a, int64_t b) {
  if (b > 0 && a > INT64_MAX - b) return INT64_MAX;
  if (b < 0 && a < INT64_MIN - b) return INT64_MIN;
  return a + b;
}

// Video.
inline int64_t frame_time(const AviTiming& t, uint64_t frame) {
  return saturated_time(double(frame) * t.frameDuration);
}
// The last frame whose time is at or before `time`.
inline uint32_t frame_of_time(const AviTiming& t, int64_t time) {
  if (t.frameDuration <= 0 || time <= 0) return 0;
  double f = double(time) / t.frameDuration;
  if (f >= 4294967295.0) return 0xFFFFFFFFu;
  uint32_t n = uint32_t(f);
  if (n < 0xFFFFFFFFu && frame_time(t, n + 1) <= time) ++n;
  while (n > 0 && frame_time(t, n) > time) --n;
  return n;
}

// Audio, block-counted.
inline int64_t block_time(const AviTiming& t, uint64_t blocks) {
  if (t.rate == 0) return 0;
  return saturated_time(double(blocks) * double(t.scale) * double(kUnitsPerSecond) /
                        double(t.rate));
}
// Block-counted audio chunks that end at or before `time`.
inline uint32_t blocks_of_time(const AviTiming& t, int64_t time) {
  return t.blockDuration > 0 ? saturated_count(double(time) / t.blockDuration) : 0;
}
// Audio, byte-counted.
inline int64_t byte_time(const AviTiming& t, uint64_t bytes) {
  if (t.rate == 0 || t.sampleSize == 0) return 0;
  u128 num = u128(bytes) * t.scale * uint64_t(kUnitsPerSecond);
  u128 den = u128(t.sampleSize) * t.rate;
  u128 q = num / den;
  return q > u128(INT64_MAX) ? INT64_MAX : int64_t(q);
}
inline uint64_t bytes_of_time(const AviTiming& t, int64_t time) {
  if (time <= 0 || t.scale == 0) return 0;
  u128 num = u128(uint64_t(time)) * t.sampleSize * t.rate;
  u128 den = u128(t.scale) * uint64_t(kUnitsPerSecond);
  u128 q = num / den;
  return q > u128(UINT64_MAX) ? UINT64_MAX : uint64_t(q);
}

// Time and duration of the next audio chunk of `size` bytes after `blocks`
// chunks and `bytes` bytes.
inline void audio_chunk_time(const AviTiming& t, uint64_t blocks, uint64_t bytes, uint32_t size,
                             int64_t* time, int64_t* duration) {
  if (t.blockCounted) {
    *time = block_time(t, blocks);
    *duration = saturated_time(t.blockDuration);
  } else {
    *time = byte_time(t, bytes);
    *duration = byte_time(t, bytes + size) - *time;
  }
}

// Bitmap-subtitle chunks start with "[HH:MM:SS.mmm-HH:MM:SS.mmm]".
void subtitle_chunk_time(const uint8_t* data, uint32_t size, int64_t* time, int64_t* duration);
inline constexpr uint32_t kSubtitleTimeHeaderSize = 27;

}  // namespace avi
