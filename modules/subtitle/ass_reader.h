// Advanced SubStation Alpha (.ass) and SubStation Alpha (.ssa) reader: the
// [Script Info], [V4+ Styles] / [V4 Styles] and [Events] sections, styles and
// Dialogue events divided by their section's Format line, and the file's
// header text up to the event Format line as codec private data.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "modules/subtitle/text_subtitle_reader.h"

// Style field kinds, in kind order.
enum class ZepAssStyleField : int {
  kName,
  kFontname,
  kFontsize,
  kPrimaryColour,
  kSecondaryColour,
  kTertiaryColour,
  kBackColour,
  kOutlineColour,
  kBold,
  kItalic,
  kUnderline,
  kStrikeOut,
  kScaleX,
  kScaleY,
  kSpacing,
  kAngle,
  kBorderStyle,
  kOutline,
  kShadow,
  kAlignment,
  kMarginL,
  kMarginR,
  kMarginV,
  kAlphaLevel,
  kEncoding,
};
inline constexpr size_t kZepAssStyleFieldCount = 25;

// Event field kinds, in kind order.
enum class ZepAssEventField : int {
  kMarked,
  kStart,
  kEnd,
  kStyle,
  kName,
  kMarginL,
  kMarginR,
  kMarginV,
  kEffect,
  kText,
  kLayer,
  kActor,
};
inline constexpr size_t kZepAssEventFieldCount = 12;

// Keys of the [Script Info] section that are kept.
inline constexpr size_t kZepAssScriptInfoKeyCount = 15;

// A line's fields, each a span of one stored text (lines are below 1000
// bytes, so 16-bit spans suffice). A field that the line did not reach is
// empty.
template <size_t N>
struct ZepAssFieldRecord {
  std::string text;
  std::array<uint16_t, N> offset{};
  std::array<uint16_t, N> length{};

  std::string_view Get(size_t kind) const {
    return std::string_view(text).substr(offset[kind], length[kind]);
  }
};

class CASSReader final : public ITextSubtitleRead {
 public:
  CASSReader() = default;
  ~CASSReader() override;

  // Skips events whose Start or End is empty; kZepNoEntryLeft at the end.
  ZEP_STATUS ReadEntry(ZepTextSubtitleEntry* entry) override;
  // The first event with start <= t <= end; -1 when none contains t.
  ZEP_STATUS SeekEntry(int64_t* time) override;
  // -1 when the file had no style section (its format tag is unknown).
  ZEP_STATUS GetStreamFormat(ZepTextSubtitleFormat* record) override;
  // -3 when the file cannot be opened, -10 when memory runs out, else 0.
  ZEP_STATUS Open(const zep_wchar_t* name) override;
  void Close() override;

  // Test access.
  size_t event_count() const { return events_.size(); }
  size_t style_count() const { return styles_.size(); }
  uint32_t format_tag() const { return formatTag_; }
  std::string_view script_info(size_t key) const { return scriptInfo_[key]; }
  std::string_view style_field(size_t style, ZepAssStyleField kind) const {
    return styles_[style].Get(static_cast<size_t>(kind));
  }
  std::string_view event_field(size_t event, ZepAssEventField kind) const {
    return events_[event].Get(static_cast<size_t>(kind));
  }

 private:
  enum class Section { kNone, kScriptInfo, kStyles, kEvents, kIgnored };
  using StyleRecord = ZepAssFieldRecord<kZepAssStyleFieldCount>;
  using EventRecord = ZepAssFieldRecord<kZepAssEventFieldCount>;

  void HandleLine(std::string_view line, std::string* header, bool* headerFixed);
  ZEP_STATUS HandleScriptInfo(std::string_view line);
  ZEP_STATUS HandleStyle(std::string_view line);
  ZEP_STATUS HandleEvent(std::string_view line);
  // The event's times; false when its Start or End text is empty.
  bool EventTimes(const EventRecord& event, uint64_t* start, uint64_t* end) const;

  Section section_ = Section::kNone;
  std::array<std::string, kZepAssScriptInfoKeyCount> scriptInfo_;
  std::vector<StyleRecord> styles_;
  std::vector<EventRecord> events_;
  uint64_t lineOffset_ = 0;  // of the line being handled, for damage reports
  uint32_t cursor_ = 0;
  std::vector<int> styleFormat_;  // field kinds; -1 for a name that is no kind
  std::vector<int> eventFormat_;
  bool haveEventFormat_ = false;
  uint32_t formatTag_ = 0;
};

// Reads an ASS time "H:MM:SS.hh" (hundredths) into 100 ns units.
uint64_t ZepScanAssTime(std::string_view text);
