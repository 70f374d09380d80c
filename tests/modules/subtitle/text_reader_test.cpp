// Text subtitle readers: the text tools, line reading in every encoding, and
// the SubRip and ASS/SSA readers (entries, times, damaged lines, limits, seeks).
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "modules/subtitle/ass_reader.h"
#include "modules/subtitle/srt_reader.h"
#include "modules/subtitle/subtitle_text.h"
#include "modules/subtitle/text_line_reader.h"
#include "tests/support/text_encoding.h"

using namespace zep::subtitle;
using namespace zeptest;
using Lines = std::vector<std::string>;

namespace {

constexpr uint64_t kMs = 10000;  // 100 ns units per millisecond
constexpr int64_t kMax = std::numeric_limits<int64_t>::max();

Bytes AsBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Lines ReadLines(const Bytes& content) {
  TempDir dir;
  ZepFile* file = nullptr;
  const std::u16string path = zep::utf8_to_u16(dir.write("l.txt", content));
  EXPECT_EQ(zep_file_open(path.c_str(), ZEP_FILE_READ, &file, nullptr), 0);
  if (file == nullptr) return {};
  TextLineReader reader(file, EncodingMarkerOf(content.data(), uint32_t(content.size())));
  Lines lines;
  for (std::string line; reader.Next(&line);) lines.push_back(line);
  zep_file_close(file);
  return lines;
}

struct Entry {
  std::string text;
  uint64_t start, end;
  bool operator==(const Entry&) const = default;
};
using Entries = std::vector<Entry>;
using Sought = std::pair<int64_t, std::string>;

// A reader opened on a file of the given bytes.
template <class Reader>
struct TextFile {
  TextFile(const Bytes& content,
           const char* name = std::is_same_v<Reader, CSRTReader> ? "t.srt" : "t.ass")
      : status(reader.Open(zep::utf8_to_u16(dir.write(name, content)).c_str())) {}
  TextFile(std::string_view text,
           const char* name = std::is_same_v<Reader, CSRTReader> ? "t.srt" : "t.ass")
      : TextFile(AsBytes(text), name) {}
  Entries All() {
    Entries out;
    ZepTextSubtitleEntry e;
    while (reader.ReadEntry(&e) == ZEP_OK) out.push_back({e.text, e.start, e.end});
    return out;
  }
  std::string CodecPrivate() const {
    const uint8_t* p = reader.GetCodecPrivate();
    return p ? std::string(reinterpret_cast<const char*>(p), reader.GetCodecPrivateSize()) : "";
  }
  // A sought time and the entry read after it.
  Sought Seek(int64_t t, ZEP_STATUS want = ZEP_OK) {
    EXPECT_EQ(reader.SeekEntry(&t), want);
    ZepTextSubtitleEntry e;
    return {t, reader.ReadEntry(&e) == ZEP_OK ? e.text : "(none)"};
  }
  // The first entry's text: terminated within the record, no lead byte left hanging.
  std::string FirstBounded() {
    ZepTextSubtitleEntry e;
    EXPECT_EQ(reader.ReadEntry(&e), ZEP_OK);
    const size_t length = strnlen(e.text, sizeof e.text);
    EXPECT_LT(length, sizeof e.text);
    EXPECT_NE(uint8_t(e.text[length - 1]) & 0xC0, 0xC0);
    return std::string(e.text, length);
  }
  TempDir dir;
  Reader reader;
  ZEP_STATUS status;
};
using Srt = TextFile<CSRTReader>;
using Ass = TextFile<CASSReader>;

}  // namespace

