// Drawing subtitle text with a fixed font file and packing it into packets:
// pixel values, colours, styles, line breaking and fitting.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <algorithm>
#include <cstdio>
#include <set>
#include <string>

#include "modules/subtitle/qsub_decode.h"
#include "modules/subtitle/subtitle_render.h"

namespace {

constexpr const char* kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

class SubtitleRenderTest : public testing::Test {
 protected:
  void SetUp() override {
    struct stat info;
    if (stat(kFontFile, &info) != 0) GTEST_SKIP() << "no font file " << kFontFile;
    ASSERT_EQ(zep_subtitle_renderer_create(&renderer_), ZEP_OK);
    const std::u16string name = zep::utf8_to_u16(kFontFile);
    ASSERT_EQ(zep_subtitle_renderer_set_font(renderer_, name.c_str()), ZEP_OK);
  }
  void TearDown() override { zep_subtitle_renderer_destroy(renderer_); }

  ZepSubtitlePicture render(const std::string& text, uint32_t w = 640, uint32_t h = 480) {
    ZepSubtitlePicture picture;
    EXPECT_EQ(zep_subtitle_render_entry(renderer_, w, h, text.c_str(), 0, 15000000, &picture),
              ZEP_OK);
    EXPECT_EQ(picture.pixels.size(), static_cast<size_t>(picture.width) * picture.height);
    return picture;
  }

  ZepSubtitleRenderer* renderer_ = nullptr;
};

std::set<uint8_t> values(const std::vector<uint8_t>& pixels) {
  return {pixels.begin(), pixels.end()};
}

// The columns [x0, x1) of a picture.
std::vector<uint8_t> columns(const ZepSubtitlePicture& p, uint32_t x0, uint32_t x1) {
  std::vector<uint8_t> out;
  for (uint32_t y = 0; y < p.height; ++y) {
    for (uint32_t x = x0; x < x1 && x < p.width; ++x) out.push_back(p.pixels[y * p.width + x]);
  }
  return out;
}

}  // namespace

TEST_F(SubtitleRenderTest, TextIsDrawnWithOutlineAroundIt) {
  const ZepSubtitlePicture p = render("Hello");
  EXPECT_STREQ(p.timeString, "[00:00:00.000-00:00:01.500]");
  EXPECT_GT(p.width, 80u);
  EXPECT_LT(p.width, 160u);
  EXPECT_GT(p.height, 24u);
  EXPECT_LT(p.height, 40u);
  EXPECT_EQ(values(p.pixels), (std::set<uint8_t>{0, 1, 2}));
  // Every text pixel is surrounded: none touches the background directly.
  for (uint32_t y = 0; y < p.height; ++y) {
    for (uint32_t x = 0; x < p.width; ++x) {
      if (p.pixels[y * p.width + x] != 2) continue;
      ASSERT_TRUE(x > 0 && y > 0 && x + 1 < p.width && y + 1 < p.height);
      for (int dy = -1; dy <= 1; ++dy) {
        for (int dx = -1; dx <= 1; ++dx)
          ASSERT_NE(p.pixels[(y + dy) * p.width + x + dx], 0) << x << "," << y;
      }
    }
  }
}

TEST_F(SubtitleRenderTest, ColourSumDecidesTheValue) {
  // #0000FF sums to 255 like the outline: no text value is left.
  const ZepSubtitlePicture blue = render("<font color=\"#0000FF\">Blue</font>");
  EXPECT_EQ(values(blue.pixels), (std::set<uint8_t>{0, 1}));
  const ZepSubtitlePicture yellow = render("<font color=\"#ffff00\">Blue</font>");
  EXPECT_EQ(values(yellow.pixels), (std::set<uint8_t>{0, 1, 2}));
  EXPECT_EQ(yellow.pixels, render("Blue").pixels);

  std::vector<uint8_t> packet;
  ASSERT_EQ(zep_subtitle_build_packet(blue, 640, 480, &packet), ZEP_OK);
  ZepQsubPacket decoded;
  ASSERT_EQ(zep_qsub_decode_packet(packet.data(), packet.size(), &decoded), ZEP_OK);
  EXPECT_EQ(values(decoded.pixels), (std::set<uint8_t>{0, 1}));
}

