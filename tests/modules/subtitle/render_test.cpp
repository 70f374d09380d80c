// Subtitle rendering: markup into styled characters, drawing with a fixed font
// file, and QSUB packets, decoded back into pictures (the 640 x 480 packet
// bytes of real text are pinned by the golden lists of the SRT files).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "modules/subtitle/qsub_decode.h"
#include "modules/subtitle/qsub_rle.h"
#include "modules/subtitle/subtitle_render.h"
#include "tests/support/byte_writer.h"

namespace {

using Rows = std::vector<std::string>;
constexpr const char* kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

std::vector<ZepSubtitleStyledChar> parse(const std::string& text) {
  return zep_subtitle_parse_markup(text.data(), text.size());
}

std::u32string codes(const std::vector<ZepSubtitleStyledChar>& chars) {
  std::u32string out;
  for (const auto& c : chars) out.push_back(c.code);
  return out;
}

// One letter per character: w for white, o for #FF8000, g for #00FF00.
std::string colours(const std::vector<ZepSubtitleStyledChar>& chars) {
  std::string out;
  for (const auto& c : chars)
    out += c.style.color == 0xFFFFFF ? 'w' : c.style.color == 0xFF8000 ? 'o' : 'g';
  return out;
}

ZepSubtitlePicture picture_of(uint32_t w, uint32_t h) {
  ZepSubtitlePicture p;
  p.width = w;
  p.height = h;
  p.pixels.assign(size_t(w) * h, 0);
  zep_subtitle_format_time_string(0, 15000000, p.timeString);
  return p;
}

void fill_rect(ZepSubtitlePicture& p, uint32_t x0, uint32_t y0, uint32_t w, uint32_t h, uint8_t v) {
  for (uint32_t y = y0; y < y0 + h; ++y)
    std::fill_n(p.pixels.begin() + size_t(y) * p.width + x0, w, v);
}

std::vector<uint8_t> build(const ZepSubtitlePicture& p, uint32_t w = 640, uint32_t h = 480) {
  std::vector<uint8_t> packet;
  EXPECT_EQ(zep_subtitle_build_packet(p, w, h, &packet), ZEP_OK);
  return packet;
}

ZepQsubPacket decode(const std::vector<uint8_t>& packet) {
  ZepQsubPacket out;
  EXPECT_EQ(zep_qsub_decode_packet(packet.data(), packet.size(), &out), ZEP_OK);
  return out;
}

// Values of a decoded picture as text rows, for readable comparisons.
Rows rows_of(const ZepQsubPacket& p) {
  Rows rows;
  for (uint32_t y = 0; y < p.height; ++y) {
    std::string row;
    for (uint32_t x = 0; x < p.width; ++x) row.push_back(char('0' + p.pixels[y * p.width + x]));
    rows.push_back(row);
  }
  return rows;
}

std::set<uint8_t> values(const std::vector<uint8_t>& pixels) {
  return {pixels.begin(), pixels.end()};
}

}  // namespace

TEST(SubtitleMarkup, FontColourQuotesAndUnclosedTags) {
  // A font tag without colour opens no style, so its end tag closes the colour.
  auto chars = parse("<font color=\"#ff8000\">a<font face=\"Arial\" size=\"3\">b</font>c</font>d");
  ASSERT_EQ(codes(chars), U"abcd");
  EXPECT_EQ(colours(chars),
            "oo"
            "ww");
  // Only six hex digits in quotes make a colour.
  chars = parse(
      "<font face=\"x\" color=\"#00FF00\">a</font>b<font color=\"#12345\">c"
      "<font color=\"red\">d<font color=#FF0000>e");
  ASSERT_EQ(codes(chars), U"abcde");
  EXPECT_EQ(colours(chars), "gwwww");
  EXPECT_EQ(codes(parse("<font face=\"a>b\" color=\"#000000\">x</font>y")), U"xy");
  EXPECT_EQ(codes(parse("one<i two")), U"one");
  EXPECT_EQ(codes(parse("a > b")), U"a > b");
}

TEST(SubtitleMarkup, Utf8DecodingAndDamage) {
  EXPECT_EQ(codes(parse("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\n")), U"\u00E9\u20AC\U0001F600\n");
  // A lone continuation byte, a cut sequence, an overlong form and a surrogate.
  EXPECT_EQ(codes(parse("\x80"
                        "a\xE2\x82")),
            U"\uFFFDa\uFFFD\uFFFD");
  EXPECT_EQ(codes(parse("\xC0\xAF"
                        "\xED\xA0\x80")),
            std::u32string(5, U'\uFFFD'));
  EXPECT_TRUE(zep_subtitle_parse_markup(nullptr, 5).empty());
}

