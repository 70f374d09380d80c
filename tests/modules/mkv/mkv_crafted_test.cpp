// Crafted Matroska files through the container layer: records, lacing, compression, times,
// Cues, linked loops, and cut or overwritten files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <array>
#include <cstring>
#include <optional>
#include <sstream>

#include "layer1/zep_mkv_records.h"
#include "tests/modules/avi/avi_test_util.h"
#include "tests/support/ebml_builder.h"

using namespace zeptest;
using namespace zeptest::mkvid;
using avitest::Block;
using ContainerFile = avitest::AviFile;
using Rows = std::vector<std::string>;

namespace {

constexpr int64_t kSecond = 10000000;  // 100 ns units
constexpr uint64_t kNs = 1000000000;

E video(uint64_t number = 1, std::vector<E> more = {}) {
  more.push_back(E(kVideo, {E::uint(kPixelWidth, 64), E::uint(kPixelHeight, 48)}));
  return mkv_track(number, 1, "V_MPEG4/ISO/ASP", std::move(more));
}
E audio(uint64_t number, std::string_view codec = "A_AC3", std::vector<E> more = {}) {
  return mkv_track(number, 2, codec, std::move(more));
}
// One Segment of SegmentInfo, Tracks and `more`.
Bytes segment_file(const E& info, const std::vector<E>& tracks, const std::vector<E>& more = {}) {
  return mkv_file({mkv_segment({info, E(kTracks, tracks)}).children(more)});
}
template <typename... T>
std::string row(const T&... values) {
  std::ostringstream out;
  ((out << values << ' '), ...);
  return out.str();
}
// A value in the width of the QID's type; the pattern it starts as catches short writes.
int64_t get(ContainerFile& f, uint32_t qid, uint32_t index = 0) {
  ZepQueryData q{};
  q.value.u64 = 0xA5A5A5A5A5A5A5A5u;
  if (L1GetInfo(f.container(), qid, &q, index) < 0) return -1;
  const uint32_t type = ZEP_QID_VALUE_TYPE(qid);
  return type == ZEP_QTYPE_COUNT16 ? q.value.u16 : type <= 6 ? q.value.u32 : q.value.i64;
}
template <typename R>
R record(ContainerFile& f, uint32_t qid, uint32_t index = 0) {
  R r{};
  EXPECT_GE(f.into(qid, index, &r, sizeof r), 0) << std::hex << qid << " " << index;
  return r;
}

class MkvCrafted : public ::testing::Test {
 protected:
  // Opened on title 0, every stream active; a Void behind, as the probe wants 83 bytes.
  std::unique_ptr<ContainerFile> open(Bytes bytes, bool delace = false, bool pad = true) {
    if (pad) bytes = E::raw(std::move(bytes)).child(ebml_void(90)).bytes();
    auto f = std::make_unique<ContainerFile>(
        dir_.write("crafted" + std::to_string(++count_) + ".mkv", bytes), false);
    if (f->container()) {
      if (delace) f->set(ZEP_QID_DELACE_BLOCKS, 1);
      titleStatus_ = L1SetTitle(f->container(), 0);
      f->activate_all();
    }
    return f;
  }
  TempDir dir_;
  int count_ = 0;
  ZEP_STATUS titleStatus_ = ZEP_FAIL;
};

// Track 3 (TrackType 3) counts in no stream; track 4 repeats track 1's UID; AAC lacks CodecPrivate.
TEST_F(MkvCrafted, TrackRecordsFromTheTrackEntries) {
  auto f = open(segment_file(
      mkv_info(90000.0, 1000000, {E::str(kTitle, "Crafted"), E::str(kMuxingApp, "ebml_builder")}),
      {video(), ebml_void(37), ebml_crc32(0x12345678), mkv_track(2, 17, "S_SSA"),
       mkv_track(3, 3, "V_MPEG4/ISO/ASP"),
       E(kTrackEntry, {E::uint(kTrackNumber, 4), E::uint(kTrackUid, 1), E::uint(kTrackType, 2),
                       E::str(kCodecId, "A_AC3")}),
       audio(5, "A_AAC/MPEG4/LC/SBR",
             {E::str(kName, "Commentary"),
              E(kAudio, {E::flt(kSamplingFrequency, 24000), E::flt(kOutputSamplingFrequency, 48000),
                         E::uint(kChannels, 2)})})}));
  EXPECT_EQ(row(f->text(ZEP_QID_CONTAINER_TITLE_NAME), f->text(ZEP_QID_CONTAINER_MUX_APP),
                f->text(ZEP_QID_CONTAINER_WRITE_APP), f->text(ZEP_QID_SUB_CODEC_ID),
                f->text(ZEP_QID_AUD_CODEC_ID), f->text(ZEP_QID_AUD_STREAM_NAME)),
            "Crafted ebml_builder (null) S_SSA A_AAC/MPEG4/LC/SBR Commentary ");
  EXPECT_EQ(
      row(get(*f, ZEP_QID_TITLE_DURATION), get(*f, ZEP_QID_NUM_TITLE_STREAMS),
          get(*f, ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA), get(*f, ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA),
          get(*f, ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA)),
      "900000000 4 1 1 1 ");
  auto track = [&](uint32_t n) { return record<ZepMkvTrackProp>(*f, ZEP_QID_GET_TRACK_PROP, n); };
  EXPECT_EQ(
      row(track(1).codecCode, track(2).kind, track(2).number, zep::u16_to_utf8(track(3).codecId)),
      "54 0 3 A_AAC/MPEG4/LC/SBR ");
  // The AudioSpecificConfig made from the CodecID and Audio: LC at 24 kHz, 2 channels, SBR to 48.
  uint8_t config[8] = {};
  uint32_t stored = 0;
  ASSERT_GE(f->into(ZEP_QID_AUDIO_CODEC_PRIVATE_DATA, 0, config, sizeof config, &stored), 0);
  EXPECT_EQ(Bytes(config, config + stored), (Bytes{0x13, 0x10, 0x56, 0xE5, 0x98}));
  const auto sub = record<ZepSubtitleStreamFormat>(*f, ZEP_QID_SUB_STREAM_FORMAT);
  const auto v = record<ZepVideoStreamFormat>(*f, ZEP_QID_VID_STREAM_FORMAT);
  EXPECT_EQ(row(std::memcmp(&sub.fourcc, "SSA", 4), v.width, v.height), "0 64 48 ");
}

TEST_F(MkvCrafted, SegmentUidOfSeventeenBytesFailsTheTitle) {
  for (size_t size : {16, 17}) {
    open(segment_file(mkv_info({}, 1000000, {E::bin(kSegmentUid, Bytes(size, 1))}), {video()}));
    EXPECT_EQ(titleStatus_ >= 0 ? 0 : titleStatus_, size == 16 ? 0 : ZEP_ERR_QR7_PARSE_SEGMENTINFO);
  }
}

// Per edition: UID, flags, chapters, top-level chapters, ordered length, current.
Rows edition_rows(ContainerFile& f) {
  Rows out;
  for (uint32_t n = 0; n < get(f, ZEP_QID_EDITIONENTRY_GET_COUNT); ++n) {
    const auto e = record<ZepEditionProp>(f, ZEP_QID_EDITIONENTRY_GET_PROP, n);
    out.push_back(row(e.uid, e.flags, e.chapterCount, e.topLevelCount, e.orderedLength,
                      e.isCurrent ? "current" : "-"));
  }
  return out;
}
// Per chapter: UID, start, end, playlist offset, depth, children, flags, name, language, country.
Rows chapter_rows(ContainerFile& f) {
  Rows out;
  for (uint32_t n = 0; n < get(f, ZEP_QID_CHAPTERS_CHAPTER_COUNT); ++n) {
    const auto c = record<ZepChapterProp>(f, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, n);
    EXPECT_EQ(get(f, ZEP_QID_CHAPTERS_CHAPTER_STARTTIME, n), c.start) << n;
    EXPECT_EQ(get(f, ZEP_QID_CHAPTERS_CHAPTER_ENDTIME, n), c.end) << n;
    out.push_back(row(c.uid, c.start, c.end, c.playlistOffset, c.depth, c.childCount, c.flags,
                      f.text(ZEP_QID_CHAPTERS_CHAPTER_NAME, n),
                      f.text(ZEP_QID_CHAPTERS_CHAPTER_LANG, n),
                      f.text(ZEP_QID_CHAPTERS_CHAPTER_COUNTRY, n)));
  }
  return out;
}
// A ChapterAtom from `start` to `end` seconds (none: no end), named in English.
E chapter(uint64_t uid, uint64_t start, std::optional<uint64_t> end, std::string_view name,
          std::vector<E> more = {}, std::string_view country = "") {
  E e(kChapterAtom, {E::uint(kChapterUid, uid), E::uint(kChapterTimeStart, start * kNs)});
  if (end) e.child(E::uint(kChapterTimeEnd, *end * kNs));
  E display(kChapterDisplay, {E::str(kChapString, name), E::str(kChapLanguage, "eng")});
  if (!country.empty()) display.child(E::str(kChapCountry, country));
  return e.child(display).children(more);
}

// Editions: A, B, C without ends; X, Y (default, ordered); P > Q (disabled) > R (hidden, gb).
TEST_F(MkvCrafted, ChapterEndsEditionsAndOrderedPlaylists) {
  const E r = chapter(8, 40, 50, "R", {E::uint(kChapterFlagHidden, 1)}, "gb");
  auto f = open(segment_file(
      mkv_info(180000.0), {video()},
      {E(kChapters,
         {E(kEditionEntry, {E::uint(kEditionUid, 1), chapter(1, 0, {}, "A"),
                            chapter(2, 60, {}, "B"), chapter(3, 120, {}, "C")}),
          E(kEditionEntry,
            {E::uint(kEditionUid, 2), E::uint(kEditionFlagDefault, 1),
             E::uint(kEditionFlagOrdered, 1), chapter(4, 10, 20, "X"), chapter(5, 50, 70, "Y")}),
          E(kEditionEntry,
            {E::uint(kEditionUid, 3), E::uint(kEditionFlagHidden, 1),
             chapter(6, 0, 90, "P",
                     {chapter(7, 30, 60, "Q", {E::uint(kChapterFlagEnabled, 0), r})})})})}));
  // The default edition is current; its playlist plays X from 0 s, Y from 10 s.
  EXPECT_EQ(edition_rows(*f),
            (Rows{"1 0 3 3 0 - ", "2 12 2 2 300000000 current ", "3 1 3 1 0 - "}));
  EXPECT_EQ(chapter_rows(*f), (Rows{"4 100000000 200000000 -100000000 0 0 2 X eng (null) ",
                                    "5 500000000 700000000 -400000000 0 0 2 Y eng (null) "}));
  // Chapters without ends end where the next starts, the last 1 ns before the Segment's end.
  ASSERT_GE(f->set(ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, 0), 0);
  EXPECT_EQ(chapter_rows(*f), (Rows{"1 0 600000000 0 0 0 2 A eng (null) ",
                                    "2 600000000 1200000000 0 0 0 2 B eng (null) ",
                                    "3 1200000000 1799999999 0 0 0 2 C eng (null) "}));
  // Nested chapters count depth-first.
  ASSERT_GE(f->set(ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, 2), 0);
  EXPECT_EQ(edition_rows(*f).back(), "3 1 3 1 0 current ");
  EXPECT_EQ(chapter_rows(*f), (Rows{"6 0 900000000 0 0 1 2 P eng (null) ",
                                    "7 300000000 600000000 0 1 1 0 Q eng (null) ",
                                    "8 400000000 500000000 0 2 0 3 R eng gb "}));
  EXPECT_EQ(f->set(ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, 3), -7);
}

E simple_tag(std::string_view name, const std::vector<E>& more) {
  return E(kSimpleTag, {E::str(kTagName, name)}).children(more);
}

// SimpleTag ids in file order: ARTIST 0 > SORT_WITH 1, COVER 2, TITLE 3; sizes in UTF-16 bytes.
TEST_F(MkvCrafted, TagsTargetsAndNestedSimpleTags) {
  auto f = open(segment_file(
      mkv_info(), {video()},
      {E(kTags,
         {E(kTag, {E(kTargets, {E::uint(kTargetTypeValue, 50), E::str(kTargetType, "ALBUM"),
                                E::uint(kTagTrackUid, 77), E::uint(kTagTrackUid, 78),
                                E::uint(kTagChapterUid, 5)}),
                   simple_tag("ARTIST", {E::str(kTagLanguage, "eng"), E::str(kTagString, "Someone"),
                                         simple_tag("SORT_WITH", {E::str(kTagString, "One")})}),
                   simple_tag("COVER", {E::bin(kTagBinary, {1, 2, 3})})}),
          E(kTag, {E(kTargets, {E::uint(kTagAttachmentUid, 42)}),
                   simple_tag("TITLE", {E::str(kTagString, "Two")})})})}));
  auto tag = [&](uint32_t n) {  // simple tags, targets
    const auto t = record<ZepTagInfo>(*f, ZEP_QID_TAGS_GET_INFO, n);
    return row(t.simpleTagCount, t.trackTargets, t.editionTargets, t.chapterTargets,
               t.attachmentTargets);
  };
  auto simple = [&](uint32_t qid, uint32_t n) {  // id, parent, tag, children, sizes, depth
    const auto s = record<ZepSimpleTagInfo>(*f, qid, n);
    return row(s.id, int32_t(s.parentId), s.tagIndex, s.childCount, s.nameSize, s.stringSize,
               s.languageSize, s.binarySize, s.depth);
  };
  EXPECT_EQ(get(*f, ZEP_QID_TAGS_GET_NUMTAGS), 2);
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_CURRENTTAGIDX, 0), 0);
  ZepTagInfo small{};
  EXPECT_LT(f->into(ZEP_QID_TAGS_GET_INFO, 0, &small, sizeof small - 1), 0);
  EXPECT_EQ(tag(0), "2 2 0 1 0 ");
  EXPECT_EQ(row(get(*f, ZEP_QID_TAGS_GET_TAG_TARGET_TRACK, 1),
                get(*f, ZEP_QID_TAGS_GET_TAG_TARGET_CHAPTER, 0)),
            "78 5 ");
  EXPECT_EQ(simple(ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, 0), "0 -1 0 1 14 16 8 0 0 ");
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_SIMPLETAGID, 0), 0);
  EXPECT_EQ(get(*f, ZEP_QID_TAGS_GET_SIMPLETAG_CHILDID, 0), 1);
  EXPECT_EQ(simple(ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYID, 1), "1 0 0 0 20 8 0 0 1 ");
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_SIMPLETAGID, 1), 0);
  EXPECT_EQ(row(get(*f, ZEP_QID_TAGS_GET_SIMPLETAG_NAME_SIZE),
                get(*f, ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE_SIZE)),
            "20 0 ");
  char16_t value[32], other[32];
  std::fill(std::begin(value), std::end(value), u'#');
  f->into(ZEP_QID_TAGS_GET_SIMPLETAG_NAME, 0, value, 8);  // too small: nothing past 8 bytes
  EXPECT_EQ(std::u16string(value + 4, 28), std::u16string(28, u'#'));
  f->into(ZEP_QID_TAGS_GET_SIMPLETAG_NAME, 0, value, sizeof value);
  f->into(ZEP_QID_TAGS_GET_SIMPLETAG_STRING, 0, other, sizeof other);
  EXPECT_EQ(std::u16string(value) + u" " + other, u"SORT_WITH One");
  EXPECT_EQ(simple(ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, 1), "2 -1 0 0 12 0 0 3 0 ");
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_SIMPLETAGID, 2), 0);
  uint8_t binary[3] = {};
  f->into(ZEP_QID_TAGS_GET_SIMPLETAG_BINARY, 0, binary, sizeof binary);
  EXPECT_EQ(Bytes(binary, binary + 3), (Bytes{1, 2, 3}));
  EXPECT_LT(f->set(ZEP_QID_TAGS_SET_CURRENTTAGIDX, 2), 0);
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_CURRENTTAGIDX, 1), 0);
  EXPECT_EQ(tag(1), "1 0 0 0 1 ");
  EXPECT_EQ(get(*f, ZEP_QID_TAGS_GET_TAG_TARGET_ATTACHMENT, 0), 42);
  EXPECT_EQ(simple(ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, 0), "3 -1 1 0 12 8 0 0 0 ");
}

