// Text tools of the subtitle readers: character-safe cuts, blank lines and the
// scanf-like number scanner with its saturation.
#include "modules/subtitle/subtitle_text.h"

#include <gtest/gtest.h>

#include <limits>

using namespace zep::subtitle;

TEST(SubtitleText, CutsNeverSplitACharacter) {
  const std::string text = "a\xC3\xA9\xE2\x82\xAC";  // a, e-acute (2 bytes), euro sign (3 bytes)
  EXPECT_EQ(Utf8PrefixLength(text, 10), 6u);
  EXPECT_EQ(Utf8PrefixLength(text, 6), 6u);
  EXPECT_EQ(Utf8PrefixLength(text, 5), 3u);
  EXPECT_EQ(Utf8PrefixLength(text, 4), 3u);
  EXPECT_EQ(Utf8PrefixLength(text, 2), 1u);
  EXPECT_EQ(Utf8PrefixLength(text, 0), 0u);

  std::string out = "ab";
  EXPECT_TRUE(AppendBounded(&out, "cd", 5));
  EXPECT_EQ(out, "abcd");
  EXPECT_FALSE(AppendBounded(&out, "\xC3\xA9", 5));  // would need 6 bytes
  EXPECT_EQ(out, "abcd");
  EXPECT_FALSE(AppendBounded(&out, "x", 4));
  EXPECT_EQ(out, "abcd");
}

TEST(SubtitleText, BlankLines) {
  EXPECT_TRUE(IsBlankLine(""));
  EXPECT_TRUE(IsBlankLine(" \t\x01\x7F"));
  EXPECT_TRUE(IsBlankLine("\xC2\xA0\xE3\x80\x80"));  // no-break space, ideographic space
  EXPECT_FALSE(IsBlankLine(" 1 "));
  EXPECT_FALSE(IsBlankLine("\xFF"));  // no valid UTF-8: a character that shows
  EXPECT_FALSE(IsBlankLine("\xC3\xA9"));
}

TEST(SubtitleText, ScannerFollowsScanfRules) {
  FormatScanner scan("  12:-3, +4");
  int64_t a = 0, b = 0, c = 0;
  ASSERT_TRUE(scan.Number(&a, -100, 100));
  ASSERT_TRUE(scan.Literal(':'));
  ASSERT_TRUE(scan.Number(&b, -100, 100));
  ASSERT_TRUE(scan.Literal(','));
  ASSERT_TRUE(scan.Number(&c, -100, 100));
  EXPECT_EQ(a, 12);
  EXPECT_EQ(b, -3);
  EXPECT_EQ(c, 4);
  EXPECT_FALSE(scan.Number(&a, -100, 100));

  FormatScanner noDigits("-:");
  EXPECT_FALSE(noDigits.Number(&a, -100, 100));
  EXPECT_TRUE(noDigits.Literal('-'));  // nothing was consumed

  FormatScanner huge("99999999999999999999999 -99999999999999999999999 500");
  ASSERT_TRUE(huge.Number(&a, -1000, 1000));
  ASSERT_TRUE(huge.Number(&b, -1000, 1000));
  ASSERT_TRUE(huge.Number(&c, -1000, 1000));
  EXPECT_EQ(a, 1000);
  EXPECT_EQ(b, -1000);
  EXPECT_EQ(c, 500);
}

TEST(SubtitleText, ClockArithmeticSaturates) {
  EXPECT_EQ(ClockToTime(1, 2, 3, 450, 1000, 10000), ((3600 + 120 + 3) * 1000 + 450) * 10000LL);
  EXPECT_EQ(ClockToTime(0, 0, -5, 0, 1000, 10000), 0);
  EXPECT_EQ(ClockToTime(std::numeric_limits<int64_t>::max(), 0, 0, 0, 100, 100000),
            std::numeric_limits<int64_t>::max());
}