TEST(TextLineReader, EveryEncodingAndLineEndGivesTheSameLines) {
  EXPECT_EQ(EncodingMarkerOf(reinterpret_cast<const uint8_t*>("\xEF\xBB\xBF"), 2), kMarkerNone);
  const std::string text = "Grüße\n€ und 𝄞\n\nend\n";  // includes a surrogate pair
  for (const char* ends : {"\n", "\r\n", "\r"}) {
    const std::string t = with_line_ends(text, ends);
    for (const Bytes& content :
         {AsBytes(t), utf8_with_bom(t), utf16_le_with_bom(t), utf16_be_with_bom(t)})
      EXPECT_EQ(ReadLines(content), (Lines{"Grüße", "€ und 𝄞", "", "end"}))
          << int(ends[1]) << int(content[0]);
  }
  // Mixed ends in one file; LF CR is two line ends; the last line needs no end.
  EXPECT_EQ(ReadLines(AsBytes("a\r\nb\nc\rd\n\re")), (Lines{"a", "b", "c", "d", "", "e"}));
  EXPECT_EQ(ReadLines(utf16_le_with_bom("one\r\ntwo")), (Lines{"one", "two"}));
  EXPECT_TRUE(ReadLines(utf8_with_bom("")).empty());
}

TEST(TextLineReader, OverlongLinesAndDamagedBytes) {
  std::string longLine;
  for (int i = 0; i < 800; ++i) longLine += "\xC3\xA9";  // a cut after 999 bytes splits one
  const std::string text = longLine + "\nnext\n";
  for (const Bytes& content : {AsBytes(text), utf16_le_with_bom(text), utf16_be_with_bom(text)})
    EXPECT_EQ(ReadLines(content), (Lines{longLine.substr(0, 998), "next"}));
  // A line of exactly 999 bytes is whole; the rest of a longer ASCII line is dropped.
  const std::string exact(999, 'a');
  EXPECT_EQ(ReadLines(AsBytes(exact + "\n" + exact + "bbb\n")), (Lines{exact, exact}));
  // A zero byte ends the line's text; the rest of the line is dropped.
  EXPECT_EQ(ReadLines(Bytes{'a', 0, 'b', '\n', 'c'}), (Lines{"a", "c"}));
  // A lone high surrogate, a lone low surrogate and an odd last byte.
  ByteWriter w;
  w.le16(0xFEFF).le16('a').le16(0xD800).le16('b').le16(0xDC00).le16('\n').u8('c');
  EXPECT_EQ(ReadLines(w.take()), (Lines{"a\xEF\xBF\xBD"
                                        "b\xEF\xBF\xBD"}));
  // Byte-swapped line ends of UTF-16 files written with the wrong order.
  w.le16(0xFEFF).le16('a').le16(0x0D00).le16(0x0A00).le16('b').le16(0x0A00);
  EXPECT_EQ(ReadLines(w.take()), (Lines{"a", "b"}));
}

const std::string kTwoEntries =
    "1\n00:00:01,500 --> 00:00:03,000\nHello\nworld\n\n2\n01:02:03,004 --> 01:02:05,000\nSecond "
    "€𝄞\n";
const Entries kTwoEntriesExpected = {{"Hello\nworld", 1500 * kMs, 3000 * kMs},
                                     {"Second €𝄞", 3723004 * kMs, 3725000 * kMs}};

TEST(SrtReader, DamagedAndOddEntries) {
  const std::string text =
      "1\n00:00:01.000 --> 00:00:02.000\nwrong separator\n\n"
      "2\n00:00:03,000 -> 00:00:04,000\nshort arrow\nsecond text line\n\n"
      "3\n00:00:05,000 --> 00:00:06\nend time cut\n\n"
      "4\n00:00:17,000 --> 00:00:18,000 X1:10 X2:20\ngood\n\n"
      "5\n00:00:09,000-->00:00:10,000\nno spaces, not sorted\n\n"
      "6\n00:00:05,000 --> 00:00:04,000\nbackwards\n\n"
      "7\n00:00:05,000 --> 00:00:06,000\n\n"
      "8\n00:00:01,000 --> 00:00:02,000\n  \n";
  EXPECT_EQ(Srt(text).All(), (Entries{{"good", 17000 * kMs, 18000 * kMs},
                                      {"no spaces, not sorted", 9000 * kMs, 10000 * kMs},
                                      {"backwards", 5000 * kMs, 5000 * kMs}}));
  // A number line at the end fails the open but keeps the entries.
  Srt numberAtEnd(kTwoEntries + "\n3\n");
  EXPECT_EQ(numberAtEnd.status, ZEP_FAIL);
  EXPECT_EQ(numberAtEnd.All(), kTwoEntriesExpected);
  CSRTReader missing;
  EXPECT_EQ(missing.Open(u"/nonexistent/dir/x.srt"), -3);
  EXPECT_EQ(missing.encoding_marker(), 0xFFFFFFFFu);
  Srt empty("");
  EXPECT_EQ(empty.status, ZEP_OK);
  EXPECT_EQ(empty.Seek(0, -9).second, "(none)");
}

