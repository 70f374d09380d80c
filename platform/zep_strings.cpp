// UTF-16 ("wide") and narrow string helpers. Lengths are bounded: a string of
// ZEP_MAX_STRING_LENGTH or more units (bytes for narrow strings) counts as
// length 0, as does a null or empty string, so a missing terminator in damaged
// data is never chased through memory without end.
#include <string.h>

#include "platform/zep_platform.h"

namespace {

int sign_of_difference(uint32_t a, uint32_t b) { return a < b ? -1 : (a > b ? 1 : 0); }

// ASCII case folding to lower case, as the C run-time's case-insensitive
// comparison does in the "C" locale.
uint32_t fold_ascii(zep_wchar_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<uint32_t>(c - u'A' + u'a') : c;
}

}  // namespace

uint32_t zep_wcslen(const zep_wchar_t* s) {
  if (s == nullptr) return 0;
  for (uint32_t i = 0; i < ZEP_MAX_STRING_LENGTH; ++i) {
    if (s[i] == 0) return i;
  }
  return 0;
}

uint32_t zep_strlen(const char* s) {
  if (s == nullptr) return 0;
  for (uint32_t i = 0; i < ZEP_MAX_STRING_LENGTH; ++i) {
    if (s[i] == 0) return i;
  }
  return 0;
}

zep_wchar_t* zep_wcsalloc(uint32_t count, void* context) {
  // uint32_t * 2 always fits size_t on the 64-bit targets this builds for.
  return static_cast<zep_wchar_t*>(
      zep_mem_alloc(static_cast<size_t>(count) * sizeof(zep_wchar_t), context));
}

ZEP_STATUS zep_wcsfree(zep_wchar_t* s, void* context) {
  if (s == nullptr) return ZEP_FAIL;
  return zep_mem_free(s, context) < 0 ? ZEP_FAIL : ZEP_OK;
}

zep_wchar_t* zep_wcsdup(const zep_wchar_t* s, void* context) {
  if (s == nullptr) return nullptr;
  const uint32_t length = zep_wcslen(s);
  zep_wchar_t* copy = zep_wcsalloc(length + 1, context);
  if (copy == nullptr) return nullptr;
  memcpy(copy, s, static_cast<size_t>(length) * sizeof(zep_wchar_t));
  copy[length] = 0;
  return copy;
}

int zep_wcscmp(const zep_wchar_t* a, const zep_wchar_t* b) {
  static const zep_wchar_t kEmpty[1] = {0};
  if (a == nullptr) a = kEmpty;
  if (b == nullptr) b = kEmpty;
  size_t i = 0;
  while (a[i] != 0 && a[i] == b[i]) ++i;
  return sign_of_difference(a[i], b[i]);
}

int zep_wcsncmp(const zep_wchar_t* a, const zep_wchar_t* b, size_t n) {
  static const zep_wchar_t kEmpty[1] = {0};
  if (a == nullptr) a = kEmpty;
  if (b == nullptr) b = kEmpty;
  for (size_t i = 0; i < n; ++i) {
    if (a[i] != b[i]) return sign_of_difference(a[i], b[i]);
    if (a[i] == 0) break;
  }
  return 0;
}

int zep_wcsicmp(const zep_wchar_t* a, const zep_wchar_t* b) {
  static const zep_wchar_t kEmpty[1] = {0};
  if (a == nullptr) a = kEmpty;
  if (b == nullptr) b = kEmpty;
  for (size_t i = 0;; ++i) {
    const uint32_t ca = fold_ascii(a[i]);
    const uint32_t cb = fold_ascii(b[i]);
    if (ca != cb || ca == 0) return sign_of_difference(ca, cb);
  }
}

ZEP_STATUS zep_wcsncpy(zep_wchar_t* dest, const zep_wchar_t* src, size_t n) {
  if (dest == nullptr || src == nullptr) return ZEP_E_NULL_ARG;
  size_t i = 0;
  for (; i < n && src[i] != 0; ++i) dest[i] = src[i];
  for (; i < n; ++i) dest[i] = 0;
  return ZEP_OK;
}

