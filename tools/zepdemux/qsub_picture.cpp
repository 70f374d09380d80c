#include "tools/zepdemux/qsub_picture.h"

namespace zepcli {
namespace {

constexpr size_t kTimeLength = 27;
constexpr size_t kPaletteOffset = 41;
constexpr size_t kDataOffset = 53;
// The 960 × 720 and 1440 × 1080 forms carry these four bytes before the data.
constexpr uint8_t kWideFormMark[4] = {0x00, 0xFF, 0xFF, 0xFF};

uint16_t le16(const uint8_t* p) { return uint16_t(p[0] | p[1] << 8); }

// Reads 4-bit units, high nibble first, within [begin, end).
class NibbleReader {
 public:
  NibbleReader(const uint8_t* data, size_t size, size_t start)
      : data_(data), size_(size), pos_(start * 2) {}
  bool next(uint32_t& nibble) {
    if (pos_ / 2 >= size_) return false;
    const uint8_t byte = data_[pos_ / 2];
    nibble = (pos_ & 1) ? (byte & 15u) : (byte >> 4);
    ++pos_;
    return true;
  }
  void align() { pos_ = (pos_ + 1) & ~size_t(1); }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_;
};

// One run: its length (0: to the end of the row) and value.
bool read_run(NibbleReader& reader, uint32_t& length, uint32_t& value) {
  uint32_t code = 0, nibble = 0;
  for (int units = 1; units <= 4; ++units) {
    if (!reader.next(nibble)) return false;
    code = code << 4 | nibble;
    // Run lengths 1-3, 4-15, 16-63 and 64-255 take 1, 2, 3 and 4 units: a
    // code of u units is at least 4^u (length 4^(u-1) times 4).
    if (units == 4 || code >= (1u << (2 * units))) break;
  }
  length = code >> 2;
  value = code & 3;
  return true;
}

bool decode_field(const uint8_t* data, size_t size, size_t start, QsubPicture& picture,
                  uint32_t first_row) {
  NibbleReader reader(data, size, start);
  for (uint32_t row = first_row; row < picture.height; row += 2) {
    uint8_t* line = picture.pixels.data() + size_t(row) * picture.width;
    uint32_t x = 0;
    while (x < picture.width) {
      uint32_t length = 0, value = 0;
      if (!read_run(reader, length, value)) return false;
      if (length == 0 || x + length > picture.width) length = picture.width - x;
      for (uint32_t i = 0; i < length; ++i) line[x + i] = uint8_t(value);
      x += length;
    }
    reader.align();
  }
  return true;
}

}  // namespace

std::optional<QsubPicture> decode_qsub(const uint8_t* packet, size_t size) {
  if (packet == nullptr || size < kDataOffset + 4) return std::nullopt;
  QsubPicture picture;
  picture.time_text.assign(reinterpret_cast<const char*>(packet), kTimeLength);
  picture.width = le16(packet + 27);
  picture.height = le16(packet + 29);
  picture.left = le16(packet + 31);
  picture.top = le16(packet + 33);
  const uint16_t second_field = le16(packet + 39);
  for (size_t i = 0; i < 4; ++i)
    for (size_t c = 0; c < 3; ++c) picture.palette[i][c] = packet[kPaletteOffset + i * 3 + c];
  bool wide = true;
  for (size_t i = 0; i < 4; ++i) wide = wide && packet[kDataOffset + i] == kWideFormMark[i];
  const size_t data_start = wide ? kDataOffset + 4 : kDataOffset;
  if (picture.width == 0 || picture.height == 0 || picture.width > 4096 || picture.height > 4096)
    return std::nullopt;
  picture.pixels.assign(size_t(picture.width) * picture.height, 0);
  const uint8_t* data = packet + data_start;
  const size_t data_size = size - data_start;
  if (second_field > data_size) return std::nullopt;
  if (!decode_field(data, data_size, 0, picture, 0) ||
      !decode_field(data, data_size, second_field, picture, 1))
    return std::nullopt;
  return picture;
}

}  // namespace zepcli
