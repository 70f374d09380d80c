// Real files written by ffmpeg, read through the container layer and compared
// with ffmpeg's own extraction (payload bytes per stream) and ffprobe's packet
// list (video and audio times, key flags, packet counts).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <set>

#include "tests/modules/avi/avi_test_util.h"

using namespace avitest;
using namespace zeptest;

namespace {

class AviFfmpeg : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!have_tool("ffmpeg") || !have_tool("ffprobe")) return;
    dir_ = std::make_unique<TempDir>();
    const std::string src =
        "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=2 "
        "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 ";
    const std::string d = dir_->path() + "/";
    ok_ = run_command(src + "-c:v mpeg4 -vtag XVID -g 12 -c:a libmp3lame -b:a 64k '" + d +
                      "xvid.avi'") == 0 &&
          run_command(src +
                      "-f lavfi -i sine=frequency=880:sample_rate=48000:duration=2 "
                      "-f lavfi -i sine=frequency=300:sample_rate=22050:duration=2 "
                      "-map 0 -map 1 -map 2 -map 3 -c:v libx264 -g 12 -bf 2 -c:a:0 ac3 "
                      "-c:a:1 pcm_s16le -c:a:2 libmp3lame '" +
                      d + "h264.avi'") == 0 &&
          run_command(src + "-c:v mpeg2video -g 10 -bf 2 -c:a mp2 '" + d + "mpeg2.avi'") == 0 &&
          // AAC and MP3 beside B-frames: ffmpeg puts empty audio chunks in to
          // keep the interleave, which carry no time.
          run_command(src +
                      "-f lavfi -i sine=frequency=660:sample_rate=48000:duration=2 "
                      "-map 0 -map 1 -map 2 -c:v libx264 -bf 2 -c:a:0 aac -c:a:1 libmp3lame '" +
                      d + "aac.avi'") == 0;
    if (!ok_) return;
    Bytes h264 = read_file(d + "h264.avi");
    Bytes cut(h264.begin(), h264.begin() + long(h264.size() * 55 / 100));
    dir_->write("cut.avi", cut);
    dir_->write("noidx1.avi", strip_idx1(h264));
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_TRUE(ok_) << "ffmpeg could not write the test files";
  }
  static std::string path(const std::string& name) { return dir_->path() + "/" + name; }

  // Reads `name` completely and compares it with ffmpeg's view of `name`
  // (payloads) and of `reference` (packet times and flags).
  void compare(const std::string& name, const std::string& reference, bool compareEnds = true) {
    AviFile f(path(name));
    ASSERT_GE(f.open_status(), 0);
    ASSERT_GE(f.title_status(), 0) << std::hex << f.title_status();
    f.activate_all();
    ZEP_STATUS last = 0;
    auto blocks = f.read_all(&last);
    EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
    auto data = payloads(blocks);
    ASSERT_EQ(f.count(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA), 1u);
    for (uint32_t type : {ZEP_BLOCK_VIDEO, ZEP_BLOCK_AUDIO}) {
      const bool video = type == ZEP_BLOCK_VIDEO;
      uint32_t n = video ? 1 : f.count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA);
      for (uint32_t i = 0; i < n; ++i) {
        uint32_t track = f.count(video ? ZEP_QID_TITLEMEDIA_VID_ABSOLUTE_TRACK_NUM
                                       : ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM,
                                 i);
        SCOPED_TRACE(name + " stream " + std::to_string(track));
        Bytes expected = ffmpeg_payload(*dir_, path(name), "0:" + std::to_string(track));
        ASSERT_FALSE(expected.empty());
        const Bytes& got = data[std::make_pair(type, i)];
        EXPECT_TRUE(got == expected)
            << "payload differs: " << got.size() << " vs " << expected.size();
        std::vector<Block> mine;
        // An empty chunk (a dropped frame) carries no packet for ffmpeg.
        for (auto& b : blocks)
          if (b.type == type && b.stream == i && !b.data.empty()) mine.push_back(b);
        auto packets = probe_packets(path(reference), std::to_string(track));
        ASSERT_FALSE(mine.empty());
        ASSERT_FALSE(packets.empty());
        ASSERT_LE(video ? mine.size() : 0, packets.size());
        // Video: dts (pts when there is none) and key flag of every frame.
        // Audio: every block starts where ffprobe's packet does (ffprobe may
        // leave out a few packets at the end).
        for (size_t k = 0; k < std::min(mine.size(), packets.size()); ++k) {
          const Packet& p = packets[k];
          double t = video && !std::isnan(p.dts) ? p.dts : p.pts;
          EXPECT_NEAR(double(mine[k].time) / 1e7, t, 0.0015) << "block " << k;
          EXPECT_TRUE(!video || mine[k].key() == p.key) << "key flag of frame " << k;
        }
        if (!compareEnds) continue;
        // Empty audio chunks carry no packet and no time, so the blocks are
        // ffprobe's packets one for one, up to the last one's end.
        EXPECT_EQ(mine.size(), packets.size());
        if (video) continue;
        double end = packets.back().pts + packets.back().duration;
        EXPECT_NEAR(double(mine.back().time + mine.back().duration) / 1e7, end, 0.0015);
      }
    }
  }

  static inline std::unique_ptr<TempDir> dir_;
  static inline bool ok_ = false;
};

