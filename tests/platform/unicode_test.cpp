// UTF-8 / UTF-16 / code point conversions: the lenient C functions and the
// strict C++ helpers.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"

namespace {

const uint8_t* bytes_of(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

TEST(Utf8Decode, LengthByLeadByte) {
  // Continuation bytes are taken as they are, overlong forms are not refused
  // and a 4-byte lead carries up to 0x1FFFFF; invalid leads and sequences cut
  // by the terminator leave *cp alone.
  const struct {
    const char* bytes;
    int32_t length;
    uint32_t codePoint;
  } cases[] = {// clang-format off
      {"A", 1, 0x41}, {"\xC3\xA9", 2, 0xE9}, {"\xE2\x82\xAC", 3, 0x20AC},
      {"\xF0\x9F\x98\x80", 4, 0x1F600}, {"\xC3\x41", 2, (0x03u << 6) | 0x01}, {"\xC0\x80", 2, 0},
      {"\xF7\xBF\xBF\xBF", 4, 0x1FFFFF}, {"\x80", 0, 0xDEAD}, {"\xF8\x80\x80\x80\x80", 0, 0xDEAD},
      {"\xFF", 0, 0xDEAD}, {"\xC3", 0, 0xDEAD}, {"\xE2\x82", 0, 0xDEAD}, {"\xF0\x9F\x98", 0, 0xDEAD}};
  // clang-format on
  for (const auto& c : cases) {
    uint32_t cp = 0xDEAD;
    EXPECT_EQ((std::pair{zep_utf8_decode(bytes_of(c.bytes), 0, &cp), cp}),
              std::pair(c.length, c.codePoint))
        << c.bytes;
  }
  uint32_t cp = 0;
  EXPECT_EQ((std::pair{zep_utf8_decode(bytes_of("ab\xC3\xA9"), 2, &cp), cp}), std::pair(2, 0xE9u));
}

TEST(Utf8AndUtf16, EncodeAndDecodeSurrogates) {
  uint8_t out[4];
  EXPECT_EQ((std::vector{zep_utf8_encode(0x7F, out), zep_utf8_encode(0x80, out),
                         zep_utf8_encode(0x7FF, out), zep_utf8_encode(0x800, out),
                         zep_utf8_encode(0xFFFF, out), zep_utf8_encode(0x110000, out),
                         zep_utf8_encode(0x10FFFF, out)}),
            (std::vector{1, 2, 2, 3, 3, -1, 4}));
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 4), "\xF4\x8F\xBF\xBF");
  uint32_t cp = 0;
  EXPECT_EQ((std::pair{zep_utf16_decode(u"\U0001F600", 0, &cp), cp}), std::pair(2, 0x1F600u));
  EXPECT_EQ((std::pair{zep_utf16_decode(u"A", 0, &cp), cp}), std::pair(1, 0x41u));
  // A low surrogate first, a high one at the end or before a letter.
  const zep_wchar_t bad[][3] = {{0xDE00, 0xD83D, 0}, {0xD83D, 0, 0}, {0xD83D, u'A', 0}};
  for (const auto& units : bad) EXPECT_EQ(zep_utf16_decode(units, 0, &cp), -1);
  zep_wchar_t units[2];
  EXPECT_EQ(zep_utf16_encode(0xFFFD, units), 1);
  EXPECT_EQ(units[0], 0xFFFD);
  EXPECT_EQ((std::vector{zep_utf16_encode(0x110000, units), zep_utf16_encode(0x10FFFF, units)}),
            (std::vector{-1, 2}));
  EXPECT_EQ(std::u16string(units, 2), (std::u16string{0xDBFF, 0xDFFF}));
}

