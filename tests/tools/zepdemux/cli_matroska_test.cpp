// `zepdemux info --json` and `extract --attachment` on Matroska files made by
// mkvmerge, against what ffprobe and mkvextract read from the same files:
// chapters (times, names), tags (nested), attachments (bytes), tracks.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>

#include "tests/support/byte_writer.h"
#include "tests/tools/zepdemux/cli_runner.h"

using clitest::run_cli;
using clitest::shell_quote;
using nlohmann::json;

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
  static json info() {
    auto r = run_cli({"info", "--json", file_});
    EXPECT_EQ(r.status, 0) << r.err;
    return json::parse(r.out)["matroska"][0];
  }
  static zeptest::TempDir* dir_;
  static std::string file_;
  static bool ok_;
};

zeptest::TempDir* CliMatroska::dir_ = nullptr;
std::string CliMatroska::file_;
bool CliMatroska::ok_ = false;

TEST_F(CliMatroska, ChaptersMatchFfprobe) {
  const json probe = json::parse(zeptest::command_output(
      "ffprobe -v error -show_chapters -of json " + shell_quote(file_)))["chapters"];
  const json chapters = info()["editions"][0]["chapters"];
  ASSERT_EQ(chapters.size(), probe.size());
  for (size_t i = 0; i < probe.size(); ++i) {
    EXPECT_NEAR(chapters[i]["start"].get<double>(), std::atof(probe[i]["start_time"].get<std::string>().c_str()), 1e-6);
    EXPECT_NEAR(chapters[i]["end"].get<double>(), std::atof(probe[i]["end_time"].get<std::string>().c_str()), 1e-3);
    EXPECT_EQ(chapters[i]["name"], probe[i]["tags"]["title"]);
  }
}

TEST_F(CliMatroska, NestedTagIsListedUnderItsParent) {
  bool found = false;
  const json tags = info()["tags"];
  for (const json& tag : tags) {
    const json& st = tag["simple_tags"];
    for (size_t i = 0; i + 1 < st.size(); ++i)
      if (st[i]["name"] == "ARTIST") {
        found = true;
        EXPECT_EQ(st[i]["value"], "Some One");
        EXPECT_EQ(st[i + 1]["name"], "SORT_WITH");
        EXPECT_EQ(st[i + 1]["depth"], st[i]["depth"].get<int>() + 1);
      }
  }
  EXPECT_TRUE(found) << tags.dump();
}

TEST_F(CliMatroska, AttachmentBytesEqualMkvextract) {
  const json attachment = info()["attachments"][0];
  EXPECT_EQ(attachment["name"], "font.ttf");
  EXPECT_EQ(attachment["mime_type"], "font/ttf");
  EXPECT_EQ(attachment["size"], 5000);
  const std::string ours = dir_->path() + "/ours.bin", theirs = dir_->path() + "/theirs.bin";
  auto r = run_cli({"extract", file_, "--attachment", "1:" + ours});
  ASSERT_EQ(r.status, 0) << r.err;
  ASSERT_EQ(zeptest::run_command("mkvextract -q " + shell_quote(file_) + " attachments 1:" +
                                 shell_quote(theirs)),
            0);
  EXPECT_EQ(zeptest::read_file(ours), zeptest::read_file(theirs));
  EXPECT_NE(run_cli({"extract", file_, "--attachment", "2:" + ours}).status, 0);
}

TEST_F(CliMatroska, TracksCarryCodecAndLanguage) {
  const json tracks = info()["tracks"];
  ASSERT_EQ(tracks.size(), 2u);
  EXPECT_EQ(tracks[0]["codec_id"], "V_MPEG4/ISO/AVC");
  EXPECT_EQ(tracks[1]["codec_id"], "A_AAC");
  EXPECT_EQ(tracks[1]["language"], "ger");
}

}  // namespace
