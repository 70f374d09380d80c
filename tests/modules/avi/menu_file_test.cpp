// Files with a menu section through layer 1, and ffmpeg titles joined into one such file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "modules/avi/avi_module.h"
#include "tests/modules/avi/avi_test_util.h"
#include "tests/support/menu_builder.h"

namespace zeptest {
namespace {

using avitest::AviFile;
using avitest::Block;

// Title `t` read whole is a menu::tiny_title: video and audio every 100 ms.
void expect_tiny_title(AviFile& f, uint32_t t, uint32_t seed, uint32_t frames) {
  ASSERT_EQ(L1SetTitle(f.container(), t), 0) << "title " << t;
  f.activate_all();
  ZEP_STATUS last = 0;
  const std::vector<Block> blocks = f.read_all(&last, 10000);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(blocks.size(), 2 * frames) << "seed " << seed;
  for (uint32_t i = 0; i < 2 * frames; ++i) {
    const Block& b = blocks[i];
    const bool audio = i % 2;
    EXPECT_EQ(std::tuple(b.data, b.type, b.key(), b.time),
              std::tuple((audio ? menu::tiny_audio_payload : menu::tiny_video_payload)(seed, i / 2),
                         uint32_t(audio ? ZEP_BLOCK_AUDIO : ZEP_BLOCK_VIDEO),
                         audio || i / 2 % 5 == 0, int64_t(i / 2) * 1000000))
        << "seed " << seed << " block " << i;
  }
}

// Title seeds and frame counts of the file below; the menu media has seed 9.
const uint32_t kSeeds[] = {1, 2, 3}, kFrames[] = {4, 7, 5};

struct MenuFile : ::testing::Test { TempDir dir_; };

// Titles out of order with chapters; menu media by page (1: none) and by Aux operations.
TEST_F(MenuFile, ThreeTitlesAndTheMenuMedia) {
  menu::MenuSpec spec{
      .chapters = {1, 2, 3}, .media = {{.keys = {77}}}, .pages = {{77, u"Root"}, {5, u"X"}}};
  std::vector<Bytes> titles;
  for (size_t t = 0; t < 3; ++t) titles.push_back(menu::tiny_title(kSeeds[t], kFrames[t]));
  const Bytes file = menu::build_menu_file(spec, titles, {menu::tiny_title(9, 3, 16, 16)});
  const std::string path = dir_.write("three.avi", file);
  AviFile f(path, false);
  ASSERT_EQ(f.open_status(), 0);
  ASSERT_EQ(f.count(ZEP_QID_NUM_CONTAINER_TITLE), 3u);
  for (uint32_t t : {2u, 0u, 1u}) {
    SCOPED_TRACE("title " + std::to_string(t));
    expect_tiny_title(f, t, kSeeds[t], kFrames[t]);
    EXPECT_EQ(f.count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA, t), 1u);
    EXPECT_EQ(f.value64(ZEP_QID_TITLE_DURATION, 0, nullptr, t), kFrames[t] * 1000000);
    EXPECT_EQ(f.count(ZEP_QID_CHAPTERS_CHAPTER_COUNT, t), t + 1);
  }
  EXPECT_EQ(L1SetTitle(f.container(), 3), ZEP_FAIL);
  const int64_t media_position = file.size() - menu::tiny_title(9, 3, 16, 16).size();
  for (auto [page, expected] :
       {std::pair{0u, media_position}, {1u, 0}, {0u, media_position}, {9u, media_position}}) {
    ZEP_STATUS s = -1;
    EXPECT_EQ(std::pair(f.value64(ZEP_QID_MENUMEDIA_OFFSET, 0, &s, page), s),
              std::pair(expected, 0));
  }
  const ZepModuleOps* ops = zepAviModule.ops;
  ZepModuleHandle handle = nullptr;
  ASSERT_EQ(ops->OpenContainer(&handle, zep::utf8_to_u16(path).c_str(), nullptr), 0);
  ASSERT_GE(ops->AuxSetTitle(handle, 0), 0);
  ASSERT_EQ(ops->AuxSetActiveStream(handle, ZEP_BLOCK_VIDEO, 0, 1), 0);
  ZepBlock block;
  zep_heap_block_init(&block);
  std::vector<Bytes> video;
  for (uint32_t type = 0, stream = 0;
       video.size() < 100 && ops->AuxReadNextBlock(handle, &type, &stream, &block, 0) == 0;)
    if (type == ZEP_BLOCK_VIDEO) video.emplace_back(block.data, block.data + block.size);
  zep_heap_block_free(&block);
  EXPECT_EQ(video, (std::vector{menu::tiny_video_payload(9, 0), menu::tiny_video_payload(9, 1),
                                menu::tiny_video_payload(9, 2)}));
  // Page 1 has no linked media: nothing is loaded in place of it.
  EXPECT_EQ(ops->AuxSetTitle(handle, 1), ZEP_ERR_SCAN_RIFF_FAILURE);
  EXPECT_EQ(ops->CloseContainer(handle), 0);
}

TEST_F(MenuFile, OnlyVersionTwoOpensAsOneTitle) {
  std::vector<Bytes> titles = {menu::tiny_title(1, 4), menu::tiny_title(2, 3)};
  Bytes file = menu::build_menu_file({.chapters = {1, 2}}, titles, {});
  // The MENU chunk's version, 19 bytes in, after the RIFF MENU and LIST ZPNU.
  const size_t version_at = titles[0].size() + 12 + 12 + 19;
  ASSERT_EQ(file[version_at], 1);
  file[version_at] = 2;
  AviFile f(dir_.write("v2.avi", file), false);
  EXPECT_EQ(f.open_status(), ZEP_ERR_INVALID_MENU_VERSION);
  ASSERT_NE(f.container(), nullptr);
  EXPECT_EQ(f.count(ZEP_QID_NUM_CONTAINER_TITLE), 1u);
  expect_tiny_title(f, 0, 1, 4);
}

TEST(MenuFfmpeg, EachTitleGivesWhatFfmpegExtractsFromItsOwnFile) {
  if (!have_tool("ffmpeg") || !have_tool("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  std::vector<std::string> files;
  std::vector<Bytes> titles;
  for (std::string input :
       {"testsrc=size=64x48:rate=10:duration=1.2 -f lavfi -i sine=f=440:r=8000:d=1.2 "
        "-c:v mpeg4 -g 5 -c:a pcm_s16le -ac 1 ",
        "testsrc2=size=48x32:rate=15:duration=1 -f lavfi -i sine=f=660:r=16000:d=1 "
        "-c:v mjpeg -c:a mp2 -b:a 64k -ac 1 ",
        "rgbtestsrc=size=32x32:rate=5:duration=1.6 -c:v mpeg4 -g 3 -an "}) {
    files.push_back(dir.path() + "/title" + std::to_string(files.size()) + ".avi");
    ASSERT_EQ(run_command("ffmpeg -v error -y -f lavfi -i " + input + "'" + files.back() + "'"), 0)
        << input;
    titles.push_back(read_file(files.back()));
  }
  AviFile f(dir.write("joined.avi", menu::build_menu_file({.chapters = {1, 1, 1}}, titles, {})),
            false);
  ASSERT_EQ(f.open_status(), 0);
  EXPECT_EQ(f.count(ZEP_QID_NUM_CONTAINER_TITLE), 3u);
  for (uint32_t t : {1u, 2u, 0u}) {
    SCOPED_TRACE("title " + std::to_string(t));
    ASSERT_EQ(L1SetTitle(f.container(), t), 0);
    EXPECT_EQ(f.count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA, t), t == 2 ? 0u : 1u);
    f.activate_all();
    ZEP_STATUS last = 0;
    const std::vector<Block> blocks = f.read_all(&last);
    EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
    auto data = avitest::payloads(blocks);
    EXPECT_EQ(data[std::pair(ZEP_BLOCK_VIDEO, 0u)],
              avitest::ffmpeg_payload(dir, files[t], "0:v:0"));
    EXPECT_EQ(data[std::pair(ZEP_BLOCK_AUDIO, 0u)],
              t == 2 ? Bytes{} : avitest::ffmpeg_payload(dir, files[t], "0:a:0"));
    const std::vector<avitest::Packet> packets = avitest::probe_packets(files[t], "v:0");
    std::vector<Block> video;
    for (const auto& b : blocks)
      if (b.type == ZEP_BLOCK_VIDEO) video.push_back(b);
    ASSERT_EQ(video.size(), packets.size());
    for (size_t i = 0; i < packets.size(); ++i)
      EXPECT_TRUE(std::abs(double(video[i].time) / 1e7 - packets[i].pts) < 0.0011 &&
                  video[i].key() == packets[i].key) << i;
  }
}

}  // namespace
}  // namespace zeptest
