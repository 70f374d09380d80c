// Crafted Matroska layouts that no tool writes: the EBML layer's edge cases,
// Segment, track, chapter, tag and attachment records, block headers and
// lacing, seeking over Cues, and damaged files.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cmath>

#include "layer1/zep_mkv_records.h"
#include "modules/mkv/ebml_reader.h"
#include "tests/modules/avi/avi_test_util.h"
#include "tests/support/ebml_writer.h"

using namespace zeptest;
using avitest::Block;
using ContainerFile = avitest::AviFile;

namespace {

constexpr uint32_t kSegment = 0x18538067, kInfo = 0x1549A966, kTracks = 0x1654AE6B;
constexpr uint32_t kCluster = 0x1F43B675, kSimpleBlock = 0xA3, kBlockGroup = 0xA0;

Ebml info(double duration = 0, uint64_t scale = 1000000) {
  return Ebml::node(kInfo, {Ebml::uint(0x2AD7B1, scale), Ebml::flt(0x4489, duration)});
}
Ebml video_track(uint64_t number = 1, std::vector<Ebml> more = {}) {
  more.push_back(Ebml::node(0xE0, {Ebml::uint(0xB0, 64), Ebml::uint(0xBA, 48)}));
  return track_entry(number, number, 1, "V_MPEG4/ISO/ASP", std::move(more));
}
Ebml simple(uint64_t track, int16_t rel, uint8_t flags, const Bytes& data) {
  return Ebml::bin(kSimpleBlock, block_payload(track, rel, flags, data));
}
Ebml segment(std::vector<Ebml> children) { return Ebml::node(kSegment, std::move(children)); }

class MkvCrafted : public ::testing::Test {
 protected:
  // The file gets a top-level Void behind it: the probe wants 83 bytes.
  std::unique_ptr<ContainerFile> open(Bytes bytes, bool delace = false) {
    const Bytes pad = Ebml::bin(0xEC, Bytes(83, 0)).bytes();
    bytes.insert(bytes.end(), pad.begin(), pad.end());
    const std::string file = dir_.write("crafted" + std::to_string(++count_) + ".mkv", bytes);
    auto f = std::make_unique<ContainerFile>(file, false);
    if (f->container()) {
      if (delace) f->set(ZEP_QID_DELACE_BLOCKS, 1);
      titleStatus_ = L1SetTitle(f->container(), 0);
      f->activate_all();
    }
    return f;
  }
  static std::u16string text(ContainerFile& f, uint32_t qid, uint32_t index = 0) {
    ZepQueryData q{};
    if (L1GetInfo(f.container(), qid, &q, index) < 0 || !q.value.ptr) return u"";
    std::u16string s(static_cast<const char16_t*>(q.value.ptr));
    zep_wcsfree(static_cast<zep_wchar_t*>(q.value.ptr), nullptr);
    return s;
  }
  template <typename R>
  static ZEP_STATUS record(ContainerFile& f, uint32_t qid, uint32_t index, R* out,
                           uint32_t size = sizeof(R)) {
    ZepQueryData q{};
    q.size = size;
    q.value.ptr = out;
    return L1GetInfo(f.container(), qid, &q, index);
  }
  TempDir dir_;
  int count_ = 0;
  ZEP_STATUS titleStatus_ = 0;
};

// ---- The EBML layer --------------------------------------------------------

struct VintCase {
  Bytes bytes;
  bool isSigned, strip;
  uint64_t value;
};

class EbmlVint : public MkvCrafted, public ::testing::WithParamInterface<VintCase> {};

TEST_P(EbmlVint, ReadsTheValue) {
  const VintCase& c = GetParam();
  mkv::MkvByteSource source;
  ASSERT_GE(source.open(0, zep::utf8_to_u16(dir_.write("v.bin", c.bytes)).c_str(), nullptr), 0);
  uint64_t v = 0;
  uint32_t length = 0;
  ASSERT_GE(mkv::ReadVint(source, c.isSigned, c.strip, &v, &length), 0);
  EXPECT_EQ(v, c.value);
  EXPECT_EQ(length, c.bytes.size());
}

INSTANTIATE_TEST_SUITE_P(
    Examples, EbmlVint,
    ::testing::Values(VintCase{{0x40, 0x02}, false, true, 2},
                      VintCase{{0x40, 0x02}, false, false, 0x4002},
                      VintCase{{0x80}, true, true, uint64_t(-63)},
                      VintCase{{0xBF}, true, true, 0}, VintCase{{0xFF}, true, true, 64},
                      VintCase{{0x01, 0, 0, 0, 0, 0, 0, 0x05}, false, true, 5},
                      VintCase{{0x00, 1, 2, 3, 4, 5, 6, 7, 8}, false, true, 0x0102030405060708}));

struct ValueCase {
  const char* reader;
  Bytes bytes;
  ZEP_STATUS status;
  double value;
};

class EbmlValue : public MkvCrafted, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(EbmlValue, ReadsOrRefusesBySize) {
  const ValueCase& c = GetParam();
  mkv::MkvByteSource source;
  ASSERT_GE(source.open(0, zep::utf8_to_u16(dir_.write("v.bin", c.bytes)).c_str(), nullptr), 0);
  double got = 0;
  ZEP_STATUS status;
  if (std::string(c.reader) == "float") {
    status = mkv::ReadFloat(source, c.bytes.size(), &got);
  } else if (std::string(c.reader) == "sint") {
    int64_t v = 0;
    status = mkv::ReadSInt(source, c.bytes.size(), &v);
    got = double(v);
  } else {
    uint64_t v = 0;
    status = mkv::ReadUInt(source, c.bytes.size(), &v);
    got = double(v);
  }
  EXPECT_EQ(status, c.status);
  if (status >= 0) {
    EXPECT_EQ(got, c.value);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, EbmlValue,
    ::testing::Values(ValueCase{"uint", {}, 0, 0}, ValueCase{"uint", Bytes(9, 1), -2, 0},
                      ValueCase{"uint", {1, 0, 0, 0, 0, 0, 0, 0}, 0, 72057594037927936.0},
                      ValueCase{"sint", {0xFF, 0xFE}, 0, -2},
                      ValueCase{"float", {0x3F, 0x80, 0, 0}, 0, 1.0},
                      ValueCase{"float", {0x3F, 0x80}, -2, 0},
                      ValueCase{"float", {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, 0,
                                3.141592653589793}));

TEST_F(MkvCrafted, ProbeScoresByContentAndByNameOnlyWhenTheFileCannotBeOpened) {
  Bytes ebml = ebml_header().bytes();
  ebml.resize(83, 0xEC);
  uint32_t score = 7;
  EXPECT_GE(mkv::ProbeMatroska(&score, zep::utf8_to_u16(dir_.write("x.avi", ebml)).c_str(), nullptr), 0);
  EXPECT_EQ(score, 100u);
  EXPECT_GE(mkv::ProbeMatroska(&score, zep::utf8_to_u16(dir_.write("y.mkv", Bytes(100, 1))).c_str(), nullptr), 0);
  EXPECT_EQ(score, 0u);
  EXPECT_LT(mkv::ProbeMatroska(&score, zep::utf8_to_u16(dir_.write("z.mkv", Bytes(82, 0x1A))).c_str(), nullptr), 0);
  for (const char* name : {"missing.qr7", "missing.mkv"}) {
    EXPECT_GE(mkv::ProbeMatroska(&score, zep::utf8_to_u16(dir_.path() + "/" + name).c_str(), nullptr), 0);
    EXPECT_EQ(score, 100u) << name;
  }
}

// ---- Segments and tracks ---------------------------------------------------

TEST_F(MkvCrafted, TwoSegmentsAreTwoTitles) {
  auto f = open(matroska_file(
      {segment({info(), Ebml::node(kTracks, {video_track()})}),
       segment({info(), Ebml::node(kTracks, {video_track(1), track_entry(2, 2, 2, "A_AC3")})})}));
  ASSERT_GE(titleStatus_, 0);
  EXPECT_EQ(f->count(ZEP_QID_NUM_CONTAINER_TITLE), 2u);
  EXPECT_EQ(f->count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA), 0u);
  ASSERT_GE(L1SetTitle(f->container(), 1), 0);
  EXPECT_EQ(f->count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA), 1u);
  EXPECT_LT(L1SetTitle(f->container(), 2), 0);
}

TEST_F(MkvCrafted, TrackRecordsFromTheTrackEntries) {
  auto f = open(matroska_file({segment(
      {info(90000.0),
       Ebml::node(kTracks,
                  {video_track(1), Ebml::bin(0xEC, Bytes(37, 0)),  // Void between tracks
                   Ebml::uint(0xBF, 0x12345678, 4),                // CRC-32 between tracks
                   track_entry(2, 2, 17, "S_SSA"), track_entry(3, 3, 3, "V_MPEG4/ISO/ASP"),
                   track_entry(4, 1, 2, "A_AC3"),  // a TrackUID seen before
                   track_entry(5, 5, 2, "A_AAC/MPEG4/LC/SBR",
                               {Ebml::node(0xE1, {Ebml::flt(0xB5, 24000.0),
                                                  Ebml::flt(0x78B5, 48000.0),
                                                  Ebml::uint(0x9F, 2)})})})})}));
  ASSERT_GE(titleStatus_, 0);
  EXPECT_EQ(f->value64(ZEP_QID_TITLE_DURATION, 0), 900000000);
  EXPECT_EQ(f->count(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA), 1u);
  EXPECT_EQ(f->count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA), 1u);  // the AAC track only
  EXPECT_EQ(f->count(ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA), 1u);
  EXPECT_EQ(text(*f, ZEP_QID_SUB_CODEC_ID), u"S_SSA");
  ZepMkvTrackProp prop{};
  ASSERT_GE(record(*f, ZEP_QID_GET_TRACK_PROP, 1, &prop), 0);
  EXPECT_EQ(prop.codecCode, 54u);
  ASSERT_GE(record(*f, ZEP_QID_GET_TRACK_PROP, 2, &prop), 0);
  EXPECT_EQ(prop.kind, 0u);  // TrackType 3
  ZepSubtitleStreamFormat sub{};
  ASSERT_GE(record(*f, ZEP_QID_SUB_STREAM_FORMAT, 0, &sub), 0);
  EXPECT_EQ(std::memcmp(&sub.fourcc, "SSA\0", 4), 0);
  uint8_t config[8] = {};
  ZepQueryData q{};
  q.size = sizeof config;
  q.value.ptr = config;
  ASSERT_GE(L1GetInfo(f->container(), ZEP_QID_AUDIO_CODEC_PRIVATE_DATA, &q, 0), 0);
  EXPECT_EQ(Bytes(config, config + q.size), (Bytes{0x13, 0x10, 0x56, 0xE5, 0x98}));
  ZepVideoStreamFormat v{};
  ASSERT_GE(record(*f, ZEP_QID_VID_STREAM_FORMAT, 0, &v), 0);
  EXPECT_EQ(std::memcmp(&v.compression, "NORV", 4), 0);
  EXPECT_EQ(std::memcmp(&v.fourcc, "NR50", 4), 0);
  EXPECT_EQ(v.imageSize, 64u * 48 * 3);
}

