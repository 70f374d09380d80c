// SubRip (.srt) reader: numbered entries, each a number line, a timing line
// "HH:MM:SS,mmm --> HH:MM:SS,mmm" and up to nine text lines, separated by
// blank lines.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modules/subtitle/text_subtitle_reader.h"

namespace zep::subtitle {
class TextLineReader;
}

class CSRTReader final : public ITextSubtitleRead {
 public:
  // Text lines of an entry beyond this count are read and dropped.
  static constexpr int kMaxTextLines = 9;

  CSRTReader() = default;
  ~CSRTReader() override;

  ZEP_STATUS ReadEntry(ZepTextSubtitleEntry* entry) override;
  ZEP_STATUS SeekEntry(int64_t* time) override;
  ZEP_STATUS GetStreamFormat(ZepTextSubtitleFormat* record) override;
  // -3 when the file cannot be opened, -1 when the file ends on a number line
  // (the entries before it are kept), -10 when memory runs out.
  ZEP_STATUS Open(const zep_wchar_t* name) override;

  size_t entry_count() const { return entries_.size(); }
  uint32_t cursor() const { return cursor_; }

 private:
  struct Entry {
    std::string text;  // lines joined by line feeds, at most 999 bytes
    uint64_t start;
    uint64_t end;
  };
  enum class EntryRead { kEntry, kEnd, kFailed };

  EntryRead ReadOneEntry(zep::subtitle::TextLineReader* lines, Entry* entry);

  std::vector<Entry> entries_;
  uint32_t cursor_ = 0;
};

// Scans an SRT timing line; true when all eight numbers were found.
bool ZepScanSrtTiming(std::string_view line, uint64_t* start, uint64_t* end);
