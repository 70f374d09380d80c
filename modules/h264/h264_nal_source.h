// NAL units of an Annex B file, read through one large chunk buffer.
//
// The chunk holds up to 10,000,000 bytes of the file from `base` on; `cursor`
// is the next unread byte in it. A NAL unit that reaches the end of the chunk
// while the file goes on moves the chunk forward so that it begins at the
// unit's start code; a unit that fills a whole chunk cannot be delivered.
#pragma once

#include <cstdint>

#include "platform/zep_platform.h"

namespace zep::h264 {

constexpr uint32_t kChunkSize = 10000000;
constexpr uint32_t kMinChunk = 16;

// Answer of NalSource::next when nothing but zero bytes (trailing_zero_8bits)
// remains up to the end of the file: the stream has ended cleanly.
constexpr ZEP_STATUS kOnlyZerosToEnd = 1;

class NalSource {
 public:
  NalSource() = default;
  ~NalSource();
  NalSource(const NalSource&) = delete;
  NalSource& operator=(const NalSource&) = delete;

  // ZEP_ERR_FILE_OPEN_FAILURE, ZEP_FAIL (no size), ZEP_E_NO_MEMORY, or 0.
  ZEP_STATUS open(const zep_wchar_t* name, void* context);
  void close();

  uint64_t file_size() const { return file_size_; }
  // File position of the next unread byte.
  uint64_t position() const { return base_ + cursor_; }
  bool at_end() const { return position() >= file_size_; }

  // Moves the read position; the chunk is reloaded when the position lies
  // outside it. rewind() is seek(0) with an empty chunk.
  void seek(uint64_t position);
  void rewind();

  // The next NAL unit behind the read position: its header byte first, no
  // start code. The pointer stays valid until the next call of next(). Does
  // not move the read position; consume() does. Answers 0, kOnlyZerosToEnd,
  // ZEP_FAIL (a non-zero byte before the start code, or no start code),
  // ZEP_ERR_BUFFER_TOO_SMALL (a unit longer than the chunk) or a file status.
  ZEP_STATUS next(const uint8_t** nal, uint32_t* length);
  // Steps over the unit that next() found, start code included.
  void consume() { cursor_ += last_span_; }
  // Steps over the zero bytes that end the file.
  void consume_rest() { cursor_ = fill_; }

 private:
  ZEP_STATUS load(uint64_t base);

  ZepFile* file_ = nullptr;
  uint64_t file_size_ = 0;
  uint8_t* chunk_ = nullptr;
  uint32_t chunk_capacity_ = 0;  // kChunkSize, or less for a shorter file
  uint64_t base_ = 0;
  uint32_t fill_ = 0;
  uint32_t cursor_ = 0;
  uint32_t last_span_ = 0;
};

}  // namespace zep::h264
