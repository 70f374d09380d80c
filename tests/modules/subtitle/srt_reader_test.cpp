// SubRip reader: entries, times, encodings and line ends, damaged timing lines,
// text limits and seeking.
#include "modules/subtitle/srt_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
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

constexpr uint64_t kMs = 10000;  // 100 ns units per millisecond

class SrtFile {
 public:
  explicit SrtFile(const Bytes& content) {
    path_ = dir_.write("test.srt", content);
    status_ = reader_.Open(zep::utf8_to_u16(path_).c_str());
  }
  explicit SrtFile(std::string_view text) : SrtFile(Bytes(text.begin(), text.end())) {}

  std::vector<Entry> All() {
    std::vector<Entry> out;
    ZepTextSubtitleEntry e;
    while (reader_.ReadEntry(&e) == ZEP_OK) out.push_back({e.text, e.start, e.end});
    return out;
  }
  CSRTReader& reader() { return reader_; }
  ZEP_STATUS status() const { return status_; }

 private:
  zeptest::TempDir dir_;
  std::string path_;
  CSRTReader reader_;
  ZEP_STATUS status_;
};

const std::string kTwoEntries =
    "1\n00:00:01,500 --> 00:00:03,000\nHello\nworld\n\n"
    "2\n01:02:03,004 --> 01:02:05,000\nSecond\n";

const std::vector<Entry> kTwoEntriesExpected = {
    {"Hello\nworld", 1500 * kMs, 3000 * kMs},
    {"Second", ((3600 + 120 + 3) * 1000 + 4) * kMs, ((3600 + 120 + 5) * 1000) * kMs},
};

}  // namespace

TEST(SrtReader, ReadsEntriesWithLinesJoinedByLineFeeds) {
  SrtFile file(kTwoEntries);
  EXPECT_EQ(file.status(), ZEP_OK);
  EXPECT_EQ(file.reader().encoding_marker(), 0u);
  EXPECT_EQ(file.All(), kTwoEntriesExpected);
  ZepTextSubtitleEntry e;
  std::memset(&e, 0x55, sizeof e);
  EXPECT_EQ(file.reader().ReadEntry(&e), -9);
  EXPECT_STREQ(e.text, "");
  EXPECT_EQ(e.start, 0u);
  EXPECT_EQ(e.end, 0u);
}

TEST(SrtReader, BomAndLineEndsDoNotChangeTheEntries) {
  const std::string crlf = zeptest::with_line_ends(kTwoEntries, "\r\n");
  EXPECT_EQ(SrtFile(zeptest::utf8_with_bom(crlf)).All(), kTwoEntriesExpected);
  EXPECT_EQ(SrtFile(crlf).All(), kTwoEntriesExpected);
  EXPECT_EQ(SrtFile(zeptest::with_line_ends(kTwoEntries, "\r")).All(), kTwoEntriesExpected);
  // A final terminator or none, and several blank lines between entries.
  EXPECT_EQ(SrtFile(kTwoEntries + "\n\n\n").All(), kTwoEntriesExpected);
  SrtFile bom(zeptest::utf8_with_bom(crlf));
  EXPECT_EQ(bom.reader().encoding_marker(), 0xEFBBBFu);
}

TEST(SrtReader, Utf16FilesEqualTheirUtf8Form) {
  const std::string text =
      "1\n00:00:01,000 --> 00:00:02,000\nÇa va ? — 𝄞\n\n2\n00:00:03,000 --> 00:00:04,000\n日本語\n";
  const auto expected = SrtFile(text).All();
  ASSERT_EQ(expected.size(), 2u);
  for (const char* ends : {"\n", "\r\n"}) {
    const std::string converted = zeptest::with_line_ends(text, ends);
    SrtFile le(zeptest::utf16_le_with_bom(converted));
    SrtFile be(zeptest::utf16_be_with_bom(converted));
    EXPECT_EQ(le.reader().encoding_marker(), 0xFFFEu);
    EXPECT_EQ(be.reader().encoding_marker(), 0xFEFFu);
    EXPECT_EQ(le.All(), expected);
    EXPECT_EQ(be.All(), expected);
  }
}

