// Block reading: timing, key flags, LIST rec, subtitle stamps, stream walks
// and the roll-back of a failed read.
#include <gtest/gtest.h>

#include "tests/modules/avi/avi_test_util.h"

using namespace avitest;
using namespace zeptest;

namespace {

constexpr int64_t kFrame = 400000;  // 25 fps

TEST(AviRead, DeliversEveryChunkInFileOrderWithTimesAndKeyFlags) {
  TempDir dir;
  AviFileSpec spec = basic_spec(30, 10);
  AviFile f(write_avi(dir, "basic.avi", spec));
  ASSERT_TRUE(f.ok()) << std::hex << f.open_status() << " " << f.title_status();
  f.activate_all();
  ZEP_STATUS last = 0;
  auto blocks = f.read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(blocks.size(), 60u);
  for (size_t i = 0; i < blocks.size(); ++i) {
    const Block& b = blocks[i];
    uint32_t n = uint32_t(i / 2);
    EXPECT_EQ(b.data, spec.chunks[i].data) << i;
    EXPECT_EQ(b.time, int64_t(n) * kFrame) << i;
    EXPECT_EQ(b.duration, kFrame) << i;
    if (b.type == ZEP_BLOCK_VIDEO) {
      EXPECT_EQ(b.key(), n % 10 == 0) << i;
    } else {
      EXPECT_EQ(b.type, ZEP_BLOCK_AUDIO);
      EXPECT_TRUE(b.key());
    }
  }
  // Past the end the answer stays the same.
  Block b;
  EXPECT_EQ(f.read(&b), ZEP_ERR_END_OF_STREAM);
}

TEST(AviRead, InactiveStreamsAreCountedButNotDelivered) {
  TempDir dir;
  AviFile f(write_avi(dir, "a.avi", basic_spec(10, 5)));
  ASSERT_TRUE(f.ok());
  ASSERT_EQ(L1SetTitleActiveStream(f.container(), ZEP_BLOCK_AUDIO, 0, 1), 0);
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 10u);
  for (auto& b : blocks) EXPECT_EQ(b.type, ZEP_BLOCK_AUDIO);
  EXPECT_EQ(L1SetTitleActiveStream(f.container(), ZEP_BLOCK_AUDIO, 1, 1), ZEP_ERR_INVALID_STREAM);
  EXPECT_EQ(L1SetTitleActiveStream(f.container(), ZEP_BLOCK_VIDEO, 1, 1), ZEP_ERR_INVALID_STREAM);
}

TEST(AviRead, NoActiveStreamWalksToTheEnd) {
  TempDir dir;
  AviFile f(write_avi(dir, "a.avi", basic_spec(10, 5)));
  ASSERT_TRUE(f.ok());
  Block b;
  EXPECT_EQ(f.read(&b), ZEP_ERR_END_OF_STREAM);
}

TEST(AviRead, ListRecIsEnteredAndOtherListsSkipped) {
  TempDir dir;
  AviFileSpec spec = basic_spec(6, 3);
  spec.recLists = true;
  AviFile f(write_avi(dir, "rec.avi", spec));
  ASSERT_TRUE(f.ok());
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 12u);
  for (size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i].data, spec.chunks[i].data);
}

TEST(AviRead, ByStreamWalksFollowEachStream) {
  TempDir dir;
  AviFileSpec spec = basic_spec(8, 4);
  AviFile f(write_avi(dir, "s.avi", spec));
  ASSERT_TRUE(f.ok());
  Block b;
  for (uint32_t n = 0; n < 8; ++n) {
    ASSERT_EQ(f.read_stream(ZEP_BLOCK_AUDIO, 0, &b), 0);
    EXPECT_EQ(b.data, spec.chunks[2 * n + 1].data);
    EXPECT_EQ(b.time, int64_t(n) * kFrame);
  }
  EXPECT_EQ(f.read_stream(ZEP_BLOCK_AUDIO, 0, &b), ZEP_ERR_END_OF_STREAM);
  for (uint32_t n = 0; n < 8; ++n) {
    ASSERT_EQ(f.read_stream(ZEP_BLOCK_VIDEO, 0, &b), 0);
    EXPECT_EQ(b.data, spec.chunks[2 * n].data);
    EXPECT_EQ(b.key(), n % 4 == 0);
  }
  EXPECT_EQ(f.read_stream(ZEP_BLOCK_SUBTITLE, 0, &b), ZEP_ERR_INVALID_STREAM);
}

