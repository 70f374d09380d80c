#include "modules/avi/avi_timing.h"

namespace avi {

namespace {

// MPEG audio (0x50, 0x55) whose nBlockAlign is a whole frame of samples.
bool mpeg_frame_aligned(const AviWaveFormat& w) {
  if (w.formatTag != 0x50 && w.formatTag != 0x55) return false;
  return w.blockAlign == 1152 || (w.blockAlign == 576 && w.samplesPerSec < 32000) ||
         (w.blockAlign == 384 && w.samplesPerSec < 16000);
}

int64_t decimal(const uint8_t* p, int digits) {
  int64_t v = 0;
  for (int i = 0; i < digits; ++i) {
    if (p[i] < '0' || p[i] > '9') break;
    v = v * 10 + (p[i] - '0');
  }
  return v;
}

int64_t stamp(const uint8_t* p) {
  return decimal(p, 2) * 36000000000LL + decimal(p + 3, 2) * 600000000LL +
         decimal(p + 6, 2) * 10000000LL + decimal(p + 9, 3) * 10000LL;
}

}  // namespace

void setup_timing(AviStream& stream) {
  AviTiming& t = stream.timing;
  t = AviTiming{};
  t.scale = stream.header.scale;
  t.rate = stream.header.rate;
  t.sampleSize = stream.header.sampleSize;
  double unit = t.rate ? double(t.scale) * double(kUnitsPerSecond) / double(t.rate) : 0;
  if (stream.blockType == ZEP_BLOCK_AUDIO) {
    t.blockCounted = t.sampleSize == 0 || mpeg_frame_aligned(stream.wave);
    t.blockDuration = unit;
  } else {
    t.frameDuration = unit;
  }
}

void subtitle_chunk_time(const uint8_t* data, uint32_t size, int64_t* time, int64_t* duration) {
  *time = 0;
  *duration = 0;
  if (!data || size <= kSubtitleTimeHeaderSize) return;
  int64_t start = stamp(data + 1);
  int64_t end = stamp(data + 14);
  *time = start;
  *duration = end - start;
}

}  // namespace avi
