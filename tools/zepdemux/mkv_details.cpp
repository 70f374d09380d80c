#include "tools/zepdemux/mkv_details.h"

#include <cstdio>
#include <memory>

#include "layer1/zep_mkv_records.h"
#include "tools/zepdemux/container_query.h"
#include "tools/zepdemux/format.h"
#include "tools/zepdemux/model.h"

namespace zepcli {
namespace {

struct Closer {
  void operator()(ZepContainer* c) const { L1CloseContainer(c); }
};
using Container = std::unique_ptr<ZepContainer, Closer>;

Container open_matroska(const std::string& file) {
  if (ZEP_FAILED(L1Start())) return nullptr;
  const std::u16string name = zep::utf8_to_u16(file);
  ZepContainer* raw = nullptr;
  if (ZEP_FAILED(L1OpenContainer(&raw, name.c_str(), nullptr)) || !raw) return nullptr;
  Container c(raw);
  const auto type = query_scalar(raw, ZEP_QID_GET_CONTAINER_TYPE, 0);
  return type && *type == 2 ? std::move(c) : nullptr;
}

// A string the library allocates for us.
std::string new_string(ZepContainer* c, uint32_t qid, uint32_t index) {
  ZepQueryData q{};
  if (ZEP_FAILED(L1GetInfo(c, qid, &q, index)) || !q.value.ptr) return "";
  auto* text = static_cast<zep_wchar_t*>(q.value.ptr);
  std::string out = zep::u16_to_utf8(text);
  zep_wcsfree(text, nullptr);
  return out;
}

uint64_t u64(ZepContainer* c, uint32_t qid, uint32_t index) {
  ZepQueryData q{};
  return ZEP_FAILED(L1GetInfo(c, qid, &q, index)) ? 0 : q.value.u64;
}

void set(ZepContainer* c, uint32_t qid, uint32_t value) {
  ZepQueryData q{};
  q.value.u32 = value;
  L1SetInfo(c, qid, &q, 0, 0);
}

// A SimpleTag value that the library writes into our buffer.
std::string tag_text(ZepContainer* c, uint32_t sizeQid, uint32_t qid) {
  const uint32_t size = uint32_t(u64(c, sizeQid, 0));
  if (size == 0) return "";
  std::u16string text(size / 2 + 1, u'\0');
  ZepQueryData q{};
  q.size = uint32_t(text.size() * 2);
  q.value.ptr = text.data();
  if (ZEP_FAILED(L1GetInfo(c, qid, &q, 0))) return "";
  return zep::u16_to_utf8(text.c_str());
}

void read_simple_tags(ZepContainer* c, uint32_t id, int depth, MkvTagDesc& tag) {
  if (depth > 32 || ZEP_FAILED([&] {
        ZepQueryData q{};
        q.value.u32 = id;
        return L1SetInfo(c, ZEP_QID_TAGS_SET_SIMPLETAGID, &q, 0, 0);
      }()))
    return;
  ZepSimpleTagInfo info{};
  if (!query_record(c, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYID, id, &info, sizeof info)) return;
  MkvSimpleTagDesc st;
  st.depth = depth;
  st.name = tag_text(c, ZEP_QID_TAGS_GET_SIMPLETAG_NAME_SIZE, ZEP_QID_TAGS_GET_SIMPLETAG_NAME);
  st.value = tag_text(c, ZEP_QID_TAGS_GET_SIMPLETAG_STRING_SIZE, ZEP_QID_TAGS_GET_SIMPLETAG_STRING);
  st.language =
      tag_text(c, ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE_SIZE, ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE);
  st.binarySize = info.binarySize;
  tag.simpleTags.push_back(st);
  std::vector<uint32_t> children;
  for (uint32_t i = 0; i < info.childCount; ++i)
    children.push_back(uint32_t(u64(c, ZEP_QID_TAGS_GET_SIMPLETAG_CHILDID, i)));
  for (uint32_t child : children) read_simple_tags(c, child, depth + 1, tag);
}

void read_segment(ZepContainer* c, MkvSegmentDesc& seg) {
  seg.title = new_string(c, ZEP_QID_CONTAINER_TITLE_NAME, 0);
  seg.muxingApp = new_string(c, ZEP_QID_CONTAINER_MUX_APP, 0);
  seg.writingApp = new_string(c, ZEP_QID_CONTAINER_WRITE_APP, 0);
  for (uint32_t i = 0; i < uint32_t(u64(c, ZEP_QID_MKV_CHAIN_COUNT, 0)); ++i) {
    ZepMkvChainEntry e{};
    if (!query_record(c, ZEP_QID_MKV_CHAIN_ENTRY, i, &e, sizeof e)) break;
    seg.chain.push_back({zep::u16_to_utf8(e.fileName), e.duration, e.isOpenedFile != 0});
  }
  const uint32_t tracks = uint32_t(query_scalar(c, ZEP_QID_NUM_TITLE_STREAMS, 0).value_or(0));
  for (uint32_t i = 0; i < tracks; ++i) {
    ZepMkvTrackProp p{};
    if (!query_record(c, ZEP_QID_GET_TRACK_PROP, i, &p, sizeof p)) break;
    MkvTrackDesc t;
    t.kind = p.kind;
    t.streamIndex = p.streamIndex;
    t.number = p.number;
    t.uid = p.uid;
    t.codecId = zep::u16_to_utf8(p.codecId);
    t.language = zep::u16_to_utf8(p.language);
    t.isDefault = p.flags & ZEP_TRACK_FLAG_DEFAULT;
    t.forced = p.flags & ZEP_TRACK_FLAG_FORCED;
    t.enabled = p.flags & ZEP_TRACK_FLAG_ENABLED;
    const uint32_t nameQid = p.kind == 2   ? ZEP_QID_VID_STREAM_NAME
                             : p.kind == 1 ? ZEP_QID_AUD_STREAM_NAME
                                           : ZEP_QID_SUB_STREAM_NAME;
    const uint32_t codecQid = p.kind == 2   ? ZEP_QID_VID_CODEC_NAME
                              : p.kind == 1 ? ZEP_QID_AUD_CODEC_NAME
                                            : ZEP_QID_SUB_CODEC_NAME;
    if (p.kind != 0) {
      t.name = new_string(c, nameQid, p.streamIndex);
      t.codecName = new_string(c, codecQid, p.streamIndex);
    }
    seg.tracks.push_back(t);
  }
  const uint32_t editions = uint32_t(u64(c, ZEP_QID_EDITIONENTRY_GET_COUNT, 0));
  uint32_t current = 0;
  for (uint32_t e = 0; e < editions; ++e) {
    ZepEditionProp p{};
    if (!query_record(c, ZEP_QID_EDITIONENTRY_GET_PROP, e, &p, sizeof p)) break;
    if (p.isCurrent) current = e;
    MkvEditionDesc ed;
    ed.uid = p.uid;
    ed.isDefault = p.flags & ZEP_EDITION_FLAG_DEFAULT;
    ed.ordered = p.flags & ZEP_EDITION_FLAG_ORDERED;
    ed.hidden = p.flags & ZEP_EDITION_FLAG_HIDDEN;
    ed.current = p.isCurrent;
    set(c, ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, e);
    const uint32_t chapters = uint32_t(query_scalar(c, ZEP_QID_CHAPTERS_CHAPTER_COUNT, 0).value_or(0));
    for (uint32_t i = 0; i < chapters; ++i) {
      ZepChapterProp cp{};
      if (!query_record(c, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, i, &cp, sizeof cp)) break;
      MkvChapterDesc ch;
      ch.depth = int(cp.depth);
      ch.uid = cp.uid;
      ch.start = cp.start;
      ch.end = cp.end;
      ch.hidden = cp.flags & ZEP_CHAPTER_FLAG_HIDDEN;
      ch.enabled = cp.flags & ZEP_CHAPTER_FLAG_ENABLED;
      ch.name = new_string(c, ZEP_QID_CHAPTERS_CHAPTER_NAME, i);
      ch.language = new_string(c, ZEP_QID_CHAPTERS_CHAPTER_LANG, i);
      ed.chapters.push_back(ch);
    }
    seg.editions.push_back(ed);
  }
  if (editions) set(c, ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, current);
  const uint32_t tags = uint32_t(u64(c, ZEP_QID_TAGS_GET_NUMTAGS, 0));
  for (uint32_t n = 0; n < tags; ++n) {
    set(c, ZEP_QID_TAGS_SET_CURRENTTAGIDX, n);
    ZepTagInfo info{};
    if (!query_record(c, ZEP_QID_TAGS_GET_INFO, n, &info, sizeof info)) break;
    MkvTagDesc tag;
    auto targets = [&](uint32_t qid, uint32_t count, std::vector<uint64_t>& out) {
      for (uint32_t i = 0; i < count; ++i) out.push_back(u64(c, qid, i));
    };
    targets(ZEP_QID_TAGS_GET_TAG_TARGET_TRACK, info.trackTargets, tag.trackUids);
    targets(ZEP_QID_TAGS_GET_TAG_TARGET_EDITION, info.editionTargets, tag.editionUids);
    targets(ZEP_QID_TAGS_GET_TAG_TARGET_CHAPTER, info.chapterTargets, tag.chapterUids);
    targets(ZEP_QID_TAGS_GET_TAG_TARGET_ATTACHMENT, info.attachmentTargets, tag.attachmentUids);
    std::vector<uint32_t> top;
    for (uint32_t i = 0; i < info.simpleTagCount; ++i) {
      ZepSimpleTagInfo st{};
      if (query_record(c, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, i, &st, sizeof st))
        top.push_back(st.id);
    }
    for (uint32_t id : top) read_simple_tags(c, id, 0, tag);
    seg.tags.push_back(tag);
  }
  const uint32_t attachments = uint32_t(u64(c, ZEP_QID_GET_ATTACHMENT_COUNT, 0));
  for (uint32_t a = 0; a < attachments; ++a) {
    ZepAttachmentInfo info{};
    if (!query_record(c, ZEP_QID_GET_ATTACHMENTINFO, a, &info, sizeof info)) break;
    seg.attachments.push_back({zep::u16_to_utf8(info.fileName), zep::u16_to_utf8(info.mimeType),
                               zep::u16_to_utf8(info.description), info.fileUid, info.dataSize});
  }
}

const char* kind_name(uint32_t kind) { return kind == 0 ? "none" : media_type_name(kind); }

}  // namespace

std::optional<std::vector<MkvSegmentDesc>> read_mkv_details(const std::string& file) {
  Container c = open_matroska(file);
  if (!c) return std::nullopt;
  std::vector<MkvSegmentDesc> out;
  const int titles = int(query_scalar(c.get(), ZEP_QID_NUM_CONTAINER_TITLE, 0).value_or(0));
  for (int t = 0; t < titles; ++t) {
    if (ZEP_FAILED(L1SetTitle(c.get(), uint32_t(t)))) continue;
    MkvSegmentDesc seg;
    seg.index = t;
    read_segment(c.get(), seg);
    out.push_back(std::move(seg));
  }
  return out;
}

void print_mkv_details(const std::vector<MkvSegmentDesc>& segments) {
  for (const MkvSegmentDesc& s : segments) {
    std::printf("segment %d:", s.index);
    if (!s.title.empty()) std::printf(" \"%s\"", s.title.c_str());
    if (!s.muxingApp.empty()) std::printf(" muxed by %s", s.muxingApp.c_str());
    if (!s.writingApp.empty()) std::printf(", written by %s", s.writingApp.c_str());
    std::printf("\n");
    if (s.chain.size() > 1)
      for (const MkvChainDesc& e : s.chain)
        std::printf("  linked: %s, %s s%s\n", e.file.c_str(),
                    seconds_text(seconds_100ns(e.duration)).c_str(), e.opened ? " (opened)" : "");
    for (const MkvTrackDesc& t : s.tracks) {
      std::printf("  track %llu: %s %u, %s, language %s", (unsigned long long)t.number,
                  kind_name(t.kind), t.streamIndex, t.codecId.c_str(),
                  t.language.empty() ? "eng" : t.language.c_str());
      if (!t.name.empty()) std::printf(", \"%s\"", t.name.c_str());
      std::printf("%s%s%s\n", t.isDefault ? ", default" : "", t.forced ? ", forced" : "",
                  t.enabled ? "" : ", disabled");
    }
    for (size_t e = 0; e < s.editions.size(); ++e) {
      const MkvEditionDesc& ed = s.editions[e];
      std::printf("  edition %zu:%s%s%s%s\n", e, ed.isDefault ? " default" : "",
                  ed.ordered ? " ordered" : "", ed.hidden ? " hidden" : "",
                  ed.current ? " (current)" : "");
      for (const MkvChapterDesc& ch : ed.chapters)
        std::printf("  %*schapter %s - %s \"%s\"%s\n", 2 + 2 * ch.depth, "",
                    seconds_text(seconds_100ns(ch.start)).c_str(),
                    seconds_text(seconds_100ns(ch.end)).c_str(), ch.name.c_str(),
                    ch.hidden ? " (hidden)" : "");
    }
    for (size_t n = 0; n < s.tags.size(); ++n) {
      const MkvTagDesc& tag = s.tags[n];
      std::printf("  tag %zu%s\n", n,
                  tag.trackUids.empty() && tag.editionUids.empty() && tag.chapterUids.empty() &&
                          tag.attachmentUids.empty()
                      ? " (global)"
                      : "");
      for (const MkvSimpleTagDesc& st : tag.simpleTags)
        std::printf("  %*s%s = %s\n", 2 + 2 * st.depth, "", st.name.c_str(),
                    st.binarySize ? ("<" + std::to_string(st.binarySize) + " bytes>").c_str()
                                  : st.value.c_str());
    }
    for (size_t a = 0; a < s.attachments.size(); ++a) {
      const MkvAttachmentDesc& at = s.attachments[a];
      std::printf("  attachment %zu: %s, %s, %llu bytes%s%s\n", a + 1, at.name.c_str(),
                  at.mimeType.c_str(), (unsigned long long)at.size,
                  at.description.empty() ? "" : ", ", at.description.c_str());
    }
  }
}

nlohmann::ordered_json mkv_details_json(const std::vector<MkvSegmentDesc>& segments) {
  auto out = nlohmann::ordered_json::array();
  for (const MkvSegmentDesc& s : segments) {
    nlohmann::ordered_json j;
    j["index"] = s.index;
    j["title"] = s.title;
    j["muxing_app"] = s.muxingApp;
    j["writing_app"] = s.writingApp;
    j["chain"] = nlohmann::ordered_json::array();
    for (const MkvChainDesc& e : s.chain)
      j["chain"].push_back({{"file", e.file}, {"duration", seconds_100ns(e.duration)},
                            {"opened", e.opened}});
    j["tracks"] = nlohmann::ordered_json::array();
    for (const MkvTrackDesc& t : s.tracks)
      j["tracks"].push_back({{"number", t.number},     {"uid", t.uid},
                             {"type", kind_name(t.kind)}, {"stream", t.streamIndex},
                             {"codec_id", t.codecId},   {"codec_name", t.codecName},
                             {"name", t.name},          {"language", t.language},
                             {"default", t.isDefault},  {"forced", t.forced},
                             {"enabled", t.enabled}});
    j["editions"] = nlohmann::ordered_json::array();
    for (const MkvEditionDesc& ed : s.editions) {
      nlohmann::ordered_json e = {{"uid", ed.uid},         {"default", ed.isDefault},
                                  {"ordered", ed.ordered}, {"hidden", ed.hidden},
                                  {"current", ed.current}};
      e["chapters"] = nlohmann::ordered_json::array();
      for (const MkvChapterDesc& ch : ed.chapters)
        e["chapters"].push_back({{"uid", ch.uid},
                                 {"depth", ch.depth},
                                 {"start", seconds_100ns(ch.start)},
                                 {"end", seconds_100ns(ch.end)},
                                 {"name", ch.name},
                                 {"language", ch.language},
                                 {"hidden", ch.hidden},
                                 {"enabled", ch.enabled}});
      j["editions"].push_back(std::move(e));
    }
    j["tags"] = nlohmann::ordered_json::array();
    for (const MkvTagDesc& tag : s.tags) {
      nlohmann::ordered_json t = {{"track_uids", tag.trackUids},
                                  {"edition_uids", tag.editionUids},
                                  {"chapter_uids", tag.chapterUids},
                                  {"attachment_uids", tag.attachmentUids}};
      t["simple_tags"] = nlohmann::ordered_json::array();
      for (const MkvSimpleTagDesc& st : tag.simpleTags)
        t["simple_tags"].push_back({{"depth", st.depth},
                                    {"name", st.name},
                                    {"value", st.value},
                                    {"language", st.language},
                                    {"binary_size", st.binarySize}});
      j["tags"].push_back(std::move(t));
    }
    j["attachments"] = nlohmann::ordered_json::array();
    for (size_t a = 0; a < s.attachments.size(); ++a) {
      const MkvAttachmentDesc& at = s.attachments[a];
      j["attachments"].push_back({{"id", a + 1},
                                  {"name", at.name},
                                  {"mime_type", at.mimeType},
                                  {"description", at.description},
                                  {"uid", at.uid},
                                  {"size", at.size}});
    }
    out.push_back(std::move(j));
  }
  return out;
}

void extract_attachment(const std::string& file, int title, int number, const std::string& out) {
  Container c = open_matroska(file);
  if (!c) throw Failure("Not a Matroska file: " + file);
  if (ZEP_FAILED(L1SetTitle(c.get(), uint32_t(title))))
    throw Failure("Unable to set title " + std::to_string(title));
  const uint64_t count = u64(c.get(), ZEP_QID_GET_ATTACHMENT_COUNT, 0);
  if (number < 1 || uint64_t(number) > count)
    throw Failure("No attachment " + std::to_string(number) + " (the file has " +
                  std::to_string(count) + ")");
  const uint64_t size = u64(c.get(), ZEP_QID_GET_ATTACHMENT_SIZE, uint32_t(number - 1));
  if (size > (uint64_t(1) << 31)) throw Failure("Attachment too large");
  std::vector<uint8_t> data(static_cast<size_t>(size));
  ZepAttachmentInfo info{};
  info.data = data.data();
  info.dataCapacity = data.size();
  if (!query_record(c.get(), ZEP_QID_GET_ATTACHMENTINFO, uint32_t(number - 1), &info, sizeof info) ||
      info.dataRead != size)
    throw Failure("Unable to read attachment " + std::to_string(number));
  FILE* f = std::fopen(out.c_str(), "wb");
  if (!f) throw Failure("Unable to create " + out);
  const bool ok = std::fwrite(data.data(), 1, data.size(), f) == data.size();
  if (std::fclose(f) != 0 || !ok) throw Failure("Unable to write " + out);
  std::printf("attachment %d: %llu bytes to %s\n", number, (unsigned long long)size, out.c_str());
}

}  // namespace zepcli
