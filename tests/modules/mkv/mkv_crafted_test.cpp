// Crafted Matroska files read through the container layer: Segments and
// their track, chapter, tag and attachment records, blocks with every
// lacing, compression, times, seeking over Cues, linked Segments, and files
// that are cut, zero-filled or overwritten with garbage.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <optional>

#include "layer1/zep_mkv_records.h"
#include "tests/modules/avi/avi_test_util.h"
#include "tests/support/ebml_builder.h"

using namespace zeptest;
using namespace zeptest::mkvid;
using avitest::Block;
using ContainerFile = avitest::AviFile;
using E = zeptest::EbmlElement;

namespace {

constexpr int64_t kSecond = 10000000;    // 100 ns units
constexpr uint64_t kNs = 1000000000;     // ns per second
const std::u16string kNull = u"(null)";  // what text() gives for a null string

MkvInfo info(std::optional<double> duration = std::nullopt, uint64_t scale = 1000000) {
  MkvInfo i;
  i.timecodeScale = scale;
  i.duration = duration;
  return i;
}
E tracks(std::vector<MkvTrack> list) {
  E e(kTracks);
  for (const MkvTrack& t : list) e.child(t.element());
  return e;
}
MkvTrack video(uint64_t number = 1) {
  return {.number = number,
          .uid = number,
          .type = 1,
          .codecId = "V_MPEG4/ISO/ASP",
          .pixelWidth = 64,
          .pixelHeight = 48};
}
MkvTrack audio(uint64_t number, std::string codec = "A_AC3", uint64_t defaultDuration = 0) {
  return {.number = number,
          .uid = number,
          .type = 2,
          .codecId = std::move(codec),
          .defaultDuration = defaultDuration};
}

class MkvCrafted : public ::testing::Test {
 protected:
  // Writes the file, opens it, chooses title 0 and activates every stream.
  // A Void goes behind small files: the probe wants 83 bytes.
  std::unique_ptr<ContainerFile> open(Bytes bytes, bool delace = false, bool pad = true) {
    if (pad) {
      const Bytes v = ebml_void(90).bytes();
      bytes.insert(bytes.end(), v.begin(), v.end());
    }
    auto f = std::make_unique<ContainerFile>(
        dir_.write("crafted" + std::to_string(++count_) + ".mkv", bytes), false);
    if (f->container()) {
      if (delace) f->set(ZEP_QID_DELACE_BLOCKS, 1);
      titleStatus_ = L1SetTitle(f->container(), 0);
      f->activate_all();
    }
    return f;
  }
  static std::u16string text(ContainerFile& f, uint32_t qid, uint32_t index = 0) {
    ZepQueryData q{};
    if (ZEP_STATUS s = L1GetInfo(f.container(), qid, &q, index); s < 0)
      return u"(failed " + zep::utf8_to_u16(std::to_string(s)) + u")";
    if (!q.value.ptr) return kNull;
    std::u16string s(static_cast<const char16_t*>(q.value.ptr));
    zep_wcsfree(static_cast<zep_wchar_t*>(q.value.ptr), nullptr);
    return s;
  }
  // A count or value in the width of the QID's value type. The value starts
  // out as a pattern, so a module that writes fewer bytes is caught.
  static int64_t get(ContainerFile& f, uint32_t qid, uint32_t index = 0) {
    ZepQueryData q{};
    q.value.u64 = 0xA5A5A5A5A5A5A5A5u;
    if (L1GetInfo(f.container(), qid, &q, index) < 0) return -1;
    const uint32_t type = ZEP_QID_VALUE_TYPE(qid);
    return type == ZEP_QTYPE_COUNT16 ? q.value.u16 : type <= 6 ? q.value.u32 : q.value.i64;
  }
  // A record or buffer query into `out` of `size` bytes.
  static ZEP_STATUS into(ContainerFile& f, uint32_t qid, uint32_t index, void* out, uint32_t size,
                         uint32_t* stored = nullptr) {
    ZepQueryData q{};
    q.size = size;
    q.value.ptr = out;
    const ZEP_STATUS s = L1GetInfo(f.container(), qid, &q, index);
    if (stored) *stored = q.size;
    return s;
  }
  template <typename R>
  static R record(ContainerFile& f, uint32_t qid, uint32_t index) {
    R r{};
    EXPECT_GE(into(f, qid, index, &r, sizeof r), 0) << std::hex << qid << " " << index;
    return r;
  }
  TempDir dir_;
  int count_ = 0;
  ZEP_STATUS titleStatus_ = ZEP_FAIL;
};

// ---- Segments and tracks ---------------------------------------------------------

TEST_F(MkvCrafted, EverySegmentIsATitle) {
  auto f = open(mkv_file({mkv_segment({info().element(), tracks({video()})}),
                          mkv_segment({info().element(), tracks({video(), audio(2)})})}));
  ASSERT_GE(titleStatus_, 0);
  EXPECT_EQ(get(*f, ZEP_QID_NUM_CONTAINER_TITLE), 2u);
  EXPECT_EQ(get(*f, ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA), 0u);
  ASSERT_GE(L1SetTitle(f->container(), 1), 0);
  EXPECT_EQ(get(*f, ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA), 1u);
  EXPECT_EQ(text(*f, ZEP_QID_AUD_CODEC_ID), u"A_AC3");
  EXPECT_LT(L1SetTitle(f->container(), 2), 0);
}

TEST_F(MkvCrafted, TrackRecordsFromTheTrackEntries) {
  MkvInfo i = info(90000.0);
  i.title = "Crafted";
  i.muxingApp = "ebml_builder";
  MkvTrack aac = audio(5, "A_AAC/MPEG4/LC/SBR");
  aac.samplingFrequency = 24000;
  aac.outputSamplingFrequency = 48000;
  aac.channels = 2;
  aac.name = "Commentary";
  MkvTrack duplicate = audio(4);
  duplicate.uid = 1;  // the video track's UID
  E list = tracks({video()});
  list.child(ebml_void(37)).child(ebml_crc32(0x12345678));
  list.children({MkvTrack{.number = 2, .uid = 2, .type = 17, .codecId = "S_SSA"}.element(),
                 MkvTrack{.number = 3, .uid = 3, .type = 3, .codecId = "V_MPEG4/ISO/ASP"}.element(),
                 duplicate.element(), aac.element()});
  auto f = open(mkv_file({mkv_segment({i.element(), list})}));
  ASSERT_GE(titleStatus_, 0);
  EXPECT_EQ(get(*f, ZEP_QID_TITLE_DURATION), 900000000);
  EXPECT_EQ(text(*f, ZEP_QID_CONTAINER_TITLE_NAME), u"Crafted");
  EXPECT_EQ(text(*f, ZEP_QID_CONTAINER_MUX_APP), u"ebml_builder");
  EXPECT_EQ(text(*f, ZEP_QID_CONTAINER_WRITE_APP), kNull);
  // Track 3 (TrackType 3) is in no stream count; track 4 repeats a UID.
  EXPECT_EQ(get(*f, ZEP_QID_NUM_TITLE_STREAMS), 4u);
  EXPECT_EQ(get(*f, ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA), 1u);
  EXPECT_EQ(get(*f, ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA), 1u);
  EXPECT_EQ(get(*f, ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA), 1u);
  EXPECT_EQ(text(*f, ZEP_QID_SUB_CODEC_ID), u"S_SSA");
  EXPECT_EQ(text(*f, ZEP_QID_AUD_CODEC_ID), u"A_AAC/MPEG4/LC/SBR");
  EXPECT_EQ(text(*f, ZEP_QID_AUD_STREAM_NAME), u"Commentary");
  EXPECT_EQ(record<ZepMkvTrackProp>(*f, ZEP_QID_GET_TRACK_PROP, 1).codecCode, 54u);
  const auto other = record<ZepMkvTrackProp>(*f, ZEP_QID_GET_TRACK_PROP, 2);
  EXPECT_EQ(other.kind, 0u);
  EXPECT_EQ(other.number, 3u);
  EXPECT_EQ(std::u16string(record<ZepMkvTrackProp>(*f, ZEP_QID_GET_TRACK_PROP, 3).codecId),
            u"A_AAC/MPEG4/LC/SBR");
  // AAC without CodecPrivate: the AudioSpecificConfig comes from the
  // CodecID and the Audio values (LC at 24 kHz, 2 channels, SBR to 48 kHz).
  uint8_t config[8] = {};
  uint32_t stored = 0;
  ASSERT_GE(into(*f, ZEP_QID_AUDIO_CODEC_PRIVATE_DATA, 0, config, sizeof config, &stored), 0);
  EXPECT_EQ(Bytes(config, config + stored), (Bytes{0x13, 0x10, 0x56, 0xE5, 0x98}));
  const auto sub = record<ZepSubtitleStreamFormat>(*f, ZEP_QID_SUB_STREAM_FORMAT, 0);
  EXPECT_EQ(std::memcmp(&sub.fourcc, "SSA\0", 4), 0);
  const auto v = record<ZepVideoStreamFormat>(*f, ZEP_QID_VID_STREAM_FORMAT, 0);
  EXPECT_EQ(v.width, 64u);
  EXPECT_EQ(v.height, 48u);
}

TEST_F(MkvCrafted, SegmentUidOfSeventeenBytesFailsTheTitle) {
  for (size_t size : {16, 17}) {
    MkvInfo i = info();
    i.segmentUid = Bytes(size, 1);
    ASSERT_TRUE(open(mkv_file({mkv_segment({i.element(), tracks({video()})})}))->container());
    if (size == 16) {
      EXPECT_GE(titleStatus_, 0);
    } else {
      EXPECT_EQ(titleStatus_, ZEP_ERR_QR7_PARSE_SEGMENTINFO);
    }
  }
}

// ---- Chapters ----------------------------------------------------------------

TEST_F(MkvCrafted, ChapterEndsEditionsAndOrderedPlaylists) {
  auto chapter = [](uint64_t uid, uint64_t start, std::string name) {
    return MkvChapter{
        .uid = uid, .startNs = start * kNs, .name = std::move(name), .language = "eng"};
  };
  MkvChapter x = chapter(4, 10, "X"), y = chapter(5, 50, "Y");
  x.endNs = 20 * kNs;
  y.endNs = 70 * kNs;
  MkvChapter p = chapter(6, 0, "P"), q = chapter(7, 30, "Q"), r = chapter(8, 40, "R");
  p.endNs = 90 * kNs;
  q.endNs = 60 * kNs;
  r.endNs = 50 * kNs;
  r.country = "gb";
  q.enabled = false;
  r.hidden = true;
  q.children = {r};
  p.children = {q};
  auto f = open(mkv_file({mkv_segment(
      {info(180000.0).element(), tracks({video()}),
       mkv_chapters(
           {{.uid = 1, .chapters = {chapter(1, 0, "A"), chapter(2, 60, "B"), chapter(3, 120, "C")}},
            {.uid = 2, .isDefault = true, .ordered = true, .chapters = {x, y}},
            {.uid = 3, .hidden = true, .chapters = {p}}})})}));
  ASSERT_GE(titleStatus_, 0);
  ASSERT_EQ(get(*f, ZEP_QID_EDITIONENTRY_GET_COUNT), 3u);
  const auto second = record<ZepEditionProp>(*f, ZEP_QID_EDITIONENTRY_GET_PROP, 1);
  EXPECT_EQ(second.isCurrent, 1u);  // the default edition
  EXPECT_EQ(record<ZepEditionProp>(*f, ZEP_QID_EDITIONENTRY_GET_PROP, 0).isCurrent, 0u);
  EXPECT_EQ(second.uid, 2u);
  EXPECT_EQ(second.flags, ZEP_EDITION_FLAG_DEFAULT | ZEP_EDITION_FLAG_ORDERED);
  EXPECT_EQ(second.orderedLength, 30 * kSecond);  // X then Y
  // The ordered edition plays X from 0 s and Y right after it, from 10 s.
  EXPECT_EQ(get(*f, ZEP_QID_CHAPTERS_CHAPTER_COUNT), 2u);
  EXPECT_EQ(record<ZepChapterProp>(*f, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, 0).playlistOffset,
            -10 * kSecond);
  EXPECT_EQ(record<ZepChapterProp>(*f, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, 1).playlistOffset,
            -40 * kSecond);

  // Chapters without ends end where the next starts, the last one 1 ns
  // before the end of the Segment.
  ASSERT_GE(f->set(ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, 0), 0);
  ASSERT_EQ(get(*f, ZEP_QID_CHAPTERS_CHAPTER_COUNT), 3u);
  const int64_t starts[] = {0, 60 * kSecond, 120 * kSecond};
  const int64_t ends[] = {60 * kSecond, 120 * kSecond, (180 * int64_t(kNs) - 1) / 100};
  for (uint32_t n = 0; n < 3; ++n) {
    const auto c = record<ZepChapterProp>(*f, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, n);
    EXPECT_EQ(c.start, starts[n]) << n;
    EXPECT_EQ(c.end, ends[n]) << n;
    EXPECT_EQ(get(*f, ZEP_QID_CHAPTERS_CHAPTER_STARTTIME, n), starts[n]) << n;
    EXPECT_EQ(get(*f, ZEP_QID_CHAPTERS_CHAPTER_ENDTIME, n), ends[n]) << n;
  }
  EXPECT_EQ(text(*f, ZEP_QID_CHAPTERS_CHAPTER_NAME, 1), u"B");
  EXPECT_EQ(text(*f, ZEP_QID_CHAPTERS_CHAPTER_LANG, 1), u"eng");
  EXPECT_EQ(text(*f, ZEP_QID_CHAPTERS_CHAPTER_COUNTRY, 1), kNull);

  // Nested chapters count depth-first.
  ASSERT_GE(f->set(ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, 2), 0);
  const auto third = record<ZepEditionProp>(*f, ZEP_QID_EDITIONENTRY_GET_PROP, 2);
  EXPECT_EQ(third.isCurrent, 1u);
  EXPECT_EQ(third.flags & ZEP_EDITION_FLAG_HIDDEN, ZEP_EDITION_FLAG_HIDDEN);
  EXPECT_EQ(third.chapterCount, 3u);
  EXPECT_EQ(third.topLevelCount, 1u);
  ASSERT_EQ(get(*f, ZEP_QID_CHAPTERS_CHAPTER_COUNT), 3u);
  const uint64_t uids[] = {6, 7, 8};
  const uint32_t flags[] = {ZEP_CHAPTER_FLAG_ENABLED, 0,
                            ZEP_CHAPTER_FLAG_HIDDEN | ZEP_CHAPTER_FLAG_ENABLED};
  for (uint32_t n = 0; n < 3; ++n) {
    const auto c = record<ZepChapterProp>(*f, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, n);
    EXPECT_EQ(c.uid, uids[n]);
    EXPECT_EQ(c.depth, n);
    EXPECT_EQ(c.childCount, n < 2 ? 1u : 0u);
    EXPECT_EQ(c.flags, flags[n]) << n;
  }
  EXPECT_EQ(text(*f, ZEP_QID_CHAPTERS_CHAPTER_NAME, 2), u"R");
  EXPECT_EQ(text(*f, ZEP_QID_CHAPTERS_CHAPTER_COUNTRY, 2), u"gb");
  EXPECT_EQ(f->set(ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, 3), -7);
}

// ---- Tags --------------------------------------------------------------------

TEST_F(MkvCrafted, TagsTargetsAndNestedSimpleTags) {
  MkvSimpleTag artist{.name = "ARTIST", .value = "Someone", .language = "eng"};
  artist.children = {{.name = "SORT_WITH", .value = "One"}};
  auto f = open(mkv_file({mkv_segment(
      {info().element(), tracks({video()}),
       mkv_tags({{.targetType = 50,
                  .tracks = {77, 78},
                  .chapters = {5},
                  .simpleTags = {artist, {.name = "COVER", .binary = {1, 2, 3}}}},
                 {.attachments = {42}, .simpleTags = {{.name = "TITLE", .value = "Two"}}}})})}));
  ASSERT_GE(titleStatus_, 0);
  EXPECT_EQ(get(*f, ZEP_QID_TAGS_GET_NUMTAGS), 2u);
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_CURRENTTAGIDX, 0), 0);
  ZepTagInfo small{};
  EXPECT_LT(into(*f, ZEP_QID_TAGS_GET_INFO, 0, &small, sizeof small - 1), 0);
  const auto tag = record<ZepTagInfo>(*f, ZEP_QID_TAGS_GET_INFO, 0);
  EXPECT_EQ(tag.simpleTagCount, 2u);
  EXPECT_EQ(tag.trackTargets, 2u);
  EXPECT_EQ(tag.editionTargets, 0u);
  EXPECT_EQ(tag.chapterTargets, 1u);
  EXPECT_EQ(get(*f, ZEP_QID_TAGS_GET_TAG_TARGET_TRACK, 1), 78);
  EXPECT_EQ(get(*f, ZEP_QID_TAGS_GET_TAG_TARGET_CHAPTER, 0), 5);

  // Ids count the Segment's SimpleTags in file order: ARTIST 0, SORT_WITH 1,
  // COVER 2, TITLE 3. Sizes are UTF-16 bytes with the terminator.
  const auto outer = record<ZepSimpleTagInfo>(*f, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, 0);
  EXPECT_EQ(outer.id, 0u);
  EXPECT_EQ(outer.parentId, ZEP_SIMPLETAG_NO_PARENT);
  EXPECT_EQ(outer.childCount, 1u);
  EXPECT_EQ(outer.nameSize, 14u);
  EXPECT_EQ(outer.stringSize, 16u);
  EXPECT_EQ(outer.languageSize, 8u);
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_SIMPLETAGID, outer.id), 0);
  const uint64_t child = uint64_t(get(*f, ZEP_QID_TAGS_GET_SIMPLETAG_CHILDID, 0));
  EXPECT_EQ(child, 1u);
  const auto inner =
      record<ZepSimpleTagInfo>(*f, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYID, uint32_t(child));
  EXPECT_EQ(inner.parentId, outer.id);
  EXPECT_EQ(inner.depth, 1u);
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_SIMPLETAGID, uint32_t(child)), 0);
  EXPECT_EQ(get(*f, ZEP_QID_TAGS_GET_SIMPLETAG_NAME_SIZE), 20u);
  EXPECT_EQ(get(*f, ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE_SIZE), 0u);
  char16_t value[32];
  std::fill(std::begin(value), std::end(value), u'#');
  into(*f, ZEP_QID_TAGS_GET_SIMPLETAG_NAME, 0, value, 8);  // too small: nothing past 8 bytes
  EXPECT_EQ(std::u16string(value + 4, 28), std::u16string(28, u'#'));
  ASSERT_GE(into(*f, ZEP_QID_TAGS_GET_SIMPLETAG_NAME, 0, value, sizeof value), 0);
  EXPECT_EQ(std::u16string(value), u"SORT_WITH");
  ASSERT_GE(into(*f, ZEP_QID_TAGS_GET_SIMPLETAG_STRING, 0, value, sizeof value), 0);
  EXPECT_EQ(std::u16string(value), u"One");

  const auto cover = record<ZepSimpleTagInfo>(*f, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, 1);
  EXPECT_EQ(cover.id, 2u);
  EXPECT_EQ(cover.binarySize, 3u);
  EXPECT_EQ(cover.stringSize, 0u);
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_SIMPLETAGID, cover.id), 0);
  uint8_t binary[8] = {};
  ASSERT_GE(into(*f, ZEP_QID_TAGS_GET_SIMPLETAG_BINARY, 0, binary, sizeof binary), 0);
  EXPECT_EQ(Bytes(binary, binary + 3), (Bytes{1, 2, 3}));

  EXPECT_LT(f->set(ZEP_QID_TAGS_SET_CURRENTTAGIDX, 2), 0);
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_CURRENTTAGIDX, 1), 0);
  EXPECT_EQ(record<ZepTagInfo>(*f, ZEP_QID_TAGS_GET_INFO, 1).attachmentTargets, 1u);
  EXPECT_EQ(get(*f, ZEP_QID_TAGS_GET_TAG_TARGET_ATTACHMENT, 0), 42);
  const auto title = record<ZepSimpleTagInfo>(*f, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, 0);
  EXPECT_EQ(title.id, 3u);
  EXPECT_EQ(title.tagIndex, 1u);
}