TEST(AviRead, FailedReadLeavesTheStateAsItWas) {
  TempDir dir;
  AviFileSpec spec = basic_spec(4, 2);
  AviFile f(write_avi(dir, "r.avi", spec));
  ASSERT_TRUE(f.ok());
  f.activate_all();
  Block first;
  ASSERT_EQ(f.read(&first), 0);
  // A block without growth callback and with a buffer that is too small.
  uint8_t tiny[4];
  ZepBlock small{};
  small.data = tiny;
  small.capacity = sizeof tiny;
  uint32_t type = 0, stream = 0;
  EXPECT_EQ(L1ReadNextBlock(f.container(), &type, &stream, &small, 0),
            ZEP_ERR_BLOCK_BUFFER_TOO_SMALL);
  EXPECT_EQ(L1ReadNextBlockByStream(f.container(), ZEP_BLOCK_AUDIO, 0, &small),
            ZEP_ERR_BLOCK_BUFFER_TOO_SMALL);
  ZepBlock none{};
  EXPECT_EQ(L1ReadNextBlock(f.container(), &type, &stream, &none, 0),
            ZEP_ERR_BLOCK_BUFFER_TOO_SMALL);
  Block next;
  ASSERT_EQ(f.read(&next), 0);
  EXPECT_EQ(next.type, ZEP_BLOCK_AUDIO);
  EXPECT_EQ(next.data, spec.chunks[1].data);
  EXPECT_EQ(next.time, 0);
  ASSERT_EQ(f.read(&next), 0);
  EXPECT_EQ(next.data, spec.chunks[2].data);
  EXPECT_EQ(next.time, kFrame);
}

TEST(AviRead, EnsureCapacityIsAskedForEveryChunk) {
  TempDir dir;
  AviFileSpec spec = basic_spec(3, 1, false);
  spec.chunks[1].data = pattern_bytes(7, 5000);
  AviFile f(write_avi(dir, "c.avi", spec));
  ASSERT_TRUE(f.ok());
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[1].data.size(), 5000u);
}

// Audio is timed by its stream header: a chunk of dwSampleSize 0 is one block
// of dwScale/dwRate seconds (AC-3 as ffmpeg writes it), and a chunk of n bytes
// lasts n / dwSampleSize * dwScale / dwRate seconds (PCM with dwRate the
// sample rate).
TEST(AviRead, AudioTimingFollowsTheStreamHeader) {
  TempDir dir;
  AviFileSpec spec = basic_spec(0, 1, false);
  AviStreamSpec ac3;
  ac3.kind = AviStreamSpec::kAudio;
  ac3.formatTag = 0x2000;
  ac3.scale = 4;
  ac3.rate = 125;
  ac3.sampleSize = 0;
  ac3.samplesPerSec = 48000;
  ac3.avgBytesPerSec = 24000;
  ac3.blockAlign = 1;
  AviStreamSpec pcm;
  pcm.kind = AviStreamSpec::kAudio;
  pcm.formatTag = 1;
  pcm.scale = 1;
  pcm.rate = 44100;
  pcm.sampleSize = 2;
  pcm.channels = 1;
  pcm.samplesPerSec = 44100;
  pcm.avgBytesPerSec = 88200;
  pcm.blockAlign = 2;
  spec.streams.push_back(ac3);
  spec.streams.push_back(pcm);
  for (uint32_t i = 0; i < 5; ++i) {
    spec.chunks.push_back({0, "dc", mpeg4_frame(i == 0, i), i == 0, 0});
    spec.chunks.push_back({1, "wb", pattern_bytes(i, 768), true, 0});
    spec.chunks.push_back({2, "wb", pattern_bytes(i, 3528), true, 0});  // 40 ms
  }
  AviFile f(write_avi(dir, "t.avi", spec));
  ASSERT_TRUE(f.ok());
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 15u);
  for (uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(blocks[3 * i + 1].time, int64_t(i) * 320000);  // 1536 samples at 48 kHz
    EXPECT_EQ(blocks[3 * i + 1].duration, 320000);
    EXPECT_EQ(blocks[3 * i + 2].time, int64_t(i) * 400000);
    EXPECT_EQ(blocks[3 * i + 2].duration, 400000);
  }
}

// Files whose dwRate is the byte rate, and MPEG audio with nBlockAlign 1152.
TEST(AviRead, ByteRateAndMpegFrameAudio) {
  TempDir dir;
  AviFileSpec spec = basic_spec(0, 1, false);
  AviStreamSpec mp3;
  mp3.kind = AviStreamSpec::kAudio;
  mp3.formatTag = 0x55;
  mp3.scale = 1152;
  mp3.rate = 44100;
  mp3.sampleSize = 1;  // wrong for VBR but common: the frame size decides
  mp3.blockAlign = 1152;
  mp3.samplesPerSec = 44100;
  AviStreamSpec cbr;
  cbr.kind = AviStreamSpec::kAudio;
  cbr.formatTag = 0x55;
  cbr.scale = 1;
  cbr.rate = 16000;
  cbr.sampleSize = 1;
  cbr.blockAlign = 1;
  cbr.avgBytesPerSec = 16000;
  spec.streams.push_back(mp3);
  spec.streams.push_back(cbr);
  for (uint32_t i = 0; i < 3; ++i) {
    spec.chunks.push_back({0, "dc", mpeg4_frame(true, i), true, 0});
    spec.chunks.push_back({1, "wb", pattern_bytes(i, 417), true, 0});
    spec.chunks.push_back({2, "wb", pattern_bytes(i, 1600), true, 0});
  }
  AviFile f(write_avi(dir, "m.avi", spec));
  ASSERT_TRUE(f.ok());
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 9u);
  EXPECT_EQ(blocks[4].time, int64_t(1152.0 * 1e7 / 44100));
  EXPECT_EQ(blocks[7].time, int64_t(2 * 1152.0 * 1e7 / 44100));
  EXPECT_EQ(blocks[5].time, 1000000);
  EXPECT_EQ(blocks[8].time, 2000000);
  EXPECT_EQ(blocks[8].duration, 1000000);
}

