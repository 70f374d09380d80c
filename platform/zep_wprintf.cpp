// Formatted output into UTF-16 text.
//
// The format is UTF-16 and "%s" takes a UTF-16 string (as in the wide printf
// of the system the library comes from: "%hs" and "%S" take a narrow one).
// Literal text and string arguments are copied unit by unit; every numeric
// conversion is formatted by the C library's snprintf with the same flags,
// width and precision and then widened, so the text is what a wide printf
// gives. Output is counted in full but stored only up to the caller's room,
// so a huge width never turns into a huge allocation.
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>

#include <limits>
#include <string>

#include "platform/zep_platform.h"

namespace {

// Collects formatted units: counts all of them, stores the first `capacity`.
class UnitSink {
 public:
  UnitSink(zep_wchar_t* buffer, size_t capacity) : buffer_(buffer), capacity_(capacity) {}

  void put(zep_wchar_t unit) {
    if (count_ < capacity_) buffer_[count_] = unit;
    ++count_;
  }
  void put(const zep_wchar_t* units, size_t n) {
    const size_t stored = n < room() ? n : room();
    for (size_t i = 0; i < stored; ++i) buffer_[count_ + i] = units[i];
    count_ += n;
  }
  void repeat(zep_wchar_t unit, size_t n) {
    const size_t stored = n < room() ? n : room();
    for (size_t i = 0; i < stored; ++i) buffer_[count_ + i] = unit;
    count_ += n;
  }
  // Units that are counted but fall beyond the room.
  void skip(size_t n) { count_ += n; }
  size_t room() const { return count_ < capacity_ ? capacity_ - count_ : 0; }
  size_t count() const { return count_; }