// ---- Attachments -------------------------------------------------------------

TEST_F(MkvCrafted, AttachmentDataIsReadIntoTheCallersBuffer) {
  const Bytes font = {9, 8, 7, 6, 5}, picture = pattern_bytes(3, 3000);
  auto f = open(
      mkv_file({mkv_segment({info().element(), tracks({video()}),
                             mkv_attachments({{"font.ttf", "font/ttf", "A font", font, 42},
                                              {"cover.png", "image/png", "", picture, 43}})})}));
  ASSERT_GE(titleStatus_, 0);
  EXPECT_EQ(get(*f, ZEP_QID_GET_ATTACHMENT_COUNT), 2u);
  EXPECT_EQ(get(*f, ZEP_QID_GET_ATTACHMENT_SIZE, 0), 5u);
  EXPECT_EQ(get(*f, ZEP_QID_GET_ATTACHMENT_SIZE, 1), 3000u);
  ZepAttachmentInfo a{};
  uint8_t out[100] = {};
  a.data = out;
  a.dataCapacity = sizeof out;
  EXPECT_EQ(into(*f, ZEP_QID_GET_ATTACHMENTINFO, 0, &a, sizeof a - 1), ZEP_ERR_BUFFER_TOO_SMALL);
  ASSERT_GE(into(*f, ZEP_QID_GET_ATTACHMENTINFO, 0, &a, sizeof a), 0);
  EXPECT_EQ(std::u16string(a.fileName), u"font.ttf");
  EXPECT_EQ(std::u16string(a.mimeType), u"font/ttf");
  EXPECT_EQ(std::u16string(a.description), u"A font");
  EXPECT_EQ(a.fileUid, 42u);
  EXPECT_EQ(a.dataSize, 5u);
  EXPECT_EQ(Bytes(out, out + a.dataRead), font);
  // A buffer smaller than the FileData gets its first bytes.
  ASSERT_GE(into(*f, ZEP_QID_GET_ATTACHMENTINFO, 1, &a, sizeof a), 0);
  EXPECT_EQ(a.dataSize, 3000u);
  ASSERT_EQ(a.dataRead, sizeof out);
  EXPECT_EQ(Bytes(out, out + sizeof out), Bytes(picture.begin(), picture.begin() + sizeof out));
}

