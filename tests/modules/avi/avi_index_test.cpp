// Indexes and seeking: idx1 in both offset modes, OpenDML super and standard
// indexes (also type 1 and cacheless), AVIX segments, files without any
// index, the key-frame gap and damaged index data.
#include <gtest/gtest.h>

#include <cstring>

#include "modules/avi/avi_index.h"
#include "tests/modules/avi/avi_test_util.h"

using namespace avitest;
using namespace zeptest;

namespace {

constexpr int64_t kFrame = 400000;

// Spreads the chunks of a spec over `segments` AVIX segments.
void spread(AviFileSpec& spec, uint32_t segments) {
  spec.segments = segments;
  size_t per = spec.chunks.size() / (segments + 1) + 1;
  for (size_t i = 0; i < spec.chunks.size(); ++i) spec.chunks[i].segment = uint32_t(i / per);
}

// After a seek: the first video block is the key frame at `key`, the first
// audio block the chunk at the audio time reached, which lies at most 3 s
// before the key frame.
void expect_resume(AviFile& f, const AviFileSpec& spec, int64_t key, int64_t audioTime) {
  EXPECT_LE(audioTime, key);
  EXPECT_GE(audioTime, key - 30000000);
  bool video = false, audio = false;
  Block b;
  for (int n = 0; n < 300 && !(video && audio) && f.read(&b) == 0; ++n) {
    if (b.type == ZEP_BLOCK_VIDEO && !video) {
      video = true;
      EXPECT_EQ(b.time, key);
      EXPECT_TRUE(b.key());
      EXPECT_EQ(b.data, spec.chunks[size_t(key / kFrame) * 2].data);
    }
    if (b.type == ZEP_BLOCK_AUDIO && !audio) {
      audio = true;
      EXPECT_EQ(b.time, audioTime);
      EXPECT_EQ(b.data, spec.chunks[size_t(audioTime / kFrame) * 2 + 1].data);
    }
  }
  EXPECT_TRUE(video && audio);
}

struct IndexCase {
  const char* name;
  AviFileSpec::Index index;
  uint32_t segments;
  bool cacheless;
};

class AviIndexes : public ::testing::TestWithParam<IndexCase> {};

TEST_P(AviIndexes, ReadsEverythingAndSeeksToKeyFrames) {
  const IndexCase& c = GetParam();
  TempDir dir;
  AviFileSpec spec = basic_spec(60, 10);
  spec.index = c.index;
  spec.odmlChunksPerIx = 7;
  if (c.segments) spread(spec, c.segments);
  AviFile f(write_avi(dir, "i.avi", spec));
  ASSERT_TRUE(f.ok()) << std::hex << f.title_status();
  if (c.cacheless) {
    ASSERT_EQ(f.set(ZEP_QID_USE_CACHELESS_INDEX, 1), 0);
  }
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 120u);
  for (size_t i = 0; i < blocks.size(); ++i) {
    EXPECT_EQ(blocks[i].data, spec.chunks[i].data) << i;
    if (blocks[i].type == ZEP_BLOCK_VIDEO) {
      EXPECT_EQ(blocks[i].key(), (i / 2) % 10 == 0) << i;
    }
  }
  for (int64_t target :
       {int64_t(17 * kFrame + 5), int64_t(0), int64_t(59 * kFrame), int64_t(40 * kFrame)}) {
    int64_t t = target;
    ASSERT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0) << target;
    int64_t key = (target / kFrame) / 10 * 10 * kFrame;
    EXPECT_EQ(t, key);
    int64_t at = t;
    ASSERT_EQ(f.seek(ZEP_BLOCK_AUDIO, 0, &at), 0);
    expect_resume(f, spec, key, at);
  }
  bool odml = c.index == AviFileSpec::kOdml || c.index == AviFileSpec::kOdmlType1;
  EXPECT_EQ(f.count(ZEP_QID_GET_CONTAINER_TYPE), odml ? 1u : 0u);
  ZEP_STATUS s = 0;
  EXPECT_EQ(f.value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 12 * kFrame, &s), 20 * kFrame);
  EXPECT_EQ(s, 0);
  EXPECT_EQ(f.value64(ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME, 12 * kFrame, &s), 10 * kFrame);
  EXPECT_EQ(s, 0);
  f.value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 55 * kFrame, &s);
  EXPECT_EQ(s, ZEP_ERR_END_OF_STREAM);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, AviIndexes,
    ::testing::Values(IndexCase{"idx1_relative", AviFileSpec::kIdx1Relative, 0, false},
                      IndexCase{"idx1_absolute", AviFileSpec::kIdx1Absolute, 0, false},
                      IndexCase{"odml", AviFileSpec::kOdml, 0, false},
                      IndexCase{"odml_avix", AviFileSpec::kOdml, 3, false},
                      IndexCase{"odml_cacheless", AviFileSpec::kOdml, 3, true},
                      IndexCase{"odml_type1", AviFileSpec::kOdmlType1, 0, false}),
    [](const ::testing::TestParamInfo<IndexCase>& p) { return std::string(p.param.name); });

