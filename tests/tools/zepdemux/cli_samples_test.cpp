// The checked-in samples that `make run` and the README tour show stay
// readable by the commands shown there.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_runner.h"

namespace {

using clitest::run_cli;
using nlohmann::json;

const std::string kSamples = std::string(ZEP_SOURCE_DIR) + "/samples/";

TEST(CliSamples, SampleAviShowsItsStreamsAndPackets) {
#ifndef ZEPCLI_HAVE_AVI
  GTEST_SKIP() << "the AVI read module is not built";
#endif
  const auto info = run_cli({"info", kSamples + "sample.avi", "--json"});
  ASSERT_EQ(info.status, 0) << info.err;
  const json description = json::parse(info.out);
  const auto& streams = description["titles"][0]["streams"];
  ASSERT_EQ(streams.size(), 3u);
  EXPECT_EQ(streams[0]["codec_id"], 10);
  EXPECT_EQ(streams[1]["codec_id"], 143);
  EXPECT_EQ(streams[2]["codec_id"], 131);

  const auto packets = run_cli({"packets", kSamples + "sample.avi"});
  ASSERT_EQ(packets.status, 0) << packets.err;
  const auto lines = clitest::lines_of(packets.out);
  ASSERT_GT(lines.size(), 300u);
  EXPECT_NE(lines[0].find("stream"), std::string::npos) << "a header line first";
}

TEST(CliSamples, SampleH264AndSrtGoThroughTheContainerLayer) {
#if !defined(ZEPCLI_HAVE_H264) || !defined(ZEPCLI_HAVE_SUBTITLE)
  GTEST_SKIP() << "the H.264 or the text subtitle module is not built";
#endif
  const auto h264 = run_cli({"read", kSamples + "sample.h264", "--json"});
  ASSERT_EQ(h264.status, 0) << h264.err;
  EXPECT_EQ(json::parse(h264.out)["blocks"], 75);
  const auto srt = run_cli({"subs", kSamples + "sample.srt", "--text"});
  ASSERT_EQ(srt.status, 0) << srt.err;
  EXPECT_NE(srt.out.find("3 entries"), std::string::npos) << srt.out;
}

}  // namespace
