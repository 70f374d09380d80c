// ffmpeg's real files against ffmpeg's payloads and ffprobe's packets (times, key flags).
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>

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
    const std::string d = dir_->path() + "/", sine = " -f lavfi -i sine=sample_rate=";
    // Beside B-frames ffmpeg puts empty audio chunks in (for the interleave): no time.
    ok_ = run_command(src + sine + "48000:duration=2" + sine +
                      "22050:duration=2 -map 0 -map 1 -map 2 -map 3 -c:v libx264 -g 12 -bf 2 "
                      "-c:a:0 ac3 -c:a:1 pcm_s16le -c:a:2 libmp3lame '" +
                      d + "h264.avi'") == 0 &&
          run_command(src + "-c:v mpeg2video -g 10 -bf 2 -c:a mp2 '" + d + "mpeg2.avi'") == 0 &&
          run_command(src + sine +
                      "48000:duration=2 -map 0 -map 1 -map 2 -c:v libx264 -bf 2 "
                      "-c:a:0 aac -c:a:1 libmp3lame '" +
                      d + "aac.avi'") == 0;
    if (ok_) dir_->write("noidx1.avi", strip_idx1(read_file(d + "h264.avi")));
  }
  static void TearDownTestSuite() { dir_.reset(); }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "ffmpeg is not installed";
    ASSERT_TRUE(ok_) << "ffmpeg could not write the test files";
  }

  // `name` read whole against ffmpeg's payloads and ffprobe's packets of `reference`.
  void compare(const std::string& name, const std::string& reference) {
    const std::string path = dir_->path() + "/" + name, ref = dir_->path() + "/" + reference;
    AviFile f(path);
    ASSERT_GE(f.title_status(), 0) << std::hex << f.title_status();
    f.activate_all();
    ZEP_STATUS last = 0;
    auto blocks = f.read_all(&last);
    EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
    auto data = payloads(blocks);
    using Key = std::pair<uint32_t, uint32_t>;
    ASSERT_EQ(f.count(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA), 1u);
    for (uint32_t type : {ZEP_BLOCK_VIDEO, ZEP_BLOCK_AUDIO}) {
      const bool video = type == ZEP_BLOCK_VIDEO;
      for (uint32_t i = 0; i < (video ? 1 : f.count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA)); ++i) {
        const std::string track =
            std::to_string(f.count(video ? ZEP_QID_TITLEMEDIA_VID_ABSOLUTE_TRACK_NUM
                                         : ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM,
                                   i));
        SCOPED_TRACE(name + " stream " + track);
        Bytes expected = ffmpeg_payload(*dir_, path, "0:" + track);
        ASSERT_FALSE(expected.empty());
        EXPECT_TRUE(data[Key(type, i)] == expected)
            << data[Key(type, i)].size() << " vs " << expected.size();
        // Empty chunks (dropped frames, interleave filler) carry no packet.
        std::vector<Block> mine;
        for (auto& b : blocks)
          if (b.type == type && b.stream == i && !b.data.empty()) mine.push_back(b);
        auto packets = probe_packets(ref, track);
        ASSERT_EQ(mine.size(), packets.size());
        ASSERT_FALSE(mine.empty());
        // Video: dts (pts when there is none) and key flag; audio: start times and the end.
        for (size_t k = 0; k < mine.size(); ++k) {
          const Packet& p = packets[k];
          EXPECT_NEAR(double(mine[k].time) / 1e7, video && !std::isnan(p.dts) ? p.dts : p.pts,
                      0.0015)
              << k;
          EXPECT_TRUE(!video || mine[k].key() == p.key) << "key flag of frame " << k;
        }
        EXPECT_TRUE(video || std::abs(double(mine.back().time + mine.back().duration) / 1e7 -
                                      packets.back().pts - packets.back().duration) < 0.0015);
      }
    }
  }

  static inline std::unique_ptr<TempDir> dir_;
  static inline bool ok_ = false;
};

TEST_F(AviFfmpeg, H264WithAc3PcmAndMp3) { compare("h264.avi", "h264.avi"); }
TEST_F(AviFfmpeg, Mpeg2WithMp2) { compare("mpeg2.avi", "mpeg2.avi"); }
TEST_F(AviFfmpeg, H264WithAacAndMp3) { compare("aac.avi", "aac.avi"); }
TEST_F(AviFfmpeg, FileWithoutIdx1) { compare("noidx1.avi", "h264.avi"); }

// Opt-in (ZEP_TEST_LARGE=1, ~3 GiB disk, ~5 GiB memory): 1.3 GiB OpenDML with AVIX, seeks.
TEST_F(AviFfmpeg, LargeOpenDmlFileWithAvixSegments) {
  const char* on = std::getenv("ZEP_TEST_LARGE");
  if (!on || std::string(on) != "1") GTEST_SKIP() << "set ZEP_TEST_LARGE=1 to run";
  ASSERT_EQ(run_command("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=640x480:rate=25:"
                        "duration=58 -f lavfi -i sine=sample_rate=48000:duration=58 -c:v rawvideo "
                        "-pix_fmt bgr24 -c:a pcm_s16le '" + dir_->path() + "/large.avi'"),
            0);
  compare("large.avi", "large.avi");
  AviFile f(dir_->path() + "/large.avi");
  EXPECT_EQ(f.count(ZEP_QID_GET_CONTAINER_TYPE), 1u);
  for (int64_t target : {500000000LL, 120000000LL, 0LL, 570000000LL}) {
    int64_t t = target, at = 0;
    ASSERT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
    ASSERT_EQ(f.seek(ZEP_BLOCK_AUDIO, 0, &(at = t)), 0);
    EXPECT_TRUE(t <= target && t > target - 10000000 && std::abs(at - t) <= 1000000) << t;
    Block v, a;
    ASSERT_EQ(f.read_stream(ZEP_BLOCK_VIDEO, 0, &v) | f.read_stream(ZEP_BLOCK_AUDIO, 0, &a), 0);
    EXPECT_TRUE(v.time == t && v.key() && a.time == at) << v.time;
  }
}

}  // namespace
