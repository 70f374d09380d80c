#include "api/zep_es_framing.h"

#include <cstring>

namespace zep::framing {

uint32_t read_nal_length(const uint8_t* p, uint32_t lengthSize) {
  switch (lengthSize) {
    case 4:
      return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
    case 3:
      return (uint32_t(p[0]) << 16) | (uint32_t(p[1]) << 8) | p[2];
    case 2:
      return (uint32_t(p[0]) << 8) | p[1];
    default:
      return p[0];
  }
}

static uint32_t effective_length_size(uint32_t lengthSize) {
  return (lengthSize >= 2 && lengthSize <= 4) ? lengthSize : 1;
}

bool begins_with_start_code(const uint8_t* data, uint32_t size, uint32_t lengthSize) {
  if (lengthSize == 4) return size >= 4 && read_nal_length(data, 4) == 1;
  if (lengthSize == 3) {
    // Streams whose units were seen behind 3-byte start codes may still
    // begin a block with the 4-byte form.
    return (size >= 3 && read_nal_length(data, 3) == 1) ||
           (size >= 4 && read_nal_length(data, 4) == 1);
  }
  return false;
}

uint64_t start_code_size(const uint8_t* data, uint32_t size, uint32_t lengthSize) {
  const uint32_t prefix = effective_length_size(lengthSize);
  uint64_t offset = 0;
  uint64_t total = 0;
  // The first unit must fit; later ones are taken while more than a prefix
  // remains and the unit fits whole.
  while (size - offset > prefix) {
    const uint64_t unit = read_nal_length(data + offset, prefix);
    if (offset + prefix + unit > size) break;
    total += 4 + unit;
    offset += prefix + unit;
  }
  return total;
}

bool lengths_to_start_codes_in_place(uint8_t* data, uint32_t size, uint32_t* deliveredSize) {
  uint64_t offset = 0;
  bool first = true;
  while (size - offset > 4) {
    const uint64_t unit = read_nal_length(data + offset, 4);
    if (offset + 4 + unit > size) break;
    data[offset] = 0;
    data[offset + 1] = 0;
    data[offset + 2] = 0;
    data[offset + 3] = 1;
    offset += 4 + unit;
    first = false;
  }
  if (first) return false;
  *deliveredSize = static_cast<uint32_t>(offset);
  return true;
}

uint32_t lengths_to_start_codes(const uint8_t* data, uint32_t size, uint32_t lengthSize,
                                uint8_t* out) {
  const uint32_t prefix = effective_length_size(lengthSize);
  uint64_t offset = 0;
  uint32_t written = 0;
  while (size - offset > prefix) {
    const uint32_t unit = read_nal_length(data + offset, prefix);
    if (offset + prefix + unit > size) break;
    static const uint8_t kStartCode[4] = {0, 0, 0, 1};
    std::memcpy(out + written, kStartCode, 4);
    std::memcpy(out + written + 4, data + offset + prefix, unit);
    written += 4 + unit;
    offset += prefix + unit;
  }
  return written;
}

int adts_frequency_index(uint32_t sampleRate) {
  static const uint32_t kRates[] = {96000, 88200, 64000, 48000, 44100, 32000,
                                    24000, 22050, 16000, 12000, 11025, 8000};
  for (int i = 0; i < 12; ++i) {
    if (kRates[i] == sampleRate) return i;
  }
  return -1;
}

bool adts_params(const uint8_t* config, uint32_t configSize, uint32_t channels, uint32_t sampleRate,
                 int unknownRateIndex, AdtsParams* out) {
  if (config != nullptr && configSize >= 2) {
    // AudioSpecificConfig: 5 bits object type, 4 bits frequency index,
    // 4 bits channel configuration. ADTS stores object type - 1.
    out->profile = static_cast<uint32_t>((config[0] >> 3) - 1);
    out->frequencyIndex = static_cast<uint32_t>(((config[0] & 7) << 1) | (config[1] >> 7));
    out->channelConfig = static_cast<uint32_t>((config[1] >> 3) & 15);
    return true;
  }
  int index = adts_frequency_index(sampleRate);
  if (index < 0) {
    if (unknownRateIndex < 0) return false;
    index = unknownRateIndex;
  }
  out->profile = 1;
  out->frequencyIndex = static_cast<uint32_t>(index);
  out->channelConfig = channels;
  return true;
}

void write_adts_header(const AdtsParams& params, uint32_t payloadSize, uint8_t out[7]) {
  const uint16_t frameLength = static_cast<uint16_t>(payloadSize + 7);
  out[0] = 0xFF;
  out[1] = 0xF1;  // MPEG-4, layer 0, no CRC
  out[2] = static_cast<uint8_t>((params.profile << 6) | ((params.frequencyIndex & 15) << 2) |
                                ((params.channelConfig >> 2) & 1));
  out[3] = static_cast<uint8_t>(((params.channelConfig & 3) << 6) | ((frameLength >> 11) & 3));
  out[4] = static_cast<uint8_t>((frameLength >> 3) & 0xFF);
  out[5] = static_cast<uint8_t>(((frameLength & 7) << 5) | 0x1F);
  out[6] = 0xFC;
}

bool ac3_has_sync_word(const uint8_t* data, uint32_t size) {
  if (size < 2) return false;
  return (data[0] == 0x0B && data[1] == 0x77) || (data[0] == 0x77 && data[1] == 0x0B);
}

}  // namespace zep::framing
