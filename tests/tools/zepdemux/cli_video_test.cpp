// The CLI end to end on AVI and raw H.264 files made by ffmpeg, with ffmpeg
// and ffprobe as the independent oracle: extracted payloads, Annex B output
// that decodes, seeking, packet times and key flags, and the read command.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "cli_runner.h"
#include "tests/support/byte_writer.h"

namespace {

using clitest::cli_json;
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

// The same video alone as a raw stream; 160x120 is not a whole number of
// macroblocks high: the stream is cropped.
std::string raw_h264() {
  return media_file("clip.h264",
                    "-f lavfi -i testsrc2=size=160x120:rate=25:duration=2 -c:v libx264 "
                    "-preset ultrafast -bf 2 -g 12 -x264-params scenecut=0:open-gop=0 -f h264");
}

// An Annex B stream that starts with a sequence parameter set and decodes.
void expect_decodable_annexb(const std::string& path, int frames) {
  const auto bytes = zeptest::read_file(path);
  ASSERT_GE(bytes.size(), 5u) << path;
  EXPECT_EQ(zeptest::Bytes(bytes.begin(), bytes.begin() + 4), (zeptest::Bytes{0, 0, 0, 1}));
  EXPECT_EQ(bytes[4] & 0x1F, 7) << "the stream begins with a sequence parameter set";
  EXPECT_EQ(clitest::decoded_frames(path, "h264"), frames) << path;
}

class CliMedia : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!zeptest::have_tool("ffmpeg") || !zeptest::have_tool("ffprobe"))
      GTEST_SKIP() << "ffmpeg is not installed";
  }
  zeptest::TempDir scratch_;
};

class CliAvi : public CliMedia {
 protected:
  void SetUp() override {
#ifndef ZEPCLI_HAVE_AVI
    GTEST_SKIP() << "the AVI read module is not built";
#endif
    CliMedia::SetUp();
    h264_ = h264_avi();
    mpeg4_ = mpeg4_avi();
    ASSERT_FALSE(h264_.empty() || mpeg4_.empty());
  }
  std::string h264_, mpeg4_;
};

class CliH264 : public CliMedia {
 protected:
  void SetUp() override {
#ifndef ZEPCLI_HAVE_H264
    GTEST_SKIP() << "the H.264 read module is not built";
#endif
    CliMedia::SetUp();
    file_ = raw_h264();
    ASSERT_FALSE(file_.empty());
  }
  std::string file_;
};

TEST_F(CliAvi, ExtractWritesEveryStreamAsFfmpegDoes) {
  for (const auto& file : {h264_, mpeg4_}) {
    for (const bool pull : {false, true}) {
      std::vector<std::string> args = {"extract", file};
      if (pull) args.push_back("--pull");
      for (const char* s : {"0", "1", "2"}) args.push_back(s + (":" + scratch_.path() + "/s") + s);
      const auto result = run_cli(args);
      ASSERT_EQ(result.status, 0) << result.err;
      for (int s = 0; s < 3; ++s) {
        const auto ours = zeptest::read_file(scratch_.path() + "/s" + std::to_string(s));
        const auto theirs = clitest::ffmpeg_stream_bytes(file, s, scratch_.path());
        ASSERT_FALSE(theirs.empty()) << "stream " << s;
        EXPECT_EQ(ours.size(), theirs.size()) << file << " stream " << s << " pull " << pull;
        EXPECT_TRUE(std::string(ours.begin(), ours.end()) == theirs) << file << " stream " << s;
      }
    }
  }
}

TEST_F(CliAvi, AnnexBOutputStartsWithParameterSetsAndDecodes) {
  const std::string out = scratch_.path() + "/video.h264";
  const int all = clitest::decoded_frames(h264_);
  // Key frames every 12 frames at 25 fps: 1.1 s goes back to frame 24.
  const std::pair<std::vector<std::string>, int> cases[] = {
      {{"--es"}, all}, {{"--pull", "--es"}, all}, {{"--es", "--start", "1.1"}, 50 - 24}};
  for (const auto& [options, frames] : cases) {
    std::vector<std::string> args = {"extract", h264_};
    args.insert(args.end(), options.begin(), options.end());
    args.push_back("0:" + out);
    const auto result = run_cli(args);
    ASSERT_EQ(result.status, 0) << result.err;
    expect_decodable_annexb(out, frames);
    EXPECT_EQ(zeptest::run_command("ffmpeg -v error -xerror -f h264 -i " +
                                   clitest::shell_quote(out) + " -f null - </dev/null"),
              0);
  }
}

