// Reading subtitle markup into styled characters.
#include <gtest/gtest.h>

#include <string>

#include "modules/subtitle/subtitle_render.h"

namespace {

std::vector<ZepSubtitleStyledChar> parse(const std::string& text) {
  return zep_subtitle_parse_markup(text.data(), text.size());
}

std::u32string codes(const std::vector<ZepSubtitleStyledChar>& chars) {
  std::u32string out;
  for (const auto& c : chars) out.push_back(c.code);
  return out;
}

}  // namespace

TEST(SubtitleMarkup, TagsAreNotDrawnAndStylesNest) {
  const auto chars = parse("a<i>b<u>c</u>d</i>e");
  ASSERT_EQ(codes(chars), U"abcde");
  EXPECT_EQ(chars[0].style, ZepSubtitleTextStyle{});
  EXPECT_TRUE(chars[1].style.italic);
  EXPECT_FALSE(chars[1].style.underline);
  EXPECT_TRUE(chars[2].style.italic);
  EXPECT_TRUE(chars[2].style.underline);
  EXPECT_TRUE(chars[3].style.italic);
  EXPECT_FALSE(chars[3].style.underline);
  EXPECT_EQ(chars[4].style, ZepSubtitleTextStyle{});
  EXPECT_TRUE(chars[0].style.bold);  // the first face is asked bold
}

TEST(SubtitleMarkup, OpeningTagsAreExactAndCaseSensitive) {
  const auto chars = parse("<I>a<B>b<s>c<x>d</>e<br/>f");
  ASSERT_EQ(codes(chars), U"abcdef");
  EXPECT_FALSE(chars[0].style.italic);  // "I" is no tag we know
  EXPECT_TRUE(chars[2].style.strikeThrough);
  EXPECT_TRUE(chars[3].style.strikeThrough);   // "x" opens nothing
  EXPECT_FALSE(chars[4].style.strikeThrough);  // "/" closes the innermost
  EXPECT_FALSE(chars[5].style.strikeThrough);  // "br/" closes, nothing is open
}

TEST(SubtitleMarkup, FontColor) {
  auto chars = parse("<font color=\"#ff8000\">a<font face=\"Arial\" size=\"3\">b</font>c</font>d");
  ASSERT_EQ(codes(chars), U"abcd");
  EXPECT_EQ(chars[0].style.color, 0xFF8000u);
  // A font tag without colour opens no style, so its end tag closes the colour.
  EXPECT_EQ(chars[1].style.color, 0xFF8000u);
  EXPECT_EQ(chars[2].style.color, 0xFFFFFFu);
  EXPECT_EQ(chars[3].style.color, 0xFFFFFFu);

  chars = parse(
      "<font face=\"x\" color=\"#00FF00\">a</font>b<font color=\"#12345\">c<font color=\"red\">d"
      "<font color=#FF0000>e");
  ASSERT_EQ(codes(chars), U"abcde");
  EXPECT_EQ(chars[4].style.color, 0xFFFFFFu);  // attribute values are quoted
  EXPECT_EQ(chars[0].style.color, 0x00FF00u);
  EXPECT_EQ(chars[1].style.color, 0xFFFFFFu);
  EXPECT_EQ(chars[2].style.color, 0xFFFFFFu);
  EXPECT_EQ(chars[3].style.color, 0xFFFFFFu);
}

TEST(SubtitleMarkup, QuotesHideTagEndsAndUnclosedTagsEndTheText) {
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
  EXPECT_EQ(codes(parse("\xC0\xAF")), U"\uFFFD\uFFFD");
  EXPECT_EQ(codes(parse("\xED\xA0\x80")), U"\uFFFD\uFFFD\uFFFD");
  EXPECT_TRUE(zep_subtitle_parse_markup(nullptr, 5).empty());
}
