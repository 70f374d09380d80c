// The text subtitle readers: a reader opens an SRT, ASS or SSA file, detects
// its encoding, keeps every entry in memory and hands the entries out one at a
// time in file order, each as a UTF-8 text of at most 999 bytes with a start
// and an end time in 100 ns units.
#pragma once

#include <cstdint>
#include <vector>

#include "layer1/zep_status.h"
#include "modules/subtitle/subtitle_module.h"
#include "modules/subtitle/subtitle_text.h"
#include "platform/zep_platform.h"

// One subtitle entry as handed to the module.
struct ZepTextSubtitleEntry {
  char text[zep::subtitle::kEntryTextSize];  // zero-terminated UTF-8
  uint64_t start;                            // 100 ns
  uint64_t end;                              // 100 ns
};

// Status of ReadEntry (and of an SRT seek past the last entry) when no entry
// is left.
inline constexpr ZEP_STATUS kZepNoEntryLeft = ZEP_E_INPUT_ENDED;

class ITextSubtitleRead {
 public:
  ITextSubtitleRead() = default;
  ITextSubtitleRead(const ITextSubtitleRead&) = delete;
  ITextSubtitleRead& operator=(const ITextSubtitleRead&) = delete;
  // Closes the file and frees the codec private buffer and every entry.
  virtual ~ITextSubtitleRead();

  // Fills the next entry and advances; kZepNoEntryLeft at the end, the entry
  // then empty (text "", times 0).
  virtual ZEP_STATUS ReadEntry(ZepTextSubtitleEntry* entry) = 0;
  // Places the cursor at the entry for *time and answers that entry's start
  // through *time.
  virtual ZEP_STATUS SeekEntry(int64_t* time) = 0;
  virtual ZEP_STATUS GetStreamFormat(ZepTextSubtitleFormat* record) = 0;
  // Reads the whole file; the file is closed again afterwards.
  virtual ZEP_STATUS Open(const zep_wchar_t* name);
  virtual void Close();
  virtual uint32_t GetCodecPrivateSize() const;
  virtual const uint8_t* GetCodecPrivate() const;

  // 0xFFFE UTF-16 LE, 0xFEFF UTF-16 BE, 0xEFBBBF UTF-8 BOM, 0 no BOM,
  // 0xFFFFFFFF not yet known or file unreadable.
  uint32_t encoding_marker() const { return encodingMarker_; }

 protected:
  // Reads the first bytes of the file for its byte order mark. -3 when the
  // file cannot be opened or read.
  ZEP_STATUS DetectEncoding(const zep_wchar_t* name);
  void CloseFile();

  ZepFile* file_ = nullptr;
  std::vector<uint8_t> codecPrivate_;
  uint32_t encodingMarker_ = 0xFFFFFFFFu;
};

// Writes text into an entry record, cut at a character boundary so that it
// stays terminated within the record.
void ZepFillEntry(ZepTextSubtitleEntry* entry, std::string_view text, uint64_t start, uint64_t end);
void ZepClearEntry(ZepTextSubtitleEntry* entry);

// Writes a FourCC (four raw bytes in file order) into a record field.
uint32_t ZepFourCC(const char (&code)[5]);