// ---- Blocks ------------------------------------------------------------------

TEST_F(MkvCrafted, KeyFlagsTimesAndDurationsOfBlocks) {
  MkvTrack v = video();
  v.defaultDuration = 33333300;
  auto f = open(mkv_file({mkv_segment(
      {info().element(), tracks({v, audio(2)}),
       mkv_cluster(1000,
                   {mkv_simple_block(1, -5, kBlockKey, {{1}}), mkv_simple_block(1, 0, 0, {{2}}),
                    mkv_simple_block(2, 3, 0, {{3}}),
                    MkvBlockGroup{.track = 1,
                                  .relativeTime = 40,
                                  .frames = {{4}},
                                  .duration = 33,
                                  .references = {-40}}
                        .element(),
                    MkvBlockGroup{.track = 1, .relativeTime = 80, .frames = {{5}}, .duration = 50}
                        .element()})})}));
  auto blocks = f->read_all();
  ASSERT_EQ(blocks.size(), 5u);
  EXPECT_EQ(blocks[0].time, 9950000);
  const bool keys[] = {true, false, true, false, true};  // a Block without references is key
  for (size_t n = 0; n < 5; ++n) EXPECT_EQ(blocks[n].key(), keys[n]) << n;
  EXPECT_EQ(blocks[3].duration, 333333);  // 33 ms stays the track's 333,333
  EXPECT_EQ(blocks[4].duration, 500000);
}