TEST_F(SubtitleRenderTest, ItalicWordUsesAnotherFaceBoldIsTheFirstFace) {
  const ZepSubtitlePicture plain = render("ab cd ef");
  const ZepSubtitlePicture italic = render("ab <i>cd</i> ef");
  const ZepSubtitlePicture bold = render("ab <b>cd</b> ef");
  const ZepSubtitlePicture lead = render("ab");
  ASSERT_EQ(plain.height, italic.height);
  // "ab" is drawn alike, "cd" differs; the tags themselves take no room.
  const uint32_t abWidth = lead.width - 4;
  EXPECT_EQ(columns(plain, 0, abWidth), columns(italic, 0, abWidth));
  EXPECT_NE(columns(plain, abWidth, plain.width), columns(italic, abWidth, italic.width));
  EXPECT_LE(std::max(plain.width, italic.width) - std::min(plain.width, italic.width), 4u);
  EXPECT_EQ(bold.pixels, plain.pixels);
}

TEST_F(SubtitleRenderTest, UnderlineAndStrikeThroughAddBars) {
  const ZepSubtitlePicture plain = render("mmmm");
  const ZepSubtitlePicture under = render("<u>mmmm</u>");
  const ZepSubtitlePicture strike = render("<s>mmmm</s>");
  EXPECT_GT(under.height, plain.height);   // below the baseline
  EXPECT_EQ(strike.height, plain.height);  // through the glyphs
  EXPECT_NE(strike.pixels, plain.pixels);
  // A strike-through bar runs across the gaps between the letters: some row
  // holds text from one side to the other.
  bool fullRow = false;
  for (uint32_t y = 0; y < strike.height && !fullRow; ++y) {
    fullRow = std::count(strike.pixels.begin() + y * strike.width,
                         strike.pixels.begin() + (y + 1) * strike.width,
                         2) >= static_cast<long>(strike.width) - 8;
  }
  EXPECT_TRUE(fullRow);
}

TEST_F(SubtitleRenderTest, LineFeedsAndLongLinesBreak) {
  const ZepSubtitlePicture one = render("Line");
  const ZepSubtitlePicture two = render("Line\r\nLine");
  EXPECT_EQ(two.width, one.width);
  EXPECT_EQ(two.height, one.height + 38u);  // 32 + 32 / 5 between baselines
  // Any character may start a new line once the pen reaches the right limit
  // (W * 1.5 - W / 4 = 800 for 640): the picture stays within 640 columns.
  const ZepSubtitlePicture longLine = render(std::string(80, 'W'));
  EXPECT_LE(longLine.width, 640u + 8u);
  EXPECT_GT(longLine.height, 3 * 38u);
}

TEST_F(SubtitleRenderTest, DrawingStopsAtTheBottomLimit) {
  std::string many;
  for (int i = 0; i < 100; ++i) many += "x\n";
  const ZepSubtitlePicture p = render(many);
  // Baselines from 152 by 38 while below 600: 12 lines.
  EXPECT_LT(p.height, 12 * 38u + 10);
  EXPECT_GT(p.height, 11 * 38u);
}

TEST_F(SubtitleRenderTest, NothingDrawnGivesAnEmptyPictureAndTheBlankPacket) {
  for (const char* text : {"", "<i></i>", " ", "\n\n"}) {
    const ZepSubtitlePicture p = render(text);
    EXPECT_TRUE(std::all_of(p.pixels.begin(), p.pixels.end(), [](uint8_t v) { return v == 0; }))
        << text;
    std::vector<uint8_t> packet;
    ASSERT_EQ(zep_subtitle_build_packet(p, 640, 480, &packet), ZEP_OK);
    ZepQsubPacket decoded;
    ASSERT_EQ(zep_qsub_decode_packet(packet.data(), packet.size(), &decoded), ZEP_OK);
    EXPECT_EQ(decoded.width, 8);
    EXPECT_EQ(decoded.height, 4);
  }
}

TEST_F(SubtitleRenderTest, PacketHoldsTheCroppedPaddedPicture) {
  for (const uint32_t frame : {640u, 960u, 1440u}) {
    const uint32_t frameH = frame * 3 / 4;
    const ZepSubtitlePicture p = render("Two lines\n<i>of text</i>", frame, frameH);
    std::vector<uint8_t> packet;
    ASSERT_EQ(zep_subtitle_build_packet(p, frame, frameH, &packet), ZEP_OK);
    ZepQsubPacket decoded;
    ASSERT_EQ(zep_qsub_decode_packet(packet.data(), packet.size(), &decoded), ZEP_OK);
    // The renderer's box is the stroked glyphs' box, so it may hold a little
    // background; the packet holds the ink with two empty columns each side.
    EXPECT_LE(decoded.width, p.width + 4);
    EXPECT_GE(decoded.width + 2, p.width);
    for (uint32_t y = 0; y < decoded.height; ++y) {
      const uint8_t* row = decoded.pixels.data() + y * decoded.width;
      EXPECT_EQ(row[0] | row[1] | row[decoded.width - 1] | row[decoded.width - 2], 0);
    }
    EXPECT_EQ(values(decoded.pixels), (std::set<uint8_t>{0, 1, 2}));
    EXPECT_EQ(std::count(decoded.pixels.begin(), decoded.pixels.end(), 2) > 0, true);
  }
}