TEST(SrtReader, EndBeforeStartBecomesStart) {
  const auto entries = SrtFile("1\n00:00:05,000 --> 00:00:04,000\nBackwards\n").All();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].start, 50000000u);
  EXPECT_EQ(entries[0].end, 50000000u);
}

TEST(SrtReader, KeepsNineOfElevenTextLines) {
  std::string text = "1\n00:00:01,000 --> 00:00:02,000\n";
  for (int i = 1; i <= 11; ++i) text += "line" + std::to_string(i) + "\n";
  text += "\n2\n00:00:03,000 --> 00:00:04,000\nafter\n";
  const auto entries = SrtFile(text).All();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0].text, "line1\nline2\nline3\nline4\nline5\nline6\nline7\nline8\nline9");
  EXPECT_EQ(entries[1].text, "after");
}

TEST(SrtReader, LongTextStaysTerminatedWithinTheRecord) {
  std::string text = "1\n00:00:01,000 --> 00:00:02,000\n";
  std::string longLine;
  for (int i = 0; i < 150; ++i) longLine += "\xE2\x82\xAC";  // 450 bytes of euro signs
  for (int i = 0; i < 9; ++i) text += longLine + "\n";
  SrtFile file(text);
  ZepTextSubtitleEntry e;
  ASSERT_EQ(file.reader().ReadEntry(&e), ZEP_OK);
  const size_t length = strnlen(e.text, sizeof e.text);
  ASSERT_LT(length, sizeof e.text);
  // Two whole lines, the separator and as many whole characters as fit.
  EXPECT_EQ(length, 450u + 1 + 450 + 1 + 96);
  EXPECT_EQ(std::string(e.text).substr(0, 451), longLine + "\n");
  EXPECT_NE(static_cast<uint8_t>(e.text[length - 1]) & 0xC0, 0xC0);  // no lead byte left hanging
  EXPECT_EQ(std::string(e.text).substr(902), longLine.substr(0, 96));
}

TEST(SrtReader, DamagedTimingLinesAreSkipped) {
  const std::string text =
      "1\n00:00:01.000 --> 00:00:02.000\nwrong separator\n\n"
      "2\n00:00:03,000 -> 00:00:04,000\nshort arrow\nsecond text line\n\n"
      "3\n00:00:05,000 --> 00:00:06\nend time cut\n\n"
      "4\n00:00:07,000 --> 00:00:08,000 X1:10 X2:20\ngood\n\n"
      "5\n00:00:09,000-->00:00:10,000\nno spaces\n";
  const auto entries = SrtFile(text).All();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], (Entry{"good", 7000 * kMs, 8000 * kMs}));
  EXPECT_EQ(entries[1], (Entry{"no spaces", 9000 * kMs, 10000 * kMs}));
}

TEST(SrtReader, EntriesWithoutTextAreDroppedAndNothingIsSorted) {
  const std::string text =
      "1\n00:00:05,000 --> 00:00:06,000\n\n"
      "2\n00:00:03,000 --> 00:00:04,000\nearlier\n\n"
      "3\n00:00:01,000 --> 00:00:02,000\n  \n";
  const auto entries = SrtFile(text).All();
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].text, "earlier");
}

TEST(SrtReader, NumberLineAtTheEndFailsButKeepsEntries) {
  SrtFile file(kTwoEntries + "\n3\n");
  EXPECT_EQ(file.status(), ZEP_FAIL);
  EXPECT_EQ(file.All(), kTwoEntriesExpected);
}

TEST(SrtReader, MissingFileAndEmptyFile) {
  CSRTReader reader;
  EXPECT_EQ(reader.Open(u"/nonexistent/dir/x.srt"), -3);
  EXPECT_EQ(reader.encoding_marker(), 0xFFFFFFFFu);
  SrtFile empty("");
  EXPECT_EQ(empty.status(), ZEP_OK);
  EXPECT_TRUE(empty.All().empty());
  int64_t t = 0;
  EXPECT_EQ(empty.reader().SeekEntry(&t), -9);
}