TEST_F(MkvCrafted, SegmentUidOfSeventeenBytesFailsTheTitle) {
  ASSERT_TRUE(
      open(matroska_file({segment({Ebml::node(kInfo, {Ebml::bin(0x73A4, Bytes(17, 1))})})}))
          ->container());
  EXPECT_EQ(titleStatus_, ZEP_ERR_QR7_PARSE_SEGMENTINFO);
}

TEST_F(MkvCrafted, GarbageBeforeTheSegmentIsPassedOverOnlyUpToACluster) {
  Bytes garbage(10, 0x42);
  Bytes body = segment({info(), Ebml::node(kTracks, {video_track()})}).bytes();
  Bytes cluster = Ebml::node(kCluster, {Ebml::uint(0xE7, 0), simple(1, 0, 0x80, {1, 2})}).bytes();
  Bytes withCluster = ebml_header().bytes();
  for (const Bytes* part : {&garbage, &cluster, &body})
    withCluster.insert(withCluster.end(), part->begin(), part->end());
  EXPECT_EQ(open(withCluster)->count(ZEP_QID_NUM_CONTAINER_TITLE), 1u);
  Bytes without = ebml_header().bytes();
  without.insert(without.end(), garbage.begin(), garbage.end());
  without.insert(without.end(), 1200, 0x42);
  without.insert(without.end(), body.begin(), body.end());
  EXPECT_EQ(open(without)->count(ZEP_QID_NUM_CONTAINER_TITLE), 0u);
}

