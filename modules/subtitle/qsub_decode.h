// Decoding of QSUB bitmap subtitle packets back into pictures: used to look at
// the packets the renderer builds (tests, the command line tool's PNG output)
// and to check packets read from files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "layer1/zep_status.h"

// Fixed header: time string (27), six 16-bit fields, second field offset,
// palette of four RGB colours.
inline constexpr size_t kZepQsubHeaderSize = 53;
// Larger pictures than this many pixels are not decoded.
inline constexpr size_t kZepQsubMaxPixels = size_t{1} << 24;

struct ZepQsubPacket {
  char timeString[28] = {};  // the 27 characters, zero-terminated
  uint16_t width = 0;
  uint16_t height = 0;
  uint16_t left = 0;
  uint16_t top = 0;
  uint16_t right = 0;   // left + width - 1
  uint16_t bottom = 0;  // top + height - 1
  uint16_t secondFieldOffset = 0;
  uint8_t palette[12] = {};
  bool extraHeader = false;     // 00 FF FF FF at offset 53 (960 x 720 and 1440 x 1080 forms)
  size_t dataOffset = 0;        // 53 or 57
  std::vector<uint8_t> pixels;  // width * height values 0..3, rows from top to bottom
};

// Decodes a packet. The form is recognised by the four bytes 00 FF FF FF at
// offset 53 (data at 57), otherwise the data begins at 53. Both fields must
// decode completely. ZEP_ERR_INVALID_SUBTITLE for a packet that is too short or
// damaged, or whose picture is larger than kZepQsubMaxPixels; -2 for null.
ZEP_STATUS zep_qsub_decode_packet(const uint8_t* data, size_t size, ZepQsubPacket* out);
