// Raw H.264 files through the container layer: the same outputs as for AVI
// files, 4-byte length-prefixed access units without --es and a playable
// Annex B stream with it.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "tests/support/byte_writer.h"

namespace {

using clitest::media_file;
using clitest::run_cli;
using nlohmann::json;

// 160x120 is not a whole number of macroblocks high: the stream is cropped.
std::string raw_h264() {
  return media_file("clip.h264",
                    "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v libx264 "
                    "-preset ultrafast -bf 2 -g 12 -x264-params scenecut=0:open-gop=0 -f h264");
}

class CliH264 : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef ZEPCLI_HAVE_H264
    GTEST_SKIP() << "the H.264 read module is not built";
#endif
    if (!zeptest::have_tool("ffmpeg") || !zeptest::have_tool("ffprobe"))
      GTEST_SKIP() << "ffmpeg is not installed";
    file_ = raw_h264();
    ASSERT_FALSE(file_.empty());
  }
  std::string file_;
  zeptest::TempDir scratch_;
};

TEST_F(CliH264, InfoDescribesTheStream) {
  const auto result = run_cli({"info", file_, "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const json info = json::parse(result.out);
  EXPECT_EQ(info["container"], "h264");
  EXPECT_EQ(info["layer"], "container");
  ASSERT_EQ(info["titles"].size(), 1u);
  const auto& streams = info["titles"][0]["streams"];
  ASSERT_EQ(streams.size(), 1u);
  EXPECT_EQ(streams[0]["codec_id"], 10);
  EXPECT_EQ(streams[0]["width"], 160);
  EXPECT_EQ(streams[0]["height"], 120);
  EXPECT_GT(streams[0]["private_data_size"].get<int>(), 11);
  EXPECT_GT(streams[0]["codec_header_size"].get<int>(), 8);
}

TEST_F(CliH264, PacketsAreTheAccessUnitsWithKeyIdrPictures) {
  const auto result = run_cli({"packets", file_, "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto lines = clitest::lines_of(result.out);
  ASSERT_EQ(int(lines.size()), clitest::decoded_frames(file_, "h264"));
  int keys = 0;
  for (size_t i = 0; i < lines.size(); ++i) {
    const json packet = json::parse(lines[i]);
    EXPECT_EQ(packet["type"], "video");
    if (packet["key"].get<bool>()) {
      ++keys;
      EXPECT_EQ(i % 12, 0u) << "key frames every 12 pictures";
    }
  }
  EXPECT_EQ(keys, 5);
  EXPECT_DOUBLE_EQ(json::parse(lines[0])["time"].get<double>(), 0.0);
}

TEST_F(CliH264, ExtractWritesLengthPrefixedUnitsAndEsDecodes) {
  const std::string units = scratch_.path() + "/units";
  const std::string annexb = scratch_.path() + "/annexb.h264";
  auto result = run_cli({"extract", file_, "0:" + units});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto bytes = zeptest::read_file(units);
  // Every unit is a 4-byte big-endian length and that many bytes, to the end.
  size_t pos = 0, count = 0;
  while (pos + 4 <= bytes.size()) {
    const size_t length = size_t(bytes[pos]) << 24 | size_t(bytes[pos + 1]) << 16 |
                          size_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
    ASSERT_GT(length, 0u);
    pos += 4 + length;
    ++count;
  }
  EXPECT_EQ(pos, bytes.size());
  EXPECT_GT(count, 50u);

  result = run_cli({"extract", file_, "--es", "0:" + annexb});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto es = zeptest::read_file(annexb);
  ASSERT_GE(es.size(), 5u);
  EXPECT_EQ(es[4] & 0x1F, 7) << "parameter sets first";
  EXPECT_EQ(clitest::decoded_frames(annexb, "h264"), clitest::decoded_frames(file_, "h264"));
}

TEST_F(CliH264, ReadCountsEveryAccessUnit) {
  const auto result = run_cli({"read", file_, "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(json::parse(result.out)["blocks"].get<int>(), clitest::decoded_frames(file_, "h264"));
}

}  // namespace