E attached(std::string_view name, std::string_view mime, std::string_view about, Bytes data,
           uint64_t uid) {
  E e(kAttachedFile);
  if (!about.empty()) e.child(E::str(kFileDescription, about));
  return e.children({E::str(kFileName, name), E::str(kFileMimeType, mime),
                     E::bin(kFileData, std::move(data)), E::uint(kFileUid, uid)});
}

// A Block without references is key; 33 ms stays the track's 333,333.
TEST_F(MkvCrafted, KeyFlagsTimesAndDurationsOfBlocks) {
  auto f = open(segment_file(
      mkv_info(), {video(1, {E::uint(kDefaultDuration, 33333300)}), audio(2)},
      {mkv_cluster(1000,
                   {mkv_simple_block(1, -5, kBlockKey, {{1}}), mkv_simple_block(1, 0, 0, {{2}}),
                    mkv_simple_block(2, 3, 0, {{3}}), mkv_block_group(1, 40, {4}, 33, {-40}),
                    mkv_block_group(1, 80, {5}, 50)})}));
  const auto blocks = f->read_all();
  ASSERT_EQ(blocks.size(), 5u);
  std::string keys;
  for (const Block& b : blocks) keys += row(b.key());
  EXPECT_EQ(row(blocks[0].time, keys, blocks[3].duration, blocks[4].duration),
            "9950000 1 0 1 0 1  333333 500000 ");
}

