// What a Matroska file carries beyond its streams, read through the
// library's own queries: Segments and their linked chain, tracks with their
// flags and languages, editions and chapters, tags, attachments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace zepcli {

struct MkvChapterDesc {
  int depth = 0;
  uint64_t uid = 0;
  int64_t start = 0, end = 0;  // 100 ns
  bool hidden = false, enabled = true;
  std::string name, language;
};

struct MkvEditionDesc {
  uint64_t uid = 0;
  bool isDefault = false, ordered = false, hidden = false, current = false;
  std::vector<MkvChapterDesc> chapters;
};

struct MkvSimpleTagDesc {
  int depth = 0;
  std::string name, value, language;
  size_t binarySize = 0;
};

struct MkvTagDesc {
  std::vector<uint64_t> trackUids, editionUids, chapterUids, attachmentUids;
  std::vector<MkvSimpleTagDesc> simpleTags;  // depth-first
};

struct MkvAttachmentDesc {
  std::string name, mimeType, description;
  uint64_t uid = 0, size = 0;
};

struct MkvTrackDesc {
  uint32_t kind = 0, streamIndex = 0;
  uint64_t number = 0, uid = 0;
  std::string codecId, codecName, name, language;
  bool isDefault = false, forced = false, enabled = true;
};

struct MkvChainDesc {
  std::string file;
  int64_t duration = 0;
  bool opened = false;
};

struct MkvSegmentDesc {
  int index = 0;
  std::string title, muxingApp, writingApp;
  std::vector<MkvChainDesc> chain;
  std::vector<MkvTrackDesc> tracks;
  std::vector<MkvEditionDesc> editions;
  std::vector<MkvTagDesc> tags;
  std::vector<MkvAttachmentDesc> attachments;
};

// The details of every Segment, or nothing when the file is no Matroska file.
std::optional<std::vector<MkvSegmentDesc>> read_mkv_details(const std::string& file);
void print_mkv_details(const std::vector<MkvSegmentDesc>& segments);
nlohmann::ordered_json mkv_details_json(const std::vector<MkvSegmentDesc>& segments);

// Writes the bytes of attachment `number` (counted from 1, as mkvextract
// numbers them) of title `title` to `out`; throws Failure.
void extract_attachment(const std::string& file, int title, int number, const std::string& out);

}  // namespace zepcli
