// UTF-16 and narrow string helpers, and the memory functions under them.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"

namespace {

TEST(Memory, AllocationAndRelease) {
  EXPECT_EQ(zep_mem_alloc(0, nullptr), nullptr);
  auto* block = static_cast<unsigned char*>(zep_mem_alloc(64, nullptr));
  ASSERT_NE(block, nullptr);
  for (int i = 0; i < 64; ++i) EXPECT_EQ(block[i], 0);
  EXPECT_EQ(zep_mem_free(block, nullptr), ZEP_OK);
  EXPECT_EQ(zep_mem_free(nullptr, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_mem_alloc(SIZE_MAX, nullptr), nullptr);
  void* menu = zep_mem_alloc_menu_buffer(nullptr);
  ASSERT_NE(menu, nullptr);
  static_cast<unsigned char*>(menu)[ZEP_MENU_BUFFER_SIZE - 1] = 1;
  EXPECT_EQ(zep_mem_free_menu_buffer(menu, nullptr), ZEP_OK);
}

TEST(Time, MillisecondsToHundredNanoseconds) {
  EXPECT_EQ(zep_ms_to_time(1500), 15000000);
  EXPECT_EQ(zep_ms_to_time(-2), -20000);
  EXPECT_EQ(zep_ms_to_time(INT64_MAX / 1000), INT64_MAX);
  EXPECT_EQ(zep_ms_to_time(INT64_MIN / 1000), INT64_MIN);
}

TEST(WideLength, BoundedAtHalfAMillionUnits) {
  std::u16string longest(ZEP_MAX_STRING_LENGTH - 1, u'a');
  EXPECT_EQ(zep_wcslen(longest.c_str()), ZEP_MAX_STRING_LENGTH - 1);
  longest.push_back(u'a');
  EXPECT_EQ(zep_wcslen(longest.c_str()), 0u);
  EXPECT_EQ(zep_wcslen(nullptr), 0u);
  EXPECT_EQ(zep_wcslen(u""), 0u);

  std::string narrow(ZEP_MAX_STRING_LENGTH - 1, 'a');
  EXPECT_EQ(zep_strlen(narrow.c_str()), ZEP_MAX_STRING_LENGTH - 1);
  narrow.push_back('a');
  EXPECT_EQ(zep_strlen(narrow.c_str()), 0u);
  EXPECT_EQ(zep_strlen(nullptr), 0u);

  // An over-long source copies as an empty string.
  zep_wchar_t* copy = zep_wcsdup(longest.c_str(), nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy[0], 0);
  EXPECT_EQ(zep_wcsfree(copy, nullptr), ZEP_OK);
}

TEST(WideAlloc, DupAllocAndFree) {
  zep_wchar_t* s = zep_wcsalloc(4, nullptr);
  ASSERT_NE(s, nullptr);
  for (int i = 0; i < 4; ++i) EXPECT_EQ(s[i], 0);
  EXPECT_EQ(zep_wcsfree(s, nullptr), ZEP_OK);
  EXPECT_EQ(zep_wcsfree(nullptr, nullptr), ZEP_FAIL);
  zep_wchar_t* copy = zep_wcsdup(u"name\u00E9", nullptr);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(std::u16string(copy), u"name\u00E9");
  zep_wcsfree(copy, nullptr);
  EXPECT_EQ(zep_wcsdup(nullptr, nullptr), nullptr);
}

TEST(WideCompare, ExactPrefixAndCaseInsensitive) {
  EXPECT_EQ(zep_wcscmp(u"abc", u"abc"), 0);
  EXPECT_EQ(zep_wcscmp(u"abc", u"abd"), -1);
  EXPECT_EQ(zep_wcscmp(u"abcd", u"abc"), 1);
  // Units compare unsigned: 0xFFFF is above every ASCII letter.
  EXPECT_EQ(zep_wcscmp(u"\uFFFF", u"z"), 1);
  EXPECT_EQ(zep_wcscmp(nullptr, u""), 0);
  EXPECT_EQ(zep_wcscmp(nullptr, u"a"), -1);

  EXPECT_EQ(zep_wcsncmp(u"abcX", u"abcY", 3), 0);
  EXPECT_LT(zep_wcsncmp(u"abcX", u"abcY", 4), 0);
  EXPECT_EQ(zep_wcsncmp(u"ab", u"ab", 10), 0);
  EXPECT_GT(zep_wcsncmp(u"ab", u"a", 10), 0);
  EXPECT_EQ(zep_wcsncmp(u"a", u"b", 0), 0);

  EXPECT_EQ(zep_wcsicmp(u"Movie.MKV", u"movie.mkv"), 0);
  EXPECT_LT(zep_wcsicmp(u"abc", u"ABD"), 0);
  // Folding goes to lower case, so '_' (0x5F) sorts before letters.
  EXPECT_LT(zep_wcsicmp(u"_", u"A"), 0);
  EXPECT_NE(zep_wcsicmp(u"\u00C9", u"\u00E9"), 0);
  EXPECT_GT(zep_wcsicmp(u"ab", u"A"), 0);
}

TEST(WideCopy, CopyFillAndAppend) {
  zep_wchar_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(zep_wcsncpy(buffer, u"abc", 6), ZEP_OK);
  EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"abc\0\0\0##", 8));
  EXPECT_EQ(zep_wcsncpy(buffer, u"abcdefgh", 2), ZEP_OK);
  EXPECT_EQ(buffer[0], u'a');
  EXPECT_EQ(buffer[2], u'c');  // untouched beyond n
  EXPECT_EQ(zep_wcsncpy(nullptr, u"a", 1), ZEP_E_NULL_ARG);

