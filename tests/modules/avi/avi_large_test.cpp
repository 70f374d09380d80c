// OpenDML beyond 1 GiB (ffmpeg writes AVIX segments and indx/ix## only there):
// a 1.3 GiB file compared with ffmpeg and ffprobe, then seeks. Opt-in (label
// "large", ZEP_TEST_LARGE=1), skipped with less than 4 GiB free.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/modules/avi/avi_test_util.h"

using namespace avitest;
using namespace zeptest;

TEST(AviLarge, OpenDmlFileMatchesFfmpegAndSeeks) {
  const char* on = std::getenv("ZEP_TEST_LARGE");
  if (!on || std::string(on) != "1") GTEST_SKIP() << "set ZEP_TEST_LARGE=1 to run";
  if (!have_tool("ffmpeg") || !have_tool("ffprobe")) GTEST_SKIP() << "ffmpeg is not installed";
  std::error_code ec;
  auto space = std::filesystem::space(std::filesystem::temp_directory_path(), ec);
  if (ec || space.available < (4ull << 30)) GTEST_SKIP() << "less than 4 GiB free";
  TempDir dir;
  const std::string file = dir.path() + "/large.avi";
  ASSERT_EQ(run_command("ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=640x480:rate=25:"
                        "duration=58 -f lavfi -i sine=sample_rate=48000:duration=58 -c:v rawvideo "
                        "-pix_fmt bgr24 -c:a pcm_s16le '" +
                        file + "'"),
            0);
  AviFile f(file);
  ASSERT_TRUE(f.ok()) << std::hex << f.title_status();
  EXPECT_EQ(f.count(ZEP_QID_GET_CONTAINER_TYPE), 1u);
  // Each stream read by stream against ffmpeg's extraction through a pipe and
  // (video) ffprobe's dts and key flags.
  for (uint32_t type : {ZEP_BLOCK_VIDEO, ZEP_BLOCK_AUDIO}) {
    const std::string track = type == ZEP_BLOCK_VIDEO ? "0" : "1";
    FILE* pipe =
        popen(("ffmpeg -nostdin -v quiet -i '" + file + "' -map 0:" + track + " -c copy -f data -")
                  .c_str(),
              "r");
    ASSERT_NE(pipe, nullptr);
    std::vector<Packet> packets;
    if (type == ZEP_BLOCK_VIDEO) packets = probe_packets(file, track);
    Block b;
    uint64_t total = 0;
    size_t frames = 0;
    for (Bytes theirs; f.read_stream(type, 0, &b) == 0; total += b.data.size()) {
      theirs.resize(b.data.size());
      if (!b.data.empty() && (std::fread(theirs.data(), 1, theirs.size(), pipe) != theirs.size() ||
                              theirs != b.data)) {
        ADD_FAILURE() << "payload differs after " << total << " bytes";
        break;
      }
      if (packets.empty() || b.data.empty()) continue;
      ASSERT_LT(frames, packets.size()) << "ffprobe has fewer packets";
      EXPECT_NEAR(double(b.time) / 1e7, packets[frames].dts, 0.0015) << "frame " << frames;
      EXPECT_EQ(b.key(), packets[frames++].key) << "frame " << frames;
    }
    EXPECT_EQ(std::fgetc(pipe), EOF) << "ffmpeg has more data";
    pclose(pipe);
    EXPECT_GT(total, 0u);
  }
  for (int64_t target : {500000000LL, 120000000LL, 0LL, 570000000LL}) {
    int64_t t = target, at = 0;
    ASSERT_EQ(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
    EXPECT_TRUE(t <= target && t > target - 10000000) << t;
    ASSERT_EQ(f.seek(ZEP_BLOCK_AUDIO, 0, &(at = t)), 0);
    EXPECT_NEAR(double(at), double(t), 1000000.0);
    Block b;
    ASSERT_EQ(f.read_stream(ZEP_BLOCK_VIDEO, 0, &b), 0);
    EXPECT_TRUE(b.time == t && b.key()) << b.time;
    ASSERT_EQ(f.read_stream(ZEP_BLOCK_AUDIO, 0, &b), 0);
    EXPECT_EQ(b.time, at);
  }
}