// A lace whose first frame is longer than the block and an empty Void are passed over; track
// numbers with a gap (1, 2, 5) keep their blocks.
TEST_F(MkvCrafted, DamagedBlocksArePassedOverAndGappedTrackNumbersPlay) {
  const Bytes laceTooLong = {0x81, 0, 0, 0x02, 1, 250, 1, 2};
  auto f = open(segment_file(mkv_info(), {audio(1), audio(2), audio(5)},
                             {mkv_cluster(0, {E::bin(kSimpleBlock, laceTooLong), E::bin(kVoid, {}),
                                              mkv_simple_block(5, 1, kBlockKey, {{5}}),
                                              mkv_simple_block(1, 2, kBlockKey, {{1}})})}),
                true);
  ZEP_STATUS last = 0;
  auto blocks = f->read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(blocks.size(), 2u);  // track number 5 is the third audio track
  EXPECT_EQ(row(blocks[0].stream, int(blocks[0].data.at(0))), "2 5 ");
}

Bytes deflate(const Bytes& in) {
  uLongf size = compressBound(uLong(in.size()));
  Bytes out(size);
  compress2(out.data(), &size, in.data(), uLong(in.size()), 9);
  out.resize(size);
  return out;
}

// zlib inflates, header stripping puts bytes back; no zlib stream or one past the cap fails.
TEST_F(MkvCrafted, CompressedFramesInflateOrFail) {
  const struct {
    Bytes frame;
    uint64_t algo;
    Bytes settings;
    ZEP_STATUS status;
    Bytes expected;
  } cases[] = {{deflate(Bytes(1000, 7)), 0, {}, 0, Bytes(1000, 7)},
               {{3, 4}, 3, {0x0B, 0x77}, 0, {0x0B, 0x77, 3, 4}},
               {{0x78, 0x01, 0, 0}, 0, {}, -8, {}},
               {deflate(Bytes(11 << 20, 0)), 0, {}, -8, {}}};
  for (const auto& c : cases) {
    E compression(kContentCompression, {E::uint(kContentCompAlgo, c.algo)});
    if (!c.settings.empty()) compression.child(E::bin(kContentCompSettings, c.settings));
    const E encodings(kContentEncodings, {E(kContentEncoding, {compression})});
    auto f = open(segment_file(mkv_info(), {audio(1, "A_AC3", {encodings})},
                               {mkv_cluster(0, {mkv_simple_block(1, 0, kBlockKey, {c.frame})})}));
    Block b;
    ASSERT_EQ(std::min(f->read(&b), 0), c.status) << &c - cases;
    EXPECT_EQ(c.status == 0 ? b.data : Bytes{}, c.expected);
  }
}

