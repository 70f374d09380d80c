// The CLI end to end on AVI files made by ffmpeg, with ffmpeg and ffprobe
// as the independent oracle: extracted payloads, Annex B output that
// decodes, seeking, packet times and key flags, and the read command.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "tests/support/byte_writer.h"

namespace {

using clitest::media_file;
using clitest::run_cli;
using nlohmann::json;

// 2 s of 160x120 H.264 with B-frames and a key frame every 12 frames, MP3
// and AAC audio.
std::string h264_avi() {
  return media_file("h264_mp3_aac.avi",
                    "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 "
                    "-f lavfi -i sine=frequency=440:sample_rate=44100:duration=2 "
                    "-map 0:v -map 1:a -map 1:a -c:v libx264 -preset ultrafast -bf 2 -g 12 "
                    "-x264-params scenecut=0:open-gop=0 "
                    "-c:a:0 libmp3lame -b:a:0 32k -c:a:1 aac -b:a:1 32k");
}

// MPEG-4 visual with AC-3 and PCM audio.
std::string mpeg4_avi() {
  return media_file("mpeg4_ac3_pcm.avi",
                    "-f lavfi -i testsrc=size=176x144:rate=15:duration=2 "
                    "-f lavfi -i sine=frequency=300:sample_rate=48000:duration=2 "
                    "-map 0:v -map 1:a -map 1:a -c:v mpeg4 -g 10 -c:a:0 ac3 -b:a:0 96k "
                    "-c:a:1 pcm_s16le");
}

class CliAvi : public ::testing::Test {
 protected:
  void SetUp() override {
#ifndef ZEPCLI_HAVE_AVI
    GTEST_SKIP() << "the AVI read module is not built";
#endif
    if (!zeptest::have_tool("ffmpeg") || !zeptest::have_tool("ffprobe"))
      GTEST_SKIP() << "ffmpeg is not installed";
  }
  zeptest::TempDir scratch_;
};

void expect_extract_equals_ffmpeg(const std::string& file, int streams, bool pull,
                                  const std::string& scratch) {
  std::vector<std::string> args = {"extract", file};
  if (pull) args.push_back("--pull");
  for (int s = 0; s < streams; ++s)
    args.push_back(std::to_string(s) + ":" + scratch + "/s" + std::to_string(s));
  const auto result = run_cli(args);
  ASSERT_EQ(result.status, 0) << result.err;
  for (int s = 0; s < streams; ++s) {
    const auto ours = zeptest::read_file(scratch + "/s" + std::to_string(s));
    const auto theirs = clitest::ffmpeg_stream_bytes(file, s, scratch);
    ASSERT_FALSE(theirs.empty()) << "stream " << s;
    EXPECT_EQ(ours.size(), theirs.size()) << file << " stream " << s << (pull ? " pull" : " push");
    EXPECT_TRUE(std::string(ours.begin(), ours.end()) == theirs) << file << " stream " << s;
  }
}

TEST_F(CliAvi, ExtractWritesEveryStreamAsFfmpegDoes) {
  for (const auto& file : {h264_avi(), mpeg4_avi()}) {
    ASSERT_FALSE(file.empty());
    expect_extract_equals_ffmpeg(file, 3, false, scratch_.path());
    expect_extract_equals_ffmpeg(file, 3, true, scratch_.path());
  }
}

TEST_F(CliAvi, AnnexBOutputDecodesToEveryFrame) {
  const auto file = h264_avi();
  ASSERT_FALSE(file.empty());
  const std::string out = scratch_.path() + "/video.h264";
  for (const char* mode : {"--es", "--pull"}) {
    std::vector<std::string> args = {"extract", file, "--es", "0:" + out};
    if (std::string(mode) == "--pull") args.insert(args.begin() + 2, "--pull");
    const auto result = run_cli(args);
    ASSERT_EQ(result.status, 0) << result.err;
    const auto bytes = zeptest::read_file(out);
    ASSERT_GE(bytes.size(), 5u);
    EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4),
              (std::vector<uint8_t>{0, 0, 0, 1}));
    EXPECT_EQ(bytes[4] & 0x1F, 7) << "the stream begins with a sequence parameter set";
    EXPECT_EQ(clitest::decoded_frames(out, "h264"), clitest::decoded_frames(file));
  }
}

