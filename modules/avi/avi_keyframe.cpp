#include "modules/avi/avi_keyframe.h"

#include <cctype>

namespace avi {

namespace {

FourCC upper(FourCC f) {
  FourCC out = 0;
  for (int i = 0; i < 4; ++i) {
    unsigned c = (f >> (8 * i)) & 0xFFu;
    out |= FourCC(std::toupper(int(c)) & 0xFF) << (8 * i);
  }
  return out;
}

bool one_of(FourCC f, std::initializer_list<FourCC> list) {
  for (FourCC x : list)
    if (f == x) return true;
  return false;
}

VideoBitstream by_fourcc(FourCC f, bool* known) {
  *known = true;
  if (f == kNOR3 || f == kNOR4) return VideoBitstream::kNor;
  FourCC u = upper(f);
  if (one_of(u, {fourcc("H264"), fourcc("X264"), fourcc("AVC1"), fourcc("DAVC"), fourcc("VSSH"),
                 fourcc("AVCS")}))
    return VideoBitstream::kH264;
  if (one_of(u, {fourcc("MPG1"), fourcc("MPG2"), fourcc("MPEG"), fourcc("MP2V"), fourcc("PIM1"),
                 fourcc("PIM2"), fourcc("MMES"), fourcc("EM2V"), fourcc("M2V1")}))
    return VideoBitstream::kMpeg2;
  if (u == fourcc("MJPG")) return VideoBitstream::kIntraOnly;
  *known = false;
  return VideoBitstream::kMpeg4;
}

// MPEG-4 part 2: a VOP start code whose vop_coding_type (two top bits of the
// next byte) is 0 (intra).
bool mpeg4_key(const uint8_t* d, uint32_t size) {
  if (size < 6) return false;
  uint32_t limit = size - 5 > 100 ? size - 5 : 100;
  for (uint32_t i = 0; i < limit && i + 4 < size; ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0xB6) return d[i + 4] < 0x40;
  }
  return false;
}

// H.264 Annex B: the first slice decides; NAL type 5 is an IDR slice.
bool h264_key(const uint8_t* d, uint32_t size) {
  for (uint32_t i = 0; i + 3 < size; ++i) {
    if (d[i] != 0 || d[i + 1] != 0 || d[i + 2] != 1) continue;
    uint32_t type = d[i + 3] & 0x1Fu;
    if (type == 5) return true;
    if (type >= 1 && type <= 4) return false;
    i += 2;
  }
  return false;
}

// MPEG-1/2 video: picture_coding_type of the first picture header, 1 = I.
bool mpeg2_key(const uint8_t* d, uint32_t size) {
  for (uint32_t i = 0; i + 5 < size; ++i) {
    if (d[i] == 0 && d[i + 1] == 0 && d[i + 2] == 1 && d[i + 3] == 0x00)
      return ((d[i + 5] >> 3) & 7u) == 1;
  }
  return false;
}

}  // namespace

VideoBitstream video_bitstream(FourCC compression, FourCC handler) {
  bool known = false;
  VideoBitstream kind = by_fourcc(compression, &known);
  if (known) return kind;
  return by_fourcc(handler, &known);
}

bool is_key_frame(VideoBitstream kind, const uint8_t* data, uint32_t size) {
  if (!data) return false;
  switch (kind) {
    case VideoBitstream::kNor:
      return size > 0 && data[0] < 0x40;
    case VideoBitstream::kH264:
      return h264_key(data, size);
    case VideoBitstream::kMpeg2:
      return mpeg2_key(data, size);
    case VideoBitstream::kMpeg4:
      return mpeg4_key(data, size);
    case VideoBitstream::kIntraOnly:
      return size > 0;
  }
  return false;
}

}  // namespace avi
