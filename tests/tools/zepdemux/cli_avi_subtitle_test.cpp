// Bitmap subtitles in an AVI file, read through the shared library: `info`
// names the QSUB codec, `subs` lists the packets with the times of their
// headers and decodes them into pictures, `extract` writes them unchanged.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "qsub_builder.h"
#include "tests/support/byte_writer.h"
#include "tests/support/riff_builder.h"

namespace {

using clitest::run_cli;
using nlohmann::json;
using zeptest::Bytes;

struct SubtitledAvi {
  std::string path;
  std::vector<Bytes> packets;
};

// 2 s of MPEG-4 frames at 25 fps and a QSUB stream with two packets.
SubtitledAvi make_subtitled_avi(const zeptest::TempDir& dir) {
  SubtitledAvi file;
  // Rows 0 and 2: 4 × 2; row 1: 2 × 0 then 2 × 1.
  file.packets.push_back(clitest::qsub_packet("[00:00:00.500-00:00:01.250]", 4, 3, 300, 420,
                                              {0x12, 0x12}, {0x80, 0x90}));
  // One row of 6 × 2 (the second field is empty).
  file.packets.push_back(
      clitest::qsub_packet("[00:00:01.500-00:00:01.900]", 6, 1, 200, 440, {0x1A}, {}));
  zeptest::AviFileSpec spec;
  zeptest::AviStreamSpec video;
  spec.streams.push_back(video);
  zeptest::AviStreamSpec subtitle;
  subtitle.handler = "NRSB";
  subtitle.compression = "NRSB";
  spec.streams.push_back(subtitle);
  for (uint32_t frame = 0; frame < 50; ++frame) {
    spec.chunks.push_back(
        {0, "dc", zeptest::mpeg4_frame(frame % 10 == 0, frame), frame % 10 == 0, 0});
    if (frame == 12) spec.chunks.push_back({1, "sb", file.packets[0], true, 0});
    if (frame == 37) spec.chunks.push_back({1, "sb", file.packets[1], true, 0});
  }
  file.path = dir.write("subtitled.avi", zeptest::build_avi(spec));
  return file;
}

class CliAviSubtitle : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef ZEPCLI_HAVE_AVI
    GTEST_SKIP() << "the AVI read module is not built";
#endif
    file_ = make_subtitled_avi(dir_);
  }
  zeptest::TempDir dir_;
  SubtitledAvi file_;
};

TEST_F(CliAviSubtitle, InfoNamesTheBitmapSubtitleCodec) {
  const auto result = run_cli({"info", file_.path, "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const json info = json::parse(result.out);
  ASSERT_EQ(info["titles"].size(), 1u) << result.out;
  const auto& streams = info["titles"][0]["streams"];
  ASSERT_EQ(streams.size(), 2u) << result.out;
  EXPECT_EQ(streams[0]["type"], "video");
  EXPECT_EQ(streams[1]["type"], "subtitle");
  EXPECT_EQ(streams[1]["codec_id"], 281);
  EXPECT_EQ(streams[1]["fourcc"], "NRSB");
}

TEST_F(CliAviSubtitle, SubsListsAndDrawsEveryPacket) {
  const std::string pictures = dir_.path() + "/png";
  const auto result = run_cli({"subs", file_.path, "--png", pictures, "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto lines = clitest::lines_of(result.out);
  ASSERT_EQ(lines.size(), 2u);
  const json first = json::parse(lines[0]);
  EXPECT_NEAR(first["start"].get<double>(), 0.5, 1e-6);
  EXPECT_NEAR(first["end"].get<double>(), 1.25, 1e-6);
  EXPECT_EQ(first["size"], file_.packets[0].size());
  EXPECT_EQ(first["width"], 4);
  EXPECT_EQ(first["height"], 3);
  EXPECT_EQ(first["x"], 300);
  EXPECT_EQ(first["y"], 420);
  const json second = json::parse(lines[1]);
  EXPECT_EQ(second["width"], 6);
  EXPECT_NEAR(second["start"].get<double>(), 1.5, 1e-6);
  for (const auto& line : lines)
    EXPECT_TRUE(std::filesystem::exists(json::parse(line)["png"].get<std::string>())) << line;

  // Settings of the text subtitle module do not apply here.
  EXPECT_EQ(run_cli({"subs", file_.path, "--text"}).status, 2);
}

TEST_F(CliAviSubtitle, ExtractWritesThePacketsUnchanged) {
  const std::string out = dir_.path() + "/subtitles.qsub";
  for (const char* mode : {"push", "pull"}) {
    std::vector<std::string> args = {"extract", file_.path, "1:" + out};
    if (std::string(mode) == "pull") args.push_back("--pull");
    const auto result = run_cli(args);
    ASSERT_EQ(result.status, 0) << result.err;
    Bytes expected = file_.packets[0];
    expected.insert(expected.end(), file_.packets[1].begin(), file_.packets[1].end());
    EXPECT_EQ(zeptest::read_file(out), expected) << mode;
  }
}

}  // namespace
