// The CLI end to end on AVI and raw H.264 files made by ffmpeg, with ffmpeg
// and ffprobe as the oracle: extracted payloads, Annex B output that decodes,
// packet times and key flags, seeking and the read command.
#include <gtest/gtest.h>

#include "cli_runner.h"

namespace {

using clitest::cli_json;
using clitest::run_cli;
using nlohmann::json;

// 160x120 H.264 with B-frames and a key frame every 12 frames; 160x120 is not
// a whole number of macroblocks high: the stream is cropped.
const std::string kH264 =
    "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v libx264 -preset ultrafast -bf 2 "
    "-g 12 -x264-params scenecut=0:open-gop=0 ";

// An Annex B stream that starts with a sequence parameter set and decodes.
void expect_decodable_annexb(const std::string& path, int frames) {
  const auto bytes = zeptest::read_file(path);
  ASSERT_GE(bytes.size(), 5u) << path;
  EXPECT_EQ(zeptest::Bytes(bytes.begin(), bytes.begin() + 5), (zeptest::Bytes{0, 0, 0, 1, 0x67}));
  EXPECT_EQ(clitest::decoded_frames(path, "h264"), frames) << path;
  EXPECT_EQ(zeptest::run_command("ffmpeg -v error -xerror -f h264 -i " +
                                 clitest::shell_quote(path) + " -f null - </dev/null"),
            0);
}

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
                                "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -f lavfi -i "
                                "sine=frequency=440:sample_rate=44100:duration=2 -map 0:v -map 1:a "
                                "-map 1:a " +
                                    kH264.substr(kH264.find("-c:v")) +
                                    "-c:a:0 libmp3lame -b:a:0 32k -c:a:1 aac -b:a:1 32k");
    mpeg4_ = clitest::media_file(
        "mpeg4_ac3_pcm.avi",
        "-f lavfi -i testsrc=size=176x144:rate=15:duration=2 -f lavfi -i "
        "sine=frequency=300:sample_rate=48000:duration=2 -map 0:v -map 1:a -map 1:a -c:v mpeg4 "
        "-g 10 -c:a:0 ac3 -b:a:0 96k -c:a:1 pcm_s16le");
    raw_ = clitest::media_file("clip.h264", kH264 + "-f h264");
    ASSERT_FALSE(h264_.empty() || mpeg4_.empty() || raw_.empty());
  }
  std::string out(const std::string& name) const { return scratch_.path() + "/" + name; }
  zeptest::TempDir scratch_;
  std::string h264_, mpeg4_, raw_;
};

TEST_F(CliMedia, ExtractWritesEveryStreamAsFfmpegDoes) {
  for (const auto& file : {h264_, mpeg4_}) {
    for (const bool pull : {false, true}) {
      std::vector<std::string> args = {"extract", file, "0:" + out("s0"), "1:" + out("s1"),
                                       "2:" + out("s2")};
      if (pull) args.push_back("--pull");
      const auto result = run_cli(args);
      ASSERT_EQ(result.status, 0) << result.err;
      for (int s = 0; s < 3; ++s) {
        const auto theirs = clitest::ffmpeg_stream_bytes(file, s, scratch_.path());
        ASSERT_FALSE(theirs.empty()) << "stream " << s;
        EXPECT_TRUE(clitest::slurp(out("s" + std::to_string(s))) == theirs)
            << file << " stream " << s << " pull " << pull;
      }
    }
  }
}

TEST_F(CliMedia, AnnexBOutputStartsWithParameterSetsAndDecodes) {
  const int all = clitest::decoded_frames(h264_);
  // Key frames every 12 frames at 25 fps: 1.1 s goes back to frame 24.
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"--es"}, all}, {{"--pull", "--es"}, all}, {{"--es", "--start", "1.1"}, 50 - 24}};
  for (const auto& [options, frames] : cases) {
    std::vector<std::string> args = {"extract", h264_, "0:" + out("video.h264")};
    args.insert(args.end(), options.begin(), options.end());
    const auto result = run_cli(args);
    ASSERT_EQ(result.status, 0) << result.err;
    expect_decodable_annexb(out("video.h264"), frames);
  }
}

