// QSUB packets from rendered pictures: crop to the ink, pad, fit into the
// frame's placement area, run-length code in two fields, place and write the
// header.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "modules/subtitle/qsub_rle.h"
#include "modules/subtitle/subtitle_render.h"

namespace {

// Placement area of a reference frame, inclusive pixel bounds.
struct FrameForm {
  uint32_t frameWidth;
  uint32_t frameHeight;
  int32_t left;
  int32_t top;
  int32_t right;
  int32_t bottom;
  bool extraHeader;  // 00 FF FF FF between the palette and the data
};

// In the order in which a frame size is matched against them.
constexpr FrameForm kFrameForms[] = {
    {960, 720, 64, 48, 895, 671, true},
    {640, 480, 44, 24, 595, 455, false},
    {1440, 1080, 0, 64, 1439, 1023, true},
};

constexpr uint8_t kPalette[12] = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                  0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE};
constexpr uint8_t kExtraHeader[4] = {0x00, 0xFF, 0xFF, 0xFF};
constexpr uint32_t kPadColumns = 2;  // background columns on each side

// A frame size selects a form when its width or its height matches.
const FrameForm* find_frame_form(uint32_t width, uint32_t height) {
  for (const FrameForm& form : kFrameForms) {
    if (form.frameWidth == width || form.frameHeight == height) return &form;
  }
  return nullptr;
}

