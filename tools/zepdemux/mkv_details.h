// What a Matroska file carries beyond its streams, read through the
// container layer's queries (the CLI parses no Matroska bytes itself):
// Segments and their linked chain, tracks with their flags and languages,
// editions and chapters, tags with nested SimpleTags, attachments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace zepcli {

// A string the file may or may not carry.
using MaybeText = std::optional<std::string>;

struct MkvChainDesc {
  std::string file;
  int64_t duration = 0;  // 100 ns
  std::string uid;       // hex, empty when the Segment has none
  bool opened = false;
};

struct MkvTrackDesc {
  uint32_t kind = 0;  // 0: no stream (unknown track type), else a MediaType
  uint32_t stream = 0;
  uint64_t number = 0, uid = 0;
  std::string codec_id, language;
  MaybeText codec_name, name;
  bool is_default = false, forced = false, enabled = true;
  uint64_t default_duration = 0;  // ns, 0 when absent
  uint32_t compression = 0;       // ContentCompAlgo + 1, 0 none
  uint32_t private_size = 0;
};

struct MkvChapterDesc {
  uint32_t depth = 0;
  uint64_t uid = 0;
  int64_t start = 0, end = 0;  // 100 ns
  bool hidden = false, enabled = true;
  MaybeText name, language, country;
};

struct MkvEditionDesc {
  uint64_t uid = 0;
  bool is_default = false, ordered = false, hidden = false, current = false;
  int64_t ordered_length = 0;            // 100 ns
  std::vector<MkvChapterDesc> chapters;  // depth-first
};

struct MkvSimpleTagDesc {
  uint32_t depth = 0;
  std::string name;
  MaybeText value, language;
  uint32_t binary_size = 0;
};

struct MkvTagDesc {
  std::vector<uint64_t> tracks, editions, chapters, attachments;  // target UIDs
  std::vector<MkvSimpleTagDesc> simple_tags;                      // depth-first
};

struct MkvAttachmentDesc {
  std::string name, mime_type, description;
  uint64_t uid = 0, size = 0;
};

struct MkvSegmentDesc {
  int index = 0;
  int64_t duration = 0;  // 100 ns: the whole linked chain
  MaybeText title, file_name, prev_name, next_name, muxing_app, writing_app;
  std::vector<MkvChainDesc> chain;
  std::vector<MkvTrackDesc> tracks;
  std::vector<MkvEditionDesc> editions;
  std::vector<MkvTagDesc> tags;
  std::vector<MkvAttachmentDesc> attachments;
};

// The details of every Segment, or nothing when the container layer does not
// read the file as Matroska.
std::optional<std::vector<MkvSegmentDesc>> read_mkv_details(const std::string& file);
void print_mkv_details(const std::vector<MkvSegmentDesc>& segments);
nlohmann::ordered_json mkv_details_json(const std::vector<MkvSegmentDesc>& segments);

// Writes the bytes of attachment `number` of Segment `title` to `out`.
// Attachments count from 1, as mkvextract numbers them. Throws Failure.
void extract_attachment(const std::string& file, int title, int number, const std::string& out);

}  // namespace zepcli
