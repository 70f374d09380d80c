#include "modules/subtitle/qsub_rle.h"

namespace {

// Collects nibbles high first into bytes.
class NibbleWriter {
 public:
  explicit NibbleWriter(std::vector<uint8_t>* out) : out_(out) {}
  void put(uint32_t nibble) {
    nibble &= 0x0F;
    if (half_) {
      out_->back() = static_cast<uint8_t>(out_->back() | nibble);
    } else {
      out_->push_back(static_cast<uint8_t>(nibble << 4));
    }
    half_ = !half_;
  }
  // `count` nibbles of `value`, most significant first.
  void put_code(uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i) put(value >> (4 * i));
  }
  // A row always ends on a byte; the low nibble of a half byte stays zero.
  void align() { half_ = false; }

 private:
  std::vector<uint8_t>* out_;
  bool half_ = false;
};

// Reads nibbles high first, bounded by the data size.
class NibbleReader {
 public:
  NibbleReader(const uint8_t* data, size_t size, size_t offset)
      : data_(data), size_(size), nibble_(offset * 2) {}
  bool get(uint32_t* nibble) {
    if (nibble_ / 2 >= size_) return false;
    const uint8_t byte = data_[nibble_ / 2];
    *nibble = (nibble_ % 2 == 0) ? (byte >> 4) : (byte & 0x0F);
    ++nibble_;
    return true;
  }
  void align() { nibble_ += nibble_ % 2; }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t nibble_;
};

void put_run(NibbleWriter& writer, uint32_t length, uint32_t value) {
  const uint32_t code = length * 4 + value;
  if (length < 4) {
    writer.put_code(code, 1);
  } else if (length < 16) {
    writer.put_code(code, 2);
  } else if (length < 64) {
    writer.put_code(code, 3);
  } else {
    writer.put_code(code, 4);
  }
}

}  // namespace

void zep_qsub_encode_row(const uint8_t* row, uint32_t width, std::vector<uint8_t>* out) {
  NibbleWriter writer(out);
  uint32_t x = 0;
  while (x < width) {
    const uint32_t value = row[x] & 3u;
    uint32_t end = x + 1;
    while (end < width && (row[end] & 3u) == value) ++end;
    uint32_t length = end - x;
    if (length > 255 && end == width) {
      // 0 0 0 c: this value up to the end of the row.
      writer.put_code(value, 4);
    } else {
      // A longer run inside the row goes out in pieces of 255.
      while (length > 255) {
        put_run(writer, 255, value);
        length -= 255;
      }
      put_run(writer, length, value);
    }
    x = end;
  }
  writer.align();
}

void zep_qsub_encode_fields(const uint8_t* pixels, uint32_t width, uint32_t height,
                            std::vector<uint8_t>* data, size_t* secondFieldOffset) {
  data->clear();
  for (uint32_t y = 0; y < height; y += 2)
    zep_qsub_encode_row(pixels + static_cast<size_t>(y) * width, width, data);
  *secondFieldOffset = data->size();
  for (uint32_t y = 1; y < height; y += 2)
    zep_qsub_encode_row(pixels + static_cast<size_t>(y) * width, width, data);
}

ZEP_STATUS zep_qsub_decode_field(const uint8_t* data, size_t size, size_t offset, uint32_t width,
                                 uint32_t height, uint32_t firstRow, uint8_t* pixels) {
  NibbleReader reader(data, size, offset);
  for (uint32_t y = firstRow; y < height; y += 2) {
    uint8_t* row = pixels + static_cast<size_t>(y) * width;
    uint32_t x = 0;
    while (x < width) {
      uint32_t code = 0;
      uint32_t nibble = 0;
      // A code of k nibbles holds a length of at least 4^(k-1), so its value
      // is at least 4^k: read on while the value is below that (at most 4).
      uint32_t nibbles = 0;
      do {
        if (!reader.get(&nibble)) return ZEP_ERR_INVALID_SUBTITLE;
        code = (code << 4) | nibble;
        ++nibbles;
      } while (nibbles < 4 && code < (1u << (2 * nibbles)));
      const uint32_t value = code & 3u;
      uint32_t length = code >> 2;
      if (length == 0) length = width - x;  // fill to the end of the row
      if (length > width - x) return ZEP_ERR_INVALID_SUBTITLE;
      for (uint32_t i = 0; i < length; ++i) row[x + i] = static_cast<uint8_t>(value);
      x += length;
    }
    reader.align();
  }
  return ZEP_OK;
}