struct LacingCase {
  const char* name;
  Lacing lacing;
  std::vector<size_t> sizes;
};

class MkvLacing : public MkvCrafted, public ::testing::WithParamInterface<LacingCase> {};

TEST_P(MkvLacing, LacedBlockIsOneBlockOrItsFrames) {
  std::vector<Bytes> frames;
  Bytes all;
  for (size_t n = 0; n < GetParam().sizes.size(); ++n) {
    frames.push_back(pattern_bytes(uint32_t(n), GetParam().sizes[n]));
    all.insert(all.end(), frames.back().begin(), frames.back().end());
  }
  auto build = [&](bool delace) {
    return open(
        mkv_file({mkv_segment(
            {info().element(), tracks({audio(1, "A_MPEG/L3", 10000000)}),
             mkv_cluster(0, {mkv_simple_block(1, 0, kBlockKey, frames, GetParam().lacing)})})}),
        delace);
  };
  auto whole = build(false)->read_all();
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0].data, all);
  EXPECT_EQ(whole[0].duration, int64_t(frames.size()) * 100000);
  auto split = build(true)->read_all();
  ASSERT_EQ(split.size(), frames.size());
  for (size_t n = 0; n < frames.size(); ++n) {
    EXPECT_EQ(split[n].data, frames[n]) << n;
    EXPECT_EQ(split[n].time, int64_t(n) * 100000) << n;
  }
}

