// The CLI end to end on AVI and raw H.264 files made by ffmpeg, with ffmpeg
// and ffprobe as the oracle: extracted payloads, Annex B output that decodes,
// packet times and key flags, seeking and the read command.
#include <gtest/gtest.h>

#include "cli_runner.h"

namespace {

using clitest::cli_json;
using clitest::run_cli;
using clitest::shell_quote;
using nlohmann::json;

// 160x120 H.264 with B-frames and a key frame every 12 frames; 160x120 is not
// a whole number of macroblocks high: the stream is cropped.
const std::string kH264 =
    "-c:v libx264 -preset ultrafast -bf 2 -g 12 -x264-params scenecut=0:open-gop=0 ";
const std::string kVideo = "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 ";

class CliMedia : public ::testing::Test {
 protected:
  void SetUp() override {
#if !defined(ZEPCLI_HAVE_AVI) || !defined(ZEPCLI_HAVE_H264)
    GTEST_SKIP() << "the AVI or the H.264 read module is not built";
#endif
    if (!zeptest::have_tool("ffmpeg") || !zeptest::have_tool("ffprobe"))
      GTEST_SKIP() << "ffmpeg is not installed";
    // H.264 with MP3 and AAC, and the H.264 alone.
    h264_ = clitest::media_file("h264_mp3_aac.avi",
                                kVideo +
                                    "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "
                                    "-map 0:v -map 1:a -map 1:a " +
                                    kH264 + "-c:a:0 libmp3lame -b:a:0 32k -c:a:1 aac -b:a:1 32k");
    raw_ = clitest::media_file("clip.h264", kVideo + kH264 + "-f h264");
    ASSERT_FALSE(h264_.empty() || raw_.empty());
  }
  std::string out(const std::string& name) const { return scratch_.path() + "/" + name; }
  // Runs `extract` to `name`; an Annex B stream that starts with a sequence
  // parameter set, decodes without error and gives `frames` frames.
  void ExpectDecodableAnnexB(std::vector<std::string> args, int frames) {
    args.insert(args.begin(), "extract");
    args.push_back("0:" + out("v.h264"));
    ASSERT_EQ(run_cli(args).status, 0);
    const auto bytes = zeptest::read_file(out("v.h264"));
    ASSERT_GE(bytes.size(), 5u);
    EXPECT_EQ(zeptest::Bytes(bytes.begin(), bytes.begin() + 5), (zeptest::Bytes{0, 0, 0, 1, 0x67}));
    EXPECT_EQ(clitest::decoded_frames(out("v.h264"), "h264"), frames) << args[1];
    EXPECT_EQ(zeptest::run_command("ffmpeg -nostdin -v error -xerror -f h264 -i " +
                                   shell_quote(out("v.h264")) + " -f null -"),
              0);
  }
  zeptest::TempDir scratch_;
  std::string h264_, raw_;
};

TEST_F(CliMedia, ExtractWritesEveryStreamAsFfmpegDoes) {
  for (const char* mode : {"--push", "--pull"}) {
    std::vector<std::string> args = {"extract", h264_, "0:" + out("0"), "1:" + out("1"),
                                     "2:" + out("2")};
    if (mode[4] == 'l') args.push_back(mode);
    ASSERT_EQ(run_cli(args).status, 0);
    for (const char* s : {"0", "1", "2"}) {
      const auto theirs =
          zeptest::command_output("ffmpeg -nostdin -v error -i " + shell_quote(h264_) +
                                  " -map 0:" + s + " -c copy -f data -");
      const auto ours = zeptest::read_file(out(s));
      EXPECT_TRUE(!theirs.empty() && std::string(ours.begin(), ours.end()) == theirs) << s << mode;
    }
  }
}

TEST_F(CliMedia, AnnexBOutputStartsWithParameterSetsAndDecodes) {
  const int all = clitest::decoded_frames(h264_);
  ExpectDecodableAnnexB({h264_, "--es"}, all);
  ExpectDecodableAnnexB({h264_, "--pull", "--es"}, all);
  // Key frames every 12 frames at 25 fps: 1.1 s goes back to frame 24.
  ExpectDecodableAnnexB({h264_, "--es", "--start", "1.1"}, 50 - 24);
  ExpectDecodableAnnexB({raw_, "--es"}, clitest::decoded_frames(raw_, "h264"));
}

TEST_F(CliMedia, PacketTimesAndKeyFlagsAgreeWithFfprobe) {
  std::vector<json> video;
  for (const json& packet : cli_json({"packets", h264_, "--json"}, true))
    if (packet["type"] == "video") video.push_back(packet);
  const json packets = json::parse(
      zeptest::command_output("ffprobe -v error -select_streams v:0 -show_packets -of json " +
                              shell_quote(h264_)))["packets"];
  ASSERT_EQ(video.size(), packets.size());
  for (size_t i = 0; i < video.size(); ++i) {
    // AVI stores no presentation times: ffprobe's are the decoding times.
    const json& p = packets[i];
    clitest::expect_json_subset(video[i],
                                {{"time", std::stod(p["dts_time"].get<std::string>())},
                                 {"duration", 0.04},
                                 {"key", p["flags"].get<std::string>()[0] == 'K'},
                                 {"size", std::stoi(p["size"].get<std::string>())}},
                                1e-6, std::to_string(i));
  }
}

TEST_F(CliMedia, SeekGoesToTheKeyFrameAtOrBeforeTheTime) {
  // The key frame before the time is pinned by the golden seek lists; the next one is frame 24.
  const json next = cli_json({"seek", h264_, "--time", "0.5", "--sync", "next", "--json"});
  EXPECT_NEAR(next["reached"].get<double>(), 0.96, 1e-6);
  // From the last key frame there is no next one (the failure still says what
  // failed); a time past the end; a stream not there.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"seek", h264_, "--time", "1.95", "--sync", "next"},
        {"seek", h264_, "--time", "30"},
        {"extract", h264_, "7:" + out("x")}}) {
    const auto result = run_cli(args);
    EXPECT_EQ(result.status, 1) << args[2];
    EXPECT_NE(result.err.find("zepdemux: "), std::string::npos) << result.err;
  }
}

}  // namespace