struct Image {
  std::vector<uint8_t> pixels;  // rows from top to bottom
  uint32_t width = 0;
  uint32_t height = 0;
  uint8_t at(uint32_t x, uint32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
};

// The smallest rectangle holding all ink, with even width and height. Without
// ink it is an empty 4 x 4 rectangle.
Image crop_to_ink(const ZepSubtitlePicture& picture) {
  const uint32_t w = picture.width;
  const uint32_t h = picture.height;
  uint32_t minX = w, minY = h, maxX = 0, maxY = 0;
  bool inked = false;
  const bool sized = picture.pixels.size() >= static_cast<size_t>(w) * h;
  for (uint32_t y = 0; sized && y < h; ++y) {
    const uint8_t* row = picture.pixels.data() + static_cast<size_t>(y) * w;
    for (uint32_t x = 0; x < w; ++x) {
      if ((row[x] & 3u) == 0) continue;
      inked = true;
      minX = std::min(minX, x);
      maxX = std::max(maxX, x);
      minY = std::min(minY, y);
      maxY = std::max(maxY, y);
    }
  }
  Image out;
  if (!inked) {
    // The empty rectangle is background whatever the picture's size (a
    // picture smaller than column 16, row 16 has nothing there to copy).
    out.width = 4;
    out.height = 4;
    out.pixels.assign(16, 0);
    return out;
  }
  uint32_t cropW = maxX - minX + 1;
  uint32_t cropH = maxY - minY + 1;
  // Even sizes: the rightmost column and the topmost row go. A single column
  // or row would vanish that way; it gains a background neighbour instead.
  if (cropW % 2 != 0) cropW = (cropW == 1) ? 2 : cropW - 1;
  if (cropH % 2 != 0) {
    if (cropH == 1) {
      cropH = 2;
    } else {
      ++minY;  // drop the top row
      --cropH;
    }
  }
  out.width = cropW;
  out.height = cropH;
  out.pixels.assign(static_cast<size_t>(cropW) * cropH, 0);
  for (uint32_t y = 0; y < cropH; ++y) {
    for (uint32_t x = 0; x < cropW; ++x) {
      const uint32_t sx = minX + x;
      const uint32_t sy = minY + y;
      if (sx < w && sy < h)
        out.pixels[static_cast<size_t>(y) * cropW + x] =
            picture.pixels[static_cast<size_t>(sy) * w + sx] & 3u;
    }
  }
  return out;
}

// Two background columns on each side.
Image pad_columns(const Image& in) {
  Image out;
  out.width = in.width + 2 * kPadColumns;
  out.height = in.height;
  out.pixels.assign(static_cast<size_t>(out.width) * out.height, 0);
  for (uint32_t y = 0; y < in.height; ++y) {
    std::memcpy(out.pixels.data() + static_cast<size_t>(y) * out.width + kPadColumns,
                in.pixels.data() + static_cast<size_t>(y) * in.width, in.width);
  }
  return out;
}

// Nearest-pixel resampling of one line of `count` values (stride apart):
// every run of one value is stretched or shrunk in proportion.
void resample_line(const uint8_t* src, size_t srcStride, uint32_t srcCount, uint8_t* dst,
                   size_t dstStride, uint32_t dstCount) {
  uint32_t start = 0;
  while (start < srcCount) {
    const uint8_t value = src[start * srcStride];
    uint32_t end = start + 1;
    while (end < srcCount && src[end * srcStride] == value) ++end;
    const uint64_t from = static_cast<uint64_t>(start) * dstCount / srcCount;
    const uint64_t to = static_cast<uint64_t>(end) * dstCount / srcCount;
    for (uint64_t i = from; i < to; ++i) dst[i * dstStride] = value;
    start = end;
  }
}

Image resample(const Image& in, uint32_t width, uint32_t height) {
  Image rows;  // rows first: new width, old height
  rows.width = width;
  rows.height = in.height;
  rows.pixels.assign(static_cast<size_t>(width) * in.height, 0);
  for (uint32_t y = 0; y < in.height; ++y) {
    resample_line(in.pixels.data() + static_cast<size_t>(y) * in.width, 1, in.width,
                  rows.pixels.data() + static_cast<size_t>(y) * width, 1, width);
  }
  Image out;  // then the columns
  out.width = width;
  out.height = height;
  out.pixels.assign(static_cast<size_t>(width) * height, 0);
  for (uint32_t x = 0; x < width; ++x) {
    resample_line(rows.pixels.data() + x, width, in.height, out.pixels.data() + x, width, height);
  }
  return out;
}

// Scales a padded picture down when it does not fit the placement area. The
// factor leaves room for the two background columns added on each side after
// scaling, so that the padded result fits between left and right.
Image fit_to_area(Image padded, const FrameForm& form) {
  const uint32_t areaW = static_cast<uint32_t>(form.right - form.left);
  const uint32_t areaH = static_cast<uint32_t>(form.bottom - form.top);
  if (padded.width <= areaW && padded.height <= areaH) return padded;
  const float innerRoom = static_cast<float>(areaW - 2 * kPadColumns);
  float factor = 1.0f;
  if (padded.height > areaH) factor = static_cast<float>(areaH) / static_cast<float>(padded.height);
  if (padded.width > areaW - 2 * kPadColumns) {
    factor = std::min(factor, innerRoom / static_cast<float>(padded.width));
  }
  uint32_t innerW = static_cast<uint32_t>(static_cast<float>(padded.width) * factor);
  uint32_t innerH = static_cast<uint32_t>(static_cast<float>(padded.height) * factor);
  innerW = std::min(innerW, areaW - 2 * kPadColumns);
  innerH = std::min(innerH, areaH);
  innerW = std::max<uint32_t>(innerW & ~1u, 2);
  innerH = std::max<uint32_t>(innerH & ~1u, 2);
  return pad_columns(resample(padded, innerW, innerH));
}

int32_t make_even_down(int32_t v) { return (v % 2 != 0) ? v - 1 : v; }

void put_le16(uint8_t* p, int32_t v) {
  const uint32_t u = static_cast<uint32_t>(std::clamp<int32_t>(v, 0, 0xFFFF));
  p[0] = static_cast<uint8_t>(u);
  p[1] = static_cast<uint8_t>(u >> 8);
}

// Splits t (100 ns units, clamped to 0 .. 99:59:59.999) into its fields.
void split_time(int64_t t, int* h, int* m, int* s, int* ms) {
  constexpr int64_t kHour = 36000000000LL;
  constexpr int64_t kMinute = 600000000LL;
  constexpr int64_t kLast = 100 * kHour - 1;  // two hour digits only
  t = std::clamp<int64_t>(t, 0, kLast);
  *h = static_cast<int>(t / kHour);
  *m = static_cast<int>((t % kHour) / kMinute);
  *s = static_cast<int>((t - (static_cast<int64_t>(*h) * 60 + *m) * kMinute) / 10000000);
  *ms = static_cast<int>((t % 10000000) / 10000);
}

// Reads an unsigned decimal number of one or more digits (at most nine).
bool read_number(const uint8_t* text, size_t size, size_t* pos, int64_t* value) {
  size_t start = *pos;
  int64_t v = 0;
  while (*pos < size && text[*pos] >= '0' && text[*pos] <= '9' && *pos - start < 9) {
    v = v * 10 + (text[*pos] - '0');
    ++*pos;
  }
  *value = v;
  return *pos > start;
}

bool expect(const uint8_t* text, size_t size, size_t* pos, char c) {
  if (*pos >= size || text[*pos] != static_cast<uint8_t>(c)) return false;
  ++*pos;
  return true;
}

bool read_time(const uint8_t* text, size_t size, size_t* pos, int64_t* t) {
  int64_t h = 0, m = 0, s = 0, ms = 0;
  if (!read_number(text, size, pos, &h) || !expect(text, size, pos, ':') ||
      !read_number(text, size, pos, &m) || !expect(text, size, pos, ':') ||
      !read_number(text, size, pos, &s) || !expect(text, size, pos, '.') ||
      !read_number(text, size, pos, &ms)) {
    return false;
  }
  *t = (((h * 60 + m) * 60 + s) * 1000 + ms) * 10000;
  return true;
}

}  // namespace

