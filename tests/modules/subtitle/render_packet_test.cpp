// QSUB packets built from crafted pictures: time strings, cropping, padding,
// fitting, placement, the three frame forms and the run-length code. Packets
// are decoded back and compared as pictures.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "modules/subtitle/qsub_decode.h"
#include "modules/subtitle/qsub_rle.h"
#include "modules/subtitle/subtitle_render.h"

namespace {

ZepSubtitlePicture blank_picture(uint32_t w, uint32_t h) {
  ZepSubtitlePicture p;
  p.width = w;
  p.height = h;
  p.pixels.assign(static_cast<size_t>(w) * h, 0);
  zep_subtitle_format_time_string(0, 15000000, p.timeString);
  return p;
}

void fill_rect(ZepSubtitlePicture& p, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, uint8_t v) {
  for (uint32_t y = y0; y < y0 + h; ++y) {
    for (uint32_t x = x0; x < x0 + w; ++x) p.pixels[static_cast<size_t>(y) * p.width + x] = v;
  }
}

uint16_t le16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint16_t>(b[at] | (b[at + 1] << 8));
}

ZepQsubPacket decode(const std::vector<uint8_t>& packet) {
  ZepQsubPacket out;
  EXPECT_EQ(zep_qsub_decode_packet(packet.data(), packet.size(), &out), ZEP_OK);
  return out;
}

// Values of a decoded picture as text rows, for readable comparisons.
std::vector<std::string> rows_of(const ZepQsubPacket& p) {
  std::vector<std::string> rows;
  for (uint32_t y = 0; y < p.height; ++y) {
    std::string row;
    for (uint32_t x = 0; x < p.width; ++x)
      row.push_back(static_cast<char>('0' + p.pixels[y * p.width + x]));
    rows.push_back(row);
  }
  return rows;
}

}  // namespace

TEST(SubtitleTimeString, FormatsHoursMinutesSecondsMilliseconds) {
  char text[28];
  zep_subtitle_format_time_string(0, 15000000, text);
  EXPECT_STREQ(text, "[00:00:00.000-00:00:01.500]");
  // 1:02:03.456 and 10:59:59.999 plus 9999 units below the next millisecond.
  zep_subtitle_format_time_string(37234560000LL, 395999999999LL, text);
  EXPECT_STREQ(text, "[01:02:03.456-10:59:59.999]");
  // Two hour digits only: later times stay at the last one, earlier at zero.
  zep_subtitle_format_time_string(-5, 100LL * 36000000000LL + 5, text);
  EXPECT_STREQ(text, "[00:00:00.000-99:59:59.999]");
  EXPECT_EQ(std::strlen(text), kZepSubtitleTimeStringLength);
}

TEST(SubtitleTimeString, ReadsBackAtMillisecondPrecision) {
  char text[28];
  zep_subtitle_format_time_string(37234567891LL, 37234579999LL, text);
  int64_t start = -1, end = -1;
  ASSERT_EQ(
      zep_subtitle_parse_time_string(reinterpret_cast<const uint8_t*>(text), 27, &start, &end),
      ZEP_OK);
  EXPECT_EQ(start, 37234560000LL);
  EXPECT_EQ(end, 37234570000LL);
  const std::string damaged = "[00:00:01.000 00:00:02.000]";
  EXPECT_EQ(zep_subtitle_parse_time_string(reinterpret_cast<const uint8_t*>(damaged.data()),
                                           damaged.size(), &start, &end),
            ZEP_ERR_INVALID_SUBTITLE);
  EXPECT_EQ(
      zep_subtitle_parse_time_string(reinterpret_cast<const uint8_t*>(text), 20, &start, &end),
      ZEP_ERR_INVALID_SUBTITLE);
}

TEST(QsubRunLength, LongRunsAndRowAlignment) {
  // 300 background pixels to the end of the row: fill code 0 0 0 0.
  std::vector<uint8_t> row(300, 0);
  std::vector<uint8_t> out;
  zep_qsub_encode_row(row.data(), 300, &out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x00, 0x00}));

  // 300 text pixels then one outline pixel: 255 (0 3 F E), 45 (0 B 6), 1 (5).
  row.assign(301, 2);
  row[300] = 1;
  out.clear();
  zep_qsub_encode_row(row.data(), 301, &out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0x03, 0xFE, 0x0B, 0x65}));

  // Each code length, and the zero nibble that ends an odd row:
  // 3 x 1 -> 0xD; 4 x 2 -> 0x12; 16 x 3 -> 0x043; 64 x 0 -> 0x0100; 1 x 1 -> 0x5.
  row.assign(3, 1);
  row.insert(row.end(), 4, 2);
  row.insert(row.end(), 16, 3);
  row.insert(row.end(), 64, 0);
  row.push_back(1);
  out.clear();
  zep_qsub_encode_row(row.data(), static_cast<uint32_t>(row.size()), &out);
  EXPECT_EQ(out, (std::vector<uint8_t>{0xD1, 0x20, 0x43, 0x01, 0x00, 0x50}));
}