TEST(AviIndex, Idx1OfOneEntryFailsAndAnEmptyOneHasNoEntries) {
  TempDir dir;
  AviFileSpec one = basic_spec(10, 5);
  one.idx1OneEntry = true;
  AviFile a(write_avi(dir, "one.avi", one));
  ASSERT_TRUE(a.ok());
  int64_t t = 0;
  EXPECT_EQ(a.seek(ZEP_BLOCK_VIDEO, 0, &t), ZEP_ERR_PROCESS_INDEX_FAILED);
  a.activate_all();
  EXPECT_EQ(a.read_all().size(), 20u);

  AviFileSpec empty = basic_spec(10, 5);
  empty.idx1Empty = true;
  AviFile b(write_avi(dir, "empty.avi", empty));
  ASSERT_TRUE(b.ok());
  t = 0;
  EXPECT_EQ(b.seek(ZEP_BLOCK_VIDEO, 0, &t), ZEP_FAIL);
  b.activate_all();
  auto blocks = b.read_all();
  ASSERT_EQ(blocks.size(), 20u);
  EXPECT_TRUE(blocks[10].key());
  EXPECT_FALSE(blocks[12].key());
}

TEST(AviIndex, WithoutIndexSeeksOnlyWithinWhatWasRead) {
  TempDir dir;
  AviFileSpec spec = basic_spec(40, 10);
  spec.index = AviFileSpec::kNone;
  std::string file = write_avi(dir, "n.avi", spec);
  AviFile f(file);
  EXPECT_EQ(f.title_status(), ZEP_ERR_NO_INDEX_FOUND);
  f.activate_all();
  int64_t t = 0;
  EXPECT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
  t = 25 * kFrame;
  EXPECT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), ZEP_ERR_INDEX_INCOMPLETE);
  EXPECT_EQ(f.read_all().size(), 80u);
  t = 25 * kFrame;
  ASSERT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
  EXPECT_EQ(t, 20 * kFrame);
  int64_t at = t;
  ASSERT_EQ(f.seek(ZEP_BLOCK_AUDIO, 0, &at), 0);
  expect_resume(f, spec, t, at);

  AviFile g(file);
  ASSERT_EQ(g.set(ZEP_QID_ON_THE_FLY_INDEX, 0), 0);
  EXPECT_EQ(g.count(ZEP_QID_ON_THE_FLY_INDEX), 0u);
  t = 5 * kFrame;
  EXPECT_EQ(g.seek(ZEP_BLOCK_VIDEO, 0, &t), ZEP_ERR_NO_INDEX_FOUND);
  t = 0;
  EXPECT_EQ(g.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
}

TEST(AviIndex, KeyFrameGapThinsTheEntries) {
  TempDir dir;
  std::string file = write_avi(dir, "g.avi", basic_spec(200, 10));
  for (uint32_t gap : {0u, 30u}) {
    AviFile f(file);
    ASSERT_TRUE(f.ok());
    ASSERT_EQ(f.set(ZEP_QID_SET_KEYFRAME_GAP, gap), 0);
    EXPECT_EQ(f.count(ZEP_QID_GET_SUPER_INDEX_NUM_ENTRIES), gap);
    ZepQueryData q{};
    q.value.u32 = 0;
    ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_TITLEMEDIA_NEXT_SYNC_POINT, &q, 0), 0);
    EXPECT_EQ(q.value.u32, gap == 0 ? 10u : 40u);
    q.value.u32 = 100;
    ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_TITLEMEDIA_PREV_SYNC_POINT, &q, 0), 0);
    EXPECT_EQ(q.value.u32, gap == 0 ? 90u : 80u);
    q.value.u32 = 0;
    EXPECT_EQ(L1GetInfo(f.container(), ZEP_QID_TITLEMEDIA_PREV_SYNC_POINT, &q, 0), 0);
    EXPECT_EQ(q.value.u32, 0u);
    // Key flags still mark every key frame.
    f.activate_all();
    auto blocks = f.read_all();
    EXPECT_TRUE(blocks[2 * 10].key());
  }
}