class SubtitleRenderTest : public testing::Test {
 protected:
  void SetUp() override {
    if (zeptest::read_file(kFontFile).empty()) GTEST_SKIP() << "no font file " << kFontFile;
    ASSERT_EQ(zep_subtitle_renderer_create(&renderer_), ZEP_OK);
    set_font(kFontFile);
  }
  void TearDown() override { zep_subtitle_renderer_destroy(renderer_); }
  void set_font(const std::string& path) {
    ASSERT_EQ(zep_subtitle_renderer_set_font(renderer_, zep::utf8_to_u16(path).c_str()), ZEP_OK);
  }
  ZepSubtitlePicture render(const std::string& text, uint32_t w = 640, uint32_t h = 480) {
    ZepSubtitlePicture picture;
    EXPECT_EQ(zep_subtitle_render_entry(renderer_, w, h, text.c_str(), 0, 15000000, &picture),
              ZEP_OK);
    EXPECT_EQ(picture.pixels.size(), size_t(picture.width) * picture.height);
    return picture;
  }
  ZepSubtitleRenderer* renderer_ = nullptr;
};

TEST_F(SubtitleRenderTest, ColourSumAndStylesDecideThePixels) {
  // #0000FF sums to 255 like the outline: no text value is left, in the packet too.
  const ZepSubtitlePicture blue = render("<font color=\"#0000FF\">Blue</font>");
  EXPECT_EQ(values(decode(build(blue)).pixels), (std::set<uint8_t>{0, 1}));
  EXPECT_EQ(render("<font color=\"#ffff00\">Blue</font>").pixels, render("Blue").pixels);
  // Bold is the first face already.
  EXPECT_EQ(render("ab <b>cd</b> ef").pixels, render("ab cd ef").pixels);
  // Underline goes below the baseline; a strike-through bar adds text pixels.
  const ZepSubtitlePicture m = render("mmmm"), strike = render("<s>mmmm</s>");
  EXPECT_GT(render("<u>mmmm</u>").height, m.height);
  EXPECT_EQ(strike.height, m.height);
  EXPECT_GT(std::count(strike.pixels.begin(), strike.pixels.end(), 2),
            std::count(m.pixels.begin(), m.pixels.end(), 2) + long(m.width) / 2);
}

TEST_F(SubtitleRenderTest, FontsAndFrameSizes) {
  ZepSubtitlePicture p;
  // The status, then the width drawn.
  auto draw = [&](uint32_t w, uint32_t h, const char* text) {
    const ZEP_STATUS status = zep_subtitle_render_entry(renderer_, w, h, text, 0, 1, &p);
    EXPECT_EQ(p.pixels.size(), size_t(p.width) * p.height);
    return std::pair<ZEP_STATUS, bool>{status, p.width > 0};
  };
  using R = std::pair<ZEP_STATUS, bool>;
  EXPECT_EQ(draw(640, 480, nullptr).first, ZEP_E_NULL_ARG);
  EXPECT_EQ(draw(0xFFFFFFFFu, 0xFFFFFFFFu, "big"), R(ZEP_OK, true));
  EXPECT_EQ(draw(0, 0, "none"), R(ZEP_OK, false));
  EXPECT_EQ(draw(8, 8, "tiny").first, ZEP_OK);
  set_font("/nonexistent/font.ttf");
  EXPECT_EQ(draw(640, 480, "text").first, ZEP_FAIL);
  // Cut font files fail the entry (a glyph that cannot be drawn) or draw without harm.
  const zeptest::Bytes font = zeptest::read_file(kFontFile);
  zeptest::TempDir dir;
  for (const size_t keep :
       {size_t{0}, size_t{12}, size_t{400}, font.size() / 2, font.size() - 1000}) {
    set_font(dir.write("cut.ttf", zeptest::Bytes(font.begin(), font.begin() + keep)));
    const ZEP_STATUS status = draw(640, 480, "Hello \xE2\x82\xAC").first;
    EXPECT_TRUE(status == ZEP_OK || status == ZEP_FAIL) << keep << ": " << status;
  }
  // Without a name the default font is found.
  ASSERT_EQ(zep_subtitle_renderer_set_font(renderer_, nullptr), ZEP_OK);
  EXPECT_FALSE(std::string(zep_subtitle_renderer_font_path(renderer_)).empty());
  EXPECT_EQ(draw(640, 480, "text"), R(ZEP_OK, true));
}

