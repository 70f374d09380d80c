// The file under a Matroska container as a positioned byte stream. Element
// headers are small and read all over the file, so small reads go through an
// 8 KiB window of the file kept in memory; reads of 4 KiB or more (payloads)
// go straight into the caller's buffer. The platform stream's own buffer is
// switched off, so a payload is copied once.
#pragma once

#include <cstdint>
#include <vector>

#include "layer1/zep_status.h"
#include "platform/zep_platform.h"

namespace mkv {

// Query codes of the byte source.
constexpr uint32_t kSourceQueryLength = 0x240208;     // total bytes of the file
constexpr uint32_t kSourceQueryRemaining = 0x250208;  // bytes after the position
constexpr uint32_t kSourceQueryKind = 0xA00206;       // backing kind
constexpr uint32_t kSourceQueryProperty = 0xA00306;   // a property of the open file
constexpr uint32_t kSourceQueryCanSeek = 0xA00A06;    // 1: the source can seek

// Backing kinds; the module opens kind 0 only.
constexpr uint32_t kSourceKindFile = 0;

class MkvByteSource {
 public:
  MkvByteSource() = default;
  ~MkvByteSource() { close(); }
  MkvByteSource(const MkvByteSource&) = delete;
  MkvByteSource& operator=(const MkvByteSource&) = delete;

  // Opens a file by its wide name. Kinds 4 and 5 (remote) are refused with
  // ZEP_ERR_REMOTE_FILE_UNSUPPORTED, other kinds but 0 with -2.
  ZEP_STATUS open(uint32_t kind, const zep_wchar_t* name, void* allocContext);
  void close();
  bool is_open() const { return file_ != nullptr; }

  // Reads up to `count` bytes at the position; `*got` is what came back.
  // Fewer bytes than asked come back only at the end of the file.
  ZEP_STATUS read(void* buffer, uint64_t count, uint64_t* got);
  // Moves to an absolute position; a position past the end fails.
  ZEP_STATUS seek(uint64_t position);
  uint64_t tell() const { return position_; }
  uint64_t length() const { return length_; }
  ZEP_STATUS query(uint32_t code, uint64_t* value) const;

 private:
  ZEP_STATUS fill(uint64_t at);

  ZepFile* file_ = nullptr;
  uint32_t kind_ = 0;
  uint64_t length_ = 0;
  uint64_t position_ = 0;
  std::vector<uint8_t> window_;
  uint64_t windowStart_ = 0;
  uint64_t windowSize_ = 0;
  uint64_t filePosition_ = 0;  // where the platform file stands
};

}  // namespace mkv
