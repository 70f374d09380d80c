// Subtitles through the CLI: an SRT file through the container layer (QSUB
// pictures, their PNG files, the packets `extract` writes) and bitmap
// subtitles of an AVI file through the library (info, subs, extract).
#include <gtest/gtest.h>

#include <filesystem>

#include "cli_runner.h"
#include "qsub_builder.h"
#include "tests/support/riff_builder.h"

namespace {

using clitest::cli_json;
using clitest::run_cli;
using nlohmann::json;
using zeptest::Bytes;

// The entries' times and texts are the module's (its tests compare them with ffprobe).
TEST(CliSubtitle, BitmapEntriesDecodeIntoPictures) {
#ifndef ZEPCLI_HAVE_SUBTITLE
  GTEST_SKIP() << "the text subtitle module is not built";
#endif
  zeptest::TempDir dir;
  const std::string srt =
      dir.write("clip.srt",
                std::string_view("1\n00:00:00,500 --> 00:00:01,250\nHello <i>there</i>\n\n"
                                 "2\n00:01:00,000 --> 00:01:02,500\nTwo lines:\nthe second one\n"));
  const json entries = cli_json({"subs", srt, "--png", dir.path() + "/png", "--json"}, true);
  ASSERT_EQ(entries.size(), 2u);
  for (const json& entry : entries) {
    // The PNG's IHDR width is the picture's, placed inside the 640 × 480 frame's area.
    const auto png = zeptest::read_file(entry["png"].get<std::string>());
    ASSERT_GT(png.size(), 24u);
    EXPECT_EQ(png[1] << 16 | png[18] << 8 | png[19], 'P' << 16 | entry["width"].get<int>());
    EXPECT_GE(entry["x"].get<int>(), 44);
  }
  EXPECT_GE(cli_json({"subs", srt, "--frame", "960x720", "--json"}, true)[0]["x"], 64);
  EXPECT_NE(run_cli({"subs", srt, "--text"}).out.find("2 entries"), std::string::npos);
  uint64_t total = 0;
  for (const json& packet : cli_json({"packets", srt, "--json"}, true))
    total += packet["size"].get<uint64_t>();
  ASSERT_EQ(run_cli({"extract", srt, "0:" + dir.path() + "/packets.qsub"}).status, 0);
  EXPECT_EQ(std::filesystem::file_size(dir.path() + "/packets.qsub"), total);
}

// 2 s of MPEG-4 frames at 25 fps and a QSUB stream with two packets.
TEST(CliAviSubtitle, InfoSubsAndExtract) {
#ifndef ZEPCLI_HAVE_AVI
  GTEST_SKIP() << "the AVI read module is not built";
#endif
  // Rows 0 and 2: 4 × 2; row 1: 2 × 0 then 2 × 1. Then one row of 6 × 2.
  const Bytes packets[] = {
      clitest::qsub_packet("[00:00:00.500-00:00:01.250]", 4, 3, 300, 420, {0x12, 0x12},
                           {0x80, 0x90}),
      clitest::qsub_packet("[00:00:01.500-00:00:01.900]", 6, 1, 200, 440, {0x1A}, {})};
  zeptest::AviFileSpec spec;
  spec.streams.resize(2);
  spec.streams[1].handler = spec.streams[1].compression = "NRSB";
  for (uint32_t frame = 0; frame < 50; ++frame) {
    spec.chunks.push_back(
        {0, "dc", zeptest::mpeg4_frame(frame % 10 == 0, frame), frame % 10 == 0, 0});
    if (frame == 12 || frame == 37) spec.chunks.push_back({1, "sb", packets[frame / 25], true, 0});
  }
  zeptest::TempDir dir;
  const std::string path = dir.write("subtitled.avi", zeptest::build_avi(spec));
  clitest::expect_json_subset(cli_json({"info", path, "--json"})["titles"],
                              json::parse(R"([{"streams": [
      {"type": "video"}, {"type": "subtitle", "codec_id": 281, "fourcc": "NRSB"}]}])"));
  const json entries = cli_json({"subs", path, "--png", dir.path() + "/png", "--json"}, true);
  clitest::expect_json_subset(entries, json::parse(R"([
      {"start": 0.5, "end": 1.25, "width": 4, "height": 3, "x": 300, "y": 420},
      {"start": 1.5, "width": 6}])"));
  EXPECT_EQ(entries[0]["size"], packets[0].size());
  for (const json& entry : entries)
    EXPECT_TRUE(std::filesystem::exists(entry["png"].get<std::string>())) << entry.dump();
  // Settings of the text subtitle module do not apply here.
  EXPECT_EQ(run_cli({"subs", path, "--text"}).status, 2);
  Bytes expected = packets[0];
  expected.insert(expected.end(), packets[1].begin(), packets[1].end());
  for (const char* mode : {"--push", "--pull"}) {
    std::vector<std::string> args = {"extract", path, "1:" + dir.path() + "/s.qsub"};
    if (mode[4] == 'l') args.push_back(mode);
    ASSERT_EQ(run_cli(args).status, 0);
    EXPECT_EQ(zeptest::read_file(dir.path() + "/s.qsub"), expected) << mode;
  }
}

}  // namespace
