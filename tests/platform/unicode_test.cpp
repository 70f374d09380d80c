// UTF-8 / UTF-16 / code point conversions: the lenient C functions and the
// strict C++ helpers.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"

namespace {

const uint8_t* bytes_of(const char* s) { return reinterpret_cast<const uint8_t*>(s); }

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
