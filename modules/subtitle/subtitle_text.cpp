#include "modules/subtitle/subtitle_text.h"

#include <cstdint>
#include <limits>

namespace zep::subtitle {

namespace {

bool IsContinuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// Decodes one UTF-8 character at text[pos]. Answers the number of bytes
// taken; a byte that starts no valid sequence is taken alone and gives
// U+FFFD, which is neither space nor control.
size_t DecodeUtf8(std::string_view text, size_t pos, uint32_t* codePoint) {
  const auto lead = static_cast<uint8_t>(text[pos]);
  size_t length = 0;
  uint32_t value = 0;
  if (lead < 0x80) {
    *codePoint = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
  } else {
    *codePoint = 0xFFFD;
    return 1;
  }
  if (pos + length > text.size()) {
    *codePoint = 0xFFFD;
    return 1;
  }
  for (size_t i = 1; i < length; ++i) {
    const auto byte = static_cast<uint8_t>(text[pos + i]);
    if (!IsContinuation(byte)) {
      *codePoint = 0xFFFD;
      return 1;
    }
    value = (value << 6) | (byte & 0x3F);
  }
  *codePoint = value;
  return length;
}

bool IsSpaceOrControl(uint32_t c) {
  if (c <= 0x20 || (c >= 0x7F && c <= 0xA0)) return true;  // C0, space, DEL, C1, no-break space
  switch (c) {
    case 0x1680:
    case 0x2028:
    case 0x2029:
    case 0x202F:
    case 0x205F:
    case 0x3000:
    case 0xFEFF:  // a byte order mark left inside a line shows nothing
      return true;
    default:
      return c >= 0x2000 && c <= 0x200B;
  }
}

bool IsAsciiSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

size_t Utf8PrefixLength(std::string_view text, size_t limit) {
  if (text.size() <= limit) return text.size();
  size_t cut = limit;
  // Step back over at most three continuation bytes to the start of the
  // character that would be split; longer runs are no valid UTF-8 anyway.
  for (int i = 0; i < 3 && cut > 0 && IsContinuation(static_cast<uint8_t>(text[cut])); ++i) --cut;
  return cut;
}

bool AppendBounded(std::string* text, std::string_view piece, size_t limit) {
  if (text->size() >= limit) return piece.empty();
  const size_t room = limit - text->size();
  const size_t take = Utf8PrefixLength(piece, room);
  text->append(piece.substr(0, take));
  return take == piece.size();
}

bool IsBlankLine(std::string_view line) {
  size_t pos = 0;
  while (pos < line.size()) {
    uint32_t c = 0;
    pos += DecodeUtf8(line, pos, &c);
    if (!IsSpaceOrControl(c)) return false;
  }
  return true;
}

bool EqualsIgnoreCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && IsAsciiSpace(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsAsciiSpace(text.back())) text.remove_suffix(1);
  return text;
}

void FormatScanner::SkipSpace() {
  while (pos_ < text_.size() && IsAsciiSpace(text_[pos_])) ++pos_;
}

bool FormatScanner::Literal(char c) {
  if (pos_ >= text_.size() || text_[pos_] != c) return false;
  ++pos_;
  return true;
}

bool FormatScanner::Number(int64_t* value, int64_t lowest, int64_t highest) {
  SkipSpace();
  size_t pos = pos_;
  bool negative = false;
  if (pos < text_.size() && (text_[pos] == '+' || text_[pos] == '-')) {
    negative = text_[pos] == '-';
    ++pos;
  }
  const size_t digitsStart = pos;
  // Accumulate as a negative number so that the lowest value fits too.
  int64_t accumulated = 0;
  bool saturated = false;
  while (pos < text_.size() && text_[pos] >= '0' && text_[pos] <= '9') {
    const int digit = text_[pos] - '0';
    if (!saturated) {
      if (__builtin_mul_overflow(accumulated, 10, &accumulated) ||
          __builtin_sub_overflow(accumulated, digit, &accumulated)) {
        saturated = true;
      }
    }
    ++pos;
  }
  if (pos == digitsStart) return false;
  int64_t result = 0;
  if (saturated) {
    result = negative ? lowest : highest;
  } else if (negative) {
    result = accumulated < lowest ? lowest : accumulated;
  } else {
    result = accumulated < -highest ? highest : -accumulated;
  }
  *value = result;
  pos_ = pos;
  return true;
}

int64_t ClockToTime(int64_t hours, int64_t minutes, int64_t seconds, int64_t fraction,
                    int64_t fractionsPerSecond, int64_t unitsPerFraction) {
  int64_t t = 0;
  if (__builtin_mul_overflow(hours, 60, &t) || __builtin_add_overflow(t, minutes, &t) ||
      __builtin_mul_overflow(t, 60, &t) || __builtin_add_overflow(t, seconds, &t) ||
      __builtin_mul_overflow(t, fractionsPerSecond, &t) ||
      __builtin_add_overflow(t, fraction, &t) || __builtin_mul_overflow(t, unitsPerFraction, &t)) {
    return std::numeric_limits<int64_t>::max();
  }
  return t < 0 ? 0 : t;
}

}  // namespace zep::subtitle
