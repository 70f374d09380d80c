// ASS/SSA reader: sections, Format lists, field division, entry texts, codec
// private text, encodings and seeking.
#include "modules/subtitle/ass_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/support/text_encoding.h"

using zeptest::Bytes;

namespace {

struct Entry {
  std::string text;
  uint64_t start;
  uint64_t end;
  bool operator==(const Entry&) const = default;
};

std::ostream& operator<<(std::ostream& os, const Entry& e) {
  return os << "{\"" << e.text << "\", " << e.start << ", " << e.end << "}";
}

class AssFile {
 public:
  AssFile(const Bytes& content, const char* name = "test.ass") {
    path_ = dir_.write(name, content);
    status_ = reader_.Open(zep::utf8_to_u16(path_).c_str());
  }
  explicit AssFile(std::string_view text, const char* name = "test.ass")
      : AssFile(Bytes(text.begin(), text.end()), name) {}

  std::vector<Entry> All() {
    std::vector<Entry> out;
    ZepTextSubtitleEntry e;
    while (reader_.ReadEntry(&e) == ZEP_OK) out.push_back({e.text, e.start, e.end});
    return out;
  }
  std::string CodecPrivate() const {
    const uint8_t* p = reader_.GetCodecPrivate();
    return p ? std::string(reinterpret_cast<const char*>(p), reader_.GetCodecPrivateSize())
             : std::string();
  }
  CASSReader& reader() { return reader_; }
  ZEP_STATUS status() const { return status_; }

 private:
  zeptest::TempDir dir_;
  std::string path_;
  CASSReader reader_;
  ZEP_STATUS status_;
};

const std::string kHeader =
    "[Script Info]\n"
    "; a comment\n"
    "Title: Test script\n"
    "ScriptType: v4.00+\n"
    "PlayResX: 384\n"
    "\n"
    "[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize, PrimaryColour, Bold\n"
    "Style: Default,Arial,16,&Hffffff,0\n"
    "\n"
    "[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

const std::string kEvents =
    "Dialogue: 0,0:00:01.50,0:00:03.00,Default,,0,0,0,,Hello\n"
    "Comment: 0,0:00:02.00,0:00:04.00,Default,,0,0,0,,not kept\n"
    "Dialogue: 1,0:01:02.03,1:00:00.00,Default,Bob,0010,0020,0030,Fx,Text, with, commas\n";

}  // namespace

TEST(AssReader, DividesDialogueFieldsAndFormsEntryTexts) {
  AssFile file(kHeader + kEvents);
  EXPECT_EQ(file.status(), ZEP_OK);
  ASSERT_EQ(file.reader().event_count(), 2u);
  EXPECT_EQ(file.reader().event_field(1, ZepAssEventField::kText), "Text, with, commas");
  EXPECT_EQ(file.reader().event_field(1, ZepAssEventField::kName), "Bob");
  EXPECT_EQ(file.reader().event_field(1, ZepAssEventField::kMarked), "");
  const std::vector<Entry> expected = {
      {"0,0,Default,,0,0,0,,Hello", 15000000, 30000000},
      {"1,1,Default,Bob,0010,0020,0030,Fx,Text, with, commas", (62 * 100 + 3) * 100000ULL,
       3600ULL * 10000000},
  };
  EXPECT_EQ(file.All(), expected);
  ZepTextSubtitleEntry e;
  EXPECT_EQ(file.reader().ReadEntry(&e), -9);
  EXPECT_STREQ(e.text, "");
}

TEST(AssReader, SectionsStylesAndScriptInfo) {
  AssFile file(kHeader + kEvents);
  EXPECT_EQ(file.reader().script_info(0), " Test script");  // Title:, the rest of the line
  EXPECT_EQ(file.reader().script_info(10), " 384");         // PlayResX:
  ASSERT_EQ(file.reader().style_count(), 1u);
  EXPECT_EQ(file.reader().style_field(0, ZepAssStyleField::kName), " Default");
  EXPECT_EQ(file.reader().style_field(0, ZepAssStyleField::kPrimaryColour), "&Hffffff");
  EXPECT_EQ(file.reader().style_field(0, ZepAssStyleField::kBold), "0");
  EXPECT_EQ(file.reader().style_field(0, ZepAssStyleField::kItalic), "");
  const uint32_t tag = file.reader().format_tag();
  EXPECT_EQ(std::memcmp(&tag, "ASS", 4), 0);

  ZepTextSubtitleFormat f;
  std::memset(&f, 0xAB, sizeof f);
  ASSERT_EQ(file.reader().GetStreamFormat(&f), ZEP_OK);
  EXPECT_EQ(f.kind, 0x21u);
  EXPECT_EQ(f.width, 0u);
  EXPECT_EQ(f.height, 0u);
  EXPECT_EQ(f.imageSize, 0u);
  EXPECT_EQ(std::memcmp(&f.compression, "NRTX", 4), 0);
  EXPECT_EQ(std::memcmp(&f.fourcc, "ASS\0", 4), 0);

  file.reader().Close();
  EXPECT_EQ(file.reader().event_count(), 0u);
  EXPECT_EQ(file.reader().format_tag(), 0u);
  EXPECT_EQ(file.reader().GetCodecPrivateSize(), 0u);
  EXPECT_EQ(file.reader().GetStreamFormat(&f), ZEP_FAIL);
}

TEST(AssReader, CodecPrivateRunsThroughTheEventFormatLine) {
  AssFile file(zeptest::with_line_ends(kHeader + kEvents, "\r\n"));
  EXPECT_EQ(file.CodecPrivate(), kHeader);
}

