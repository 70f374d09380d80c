// libx264 streams read by the module against ffprobe's packets and frames, and ffmpeg's decoding
// of the module's output turned back into Annex B.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <nlohmann/json.hpp>
#include <sstream>

#include "modules/h264/h264_annexb.h"
#include "modules/h264/h264_bitstream.h"
#include "tests/modules/h264/h264_stream_fixture.h"

namespace {

using namespace zeptest;
using namespace h264test;

// Name, filters and encoder options, the POC type x264 chooses.
struct StreamCase {
  const char* name;
  const char* ffmpeg_options;
  uint32_t poc_type;
};

constexpr int64_t kFrameDuration = 400000;  // 25 frames a second, in 100 ns

const StreamCase kCases[] = {
    {"baseline", "-c:v libx264 -profile:v baseline -x264-params keyint=10:min-keyint=10:scenecut=0",
     2},
    {"main_bframes_aud", "-c:v libx264 -profile:v main -x264-params aud=1:keyint=12:bframes=3", 0},
    {"cropped_sar", "-vf crop=150:90:0:0,setsar=12/11 -c:v libx264 -profile:v high", 0},
    {"interlaced", "-vf setsar=10/11 -c:v libx264 -flags +ildct+ilme", 0}};

class H264FfmpegTest : public ::testing::TestWithParam<StreamCase> {
 protected:
  void SetUp() override {
    if (!have_tool("ffmpeg") || !have_tool("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
    path_ = dir_.path() + "/" + GetParam().name + ".h264";
    const std::string command =
        "ffmpeg -v error -y -f lavfi -i testsrc2=size=160x120:rate=25:duration=2 " +
        std::string(GetParam().ffmpeg_options) + " -pix_fmt yuv420p -f h264 " + path_;
    ASSERT_EQ(run_command(command), 0) << command;
  }

  nlohmann::json probe(const std::string& what) const {
    return nlohmann::json::parse(command_output("ffprobe -v error " + what + " -of json " + path_));
  }

  // The MD5 of every decoded frame, in output order.
  static std::vector<std::string> frame_hashes(const std::string& path) {
    std::istringstream lines(command_output("ffmpeg -v error -i " + path + " -f framemd5 -"));
    std::vector<std::string> hashes;
    for (std::string line; std::getline(lines, line);)
      if (!line.empty() && line[0] != '#') hashes.push_back(line.substr(line.rfind(',') + 1));
    return hashes;
  }

  TempDir dir_;
  std::string path_;
};

TEST_P(H264FfmpegTest, AccessUnitsMatchFfprobeAndDecodeToTheSameFrames) {
  const StreamCase& c = GetParam();
  H264File file(path_);
  ASSERT_EQ(file.open_status(), ZEP_OK);
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);

  // Decode order: one access unit per ffprobe packet, key units at the IDRs.
  const nlohmann::json packets = probe("-show_packets")["packets"];
  ASSERT_EQ(units.size(), packets.size());
  for (size_t i = 0; i < units.size(); ++i) {
    const std::vector<int> types = unit_types(units[i].data);
    ASSERT_FALSE(types.empty()) << i;
    const bool idr = std::find(types.begin(), types.end(), 5) != types.end();
    EXPECT_EQ(units[i].flags == ZEP_BLOCK_FLAG_KEYFRAME, idr) << i;
    EXPECT_EQ(packets[i]["flags"].get<std::string>()[0] == 'K', idr) << i;
    EXPECT_EQ(std::count(types.begin(), types.end(), 9), 0) << "delimiter kept in unit " << i;
    EXPECT_EQ(units[i].duration, kFrameDuration) << i;
  }

  // Display order: ffprobe's frames each name the position of the packet they came from.
  const nlohmann::json frames = probe("-show_frames -show_entries frame=pkt_pos")["frames"];
  ASSERT_EQ(frames.size(), units.size());
  std::map<int64_t, int64_t> display_index;  // packet position -> display index
  for (size_t k = 0; k < frames.size(); ++k)
    display_index[std::stoll(frames[k]["pkt_pos"].get<std::string>())] = int64_t(k);
  EXPECT_EQ(units[0].time, 0);
  for (size_t i = 0; i < units.size(); ++i) {
    const int64_t position = std::stoll(packets[i]["pos"].get<std::string>());
    ASSERT_TRUE(display_index.count(position)) << i;
    EXPECT_EQ(units[i].time, display_index[position] * kFrameDuration) << "unit " << i;
  }

  // The blocks in Annex B behind the parameter sets decode to the original's pictures.
  const Bytes avcc =
      file.query_bytes(ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, ZEP_QID_VIDEO_CODEC_PRIVATE_DATA);
  ASSERT_EQ(zep_h264_avcc_length_size(avcc.data(), uint32_t(avcc.size())), 4u);
  uint32_t size = 0;
  zep_h264_avcc_to_annexb(avcc.data(), uint32_t(avcc.size()), nullptr, 0, &size);
  Bytes annexb(size);
  ASSERT_EQ(zep_h264_avcc_to_annexb(avcc.data(), uint32_t(avcc.size()), annexb.data(), size, &size),
            ZEP_OK);
  for (const AccessUnit& unit : units) {
    zep_h264_block_to_annexb(unit.data.data(), uint32_t(unit.data.size()), 4, nullptr, 0, &size);
    const size_t at = annexb.size();
    annexb.resize(at + size);
    ASSERT_EQ(zep_h264_block_to_annexb(unit.data.data(), uint32_t(unit.data.size()), 4,
                                       annexb.data() + at, size, &size),
              ZEP_OK);
  }
  const std::string rebuilt = dir_.write(std::string(c.name) + "_rebuilt.h264", annexb);
  const std::vector<std::string> original = frame_hashes(path_);
  EXPECT_EQ(original.size(), units.size());
  EXPECT_EQ(frame_hashes(rebuilt), original);

  // Stream format: the cropped picture and its display size.
  const nlohmann::json stream = probe("-show_streams")["streams"][0];
  ZepVideoStreamFormat format;
  ASSERT_EQ(file.format(&format), ZEP_OK);
  EXPECT_EQ(std::tuple(format.width, format.height, format.rate, format.scale, format.interlaced),
            std::tuple(stream["width"].get<uint32_t>(), stream["height"].get<uint32_t>(), 25u, 1u,
                       std::string(c.name) == "interlaced" ? 1u : 0u));
  // The POC type the encoder chose is the one this case exercises.
  const Bytes sps = file.query_bytes(ZEP_QID_SPS_SIZE, ZEP_QID_SPS_DATA);
  ZepAvcSps parsed;
  ASSERT_EQ(zep_avc_parse_sps(&parsed, sps.data(), uint32_t(sps.size())), ZEP_OK);
  EXPECT_EQ(parsed.pic_order_cnt_type, c.poc_type);
}

INSTANTIATE_TEST_SUITE_P(Streams, H264FfmpegTest, ::testing::ValuesIn(kCases),
                         [](const auto& param) { return std::string(param.param.name); });

}  // namespace