TEST(SrtReader, SeekingAndTimingArithmetic) {
  Srt file(
      "1\n00:00:02,000 --> 00:00:03,000\nA\n\n2\n00:00:05,000 --> 00:00:06,000\nB\n\n"
      "3\n00:00:08,000 --> 00:00:09,000\nC\n");
  EXPECT_EQ(file.Seek(40000000), (Sought{50000000, "B"}));  // in the gap before B
  EXPECT_EQ(file.Seek(85000000), (Sought{80000000, "C"}));  // inside C
  EXPECT_EQ(file.Seek(0), (Sought{20000000, "A"}));         // before the first entry
  EXPECT_EQ(file.Seek(30000000), (Sought{20000000, "A"}));  // the end of A belongs to A
  EXPECT_EQ(file.Seek(100000000, -9), (Sought{-1, "C"}));   // after the last end
  EXPECT_EQ(file.Seek(0).second, "A");
  // Times saturate instead of overflowing; a number saturates as a 32-bit %d.
  uint64_t start = 1, end = 1;
  ASSERT_TRUE(ZepScanSrtTiming("2147483647:59:59,999 --> -1:00:00,000", &start, &end));
  EXPECT_EQ(std::vector<uint64_t>({start, end}), std::vector<uint64_t>({uint64_t(kMax), 0}));
  ASSERT_TRUE(ZepScanSrtTiming("0:0:0,99999999999 --> 0:0:0,2147483647", &start, &end));
  EXPECT_EQ(std::vector<uint64_t>({start, end}), std::vector<uint64_t>(2, 2147483647ULL * kMs));
  EXPECT_FALSE(ZepScanSrtTiming("", &start, &end));
  EXPECT_FALSE(ZepScanSrtTiming("1:2:3,4 --> 5:6:7", &start, &end));
}

const std::string kHeader =
    "[Script Info]\n; a comment\nTitle: Test script\nScriptType: v4.00+\nPlayResX: 384\n\n"
    "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, Bold\n"
    "Style: Default,Arial,16,&Hffffff,0\n\n[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n";

