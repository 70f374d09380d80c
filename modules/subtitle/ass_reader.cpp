#include "modules/subtitle/ass_reader.h"

#include <cstring>
#include <limits>
#include <new>

#include "layer1/zep_damage.h"
#include "modules/subtitle/text_line_reader.h"

using zep::subtitle::TextLineReader;

namespace {

constexpr std::string_view kStyleFieldNames[kZepAssStyleFieldCount] = {
    "Name",           "Fontname",    "Fontsize",      "PrimaryColour", "SecondaryColour",
    "TertiaryColour", "BackColour",  "OutlineColour", "Bold",          "Italic",
    "Underline",      "StrikeOut",   "ScaleX",        "ScaleY",        "Spacing",
    "Angle",          "BorderStyle", "Outline",       "Shadow",        "Alignment",
    "MarginL",        "MarginR",     "MarginV",       "AlphaLevel",    "Encoding"};

constexpr std::string_view kEventFieldNames[kZepAssEventFieldCount] = {
    "Marked",  "Start",   "End",    "Style", "Name",  "MarginL",
    "MarginR", "MarginV", "Effect", "Text",  "Layer", "Actor"};

constexpr std::string_view kScriptInfoKeys[kZepAssScriptInfoKeyCount] = {"Title:",
                                                                         "Original Script:",
                                                                         "Original Translation:",
                                                                         "Original Editing:",
                                                                         "Original Timing:",
                                                                         "Synch Point:",
                                                                         "Script Updated By:",
                                                                         "Update Details:",
                                                                         "ScriptType:",
                                                                         "Collisions:",
                                                                         "PlayResX:",
                                                                         "PlayResY:",
                                                                         "PlayDepth:",
                                                                         "Timer:",
                                                                         "WrapStyle:"};

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The field kinds named by a Format line's text after its colon, in order.
template <size_t N>
std::vector<int> ParseFormat(std::string_view names, const std::string_view (&known)[N]) {
  std::vector<int> kinds;
  for (;;) {
    const size_t comma = names.find(',');
    const std::string_view name = zep::subtitle::TrimSpaces(names.substr(0, comma));
    int kind = -1;
    for (size_t i = 0; i < N; ++i) {
      if (zep::subtitle::EqualsIgnoreCase(name, known[i])) {
        kind = static_cast<int>(i);
        break;
      }
    }
    kinds.push_back(kind);
    if (comma == std::string_view::npos) break;
    names.remove_prefix(comma + 1);
  }
  return kinds;
}

// Divides a line among the fields of a Format list: each field runs to the
// next comma, the last field takes the rest of the line with its commas, and
// fields the line does not reach stay empty.
template <size_t N>
void DivideFields(std::string_view rest, const std::vector<int>& format,
                  ZepAssFieldRecord<N>* record) {
  record->text.assign(rest);
  size_t pos = 0;
  for (size_t i = 0; i < format.size(); ++i) {
    if (pos > rest.size()) break;
    size_t fieldEnd = rest.size();
    if (i + 1 < format.size()) {
      const size_t comma = rest.find(',', pos);
      if (comma != std::string_view::npos) fieldEnd = comma;
    }
    const int kind = format[i];
    if (kind >= 0) {
      record->offset[static_cast<size_t>(kind)] = static_cast<uint16_t>(pos);
      record->length[static_cast<size_t>(kind)] = static_cast<uint16_t>(fieldEnd - pos);
    }
    pos = fieldEnd + 1;
  }
}

}  // namespace

uint64_t ZepScanAssTime(std::string_view text) {
  zep::subtitle::FormatScanner scan(text);
  constexpr int64_t kLow = std::numeric_limits<int64_t>::min();
  constexpr int64_t kHigh = std::numeric_limits<int64_t>::max();
  int64_t v[4] = {};
  // Fields missing from the text keep 0, as a scan that stops early leaves them.
  if (scan.Number(&v[0], kLow, kHigh) && scan.Literal(':') && scan.Number(&v[1], kLow, kHigh) &&
      scan.Literal(':') && scan.Number(&v[2], kLow, kHigh) && scan.Literal('.')) {
    scan.Number(&v[3], kLow, kHigh);
  }
  return static_cast<uint64_t>(zep::subtitle::ClockToTime(v[0], v[1], v[2], v[3], 100, 100000));
}

CASSReader::~CASSReader() { CASSReader::Close(); }

void CASSReader::Close() {
  ITextSubtitleRead::Close();
  for (auto& value : scriptInfo_) value.clear();
  styles_.clear();
  events_.clear();
  styleFormat_.clear();
  eventFormat_.clear();
  haveEventFormat_ = false;
  formatTag_ = 0;
  cursor_ = 0;
  section_ = Section::kNone;
}

ZEP_STATUS CASSReader::Open(const zep_wchar_t* name) {
  if (DetectEncoding(name) < 0) return ZEP_E_CANNOT_OPEN;
  const ZEP_STATUS status = ITextSubtitleRead::Open(name);
  if (status < 0) return ZEP_E_CANNOT_OPEN;
  try {
    TextLineReader lines(file_, encodingMarker_);
    std::string header;
    bool headerFixed = false;
    std::string line;
    while (lines.Next(&line)) {
      lineOffset_ = lines.LineOffset();
      HandleLine(line, &header, &headerFixed);
    }
  } catch (const std::bad_alloc&) {
    CloseFile();
    return ZEP_E_NO_MEMORY;
  }
  cursor_ = 0;
  CloseFile();
  return status;
}