TEST_F(CliMedia, PacketTimesAndKeyFlagsAgreeWithFfprobe) {
  std::vector<json> video;
  for (const json& packet : cli_json({"packets", h264_, "--json"}, true))
    if (packet["type"] == "video") video.push_back(packet);
  const json packets = json::parse(
      zeptest::command_output("ffprobe -v error -select_streams v:0 -show_packets -of json " +
                              clitest::shell_quote(h264_)))["packets"];
  ASSERT_EQ(video.size(), packets.size());
  for (size_t i = 0; i < video.size(); ++i) {
    const auto& theirs = packets[i];
    // AVI stores no presentation times: ffprobe's are the decoding times.
    EXPECT_NEAR(video[i]["time"].get<double>(), std::stod(theirs["dts_time"].get<std::string>()),
                1e-6)
        << i;
    EXPECT_NEAR(video[i]["duration"].get<double>(), 0.04, 1e-6) << i;
    EXPECT_EQ(video[i]["key"].get<bool>(), theirs["flags"].get<std::string>()[0] == 'K') << i;
    EXPECT_EQ(video[i]["size"].get<int>(), std::stoi(theirs["size"].get<std::string>())) << i;
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
    for (const json& packet : cli_json({"packets", file, "--json"}, true)) {
      ++blocks;
      bytes += packet["size"].get<uint64_t>();
    }
    if (file == raw_) EXPECT_EQ(int(blocks), clitest::decoded_frames(raw_, "h264"));
    for (const char* mode : {"push", "pull"}) {
      std::vector<std::string> args = {"read", file, "--json"};
      if (std::string(mode) == "pull") args.push_back("--pull");
      clitest::expect_json_subset(cli_json(args),
                                  {{"blocks", blocks}, {"bytes", bytes}, {"mode", mode}});
    }
  }
}

TEST_F(CliMedia, SeekGoesToTheKeyFrameAtOrBeforeTheTime) {
  const json seek = cli_json({"seek", h264_, "--time", "1.3", "--json"});
  EXPECT_NEAR(seek["reached"].get<double>(), 0.96, 1e-6);  // frame 24
  const json next = cli_json({"seek", h264_, "--time", "0.5", "--sync", "next", "--json"});
  EXPECT_NEAR(next["reached"].get<double>(), 0.96, 1e-6);
  // From the last key frame there is no next one; a time past the end; a stream not there.
  for (const std::vector<std::string>& args :
       {std::vector<std::string>{"seek", h264_, "--time", "1.95", "--sync", "next"},
        {"seek", h264_, "--time", "30"},
        {"extract", h264_, "7:" + out("x")}}) {
    const auto result = run_cli(args);
    EXPECT_EQ(result.status, 1) << args[2];
    EXPECT_NE(result.err.find("zepdemux: "), std::string::npos) << result.err;
  }
}

TEST_F(CliMedia, RawH264ExtractWritesLengthPrefixedUnitsAndEsDecodes) {
  auto result = run_cli({"extract", raw_, "0:" + out("units")});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto bytes = zeptest::read_file(out("units"));
  // Every unit is a 4-byte big-endian length and that many bytes, to the end.
  size_t pos = 0, count = 0;
  for (; pos + 4 <= bytes.size(); ++count) {
    const size_t length = size_t(bytes[pos]) << 24 | size_t(bytes[pos + 1]) << 16 |
                          size_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
    ASSERT_GT(length, 0u);
    pos += 4 + length;
  }
  EXPECT_EQ(pos, bytes.size());
  EXPECT_GT(count, 50u);
  result = run_cli({"extract", raw_, "--es", "0:" + out("annexb.h264")});
  ASSERT_EQ(result.status, 0) << result.err;
  expect_decodable_annexb(out("annexb.h264"), clitest::decoded_frames(raw_, "h264"));
}

}  // namespace