// Ticks below 100 ns; 4.66 hours at 1 ms, beyond single precision; 1 us.
TEST_F(MkvCrafted, BlockTimesFollowTheTimecodeScale) {
  const std::array<int64_t, 3> cases[] = {{50, 20000000, kSecond},
                                          {1000000, (1 << 24) + 1, ((1 << 24) + 1) * 10000ll},
                                          {1000, 1500000, 15000000}};
  for (const auto& [scale, clusterTime, expected] : cases) {
    auto blocks =
        open(segment_file(
                 mkv_info({}, uint64_t(scale)), {audio(1)},
                 {mkv_cluster(uint64_t(clusterTime), {mkv_simple_block(1, 0, kBlockKey, {{1}})})}))
            ->read_all();
    EXPECT_EQ(blocks.at(0).time, expected) << scale;
  }
}

TEST_F(MkvCrafted, SeekAndSyncTimesFollowTheCuePoints) {
  std::vector<E> children = {mkv_info(30000.0), E(kTracks, {video()})};
  for (uint8_t s : {0, 10, 20})
    children.push_back(mkv_cluster(s * 1000, {mkv_simple_block(1, 0, kBlockKey, {{s}}),
                                              mkv_simple_block(1, 40, 0, {{uint8_t(s + 1)}})}));
  const std::vector<uint64_t> at = mkv_positions(children);  // Cues last: Clusters placed
  children.push_back(mkv_cues({{0, at[2]}, {10000, at[3]}, {20000, at[4]}}));
  auto f = open(mkv_file({mkv_segment(std::move(children))}));
  const std::pair<int64_t, int64_t> seeks[] = {{15, 10}, {20, 20}, {25, 20}, {0, 0}};
  for (auto [target, expected] : seeks) {
    int64_t t = target * kSecond;
    Block b;
    ASSERT_TRUE(f->seek(ZEP_BLOCK_VIDEO, 0, &t) >= 0 && f->read(&b) >= 0);
    EXPECT_EQ(row(t, int(b.data.at(0))), row(expected * kSecond, expected)) << "seek to " << target;
  }
  ZEP_STATUS status = 0;
  EXPECT_EQ(f->value64(ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME, 10 * kSecond, &status), 0);
  EXPECT_EQ(f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 10 * kSecond, &status), 20 * kSecond);
  f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 20 * kSecond, &status);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
}

