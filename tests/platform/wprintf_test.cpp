// Formatting into UTF-16: numeric conversions read exactly like the C
// library's wide printf; strings and characters are UTF-16 units.
#include <limits.h>
#include <stdarg.h>
#include <wchar.h>

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"

namespace {

int32_t measure(const zep_wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const int32_t n = zep_vscwprintf(format, args);
  va_end(args);
  return n;
}

ZEP_STATUS format_into(zep_wchar_t* buffer, size_t n, const zep_wchar_t* format, ...) {
  va_list args;
  va_start(args, format);
  const ZEP_STATUS status = zep_vsnwprintf(buffer, n, format, args);
  va_end(args);
  return status;
}

// Measures, then formats into a buffer of exactly the measured size.
std::u16string format(const zep_wchar_t* format, ...) {
  va_list args, again;
  va_start(args, format);
  va_copy(again, args);
  const int32_t length = zep_vscwprintf(format, args);
  std::vector<zep_wchar_t> buffer(size_t(length < 0 ? 0 : length) + 1, 0x7777);
  const bool fits =
      length >= 0 && zep_vsnwprintf(buffer.data(), buffer.size(), format, again) == ZEP_OK;
  va_end(again);
  va_end(args);
  return length < 0 ? u"<invalid>" : fits ? std::u16string(buffer.data()) : u"<did not fit>";
}

// The C library's wide printf (32-bit wchar_t), turned into UTF-16.
std::u16string reference(const wchar_t* format, ...) {
  wchar_t buffer[1024];
  va_list args;
  va_start(args, format);
  const int n = vswprintf(buffer, 1024, format, args);
  va_end(args);
  std::u16string text;
  for (int i = 0; i < n; ++i) {
    zep_wchar_t units[2];
    text.append(units, size_t(zep_utf16_encode(uint32_t(buffer[i]), units)));
  }
  return n < 0 ? u"<reference failed>" : text;
}

#define EXPECT_LIKE_SWPRINTF(fmt, ...) \
  EXPECT_EQ(format(u"" fmt, __VA_ARGS__), reference(L"" fmt, __VA_ARGS__)) << fmt

TEST(WidePrintf, NumbersLikeTheCLibrary) {
  EXPECT_LIKE_SWPRINTF("[%d|%i|%5d|%-5d|%05d|%+d|% d|%.3d|%8.3d|%.0d]", -42, 7, 42, 42, -42, 42, 42,
                       7, -7, 0);
  EXPECT_LIKE_SWPRINTF("[%hhd|%hd|%hhu|%hu|%ld|%lld|%llu]", 300, 70000, 300, 70000, LONG_MIN,
                       LLONG_MIN, ULLONG_MAX);
  EXPECT_LIKE_SWPRINTF("[%u|%x|%X|%#x|%#X|%o|%#o|%#10.4llx]", -1, 0xBEEF, 0xBEEF, 255, 0, 8, 8,
                       0x1234ULL);
  EXPECT_LIKE_SWPRINTF("[%zu|%zd|%jd|%td]", size_t(12), ptrdiff_t(-3), intmax_t(INTMAX_MIN),
                       ptrdiff_t(-9));
  EXPECT_LIKE_SWPRINTF("[%*d|%-*d|%.*d|%*d|%.*d]", 6, 1, 6, 2, 4, 3, -4, 5, -1, 17);
  EXPECT_LIKE_SWPRINTF("[%f|%.2f|%10.3f|%-10.1f|%+.0f|%010.2f]", 3.14159, 2.005, -1.5, 2.25, 2.5,
                       -3.75);
  EXPECT_LIKE_SWPRINTF("[%e|%E|%.3e|%g|%G|%g|%#g]", 12345.678, 0.000123, 1e300, 0.0001, 1e-10,
                       100000.0, 1.0);
  EXPECT_LIKE_SWPRINTF("[%a|%A|%f|%F|%Lf|%.3Le]", 1.0, 255.5, 1.0 / 0.0, -1.0 / 0.0,
                       (long double)1.25, (long double)3e5);
  EXPECT_LIKE_SWPRINTF("[%p|%20p|%-20p|%p]", (void*)0x1234, (void*)0xABCDEF, (void*)1,
                       (void*)nullptr);
  EXPECT_LIKE_SWPRINTF("[100%%|%c|%5c|%-3c|%s]", 'x', L'y', L'z', L"");
}

TEST(WidePrintf, StringsAndCharactersAreUtf16) {
  const zep_wchar_t unterminated[3] = {u'a', u'b', u'c'};  // precision never reads past it
  const zep_wchar_t* const none = nullptr;
  EXPECT_EQ(format(u"<%s|%8s|%-6s|%.2s|%6.1s|%.3s>", u"caf\u00E9 \U0001F600", u"ab", u"cd", u"efgh",
                   u"ij", unterminated),
            u"<caf\u00E9 \U0001F600|      ab|cd    |ef|     i|abc>");
  EXPECT_EQ(format(u"<%ls|%ws|%hs|%S|%.3hs>", u"l", u"w", "caf\xC3\xA9", "n", "abcdef"),
            u"<l|w|caf\u00E9|n|abc>");
  EXPECT_EQ(format(u"<%c%c|%hc|%lc>", 0xD83D, 0xDE00, 'A', 0x20AC), u"<\U0001F600|A|\u20AC>");
  EXPECT_EQ(format(u"<%s|%.3s|%hs>", none, none, (const char*)nullptr), u"<(null)||(null)>");
  // Literal text keeps every unit, a lone surrogate included.
  const zep_wchar_t lone[] = {u'[', 0xDC00, u'%', u'd', u']', 0};
  const zep_wchar_t expected[] = {u'[', 0xDC00, u'7', u']', 0};
  EXPECT_EQ(format(lone, 7), std::u16string(expected));
  // The size prefixes of the Windows run-time.
  EXPECT_EQ(format(u"%I64d|%I64u|%I32d|%Id", INT64_MIN, UINT64_MAX, -5, ptrdiff_t(-6)),
            u"-9223372036854775808|18446744073709551615|-5|-6");
}

TEST(WidePrintf, MeasureCountsUnitsAndRefusesInvalidFormats) {
  int written = 0;
  // A huge field is counted without being built.
  EXPECT_EQ((std::vector{measure(u"%s", u"\U0001F600"), measure(u"%d-%5s", 123, u"x"),
                         measure(nullptr), measure(u"%*d", 100000000, 1),
                         measure(u"%.*f", 1000, 1.0), measure(u"%n", &written), measure(u"%y", 1),
                         measure(u"abc%"), measure(u"%99999999999d", 1), measure(u"%\u00E9", 1)}),
            (std::vector{2, 9, 0, 100000000, 1002, -1, -1, -1, -1, -1}));
  zep_wchar_t buffer[8];
  EXPECT_EQ(format_into(buffer, 8, u"%n", &written), ZEP_FAIL);
  EXPECT_EQ(written, 0);
}

TEST(WidePrintf, BoundedOutput) {
  zep_wchar_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), 0x7777);
  EXPECT_EQ((std::vector{format_into(buffer, 0, u"x"), format_into(nullptr, 8, u"x"),
                         format_into(buffer, 8, nullptr)}),
            std::vector(3, ZEP_E_NULL_ARG));
  EXPECT_EQ(buffer[0], 0x7777);
  // Exactly n - 1 units fit; the rest of the n units is cleared.
  EXPECT_EQ(format_into(buffer, 5, u"%d", 1234), ZEP_OK);
  EXPECT_EQ(std::u16string(buffer), u"1234");
  EXPECT_EQ(format_into(buffer, 6, u"%s", u"ab"), ZEP_OK);
  EXPECT_EQ(std::u16string(buffer, 7), std::u16string(u"ab\0\0\0\0\u7777", 7));
  // One more does not fit: the beginning is kept and terminated.
  EXPECT_EQ(format_into(buffer, 5, u"%d", 12345), ZEP_FAIL);
  EXPECT_EQ(std::u16string(buffer, 6), std::u16string(u"1234\0\0", 6));
  EXPECT_EQ(format_into(buffer, 4, u"%*d", 100000000, 7), ZEP_FAIL);
  EXPECT_EQ(std::u16string(buffer), u"   ");
  EXPECT_EQ(format_into(buffer, 4, u"%-*s", 100000000, u"ab"), ZEP_FAIL);
  EXPECT_EQ(std::u16string(buffer), u"ab ");
  EXPECT_EQ(format_into(buffer, 1, u"abc"), ZEP_FAIL);
  EXPECT_EQ(std::u16string(buffer, 7), std::u16string(u"\0"
                                                      "b \0\0\0\u7777",
                                                      7));
}

}  // namespace
