// Reading and seeking crafted files: timing, key flags, subtitles, indexes, damage.
#include <gtest/gtest.h>

#include "modules/avi/avi_index.h"
#include "tests/modules/avi/avi_test_util.h"

using namespace avitest;
using namespace zeptest;

namespace {

constexpr int64_t kFrame = 400000;  // 25 fps

class AviRead : public AviTest {};

TEST_F(AviRead, FailedReadLeavesTheStateAsItWas) {
  AviFileSpec spec = basic_spec(4, 2);
  auto f = open(spec);
  Block next;
  ASSERT_EQ(f->read(&next), 0);
  // A block without growth callback: too small, or with no buffer at all.
  uint8_t tiny[4];
  ZepBlock small{.data = tiny, .capacity = sizeof tiny}, none{};
  uint32_t type = 0, stream = 0;
  EXPECT_EQ((std::vector{L1ReadNextBlock(f->container(), &type, &stream, &small, 0),
                         L1ReadNextBlockByStream(f->container(), ZEP_BLOCK_AUDIO, 0, &small),
                         L1ReadNextBlock(f->container(), &type, &stream, &none, 0)}),
            std::vector(3, ZEP_ERR_BLOCK_BUFFER_TOO_SMALL));
  for (size_t c : {1, 2}) {
    ASSERT_EQ(f->read(&next), 0);
    EXPECT_EQ(std::tuple(next.type, next.data, next.time),
              std::tuple(c == 1 ? ZEP_BLOCK_AUDIO : ZEP_BLOCK_VIDEO, spec.chunks[c].data,
                         int64_t(c / 2) * kFrame));
  }
}

// Audio times: dwSampleSize 0 one block per chunk, else by size; nBlockAlign 1152: MPEG frames.
TEST_F(AviRead, AudioChunksAreTimedByTheStreamHeader) {
  for (auto [name, stream, bytes, time] :
       {std::tuple{"ac3", audio_stream(0x2000, 4, 125, 0, 1, 24000, 48000), 768, 320000.0},
        {"pcm_sample_rate", audio_stream(1, 1, 44100, 2, 2, 88200, 44100, 1), 3528, 400000.0},
        {"mp3_byte_rate", audio_stream(0x55, 1, 16000, 1, 1, 16000), 1600, 1e6},
        {"mp3_1152", audio_stream(0x55, 1152, 44100, 1, 1152), 417, 1152.0 * 1e7 / 44100}}) {
    SCOPED_TRACE(name);
    AviFileSpec spec = basic_spec(0, 1, false);
    spec.streams.push_back(stream);
    for (uint32_t i = 0; i < 5; ++i) {
      spec.chunks.push_back({0, "dc", mpeg4_frame(i == 0, i), i == 0, 0});
      spec.chunks.push_back({1, "wb", pattern_bytes(i, size_t(bytes)), true, 0});
    }
    auto blocks = open(spec)->read_all();
    ASSERT_EQ(blocks.size(), 10u);
    for (uint32_t i = 0; i < 5; ++i)
      EXPECT_EQ(std::pair(blocks[2 * i + 1].time, blocks[2 * i + 1].duration),
                std::pair(int64_t(i * time), int64_t(time)))
          << i;
  }
}

// A JPEG picture's start of image, then filler: no key-frame marker at all.
Bytes jpeg_frame(bool, uint32_t seed, size_t size) {
  Bytes b = pattern_bytes(seed, size);
  b[0] = 0xFF, b[1] = 0xD8;
  return b;
}

// Without index, key frames come from each codec's bitstream (Motion JPEG:
// every picture); an index's flags win (there every H.264 frame looks IDR).
TEST_F(AviRead, KeyFlagsComeFromTheBitstreamOrTheIndex) {
  using Frame = Bytes (*)(bool, uint32_t, size_t);
  for (auto [fourcc, frame, idx1, everyFrameKey] :
       {std::tuple{"XVID", Frame(mpeg4_frame), false, false},
        {"H264", h264_frame, false, false},
        {"mpg2", mpeg2_frame, false, false},
        {"H264", h264_frame, true, false},
        {"MJPG", jpeg_frame, false, true}}) {
    SCOPED_TRACE(std::string(fourcc) + (idx1 ? " idx1" : ""));
    AviFileSpec spec{.streams = {{.handler = fourcc, .compression = fourcc}}};
    spec.index = idx1 ? AviFileSpec::kIdx1Relative : AviFileSpec::kNone;
    for (uint32_t i = 0; i < 24; ++i)
      spec.chunks.push_back({0, "dc", frame(i % 6 == 0 || idx1, i, 80), i % 6 == 0, 0});
    auto f = open(spec);
    EXPECT_EQ(f->title_status(), idx1 ? ZEP_OK : ZEP_ERR_NO_INDEX_FOUND);
    auto blocks = f->read_all();
    ASSERT_EQ(blocks.size(), 24u);
    for (uint32_t i = 0; i < 24; ++i) EXPECT_EQ(blocks[i].key(), everyFrameKey || i % 6 == 0) << i;
  }
}

// Video seek to `target` lands on `key`, audio at most 3 s before; first blocks match.
void seek_and_resume(AviFile& f, const AviFileSpec& spec, int64_t target, int64_t key) {
  SCOPED_TRACE("seek to " + std::to_string(target));
  int64_t t = target;
  ASSERT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
  EXPECT_EQ(t, key);
  ASSERT_EQ(f.seek(ZEP_BLOCK_AUDIO, 0, &t), 0);
  EXPECT_TRUE(t <= key && t >= key - 30000000) << t;
  bool seen[2] = {};
  Block b;
  for (int n = 0; n < 300 && !(seen[0] && seen[1]) && f.read(&b) == 0; ++n) {
    const bool audio = b.type == ZEP_BLOCK_AUDIO;
    if (std::exchange(seen[audio], true)) continue;
    EXPECT_TRUE(b.time == (audio ? t : key) && b.key()) << b.time;
    EXPECT_EQ(b.data, spec.chunks[size_t(b.time / kFrame) * 2 + audio].data);
  }
  EXPECT_TRUE(seen[0] && seen[1]);
}

// Every index layout (also cacheless, minimum memory): every chunk, seeks, sync queries.
struct IndexCase {
  const char* name;
  AviFileSpec::Index index;
  uint32_t segments = 0, option = 0;  // option: a qid set to 1 before reading
  bool recLists = false;
};

class AviIndexes : public AviTest, public ::testing::WithParamInterface<IndexCase> {};

TEST_P(AviIndexes, ReadsEverythingAndSeeksToKeyFrames) {
  const IndexCase& c = GetParam();
  AviFileSpec spec = basic_spec(60, 10);
  spec.chunks[2].data = pattern_bytes(7, 5000);
  spec.index = c.index;
  spec.odmlChunksPerIx = 7;
  spec.recLists = c.recLists;
  spec.segments = c.segments;
  for (size_t i = 0; i < spec.chunks.size(); ++i)
    spec.chunks[i].segment = uint32_t(i / (spec.chunks.size() / (c.segments + 1) + 1));
  auto f = open(spec, false);
  ASSERT_TRUE(f->ok()) << std::hex << f->title_status();
  ASSERT_EQ(c.option ? f->set(c.option, 1) : 0, 0);
  EXPECT_TRUE(c.option != ZEP_QID_SET_MIN_MEM_USAGE || f->count(ZEP_QID_GET_MIN_MEM_USAGE) == 1u);
  f->activate_all();
  ZEP_STATUS last = 0;
  auto blocks = f->read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(blocks.size(), 120u);
  for (size_t i = 0; i < blocks.size(); ++i)
    EXPECT_EQ(std::tuple(blocks[i].data, blocks[i].type, blocks[i].time, blocks[i].duration,
                         blocks[i].key()),
              std::tuple(spec.chunks[i].data, uint32_t(i % 2 ? ZEP_BLOCK_AUDIO : ZEP_BLOCK_VIDEO),
                         int64_t(i / 2) * kFrame, kFrame, i % 2 || (i / 2) % 10 == 0))
        << i;
  Block b;  // past the end the answer stays the same
  EXPECT_EQ(f->read(&b), ZEP_ERR_END_OF_STREAM);
  // Nothing active: no blocks; walks by stream follow one stream across the segments.
  EXPECT_EQ(open(spec, false)->read(&b), ZEP_ERR_END_OF_STREAM);
  auto g = open(spec, false);
  for (uint32_t type : {ZEP_BLOCK_AUDIO, ZEP_BLOCK_VIDEO}) {
    for (size_t n = type == ZEP_BLOCK_AUDIO; n < spec.chunks.size(); n += 2)
      ASSERT_EQ(std::pair(g->read_stream(type, 0, &b), b.data), std::pair(0, spec.chunks[n].data));
    EXPECT_EQ(g->read_stream(type, 0, &b), ZEP_ERR_END_OF_STREAM);
  }
  EXPECT_EQ(g->read_stream(ZEP_BLOCK_AUDIO, 1, &b), ZEP_ERR_INVALID_STREAM);
  for (int64_t frame : {17, 0, 59, 40})
    seek_and_resume(*f, spec, frame * kFrame + (frame == 17 ? 5 : 0), frame / 10 * 10 * kFrame);
  bool odml = c.index == AviFileSpec::kOdml || c.index == AviFileSpec::kOdmlType1;
  EXPECT_EQ(f->count(ZEP_QID_GET_CONTAINER_TYPE), odml ? 1u : 0u);
  ZEP_STATUS s = 0, p = 0, e = 0;
  EXPECT_EQ(f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 12 * kFrame, &s), 20 * kFrame);
  EXPECT_EQ(f->value64(ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME, 12 * kFrame, &p), 10 * kFrame);
  f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 55 * kFrame, &e);
  EXPECT_EQ(std::tuple(s, p, e), std::tuple(0, 0, ZEP_ERR_END_OF_STREAM));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, AviIndexes,
    ::testing::Values(
        IndexCase{"idx1_relative", AviFileSpec::kIdx1Relative},
        IndexCase{"idx1_rec_lists", AviFileSpec::kIdx1Relative, 0, 0, true},
        IndexCase{"idx1_min_mem", AviFileSpec::kIdx1Relative, 0, ZEP_QID_SET_MIN_MEM_USAGE},
        IndexCase{"idx1_absolute", AviFileSpec::kIdx1Absolute},
        IndexCase{"odml", AviFileSpec::kOdml}, IndexCase{"odml_avix", AviFileSpec::kOdml, 3},
        IndexCase{"odml_cacheless", AviFileSpec::kOdml, 3, ZEP_QID_USE_CACHELESS_INDEX},
        IndexCase{"odml_type1", AviFileSpec::kOdmlType1}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(AviRead, Idx1OfOneEntryFailsAndAnEmptyOneHasNoEntries) {
  AviFileSpec one = basic_spec(10, 5), empty = basic_spec(10, 5);
  one.idx1OneEntry = true;
  empty.idx1Empty = true;
  auto a = open(one);
  ASSERT_TRUE(a->ok());
  int64_t t = 0;
  EXPECT_EQ(a->seek(ZEP_BLOCK_VIDEO, 0, &t), ZEP_ERR_PROCESS_INDEX_FAILED);
  EXPECT_EQ(a->read_all().size(), 20u);
  auto b = open(empty);
  ASSERT_TRUE(b->ok());
  EXPECT_EQ(b->seek(ZEP_BLOCK_VIDEO, 0, &t), ZEP_FAIL);
  auto blocks = b->read_all();
  ASSERT_EQ(blocks.size(), 20u);
  EXPECT_TRUE(blocks[10].key() && !blocks[12].key());
}

TEST_F(AviRead, WithoutIndexSeeksOnlyWithinWhatWasRead) {
  AviFileSpec spec = basic_spec(40, 10);
  spec.index = AviFileSpec::kNone;
  auto f = open(spec);
  EXPECT_EQ(f->title_status(), ZEP_ERR_NO_INDEX_FOUND);
  int64_t t = 0;
  EXPECT_EQ(f->seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
  t = 25 * kFrame;
  EXPECT_EQ(f->seek(ZEP_BLOCK_VIDEO, 0, &t), ZEP_ERR_INDEX_INCOMPLETE);
  EXPECT_EQ(f->read_all().size(), 80u);
  seek_and_resume(*f, spec, 25 * kFrame, 20 * kFrame);

  auto g = open(spec, false);
  ASSERT_EQ(g->set(ZEP_QID_ON_THE_FLY_INDEX, 0), 0);
  EXPECT_EQ(g->count(ZEP_QID_ON_THE_FLY_INDEX), 0u);
  t = 5 * kFrame;
  EXPECT_EQ(g->seek(ZEP_BLOCK_VIDEO, 0, &t), ZEP_ERR_NO_INDEX_FOUND);
  t = 0;
  EXPECT_EQ(g->seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
}

TEST_F(AviRead, OneHundredAndOneAvixSegmentsKeepTheFirstHundred) {
  AviFileSpec spec = basic_spec(102, 1, false);
  spec.index = AviFileSpec::kNone;
  spec.segments = 101;
  for (uint32_t i = 0; i < 102; ++i) spec.chunks[i].segment = i;
  auto f = open(spec);
  EXPECT_EQ(f->title_status(), ZEP_ERR_NO_INDEX_FOUND);
  auto blocks = f->read_all();
  ASSERT_EQ(blocks.size(), 101u);
  EXPECT_EQ(blocks.back().data, spec.chunks[100].data);
}

// Index sizes and positions from the file are checked before use.
TEST_F(AviRead, DamagedIndexDataIsClampedOrSkipped) {
  AviFileSpec spec = basic_spec(30, 10);
  Bytes idx1 = build_avi(spec);
  spec.index = AviFileSpec::kOdml;
  const Bytes odml = build_avi(spec);
  const size_t indx = find_id(odml, "indx"), ix = find_id(odml, "ix00");
  Bytes huge = odml, longs = odml, farOffsets = odml;
  put_le32(huge, indx + 12, 0xFFFFFFF0u);      // nEntriesInUse of the super index
  put_le32(huge, ix + 12, 0x7FFFFFF0u);        // nEntriesInUse of a standard index
  longs[indx + 8] = 0xFF;                      // wLongsPerEntry
  put_le32(farOffsets, ix + 32, 0xFFFFFF00u);  // first entry points past the file
  size_t entries = find_id(idx1, "idx1") + 8;
  put_le32(idx1, entries + 8, 0xFFFFFF00u);
  put_le32(idx1, entries + 16 * 3 + 8, 0x7FFFFFFFu);
  for (const Bytes* b : {&huge, &longs, &farOffsets, &idx1}) {
    auto f = open(*b, false);
    ASSERT_GE(f->title_status(), 0);
    int64_t t = 15 * kFrame;
    EXPECT_TRUE(f->seek(ZEP_BLOCK_VIDEO, 0, &t) != 0 || t <= 15 * kFrame) << t;
    f->activate_all();
    ZEP_STATUS last = 0;
    f->read_all(&last);
    EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  }
}

// Subtitles resume from the last subtitle chunk before the key frame (idx1, OpenDML).
TEST_F(AviRead, SubtitleSeekResumesFromTheLastSubtitleBeforeTheKeyFrame) {
  for (auto index : {AviFileSpec::kIdx1Relative, AviFileSpec::kOdml}) {
    SCOPED_TRACE(index);
    AviFileSpec spec = basic_spec(0, 1, false);
    spec.index = index;
    spec.streams.push_back({.handler = "NRSA", .compression = "NRSA"});
    for (uint32_t f = 0; f < 40; ++f) {
      spec.chunks.push_back({0, "dc", mpeg4_frame(f % 10 == 0, f), f % 10 == 0, 0});
      if (f % 7 != 3) continue;
      char stamp[16];
      std::snprintf(stamp, sizeof stamp, "00:00:%02u.%03u", f * 40 / 1000, f * 40 % 1000);
      spec.chunks.push_back({1, "sb", subtitle_packet(stamp, "00:00:59.000"), true, 0});
    }
    auto f = open(spec);
    ASSERT_TRUE(f->ok()) << std::hex << f->title_status();
    int64_t t = 25 * kFrame, st = 20 * kFrame;
    ASSERT_EQ(f->seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
    ASSERT_EQ(f->seek(ZEP_BLOCK_SUBTITLE, 0, &st), 0);
    EXPECT_EQ(std::pair(t, st), std::pair(20 * kFrame, 20 * kFrame));
    // Subtitles at frames 3, 10, 17, 24, ...: the one at 17 is the last before 20.
    Block b;
    while (f->read(&b) == 0 && b.type != ZEP_BLOCK_SUBTITLE) continue;
    // behind 18 video and two subtitle chunks
    EXPECT_EQ(std::tuple(b.type, b.data, b.time),
              std::tuple(ZEP_BLOCK_SUBTITLE, spec.chunks[17 + 3].data, 17 * kFrame));
  }
}

// A header claiming fewer frames than there are: the table is thinned, late keys reached.
TEST_F(AviRead, FullIndexTableIsThinnedNotCut) {
  for (auto [frames, capacity] :
       {std::pair{5000000u, 21600u}, {2000u, 1000u}, {50000u, 5000u}, {0u, 21600u}})
    EXPECT_EQ(avi::entry_capacity(frames), capacity) << frames;
  AviFileSpec spec = basic_spec(3000, 1, false);
  spec.streams[0].length = 2000;  // capacity 1000 entries for 3000 key frames
  auto f = open(spec, false);
  ASSERT_TRUE(f->ok());
  for (int64_t frame : {2950, 1500, 10}) {
    int64_t t = frame * kFrame;
    ASSERT_EQ(f->seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
    EXPECT_TRUE(t <= frame * kFrame && t >= (frame - 8) * kFrame) << t;
  }
}

// scale * rate * length beyond 64 bits (video with idx1, audio only): the duration is
// INT64_MAX, block times never go back, sync queries answer without overflow.
TEST_F(AviRead, HugeTimesAreHeldAtTheEndOfTheRange) {
  AviFileSpec video = basic_spec(6, 3, false), audio;
  video.streams[0].scale = video.streams[0].length = 0xFFFFFFFFu;
  video.streams[0].rate = 1;
  audio.streams.push_back(audio_stream(0x55, 0xFFFFFFFFu, 1, 0, 1152));
  audio.streams[0].length = 0xFFFFFFFFu;
  for (uint32_t i = 0; i < 4; ++i) audio.chunks.push_back({0, "wb", pattern_bytes(i, 64), true, 0});
  for (const AviFileSpec* spec : {&video, &audio}) {
    auto f = open(*spec);
    EXPECT_TRUE(f->ok());
    EXPECT_EQ(f->value64(ZEP_QID_TITLE_DURATION, 0), INT64_MAX);
    const auto blocks = f->read_all();
    EXPECT_EQ(blocks.size(), spec->chunks.size());
    for (size_t i = 1; i < blocks.size(); ++i)
      EXPECT_TRUE(blocks[i].time >= blocks[i - 1].time && blocks[i].duration >= 0) << i;
    ZEP_STATUS status = ZEP_OK;  // any status, no overflow
    f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, INT64_MAX - 1, &status);
    f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_POINT, 5, &status);
    f->value64(ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME, INT64_MAX, &status);
  }
}

// Audio blocks of a 2^-32 s duration: a seek to 4 s (audio more than 3 s
// behind, so it resumes at the video) counts more blocks than 32 bits hold;
// the count is held at the largest (the sanitizer build sees the conversion).
TEST_F(AviRead, SeekPastFourGigaAudioBlocksHoldsTheCount) {
  AviFileSpec spec = basic_spec(125, 5);
  spec.streams[1] = audio_stream(0x55, 1, 0xFFFFFFFFu, 0, 1152);
  auto f = open(spec);
  ASSERT_TRUE(f->ok());
  int64_t time = 40000000;
  ASSERT_EQ(f->seek(ZEP_BLOCK_AUDIO, 0, &time), ZEP_OK);
  Block block;
  ASSERT_EQ(f->read_stream(ZEP_BLOCK_AUDIO, 0, &block), ZEP_OK);
  EXPECT_TRUE(block.time >= 0 && block.time <= time) << block.time;
}

}  // namespace
