#include "modules/subtitle/qsub_decode.h"

#include <cstring>

#include "modules/subtitle/qsub_rle.h"

namespace {

uint16_t le16_at(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

constexpr uint8_t kExtraHeader[4] = {0x00, 0xFF, 0xFF, 0xFF};

}  // namespace

ZEP_STATUS zep_qsub_decode_packet(const uint8_t* data, size_t size, ZepQsubPacket* out) {
  if (data == nullptr || out == nullptr) return ZEP_E_NULL_ARG;
  *out = ZepQsubPacket{};
  if (size < kZepQsubHeaderSize) return ZEP_ERR_INVALID_SUBTITLE;
  std::memcpy(out->timeString, data, 27);
  out->width = le16_at(data + 27);
  out->height = le16_at(data + 29);
  out->left = le16_at(data + 31);
  out->top = le16_at(data + 33);
  out->right = le16_at(data + 35);
  out->bottom = le16_at(data + 37);
  out->secondFieldOffset = le16_at(data + 39);
  std::memcpy(out->palette, data + 41, sizeof out->palette);
  out->extraHeader = size >= kZepQsubHeaderSize + 4 && std::memcmp(data + 53, kExtraHeader, 4) == 0;
  out->dataOffset = out->extraHeader ? kZepQsubHeaderSize + 4 : kZepQsubHeaderSize;

  const size_t pixelCount = static_cast<size_t>(out->width) * out->height;
  if (pixelCount > kZepQsubMaxPixels) return ZEP_ERR_INVALID_SUBTITLE;
  // Every coded row takes at least one byte: a height beyond the data is damage
  // and is refused before anything is allocated for it.
  const size_t dataSize = size - out->dataOffset;
  if (out->height > dataSize) return ZEP_ERR_INVALID_SUBTITLE;
  if (out->secondFieldOffset > dataSize) return ZEP_ERR_INVALID_SUBTITLE;
  out->pixels.assign(pixelCount, 0);
  if (pixelCount == 0) return ZEP_OK;

  const uint8_t* fields = data + out->dataOffset;
  ZEP_STATUS status =
      zep_qsub_decode_field(fields, dataSize, 0, out->width, out->height, 0, out->pixels.data());
  if (status < 0) return status;
  return zep_qsub_decode_field(fields, dataSize, out->secondFieldOffset, out->width, out->height, 1,
                               out->pixels.data());
}