// ---- Chapters, tags, attachments -----------------------------------------

Ebml chapter(uint64_t uid, uint64_t startNs, const std::string& name, std::vector<Ebml> more = {}) {
  std::vector<Ebml> c = {Ebml::uint(0x73C4, uid), Ebml::uint(0x91, startNs),
                         Ebml::node(0x80, {Ebml::str(0x85, name), Ebml::str(0x437C, "eng")})};
  for (Ebml& e : more) c.push_back(std::move(e));
  return Ebml::node(0xB6, std::move(c));
}

TEST_F(MkvCrafted, ChapterEndsDefaultEditionAndOrderedPlaylist) {
  const uint64_t s = 1000000000;
  auto f = open(matroska_file({segment(
      {info(180000.0),
       Ebml::node(0x1043A770,
                  {Ebml::node(0x45B9, {Ebml::uint(0x45BC, 1), chapter(1, 0, "A"),
                                       chapter(2, 60 * s, "B"), chapter(3, 120 * s, "C")}),
                   Ebml::node(0x45B9, {Ebml::uint(0x45BC, 2), Ebml::uint(0x45DB, 1),
                                       Ebml::uint(0x45DD, 1),
                                       chapter(4, 10 * s, "X", {Ebml::uint(0x92, 20 * s)}),
                                       chapter(5, 50 * s, "Y", {Ebml::uint(0x92, 70 * s)})})})})}));
  ASSERT_GE(titleStatus_, 0);
  EXPECT_EQ(f->count(ZEP_QID_EDITIONENTRY_GET_COUNT), 2u);
  ZepEditionProp edition{};
  ASSERT_GE(record(*f, ZEP_QID_EDITIONENTRY_GET_PROP, 1, &edition), 0);
  EXPECT_EQ(edition.isCurrent, 1u);  // the default one
  ZepChapterProp ch{};
  ASSERT_GE(record(*f, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, 1, &ch), 0);
  EXPECT_EQ(ch.playlistOffset, (10 - 50) * 10000000LL);  // plays right after X
  ASSERT_GE(f->set(ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, 0), 0);
  const int64_t ends[] = {600000000, 1200000000, (180 * int64_t(s) - 1) / 100};
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_GE(record(*f, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, i, &ch), 0);
    EXPECT_EQ(ch.end, ends[i]) << "chapter " << i;
  }
  EXPECT_EQ(text(*f, ZEP_QID_CHAPTERS_CHAPTER_NAME, 1), u"B");
  EXPECT_EQ(f->set(ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, 2), -7);
}