TEST_F(CliAvi, PacketTimesAndKeyFlagsAgreeWithFfprobe) {
  std::vector<json> video;
  size_t audio = 0;
  for (const json& packet : cli_json({"packets", h264_, "--json"}, true)) {
    for (const char* key : {"stream", "type", "time", "duration", "size", "key", "crc32"})
      ASSERT_TRUE(packet.contains(key)) << packet.dump();
    if (packet["type"] == "video") video.push_back(packet);
    if (packet["type"] == "audio") ++audio;
  }
  const json probe = json::parse(
      zeptest::command_output("ffprobe -v error -select_streams v:0 -show_packets -of json " +
                              clitest::shell_quote(h264_)));
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
  const json info = cli_json({"info", h264_, "--json"});
  clitest::expect_json_subset(info, json::parse(R"({"container": "avi", "titles": [{"streams": [
      {"type": "video", "codec_id": 10, "width": 160, "height": 120, "frame_duration": 0.04},
      {"codec_id": 131, "sample_rate": 44100}, {"codec_id": 143, "channels": 1}]}]})"),
                              1e-9);
  EXPECT_NEAR(info["titles"][0]["duration"].get<double>(), 2.0, 0.05);
  EXPECT_GT(info["titles"][0]["streams"][0]["codec_header_size"].get<int>(), 8);
  const auto text = run_cli({"info", h264_});
  ASSERT_EQ(text.status, 0);
  EXPECT_NE(text.out.find("H.264"), std::string::npos) << text.out;
}

TEST_F(CliAvi, ReadCountsEveryBlockInBothModes) {
  uint64_t blocks = 0, bytes = 0;
  for (const json& packet : cli_json({"packets", mpeg4_, "--json"}, true)) {
    ++blocks;
    bytes += packet["size"].get<uint64_t>();
  }
  for (const char* mode : {"push", "pull"}) {
    std::vector<std::string> args = {"read", mpeg4_, "--json"};
    if (std::string(mode) == "pull") args.push_back("--pull");
    clitest::expect_json_subset(cli_json(args),
                                {{"blocks", blocks}, {"bytes", bytes}, {"mode", mode}});
  }
}

TEST_F(CliAvi, SeekGoesToTheKeyFrameAtOrBeforeTheTime) {
  const json seek = cli_json({"seek", h264_, "--time", "1.3", "--count", "12", "--json"});
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
  const json next = cli_json({"seek", h264_, "--time", "0.5", "--sync", "next", "--json"});
  EXPECT_NEAR(next["reached"].get<double>(), 0.96, 1e-6);
}

TEST_F(CliAvi, FailedCommandsSayWhatFailed) {
  const std::vector<std::pair<std::vector<std::string>, const char*>> cases = {
      // From the last key frame there is no next one.
      {{"seek", h264_, "--time", "1.95", "--sync", "next"}, "zepdemux: "},
      {{"seek", h264_, "--time", "30"}, "Invalid seek time"},
      {{"extract", h264_, "7:" + scratch_.path() + "/x"}, "out of range"},
  };
  for (const auto& [args, message] : cases) {
    const auto result = run_cli(args);
    EXPECT_EQ(result.status, 1) << message;
    EXPECT_NE(result.err.find(message), std::string::npos) << result.err;
  }
}

TEST_F(CliH264, InfoDescribesTheStream) {
  const json info = cli_json({"info", file_, "--json"});
  clitest::expect_json_subset(info, json::parse(R"({"container": "h264", "layer": "container",
      "titles": [{"streams": [{"codec_id": 10, "width": 160, "height": 120}]}]})"));
  EXPECT_GT(info["titles"][0]["streams"][0]["private_data_size"].get<int>(), 11);
  EXPECT_GT(info["titles"][0]["streams"][0]["codec_header_size"].get<int>(), 8);
}

TEST_F(CliH264, PacketsAreTheAccessUnitsWithKeyIdrPictures) {
  const json packets = cli_json({"packets", file_, "--json"}, true);
  ASSERT_EQ(int(packets.size()), clitest::decoded_frames(file_, "h264"));
  int keys = 0;
  for (size_t i = 0; i < packets.size(); ++i) {
    EXPECT_EQ(packets[i]["type"], "video");
    if (packets[i]["key"].get<bool>()) {
      ++keys;
      EXPECT_EQ(i % 12, 0u) << "key frames every 12 pictures";
    }
  }
  EXPECT_EQ(keys, 5);
  EXPECT_DOUBLE_EQ(packets[0]["time"].get<double>(), 0.0);
  EXPECT_EQ(cli_json({"read", file_, "--json"})["blocks"].get<size_t>(), packets.size());
}

TEST_F(CliH264, ExtractWritesLengthPrefixedUnitsAndEsDecodes) {
  const std::string units = scratch_.path() + "/units";
  const std::string annexb = scratch_.path() + "/annexb.h264";
  auto result = run_cli({"extract", file_, "0:" + units});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto bytes = zeptest::read_file(units);
  // Every unit is a 4-byte big-endian length and that many bytes, to the end.
  size_t pos = 0, count = 0;
  while (pos + 4 <= bytes.size()) {
    const size_t length = size_t(bytes[pos]) << 24 | size_t(bytes[pos + 1]) << 16 |
                          size_t(bytes[pos + 2]) << 8 | bytes[pos + 3];
    ASSERT_GT(length, 0u);
    pos += 4 + length;
    ++count;
  }
  EXPECT_EQ(pos, bytes.size());
  EXPECT_GT(count, 50u);
  result = run_cli({"extract", file_, "--es", "0:" + annexb});
  ASSERT_EQ(result.status, 0) << result.err;
  expect_decodable_annexb(annexb, clitest::decoded_frames(file_, "h264"));
}

}  // namespace