// Without any index, key frames are found in the bitstream of each codec.
struct BitstreamCase {
  const char* fourcc;
  Bytes (*frame)(bool, uint32_t, size_t);
};

class AviKeyFrames : public ::testing::TestWithParam<BitstreamCase> {};

TEST_P(AviKeyFrames, FlagsFromTheBitstreamWithoutIndex) {
  TempDir dir;
  AviFileSpec spec;
  AviStreamSpec v;
  v.handler = v.compression = GetParam().fourcc;
  spec.streams.push_back(v);
  spec.index = AviFileSpec::kNone;
  for (uint32_t i = 0; i < 24; ++i) {
    bool key = i % 6 == 0;
    spec.chunks.push_back({0, "dc", GetParam().frame(key, i, 80), key, 0});
  }
  AviFile f(write_avi(dir, "k.avi", spec));
  EXPECT_EQ(f.title_status(), ZEP_ERR_NO_INDEX_FOUND);
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 24u);
  for (uint32_t i = 0; i < 24; ++i) EXPECT_EQ(blocks[i].key(), i % 6 == 0) << i;
}

INSTANTIATE_TEST_SUITE_P(Codecs, AviKeyFrames,
                         ::testing::Values(BitstreamCase{"XVID", mpeg4_frame},
                                           BitstreamCase{"H264", h264_frame},
                                           BitstreamCase{"mpg2", mpeg2_frame}));

// With an index, its flags win over the bitstream.
TEST(AviRead, KeyFlagsFromIdx1) {
  TempDir dir;
  AviFileSpec spec;
  AviStreamSpec v;
  v.handler = v.compression = "H264";
  spec.streams.push_back(v);
  for (uint32_t i = 0; i < 12; ++i) {
    bool key = i % 4 == 0;
    // Every frame looks like an IDR: only the index tells them apart.
    spec.chunks.push_back({0, "dc", h264_frame(true, i, 50), key, 0});
  }
  AviFile f(write_avi(dir, "k.avi", spec));
  ASSERT_TRUE(f.ok());
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 12u);
  for (uint32_t i = 0; i < 12; ++i) EXPECT_EQ(blocks[i].key(), i % 4 == 0) << i;
}

TEST(AviRead, SubtitleStreamTimesFromItsPacketHeader) {
  TempDir dir;
  AviFileSpec spec = basic_spec(0, 1, false);
  AviStreamSpec sub;
  sub.compression = "NRSB";
  sub.handler = "NRSB";
  spec.streams.push_back(sub);
  spec.chunks.push_back({0, "dc", mpeg4_frame(true, 0), true, 0});
  spec.chunks.push_back({1, "sb", subtitle_packet("00:00:01.500", "01:02:03.250"), true, 0});
  spec.chunks.push_back({1, "sb", pattern_bytes(3, 20), true, 0});
  AviFile f(write_avi(dir, "s.avi", spec));
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(f.count(ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA), 1u);
  EXPECT_EQ(f.count(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA), 1u);
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(blocks[1].type, ZEP_BLOCK_SUBTITLE);
  EXPECT_EQ(blocks[1].time, 15000000);
  EXPECT_EQ(blocks[1].duration, (3600LL + 120 + 3) * 10000000 + 2500000 - 15000000);
  EXPECT_TRUE(blocks[1].key());
  EXPECT_EQ(blocks[2].time, 0);
  EXPECT_EQ(blocks[2].duration, 0);
  int64_t* none = nullptr;
  EXPECT_LT(f.seek(ZEP_BLOCK_VIDEO, 0, none), 0);
}

TEST(AviRead, CutFileDeliversUpToTheDamage) {
  TempDir dir;
  AviFileSpec spec = basic_spec(20, 5);
  spec.index = AviFileSpec::kNone;
  Bytes full = build_avi(spec);
  // Cut in the middle of the 31st chunk's data.
  size_t cut = full.size() - 12 * (8 + 45) - 500;
  Bytes part(full.begin(), full.begin() + long(cut));
  AviFile f(dir.write("cut.avi", part));
  ASSERT_GE(f.title_status(), 0);
  f.activate_all();
  ZEP_STATUS last = 0;
  auto blocks = f.read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  ASSERT_FALSE(blocks.empty());
  for (size_t i = 0; i + 1 < blocks.size(); ++i) EXPECT_EQ(blocks[i].data, spec.chunks[i].data);
  const Bytes& tail = blocks.back().data;
  const Bytes& whole = spec.chunks[blocks.size() - 1].data;
  ASSERT_LE(tail.size(), whole.size());
  EXPECT_TRUE(std::equal(tail.begin(), tail.end(), whole.begin()));
}

}  // namespace