// Without Cues a seek walks the Clusters; in one of unknown size, a child's nine-byte size of
// 2^64 - 10 (its own header) would wrap the walk back onto itself without end.
TEST_F(MkvCrafted, SeekOverAChildSizeThatWrapsEndsTheClusterWalk) {
  const Bytes wrapping = {0xEC, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF6};
  auto f = open(mkv_file(
      {mkv_segment({mkv_info(2000.0), E(kTracks, {video()}),
                    mkv_cluster(0, {mkv_simple_block(1, 0, kBlockKey, {{7}}), E::raw(wrapping)})
                        .unknown_size()})}));
  int64_t t = kSecond;
  Block b;
  ASSERT_TRUE(f->seek(ZEP_BLOCK_VIDEO, 0, &t) >= 0 && f->read(&b) >= 0);
  EXPECT_EQ(row(t, int(b.data.at(0))), row(0, 7));
}

// B links back to A both ways, C names itself, a non-Matroska file lies by: the chain is A, B.
TEST_F(MkvCrafted, LinkedSegmentsThatLoopEndTheChain) {
  auto linked = [&](uint8_t self, uint8_t prev, uint8_t next) {
    const E uids[] = {E::bin(kSegmentUid, Bytes(16, self)), E::bin(kPrevUid, Bytes(16, prev)),
                      E::bin(kNextUid, Bytes(16, next))};
    return segment_file(mkv_info(1000.0, 1000000, {uids[0], uids[1], uids[2]}), {audio(1)});
  };
  dir_.write("loop_b.mkv", linked(2, 1, 1));
  dir_.write("self_c.mkv", linked(3, 3, 3));
  dir_.write("not_matroska.mkv", Bytes(200, 0));
  auto f = open(linked(1, 2, 2));
  ASSERT_GE(titleStatus_, 0);
  EXPECT_EQ(row(get(*f, ZEP_QID_MKV_CHAIN_COUNT), get(*f, ZEP_QID_TITLE_DURATION)),
            row(2, 2 * kSecond));
}

