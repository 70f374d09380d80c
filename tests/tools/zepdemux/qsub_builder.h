// A QSUB packet of the 640 × 480 form (run-length data at offset 53, four
// zero bytes at the end) built byte by byte, for the decoder tests.
#pragma once

#include <string>

#include "tests/support/byte_writer.h"

namespace clitest {

// `time` is the 27-character "[HH:MM:SS.mmm-HH:MM:SS.mmm]"; the fields hold
// run-length coded rows, the first field the even rows from the top.
inline zeptest::Bytes qsub_packet(const std::string& time, uint16_t width, uint16_t height,
                                  uint16_t x, uint16_t y, const zeptest::Bytes& first_field,
                                  const zeptest::Bytes& second_field, bool trailer = true) {
  zeptest::ByteWriter w;
  w.text(time);
  w.le16(width).le16(height).le16(x).le16(y);
  w.le16(uint16_t(x + width - 1)).le16(uint16_t(y + height - 1));
  w.le16(uint16_t(first_field.size()));
  w.bytes(zeptest::Bytes{0, 0, 0, 0, 0, 0, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE, 0xFE});
  w.bytes(first_field).bytes(second_field);
  if (trailer) w.zeros(4);
  return w.take();
}

}  // namespace clitest
