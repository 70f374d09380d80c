// Exit statuses and messages of the CLI: 2 for a wrong command line, 1 for
// a failure with the library's message on stderr, 0 for success; and the
// checked-in samples that `make run` and the README tour show stay readable
// by the commands shown there.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "tests/support/byte_writer.h"

namespace {

using clitest::cli_json;
using clitest::run_cli;

TEST(CliUsage, WrongCommandLinesExitWithTwo) {
  const std::vector<std::vector<std::string>> wrong = {
      {},
      {"frobnicate", "x.avi"},
      {"info"},
      {"info", "x.avi", "--no-such-option"},
      {"extract", "x.avi"},
      {"extract", "x.avi", "video.out"},
      {"extract", "x.avi", "v:out"},
      {"extract", "x.avi", "0:"},
      {"extract", "x.avi", "0:a", "0:b"},
      {"seek", "x.avi"},
      {"seek", "x.avi", "--time", "1", "--sync", "sideways"},
      {"seek", "x.avi", "--time", "-1"},
      {"packets", "x.avi", "--title", "one"},
      {"subs", "x.srt", "--frame", "100x100"}};
  for (const auto& args : wrong) {
    const auto result = run_cli(args);
    std::string line;
    for (const auto& a : args) line += a + " ";
    EXPECT_EQ(result.status, 2) << line << "\n" << result.err;
    EXPECT_FALSE(result.err.empty()) << line;
    EXPECT_TRUE(result.out.empty()) << line;
  }
}

TEST(CliUsage, HelpExitsWithZero) {
  const auto result = run_cli({"--help"});
  EXPECT_EQ(result.status, 0);
  for (const char* command : {"info", "packets", "extract", "read", "seek", "subs"})
    EXPECT_NE(result.out.find(command), std::string::npos) << command;
}

TEST(CliUsage, MissingAndUnreadableFilesFailWithTheLibraryMessage) {
  for (const char* command : {"info", "packets", "read"}) {
    const auto result = run_cli({command, "no/such/file.avi"});
    EXPECT_EQ(result.status, 1) << command;
    EXPECT_NE(result.err.find("Unable to get the size of input file"), std::string::npos)
        << result.err;
    EXPECT_TRUE(result.out.empty() || std::string(command) == "packets") << result.out;
  }
  zeptest::TempDir dir;
  for (const auto& path :
       {dir.write("garbage.avi", std::string(4000, 'x')), dir.write("empty.avi", std::string()),
        dir.write("notes.txt", std::string("hello\n"))}) {
    const auto result = run_cli({"info", path});
    EXPECT_EQ(result.status, 1) << path;
    EXPECT_NE(result.err.find("zepdemux: "), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty());
  }
}

const std::string kSamples = std::string(ZEP_SOURCE_DIR) + "/samples/";

TEST(CliSamples, SampleAviShowsItsStreamsAndPackets) {
#ifndef ZEPCLI_HAVE_AVI
  GTEST_SKIP() << "the AVI read module is not built";
#endif
  clitest::expect_json_subset(
      cli_json({"info", kSamples + "sample.avi", "--json"})["titles"][0]["streams"],
      nlohmann::json::parse(R"([{"codec_id": 10}, {"codec_id": 143}, {"codec_id": 131}])"));
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
  EXPECT_EQ(cli_json({"read", kSamples + "sample.h264", "--json"})["blocks"], 75);
  const auto srt = run_cli({"subs", kSamples + "sample.srt", "--text"});
  ASSERT_EQ(srt.status, 0) << srt.err;
  EXPECT_NE(srt.out.find("3 entries"), std::string::npos) << srt.out;
}

}  // namespace