TEST(CodePoints, InvalidLeadRepeatsThePreviousCodePoint) {
  uint32_t out[16];
  EXPECT_EQ(zep_utf8_to_codepoints(bytes_of("a\x80\xC3\xA9\xFF"), out), 4);
  EXPECT_EQ(std::vector<uint32_t>(out, out + 4), (std::vector<uint32_t>{0x61, 0x61, 0xE9, 0xE9}));
  EXPECT_EQ(zep_utf8_to_codepoints(bytes_of("\x80z"), out), 2);
  EXPECT_EQ(out[0], 0u);
  // A sequence cut by the terminator: each of its bytes counts as invalid.
  EXPECT_EQ(zep_utf8_to_codepoints(bytes_of("x\xE2\x82"), out), 3);
  EXPECT_EQ(out[2], 0x78u);
  EXPECT_EQ(zep_utf16_to_codepoints(u"a\U0001F600b", out), 3);
  EXPECT_EQ(out[1], 0x1F600u);
  const zep_wchar_t unpaired[] = {u'a', 0xDC00, 0};
  EXPECT_EQ(
      (std::vector{zep_utf8_to_codepoints(bytes_of(""), out), zep_utf8_to_codepoints(nullptr, out),
                   zep_utf8_to_codepoints(bytes_of("ab\xC3\xA9"), nullptr),
                   zep_utf16_to_codepoints(unpaired, out), zep_utf16_to_codepoints(nullptr, out)}),
      (std::vector{0, -1, 3, -1, -1}));
}

TEST(Utf8ToUtf16, ConvertsIntoTheCallersBuffer) {
  zep_wchar_t out[16];
  EXPECT_EQ(zep_utf8_to_utf16(bytes_of("h\xC3\xA9\xF0\x9F\x98\x80"), out), 4);
  EXPECT_EQ(std::u16string(out), u"h\u00E9\U0001F600");
  // A 4-byte lead can carry values above U+10FFFF: they add nothing.
  EXPECT_EQ(zep_utf8_to_utf16(bytes_of("a\xF7\xBF\xBF\xBF"
                                       "b"),
                              out),
            2);
  EXPECT_EQ(std::u16string(out), u"ab");
  EXPECT_EQ((std::vector{zep_utf8_to_utf16(bytes_of(""), out), zep_utf8_to_utf16(nullptr, out),
                         zep_utf8_to_utf16(bytes_of("a"), nullptr)}),
            (std::vector{0, -1, -1}));
  EXPECT_EQ(out[0], 0);
  // An emoji followed by stray continuation bytes: each repeats the emoji (two
  // units for one byte), which used to outgrow one unit per input byte.
  const std::string input = "\xF0\x9F\x98\x80" + std::string(8, '\x80');
  std::vector<zep_wchar_t> buffer(input.size() + 1 + 8, 0x7777);
  ASSERT_EQ(zep_utf8_to_utf16(bytes_of(input.c_str()), buffer.data()), 12);
  std::u16string expected;
  for (int i = 0; i < 6; ++i) expected += u"\U0001F600";
  expected += std::u16string(1, u'\0') + std::u16string(8, 0x7777);
  EXPECT_EQ(std::u16string(buffer.begin(), buffer.end()), expected);
}

TEST(StrictHelpers, InvalidInputBecomesReplacementCharacters) {
  // Overlong forms, an encoded surrogate, a value above U+10FFFF; a truncated
  // sequence is one replacement and the next character survives.
  const std::pair<std::string, std::u16string> cases[] = {
      // clang-format off
      {"plain \xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80", u"plain \u00E9\u20AC\U0001F600"},
      {"\xC0\x80", u"\uFFFD\uFFFD"}, {"\xE0\x80\x80", u"\uFFFD\uFFFD\uFFFD"},
      {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"}, {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"},
      {"\xE2\x82x", u"\uFFFDx"}, {"\xF0\x9F\x98", u"\uFFFD"}, {"\x80\xBF", u"\uFFFD\uFFFD"},
      {std::string("a\0b", 3), std::u16string(u"a\0b", 3)}};
  // clang-format on
  for (const auto& [utf8, utf16] : cases) EXPECT_EQ(zep::utf8_to_u16(utf8), utf16) << utf8;
  // Unpaired surrogates, high before a letter or low first.
  EXPECT_EQ(zep::u16_to_utf8(std::u16string{u'a', 0xD800, u'b', 0xDC00, 0xD800}),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(zep::u16_to_utf8(static_cast<const zep_wchar_t*>(nullptr)), "");
}

}  // namespace