TEST_F(SubtitleRenderTest, TooWideTextIsScaledIntoTheArea) {
  // 960 x 720 draws lines up to 960 pixels; its area is 831 wide.
  const ZepSubtitlePicture p = render(std::string(60, 'M'), 960, 720);
  ASSERT_GT(p.width, 831u);
  std::vector<uint8_t> packet;
  ASSERT_EQ(zep_subtitle_build_packet(p, 960, 720, &packet), ZEP_OK);
  ZepQsubPacket decoded;
  ASSERT_EQ(zep_qsub_decode_packet(packet.data(), packet.size(), &decoded), ZEP_OK);
  EXPECT_LE(decoded.width, 895 - 64);
  EXPECT_GE(decoded.left, 64);
  EXPECT_LE(decoded.right, 895);
  EXPECT_LE(decoded.bottom, 671);
  EXPECT_LT(decoded.height, p.height);
}

TEST_F(SubtitleRenderTest, MissingFontFails) {
  ASSERT_EQ(zep_subtitle_renderer_set_font(renderer_, u"/nonexistent/font.ttf"), ZEP_OK);
  ZepSubtitlePicture p;
  EXPECT_EQ(zep_subtitle_render_entry(renderer_, 640, 480, "text", 0, 1, &p), ZEP_FAIL);
  EXPECT_EQ(zep_subtitle_render_entry(renderer_, 640, 480, nullptr, 0, 1, &p), ZEP_E_NULL_ARG);
}

TEST_F(SubtitleRenderTest, DamagedFontFilesFailOrDrawWithoutHarm) {
  std::FILE* in = std::fopen(kFontFile, "rb");
  ASSERT_NE(in, nullptr);
  std::vector<char> font(1 << 20);
  font.resize(std::fread(font.data(), 1, font.size(), in));
  std::fclose(in);
  const std::string path = testing::TempDir() + "/damaged_font.ttf";
  for (const size_t keep :
       {size_t{0}, size_t{12}, size_t{400}, font.size() / 2, font.size() - 1000}) {
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_NE(out, nullptr);
    std::fwrite(font.data(), 1, keep, out);
    std::fclose(out);
    const std::u16string name = zep::utf8_to_u16(path);
    ASSERT_EQ(zep_subtitle_renderer_set_font(renderer_, name.c_str()), ZEP_OK);
    ZepSubtitlePicture p;
    const ZEP_STATUS status =
        zep_subtitle_render_entry(renderer_, 640, 480, "Hello \xE2\x82\xAC", 0, 1, &p);
    EXPECT_TRUE(status == ZEP_OK || status == ZEP_FAIL) << keep << ": " << status;
    EXPECT_EQ(p.pixels.size(), static_cast<size_t>(p.width) * p.height);
  }
  std::remove(path.c_str());
}

TEST_F(SubtitleRenderTest, DefaultFontIsFoundWithoutAName) {
  ASSERT_EQ(zep_subtitle_renderer_set_font(renderer_, nullptr), ZEP_OK);
  const std::string path = zep_subtitle_renderer_font_path(renderer_);
  ASSERT_FALSE(path.empty());
  ZepSubtitlePicture p;
  EXPECT_EQ(zep_subtitle_render_entry(renderer_, 640, 480, "text", 0, 1, &p), ZEP_OK);
  EXPECT_GT(p.width, 0u);
}

TEST_F(SubtitleRenderTest, HugeAndTinyFrameSizesStayBounded) {
  ZepSubtitlePicture p;
  EXPECT_EQ(zep_subtitle_render_entry(renderer_, 0xFFFFFFFFu, 0xFFFFFFFFu, "big", 0, 1, &p),
            ZEP_OK);
  EXPECT_GT(p.width, 0u);
  EXPECT_EQ(zep_subtitle_render_entry(renderer_, 0, 0, "none", 0, 1, &p), ZEP_OK);
  EXPECT_EQ(p.width, 0u);
  EXPECT_EQ(zep_subtitle_render_entry(renderer_, 8, 8, "tiny", 0, 1, &p), ZEP_OK);
}
