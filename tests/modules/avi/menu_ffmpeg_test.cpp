// Real titles made by ffmpeg, joined into one file with a menu section: each
// title read through the container layer must give exactly what ffmpeg itself
// extracts from the title's own file (payload bytes per stream, packet count,
// times and key frames).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/modules/avi/avi_test_util.h"
#include "tests/support/menu_builder.h"

namespace zeptest {
namespace {

using avitest::AviFile;

TEST(MenuFfmpeg, EachTitleGivesWhatFfmpegExtractsFromItsOwnFile) {
  if (!have_tool("ffmpeg") || !have_tool("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string lavfi = "ffmpeg -v error -y -f lavfi -i ";
  const std::vector<std::string> commands = {
      lavfi +
          "testsrc=size=64x48:rate=10:duration=1.2 -f lavfi -i sine=f=440:r=8000:d=1.2 "
          "-c:v mpeg4 -g 5 -c:a pcm_s16le -ac 1 ",
      lavfi +
          "testsrc2=size=48x32:rate=15:duration=1 -f lavfi -i sine=f=660:r=16000:d=1 "
          "-c:v mjpeg -c:a mp2 -b:a 64k -ac 1 ",
      lavfi + "rgbtestsrc=size=32x32:rate=5:duration=1.6 -c:v mpeg4 -g 3 -an ",
  };
  std::vector<std::string> files;
  std::vector<Bytes> titles;
  for (size_t t = 0; t < commands.size(); ++t) {
    files.push_back(dir.path() + "/title" + std::to_string(t) + ".avi");
    ASSERT_EQ(run_command(commands[t] + "'" + files.back() + "'"), 0) << commands[t];
    titles.push_back(read_file(files.back()));
  }
  menu::MenuSpec spec;
  spec.chapters = {1, 1, 1};
  AviFile f(dir.write("joined.avi", menu::build_menu_file(spec, titles, {})), false);
  ASSERT_EQ(f.open_status(), 0);
  EXPECT_EQ(f.count(ZEP_QID_NUM_CONTAINER_TITLE), 3u);
  for (uint32_t t : {1u, 2u, 0u}) {
    SCOPED_TRACE("title " + std::to_string(t));
    ASSERT_EQ(L1SetTitle(f.container(), t), 0);
    const bool has_audio = f.count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA, t) == 1;
    EXPECT_EQ(has_audio, t != 2);
    f.activate_all();
    ZEP_STATUS last = 0;
    const std::vector<avitest::Block> blocks = f.read_all(&last);
    EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
    auto data = avitest::payloads(blocks);
    EXPECT_EQ(data[std::pair(ZEP_BLOCK_VIDEO, 0u)],
              avitest::ffmpeg_payload(dir, files[t], "0:v:0"));
    EXPECT_EQ(data[std::pair(ZEP_BLOCK_AUDIO, 0u)],
              has_audio ? avitest::ffmpeg_payload(dir, files[t], "0:a:0") : Bytes{});
    const std::vector<avitest::Packet> packets = avitest::probe_packets(files[t], "v:0");
    std::vector<avitest::Block> video;
    for (const auto& b : blocks)
      if (b.type == ZEP_BLOCK_VIDEO) video.push_back(b);
    ASSERT_EQ(video.size(), packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
      EXPECT_NEAR(double(video[i].time) / 1e7, packets[i].pts, 0.0011) << i;
      EXPECT_EQ(video[i].key(), packets[i].key) << i;
    }
  }
}

}  // namespace
}  // namespace zeptest