// Key frames every 10 s at 25 fps with audio in 40 ms chunks.
TEST(AviIndex, SeekWithKeyFramesEveryTenSeconds) {
  TempDir dir;
  AviFileSpec spec = basic_spec(2000, 250);
  AviFile f(write_avi(dir, "long.avi", spec));
  ASSERT_TRUE(f.ok());
  f.activate_all();
  int64_t t = 612000000;
  ASSERT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
  EXPECT_EQ(t, 600000000);
  int64_t at = 600000000;
  ASSERT_EQ(f.seek(ZEP_BLOCK_AUDIO, 0, &at), 0);
  expect_resume(f, spec, t, at);
  EXPECT_EQ(f.value64(ZEP_QID_TITLE_DURATION, 0), 800000000);
}

TEST(AviIndex, MinimumMemoryStillFlagsKeyFrames) {
  TempDir dir;
  AviFile f(write_avi(dir, "m.avi", basic_spec(30, 10)));
  ASSERT_TRUE(f.ok());
  ASSERT_EQ(f.set(ZEP_QID_SET_MIN_MEM_USAGE, 1), 0);
  EXPECT_EQ(f.count(ZEP_QID_GET_MIN_MEM_USAGE), 1u);
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 60u);
  for (size_t i = 0; i < blocks.size(); i += 2) EXPECT_EQ(blocks[i].key(), (i / 2) % 10 == 0);
  int64_t t = 25 * kFrame;
  ASSERT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
  EXPECT_EQ(t, 20 * kFrame);
}

TEST(AviIndex, OneHundredAndOneAvixSegmentsKeepTheFirstHundred) {
  TempDir dir;
  AviFileSpec spec = basic_spec(102, 1, false);
  spec.index = AviFileSpec::kNone;
  spec.segments = 101;
  for (uint32_t i = 0; i < 102; ++i) spec.chunks[i].segment = i;
  AviFile f(write_avi(dir, "x.avi", spec));
  EXPECT_EQ(f.title_status(), ZEP_ERR_NO_INDEX_FOUND);
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 101u);
  EXPECT_EQ(blocks.back().data, spec.chunks[100].data);
}

TEST(AviIndex, CutAvixSegmentReadsUpToTheDamage) {
  TempDir dir;
  AviFileSpec spec = basic_spec(30, 5);
  spec.index = AviFileSpec::kOdml;
  spread(spec, 2);
  Bytes full = build_avi(spec);
  for (size_t keep : {full.size() - 100, full.size() - 2000, full.size() * 2 / 3}) {
    AviFile f(dir.write("cut.avi", Bytes(full.begin(), full.begin() + long(keep))));
    ASSERT_GE(f.title_status(), 0);
    f.activate_all();
    ZEP_STATUS last = 0;
    auto blocks = f.read_all(&last);
    EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
    ASSERT_FALSE(blocks.empty());
    for (size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_EQ(blocks[i].data, spec.chunks[i].data);
    int64_t t = 0;
    f.seek(ZEP_BLOCK_VIDEO, 0, &t);  // any status, never a crash
  }
}

// Index sizes and positions from the file are checked before use.
TEST(AviIndex, DamagedIndexDataIsClampedOrSkipped) {
  TempDir dir;
  AviFileSpec spec = basic_spec(30, 10);
  spec.index = AviFileSpec::kOdml;
  Bytes odml = build_avi(spec);
  auto patch32 = [](Bytes& b, size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[at + i] = uint8_t(v >> (8 * i));
  };
  auto find = [](const Bytes& b, const char* id, size_t from = 0) {
    for (size_t i = from; i + 4 <= b.size(); ++i)
      if (std::memcmp(&b[i], id, 4) == 0) return i;
    return size_t(0);
  };
  Bytes huge = odml;
  size_t indx = find(huge, "indx");
  patch32(huge, indx + 12, 0xFFFFFFF0u);  // nEntriesInUse of the super index
  size_t ix = find(huge, "ix00");
  patch32(huge, ix + 12, 0x7FFFFFF0u);  // nEntriesInUse of a standard index
  Bytes longs = odml;
  longs[indx + 8] = 0xFF;  // wLongsPerEntry
  Bytes farOffsets = odml;
  patch32(farOffsets, ix + 32, 0xFFFFFF00u);  // first entry points past the file
  AviFileSpec idx1Spec = basic_spec(30, 10);
  Bytes idx1 = build_avi(idx1Spec);
  size_t entries = find(idx1, "idx1") + 8;
  patch32(idx1, entries + 8, 0xFFFFFF00u);
  patch32(idx1, entries + 16 * 3 + 8, 0x7FFFFFFFu);
  for (const Bytes* b : {&huge, &longs, &farOffsets, &idx1}) {
    AviFile f(dir.write("d.avi", *b));
    ASSERT_GE(f.title_status(), 0);
    int64_t t = 15 * kFrame;
    ZEP_STATUS s = f.seek(ZEP_BLOCK_VIDEO, 0, &t);
    if (s == 0) {
      EXPECT_LE(t, 15 * kFrame);
    }
    f.activate_all();
    ZEP_STATUS last = 0;
    f.read_all(&last);
    EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  }
}

}  // namespace

