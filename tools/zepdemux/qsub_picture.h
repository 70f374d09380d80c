// Decoding of QSUB bitmap subtitle packets back into pictures: the header
// (time string, size, position, palette) and the run-length coded pixels in
// two interlaced fields.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zepcli {

struct QsubPicture {
  std::string time_text;  // "[HH:MM:SS.mmm-HH:MM:SS.mmm]"
  uint32_t width = 0, height = 0;
  uint32_t left = 0, top = 0;
  std::array<std::array<uint8_t, 3>, 4> palette{};
  std::vector<uint8_t> pixels;  // width × height values 0..3, top row first
};

// Null when the packet is too short or its data do not decode.
std::optional<QsubPicture> decode_qsub(const uint8_t* packet, size_t size);

}  // namespace zepcli
