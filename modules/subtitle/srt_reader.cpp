#include "modules/subtitle/srt_reader.h"

#include <cstring>
#include <limits>
#include <new>

#include "layer1/zep_damage.h"
#include "modules/subtitle/text_line_reader.h"

using zep::subtitle::TextLineReader;

namespace {

constexpr int64_t kIntMin = std::numeric_limits<int32_t>::min();
constexpr int64_t kIntMax = std::numeric_limits<int32_t>::max();

// "%d:%d:%d,%d": hours, minutes, seconds and milliseconds of one time.
int ScanClock(zep::subtitle::FormatScanner* scan, int64_t values[4]) {
  int found = 0;
  const char separators[3] = {':', ':', ','};
  for (int i = 0; i < 4; ++i) {
    if (!scan->Number(&values[i], kIntMin, kIntMax)) return found;
    ++found;
    if (i < 3 && !scan->Literal(separators[i])) return found;
  }
  return found;
}

}  // namespace

bool ZepScanSrtTiming(std::string_view line, uint64_t* start, uint64_t* end) {
  zep::subtitle::FormatScanner scan(line);
  int64_t from[4] = {};
  int64_t to[4] = {};
  if (ScanClock(&scan, from) < 4) return false;
  scan.SkipSpace();
  if (!scan.Literal('-') || !scan.Literal('-') || !scan.Literal('>')) return false;
  scan.SkipSpace();
  if (ScanClock(&scan, to) < 4) return false;
  *start = static_cast<uint64_t>(
      zep::subtitle::ClockToTime(from[0], from[1], from[2], from[3], 1000, 10000));
  *end = static_cast<uint64_t>(zep::subtitle::ClockToTime(to[0], to[1], to[2], to[3], 1000, 10000));
  return true;
}

CSRTReader::~CSRTReader() { entries_.clear(); }

ZEP_STATUS CSRTReader::Open(const zep_wchar_t* name) {
  if (DetectEncoding(name) < 0) return ZEP_E_CANNOT_OPEN;
  if (ITextSubtitleRead::Open(name) < 0) return ZEP_E_CANNOT_OPEN;
  ZEP_STATUS status = ZEP_OK;
  try {
    TextLineReader lines(file_, encodingMarker_);
    for (;;) {
      Entry entry;
      const EntryRead result = ReadOneEntry(&lines, &entry);
      if (result == EntryRead::kEnd) break;
      if (result == EntryRead::kFailed) {
        status = ZEP_FAIL;
        break;
      }
      entries_.push_back(std::move(entry));
    }
  } catch (const std::bad_alloc&) {
    status = ZEP_E_NO_MEMORY;
  }
  cursor_ = 0;
  CloseFile();
  return status;
}

CSRTReader::EntryRead CSRTReader::ReadOneEntry(TextLineReader* lines, Entry* entry) {
  std::string line;
  bool reported = false;  // one report for a run of lines passed over
  for (;;) {
    // The first line that is not blank is the entry's number; it is not
    // interpreted.
    do {
      if (!lines->Next(&line)) return EntryRead::kEnd;
    } while (zep::subtitle::IsBlankLine(line));
    if (!lines->Next(&line)) return EntryRead::kFailed;
    // A damaged timing line drops what was read and the search for the next
    // number line goes on.
    if (!ZepScanSrtTiming(line, &entry->start, &entry->end)) {
      if (!reported)
        zep_report_damage(lines->LineOffset(),
                          "An entry with an unreadable timing line is passed over");
      reported = true;
      continue;
    }
    if (entry->end < entry->start) entry->end = entry->start;

    // The text lines run to a blank line or the end of the file. They are
    // joined with line feeds, where the renderer breaks its lines.
    entry->text.clear();
    bool full = false;
    int count = 0;
    while (lines->Next(&line) && !zep::subtitle::IsBlankLine(line)) {
      if (count++ >= kMaxTextLines || full) continue;
      if (!entry->text.empty())
        full = !zep::subtitle::AppendBounded(&entry->text, "\n", zep::subtitle::kMaxTextBytes);
      if (!full)
        full = !zep::subtitle::AppendBounded(&entry->text, line, zep::subtitle::kMaxTextBytes);
    }
    // A trailing line feed of a text cut at the limit is no text line.
    while (!entry->text.empty() && entry->text.back() == '\n') entry->text.pop_back();
    if (entry->text.empty()) continue;
    return EntryRead::kEntry;
  }
}

ZEP_STATUS CSRTReader::ReadEntry(ZepTextSubtitleEntry* entry) {
  if (entry == nullptr) return ZEP_E_NULL_ARG;
  if (cursor_ >= entries_.size()) {
    ZepClearEntry(entry);
    return kZepNoEntryLeft;
  }
  const Entry& e = entries_[cursor_++];
  ZepFillEntry(entry, e.text, e.start, e.end);
  return ZEP_OK;
}

ZEP_STATUS CSRTReader::SeekEntry(int64_t* time) {
  if (time == nullptr) return ZEP_E_NULL_ARG;
  if (entries_.empty()) return kZepNoEntryLeft;
  const auto t = static_cast<uint64_t>(*time < 0 ? 0 : *time);
  if (t < entries_.front().start) {
    cursor_ = 0;
    *time = static_cast<int64_t>(entries_.front().start);
    return ZEP_OK;
  }
  if (t > entries_.back().end) {
    cursor_ = static_cast<uint32_t>(entries_.size() - 1);
    *time = -1;
    return kZepNoEntryLeft;
  }
  for (size_t i = 0; i < entries_.size(); ++i) {
    size_t chosen = entries_.size();
    if (entries_[i].start <= t && t <= entries_[i].end) {
      chosen = i;
    } else if (i + 1 < entries_.size() && entries_[i].end < t && t < entries_[i + 1].start) {
      chosen = i + 1;
    }
    if (chosen < entries_.size()) {
      cursor_ = static_cast<uint32_t>(chosen);
      *time = static_cast<int64_t>(entries_[chosen].start);
      return ZEP_OK;
    }
  }
  // Entries out of time order can leave a time inside no entry and no gap.
  return ZEP_FAIL;
}

ZEP_STATUS CSRTReader::GetStreamFormat(ZepTextSubtitleFormat* record) {
  if (record == nullptr) return ZEP_E_NULL_ARG;
  std::memset(record, 0, sizeof *record);
  record->width = 640;
  record->height = 480;
  record->bitsPerPixel = 4;
  record->imageSize = 153600;
  record->compression = ZepFourCC("NORV");
  record->fourcc = ZepFourCC("NRTX");
  return ZEP_OK;
}