TEST_F(MkvCrafted, NestedSimpleTagIsAChildOfItsParent) {
  auto simpleTag = [](const std::string& name, const std::string& value, std::vector<Ebml> more) {
    std::vector<Ebml> c = {Ebml::str(0x45A3, name), Ebml::str(0x4487, value)};
    for (Ebml& e : more) c.push_back(std::move(e));
    return Ebml::node(0x67C8, std::move(c));
  };
  auto f = open(matroska_file({segment(
      {info(), Ebml::node(0x1254C367,
                          {Ebml::node(0x7373, {Ebml::node(0x63C0, {Ebml::uint(0x63C5, 77)}),
                                               simpleTag("ARTIST", "Someone",
                                                         {simpleTag("SORT_WITH", "One", {})})})})})}));
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_CURRENTTAGIDX, 0), 0);
  ZepTagInfo tag{};
  ASSERT_GE(record(*f, ZEP_QID_TAGS_GET_INFO, 0, &tag), 0);
  EXPECT_EQ(tag.simpleTagCount, 1u);
  EXPECT_EQ(tag.trackTargets, 1u);
  EXPECT_EQ(f->value64(ZEP_QID_TAGS_GET_TAG_TARGET_TRACK, 0), 77);
  ZepSimpleTagInfo outer{};
  ASSERT_GE(record(*f, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, 0, &outer), 0);
  EXPECT_EQ(outer.childCount, 1u);
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_SIMPLETAGID, outer.id), 0);
  const uint32_t child = uint32_t(f->value64(ZEP_QID_TAGS_GET_SIMPLETAG_CHILDID, 0));
  ZepSimpleTagInfo inner{};
  ASSERT_GE(record(*f, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYID, child, &inner), 0);
  EXPECT_EQ(inner.parentId, outer.id);
  ASSERT_GE(f->set(ZEP_QID_TAGS_SET_SIMPLETAGID, child), 0);
  char16_t value[32] = {};
  ZepQueryData q{};
  q.size = sizeof value;
  q.value.ptr = value;
  ASSERT_GE(L1GetInfo(f->container(), ZEP_QID_TAGS_GET_SIMPLETAG_STRING, &q, 0), 0);
  EXPECT_EQ(std::u16string(value), u"One");
}