TEST_F(AviFfmpeg, Mpeg4AspWithMp3) { compare("xvid.avi", "xvid.avi"); }
TEST_F(AviFfmpeg, H264WithAc3PcmAndMp3) { compare("h264.avi", "h264.avi"); }
TEST_F(AviFfmpeg, Mpeg2WithMp2) { compare("mpeg2.avi", "mpeg2.avi"); }
TEST_F(AviFfmpeg, H264WithAacAndMp3) { compare("aac.avi", "aac.avi"); }
TEST_F(AviFfmpeg, FileCutInTheMiddleOfMovi) { compare("cut.avi", "h264.avi", false); }
TEST_F(AviFfmpeg, FileWithoutIdx1) { compare("noidx1.avi", "h264.avi"); }

TEST_F(AviFfmpeg, SeeksLandOnKeyFramesAndAudioFollows) {
  for (const char* name : {"xvid.avi", "h264.avi", "mpeg2.avi"}) {
    SCOPED_TRACE(name);
    AviFile f(path(name));
    ASSERT_TRUE(f.ok());
    f.activate_all();
    auto all = f.read_all();
    for (int64_t target : {13000000LL, 5000000LL, 0LL, 17000000LL}) {
      int64_t t = target;
      ASSERT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
      EXPECT_LE(t, target);
      EXPECT_GT(t, target - 6000000);
      uint32_t audio = f.count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA);
      for (uint32_t a = 0; a < audio; ++a) {
        int64_t at = t;
        ASSERT_EQ(f.seek(ZEP_BLOCK_AUDIO, a, &at), 0);
        EXPECT_NEAR(double(at), double(t), 1500000.0);
      }
      // The first block of each stream is the one of the sequential read at
      // its time; for video, the key frame at the seek target.
      auto same_as_sequential = [&](const Block& b) {
        return std::any_of(all.begin(), all.end(), [&](const Block& s) {
          return s.type == b.type && s.stream == b.stream && s.time == b.time && s.data == b.data;
        });
      };
      Block b;
      std::set<std::pair<uint32_t, uint32_t>> seen;
      for (int n = 0; n < 40 && f.read(&b) == 0; ++n) {
        if (!seen.insert({b.type, b.stream}).second) continue;
        EXPECT_TRUE(same_as_sequential(b)) << b.type << " " << b.stream << " at " << b.time;
        if (b.type != ZEP_BLOCK_VIDEO) continue;
        EXPECT_EQ(b.time, t);
        EXPECT_TRUE(b.key());
      }
      EXPECT_TRUE(seen.count({ZEP_BLOCK_VIDEO, 0}));
    }
  }
}

TEST_F(AviFfmpeg, DurationAndFormats) {
  AviFile f(path("h264.avi"));
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(f.count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA), 3u);
  EXPECT_EQ(f.value64(ZEP_QID_TITLE_DURATION, 0), 20000000);
  ZepVideoStreamFormat v{};
  ZepQueryData q{};
  q.size = sizeof v;
  q.value.ptr = &v;
  ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_VID_STREAM_FORMAT, &q, 0), 0);
  EXPECT_EQ(v.kind, 1u);
  EXPECT_EQ(v.width, 160u);
  EXPECT_EQ(v.height, 120u);
  EXPECT_EQ(v.rate, 25u);
  EXPECT_EQ(v.scale, 1u);
  ZepAudioStreamFormat a{};
  q.size = sizeof a;
  q.value.ptr = &a;
  ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_AUD_STREAM_FORMAT, &q, 1), 0);
  EXPECT_EQ(a.kind, 17);
  EXPECT_EQ(a.formatTag, 1);
  EXPECT_EQ(a.sampleRate, 48000u);
  q.size = 10;
  EXPECT_EQ(L1GetInfo(f.container(), ZEP_QID_AUD_STREAM_FORMAT, &q, 1), ZEP_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(L1GetInfo(f.container(), ZEP_QID_AUD_STREAM_FORMAT, &q, 3), ZEP_ERR_INDEX_OUT_OF_RANGE);
}

}  // namespace
