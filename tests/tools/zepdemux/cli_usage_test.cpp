// Exit statuses and messages of the CLI: 2 for a wrong command line, 1 for
// a failure with the library's message on stderr, 0 for success.
#include <gtest/gtest.h>

#include "cli_runner.h"
#include "tests/support/byte_writer.h"

namespace {

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
      {"subs", "x.srt", "--frame", "100x100"},
  };
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

TEST(CliUsage, MissingFileFailsWithTheLibraryMessage) {
  for (const char* command : {"info", "packets", "read"}) {
    const auto result = run_cli({command, "no/such/file.avi"});
    EXPECT_EQ(result.status, 1) << command;
    EXPECT_NE(result.err.find("Unable to get the size of input file"), std::string::npos)
        << result.err;
    EXPECT_TRUE(result.out.empty() || std::string(command) == "packets") << result.out;
  }
}

TEST(CliUsage, UnreadableFilesFailWithAMessage) {
  zeptest::TempDir dir;
  const auto garbage = dir.write("garbage.avi", std::string(4000, 'x'));
  const auto empty = dir.write("empty.avi", std::string());
  const auto unknown = dir.write("notes.txt", std::string("hello\n"));
  for (const auto& path : {garbage, empty, unknown}) {
    const auto result = run_cli({"info", path});
    EXPECT_EQ(result.status, 1) << path;
    EXPECT_NE(result.err.find("zepdemux: "), std::string::npos) << result.err;
    EXPECT_TRUE(result.out.empty());
  }
}

}  // namespace
