// Fuzz target for the UTF-8/UTF-16 converters and the UTF-16 string helpers.
// The input is used both as zero-terminated UTF-8 bytes and as UTF-16 units;
// every output buffer is exactly as large as the functions' contracts state,
// so AddressSanitizer catches any write beyond them.
// Input caps: any size.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "platform/zep_platform.h"

namespace {

void check(bool condition) {
  if (!condition) abort();
}

void fuzz_utf8(const uint8_t* data, size_t size) {
  const std::string_view view(reinterpret_cast<const char*>(data), size);
  // Strict conversion: its output always survives a round trip unchanged.
  const std::u16string units = zep::utf8_to_u16(view);
  const std::string back = zep::u16_to_utf8(units);
  check(zep::utf8_to_u16(back) == units);

  // The lenient C functions over the zero-terminated bytes.
  std::vector<uint8_t> text(data, data + size);
  text.push_back(0);
  const size_t length = strlen(reinterpret_cast<const char*>(text.data()));
  std::vector<uint32_t> codePoints(length + 1);
  const int32_t count = zep_utf8_to_codepoints(text.data(), codePoints.data());
  check(count >= 0 && static_cast<size_t>(count) <= length);
  check(zep_utf8_to_codepoints(text.data(), nullptr) == count);
  std::vector<zep_wchar_t> wide(length + 1);
  const int32_t written = zep_utf8_to_utf16(text.data(), wide.data());
  check(written >= 0 && static_cast<size_t>(written) <= length && wide[written] == 0);

  // Narrow helpers.
  zep_wchar_t* widened = zep_str_to_wcs(reinterpret_cast<const char*>(text.data()), nullptr);
  if (widened != nullptr) {
    check(zep_wcslen(widened) == zep_strlen(reinterpret_cast<const char*>(text.data())));
    zep_wcsfree(widened, nullptr);
  }
}

void fuzz_utf16(const uint8_t* data, size_t size) {
  std::vector<zep_wchar_t> units(size / 2 + 1, 0);
  for (size_t i = 0; i + 1 < size; i += 2) {
    units[i / 2] = static_cast<zep_wchar_t>(data[i] | (data[i + 1] << 8));
  }
  const zep_wchar_t* s = units.data();
  const uint32_t length = zep_wcslen(s);

  std::vector<uint32_t> codePoints(length + 1);
  const int32_t count = zep_utf16_to_codepoints(s, codePoints.data());
  check(count <= static_cast<int32_t>(length));
  if (count >= 0) {
    // Well-formed UTF-16 survives the trip through UTF-8.
    const std::string utf8 = zep::u16_to_utf8(s);
    check(zep::utf8_to_u16(utf8) == std::u16string(s, length));
  }

  zep_wchar_t* copy = zep_wcsdup(s, nullptr);
  if (copy == nullptr) return;
  check(zep_wcscmp(copy, s) == 0 && zep_wcsicmp(copy, s) == 0);
  check(zep_wcsncmp(copy, s, length + 1) == 0);
  zep_wcsrtrim(copy);
  const uint32_t trimmed = zep_wcslen(copy);
  check(trimmed <= length && (trimmed == 0 || copy[trimmed - 1] != u' '));
  if (length >= 2) {
    // Search for a piece of the string in itself.
    const uint32_t middle = length / 2;
    const zep_wchar_t piece[3] = {s[middle], s[middle + 1], 0};
    const int32_t first = zep_wcsfind(piece, s, 0);
    const int32_t last = zep_wcsrfind(piece, s);
    check(first >= 0 && first <= static_cast<int32_t>(middle) &&
          last >= static_cast<int32_t>(middle));
    check(zep_wcsfind(piece, s, static_cast<uint32_t>(first) + 1) <= last);
  }
  char* narrow = zep_wcs_to_str(s, nullptr);
  if (narrow != nullptr) {
    check(zep_strlen(narrow) <= length);
    zep_mem_free(narrow, nullptr);
  }
  ZepDirSearch* search = nullptr;
  if (zep_dir_open(s, &search, nullptr) == ZEP_OK) {
    check(zep_wcslen(search->pattern) <= ZEP_MAX_PATH);
    zep_dir_close(search);
  }
  zep_wcsfree(copy, nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz_utf8(data, size);
  fuzz_utf16(data, size);
  return 0;
}
