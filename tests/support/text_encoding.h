// Text in the encodings that subtitle files come in: UTF-16 little- and
// big-endian with their byte order marks, built from UTF-8, and line-end
// conversion for the same text.
#pragma once

#include <string>
#include <string_view>

#include "tests/support/byte_writer.h"

namespace zeptest {

// UTF-8 text as UTF-16 with the byte order mark first (FF FE or FE FF).
Bytes utf16_le_with_bom(std::string_view utf8);
Bytes utf16_be_with_bom(std::string_view utf8);

// The UTF-8 byte order mark followed by the text.
Bytes utf8_with_bom(std::string_view utf8);

// Replaces every line feed of the text by `lineEnd` ("\r\n", "\r").
std::string with_line_ends(std::string_view text, std::string_view lineEnd);

}  // namespace zeptest
