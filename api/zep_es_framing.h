// Elementary-stream framing of delivered blocks: length-prefixed NAL units
// to start codes, ADTS headers for raw AAC frames and the AC-3 sync word.
// Pure functions over caller buffers, so each rule can be tested alone.
#pragma once

#include <cstdint>

namespace zep::framing {

// The big-endian length prefix of `lengthSize` bytes (4, 3 or 2; any other
// value reads one byte). The caller guarantees the bytes are there.
uint32_t read_nal_length(const uint8_t* p, uint32_t lengthSize);

// True when data begins with the 4-byte (00 00 00 01) or, for lengthSize 3,
// either start code (00 00 01 or 00 00 00 01), i.e. the block is already
// Annex B.
bool begins_with_start_code(const uint8_t* data, uint32_t size, uint32_t lengthSize);

// Bytes the units of a length-prefixed block take with a 4-byte start code
// each: units are walked while more than lengthSize bytes remain and the next
// unit fits whole; bytes after the last whole unit are dropped. 0 when the
// first unit does not fit.
uint64_t start_code_size(const uint8_t* data, uint32_t size, uint32_t lengthSize);

// 4-byte prefixes: overwrites each length with 00 00 00 01 in place and
// stores the delivered size (the whole units). False when the first unit
// does not fit.
bool lengths_to_start_codes_in_place(uint8_t* data, uint32_t size, uint32_t* deliveredSize);

// Prefixes of 1 to 3 bytes: writes 00 00 00 01 and each unit into out,
// which holds start_code_size() bytes. Returns the bytes written.
uint32_t lengths_to_start_codes(const uint8_t* data, uint32_t size, uint32_t lengthSize,
                                uint8_t* out);

// The AAC parameters of an ADTS header.
struct AdtsParams {
  uint32_t profile;
  uint32_t frequencyIndex;
  uint32_t channelConfig;
};

// Sampling-frequency index of a rate, or -1 for a rate ADTS cannot name.
int adts_frequency_index(uint32_t sampleRate);

// Parameters from an AudioSpecificConfig of at least 2 bytes, else from the
// channel count and sample rate with profile 1 (AAC LC). An unknown rate
// fails unless unknownRateIndex >= 0, which is then used as the index.
bool adts_params(const uint8_t* config, uint32_t configSize, uint32_t channels, uint32_t sampleRate,
                 int unknownRateIndex, AdtsParams* out);

// The 7-byte MPEG-4 ADTS header (no CRC) of a frame with payloadSize bytes.
// The frame length field holds the low 13 bits of payloadSize + 7 kept in
// 16 bits.
void write_adts_header(const AdtsParams& params, uint32_t payloadSize, uint8_t out[7]);

// True when an AC-3 block already begins with its sync word (0B 77, or
// 77 0B when the words are byte-swapped).
bool ac3_has_sync_word(const uint8_t* data, uint32_t size);

}  // namespace zep::framing