TEST_F(MkvCrafted, AttachmentDataIsReadIntoTheCallersBuffer) {
  const Bytes data = {9, 8, 7, 6, 5};
  auto f = open(matroska_file({segment(
      {info(), Ebml::node(0x1941A469, {Ebml::node(0x61A7, {Ebml::str(0x466E, "font.ttf"),
                                                           Ebml::str(0x4660, "font/ttf"),
                                                           Ebml::bin(0x465C, data),
                                                           Ebml::uint(0x46AE, 42)})})})}));
  EXPECT_EQ(f->count(ZEP_QID_GET_ATTACHMENT_COUNT), 1u);
  EXPECT_EQ(f->count(ZEP_QID_GET_ATTACHMENT_SIZE), 5u);
  ZepAttachmentInfo a{};
  uint8_t out[8] = {};
  a.data = out;
  a.dataCapacity = sizeof out;
  EXPECT_EQ(record(*f, ZEP_QID_GET_ATTACHMENTINFO, 0, &a, 3079), ZEP_ERR_BUFFER_TOO_SMALL);
  ASSERT_GE(record(*f, ZEP_QID_GET_ATTACHMENTINFO, 0, &a), 0);
  EXPECT_EQ(std::u16string(a.fileName), u"font.ttf");
  EXPECT_EQ(a.fileUid, 42u);
  EXPECT_EQ(Bytes(out, out + a.dataRead), data);
}

// ---- Blocks ----------------------------------------------------------------

std::vector<Block> read_all(ContainerFile& f, ZEP_STATUS* last = nullptr) {
  return f.read_all(last, 10000);
}

TEST_F(MkvCrafted, KeyFlagsTimesAndDurationsOfBlocks) {
  auto f = open(matroska_file({segment(
      {info(), Ebml::node(kTracks, {video_track(1, {Ebml::uint(0x23E383, 33333300)}),
                                    track_entry(2, 2, 2, "A_AC3")}),
       Ebml::node(kCluster,
                  {Ebml::uint(0xE7, 1000), simple(1, -5, 0x80, {1}), simple(1, 0, 0x00, {2}),
                   simple(2, 3, 0x00, {3}),
                   Ebml::node(kBlockGroup, {Ebml::bin(0xA1, block_payload(1, 40, 0, {4})),
                                            Ebml::sint(0xFB, -40), Ebml::uint(0x9B, 33)}),
                   Ebml::node(kBlockGroup, {Ebml::bin(0xA1, block_payload(1, 80, 0, {5})),
                                            Ebml::uint(0x9B, 50)})})})}));
  auto blocks = read_all(*f);
  ASSERT_EQ(blocks.size(), 5u);
  EXPECT_EQ(blocks[0].time, 9950000);
  const bool keys[] = {true, false, true, false, true};
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(blocks[i].key(), keys[i]) << "block " << i;
  EXPECT_EQ(blocks[3].duration, 333333);  // 33 ms stays the track's 333,333
  EXPECT_EQ(blocks[4].duration, 500000);
}

