// Line reading in the three encodings: every line end form, the last line
// without terminator, overlong lines and broken UTF-16.
#include "modules/subtitle/text_line_reader.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/subtitle/subtitle_text.h"
#include "tests/support/text_encoding.h"

using namespace zep::subtitle;
using zeptest::Bytes;

namespace {

std::vector<std::string> ReadLines(const Bytes& content) {
  zeptest::TempDir dir;
  const std::string path = dir.write("lines.txt", content);
  ZepFile* file = nullptr;
  EXPECT_EQ(zep_file_open(zep::utf8_to_u16(path).c_str(), ZEP_FILE_READ, &file, nullptr), 0);
  if (file == nullptr) return {};
  const uint32_t marker = EncodingMarkerOf(content.data(), static_cast<uint32_t>(content.size()));
  TextLineReader reader(file, marker);
  std::vector<std::string> lines;
  std::string line;
  while (reader.Next(&line)) lines.push_back(line);
  zep_file_close(file);
  return lines;
}

Bytes AsBytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

const std::vector<std::string> kExpected = {"first", "", "second line", "3"};
const std::string kText = "first\n\nsecond line\n3\n";

}  // namespace

TEST(TextLineReader, EncodingMarkers) {
  const uint8_t le[] = {0xFF, 0xFE, 0x31, 0x00};
  const uint8_t be[] = {0xFE, 0xFF, 0x00, 0x31};
  const uint8_t u8[] = {0xEF, 0xBB, 0xBF, 0x31};
  const uint8_t none[] = {0x31, 0x0A};
  EXPECT_EQ(EncodingMarkerOf(le, 4), kMarkerUtf16LE);
  EXPECT_EQ(EncodingMarkerOf(be, 4), kMarkerUtf16BE);
  EXPECT_EQ(EncodingMarkerOf(u8, 4), kMarkerUtf8);
  EXPECT_EQ(EncodingMarkerOf(u8, 2), kMarkerNone);
  EXPECT_EQ(EncodingMarkerOf(none, 2), kMarkerNone);
}

TEST(TextLineReader, EveryLineEndGivesTheSameLines) {
  EXPECT_EQ(ReadLines(AsBytes(kText)), kExpected);
  EXPECT_EQ(ReadLines(AsBytes(zeptest::with_line_ends(kText, "\r\n"))), kExpected);
  EXPECT_EQ(ReadLines(AsBytes(zeptest::with_line_ends(kText, "\r"))), kExpected);
  EXPECT_EQ(ReadLines(zeptest::utf8_with_bom(zeptest::with_line_ends(kText, "\r\n"))), kExpected);
  // Mixed ends in one file; LF CR is two line ends.
  EXPECT_EQ(ReadLines(AsBytes("a\r\nb\nc\rd\n\re\n")),
            (std::vector<std::string>{"a", "b", "c", "d", "", "e"}));
}

TEST(TextLineReader, Utf16FilesEqualTheirUtf8Form) {
  const std::string text = "Grüße\n€ und 𝄞\n\nend\n";  // includes a surrogate pair
  const auto utf8 = ReadLines(AsBytes(text));
  ASSERT_EQ(utf8.size(), 4u);
  for (const char* ends : {"\n", "\r\n", "\r"}) {
    const std::string converted = zeptest::with_line_ends(text, ends);
    EXPECT_EQ(ReadLines(zeptest::utf16_le_with_bom(converted)), utf8)
        << "LE, ends " << int(ends[0]);
    EXPECT_EQ(ReadLines(zeptest::utf16_be_with_bom(converted)), utf8)
        << "BE, ends " << int(ends[0]);
  }
}

TEST(TextLineReader, LastLineWithoutTerminatorIsKept) {
  EXPECT_EQ(ReadLines(AsBytes("one\ntwo")), (std::vector<std::string>{"one", "two"}));
  EXPECT_EQ(ReadLines(zeptest::utf16_le_with_bom("one\r\ntwo")),
            (std::vector<std::string>{"one", "two"}));
  EXPECT_TRUE(ReadLines(AsBytes("")).empty());
  EXPECT_TRUE(ReadLines(zeptest::utf8_with_bom("")).empty());
}

TEST(TextLineReader, OverlongLinesAreCutAtACharacterBoundary) {
  std::string longLine;
  for (int i = 0; i < 800; ++i) longLine += "\xC3\xA9";  // 1600 bytes of e-acute
  const std::string text = longLine + "\nnext\n";  // a cut after 999 bytes would split a character
  for (const Bytes& content :
       {AsBytes(text), zeptest::utf16_le_with_bom(text), zeptest::utf16_be_with_bom(text)}) {
    const auto lines = ReadLines(content);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], longLine.substr(0, 998));  // 499 whole characters
    EXPECT_EQ(lines[1], "next");
  }
  // A line of exactly 999 bytes is whole; the rest of a longer ASCII line is dropped.
  const std::string exact(999, 'a');
  EXPECT_EQ(ReadLines(AsBytes(exact + "\n" + exact + "bbb\n")),
            (std::vector<std::string>{exact, exact}));
}

TEST(TextLineReader, DamagedBytesStayInsideTheLine) {
  // A zero byte ends the line's text; the rest of the line is dropped.
  EXPECT_EQ(ReadLines(Bytes{'a', 0, 'b', '\n', 'c'}), (std::vector<std::string>{"a", "c"}));
  // A lone high surrogate, a lone low surrogate and an odd last byte.
  zeptest::ByteWriter w;
  w.le16(0xFEFF).le16('a').le16(0xD800).le16('b').le16(0xDC00).le16('\n').u8('c');
  EXPECT_EQ(ReadLines(w.take()), (std::vector<std::string>{"a\xEF\xBF\xBD"
                                                           "b\xEF\xBF\xBD"}));
  // Byte-swapped line ends of UTF-16 files written with the wrong order.
  zeptest::ByteWriter swapped;
  swapped.le16(0xFEFF).le16('a').le16(0x0D00).le16(0x0A00).le16('b').le16(0x0A00);
  EXPECT_EQ(ReadLines(swapped.take()), (std::vector<std::string>{"a", "b"}));
}
