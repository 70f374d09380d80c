#include "tools/zepdemux/mkv_details.h"

#include <cerrno>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <memory>

#include "layer1/zep_mkv_records.h"
#include "tools/zepdemux/container_query.h"
#include "tools/zepdemux/format.h"
#include "tools/zepdemux/model.h"

namespace zepcli {
namespace {

constexpr uint32_t kMatroska = 2;           // ZEP_QID_GET_CONTAINER_TYPE
constexpr uint32_t kMaxSimpleTags = 65536;  // per Segment: a guard against loops
constexpr uint32_t kMaxTagDepth = 64;
constexpr uint64_t kMaxAttachment = uint64_t(1) << 32;

struct Closer {
  void operator()(ZepContainer* c) const { L1CloseContainer(c); }
};
using Container = std::unique_ptr<ZepContainer, Closer>;

// The file through the container layer, or nothing when it cannot be opened;
// `matroska` says whether its module reads it as Matroska.
Container open_container(const std::string& file, bool& matroska) {
  matroska = false;
  if (ZEP_FAILED(L1Start())) return nullptr;
  const std::u16string name = zep::utf8_to_u16(file);
  ZepContainer* raw = nullptr;
  if (ZEP_FAILED(L1OpenContainer(&raw, name.c_str(), nullptr)) || !raw) return nullptr;
  const auto type = query_scalar(raw, ZEP_QID_GET_CONTAINER_TYPE, 0);
  matroska = type && *type == kMatroska;
  return Container(raw);
}

uint64_t scalar(ZepContainer* c, uint32_t qid, uint32_t index) {
  ZepQueryData q{};
  return ZEP_FAILED(L1GetInfo(c, qid, &q, index)) ? 0 : q.value.u64;
}

uint32_t count(ZepContainer* c, uint32_t qid) {
  return uint32_t(query_scalar(c, qid, 0).value_or(0));
}

bool set_u32(ZepContainer* c, uint32_t qid, uint32_t value) {
  ZepQueryData q{};
  q.value.u32 = value;
  return ZEP_SUCCEEDED(L1SetInfo(c, qid, &q, 0, 0));
}

// A string that the library allocates (type 10 answers); none when absent.
MaybeText new_string(ZepContainer* c, uint32_t qid, uint32_t index) {
  ZepQueryData q{};
  if (ZEP_FAILED(L1GetInfo(c, qid, &q, index)) || !q.value.ptr) return std::nullopt;
  auto* text = static_cast<zep_wchar_t*>(q.value.ptr);
  std::string out = zep::u16_to_utf8(text);
  zep_wcsfree(text, nullptr);
  return out;
}

// A SimpleTag string of the current SimpleTag, written into our buffer.
MaybeText tag_text(ZepContainer* c, uint32_t size_qid, uint32_t qid) {
  const uint64_t size = scalar(c, size_qid, 0);
  if (size == 0 || size > (1u << 24)) return std::nullopt;
  std::u16string text(size_t(size / 2 + 1), u'\0');
  ZepQueryData q{};
  q.size = uint32_t(text.size() * 2);
  q.value.ptr = text.data();
  if (ZEP_FAILED(L1GetInfo(c, qid, &q, 0))) return std::nullopt;
  text.back() = u'\0';
  return zep::u16_to_utf8(text.c_str());
}

std::string hex_bytes(const uint8_t* bytes, uint32_t size) {
  std::string out;
  char pair[3];
  for (uint32_t i = 0; i < size; ++i) {
    std::snprintf(pair, sizeof pair, "%02x", bytes[i]);
    out += pair;
  }
  return out;
}

std::string fixed_text(const zep_wchar_t* chars, size_t capacity) {
  size_t n = 0;
  while (n < capacity && chars[n] != 0) ++n;
  return zep::u16_to_utf8(std::u16string_view(reinterpret_cast<const char16_t*>(chars), n));
}

void read_chain(ZepContainer* c, MkvSegmentDesc& seg) {
  const uint32_t entries = uint32_t(scalar(c, ZEP_QID_MKV_CHAIN_COUNT, 0));
  for (uint32_t i = 0; i < entries; ++i) {
    auto e = std::make_unique<ZepMkvChainEntry>();
    if (!query_record(c, ZEP_QID_MKV_CHAIN_ENTRY, i, e.get(), sizeof *e)) break;
    seg.chain.push_back({fixed_text(e->fileName, ZEP_MAX_PATH), e->duration,
                         hex_bytes(e->segmentUid, std::min<uint32_t>(e->segmentUidSize, 16)),
                         e->isOpenedFile != 0});
  }
}

void read_tracks(ZepContainer* c, MkvSegmentDesc& seg) {
  const uint32_t tracks = count(c, ZEP_QID_NUM_TITLE_STREAMS);
  for (uint32_t i = 0; i < tracks; ++i) {
    ZepMkvTrackProp p{};
    if (!query_record(c, ZEP_QID_GET_TRACK_PROP, i, &p, sizeof p)) break;
    MkvTrackDesc t;
    t.kind = p.kind;
    t.stream = p.streamIndex;
    t.number = p.number;
    t.uid = p.uid;
    t.codec_id = fixed_text(p.codecId, 64);
    t.language = fixed_text(p.language, 32);
    t.is_default = p.flags & ZEP_TRACK_FLAG_DEFAULT;
    t.forced = p.flags & ZEP_TRACK_FLAG_FORCED;
    t.enabled = p.flags & ZEP_TRACK_FLAG_ENABLED;
    t.default_duration = p.defaultDuration;
    t.compression = p.compression;
    t.private_size = p.codecPrivateSize;
    struct Qids {
      uint32_t name, codec;
    };
    const Qids qids = p.kind == kVideo   ? Qids{ZEP_QID_VID_STREAM_NAME, ZEP_QID_VID_CODEC_NAME}
                      : p.kind == kAudio ? Qids{ZEP_QID_AUD_STREAM_NAME, ZEP_QID_AUD_CODEC_NAME}
                                         : Qids{ZEP_QID_SUB_STREAM_NAME, ZEP_QID_SUB_CODEC_NAME};
    if (p.kind == kVideo || p.kind == kAudio || p.kind == kSubtitle) {
      t.name = new_string(c, qids.name, p.streamIndex);
      t.codec_name = new_string(c, qids.codec, p.streamIndex);
    }
    seg.tracks.push_back(std::move(t));
  }
}

void read_chapters(ZepContainer* c, MkvEditionDesc& edition) {
  const uint32_t chapters = count(c, ZEP_QID_CHAPTERS_CHAPTER_COUNT);
  for (uint32_t i = 0; i < chapters; ++i) {
    ZepChapterProp p{};
    if (!query_record(c, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, i, &p, sizeof p)) break;
    MkvChapterDesc ch;
    ch.depth = p.depth;
    ch.uid = p.uid;
    ch.start = p.start;
    ch.end = p.end;
    ch.hidden = p.flags & ZEP_CHAPTER_FLAG_HIDDEN;
    ch.enabled = p.flags & ZEP_CHAPTER_FLAG_ENABLED;
    ch.name = new_string(c, ZEP_QID_CHAPTERS_CHAPTER_NAME, i);
    ch.language = new_string(c, ZEP_QID_CHAPTERS_CHAPTER_LANG, i);
    ch.country = new_string(c, ZEP_QID_CHAPTERS_CHAPTER_COUNTRY, i);
    edition.chapters.push_back(std::move(ch));
  }
}

void read_editions(ZepContainer* c, MkvSegmentDesc& seg) {
  // All properties first: making an edition current changes isCurrent.
  const uint32_t editions = uint32_t(scalar(c, ZEP_QID_EDITIONENTRY_GET_COUNT, 0));
  std::optional<uint32_t> current;
  for (uint32_t e = 0; e < editions; ++e) {
    ZepEditionProp p{};
    if (!query_record(c, ZEP_QID_EDITIONENTRY_GET_PROP, e, &p, sizeof p)) break;
    MkvEditionDesc ed;
    ed.uid = p.uid;
    ed.is_default = p.flags & ZEP_EDITION_FLAG_DEFAULT;
    ed.ordered = p.flags & ZEP_EDITION_FLAG_ORDERED;
    ed.hidden = p.flags & ZEP_EDITION_FLAG_HIDDEN;
    ed.ordered_length = p.orderedLength;
    ed.current = p.isCurrent != 0;
    if (ed.current && !current) current = e;
    seg.editions.push_back(std::move(ed));
  }
  for (uint32_t e = 0; e < seg.editions.size(); ++e)
    if (set_u32(c, ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, e)) read_chapters(c, seg.editions[e]);
  if (current) set_u32(c, ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, *current);
}

// The SimpleTag `id` and, depth-first, the ones nested in it.
void read_simple_tag(ZepContainer* c, uint32_t id, uint32_t depth, MkvTagDesc& tag,
                     uint32_t& budget) {
  if (budget == 0 || depth > kMaxTagDepth) return;
  --budget;
  ZepSimpleTagInfo info{};
  if (!query_record(c, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYID, id, &info, sizeof info)) return;
  if (!set_u32(c, ZEP_QID_TAGS_SET_SIMPLETAGID, id)) return;
  MkvSimpleTagDesc st;
  st.depth = depth;
  st.name = tag_text(c, ZEP_QID_TAGS_GET_SIMPLETAG_NAME_SIZE, ZEP_QID_TAGS_GET_SIMPLETAG_NAME)
                .value_or("");
  st.value = tag_text(c, ZEP_QID_TAGS_GET_SIMPLETAG_STRING_SIZE, ZEP_QID_TAGS_GET_SIMPLETAG_STRING);
  st.language =
      tag_text(c, ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE_SIZE, ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE);
  st.binary_size = uint32_t(scalar(c, ZEP_QID_TAGS_GET_SIMPLETAG_BINARY_SIZE, 0));
  tag.simple_tags.push_back(std::move(st));
  // The child ids before descending: that moves the current SimpleTag.
  std::vector<uint32_t> children;
  for (uint32_t i = 0; i < info.childCount && i < budget; ++i) {
    ZepQueryData q{};
    if (ZEP_FAILED(L1GetInfo(c, ZEP_QID_TAGS_GET_SIMPLETAG_CHILDID, &q, i))) break;
    children.push_back(uint32_t(q.value.u64));
  }
  for (uint32_t child : children) read_simple_tag(c, child, depth + 1, tag, budget);
}

void read_tags(ZepContainer* c, MkvSegmentDesc& seg) {
  const uint32_t tags = uint32_t(scalar(c, ZEP_QID_TAGS_GET_NUMTAGS, 0));
  uint32_t budget = kMaxSimpleTags;
  for (uint32_t n = 0; n < tags; ++n) {
    ZepTagInfo info{};
    if (!set_u32(c, ZEP_QID_TAGS_SET_CURRENTTAGIDX, n) ||
        !query_record(c, ZEP_QID_TAGS_GET_INFO, n, &info, sizeof info))
      break;
    MkvTagDesc tag;
    const auto targets = [&](uint32_t qid, uint32_t number, std::vector<uint64_t>& out) {
      for (uint32_t i = 0; i < number && i < kMaxSimpleTags; ++i) out.push_back(scalar(c, qid, i));
    };
    targets(ZEP_QID_TAGS_GET_TAG_TARGET_TRACK, info.trackTargets, tag.tracks);
    targets(ZEP_QID_TAGS_GET_TAG_TARGET_EDITION, info.editionTargets, tag.editions);
    targets(ZEP_QID_TAGS_GET_TAG_TARGET_CHAPTER, info.chapterTargets, tag.chapters);
    targets(ZEP_QID_TAGS_GET_TAG_TARGET_ATTACHMENT, info.attachmentTargets, tag.attachments);
    std::vector<uint32_t> top;
    for (uint32_t i = 0; i < info.simpleTagCount && i < kMaxSimpleTags; ++i) {
      ZepSimpleTagInfo st{};
      if (!query_record(c, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, i, &st, sizeof st)) break;
      top.push_back(st.id);
    }
    for (uint32_t id : top) read_simple_tag(c, id, 0, tag, budget);
    seg.tags.push_back(std::move(tag));
  }
}

void read_attachments(ZepContainer* c, MkvSegmentDesc& seg) {
  const uint32_t attachments = uint32_t(scalar(c, ZEP_QID_GET_ATTACHMENT_COUNT, 0));
  for (uint32_t a = 0; a < attachments; ++a) {
    auto info = std::make_unique<ZepAttachmentInfo>();
    if (!query_record(c, ZEP_QID_GET_ATTACHMENTINFO, a, info.get(), sizeof *info)) break;
    seg.attachments.push_back({fixed_text(info->fileName, ZEP_ATTACHMENT_TEXT_CHARS),
                               fixed_text(info->mimeType, ZEP_ATTACHMENT_TEXT_CHARS),
                               fixed_text(info->description, ZEP_ATTACHMENT_TEXT_CHARS),
                               info->fileUid, info->dataSize});
  }
}

MkvSegmentDesc read_segment(ZepContainer* c, int index) {
  MkvSegmentDesc seg;
  seg.index = index;
  seg.duration = int64_t(scalar(c, ZEP_QID_TITLE_DURATION, 0));
  seg.title = new_string(c, ZEP_QID_CONTAINER_TITLE_NAME, 0);
  seg.file_name = new_string(c, ZEP_QID_CONTAINER_FILE_NAME, 0);
  seg.prev_name = new_string(c, ZEP_QID_CONTAINER_PREV_NAME, 0);
  seg.next_name = new_string(c, ZEP_QID_CONTAINER_NEXT_NAME, 0);
  seg.muxing_app = new_string(c, ZEP_QID_CONTAINER_MUX_APP, 0);
  seg.writing_app = new_string(c, ZEP_QID_CONTAINER_WRITE_APP, 0);
  read_chain(c, seg);
  read_tracks(c, seg);
  read_editions(c, seg);
  read_tags(c, seg);
  read_attachments(c, seg);
  return seg;
}

// ---- Presentation --------------------------------------------------------

const char* kind_name(uint32_t kind) { return kind == 0 ? "none" : media_type_name(kind); }

// The stream number that the other commands take: video, audio, subtitles.
int stream_number(const MkvSegmentDesc& s, const MkvTrackDesc& t) {
  int before = 0;
  for (uint32_t kind : {uint32_t(kVideo), uint32_t(kAudio), uint32_t(kSubtitle)}) {
    if (kind == t.kind) return before + int(t.stream);
    for (const MkvTrackDesc& other : s.tracks) before += other.kind == kind;
  }
  return -1;
}

const char* compression_name(uint32_t compression) {
  switch (compression) {
    case 0:
      return "none";
    case 1:
      return "zlib";
    case 2:
      return "bzlib";
    case 3:
      return "lzo1x";
    case 4:
      return "header stripping";
    default:
      return "unknown";
  }
}

std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// What a tag applies to: "global", or its targets by track number and
// attachment id where those are known, else by UID.
std::string tag_targets(const MkvSegmentDesc& s, const MkvTagDesc& tag) {
  std::string out;
  const auto add = [&](const std::string& text) { out += (out.empty() ? "" : ", ") + text; };
  for (uint64_t uid : tag.tracks) {
    std::string text = "track uid " + std::to_string(uid);
    for (const MkvTrackDesc& t : s.tracks)
      if (t.uid == uid) text = "track " + std::to_string(t.number);
    add(text);
  }
  for (uint64_t uid : tag.editions) add("edition uid " + std::to_string(uid));
  for (uint64_t uid : tag.chapters) add("chapter uid " + std::to_string(uid));
  for (uint64_t uid : tag.attachments) {
    std::string text = "attachment uid " + std::to_string(uid);
    for (size_t a = 0; a < s.attachments.size(); ++a)
      if (s.attachments[a].uid == uid) text = "attachment " + std::to_string(a + 1);
    add(text);
  }
  return out.empty() ? "global" : out;
}

std::string simple_tag_value(const MkvSimpleTagDesc& st) {
  if (st.value) return *st.value;
  if (st.binary_size) return "<" + std::to_string(st.binary_size) + " bytes>";
  return "";
}

void print_segment(const MkvSegmentDesc& s) {
  std::printf("segment %d: %s, duration %s s\n", s.index,
              s.title ? quoted(*s.title).c_str() : "no title",
              seconds_text(seconds_100ns(s.duration)).c_str());
  const auto field = [](const char* label, const MaybeText& text) {
    if (text) std::printf("  %-13s%s\n", label, text->c_str());
  };
  field("muxing app:", s.muxing_app);
  field("writing app:", s.writing_app);
  field("file name:", s.file_name);
  field("previous:", s.prev_name);
  field("next:", s.next_name);
  if (s.chain.size() > 1) {
    std::printf("  linked Segments: %zu\n", s.chain.size());
    for (size_t i = 0; i < s.chain.size(); ++i) {
      const MkvChainDesc& e = s.chain[i];
      std::printf("    %zu: %s, %s s, uid %s%s\n", i + 1, e.file.c_str(),
                  seconds_text(seconds_100ns(e.duration)).c_str(),
                  e.uid.empty() ? "-" : e.uid.c_str(), e.opened ? " (opened)" : "");
    }
  }
  for (const MkvTrackDesc& t : s.tracks) {
    std::string line = "  track " + std::to_string(t.number);
    if (t.kind != 0) line += " (stream " + std::to_string(stream_number(s, t)) + ")";
    line += ": " + std::string(kind_name(t.kind)) + ", " + t.codec_id;
    if (t.codec_name) line += " " + quoted(*t.codec_name);
    line += ", language " + t.language;
    if (t.name) line += ", name " + quoted(*t.name);
    if (t.default_duration)
      line += ", default duration " + seconds_text(double(t.default_duration) / 1e9) + " s";
    if (t.compression) line += std::string(", ") + compression_name(t.compression) + " compressed";
    if (t.is_default) line += ", default";
    if (t.forced) line += ", forced";
    if (!t.enabled) line += ", disabled";
    std::printf("%s\n", line.c_str());
  }
  for (size_t e = 0; e < s.editions.size(); ++e) {
    const MkvEditionDesc& ed = s.editions[e];
    std::printf("  edition %zu: %zu chapter%s%s%s%s%s\n", e, ed.chapters.size(),
                ed.chapters.size() == 1 ? "" : "s", ed.is_default ? ", default" : "",
                ed.ordered ? ", ordered" : "", ed.hidden ? ", hidden" : "",
                ed.current ? ", current" : "");
    for (const MkvChapterDesc& ch : ed.chapters) {
      std::string line = std::string(4 + 2 * std::min<size_t>(ch.depth, 32), ' ');
      line += seconds_text(seconds_100ns(ch.start)) + " - " + seconds_text(seconds_100ns(ch.end));
      if (ch.name) line += " " + quoted(*ch.name);
      if (ch.language || ch.country)
        line += " (" + ch.language.value_or("") + (ch.country ? "/" + *ch.country : "") + ")";
      if (ch.hidden) line += ", hidden";
      if (!ch.enabled) line += ", disabled";
      std::printf("%s\n", line.c_str());
    }
  }
  for (size_t n = 0; n < s.tags.size(); ++n) {
    const MkvTagDesc& tag = s.tags[n];
    std::printf("  tag %zu: %s\n", n, tag_targets(s, tag).c_str());
    for (const MkvSimpleTagDesc& st : tag.simple_tags) {
      std::string line = std::string(4 + 2 * std::min<size_t>(st.depth, 32), ' ') + st.name;
      if (st.language && *st.language != "und") line += " [" + *st.language + "]";
      std::printf("%s = %s\n", line.c_str(), simple_tag_value(st).c_str());
    }
  }
  for (size_t a = 0; a < s.attachments.size(); ++a) {
    const MkvAttachmentDesc& at = s.attachments[a];
    std::printf("  attachment %zu: %s, %s, %" PRIu64 " bytes%s\n", a + 1, at.name.c_str(),
                at.mime_type.c_str(), at.size,
                at.description.empty() ? "" : (", " + quoted(at.description)).c_str());
  }
}

nlohmann::ordered_json text_json(const MaybeText& text) {
  return text ? nlohmann::ordered_json(*text) : nlohmann::ordered_json(nullptr);
}

nlohmann::ordered_json segment_json(const MkvSegmentDesc& s) {
  using json = nlohmann::ordered_json;
  json j;
  j["index"] = s.index;
  j["duration"] = seconds_100ns(s.duration);
  j["title"] = text_json(s.title);
  j["file_name"] = text_json(s.file_name);
  j["prev_file_name"] = text_json(s.prev_name);
  j["next_file_name"] = text_json(s.next_name);
  j["muxing_app"] = text_json(s.muxing_app);
  j["writing_app"] = text_json(s.writing_app);
  j["chain"] = json::array();
  for (const MkvChainDesc& e : s.chain)
    j["chain"].push_back({{"file", e.file},
                          {"duration", seconds_100ns(e.duration)},
                          {"uid", e.uid},
                          {"opened", e.opened}});
  j["tracks"] = json::array();
  for (const MkvTrackDesc& t : s.tracks) {
    json track = {{"number", t.number},
                  {"uid", t.uid},
                  {"type", kind_name(t.kind)},
                  {"stream", t.kind ? json(stream_number(s, t)) : json(nullptr)},
                  {"codec_id", t.codec_id},
                  {"codec_name", text_json(t.codec_name)},
                  {"name", text_json(t.name)},
                  {"language", t.language},
                  {"default", t.is_default},
                  {"forced", t.forced},
                  {"enabled", t.enabled},
                  {"default_duration",
                   t.default_duration ? json(double(t.default_duration) / 1e9) : json(nullptr)},
                  {"compression", compression_name(t.compression)},
                  {"private_data_size", t.private_size}};
    j["tracks"].push_back(std::move(track));
  }
  j["editions"] = json::array();
  for (const MkvEditionDesc& ed : s.editions) {
    json e = {{"uid", ed.uid},         {"default", ed.is_default},
              {"ordered", ed.ordered}, {"hidden", ed.hidden},
              {"current", ed.current}, {"ordered_length", seconds_100ns(ed.ordered_length)}};
    e["chapters"] = json::array();
    for (const MkvChapterDesc& ch : ed.chapters)
      e["chapters"].push_back({{"uid", ch.uid},
                               {"depth", ch.depth},
                               {"start", seconds_100ns(ch.start)},
                               {"end", seconds_100ns(ch.end)},
                               {"name", text_json(ch.name)},
                               {"language", text_json(ch.language)},
                               {"country", text_json(ch.country)},
                               {"hidden", ch.hidden},
                               {"enabled", ch.enabled}});
    j["editions"].push_back(std::move(e));
  }
  j["tags"] = json::array();
  for (const MkvTagDesc& tag : s.tags) {
    json t = {{"track_uids", tag.tracks},
              {"edition_uids", tag.editions},
              {"chapter_uids", tag.chapters},
              {"attachment_uids", tag.attachments}};
    t["simple_tags"] = json::array();
    for (const MkvSimpleTagDesc& st : tag.simple_tags)
      t["simple_tags"].push_back({{"depth", st.depth},
                                  {"name", st.name},
                                  {"value", text_json(st.value)},
                                  {"language", text_json(st.language)},
                                  {"binary_size", st.binary_size}});
    j["tags"].push_back(std::move(t));
  }
  j["attachments"] = json::array();
  for (size_t a = 0; a < s.attachments.size(); ++a) {
    const MkvAttachmentDesc& at = s.attachments[a];
    j["attachments"].push_back({{"id", a + 1},
                                {"name", at.name},
                                {"mime_type", at.mime_type},
                                {"description", at.description},
                                {"uid", at.uid},
                                {"size", at.size}});
  }
  return j;
}

}  // namespace

std::optional<std::vector<MkvSegmentDesc>> read_mkv_details(const std::string& file) {
  bool matroska = false;
  Container c = open_container(file, matroska);
  if (!c || !matroska) return std::nullopt;
  std::vector<MkvSegmentDesc> out;
  const int titles = int(count(c.get(), ZEP_QID_NUM_CONTAINER_TITLE));
  for (int t = 0; t < titles; ++t)
    if (ZEP_SUCCEEDED(L1SetTitle(c.get(), uint32_t(t)))) out.push_back(read_segment(c.get(), t));
  return out;
}

void print_mkv_details(const std::vector<MkvSegmentDesc>& segments) {
  for (const MkvSegmentDesc& s : segments) print_segment(s);
}

nlohmann::ordered_json mkv_details_json(const std::vector<MkvSegmentDesc>& segments) {
  auto out = nlohmann::ordered_json::array();
  for (const MkvSegmentDesc& s : segments) out.push_back(segment_json(s));
  return out;
}

void extract_attachment(const std::string& file, int title, int number, const std::string& out) {
  bool matroska = false;
  Container c = open_container(file, matroska);
  if (!c) throw Failure("Unable to open " + file);
  if (!matroska) throw Failure(file + " is not a Matroska file: it has no attachments");
  if (ZEP_FAILED(L1SetTitle(c.get(), uint32_t(title))))
    throw Failure("Invalid title number " + std::to_string(title));
  const uint64_t attachments = scalar(c.get(), ZEP_QID_GET_ATTACHMENT_COUNT, 0);
  if (number < 1 || uint64_t(number) > attachments)
    throw Failure("Attachment " + std::to_string(number) +
                  (attachments ? " is out of range 1 .. " + std::to_string(attachments)
                               : " does not exist: the Segment has no attachments"));
  const uint32_t index = uint32_t(number - 1);
  const uint64_t size = scalar(c.get(), ZEP_QID_GET_ATTACHMENT_SIZE, index);
  if (size >= kMaxAttachment)
    throw Failure("Attachment " + std::to_string(number) + " is too large");
  std::vector<uint8_t> data(static_cast<size_t>(size));
  auto info = std::make_unique<ZepAttachmentInfo>();
  info->data = data.data();
  info->dataCapacity = data.size();
  if (!query_record(c.get(), ZEP_QID_GET_ATTACHMENTINFO, index, info.get(), sizeof *info) ||
      info->dataRead != size)
    throw Failure("Unable to read attachment " + std::to_string(number));
  FILE* f = std::fopen(out.c_str(), "wb");
  if (!f) throw Failure("Unable to create " + out + ": " + std::strerror(errno));
  const bool written = data.empty() || std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (std::fclose(f) != 0 || !written) throw Failure("Unable to write " + out);
  std::fprintf(stderr, "attachment %d (%s): %" PRIu64 " bytes to %s\n", number,
               fixed_text(info->fileName, ZEP_ATTACHMENT_TEXT_CHARS).c_str(), size, out.c_str());
}

}  // namespace zepcli
