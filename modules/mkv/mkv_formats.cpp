#include "modules/mkv/mkv_formats.h"

#include <cmath>

#include "modules/mkv/mkv_codecs.h"

namespace mkv {

namespace {

constexpr uint32_t fourcc(const char (&s)[5]) {
  return uint32_t(uint8_t(s[0])) | uint32_t(uint8_t(s[1])) << 8 | uint32_t(uint8_t(s[2])) << 16 |
         uint32_t(uint8_t(s[3])) << 24;
}

uint32_t le32(const std::vector<uint8_t>& p, size_t at) {
  return at + 4 <= p.size() ? uint32_t(p[at]) | uint32_t(p[at + 1]) << 8 |
                                  uint32_t(p[at + 2]) << 16 | uint32_t(p[at + 3]) << 24
                            : 0;
}
uint16_t le16(const std::vector<uint8_t>& p, size_t at) {
  return at + 2 <= p.size() ? uint16_t(p[at] | p[at + 1] << 8) : 0;
}

constexpr uint32_t kVideoKind = 1;
constexpr size_t kBitmapInfoHeaderSize = 40;
constexpr size_t kWaveFormatExSize = 18;

}  // namespace

uint64_t reported_frame_duration(const MkvTrack& t) {
  uint64_t d = t.defaultDuration;
  if (t.video.fieldCoded && t.combineFields) d *= 2;
  return d;
}

ZEP_STATUS video_format(const MkvTrack& t, ZepVideoStreamFormat* out) {
  const MkvCodecRow& row = kCodecTable[t.codec];
  if (!row.videoDescribed) return ZEP_ERR_CODEC_UNSUPPORTED;
  ZepVideoStreamFormat f{};
  f.kind = kVideoKind;
  bool fromBitmap = false;
  switch (t.codec) {
    case kCodecVfw:
      if (t.codecPrivate.size() >= kBitmapInfoHeaderSize) {
        // BITMAPINFOHEADER: size, width, height, planes, bit count,
        // compression, image size (little-endian).
        const std::vector<uint8_t>& p = t.codecPrivate;
        f.compression = f.fourcc = le32(p, 16);
        f.bitsPerPixel = le16(p, 14);
        f.width = le32(p, 4);
        const int32_t height = int32_t(le32(p, 8));
        f.height = uint32_t(height < 0 ? -int64_t(height) : height);
        f.imageSize = le32(p, 20);
        fromBitmap = true;
      } else {
        f.fourcc = fourcc("NR50");
      }
      break;
    case kCodecMpeg4Asp:
      f.compression = fourcc("NORV");
      f.fourcc = fourcc("NR50");
      f.bitsPerPixel = 24;
      break;
    case kCodecMpeg2:
      f.compression = f.fourcc = fourcc("MPG2");
      f.bitsPerPixel = 24;
      break;
    case kCodecAvc: {
      static const uint8_t kProfiles[] = {66, 77, 88, 100, 110, 122, 144};
      if (t.codecPrivate.size() >= 2) {
        bool known = false;
        for (uint8_t p : kProfiles) known = known || t.codecPrivate[1] == p;
        if (!known) return ZEP_FAIL;
      }
      f.compression = f.fourcc = fourcc("H264");
      f.bitsPerPixel = 24;
      break;
    }
    case kCodecHevc:
      f.compression = f.fourcc = fourcc("HEVC");
      f.bitsPerPixel = 24;
      break;
    default:
      f.bitsPerPixel = 24;
      break;
  }
  if (!fromBitmap) {
    if (!t.video.hasPixelWidth || !t.video.hasPixelHeight) return ZEP_FAIL;
    f.width = t.video.pixelWidth;
    f.height = t.video.pixelHeight;
    f.imageSize = uint32_t(uint64_t(f.width) * f.height * f.bitsPerPixel / 8);
  }
  f.interlaced = t.video.interlaced ? 1 : 0;
  if (t.video.hasDisplayWidth) f.displayWidth = t.video.displayWidth;
  if (t.video.hasDisplayHeight) f.displayHeight = t.video.displayHeight;
  const uint64_t duration = reported_frame_duration(t);
  if (t.hasDefaultDuration && duration > 0 && duration <= UINT32_MAX) {
    f.rate = 1000000000u;
    f.scale = uint32_t(duration);
  } else {
    f.rate = 0;
    f.scale = 1;
  }
  *out = f;
  return ZEP_OK;
}

ZEP_STATUS audio_format(const MkvTrack& t, ZepAudioStreamFormat* out) {
  ZepAudioStreamFormat f{};
  f.kind = 17;
  const std::vector<uint8_t>& p = t.codecPrivate;
  if (t.codec == kCodecAcm && p.size() >= kWaveFormatExSize) {
    // WAVEFORMATEX: tag, channels, rate, bytes/s, block align, bits, cbSize.
    f.formatTag = le16(p, 0);
    f.channels = le16(p, 2);
    f.sampleRate = le32(p, 4);
    f.avgBytesPerSec = le32(p, 8);
    f.blockAlign = le16(p, 12);
    f.bitsPerSample = le16(p, 14);
    const uint16_t extra = le16(p, 16);
    if (extra <= 255 && p.size() >= size_t(extra) + kWaveFormatExSize) {
      f.extraSize = extra;
      std::memcpy(f.extra, p.data() + kWaveFormatExSize, extra);
    }
    *out = f;
    return ZEP_OK;
  }
  f.formatTag = t.audio.waveTag;
  f.channels = uint16_t(t.audio.hasChannels ? t.audio.channels : 1);
  f.sampleRate = t.audio.hasSamplingFrequency ? t.audio.samplingFrequency : 8000;
  f.bitsPerSample = uint16_t(t.audio.hasBitDepth ? t.audio.bitDepth : 0);
  f.blockAlign = uint16_t(std::lround(double(t.defaultDuration) / 1e9 * f.sampleRate));
  f.avgBytesPerSec = t.audio.avgBytesPerSec;
  if ((t.codec == kCodecPcmBig || t.codec == kCodecPcmLittle || t.codec == kCodecPcmFloat) &&
      f.avgBytesPerSec == 0) {
    f.avgBytesPerSec =
        uint32_t(std::lround(double(f.sampleRate) * f.bitsPerSample / 8.0 * f.channels));
    f.blockAlign = uint16_t(f.bitsPerSample / 8 * f.channels);
  }
  if (!p.empty() && p.size() <= 255) {
    f.extraSize = uint16_t(p.size());
    std::memcpy(f.extra, p.data(), p.size());
  }
  *out = f;
  return ZEP_OK;
}

void subtitle_format(const MkvTrack& t, ZepSubtitleStreamFormat* out) {
  ZepSubtitleStreamFormat f{};
  f.kind = 0x21;
  switch (t.codec) {
    case kCodecTextUtf8:
      f.fourcc = fourcc("UTF8");
      break;
    case kCodecVobSub:
      f.fourcc = fourcc("VSUB");
      break;
    case kCodecTextSsa:
      f.fourcc = fourcc("SSA\0");
      break;
    case kCodecTextAss:
      f.fourcc = fourcc("ASS\0");
      break;
    case kCodecTextUsf:
      f.fourcc = fourcc("USF\0");
      break;
    case kCodecImageBmp:
      f.fourcc = fourcc("BMP\0");
      break;
    default:
      break;
  }
  *out = f;
}

}  // namespace mkv