 private:
  zep_wchar_t* buffer_;
  size_t capacity_;
  size_t count_ = 0;
};

enum class Length {
  kNone,
  kChar,
  kShort,
  kLong,
  kLongLong,
  kIntMax,
  kSize,
  kPtrDiff,
  kLongDouble,
  kWide,
  kNarrow,
  kInt32
};

struct ConversionSpec {
  bool minus = false;
  bool plus = false;
  bool space = false;
  bool hash = false;
  bool zero = false;
  int width = 0;
  int precision = -1;  // negative: none given
  Length length = Length::kNone;
  char conversion = 0;
};

bool is_digit(zep_wchar_t c) { return c >= u'0' && c <= u'9'; }

// Reads a decimal number; false when it does not fit an int.
bool read_number(const zep_wchar_t* format, size_t& i, int& value) {
  long long v = 0;
  while (is_digit(format[i])) {
    v = v * 10 + (format[i] - u'0');
    if (v > std::numeric_limits<int>::max()) return false;
    ++i;
  }
  value = static_cast<int>(v);
  return true;
}

// Parses the conversion after a '%' at format[i - 1]; i ends after it.
bool parse_spec(const zep_wchar_t* format, size_t& i, va_list& args, ConversionSpec& spec) {
  for (;; ++i) {
    const zep_wchar_t c = format[i];
    if (c == u'-')
      spec.minus = true;
    else if (c == u'+')
      spec.plus = true;
    else if (c == u' ')
      spec.space = true;
    else if (c == u'#')
      spec.hash = true;
    else if (c == u'0')
      spec.zero = true;
    else
      break;
  }
  if (format[i] == u'*') {
    ++i;
    const int w = va_arg(args, int);
    if (w < 0) {
      spec.minus = true;
      if (w == std::numeric_limits<int>::min()) return false;
      spec.width = -w;
    } else {
      spec.width = w;
    }
  } else if (!read_number(format, i, spec.width)) {
    return false;
  }
  if (format[i] == u'.') {
    ++i;
    if (format[i] == u'*') {
      ++i;
      const int p = va_arg(args, int);
      spec.precision = p < 0 ? -1 : p;
    } else if (!read_number(format, i, spec.precision)) {
      return false;
    }
  }
  switch (format[i]) {
    case u'h':
      ++i;
      if (format[i] == u'h') {
        ++i;
        spec.length = Length::kChar;
      } else {
        spec.length = Length::kShort;
      }
      break;
    case u'l':
      ++i;
      if (format[i] == u'l') {
        ++i;
        spec.length = Length::kLongLong;
      } else {
        spec.length = Length::kLong;
      }
      break;
    case u'q':
      ++i;
      spec.length = Length::kLongLong;
      break;
    case u'L':
      ++i;
      spec.length = Length::kLongDouble;
      break;
    case u'j':
      ++i;
      spec.length = Length::kIntMax;
      break;
    case u'z':
      ++i;
      spec.length = Length::kSize;
      break;
    case u't':
      ++i;
      spec.length = Length::kPtrDiff;
      break;
    case u'w':
      ++i;
      spec.length = Length::kWide;
      break;
    case u'I':
      // The size prefixes I64, I32 and I of the wide printf the formats come
      // from.
      ++i;
      if (format[i] == u'6' && format[i + 1] == u'4') {
        i += 2;
        spec.length = Length::kLongLong;
      } else if (format[i] == u'3' && format[i + 1] == u'2') {
        i += 2;
        spec.length = Length::kInt32;
      } else {
        spec.length = Length::kPtrDiff;
      }
      break;
    default:
      break;
  }
  const zep_wchar_t conversion = format[i];
  if (conversion == 0 || conversion > 0x7F) return false;
  spec.conversion = static_cast<char>(conversion);
  ++i;
  return true;
}

long long fetch_signed(const ConversionSpec& spec, va_list& args) {
  switch (spec.length) {
    case Length::kChar:
      return static_cast<signed char>(va_arg(args, int));
    case Length::kShort:
      return static_cast<short>(va_arg(args, int));
    case Length::kLong:
      return va_arg(args, long);
    case Length::kLongLong:
    case Length::kLongDouble:
      return va_arg(args, long long);
    case Length::kIntMax:
      return static_cast<long long>(va_arg(args, intmax_t));
    case Length::kSize:
      return static_cast<long long>(va_arg(args, ssize_t));
    case Length::kPtrDiff:
      return static_cast<long long>(va_arg(args, ptrdiff_t));
    default:
      return va_arg(args, int);
  }
}

unsigned long long fetch_unsigned(const ConversionSpec& spec, va_list& args) {
  switch (spec.length) {
    case Length::kChar:
      return static_cast<unsigned char>(va_arg(args, unsigned int));
    case Length::kShort:
      return static_cast<unsigned short>(va_arg(args, unsigned int));
    case Length::kLong:
      return va_arg(args, unsigned long);
    case Length::kLongLong:
    case Length::kLongDouble:
      return va_arg(args, unsigned long long);
    case Length::kIntMax:
      return static_cast<unsigned long long>(va_arg(args, uintmax_t));
    case Length::kSize:
      return static_cast<unsigned long long>(va_arg(args, size_t));
    case Length::kPtrDiff:
      return static_cast<unsigned long long>(va_arg(args, ptrdiff_t));
    default:
      return va_arg(args, unsigned int);
  }
}

// "%" + flags + "*.*" + length + conversion, the narrow format for snprintf.
std::string narrow_format(const ConversionSpec& spec, const char* length) {
  std::string f = "%";
  if (spec.minus) f += '-';
  if (spec.plus) f += '+';
  if (spec.space) f += ' ';
  if (spec.hash) f += '#';
  if (spec.zero) f += '0';
  f += "*.*";
  f += length;
  f += spec.conversion;
  return f;
}

// Outputs shorter than this are always formatted in full (and so widened
// exactly, whatever the locale); longer ones are only padding or digits.
constexpr int kSmallOutput = 4096;

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
template <typename Value>
bool emit_number(UnitSink& sink, const std::string& format, int width, int precision, Value value) {
  const int needed = snprintf(nullptr, 0, format.c_str(), width, precision, value);
  if (needed < 0) return false;
  const size_t length = static_cast<size_t>(needed);
  size_t materialise = length;
  if (needed > kSmallOutput && sink.room() < length) materialise = sink.room();
  std::string text(materialise + 1, '\0');
  snprintf(text.data(), text.size(), format.c_str(), width, precision, value);
  text.resize(materialise);
  if (materialise == length) {
    const std::u16string units = zep::utf8_to_u16(text);
    sink.put(units.data(), units.size());
  } else {
    for (char c : text) sink.put(static_cast<zep_wchar_t>(static_cast<unsigned char>(c)));
    sink.skip(length - materialise);
  }
  return true;
}

bool emit_pointer(UnitSink& sink, const ConversionSpec& spec, const void* value) {
  // Only the '-' flag and a width are defined for pointers.
  const char* format = spec.minus ? "%-*p" : "%*p";
  char text[64];
  const int needed = snprintf(text, sizeof text, format, spec.width, value);
  if (needed < 0) return false;
  if (static_cast<size_t>(needed) < sizeof text) {
    for (int k = 0; k < needed; ++k) sink.put(static_cast<zep_wchar_t>(text[k]));
    return true;
  }
  // A wide field: the pointer text padded by hand.
  const int bare = snprintf(text, sizeof text, "%p", value);
  if (bare < 0 || static_cast<size_t>(bare) >= sizeof text) return false;
  const size_t pad = static_cast<size_t>(needed - bare);
  if (!spec.minus) sink.repeat(u' ', pad);
  for (int k = 0; k < bare; ++k) sink.put(static_cast<zep_wchar_t>(text[k]));
  if (spec.minus) sink.repeat(u' ', pad);
  return true;
}
#pragma GCC diagnostic pop

void emit_padded(UnitSink& sink, const ConversionSpec& spec, const zep_wchar_t* units, size_t n) {
  const size_t width = static_cast<size_t>(spec.width);
  const size_t pad = width > n ? width - n : 0;
  if (!spec.minus) sink.repeat(u' ', pad);
  sink.put(units, n);
  if (spec.minus) sink.repeat(u' ', pad);
}

void emit_string(UnitSink& sink, const ConversionSpec& spec, va_list& args) {
  const size_t limit =
      spec.precision < 0 ? std::numeric_limits<size_t>::max() : static_cast<size_t>(spec.precision);
  const bool narrow =
      spec.length == Length::kShort || spec.length == Length::kChar || spec.conversion == 'S';
  if (narrow) {
    const char* s = va_arg(args, const char*);
    if (s == nullptr) s = spec.precision >= 0 && spec.precision < 6 ? "" : "(null)";
    const size_t bytes = strnlen(s, limit);
    std::u16string units = zep::utf8_to_u16(std::string_view(s, bytes));
    if (units.size() > limit) units.resize(limit);
    emit_padded(sink, spec, units.data(), units.size());
    return;
  }
  const zep_wchar_t* s = va_arg(args, const zep_wchar_t*);
  if (s == nullptr) s = spec.precision >= 0 && spec.precision < 6 ? u"" : u"(null)";
  size_t n = 0;
  while (n < limit && s[n] != 0) ++n;
  emit_padded(sink, spec, s, n);
}

void emit_char(UnitSink& sink, const ConversionSpec& spec, va_list& args) {
  const int value = va_arg(args, int);
  const bool narrow =
      spec.length == Length::kShort || spec.length == Length::kChar || spec.conversion == 'C';
  const zep_wchar_t unit = narrow ? static_cast<zep_wchar_t>(static_cast<unsigned char>(value))
                                  : static_cast<zep_wchar_t>(value);
  emit_padded(sink, spec, &unit, 1);
}

bool emit_conversion(UnitSink& sink, const ConversionSpec& spec, va_list& args) {
  switch (spec.conversion) {
    case 'd':
    case 'i':
      return emit_number(sink, narrow_format(spec, "ll"), spec.width, spec.precision,
                         fetch_signed(spec, args));
    case 'u':
    case 'o':
    case 'x':
    case 'X':
      return emit_number(sink, narrow_format(spec, "ll"), spec.width, spec.precision,
                         fetch_unsigned(spec, args));
    case 'f':
    case 'F':
    case 'e':
    case 'E':
    case 'g':
    case 'G':
    case 'a':
    case 'A':
      if (spec.length == Length::kLongDouble) {
        return emit_number(sink, narrow_format(spec, "L"), spec.width, spec.precision,
                           va_arg(args, long double));
      }
      return emit_number(sink, narrow_format(spec, ""), spec.width, spec.precision,
                         va_arg(args, double));
    case 'p':
      return emit_pointer(sink, spec, va_arg(args, void*));
    case 'c':
    case 'C':
      emit_char(sink, spec, args);
      return true;
    case 's':
    case 'S':
      emit_string(sink, spec, args);
      return true;
    default:
      // "%n" is refused on purpose (it writes through an argument), as is
      // every unknown conversion.
      return false;
  }
}

// Formats into buffer[0 .. capacity) and returns the full length in units, or
// -1 for an invalid format or a text longer than INT32_MAX units.
int64_t format_units(zep_wchar_t* buffer, size_t capacity, const zep_wchar_t* format,
                     va_list& args) {
  UnitSink sink(buffer, capacity);
  size_t i = 0;
  while (format[i] != 0) {
    if (format[i] != u'%') {
      sink.put(format[i++]);
    } else if (format[i + 1] == u'%') {
      sink.put(u'%');
      i += 2;
    } else {
      ++i;
      ConversionSpec spec;
      if (!parse_spec(format, i, args, spec)) return -1;
      if (!emit_conversion(sink, spec, args)) return -1;
    }
    if (sink.count() > static_cast<size_t>(std::numeric_limits<int32_t>::max())) return -1;
  }
  return static_cast<int64_t>(sink.count());
}

}  // namespace

int32_t zep_vscwprintf(const zep_wchar_t* format, va_list args) {
  if (format == nullptr) return 0;
  va_list copy;
  va_copy(copy, args);
  const int64_t length = format_units(nullptr, 0, format, copy);
  va_end(copy);
  return static_cast<int32_t>(length);
}

ZEP_STATUS zep_vsnwprintf(zep_wchar_t* buffer, size_t n, const zep_wchar_t* format, va_list args) {
  if (buffer == nullptr || format == nullptr || n == 0) return ZEP_E_NULL_ARG;
  for (size_t k = 0; k < n; ++k) buffer[k] = 0;
  va_list copy;
  va_copy(copy, args);
  const int64_t length = format_units(buffer, n - 1, format, copy);
  va_end(copy);
  buffer[n - 1] = 0;
  if (length < 0 || static_cast<uint64_t>(length) > n - 1) return ZEP_FAIL;
  return ZEP_OK;
}
