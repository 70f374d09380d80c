#include "tests/support/text_encoding.h"

#include "platform/zep_platform.h"

namespace zeptest {

namespace {

Bytes utf16_with_bom(std::string_view utf8, bool bigEndian) {
  ByteWriter w;
  const std::u16string units = zep::utf8_to_u16(utf8);
  if (bigEndian) {
    w.be16(0xFEFF);
    for (char16_t u : units) w.be16(u);
  } else {
    w.le16(0xFEFF);
    for (char16_t u : units) w.le16(u);
  }
  return w.take();
}

}  // namespace

Bytes utf16_le_with_bom(std::string_view utf8) { return utf16_with_bom(utf8, false); }
Bytes utf16_be_with_bom(std::string_view utf8) { return utf16_with_bom(utf8, true); }

Bytes utf8_with_bom(std::string_view utf8) {
  ByteWriter w;
  w.u8(0xEF).u8(0xBB).u8(0xBF).text(utf8);
  return w.take();
}

std::string with_line_ends(std::string_view text, std::string_view lineEnd) {
  std::string out;
  for (char c : text) {
    if (c == '\n') {
      out.append(lineEnd);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

}  // namespace zeptest
