// Reads a subtitle file line by line in its detected encoding and hands every
// line out as UTF-8 without its terminator.
//
// A line ends at a carriage return, a carriage return with a line feed, or a
// line feed alone. UTF-16 files are read in 16-bit code units (the byte-swapped
// forms 0x0D00 and 0x0A00 count as line ends too, as written by tools that got
// the byte order wrong) and converted to UTF-8. Every line keeps at most
// kMaxTextBytes bytes, cut at a character boundary; the rest of an overlong
// line is read and dropped. A zero byte (or code unit) ends the line's text.
// The unterminated rest at the end of the file is a last line of its own.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/zep_platform.h"

namespace zep::subtitle {

// Encoding markers (the byte order mark found at the start of the file).
inline constexpr uint32_t kMarkerUtf16LE = 0xFFFE;
inline constexpr uint32_t kMarkerUtf16BE = 0xFEFF;
inline constexpr uint32_t kMarkerUtf8 = 0xEFBBBF;
inline constexpr uint32_t kMarkerNone = 0;
inline constexpr uint32_t kMarkerUnknown = 0xFFFFFFFF;

// The marker for the first bytes of a file.
uint32_t EncodingMarkerOf(const uint8_t* bytes, uint32_t count);

class TextLineReader {
 public:
  // The file is read from its current position, which must be the start; the
  // byte order mark of `marker` is skipped. The file stays owned by the caller.
  TextLineReader(ZepFile* file, uint32_t marker);

  // Answers false when the file holds no further line (or cannot be read).
  bool Next(std::string* line);
  // Where in the file the line that Next returned last begins.
  uint64_t LineOffset() const { return lineOffset_; }

 private:
  bool FillBuffer();
  bool NextByte(uint8_t* byte);
  bool PeekByte(uint8_t* byte);
  bool NextUnit(uint16_t* unit);
  bool PeekUnit(uint16_t* unit);
  bool NextNarrowLine(std::string* line);
  bool NextWideLine(std::string* line);

  ZepFile* file_;
  uint32_t marker_;
  bool wide_;
  bool bigEndian_;
  bool ended_ = false;
  std::vector<uint8_t> buffer_;
  size_t pos_ = 0;
  size_t size_ = 0;
  uint64_t consumed_ = 0;  // bytes of the buffers read before the current one
  uint64_t lineOffset_ = 0;
};

}  // namespace zep::subtitle
