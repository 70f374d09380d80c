// UTF-8 / UTF-16 / code point conversion.
//
// The zep_utf* C functions keep the library's lenient rules (continuation
// bytes taken as they are, an invalid lead byte repeating the previous code
// point); they never read past a string's terminator nor write past the
// output sizes their declarations state. The C++ helpers zep::utf8_to_u16 and
// zep::u16_to_utf8 are strict and turn every invalid sequence or unpaired
// surrogate into U+FFFD; file names and messages go through them.
#include <string.h>

#include <limits>
#include <string>
#include <string_view>

#include "platform/zep_platform.h"

namespace {

constexpr uint32_t kMaxCodePoint = 0x10FFFF;
constexpr char32_t kReplacement = 0xFFFD;

bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

size_t narrow_length(const uint8_t* bytes) { return strlen(reinterpret_cast<const char*>(bytes)); }

}  // namespace

int32_t zep_utf8_decode(const uint8_t* bytes, uint32_t index, uint32_t* codePoint) {
  if (bytes == nullptr || codePoint == nullptr) return 0;
  const uint8_t* p = bytes + index;
  const uint8_t lead = p[0];
  int32_t length;
  uint32_t value;
  if (lead < 0x80) {
    length = 1;
    value = lead;
  } else if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  for (int32_t i = 1; i < length; ++i) {
    // A sequence cut short by the terminator is invalid: reading on would
    // leave the string.
    if (p[i] == 0) return 0;
    value = (value << 6) | (p[i] & 0x3Fu);
  }
  *codePoint = value;
  return length;
}

int32_t zep_utf8_encode(uint32_t codePoint, uint8_t* out) {
  if (out == nullptr || codePoint > kMaxCodePoint) return -1;
  if (codePoint < 0x80) {
    out[0] = static_cast<uint8_t>(codePoint);
    return 1;
  }
  if (codePoint < 0x800) {
    out[0] = static_cast<uint8_t>(0xC0 | (codePoint >> 6));
    out[1] = static_cast<uint8_t>(0x80 | (codePoint & 0x3F));
    return 2;
  }
  if (codePoint < 0x10000) {
    out[0] = static_cast<uint8_t>(0xE0 | (codePoint >> 12));
    out[1] = static_cast<uint8_t>(0x80 | ((codePoint >> 6) & 0x3F));
    out[2] = static_cast<uint8_t>(0x80 | (codePoint & 0x3F));
    return 3;
  }
  out[0] = static_cast<uint8_t>(0xF0 | (codePoint >> 18));
  out[1] = static_cast<uint8_t>(0x80 | ((codePoint >> 12) & 0x3F));
  out[2] = static_cast<uint8_t>(0x80 | ((codePoint >> 6) & 0x3F));
  out[3] = static_cast<uint8_t>(0x80 | (codePoint & 0x3F));
  return 4;
}

int32_t zep_utf16_decode(const zep_wchar_t* units, uint32_t index, uint32_t* codePoint) {
  if (units == nullptr || codePoint == nullptr) return -1;
  const uint32_t first = units[index];
  if (!is_high_surrogate(first) && !is_low_surrogate(first)) {
    *codePoint = first;
    return 1;
  }
  if (is_low_surrogate(first)) return -1;
  // A high surrogate pairs only with a low one; anything else (the terminator
  // included) leaves it unpaired.
  const uint32_t second = units[index + 1];
  if (!is_low_surrogate(second)) return -1;
  *codePoint = 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
  return 2;
}

int32_t zep_utf16_encode(uint32_t codePoint, zep_wchar_t* out) {
  if (out == nullptr || codePoint > kMaxCodePoint) return -1;
  if (codePoint < 0x10000) {
    out[0] = static_cast<zep_wchar_t>(codePoint);
    return 1;
  }
  const uint32_t v = codePoint - 0x10000;
  out[0] = static_cast<zep_wchar_t>(0xD800 + (v >> 10));
  out[1] = static_cast<zep_wchar_t>(0xDC00 + (v & 0x3FF));
  return 2;
}

int32_t zep_utf8_to_codepoints(const uint8_t* bytes, uint32_t* out) {
  if (bytes == nullptr) return -1;
  uint32_t index = 0;
  int32_t count = 0;
  uint32_t previous = 0;
  while (bytes[index] != 0 && count < std::numeric_limits<int32_t>::max()) {
    uint32_t cp = 0;
    const int32_t length = zep_utf8_decode(bytes, index, &cp);
    if (length == 0) {
      // An invalid lead byte: skip it and repeat the previous code point.
      cp = previous;
      index += 1;
    } else {
      index += static_cast<uint32_t>(length);
    }
    if (out != nullptr) out[count] = cp;
    previous = cp;
    ++count;
  }
  return count;
}