TEST(QsubRunLength, RandomPicturesDecodeToThemselves) {
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    const uint32_t w = 1 + random() % 700;
    const uint32_t h = 1 + random() % 9;
    std::vector<uint8_t> pixels(static_cast<size_t>(w) * h);
    for (size_t i = 0; i < pixels.size();) {
      const size_t run = 1 + random() % (random() % 2 ? 5 : 400);
      const uint8_t v = static_cast<uint8_t>(random() % 4);
      for (size_t k = 0; k < run && i < pixels.size(); ++k) pixels[i++] = v;
    }
    std::vector<uint8_t> data;
    size_t second = 0;
    zep_qsub_encode_fields(pixels.data(), w, h, &data, &second);
    std::vector<uint8_t> decoded(pixels.size(), 9);
    ASSERT_EQ(zep_qsub_decode_field(data.data(), data.size(), 0, w, h, 0, decoded.data()), ZEP_OK);
    ASSERT_EQ(zep_qsub_decode_field(data.data(), data.size(), second, w, h, 1, decoded.data()),
              ZEP_OK);
    ASSERT_EQ(decoded, pixels) << "round " << round << " " << w << "x" << h;
  }
}

TEST(QsubRunLength, DamagedDataIsRefused) {
  std::vector<uint8_t> pixels(10, 0);
  // A run of 15 in a row of 10.
  const std::vector<uint8_t> tooLong = {0x3C};
  EXPECT_EQ(zep_qsub_decode_field(tooLong.data(), tooLong.size(), 0, 10, 1, 0, pixels.data()),
            ZEP_ERR_INVALID_SUBTITLE);
  // Data ends inside the row.
  const std::vector<uint8_t> cut = {0x1C};
  EXPECT_EQ(zep_qsub_decode_field(cut.data(), cut.size(), 0, 10, 1, 0, pixels.data()),
            ZEP_ERR_INVALID_SUBTITLE);
}

TEST(QsubPacket, EmptyPictureGivesBlank4x4PaddedTo8x4) {
  for (const ZepSubtitlePicture& picture :
       {blank_picture(0, 0), blank_picture(100, 50), blank_picture(3, 3)}) {
    std::vector<uint8_t> packet;
    ASSERT_EQ(zep_subtitle_build_packet(picture, 640, 480, &packet), ZEP_OK);
    const ZepQsubPacket p = decode(packet);
    EXPECT_EQ(p.width, 8);
    EXPECT_EQ(p.height, 4);
    EXPECT_EQ(p.pixels, std::vector<uint8_t>(32, 0));
    EXPECT_STREQ(p.timeString, "[00:00:00.000-00:00:01.500]");
  }
}

TEST(QsubPacket, Layout640x480) {
  ZepSubtitlePicture picture = blank_picture(20, 20);
  fill_rect(picture, 3, 5, 10, 6, 2);
  fill_rect(picture, 3, 5, 10, 1, 1);
  std::vector<uint8_t> packet;
  ASSERT_EQ(zep_subtitle_build_packet(picture, 640, 480, &packet), ZEP_OK);

  EXPECT_EQ(std::string(packet.begin(), packet.begin() + 27), "[00:00:00.000-00:00:01.500]");
  EXPECT_EQ(le16(packet, 27), 14);  // 10 + two background columns on each side
  EXPECT_EQ(le16(packet, 29), 6);
  EXPECT_EQ(le16(packet, 31), 312);  // (44 + 595 - 14) / 2, even
  EXPECT_EQ(le16(packet, 33), 448);  // 455 - 6 = 449, made even
  EXPECT_EQ(le16(packet, 35), 312 + 13);
  EXPECT_EQ(le16(packet, 37), 448 + 5);
  const std::vector<uint8_t> palette = {0, 0, 0, 0, 0, 0, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE};
  EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 41, packet.begin() + 53), palette);

  // Data at 53: three rows per field; every row 2 x 0, 10 x v, 2 x 0.
  std::vector<uint8_t> data;
  size_t second = 0;
  std::vector<uint8_t> rows(14 * 6, 2);
  for (int y = 0; y < 6; ++y) {
    rows[y * 14] = rows[y * 14 + 1] = rows[y * 14 + 12] = rows[y * 14 + 13] = 0;
  }
  for (int x = 2; x < 12; ++x) rows[x] = 1;
  zep_qsub_encode_fields(rows.data(), 14, 6, &data, &second);
  EXPECT_EQ(le16(packet, 39), second);
  ASSERT_EQ(packet.size(), 57 + data.size());
  EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 53, packet.end() - 4), data);
  EXPECT_EQ(std::vector<uint8_t>(packet.end() - 4, packet.end()), std::vector<uint8_t>(4, 0));

  const ZepQsubPacket p = decode(packet);
  EXPECT_FALSE(p.extraHeader);
  EXPECT_EQ(p.dataOffset, 53u);
  EXPECT_EQ(rows_of(p),
            (std::vector<std::string>{"00111111111100", "00222222222200", "00222222222200",
                                      "00222222222200", "00222222222200", "00222222222200"}));
}