void zep_subtitle_format_time_string(int64_t start, int64_t end,
                                     char out[kZepSubtitleTimeStringLength + 1]) {
  int sh, sm, ss, sms, eh, em, es, ems;
  split_time(start, &sh, &sm, &ss, &sms);
  split_time(end, &eh, &em, &es, &ems);
  std::snprintf(out, kZepSubtitleTimeStringLength + 1,
                "[%.02d:%.02d:%.02d.%.03d-%.02d:%.02d:%.02d.%.03d]", sh, sm, ss, sms, eh, em, es,
                ems);
}

ZEP_STATUS zep_subtitle_parse_time_string(const uint8_t* text, size_t size, int64_t* start,
                                          int64_t* end) {
  if (text == nullptr || start == nullptr || end == nullptr) return ZEP_E_NULL_ARG;
  size = std::min(size, kZepSubtitleTimeStringLength);
  size_t pos = 0;
  int64_t s = 0, e = 0;
  if (!expect(text, size, &pos, '[') || !read_time(text, size, &pos, &s) ||
      !expect(text, size, &pos, '-') || !read_time(text, size, &pos, &e) ||
      !expect(text, size, &pos, ']')) {
    return ZEP_ERR_INVALID_SUBTITLE;
  }
  *start = s;
  *end = e;
  return ZEP_OK;
}

ZEP_STATUS zep_subtitle_build_packet(const ZepSubtitlePicture& picture, uint32_t frameWidth,
                                     uint32_t frameHeight, std::vector<uint8_t>* packet) {
  if (packet == nullptr) return ZEP_E_NULL_ARG;
  packet->clear();
  const FrameForm* form = find_frame_form(frameWidth, frameHeight);
  if (form == nullptr) return ZEP_ERR_INVALID_SUBTITLE;

  const Image image = fit_to_area(pad_columns(crop_to_ink(picture)), *form);

  std::vector<uint8_t> data;
  size_t secondField = 0;
  zep_qsub_encode_fields(image.pixels.data(), image.width, image.height, &data, &secondField);
  // The offset of the second field is a 16-bit field: a first field that
  // does not fit it cannot be described, and no packet is made.
  if (secondField > 0xFFFF) return ZEP_ERR_INVALID_SUBTITLE;

  const int32_t w = static_cast<int32_t>(image.width);
  const int32_t h = static_cast<int32_t>(image.height);
  int32_t x = make_even_down((form->left + form->right - w) / 2);
  if (x < form->left && w <= form->right - form->left) x = form->left;
  if (x + w - 1 > form->right && w < form->right - form->left) x = make_even_down(form->right - w);
  x = std::max(x, 0);
  const int32_t y = (h > form->bottom) ? 0 : make_even_down(form->bottom - h);

  const size_t dataOffset = form->extraHeader ? 57 : 53;
  // 57 + n bytes in every form: the 53-byte form ends in four zero bytes.
  packet->assign(57 + data.size(), 0);
  uint8_t* p = packet->data();
  char timeString[kZepSubtitleTimeStringLength + 1];
  std::memcpy(timeString, picture.timeString, sizeof timeString);
  timeString[kZepSubtitleTimeStringLength] = '\0';
  std::memcpy(p, timeString, kZepSubtitleTimeStringLength);
  put_le16(p + 27, w);
  put_le16(p + 29, h);
  put_le16(p + 31, x);
  put_le16(p + 33, y);
  put_le16(p + 35, x + w - 1);
  put_le16(p + 37, y + h - 1);
  put_le16(p + 39, static_cast<int32_t>(secondField));
  std::memcpy(p + 41, kPalette, sizeof kPalette);
  if (form->extraHeader) std::memcpy(p + 53, kExtraHeader, sizeof kExtraHeader);
  if (!data.empty()) std::memcpy(p + dataOffset, data.data(), data.size());
  return ZEP_OK;
}