TEST_F(MkvCrafted, XiphLacedBlockSplitsIntoItsFrames) {
  Bytes payload = {2, 255, 10, 20};  // 3 frames: 265, 20 and the rest
  payload.resize(300, 0xAA);
  auto build = [&](bool delace) {
    return open(matroska_file({segment(
                    {info(), Ebml::node(kTracks, {track_entry(1, 1, 2, "A_MPEG/L3",
                                                              {Ebml::uint(0x23E383, 10000000)})}),
                     Ebml::node(kCluster, {Ebml::uint(0xE7, 0),
                                           simple(1, 0, 0x02, payload)})})}),
                delace);
  };
  auto whole = read_all(*build(false));
  ASSERT_EQ(whole.size(), 1u);
  EXPECT_EQ(whole[0].data.size(), 296u);
  EXPECT_EQ(whole[0].duration, 300000);
  auto frames = read_all(*build(true));
  ASSERT_EQ(frames.size(), 3u);
  const size_t sizes[] = {265, 20, 11};
  for (size_t i = 0; i < 3; ++i) {
    EXPECT_EQ(frames[i].data.size(), sizes[i]);
    EXPECT_EQ(frames[i].time, int64_t(i) * 100000);
  }
}

TEST_F(MkvCrafted, DamagedBlocksArePassedOverAndTheRestPlays) {
  Bytes laceTooLong = block_payload(1, 0, 0x02, {1, 250, 1, 2});  // first frame beyond the block
  auto f = open(matroska_file({segment(
      {info(), Ebml::node(kTracks, {track_entry(1, 1, 2, "A_AC3"), track_entry(2, 2, 2, "A_AC3"),
                                    track_entry(5, 5, 2, "A_AC3")}),
       Ebml::node(kCluster, {Ebml::uint(0xE7, 0), Ebml::bin(kSimpleBlock, laceTooLong),
                             Ebml::bin(0xEC, {}),  // an empty element mid-Cluster
                             simple(5, 1, 0x80, {5}), simple(1, 2, 0x80, {1})})})}), true);
  ZEP_STATUS last = 0;
  auto blocks = read_all(*f, &last);
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

TEST_F(MkvCrafted, ZlibFramesInflateAndABombFails) {
  auto build = [&](const Bytes& frame) {
    return open(matroska_file({segment(
        {info(), Ebml::node(kTracks, {track_entry(1, 1, 2, "A_AC3",
                                                  {Ebml::node(0x6D80, {Ebml::node(0x6240, {Ebml::node(
                                                                           0x5034, {Ebml::uint(0x4254, 0)})})})})}),
         Ebml::node(kCluster, {Ebml::uint(0xE7, 0), simple(1, 0, 0x80, frame)})})}));
  };
  const Bytes plain(1000, 7);
  auto good = read_all(*build(deflate(plain)));
  ASSERT_EQ(good.size(), 1u);
  EXPECT_EQ(good[0].data, plain);
  Block b;
  EXPECT_EQ(build({0x78, 0x01, 0, 0})->read(&b), -8);          // not a zlib header
  EXPECT_EQ(build(deflate(Bytes(11 << 20, 0)))->read(&b), -8);  // inflates past the cap
}

TEST_F(MkvCrafted, TimecodeScaleBelowOneHundredStillGivesTimes) {
  auto f = open(matroska_file({segment(
      {info(0, 50), Ebml::node(kTracks, {track_entry(1, 1, 2, "A_AC3")}),
       Ebml::node(kCluster, {Ebml::uint(0xE7, 20000000), simple(1, 0, 0x80, {1})})})}));
  auto blocks = read_all(*f);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].time, 10000000);  // 20,000,000 ticks of 50 ns: 1 s
}