INSTANTIATE_TEST_SUITE_P(Kinds, MkvLacing,
                         ::testing::Values(LacingCase{"Xiph", Lacing::kXiph, {265, 20, 11}},
                                           LacingCase{"Ebml", Lacing::kEbml, {300, 20, 150, 7}},
                                           LacingCase{"Fixed", Lacing::kFixed, {40, 40, 40}},
                                           LacingCase{"OneFrame", Lacing::kXiph, {64}}),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(MkvCrafted, DamagedBlocksArePassedOverAndTheRestPlays) {
  // A lace whose first frame is longer than the block.
  const Bytes laceTooLong = {0x81, 0, 0, 0x02, 1, 250, 1, 2};
  auto f = open(
      mkv_file({mkv_segment({info().element(), tracks({audio(1), audio(2), audio(5)}),
                             mkv_cluster(0, {E::bin(kSimpleBlock, laceTooLong), E::bin(kVoid, {}),
                                             mkv_simple_block(5, 1, kBlockKey, {{5}}),
                                             mkv_simple_block(1, 2, kBlockKey, {{1}})})})}),
      true);
  ZEP_STATUS last = 0;
  auto blocks = f->read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(blocks[0].stream, 2u);  // track number 5 is the third audio track
  EXPECT_EQ(blocks[0].data, Bytes{5});
}

Bytes deflate(const Bytes& in) {
  uLongf size = compressBound(uLong(in.size()));
  Bytes out(size);
  compress2(out.data(), &size, in.data(), uLong(in.size()), 9);
  out.resize(size);
  return out;
}

TEST_F(MkvCrafted, CompressedFramesInflateOrFail) {
  auto build = [&](const Bytes& frame, int algo, Bytes settings = {}) {
    MkvTrack t = audio(1);
    t.compressionAlgo = algo;
    t.compressionSettings = std::move(settings);
    return open(
        mkv_file({mkv_segment({info().element(), tracks({t}),
                               mkv_cluster(0, {mkv_simple_block(1, 0, kBlockKey, {frame})})})}));
  };
  const Bytes plain(1000, 7);
  auto good = build(deflate(plain), 0)->read_all();
  ASSERT_EQ(good.size(), 1u);
  EXPECT_EQ(good[0].data, plain);
  auto stripped = build({3, 4}, 3, {0x0B, 0x77})->read_all();  // header stripping
  ASSERT_EQ(stripped.size(), 1u);
  EXPECT_EQ(stripped[0].data, (Bytes{0x0B, 0x77, 3, 4}));
  Block b;
  EXPECT_EQ(build({0x78, 0x01, 0, 0}, 0)->read(&b), -8);           // not a zlib stream
  EXPECT_EQ(build(deflate(Bytes(11 << 20, 0)), 0)->read(&b), -8);  // inflates past the cap
}

struct TimeCase {
  uint64_t scale, clusterTime;
  int64_t expected;  // 100 ns
};

class MkvTimes : public MkvCrafted, public ::testing::WithParamInterface<TimeCase> {};

TEST_P(MkvTimes, BlockTimesFollowTheTimecodeScale) {
  auto f = open(mkv_file({mkv_segment(
      {info(std::nullopt, GetParam().scale).element(), tracks({audio(1)}),
       mkv_cluster(GetParam().clusterTime, {mkv_simple_block(1, 0, kBlockKey, {{1}})})})}));
  auto blocks = f->read_all();
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].time, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Scales, MkvTimes,
    ::testing::Values(TimeCase{50, 20000000,
                               kSecond},  // ticks below 100 ns
                                          // 4.66 hours at 1 ms: beyond single precision
                      TimeCase{1000000, (uint64_t(1) << 24) + 1, ((int64_t(1) << 24) + 1) * 10000},
                      TimeCase{1000, 1500000, 15000000}));