TEST(AssReader, FieldsEntriesAndCodecPrivate) {
  Ass file(with_line_ends(
      kHeader + "Dialogue: 0,0:00:01.50,0:00:03.00,Default,,0,0,0,,Hello\n"
                "Comment: 0,0:00:02.00,0:00:04.00,Default,,0,0,0,,not kept\n"
                "Dialogue: 1,0:01:02.03,1:00:00.00,Default,Bob,0010,0020,0030,Fx,Text, with, c\n",
      "\r\n"));
  EXPECT_EQ(file.status, ZEP_OK);
  ASSERT_EQ(file.reader.event_count() * 10 + file.reader.style_count(), 21u);
  const CASSReader& r = file.reader;
  EXPECT_EQ(
      (std::vector<std::string_view>{r.event_field(1, ZepAssEventField::kText),
                                     r.event_field(1, ZepAssEventField::kMarked), r.script_info(10),
                                     r.style_field(0, ZepAssStyleField::kPrimaryColour),
                                     r.style_field(0, ZepAssStyleField::kItalic)}),
      (std::vector<std::string_view>{"Text, with, c", "", " 384", "&Hffffff",
                                     ""}));  // PlayResX:, the rest of the line
  // The codec private text runs through the event Format line, with line feeds.
  EXPECT_EQ(file.CodecPrivate(), kHeader);
  EXPECT_EQ(file.All(), (Entries{{"0,0,Default,,0,0,0,,Hello", 15000000, 30000000},
                                 {"1,1,Default,Bob,0010,0020,0030,Fx,Text, with, c",
                                  6203 * 100000ULL, 3600ULL * 10000000}}));
  // Seeking: into the second event, and between events (no move).
  EXPECT_EQ(file.Seek(630000000).first, 620300000);
  EXPECT_EQ(file.Seek(40000000, ZEP_FAIL).first, 40000000);
  // Event times: the text form, garbage and negative times as 0, saturation.
  EXPECT_EQ(
      ZepScanAssTime(" 1:02:03.04") + ZepScanAssTime("garbage") + ZepScanAssTime("-5:00:00.00"),
      37230400000ULL);
  EXPECT_EQ(ZepScanAssTime("99999999999999999999:0:0.0"), uint64_t(kMax));
  ZepTextSubtitleFormat f;
  ASSERT_EQ(file.reader.GetStreamFormat(&f), ZEP_OK);
  EXPECT_EQ(std::memcmp(&f.fourcc, "ASS\0", 4), 0);
  file.reader.Close();
  EXPECT_EQ(
      file.reader.event_count() + file.reader.format_tag() + file.reader.GetCodecPrivateSize(), 0u);
  EXPECT_EQ(file.reader.GetStreamFormat(&f), ZEP_FAIL);
  CASSReader missing;
  EXPECT_EQ(missing.Open(u"/nonexistent/dir/x.ass"), -3);
}

TEST(AssReader, DamagedAndOddEvents) {
  // Events without a Format line: no events and no codec private data.
  Ass noFormat(
      "[Script Info]\nTitle: x\n\n[V4+ Styles]\nStyle: Default,Arial\n\n[Events]\n"
      "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,Lost\n");
  EXPECT_EQ(noFormat.status, ZEP_OK);
  EXPECT_EQ(noFormat.reader.event_count() + noFormat.reader.GetCodecPrivateSize(), 0u);
  EXPECT_TRUE(noFormat.All().empty());
  // Events without times are passed over; an end before the start becomes the start.
  Ass untimed(
      kHeader +
      "Dialogue: 0,,0:00:02.00,Default,,0,0,0,,no start\n"
      "Dialogue: 0,0:00:03.00,0:00:02.00,Default,,0,0,0,,backwards\nDialogue: 0,0:00:04.00\n");
  EXPECT_EQ(untimed.reader.event_count(), 3u);
  EXPECT_EQ(untimed.All(), (Entries{{"1,0,Default,,0,0,0,,backwards", 30000000, 30000000}}));
  // A second Format list decides the order; fields run to the next comma except
  // the last; an unknown name holds a column.
  Ass reordered(kHeader +
                "Format: Start, End, Text, Style, Unknown\n"
                "Dialogue:0:00:01.00,0:00:02.00,first, text,Main,extra,x\n");
  EXPECT_EQ((std::vector<std::string_view>{
                reordered.All()[0].text, reordered.reader.event_field(0, ZepAssEventField::kText),
                reordered.reader.event_field(0, ZepAssEventField::kStyle)}),
            (std::vector<std::string_view>{"0,first, text", "first", " text"}));
  // A long dialogue stays within the entry.
  std::string longText(10, 'x');
  for (int i = 0; i < 400; ++i) longText += "\xE2\x82\xAC";
  Ass longFile(kHeader + "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,," + longText + "\n");
  EXPECT_EQ(longFile.FirstBounded().substr(0, 22), "0,0,Default,,0,0,0,,xx");
}