// Every record, cut, zeroed or garbage from some byte on: what opens plays a prefix of the blocks.
TEST_F(MkvCrafted, DamagedFilesOpenAsFarAsTheyGo) {
  std::vector<E> children = {
      mkv_info(2000.0), E(kTracks, {video(), audio(2)}),
      E(kChapters,
        {E(kEditionEntry, {E::uint(kEditionUid, 1),
                           E(kChapterAtom, {E::uint(kChapterUid, 1), E::uint(kChapterTimeStart, 0),
                                            E(kChapterDisplay, {E::str(kChapString, "A")})})})}),
      E(kTags, {E(kTag, {E(kTargets, {E::uint(kTagTrackUid, 1)}),
                         simple_tag("T", {E::str(kTagString, "v")})})}),
      E(kAttachments, {attached("a.bin", "application/octet-stream", "", Bytes(40, 1), 9)})};
  for (uint8_t c = 0; c < 3; ++c)
    children.push_back(mkv_cluster(c * 500, {mkv_simple_block(1, 0, kBlockKey, {Bytes(30, c)}),
                                             mkv_simple_block(2, 10, kBlockKey, {Bytes(20, c)})}));
  const std::vector<uint64_t> at = mkv_positions(children);
  children.push_back(mkv_cues({{0, at[5]}, {500, at[6]}, {1000, at[7]}}));
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
      f->into(ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, 0, &chapter, sizeof chapter);
      f->into(ZEP_QID_GET_ATTACHMENTINFO, 0, &attachment, sizeof attachment);
      const auto blocks = f->read_all(nullptr, 100);
      ASSERT_LE(blocks.size(), reference.size()) << kind << " at " << cut;
      // Garbage may read as blocks; zeros may fall in the last payload; a cut block never comes.
      const size_t same = kind == 2                      ? 0
                          : kind == 1 && !blocks.empty() ? blocks.size() - 1
                                                         : blocks.size();
      for (size_t n = 0; n < same; ++n)
        ASSERT_EQ(blocks[n].data, reference[n].data) << kind << " at " << cut << " block " << n;
    }
  }
}

}  // namespace
