// Elementary streams extracted from a Matroska file made by mkvmerge (with
// chapters, tags and an attachment beside its tracks) decode with ffmpeg.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

#include "tests/support/byte_writer.h"
#include "tests/tools/zepdemux/cli_runner.h"

using clitest::run_cli;
using clitest::shell_quote;

namespace {

class CliMatroska : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!zeptest::have_tool("mkvmerge") || !zeptest::have_tool("mkvextract") ||
        !zeptest::have_tool("ffprobe"))
      return;
    dir_ = new zeptest::TempDir();
    const std::string d = dir_->path() + "/";
    const std::string source = clitest::media_file(
        "mkv_source.mkv",
        "-f lavfi -i testsrc=size=160x120:rate=25:duration=3 -f lavfi -i "
        "sine=sample_rate=48000:duration=3 -c:v libx264 -pix_fmt yuv420p -c:a aac "
        "-metadata:s:a:0 language=ger");
    dir_->write("chapters.txt",
                "CHAPTER01=00:00:00.000\nCHAPTER01NAME=Intro\nCHAPTER02=00:00:01.250\n"
                "CHAPTER02NAME=Main part\n");
    dir_->write("tags.xml",
                "<?xml version=\"1.0\"?><Tags><Tag><Targets><TargetTypeValue>50</TargetTypeValue>"
                "</Targets><Simple><Name>ARTIST</Name><String>Some One</String><Simple><Name>"
                "SORT_WITH</Name><String>One, Some</String></Simple></Simple></Tag></Tags>");
    zeptest::Bytes font(5000);
    for (size_t i = 0; i < font.size(); ++i) font[i] = uint8_t(i * 7);
    dir_->write("font.ttf", font);
    file_ = d + "rich.mkv";
    ok_ = !source.empty() &&
          zeptest::run_command("mkvmerge -q -o " + shell_quote(file_) + " --chapters " +
                               shell_quote(d + "chapters.txt") + " --global-tags " +
                               shell_quote(d + "tags.xml") +
                               " --attachment-mime-type font/ttf --attach-file " +
                               shell_quote(d + "font.ttf") + " " + shell_quote(source)) == 0;
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "mkvtoolnix or ffprobe is not installed";
    ASSERT_TRUE(ok_) << "mkvmerge could not write the test file";
  }
  static zeptest::TempDir* dir_;
  static std::string file_;
  static bool ok_;
};

zeptest::TempDir* CliMatroska::dir_ = nullptr;
std::string CliMatroska::file_;
bool CliMatroska::ok_ = false;

// Elementary streams with start codes and parameter sets (H.264) and ADTS
// headers (AAC), push and pull, decode without a complaint from ffmpeg.
TEST_F(CliMatroska, ElementaryStreamsDecode) {
  for (const char* mode : {"push", "pull"}) {
    const std::string video = dir_->path() + "/es.h264", audio = dir_->path() + "/es.aac";
    std::vector<std::string> args = {"extract", "--es", file_, "0:" + video, "1:" + audio};
    if (std::string(mode) == "pull") args.push_back("--pull");
    auto r = run_cli(args);
    ASSERT_EQ(r.status, 0) << r.err;
    for (const std::string& out : {video, audio}) {
      const std::string complaints = zeptest::command_output(
          "ffmpeg -nostdin -v error -i " + shell_quote(out) + " -f null - 2>&1");
      EXPECT_EQ(complaints, "") << mode << " " << out;
    }
    EXPECT_EQ(clitest::decoded_frames(video, "h264"), 75) << mode;
  }
}

}  // namespace