TEST(QsubPacket, Layouts960x720And1440x1080) {
  ZepSubtitlePicture picture = blank_picture(20, 20);
  fill_rect(picture, 3, 5, 10, 6, 2);
  struct Case {
    uint32_t w, h;
    uint16_t x, y;
  };
  // (64 + 895 - 14) / 2 = 472, 671 - 6 -> 664; (0 + 1439 - 14) / 2 = 712, 1023 - 6 -> 1016.
  for (const Case& c : {Case{960, 720, 472, 664}, Case{1440, 1080, 712, 1016}}) {
    std::vector<uint8_t> packet;
    ASSERT_EQ(zep_subtitle_build_packet(picture, c.w, c.h, &packet), ZEP_OK);
    EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 53, packet.begin() + 57),
              (std::vector<uint8_t>{0x00, 0xFF, 0xFF, 0xFF}));
    const ZepQsubPacket p = decode(packet);
    EXPECT_TRUE(p.extraHeader);
    EXPECT_EQ(p.dataOffset, 57u);
    EXPECT_EQ(p.left, c.x);
    EXPECT_EQ(p.top, c.y);
    std::vector<uint8_t> data;
    size_t second = 0;
    zep_qsub_encode_fields(p.pixels.data(), p.width, p.height, &data, &second);
    EXPECT_EQ(packet.size(), 57 + data.size());
    EXPECT_EQ(std::vector<uint8_t>(packet.begin() + 57, packet.end()), data);
  }
}

TEST(QsubPacket, FrameSizeSelectsFormByWidthOrHeight) {
  ZepSubtitlePicture picture = blank_picture(20, 20);
  fill_rect(picture, 0, 0, 4, 4, 2);
  std::vector<uint8_t> packet;
  // Width 960 with height 480: the 960 x 720 form, tested first.
  ASSERT_EQ(zep_subtitle_build_packet(picture, 960, 480, &packet), ZEP_OK);
  EXPECT_TRUE(decode(packet).extraHeader);
  ASSERT_EQ(zep_subtitle_build_packet(picture, 1440, 720, &packet), ZEP_OK);
  EXPECT_EQ(decode(packet).left, 474);  // (64 + 895 - 8) / 2, even
  ASSERT_EQ(zep_subtitle_build_packet(picture, 640, 1080, &packet), ZEP_OK);
  EXPECT_FALSE(decode(packet).extraHeader);
  EXPECT_EQ(zep_subtitle_build_packet(picture, 800, 600, &packet), ZEP_ERR_INVALID_SUBTITLE);
  EXPECT_TRUE(packet.empty());
}

TEST(QsubPacket, OddInkedRectangleLosesRightColumnAndTopRow) {
  ZepSubtitlePicture picture = blank_picture(40, 40);
  fill_rect(picture, 10, 10, 5, 3, 2);
  fill_rect(picture, 10, 10, 5, 1, 1);  // top row
  fill_rect(picture, 14, 10, 1, 3, 3);  // right column
  std::vector<uint8_t> packet;
  ASSERT_EQ(zep_subtitle_build_packet(picture, 640, 480, &packet), ZEP_OK);
  EXPECT_EQ(rows_of(decode(packet)), (std::vector<std::string>{"00222200", "00222200"}));
}