namespace {

// A subtitle stream resumes from the last subtitle chunk before the key frame
// (idx1 and OpenDML alike).
class AviSubtitleSeek : public ::testing::TestWithParam<AviFileSpec::Index> {};

TEST_P(AviSubtitleSeek, ResumesFromTheLastSubtitleBeforeTheKeyFrame) {
  TempDir dir;
  AviFileSpec spec = basic_spec(0, 1, false);
  spec.index = GetParam();
  AviStreamSpec sub;
  sub.compression = sub.handler = "NRSA";
  spec.streams.push_back(sub);
  std::vector<size_t> subtitleChunks;
  for (uint32_t f = 0; f < 40; ++f) {
    spec.chunks.push_back({0, "dc", mpeg4_frame(f % 10 == 0, f), f % 10 == 0, 0});
    if (f % 7 == 3) {
      char stamp[16];
      std::snprintf(stamp, sizeof stamp, "00:00:%02u.%03u", f * 40 / 1000, f * 40 % 1000);
      spec.chunks.push_back({1, "sb", subtitle_packet(stamp, "00:00:59.000"), true, 0});
      subtitleChunks.push_back(spec.chunks.size() - 1);
    }
  }
  AviFile f(write_avi(dir, "sub.avi", spec));
  ASSERT_TRUE(f.ok()) << std::hex << f.title_status();
  f.activate_all();
  int64_t t = 25 * kFrame;
  ASSERT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
  EXPECT_EQ(t, 20 * kFrame);
  int64_t st = t;
  ASSERT_EQ(f.seek(ZEP_BLOCK_SUBTITLE, 0, &st), 0);
  EXPECT_EQ(st, 20 * kFrame);
  // Subtitles at frames 3, 10, 17, 24, ...: the one at 17 is the last before 20.
  Block b;
  std::vector<Block> got;
  while (f.read(&b) == 0) got.push_back(b);
  ASSERT_FALSE(got.empty());
  const Block* firstSub = nullptr;
  for (auto& g : got)
    if (g.type == ZEP_BLOCK_SUBTITLE) {
      firstSub = &g;
      break;
    }
  ASSERT_NE(firstSub, nullptr);
  EXPECT_EQ(firstSub->data, spec.chunks[subtitleChunks[2]].data);
  EXPECT_EQ(firstSub->time, 17 * kFrame);
}

INSTANTIATE_TEST_SUITE_P(Kinds, AviSubtitleSeek,
                         ::testing::Values(AviFileSpec::kIdx1Relative, AviFileSpec::kOdml));

}  // namespace

namespace {

TEST(AviIndexCapacity, FollowsTheVideoLength) {
  EXPECT_EQ(avi::entry_capacity(5000000), 21600u);
  EXPECT_EQ(avi::entry_capacity(2000), 1000u);
  EXPECT_EQ(avi::entry_capacity(50000), 5000u);
  EXPECT_EQ(avi::entry_capacity(0), 21600u);
}

// A title whose header claims fewer frames than it has: once the table is full
// it is thinned, so that late key frames are still reached.
TEST(AviIndexCapacity, FullTableIsThinnedNotCut) {
  TempDir dir;
  AviFileSpec spec = basic_spec(3000, 1, false);
  spec.streams[0].length = 2000;  // capacity 1000 entries for 3000 key frames
  AviFile f(write_avi(dir, "thin.avi", spec));
  ASSERT_TRUE(f.ok());
  for (int64_t frame : {2950, 1500, 10}) {
    int64_t t = frame * kFrame;
    ASSERT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
    EXPECT_LE(t, frame * kFrame);
    EXPECT_GE(t, (frame - 8) * kFrame);
  }
}

}  // namespace
