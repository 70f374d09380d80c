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
    // H.264 with MP3 and AAC; MPEG-4 visual with AC-3 and PCM; the H.264 alone.
    h264_ = clitest::media_file("h264_mp3_aac.avi",
                                kVideo +
                                    "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "
                                    "-map 0:v -map 1:a -map 1:a " +
                                    kH264 + "-c:a:0 libmp3lame -b:a:0 32k -c:a:1 aac -b:a:1 32k");
    mpeg4_ = clitest::media_file(
        "mpeg4_ac3_pcm.avi",
        "-f lavfi -i testsrc=size=176x144:rate=15:duration=2 -f lavfi -i "
        "sine=frequency=300:sample_rate=48000:duration=2 -map 0:v -map 1:a -map 1:a -c:v mpeg4 "
        "-g 10 -c:a:0 ac3 -b:a:0 96k -c:a:1 pcm_s16le");
    raw_ = clitest::media_file("clip.h264", kVideo + kH264 + "-f h264");
    ASSERT_FALSE(h264_.empty() || mpeg4_.empty() || raw_.empty());
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
  std::string h264_, mpeg4_, raw_;
};

TEST_F(CliMedia, ExtractWritesEveryStreamAsFfmpegDoes) {
  for (const auto& file : {h264_, mpeg4_}) {
    for (const char* mode : {"--push", "--pull"}) {
      std::vector<std::string> args = {"extract", file, "0:" + out("0"), "1:" + out("1"),
                                       "2:" + out("2")};
      if (mode[4] == 'l') args.push_back(mode);
      ASSERT_EQ(run_cli(args).status, 0);
      for (const char* s : {"0", "1", "2"}) {
        const auto theirs =
            zeptest::command_output("ffmpeg -nostdin -v error -i " + shell_quote(file) +
                                    " -map 0:" + s + " -c copy -f data -");
        ASSERT_FALSE(theirs.empty()) << "stream " << s;
        const auto ours = zeptest::read_file(out(s));
        EXPECT_TRUE(std::string(ours.begin(), ours.end()) == theirs) << file << " " << s << mode;
      }
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

TEST_F(CliMedia, InfoDescribesEveryStream) {
  const json info = cli_json({"info", h264_, "--json"});
  clitest::expect_json_subset(info, json::parse(R"({"container": "avi", "titles": [{"streams": [
      {"type": "video", "codec_id": 10, "width": 160, "height": 120, "frame_duration": 0.04},
      {"codec_id": 131, "sample_rate": 44100}, {"codec_id": 143, "channels": 1}]}]})"),
                              1e-9);
  EXPECT_NEAR(info["titles"][0]["duration"].get<double>(), 2.0, 0.05);
  EXPECT_GT(info["titles"][0]["streams"][0]["codec_header_size"].get<int>(), 8);
  const json raw = cli_json({"info", raw_, "--json"});
  clitest::expect_json_subset(raw, json::parse(R"({"container": "h264", "layer": "container",
      "titles": [{"streams": [{"codec_id": 10, "width": 160, "height": 120}]}]})"));
  EXPECT_GT(raw["titles"][0]["streams"][0]["private_data_size"].get<int>(), 11);
}

TEST_F(CliMedia, ReadCountsEveryBlockInBothModes) {
  for (const auto& file : {mpeg4_, raw_}) {
    uint64_t blocks = 0, bytes = 0;
    for (const json& packet : cli_json({"packets", file, "--json"}, true))
      ++blocks, bytes += packet["size"].get<uint64_t>();
    if (file == raw_) EXPECT_EQ(int(blocks), clitest::decoded_frames(raw_, "h264"));
    clitest::expect_json_subset(cli_json({"read", file, "--json"}),
                                {{"blocks", blocks}, {"bytes", bytes}, {"mode", "push"}});
    clitest::expect_json_subset(cli_json({"read", file, "--json", "--pull"}),
                                {{"blocks", blocks}, {"bytes", bytes}, {"mode", "pull"}});
  }
}

TEST_F(CliMedia, SeekGoesToTheKeyFrameAtOrBeforeTheTime) {
  EXPECT_NEAR(cli_json({"seek", h264_, "--time", "1.3", "--json"})["reached"].get<double>(), 0.96,
              1e-6);  // frame 24
  EXPECT_NEAR(cli_json({"seek", h264_, "--time", "0.5", "--sync", "next", "--json"})["reached"]
                  .get<double>(),
              0.96, 1e-6);
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

TEST_F(CliMedia, RawH264ExtractWritesLengthPrefixedUnits) {
  ASSERT_EQ(run_cli({"extract", raw_, "0:" + out("units")}).status, 0);
  const auto bytes = zeptest::read_file(out("units"));
  // Every unit is a 4-byte big-endian length and that many bytes, to the end.
  size_t pos = 0, count = 0;
  for (; pos + 4 <= bytes.size(); ++count) {
    const size_t length =
        size_t(bytes[pos]) << 24 | bytes[pos + 1] << 16 | bytes[pos + 2] << 8 | bytes[pos + 3];
    ASSERT_GT(length, 0u);
    pos += 4 + length;
  }
  EXPECT_EQ(pos, bytes.size());
  EXPECT_GT(count, 50u);
}

}  // namespace
