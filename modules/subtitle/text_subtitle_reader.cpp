#include "modules/subtitle/text_subtitle_reader.h"

#include <cstring>

#include "modules/subtitle/text_line_reader.h"

ITextSubtitleRead::~ITextSubtitleRead() { ITextSubtitleRead::Close(); }

ZEP_STATUS ITextSubtitleRead::Open(const zep_wchar_t* name) {
  CloseFile();
  return zep_file_open(name, ZEP_FILE_READ | ZEP_FILE_SEQUENTIAL, &file_, nullptr);
}

void ITextSubtitleRead::Close() {
  CloseFile();
  codecPrivate_.clear();
  codecPrivate_.shrink_to_fit();
}

uint32_t ITextSubtitleRead::GetCodecPrivateSize() const {
  return static_cast<uint32_t>(codecPrivate_.size());
}

const uint8_t* ITextSubtitleRead::GetCodecPrivate() const {
  return codecPrivate_.empty() ? nullptr : codecPrivate_.data();
}

void ITextSubtitleRead::CloseFile() {
  if (file_ != nullptr) {
    zep_file_close(file_);
    file_ = nullptr;
  }
}

ZEP_STATUS ITextSubtitleRead::DetectEncoding(const zep_wchar_t* name) {
  encodingMarker_ = zep::subtitle::kMarkerUnknown;
  ZepFile* file = nullptr;
  if (zep_file_open(name, ZEP_FILE_READ, &file, nullptr) < 0) return ZEP_E_CANNOT_OPEN;
  uint8_t head[4] = {};
  uint32_t got = 0;
  const ZEP_STATUS status = zep_file_read(file, head, sizeof head, &got);
  zep_file_close(file);
  if (status < 0) return ZEP_E_CANNOT_OPEN;
  encodingMarker_ = zep::subtitle::EncodingMarkerOf(head, got);
  return ZEP_OK;
}

void ZepFillEntry(ZepTextSubtitleEntry* entry, std::string_view text, uint64_t start,
                  uint64_t end) {
  const size_t length = zep::subtitle::Utf8PrefixLength(text, zep::subtitle::kMaxTextBytes);
  if (length > 0) std::memcpy(entry->text, text.data(), length);
  std::memset(entry->text + length, 0, sizeof entry->text - length);
  entry->start = start;
  entry->end = end;
}

void ZepClearEntry(ZepTextSubtitleEntry* entry) { ZepFillEntry(entry, {}, 0, 0); }

uint32_t ZepFourCC(const char (&code)[5]) {
  return static_cast<uint32_t>(static_cast<uint8_t>(code[0])) |
         static_cast<uint32_t>(static_cast<uint8_t>(code[1])) << 8 |
         static_cast<uint32_t>(static_cast<uint8_t>(code[2])) << 16 |
         static_cast<uint32_t>(static_cast<uint8_t>(code[3])) << 24;
}
