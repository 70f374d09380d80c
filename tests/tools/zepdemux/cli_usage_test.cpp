// Exit statuses of the CLI: 2 for a wrong command line, 1 for a failure with
// the library's message on stderr, 0 for help.
#include <gtest/gtest.h>

#include "cli_runner.h"

namespace {

using clitest::run_cli;

// One row per distinct refusal of the command line.
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
    const std::string line = args.empty() ? "" : args[0] + " " + args.back();
    EXPECT_EQ(result.status, 2) << line << "\n" << result.err;
    EXPECT_TRUE(!result.err.empty() && result.out.empty()) << line;
  }
  EXPECT_EQ(run_cli({"--help"}).status, 0);
}

TEST(CliUsage, MissingAndUnreadableFilesFailWithTheLibraryMessage) {
  zeptest::TempDir dir;
  const std::pair<std::vector<std::string>, const char*> cases[] = {
      {{"info", "no/such/file.avi"}, "Unable to get the size of input file"},
      {{"packets", "no/such/file.avi"}, "Unable to get the size of input file"},
      {{"read", "no/such/file.avi"}, "Unable to get the size of input file"},
      {{"info", dir.write("garbage.avi", std::string(4000, 'x'))}, "zepdemux: "},
      {{"info", dir.write("empty.avi", std::string())}, "zepdemux: "},
      {{"info", dir.write("notes.txt", std::string("hello\n"))}, "zepdemux: "}};
  for (const auto& [args, message] : cases) {
    const auto result = run_cli(args);
    EXPECT_EQ(result.status, 1) << args[0] << " " << args[1];
    EXPECT_TRUE(result.out.empty() && result.err.find(message) != std::string::npos) << result.err;
  }
}

}  // namespace