  EXPECT_EQ(zep_wcscpy(buffer, u"ab"), ZEP_OK);
  EXPECT_EQ(zep_wcscat(buffer, u"cd"), ZEP_OK);
  EXPECT_EQ(std::u16string(buffer), u"abcd");
  EXPECT_EQ(zep_wcscat(buffer, u""), ZEP_FAIL);
  EXPECT_EQ(zep_wcscat(buffer, nullptr), ZEP_FAIL);
  EXPECT_EQ(std::u16string(buffer), u"abcd");
  EXPECT_EQ(zep_wcscpy(buffer, nullptr), ZEP_E_NULL_ARG);
}

TEST(WideSearch, FindAndReverseFind) {
  EXPECT_EQ(zep_wcsfind(u"bc", u"abcabc", 0), 1);
  EXPECT_EQ(zep_wcsfind(u"bc", u"abcabc", 2), 4);
  EXPECT_EQ(zep_wcsfind(u"bc", u"abcabc", 5), -1);
  EXPECT_EQ(zep_wcsfind(u"bc", u"abcabc", 6), -1);
  EXPECT_EQ(zep_wcsfind(u"x", u"abc", 0), -1);
  EXPECT_EQ(zep_wcsfind(u"", u"abc", 0), -1);
  EXPECT_EQ(zep_wcsfind(u"abcd", u"abc", 0), -1);
  EXPECT_EQ(zep_wcsfind(u"a", nullptr, 0), -1);

  EXPECT_EQ(zep_wcsrfind(u".", u"name"), -1);
  EXPECT_EQ(zep_wcsrfind(u".", u"a.b.mkv"), 3);
  EXPECT_EQ(zep_wcsrfind(u"ab", u"abab"), 2);
  EXPECT_EQ(zep_wcsrfind(u"ab", u"ab"), 0);
  EXPECT_EQ(zep_wcsrfind(u".", nullptr), -1);
  EXPECT_EQ(zep_wcsrfind(u".", u""), -1);
}

TEST(WideTrim, SpacesOnly) {
  zep_wchar_t text[] = u"title \t  ";
  EXPECT_EQ(zep_wcsrtrim(text), ZEP_OK);
  EXPECT_EQ(std::u16string(text), u"title \t");
  zep_wchar_t spaces[] = u"   ";
  EXPECT_EQ(zep_wcsrtrim(spaces), ZEP_OK);
  EXPECT_EQ(spaces[0], 0);
  EXPECT_EQ(zep_wcsrtrim(nullptr), ZEP_E_NULL_ARG);
}

TEST(NarrowWide, SignExtensionAndLowBytes) {
  zep_wchar_t buffer[8];
  EXPECT_EQ(zep_str_to_wcs_copy(buffer, "a\xE9\x80"), ZEP_OK);
  EXPECT_EQ(std::u16string(buffer), (std::u16string{u'a', 0xFFE9, 0xFF80}));

  zep_wchar_t* wide = zep_str_to_wcs("x\xE9", nullptr);
  ASSERT_NE(wide, nullptr);
  EXPECT_EQ(std::u16string(wide), u"x\uFFE9");
  zep_wcsfree(wide, nullptr);
  EXPECT_EQ(zep_str_to_wcs("", nullptr), nullptr);
  zep_wchar_t* empty = zep_str_to_wcs(nullptr, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(empty[0], 0);
  zep_wcsfree(empty, nullptr);

  char* narrow = zep_wcs_to_str(u"A\u20AC\uFFE9", nullptr);
  ASSERT_NE(narrow, nullptr);
  EXPECT_EQ(std::string(narrow), "A\xAC\xE9");
  zep_mem_free(narrow, nullptr);
  EXPECT_EQ(zep_wcs_to_str(nullptr, nullptr), nullptr);
}

}  // namespace