// ---- Seeking over Cues -------------------------------------------------------

TEST_F(MkvCrafted, SeekAndSyncTimesFollowTheCuePoints) {
  std::vector<E> children = {info(30000.0).element(), tracks({video()})};
  for (uint8_t s : {0, 10, 20})
    children.push_back(mkv_cluster(s * 1000, {mkv_simple_block(1, 0, kBlockKey, {{s}}),
                                              mkv_simple_block(1, 40, 0, {{uint8_t(s + 1)}})}));
  // The Cues come last, so the Cluster positions are known when they are written.
  const std::vector<uint64_t> at = mkv_positions(children);
  children.push_back(mkv_cues({{0, 1, at[2]}, {10000, 1, at[3]}, {20000, 1, at[4]}}));
  auto f = open(mkv_file({mkv_segment(std::move(children))}));
  const std::pair<int64_t, int64_t> seeks[] = {{15, 10}, {20, 20}, {25, 20}, {0, 0}};
  for (auto [target, expected] : seeks) {
    int64_t t = target * kSecond;
    ASSERT_GE(f->seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
    EXPECT_EQ(t, expected * kSecond) << "seek to " << target;
    Block b;
    ASSERT_GE(f->read(&b), 0);
    EXPECT_EQ(b.data, Bytes{uint8_t(expected)});
  }
  ZEP_STATUS status = 0;
  EXPECT_EQ(f->value64(ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME, 10 * kSecond, &status), 0);
  EXPECT_EQ(f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 10 * kSecond, &status), 20 * kSecond);
  f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 20 * kSecond, &status);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
}