TEST(SrtReader, SeekingBetweenEntries) {
  SrtFile file(
      "1\n00:00:02,000 --> 00:00:03,000\nA\n\n"
      "2\n00:00:05,000 --> 00:00:06,000\nB\n\n"
      "3\n00:00:08,000 --> 00:00:09,000\nC\n");
  ZepTextSubtitleEntry e;
  int64_t t = 40000000;  // 4 s: in the gap before B
  EXPECT_EQ(file.reader().SeekEntry(&t), ZEP_OK);
  EXPECT_EQ(t, 50000000);
  ASSERT_EQ(file.reader().ReadEntry(&e), ZEP_OK);
  EXPECT_STREQ(e.text, "B");

  t = 85000000;  // inside C
  EXPECT_EQ(file.reader().SeekEntry(&t), ZEP_OK);
  EXPECT_EQ(t, 80000000);
  ASSERT_EQ(file.reader().ReadEntry(&e), ZEP_OK);
  EXPECT_STREQ(e.text, "C");

  t = 0;  // before the first entry
  EXPECT_EQ(file.reader().SeekEntry(&t), ZEP_OK);
  EXPECT_EQ(t, 20000000);
  ASSERT_EQ(file.reader().ReadEntry(&e), ZEP_OK);
  EXPECT_STREQ(e.text, "A");

  t = 30000000;  // the end of A belongs to A
  EXPECT_EQ(file.reader().SeekEntry(&t), ZEP_OK);
  EXPECT_EQ(t, 20000000);

  t = 100000000;  // after the last end
  EXPECT_EQ(file.reader().SeekEntry(&t), -9);
  EXPECT_EQ(t, -1);
  ASSERT_EQ(file.reader().ReadEntry(&e), ZEP_OK);
  EXPECT_STREQ(e.text, "C");
  EXPECT_EQ(file.reader().ReadEntry(&e), -9);
}

TEST(SrtReader, StreamFormatIsTheTextForm) {
  ZepTextSubtitleFormat f;
  std::memset(&f, 0xAB, sizeof f);
  CSRTReader reader;
  ASSERT_EQ(reader.GetStreamFormat(&f), ZEP_OK);
  EXPECT_EQ(f.kind, 0u);
  EXPECT_EQ(f.width, 640u);
  EXPECT_EQ(f.height, 480u);
  EXPECT_EQ(f.bitsPerPixel, 4u);
  EXPECT_EQ(f.imageSize, 153600u);
  EXPECT_EQ(std::memcmp(&f.compression, "NORV", 4), 0);
  EXPECT_EQ(std::memcmp(&f.fourcc, "NRTX", 4), 0);
  EXPECT_EQ(f.displayHeight, 0u);
  EXPECT_EQ(reader.GetCodecPrivateSize(), 0u);
  EXPECT_EQ(reader.GetCodecPrivate(), nullptr);
}

TEST(SrtReader, TimingArithmeticDoesNotOverflow) {
  uint64_t start = 1, end = 1;
  ASSERT_TRUE(ZepScanSrtTiming("2147483647:59:59,999 --> -1:00:00,000", &start, &end));
  EXPECT_EQ(start, uint64_t(INT64_MAX));
  EXPECT_EQ(end, 0u);
  ASSERT_TRUE(ZepScanSrtTiming("0:0:0,99999999999 --> 0:0:0,2147483647", &start, &end));
  EXPECT_EQ(start, 2147483647ULL * kMs);  // the number saturates as a 32-bit %d
  EXPECT_EQ(end, start);
  EXPECT_FALSE(ZepScanSrtTiming("", &start, &end));
  EXPECT_FALSE(ZepScanSrtTiming("1:2:3,4 --> 5:6:7", &start, &end));
}