TEST(AssReader, EventsWithoutFormatGiveNoEventsAndNoCodecPrivate) {
  const std::string text =
      "[Script Info]\nTitle: x\n\n[V4+ Styles]\nStyle: Default,Arial\n\n[Events]\n"
      "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Lost\n";
  AssFile file(text);
  EXPECT_EQ(file.status(), ZEP_OK);
  EXPECT_EQ(file.reader().event_count(), 0u);
  EXPECT_EQ(file.reader().GetCodecPrivateSize(), 0u);
  EXPECT_TRUE(file.All().empty());
}

TEST(AssReader, SsaInUtf16EqualsItsUtf8Form) {
  const std::string text =
      "[Script Info]\nScriptType: v4.00\n\n[V4 Styles]\n"
      "Format: Name, Fontname, TertiaryColour, AlphaLevel\nStyle: "
      "Default,Tahoma,&H0,0\n\n[Events]\n"
      "Format: Marked, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
      "Dialogue: Marked=0,0:00:00.10,0:00:00.90,Default,,0,0,0,,Ünïcödé 𝄞 text\n"
      "Dialogue: Marked=0,0:00:01.00,0:00:02.00,Default,,0,0,0,,{\\i1}second{\\i0}";
  AssFile utf8(text, "test.ssa");
  const auto expected = utf8.All();
  ASSERT_EQ(expected.size(), 2u);
  EXPECT_EQ(expected[0].text, "0,Marked=0,Default,,0,0,0,,Ünïcödé 𝄞 text");
  const uint32_t tag = utf8.reader().format_tag();
  EXPECT_EQ(std::memcmp(&tag, "SSA", 4), 0);
  for (const char* ends : {"\n", "\r\n"}) {
    const std::string converted = zeptest::with_line_ends(text, ends);
    AssFile be(zeptest::utf16_be_with_bom(converted), "test.ssa");
    AssFile le(zeptest::utf16_le_with_bom(converted), "test.ssa");
    EXPECT_EQ(be.All(), expected);
    EXPECT_EQ(le.All(), expected);
    EXPECT_EQ(be.CodecPrivate(), utf8.CodecPrivate());
  }
}

TEST(AssReader, EventsWithoutTimesArePassedOver) {
  AssFile file(kHeader +
               "Dialogue: 0,,0:00:02.00,Default,,0,0,0,,no start\n"
               "Dialogue: 0,0:00:03.00,0:00:02.00,Default,,0,0,0,,backwards\n"
               "Dialogue: 0,0:00:04.00\n");
  EXPECT_EQ(file.reader().event_count(), 3u);
  const auto entries = file.All();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0], (Entry{"1,0,Default,,0,0,0,,backwards", 30000000, 30000000}));
}

TEST(AssReader, FormatListDecidesTheFieldOrder) {
  AssFile file(kHeader +
               "Format: Start, End, Text, Style, Unknown\n"
               "Dialogue:0:00:01.00,0:00:02.00,first, text,Main,extra,x\n");
  const auto entries = file.All();
  ASSERT_EQ(entries.size(), 1u);
  // Fields run to the next comma except the last; an unknown name holds a column.
  EXPECT_EQ(entries[0].text, "0,first, text");
  EXPECT_EQ(file.reader().event_field(0, ZepAssEventField::kText), "first");
  EXPECT_EQ(file.reader().event_field(0, ZepAssEventField::kStyle), " text");
}

TEST(AssReader, LongDialogueStaysWithinTheEntry) {
  std::string text(10, 'x');
  for (int i = 0; i < 400; ++i) text += "\xE2\x82\xAC";
  AssFile file(kHeader + "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,," + text + "\n");
  ZepTextSubtitleEntry e;
  ASSERT_EQ(file.reader().ReadEntry(&e), ZEP_OK);
  const size_t length = strnlen(e.text, sizeof e.text);
  ASSERT_LT(length, sizeof e.text);
  EXPECT_EQ(std::string(e.text, 22), "0,0,Default,,0,0,0,,xx");
  EXPECT_NE(static_cast<uint8_t>(e.text[length - 1]) & 0xC0, 0xC0);
}

TEST(AssReader, SeekingFindsTheEventThatContainsTheTime) {
  AssFile file(kHeader +
               "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,A\n"
               "Dialogue: 0,0:00:05.00,0:00:06.00,Default,,0,0,0,,B\n");
  int64_t t = 55000000;
  EXPECT_EQ(file.reader().SeekEntry(&t), ZEP_OK);
  EXPECT_EQ(t, 50000000);
  ZepTextSubtitleEntry e;
  ASSERT_EQ(file.reader().ReadEntry(&e), ZEP_OK);
  EXPECT_STREQ(e.text, "1,0,Default,,0,0,0,,B");
  t = 30000000;  // between the events
  EXPECT_EQ(file.reader().SeekEntry(&t), ZEP_FAIL);
  EXPECT_EQ(t, 30000000);
}

TEST(AssReader, MissingFile) {
  CASSReader reader;
  EXPECT_EQ(reader.Open(u"/nonexistent/dir/x.ass"), -3);
  ZepTextSubtitleFormat f;
  EXPECT_EQ(reader.GetStreamFormat(&f), ZEP_FAIL);
}

TEST(AssReader, TimeText) {
  EXPECT_EQ(ZepScanAssTime("0:00:01.50"), 15000000u);
  EXPECT_EQ(ZepScanAssTime(" 1:02:03.04"), ((3723) * 100 + 4) * 100000ULL);
  EXPECT_EQ(ZepScanAssTime("0:00:07"), 70000000u);
  EXPECT_EQ(ZepScanAssTime("garbage"), 0u);
  EXPECT_EQ(ZepScanAssTime("-5:00:00.00"), 0u);
  EXPECT_EQ(ZepScanAssTime("99999999999999999999:0:0.0"), uint64_t(INT64_MAX));
}