TEST_F(MkvCrafted, BlockTimesStayExactBeyondSinglePrecision) {
  const uint64_t ticks = (uint64_t(1) << 24) + 1;  // 4.66 hours at 1 ms
  auto f = open(matroska_file({segment(
      {info(), Ebml::node(kTracks, {track_entry(1, 1, 2, "A_AC3")}),
       Ebml::node(kCluster, {Ebml::uint(0xE7, ticks), simple(1, 0, 0x80, {1})})})}));
  auto blocks = read_all(*f);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(blocks[0].time, int64_t(ticks) * 10000);
}

// ---- Seeking over Cues -------------------------------------------------------

TEST_F(MkvCrafted, SeekAndSyncTimesFollowTheCuePoints) {
  std::vector<Ebml> children = {info(30000.0), Ebml::node(kTracks, {video_track()})};
  Bytes head = ebml_header().bytes();
  // Cluster positions are relative to the Segment's data; sizes are fixed, so
  // the positions can be computed before the Cues are written.
  std::vector<Ebml> clusters;
  for (uint64_t s : {0, 10, 20})
    clusters.push_back(Ebml::node(kCluster, {Ebml::uint(0xE7, s * 1000, 4),
                                             simple(1, 0, 0x80, {uint8_t(s)}),
                                             simple(1, 40, 0x00, {uint8_t(s + 1)})}));
  uint64_t at = 0;
  for (const Ebml& e : children) at += e.bytes().size();
  std::vector<Ebml> points;
  for (size_t i = 0; i < clusters.size(); ++i) {
    points.push_back(Ebml::node(0xBB, {Ebml::uint(0xB3, i * 10000),
                                       Ebml::node(0xB7, {Ebml::uint(0xF7, 1),
                                                         Ebml::uint(0xF1, at, 8)})}));
    at += clusters[i].bytes().size();
  }
  for (Ebml& c : clusters) children.push_back(std::move(c));
  children.push_back(Ebml::node(0x1C53BB6B, std::move(points)));
  Bytes file = head;
  Bytes seg = segment(std::move(children)).bytes();
  file.insert(file.end(), seg.begin(), seg.end());
  auto f = open(file);
  const std::pair<int64_t, int64_t> seeks[] = {{15, 10}, {20, 20}, {25, 20}, {0, 0}};
  for (auto [target, expected] : seeks) {
    int64_t t = target * 10000000;
    ASSERT_GE(f->seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
    EXPECT_EQ(t, expected * 10000000) << "seek to " << target;
    Block b;
    ASSERT_GE(f->read(&b), 0);
    EXPECT_EQ(b.data, Bytes{uint8_t(expected)});
  }
  ZEP_STATUS status = 0;
  EXPECT_EQ(f->value64(ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME, 100000000, &status), 0);
  EXPECT_EQ(f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 100000000, &status), 200000000);
  f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 200000000, &status);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
}

// ---- Linked Segments ---------------------------------------------------------

TEST_F(MkvCrafted, LinkedSegmentsThatLoopEndTheChain) {
  auto linked = [&](uint8_t self, uint8_t prev, uint8_t next) {
    return matroska_file({segment({Ebml::node(kInfo, {Ebml::uint(0x2AD7B1, 1000000),
                                                      Ebml::flt(0x4489, 1000.0),
                                                      Ebml::bin(0x73A4, Bytes(16, self)),
                                                      Ebml::bin(0x3CB923, Bytes(16, prev)),
                                                      Ebml::bin(0x3EB923, Bytes(16, next))}),
                                   Ebml::node(kTracks, {track_entry(1, 1, 2, "A_AC3")})})});
  };
  dir_.write("loop_b.mkv", linked(2, 1, 1));  // B links back to A both ways
  dir_.write("self_c.mkv", linked(3, 3, 3));  // a file that names itself
  dir_.write("not_matroska.mkv", Bytes(200, 0));
  auto f = open(linked(1, 2, 2));
  ASSERT_TRUE(f->container());
  ASSERT_GE(titleStatus_, 0);
  EXPECT_EQ(f->count(ZEP_QID_MKV_CHAIN_COUNT), 2u);
  EXPECT_EQ(f->value64(ZEP_QID_TITLE_DURATION, 0), 20000000);
}

}  // namespace
