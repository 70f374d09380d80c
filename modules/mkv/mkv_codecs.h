#pragma once

#include <cstdint>
#include <string>

namespace mkv {

struct MkvCodecRow {
  const char16_t* codecId;
  uint32_t code;
  uint16_t waveTag;  // 0xFFFF: none
  bool videoDescribed;
};

constexpr uint32_t kCodecCount = 61;
extern const MkvCodecRow kCodecTable[kCodecCount];

// Codes used by the module's logic.
enum MkvCodec : uint32_t {
  kCodecUnknown = 0,
  kCodecVfw = 1,
  kCodecMpeg4Asp = 4,
  kCodecAvc = 6,
  kCodecMpeg2 = 9,
  kCodecHevc = 16,
  kCodecPcmBig = 20,
  kCodecPcmLittle = 21,
  kCodecPcmFloat = 22,
  kCodecAcm = 38,
  kCodecAac = 39,
  kCodecAacLast = 48,
  kCodecTextUtf8 = 53,
  kCodecTextSsa = 54,
  kCodecSsa = 55,
  kCodecTextAss = 56,
  kCodecTextUsf = 57,
  kCodecImageBmp = 58,
  kCodecVobSub = 59,
};

// The code of a CodecID (exact, case-sensitive, first equal row); 0 when
// no row matches.
uint32_t codec_code(const std::u16string& codecId);

}  // namespace mkv