TEST(QsubPacket, SingleInkedColumnAndRowAreKept) {
  ZepSubtitlePicture picture = blank_picture(40, 40);
  fill_rect(picture, 10, 10, 1, 1, 2);
  std::vector<uint8_t> packet;
  ASSERT_EQ(zep_subtitle_build_packet(picture, 640, 480, &packet), ZEP_OK);
  EXPECT_EQ(rows_of(decode(packet)), (std::vector<std::string>{"002000", "000000"}));
}

TEST(QsubPacket, TooWideOrTooTallPicturesAreScaledIntoTheArea) {
  struct Case {
    uint32_t frameW, frameH, picW, picH;
    int left, top, right, bottom;
  };
  for (const Case& c :
       {Case{640, 480, 1000, 40, 44, 24, 595, 455}, Case{640, 480, 20, 1000, 44, 24, 595, 455},
        Case{960, 720, 2000, 900, 64, 48, 895, 671},
        Case{1440, 1080, 3000, 100, 0, 64, 1439, 1023}}) {
    ZepSubtitlePicture picture = blank_picture(c.picW, c.picH);
    fill_rect(picture, 0, 0, c.picW, c.picH, 2);
    fill_rect(picture, 0, 0, c.picW / 2, c.picH, 1);
    std::vector<uint8_t> packet;
    ASSERT_EQ(zep_subtitle_build_packet(picture, c.frameW, c.frameH, &packet), ZEP_OK);
    const ZepQsubPacket p = decode(packet);
    SCOPED_TRACE(std::to_string(c.picW) + "x" + std::to_string(c.picH));
    EXPECT_LE(p.width, c.right - c.left);
    EXPECT_LE(p.height, c.bottom - c.top);
    EXPECT_GE(p.left, c.left);
    EXPECT_LE(p.right, c.right);
    EXPECT_GE(p.top, c.top);
    EXPECT_LE(p.bottom, c.bottom);
    EXPECT_EQ(p.width % 2, 0);
    EXPECT_EQ(p.height % 2, 0);
    // Still padded, and the two halves keep their proportion.
    const std::vector<std::string> rows = rows_of(p);
    const std::string& row = rows[p.height / 2];
    EXPECT_EQ(row.substr(0, 2), "00");
    EXPECT_EQ(row.substr(row.size() - 2), "00");
    const size_t ones = std::count(row.begin(), row.end(), '1');
    const size_t twos = std::count(row.begin(), row.end(), '2');
    EXPECT_NEAR(static_cast<double>(ones) / static_cast<double>(ones + twos), 0.5, 0.08);
  }
}

TEST(QsubPacket, FirstFieldBeyond16BitsGivesNoPacket) {
  // Alternating values: one nibble per pixel, about 700 bytes per row.
  ZepSubtitlePicture picture = blank_picture(1400, 400);
  for (size_t i = 0; i < picture.pixels.size(); ++i)
    picture.pixels[i] = static_cast<uint8_t>(1 + (i % 2));
  std::vector<uint8_t> packet;
  EXPECT_EQ(zep_subtitle_build_packet(picture, 1440, 1080, &packet), ZEP_ERR_INVALID_SUBTITLE);
  EXPECT_TRUE(packet.empty());
}

TEST(QsubDecode, DamagedPacketsAreRefused) {
  ZepSubtitlePicture picture = blank_picture(20, 20);
  fill_rect(picture, 2, 2, 12, 12, 2);
  std::vector<uint8_t> packet;
  ASSERT_EQ(zep_subtitle_build_packet(picture, 960, 720, &packet), ZEP_OK);
  ZepQsubPacket p;
  for (size_t cut = 0; cut < 60; ++cut) {
    EXPECT_EQ(zep_qsub_decode_packet(packet.data(), cut, &p), ZEP_ERR_INVALID_SUBTITLE) << cut;
  }
  std::vector<uint8_t> huge = packet;
  huge[27] = huge[28] = huge[29] = huge[30] = 0xFF;  // 65535 x 65535
  EXPECT_EQ(zep_qsub_decode_packet(huge.data(), huge.size(), &p), ZEP_ERR_INVALID_SUBTITLE);
  std::vector<uint8_t> badOffset = packet;
  badOffset[39] = 0xFF;
  badOffset[40] = 0x7F;
  EXPECT_EQ(zep_qsub_decode_packet(badOffset.data(), badOffset.size(), &p),
            ZEP_ERR_INVALID_SUBTITLE);
  EXPECT_EQ(zep_qsub_decode_packet(nullptr, 0, &p), ZEP_E_NULL_ARG);
}