TEST_F(CliAvi, SeekThenExtractStartsWithParameterSetsAndDecodes) {
  const auto file = h264_avi();
  ASSERT_FALSE(file.empty());
  const std::string out = scratch_.path() + "/tail.h264";
  const auto result = run_cli({"extract", file, "--es", "--start", "1.1", "0:" + out});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto bytes = zeptest::read_file(out);
  ASSERT_GE(bytes.size(), 5u);
  EXPECT_EQ(std::vector<uint8_t>(bytes.begin(), bytes.begin() + 4),
            (std::vector<uint8_t>{0, 0, 0, 1}));
  EXPECT_EQ(bytes[4] & 0x1F, 7);
  // Key frames every 12 frames at 25 fps: 1.1 s goes back to frame 24.
  const int frames = clitest::decoded_frames(out, "h264");
  EXPECT_EQ(frames, 50 - 24);
  EXPECT_EQ(zeptest::run_command("ffmpeg -v error -xerror -f h264 -i " + clitest::shell_quote(out) +
                                 " -f null - </dev/null"),
            0);
}

TEST_F(CliAvi, PacketTimesAndKeyFlagsAgreeWithFfprobe) {
  const auto file = h264_avi();
  ASSERT_FALSE(file.empty());
  const auto result = run_cli({"packets", file, "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<json> video;
  size_t audio = 0;
  for (const auto& line : clitest::lines_of(result.out)) {
    const json packet = json::parse(line);
    for (const char* key : {"stream", "type", "time", "duration", "size", "key", "crc32"})
      ASSERT_TRUE(packet.contains(key)) << line;
    if (packet["type"] == "video") video.push_back(packet);
    if (packet["type"] == "audio") ++audio;
  }
  const json probe = json::parse(zeptest::command_output(
      "ffprobe -v error -select_streams v:0 -show_packets -of json " + clitest::shell_quote(file)));
  const auto& packets = probe["packets"];
  ASSERT_EQ(video.size(), packets.size());
  for (size_t i = 0; i < video.size(); ++i) {
    const auto& theirs = packets[i];
    // AVI stores no presentation times: ffprobe's are the decoding times.
    const double time = std::stod(theirs["dts_time"].get<std::string>());
    EXPECT_NEAR(video[i]["time"].get<double>(), time, 1e-6) << "packet " << i;
    EXPECT_NEAR(video[i]["duration"].get<double>(), 0.04, 1e-6) << "packet " << i;
    EXPECT_EQ(video[i]["key"].get<bool>(), theirs["flags"].get<std::string>()[0] == 'K') << i;
    EXPECT_EQ(video[i]["size"].get<int>(), std::stoi(theirs["size"].get<std::string>())) << i;
  }
  EXPECT_GT(audio, 0u);
}

TEST_F(CliAvi, InfoDescribesEveryStream) {
  const auto file = h264_avi();
  ASSERT_FALSE(file.empty());
  const auto result = run_cli({"info", file, "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const json info = json::parse(result.out);
  EXPECT_EQ(info["container"], "avi");
  ASSERT_EQ(info["titles"].size(), 1u);
  const auto& title = info["titles"][0];
  EXPECT_NEAR(title["duration"].get<double>(), 2.0, 0.05);
  const auto& streams = title["streams"];
  ASSERT_EQ(streams.size(), 3u);
  EXPECT_EQ(streams[0]["type"], "video");
  EXPECT_EQ(streams[0]["codec_id"], 10);
  EXPECT_EQ(streams[0]["width"], 160);
  EXPECT_EQ(streams[0]["height"], 120);
  EXPECT_NEAR(streams[0]["frame_duration"].get<double>(), 0.04, 1e-9);
  EXPECT_GT(streams[0]["codec_header_size"].get<int>(), 8);
  EXPECT_EQ(streams[1]["codec_id"], 131);
  EXPECT_EQ(streams[1]["sample_rate"], 44100);
  EXPECT_EQ(streams[2]["codec_id"], 143);
  EXPECT_EQ(streams[2]["channels"], 1);

  const auto text = run_cli({"info", file});
  ASSERT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("H.264"), std::string::npos) << text.out;
}

TEST_F(CliAvi, ReadCountsEveryBlockInBothModes) {
  const auto file = mpeg4_avi();
  ASSERT_FALSE(file.empty());
  const auto listing = run_cli({"packets", file, "--json"});
  ASSERT_EQ(listing.status, 0) << listing.err;
  uint64_t blocks = 0, bytes = 0;
  for (const auto& line : clitest::lines_of(listing.out)) {
    ++blocks;
    bytes += json::parse(line)["size"].get<uint64_t>();
  }
  for (const char* mode : {"push", "pull"}) {
    std::vector<std::string> args = {"read", file, "--json"};
    if (std::string(mode) == "pull") args.push_back("--pull");
    const auto result = run_cli(args);
    ASSERT_EQ(result.status, 0) << result.err;
    const json read = json::parse(result.out);
    EXPECT_EQ(read["blocks"].get<uint64_t>(), blocks) << mode;
    EXPECT_EQ(read["bytes"].get<uint64_t>(), bytes) << mode;
    EXPECT_EQ(read["mode"], mode);
  }
}

TEST_F(CliAvi, SeekGoesToTheKeyFrameAtOrBeforeTheTime) {
  const auto file = h264_avi();
  ASSERT_FALSE(file.empty());
  const auto result = run_cli({"seek", file, "--time", "1.3", "--count", "12", "--json"});
  ASSERT_EQ(result.status, 0) << result.err;
  const json seek = json::parse(result.out);
  EXPECT_NEAR(seek["requested"].get<double>(), 1.3, 1e-9);
  EXPECT_NEAR(seek["reached"].get<double>(), 0.96, 1e-6);  // frame 24
  ASSERT_EQ(seek["packets"].size(), 12u);
  // Every stream moved, not only the first: the audio resumes near the
  // video's key frame, and the packets come in time order.
  bool saw_video = false;
  double previous = 0;
  for (const auto& packet : seek["packets"]) {
    const double time = packet["time"].get<double>();
    EXPECT_GT(time, 0.5) << packet.dump();
    EXPECT_GE(time, previous) << packet.dump();
    previous = time;
    if (packet["type"] == "video" && !saw_video) {
      saw_video = true;
      EXPECT_TRUE(packet["key"].get<bool>());
      EXPECT_NEAR(time, 0.96, 1e-6);
    }
  }
  EXPECT_TRUE(saw_video);

  const auto next = run_cli({"seek", file, "--time", "0.5", "--sync", "next", "--json"});
  ASSERT_EQ(next.status, 0) << next.err;
  EXPECT_NEAR(json::parse(next.out)["reached"].get<double>(), 0.96, 1e-6);

  // From the last key frame there is no next one: a failure that says so.
  const auto last = run_cli({"seek", file, "--time", "1.95", "--sync", "next"});
  EXPECT_EQ(last.status, 1);
  EXPECT_NE(last.err.find("zepdemux: "), std::string::npos);

  const auto beyond = run_cli({"seek", file, "--time", "30"});
  EXPECT_EQ(beyond.status, 1);
  EXPECT_NE(beyond.err.find("Invalid seek time"), std::string::npos) << beyond.err;
}

TEST_F(CliAvi, StreamOutsideTheTitleFails) {
  const auto file = h264_avi();
  ASSERT_FALSE(file.empty());
  const auto result = run_cli({"extract", file, "7:" + scratch_.path() + "/x"});
  EXPECT_EQ(result.status, 1);
  EXPECT_NE(result.err.find("out of range"), std::string::npos) << result.err;
}

}  // namespace