// Two hour digits only: later times stay at the last one, earlier at zero; the
// text reads back at millisecond precision and damaged text is refused.
TEST(SubtitleTimeString, FormatsAndReadsBack) {
  char text[28];
  zep_subtitle_format_time_string(-5, 100LL * 36000000000LL + 5, text);
  EXPECT_STREQ(text, "[00:00:00.000-99:59:59.999]");
  zep_subtitle_format_time_string(37234567891LL, 37234579999LL, text);
  int64_t start = -1, end = -1;
  const uint8_t* bytes = reinterpret_cast<const uint8_t*>(text);
  ASSERT_EQ(zep_subtitle_parse_time_string(bytes, 27, &start, &end), ZEP_OK);
  EXPECT_EQ(start, 37234560000LL);  // millisecond precision
  EXPECT_EQ(end, 37234570000LL);
  EXPECT_EQ(zep_subtitle_parse_time_string(bytes, 20, &start, &end), ZEP_ERR_INVALID_SUBTITLE);
  text[13] = ' ';
  EXPECT_EQ(zep_subtitle_parse_time_string(bytes, 27, &start, &end), ZEP_ERR_INVALID_SUBTITLE);
}

TEST(QsubPacket, CroppingAndPadding) {
  // Nothing inked: a blank 4 x 4 padded to 8 x 4.
  for (const ZepSubtitlePicture& blank :
       {picture_of(0, 0), picture_of(100, 50), picture_of(3, 3)}) {
    const ZepQsubPacket p = decode(build(blank));
    EXPECT_EQ(rows_of(p), Rows(4, "00000000"));
    EXPECT_STREQ(p.timeString, "[00:00:00.000-00:00:01.500]");
  }
  // An odd inked rectangle loses its right column and its top row.
  ZepSubtitlePicture odd = picture_of(40, 40);
  fill_rect(odd, 10, 10, 5, 3, 2);
  fill_rect(odd, 10, 10, 5, 1, 1);
  fill_rect(odd, 14, 10, 1, 3, 3);
  EXPECT_EQ(rows_of(decode(build(odd))), (Rows{"00222200", "00222200"}));
  // A single inked column and row are kept.
  ZepSubtitlePicture dot = picture_of(40, 40);
  fill_rect(dot, 10, 10, 1, 1, 2);
  EXPECT_EQ(rows_of(decode(build(dot))), (Rows{"002000", "000000"}));
}

TEST(QsubPacket, DamagedOrOversizedPacketsAreRefused) {
  // A first field beyond 16 bits of offset gives no packet: one nibble per pixel.
  ZepSubtitlePicture busy = picture_of(1400, 400);
  for (size_t i = 0; i < busy.pixels.size(); ++i) busy.pixels[i] = uint8_t(1 + i % 2);
  std::vector<uint8_t> none;
  EXPECT_EQ(zep_subtitle_build_packet(busy, 1440, 1080, &none), ZEP_ERR_INVALID_SUBTITLE);
  EXPECT_TRUE(none.empty());
  ZepSubtitlePicture picture = picture_of(20, 20);
  fill_rect(picture, 2, 2, 12, 12, 2);
  const std::vector<uint8_t> packet = build(picture, 960, 720);
  ZepQsubPacket p;
  for (size_t cut = 0; cut < 60; ++cut)
    EXPECT_EQ(zep_qsub_decode_packet(packet.data(), cut, &p), ZEP_ERR_INVALID_SUBTITLE) << cut;
  std::vector<uint8_t> huge = packet, badOffset = packet;
  std::fill_n(huge.begin() + 27, 4, 0xFF);  // 65535 x 65535
  EXPECT_EQ(zep_qsub_decode_packet(huge.data(), huge.size(), &p), ZEP_ERR_INVALID_SUBTITLE);
  badOffset[39] = 0xFF;
  badOffset[40] = 0x7F;
  EXPECT_EQ(zep_qsub_decode_packet(badOffset.data(), badOffset.size(), &p),
            ZEP_ERR_INVALID_SUBTITLE);
  EXPECT_EQ(zep_qsub_decode_packet(nullptr, 0, &p), ZEP_E_NULL_ARG);
  // A run of 15 in a row of 10, and data that end inside the row.
  for (const uint8_t bad : {0x3C, 0x1C})
    EXPECT_EQ(zep_qsub_decode_field(&bad, 1, 0, 10, 1, 0, busy.pixels.data()),
              ZEP_ERR_INVALID_SUBTITLE);
}