// ---- Linked Segments ---------------------------------------------------------

TEST_F(MkvCrafted, LinkedSegmentsThatLoopEndTheChain) {
  auto linked = [&](uint8_t self, uint8_t prev, uint8_t next) {
    MkvInfo i = info(1000.0);
    i.segmentUid = Bytes(16, self);
    i.prevUid = Bytes(16, prev);
    i.nextUid = Bytes(16, next);
    return mkv_file({mkv_segment({i.element(), tracks({audio(1)})})});
  };
  dir_.write("loop_b.mkv", linked(2, 1, 1));  // B links back to A both ways
  dir_.write("self_c.mkv", linked(3, 3, 3));  // a file that names itself
  dir_.write("not_matroska.mkv", Bytes(200, 0));
  auto f = open(linked(1, 2, 2));
  ASSERT_TRUE(f->container());
  ASSERT_GE(titleStatus_, 0);
  EXPECT_EQ(get(*f, ZEP_QID_MKV_CHAIN_COUNT), 2u);
  EXPECT_EQ(get(*f, ZEP_QID_TITLE_DURATION), 2 * kSecond);
}

// ---- Damaged files -----------------------------------------------------------

// A file with every kind of record, then cut, zero-filled from some byte on,
// or overwritten with garbage there: whatever opens plays a prefix of the
// whole file's blocks, and nothing crashes.
TEST_F(MkvCrafted, DamagedFilesOpenAsFarAsTheyGo) {
  std::vector<E> children = {
      info(2000.0).element(), tracks({video(), audio(2)}),
      mkv_chapters({{.uid = 1, .chapters = {{.uid = 1, .name = "A"}}}}),
      mkv_tags({{.tracks = {1}, .simpleTags = {{.name = "T", .value = "v"}}}}),
      mkv_attachments({{"a.bin", "application/octet-stream", "", Bytes(40, 1), 9}})};
  for (uint8_t c = 0; c < 3; ++c) {
    children.push_back(mkv_cluster(c * 500, {mkv_simple_block(1, 0, kBlockKey, {Bytes(30, c)}),
                                             mkv_simple_block(2, 10, kBlockKey, {Bytes(20, c)})}));
  }
  const std::vector<uint64_t> at = mkv_positions(children);
  children.push_back(mkv_cues({{0, 1, at[5]}, {500, 1, at[6]}, {1000, 1, at[7]}}));
  const Bytes whole = mkv_file({mkv_segment(std::move(children))});
  const auto reference = open(whole, false, false)->read_all();
  ASSERT_EQ(reference.size(), 6u);
  for (int kind = 0; kind < 3; ++kind) {
    for (size_t cut = 0; cut < whole.size(); cut += 7) {
      Bytes damaged = whole;
      if (kind == 0) damaged.resize(cut);
      for (size_t n = cut; kind > 0 && n < damaged.size(); ++n)
        damaged[n] = kind == 1 ? 0 : uint8_t(n * 37 + 11);
      auto f = open(damaged, false, false);
      if (!f->container() || titleStatus_ < 0) continue;
      ZepChapterProp chapter{};
      ZepAttachmentInfo attachment{};
      into(*f, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, 0, &chapter, sizeof chapter);
      into(*f, ZEP_QID_GET_ATTACHMENTINFO, 0, &attachment, sizeof attachment);
      const auto blocks = f->read_all(nullptr, 100);
      ASSERT_LE(blocks.size(), reference.size()) << kind << " at " << cut;
      // Garbage may read as blocks of its own; zeros may fall in the last
      // block's payload; a cut block is not delivered at all.
      const size_t same = kind == 2                      ? 0
                          : kind == 1 && !blocks.empty() ? blocks.size() - 1
                                                         : blocks.size();
      for (size_t n = 0; n < same; ++n)
        ASSERT_EQ(blocks[n].data, reference[n].data) << kind << " at " << cut << " block " << n;
    }
  }
}

}  // namespace