int32_t zep_utf16_to_codepoints(const zep_wchar_t* units, uint32_t* out) {
  if (units == nullptr) return -1;
  uint32_t index = 0;
  int32_t count = 0;
  while (units[index] != 0 && count < std::numeric_limits<int32_t>::max()) {
    uint32_t cp = 0;
    const int32_t length = zep_utf16_decode(units, index, &cp);
    if (length < 0) return -1;
    if (out != nullptr) out[count] = cp;
    index += static_cast<uint32_t>(length);
    ++count;
  }
  return count;
}

int32_t zep_utf8_to_utf16(const uint8_t* bytes, zep_wchar_t* out) {
  if (bytes == nullptr || out == nullptr) return -1;
  const size_t length = narrow_length(bytes);
  if (length == 0) {
    out[0] = 0;
    return 0;
  }
  if (length > static_cast<size_t>(std::numeric_limits<int32_t>::max()) ||
      length > SIZE_MAX / sizeof(uint32_t)) {
    return -1;
  }
  auto* codePoints = static_cast<uint32_t*>(zep_mem_alloc(length * sizeof(uint32_t), nullptr));
  if (codePoints == nullptr) return -1;
  const int32_t count = zep_utf8_to_codepoints(bytes, codePoints);
  // The output holds at most one unit per input byte: a repeated supplementary
  // code point after invalid bytes could need more, and is cut there.
  size_t written = 0;
  for (int32_t i = 0; i < count; ++i) {
    zep_wchar_t units[2];
    const int32_t n = zep_utf16_encode(codePoints[i], units);
    if (n < 0) continue;
    if (written + static_cast<size_t>(n) > length) break;
    for (int32_t k = 0; k < n; ++k) out[written++] = units[k];
  }
  out[written] = 0;
  zep_mem_free(codePoints, nullptr);
  return static_cast<int32_t>(written);
}

namespace zep {

std::u16string utf8_to_u16(std::string_view utf8) {
  std::u16string result;
  result.reserve(utf8.size());
  const auto* p = reinterpret_cast<const uint8_t*>(utf8.data());
  const size_t size = utf8.size();
  size_t i = 0;
  while (i < size) {
    const uint8_t lead = p[i];
    if (lead < 0x80) {
      result.push_back(lead);
      ++i;
      continue;
    }
    size_t need;
    uint32_t cp;
    // Bounds of the second byte exclude overlong forms, surrogates and values
    // above U+10FFFF (the well-formed table of Unicode).
    uint8_t lo = 0x80, hi = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
      need = 1;
      cp = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
      need = 2;
      cp = lead & 0x0F;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
      need = 3;
      cp = lead & 0x07;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
    } else {
      result.push_back(static_cast<char16_t>(kReplacement));
      ++i;
      continue;
    }
    size_t j = i + 1;
    bool ok = true;
    for (size_t k = 0; k < need; ++k, ++j) {
      const uint8_t lowBound = k == 0 ? lo : 0x80;
      const uint8_t highBound = k == 0 ? hi : 0xBF;
      if (j >= size || p[j] < lowBound || p[j] > highBound) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (p[j] & 0x3Fu);
    }
    if (!ok) {
      // One U+FFFD for the maximal valid prefix, then resume at the byte that
      // broke it.
      result.push_back(static_cast<char16_t>(kReplacement));
      i = j;
      continue;
    }
    zep_wchar_t units[2];
    const int32_t n = zep_utf16_encode(cp, units);
    result.append(units, static_cast<size_t>(n));
    i = j;
  }
  return result;
}

std::string u16_to_utf8(std::u16string_view utf16) {
  std::string result;
  result.reserve(utf16.size());
  const size_t size = utf16.size();
  for (size_t i = 0; i < size; ++i) {
    uint32_t cp = utf16[i];
    if (is_high_surrogate(cp)) {
      if (i + 1 < size && is_low_surrogate(utf16[i + 1])) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (static_cast<uint32_t>(utf16[i + 1]) - 0xDC00);
        ++i;
      } else {
        cp = kReplacement;
      }
    } else if (is_low_surrogate(cp)) {
      cp = kReplacement;
    }
    uint8_t bytes[4];
    const int32_t n = zep_utf8_encode(cp, bytes);
    result.append(reinterpret_cast<const char*>(bytes), static_cast<size_t>(n));
  }
  return result;
}

std::string u16_to_utf8(const zep_wchar_t* utf16) {
  if (utf16 == nullptr) return std::string();
  return u16_to_utf8(std::u16string_view(utf16));
}

}  // namespace zep
