#include "modules/subtitle/text_line_reader.h"

#include "modules/subtitle/subtitle_text.h"

namespace zep::subtitle {

namespace {

constexpr size_t kReadChunk = 64 * 1024;

constexpr uint8_t kCR = 0x0D;
constexpr uint8_t kLF = 0x0A;

bool IsWideCR(uint16_t unit) { return unit == 0x000D || unit == 0x0D00; }
bool IsWideLF(uint16_t unit) { return unit == 0x000A || unit == 0x0A00; }

// Appends one code point as UTF-8 when it fits within kMaxTextBytes; answers
// false (and appends nothing) when it does not.
bool AppendCodePoint(std::string* line, uint32_t c) {
  char bytes[4];
  size_t length = 0;
  if (c < 0x80) {
    bytes[0] = static_cast<char>(c);
    length = 1;
  } else if (c < 0x800) {
    bytes[0] = static_cast<char>(0xC0 | (c >> 6));
    bytes[1] = static_cast<char>(0x80 | (c & 0x3F));
    length = 2;
  } else if (c < 0x10000) {
    bytes[0] = static_cast<char>(0xE0 | (c >> 12));
    bytes[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (c & 0x3F));
    length = 3;
  } else {
    bytes[0] = static_cast<char>(0xF0 | (c >> 18));
    bytes[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    bytes[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (c & 0x3F));
    length = 4;
  }
  if (line->size() + length > kMaxTextBytes) return false;
  line->append(bytes, length);
  return true;
}

}  // namespace

uint32_t EncodingMarkerOf(const uint8_t* bytes, uint32_t count) {
  if (count >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) return kMarkerUtf16LE;
  if (count >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) return kMarkerUtf16BE;
  if (count >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) return kMarkerUtf8;
  return kMarkerNone;
}

TextLineReader::TextLineReader(ZepFile* file, uint32_t marker)
    : file_(file),
      marker_(marker),
      wide_(marker == kMarkerUtf16LE || marker == kMarkerUtf16BE),
      bigEndian_(marker == kMarkerUtf16BE) {
  size_t bomLength = 0;
  if (wide_) {
    bomLength = 2;
  } else if (marker_ == kMarkerUtf8) {
    bomLength = 3;
  }
  uint8_t skipped = 0;
  for (size_t i = 0; i < bomLength; ++i) NextByte(&skipped);
}

bool TextLineReader::FillBuffer() {
  if (ended_) return false;
  if (buffer_.size() != kReadChunk) buffer_.resize(kReadChunk);
  uint32_t got = 0;
  if (file_ == nullptr || zep_file_read(file_, buffer_.data(), kReadChunk, &got) < 0 || got == 0) {
    ended_ = true;
    return false;
  }
  consumed_ += size_;
  pos_ = 0;
  size_ = got;
  return true;
}

bool TextLineReader::PeekByte(uint8_t* byte) {
  if (pos_ >= size_ && !FillBuffer()) return false;
  *byte = buffer_[pos_];
  return true;
}

bool TextLineReader::NextByte(uint8_t* byte) {
  if (!PeekByte(byte)) return false;
  ++pos_;
  return true;
}

bool TextLineReader::NextUnit(uint16_t* unit) {
  uint8_t first = 0;
  uint8_t second = 0;
  if (!NextByte(&first)) return false;
  // An odd byte at the very end holds no complete code unit.
  if (!NextByte(&second)) return false;
  *unit = bigEndian_ ? static_cast<uint16_t>((first << 8) | second)
                     : static_cast<uint16_t>((second << 8) | first);
  return true;
}

bool TextLineReader::PeekUnit(uint16_t* unit) {
  // Both bytes of the unit are needed in the buffer; move a lone last byte to
  // the front before refilling.
  if (size_ - pos_ < 2) {
    if (ended_) return false;
    uint8_t carried = 0;
    const bool haveCarried = pos_ < size_;
    if (haveCarried) carried = buffer_[pos_];
    if (buffer_.size() != kReadChunk) buffer_.resize(kReadChunk);
    uint32_t got = 0;
    const size_t offset = haveCarried ? 1 : 0;
    if (haveCarried) buffer_[0] = carried;
    if (file_ == nullptr ||
        zep_file_read(file_, buffer_.data() + offset, static_cast<uint32_t>(kReadChunk - offset),
                      &got) < 0 ||
        got == 0) {
      ended_ = true;
      pos_ = 0;
      size_ = offset;
      return false;
    }
    pos_ = 0;
    size_ = offset + got;
    if (size_ < 2) return false;
  }
  const uint8_t first = buffer_[pos_];
  const uint8_t second = buffer_[pos_ + 1];
  *unit = bigEndian_ ? static_cast<uint16_t>((first << 8) | second)
                     : static_cast<uint16_t>((second << 8) | first);
  return true;
}

bool TextLineReader::Next(std::string* line) {
  line->clear();
  lineOffset_ = consumed_ + pos_;
  return wide_ ? NextWideLine(line) : NextNarrowLine(line);
}

bool TextLineReader::NextNarrowLine(std::string* line) {
  bool any = false;
  bool keep = true;  // false once the line's text is complete (cut or zero byte)
  uint8_t byte = 0;
  while (NextByte(&byte)) {
    any = true;
    if (byte == kCR) {
      uint8_t next = 0;
      if (PeekByte(&next) && next == kLF) ++pos_;
      break;
    }
    if (byte == kLF) break;
    if (!keep) continue;
    if (byte == 0) {
      keep = false;
      continue;
    }
    // One byte beyond the limit is kept to see whether the cut splits a
    // character; the rest of an overlong line is dropped.
    line->push_back(static_cast<char>(byte));
    if (line->size() > kMaxTextBytes) keep = false;
  }
  if (!any) return false;
  if (line->size() > kMaxTextBytes) line->resize(Utf8PrefixLength(*line, kMaxTextBytes));
  return true;
}

bool TextLineReader::NextWideLine(std::string* line) {
  bool any = false;
  bool keep = true;
  uint16_t unit = 0;
  uint16_t pendingHigh = 0;  // a high surrogate waiting for its partner
  while (NextUnit(&unit)) {
    any = true;
    if (IsWideCR(unit)) {
      uint16_t next = 0;
      if (PeekUnit(&next) && IsWideLF(next)) pos_ += 2;
      break;
    }
    if (IsWideLF(unit)) break;
    if (!keep) continue;
    uint32_t c = unit;
    if (pendingHigh != 0) {
      if (unit >= 0xDC00 && unit <= 0xDFFF) {
        c = 0x10000 + ((static_cast<uint32_t>(pendingHigh) - 0xD800) << 10) + (unit - 0xDC00u);
        pendingHigh = 0;
      } else {
        pendingHigh = 0;
        if (!AppendCodePoint(line, 0xFFFD)) {
          keep = false;
          continue;
        }
      }
    }
    if (c >= 0xD800 && c <= 0xDBFF) {
      pendingHigh = static_cast<uint16_t>(c);
      continue;
    }
    if (c >= 0xDC00 && c <= 0xDFFF) c = 0xFFFD;
    if (c == 0) {
      keep = false;
      continue;
    }
    if (!AppendCodePoint(line, c)) keep = false;
  }
  if (keep && pendingHigh != 0) AppendCodePoint(line, 0xFFFD);
  return any;
}

}  // namespace zep::subtitle