void CASSReader::HandleLine(std::string_view line, std::string* header, bool* headerFixed) {
  // The header text (codec private data) collects every line, comments
  // included, up to the first line that the event section accepts.
  if (!*headerFixed) {
    header->append(line);
    header->push_back('\n');
  }
  if (StartsWith(line, "!:") || StartsWith(line, ";")) return;
  if (line == "[Script Info]") {
    section_ = Section::kScriptInfo;
  } else if (line == "[V4 Styles]") {
    section_ = Section::kStyles;
    std::memcpy(&formatTag_, "SSA", 4);
  } else if (line == "[V4+ Styles]") {
    section_ = Section::kStyles;
    std::memcpy(&formatTag_, "ASS", 4);
  } else if (line == "[Events]") {
    section_ = Section::kEvents;
  } else if (line == "[Fonts]" || line == "[Graphics]") {
    section_ = Section::kIgnored;
  } else if (section_ == Section::kScriptInfo) {
    HandleScriptInfo(line);
  } else if (section_ == Section::kStyles) {
    HandleStyle(line);
  } else if (section_ == Section::kEvents) {
    if (HandleEvent(line) == ZEP_OK && !*headerFixed) {
      codecPrivate_.assign(header->begin(), header->end());
      header->clear();
      header->shrink_to_fit();
      *headerFixed = true;
    }
  }
}

ZEP_STATUS CASSReader::HandleScriptInfo(std::string_view line) {
  for (size_t i = 0; i < kZepAssScriptInfoKeyCount; ++i) {
    if (StartsWith(line, kScriptInfoKeys[i])) {
      scriptInfo_[i].assign(line.substr(kScriptInfoKeys[i].size()));
      return ZEP_OK;
    }
  }
  return ZEP_OK;
}

ZEP_STATUS CASSReader::HandleStyle(std::string_view line) {
  if (StartsWith(line, "Format:")) {
    styleFormat_ = ParseFormat(line.substr(7), kStyleFieldNames);
    return ZEP_OK;
  }
  if (StartsWith(line, "Style:")) {
    StyleRecord style;
    DivideFields(line.substr(6), styleFormat_, &style);
    styles_.push_back(std::move(style));
    return ZEP_OK;
  }
  return ZEP_FAIL;
}

ZEP_STATUS CASSReader::HandleEvent(std::string_view line) {
  if (StartsWith(line, "Format:")) {
    eventFormat_ = ParseFormat(line.substr(7), kEventFieldNames);
    haveEventFormat_ = true;
    return ZEP_OK;
  }
  if (StartsWith(line, "Dialogue:") && haveEventFormat_) {
    std::string_view rest = line.substr(9);
    if (StartsWith(rest, " ")) rest.remove_prefix(1);
    EventRecord event;
    DivideFields(rest, eventFormat_, &event);
    uint64_t start = 0, end = 0;
    if (!EventTimes(event, &start, &end))
      zep_report_damage(lineOffset_, "A Dialogue event without a readable time is passed over");
    events_.push_back(std::move(event));
    return ZEP_OK;
  }
  return ZEP_FAIL;
}

bool CASSReader::EventTimes(const EventRecord& event, uint64_t* start, uint64_t* end) const {
  const std::string_view startText = event.Get(static_cast<size_t>(ZepAssEventField::kStart));
  const std::string_view endText = event.Get(static_cast<size_t>(ZepAssEventField::kEnd));
  if (startText.empty() || endText.empty()) return false;
  *start = ZepScanAssTime(startText);
  *end = ZepScanAssTime(endText);
  // An event that ends before it starts is shown for no time at all.
  if (*end < *start) *end = *start;
  return true;
}

ZEP_STATUS CASSReader::ReadEntry(ZepTextSubtitleEntry* entry) {
  if (entry == nullptr) return ZEP_E_NULL_ARG;
  // An event without a readable time can never be shown; it is passed over
  // so that the events after it are still delivered.
  uint64_t start = 0;
  uint64_t end = 0;
  while (cursor_ < events_.size() && !EventTimes(events_[cursor_], &start, &end)) ++cursor_;
  if (cursor_ >= events_.size()) {
    ZepClearEntry(entry);
    return kZepNoEntryLeft;
  }
  const EventRecord& event = events_[cursor_];
  // The entry text: the event's list position, then every Format field
  // other than Start and End, each after a comma.
  try {
    std::string text = std::to_string(cursor_);
    for (const int kind : eventFormat_) {
      if (kind < 0 || kind == static_cast<int>(ZepAssEventField::kStart) ||
          kind == static_cast<int>(ZepAssEventField::kEnd)) {
        continue;
      }
      if (text.size() > zep::subtitle::kMaxTextBytes) break;
      text.push_back(',');
      text.append(event.Get(static_cast<size_t>(kind)));
    }
    ZepFillEntry(entry, text, start, end);
  } catch (const std::bad_alloc&) {
    return ZEP_E_NO_MEMORY;
  }
  ++cursor_;
  return ZEP_OK;
}

ZEP_STATUS CASSReader::SeekEntry(int64_t* time) {
  if (time == nullptr) return ZEP_E_NULL_ARG;
  const auto t = static_cast<uint64_t>(*time < 0 ? 0 : *time);
  for (size_t i = 0; i < events_.size(); ++i) {
    uint64_t start = 0;
    uint64_t end = 0;
    if (EventTimes(events_[i], &start, &end) && start <= t && t <= end) {
      cursor_ = static_cast<uint32_t>(i);
      *time = static_cast<int64_t>(start);
      return ZEP_OK;
    }
  }
  return ZEP_FAIL;
}

ZEP_STATUS CASSReader::GetStreamFormat(ZepTextSubtitleFormat* record) {
  if (record == nullptr) return ZEP_E_NULL_ARG;
  if (formatTag_ == 0) return ZEP_FAIL;
  std::memset(record, 0, sizeof *record);
  record->kind = 0x21;
  record->compression = ZepFourCC("NRTX");
  record->fourcc = formatTag_;
  return ZEP_OK;
}
