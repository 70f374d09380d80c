// SRT and ASS files through the container layer: entries with their times
// as text, QSUB packets that decode into pictures, and the common commands.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "tests/support/byte_writer.h"

namespace {

using clitest::run_cli;
using nlohmann::json;

// Line feeds alone, as files are written on this platform.
constexpr const char* kSrt =
    "1\n00:00:00,500 --> 00:00:01,250\nHello <i>there</i>\n\n"
    "2\n00:00:02,000 --> 00:00:03,000\nTwo lines:\nthe second one\n\n"
    "3\n00:01:00,000 --> 00:01:02,500\n<font color=\"#FFFF00\">Yellow</font>\n";

class CliSubtitle : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef ZEPCLI_HAVE_SUBTITLE
    GTEST_SKIP() << "the text subtitle module is not built";
#endif
    srt_ = dir_.write("clip.srt", std::string(kSrt));
  }
  zeptest::TempDir dir_;
  std::string srt_;
};

TEST_F(CliSubtitle, TextEntriesCarryTheirTimes) {
  const auto result = run_cli({"subs", srt_, "--text", "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto lines = clitest::lines_of(result.out);
  ASSERT_EQ(lines.size(), 3u);
  const double starts[] = {0.5, 2.0, 60.0};
  const double ends[] = {1.25, 3.0, 62.5};
  for (size_t i = 0; i < 3; ++i) {
    const json entry = json::parse(lines[i]);
    EXPECT_NEAR(entry["start"].get<double>(), starts[i], 1e-6) << i;
    EXPECT_NEAR(entry["end"].get<double>(), ends[i], 1e-6) << i;
  }
  EXPECT_NE(json::parse(lines[1])["text"].get<std::string>().find("second one"), std::string::npos);
}

TEST_F(CliSubtitle, BitmapEntriesDecodeIntoPictures) {
  const std::string pictures = dir_.path() + "/png";
  const auto result = run_cli({"subs", srt_, "--png", pictures, "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto lines = clitest::lines_of(result.out);
  ASSERT_EQ(lines.size(), 3u);
  for (const auto& line : lines) {
    const json entry = json::parse(line);
    ASSERT_TRUE(entry.contains("png")) << line;
    // Placed inside the 640 × 480 frame's area.
    EXPECT_GE(entry["x"].get<int>(), 44);
    EXPECT_LE(entry["x"].get<int>() + entry["width"].get<int>(), 596);
    EXPECT_LE(entry["y"].get<int>() + entry["height"].get<int>(), 456);
    const auto png = zeptest::read_file(entry["png"].get<std::string>());
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png[1], 'P');
    // The IHDR width and height are the picture's.
    const int width = png[16] << 24 | png[17] << 16 | png[18] << 8 | png[19];
    EXPECT_EQ(width, entry["width"].get<int>());
  }
  // The two-line entry is taller than the one-line entry.
  EXPECT_GT(json::parse(lines[1])["height"].get<int>(), json::parse(lines[0])["height"].get<int>());

  const auto wide = run_cli({"subs", srt_, "--frame", "960x720", "--json"});
  ASSERT_EQ(wide.status, 0) << wide.err;
  EXPECT_GE(json::parse(clitest::lines_of(wide.out)[0])["x"].get<int>(), 64);
}

TEST_F(CliSubtitle, CommonCommandsWorkOnSubtitleFiles) {
  const auto info = run_cli({"info", srt_, "--json"});
  ASSERT_EQ(info.status, 0) << info.err;
  const json description = json::parse(info.out);
  EXPECT_EQ(description["container"], "subtitle");
  const auto& streams = description["titles"][0]["streams"];
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["type"], "subtitle");

  const auto packets = run_cli({"packets", srt_, "--json"});
  ASSERT_EQ(packets.status, 0) << packets.err;
  const auto lines = clitest::lines_of(packets.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NEAR(json::parse(lines[2])["time"].get<double>(), 60.0, 1e-6);

  const std::string out = dir_.path() + "/packets.qsub";
  const auto extract = run_cli({"extract", srt_, "0:" + out});
  ASSERT_EQ(extract.status, 0) << extract.err;
  uint64_t total = 0;
  for (const auto& line : lines) total += json::parse(line)["size"].get<uint64_t>();
  EXPECT_EQ(std::filesystem::file_size(out), total);
}

TEST_F(CliSubtitle, AssFromFfmpegListsTheSameEntries) {
  if (!zeptest::have_tool("ffmpeg")) GTEST_SKIP() << "ffmpeg is not installed";
  const std::string ass = dir_.path() + "/clip.ass";
  ASSERT_EQ(zeptest::run_command("ffmpeg -v error -y -i " + clitest::shell_quote(srt_) + " " +
                                 clitest::shell_quote(ass) + " </dev/null"),
            0);
  const auto info = run_cli({"info", ass, "--json"});
  ASSERT_EQ(info.status, 0) << info.err;
  EXPECT_GT(json::parse(info.out)["titles"][0]["streams"][0]["private_data_size"].get<int>(), 0);
  const auto result = run_cli({"subs", ass, "--text", "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto lines = clitest::lines_of(result.out);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_NEAR(json::parse(lines[0])["start"].get<double>(), 0.5, 1e-6);
  EXPECT_NEAR(json::parse(lines[2])["end"].get<double>(), 62.5, 1e-6);
}

}  // namespace