ZEP_STATUS zep_wcscpy(zep_wchar_t* dest, const zep_wchar_t* src) {
  if (dest == nullptr || src == nullptr) return ZEP_E_NULL_ARG;
  const uint32_t length = zep_wcslen(src);
  memmove(dest, src, static_cast<size_t>(length) * sizeof(zep_wchar_t));
  dest[length] = 0;
  return ZEP_OK;
}

ZEP_STATUS zep_wcscat(zep_wchar_t* dest, const zep_wchar_t* src) {
  if (dest == nullptr) return ZEP_E_NULL_ARG;
  const uint32_t add = zep_wcslen(src);
  if (add == 0) return ZEP_FAIL;
  const uint32_t have = zep_wcslen(dest);
  memmove(dest + have, src, static_cast<size_t>(add) * sizeof(zep_wchar_t));
  dest[have + add] = 0;
  return ZEP_OK;
}

int32_t zep_wcsfind(const zep_wchar_t* pattern, const zep_wchar_t* s, uint32_t start) {
  const uint32_t length = zep_wcslen(s);
  const uint32_t patternLength = zep_wcslen(pattern);
  if (patternLength == 0 || start >= length || patternLength > length) return -1;
  for (uint32_t i = start; i + patternLength <= length; ++i) {
    if (memcmp(s + i, pattern, static_cast<size_t>(patternLength) * sizeof(zep_wchar_t)) == 0) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

int32_t zep_wcsrfind(const zep_wchar_t* pattern, const zep_wchar_t* s) {
  const uint32_t length = zep_wcslen(s);
  const uint32_t patternLength = zep_wcslen(pattern);
  if (patternLength == 0 || patternLength > length) return -1;
  for (uint32_t i = length - patternLength + 1; i-- > 0;) {
    if (memcmp(s + i, pattern, static_cast<size_t>(patternLength) * sizeof(zep_wchar_t)) == 0) {
      return static_cast<int32_t>(i);
    }
  }
  return -1;
}

ZEP_STATUS zep_wcsrtrim(zep_wchar_t* s) {
  if (s == nullptr) return ZEP_E_NULL_ARG;
  uint32_t length = zep_wcslen(s);
  while (length > 0 && s[length - 1] == u' ') s[--length] = 0;
  return ZEP_OK;
}

ZEP_STATUS zep_str_to_wcs_copy(zep_wchar_t* dest, const char* src) {
  if (dest == nullptr || src == nullptr) return ZEP_E_NULL_ARG;
  const uint32_t length = zep_strlen(src);
  for (uint32_t i = 0; i < length; ++i) {
    // Sign extension of the byte: 0xE9 becomes 0xFFE9.
    dest[i] = static_cast<zep_wchar_t>(static_cast<int16_t>(static_cast<signed char>(src[i])));
  }
  dest[length] = 0;
  return ZEP_OK;
}

zep_wchar_t* zep_str_to_wcs(const char* src, void* context) {
  if (src == nullptr) return zep_wcsalloc(1, context);
  const uint32_t length = zep_strlen(src);
  if (length == 0) return nullptr;
  zep_wchar_t* wide = zep_wcsalloc(length + 1, context);
  if (wide == nullptr) return nullptr;
  zep_str_to_wcs_copy(wide, src);
  return wide;
}

char* zep_wcs_to_str(const zep_wchar_t* src, void* context) {
  if (src == nullptr) return nullptr;
  const uint32_t length = zep_wcslen(src);
  auto* narrow = static_cast<char*>(zep_mem_alloc(static_cast<size_t>(length) + 1, context));
  if (narrow == nullptr) return nullptr;
  for (uint32_t i = 0; i < length; ++i) narrow[i] = static_cast<char>(src[i] & 0xFF);
  narrow[length] = 0;
  return narrow;
}
