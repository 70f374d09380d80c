// Real titles made by ffmpeg, joined into one file with a menu section: each
// title read through the container layer must give exactly what ffmpeg itself
// extracts from the title's own file (payload bytes per stream, packet count,
// key frames).
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "layer1/zep_module.h"
#include "tests/modules/avi/menu_test_util.h"

namespace zeptest {
namespace {

struct ProbePacket {
  double time = 0;
  bool key = false;
};

// ffprobe's packet list of one stream: time and key flag.
std::vector<ProbePacket> probe_packets(const std::string& file, const std::string& stream) {
  const std::string out =
      command_output("ffprobe -v error -select_streams " + stream +
                     " -show_entries packet=pts_time,flags -of csv=p=0 '" + file + "'");
  std::vector<ProbePacket> packets;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.empty()) continue;
    const size_t comma = line.find(',');
    ProbePacket packet;
    packet.time = std::stod(line.substr(0, comma));
    packet.key = comma != std::string::npos && line.find('K', comma) != std::string::npos;
    packets.push_back(packet);
  }
  return packets;
}

// ffmpeg's own extraction of the first video and (when present) audio stream.
std::pair<Bytes, Bytes> ffmpeg_extract(const TempDir& dir, const std::string& file, bool audio) {
  const std::string video_out = dir.path() + "/video.bin";
  const std::string audio_out = dir.path() + "/audio.bin";
  std::string command =
      "ffmpeg -v error -y -i '" + file + "' -map 0:v:0 -c copy -f data '" + video_out + "'";
  if (audio) command += " -map 0:a:0 -c copy -f data '" + audio_out + "'";
  EXPECT_EQ(run_command(command), 0);
  return {read_file(video_out), audio ? read_file(audio_out) : Bytes{}};
}

struct StreamRead {
  Bytes payload;
  std::vector<int64_t> times;
  std::vector<bool> keys;
};

TEST(MenuFfmpeg, EachTitleGivesWhatFfmpegExtractsFromItsOwnFile) {
  if (!have_tool("ffmpeg") || !have_tool("ffprobe")) GTEST_SKIP() << "ffmpeg not installed";
  TempDir dir;
  const std::string lavfi = "ffmpeg -v error -y -f lavfi -i ";
  const std::vector<std::string> commands = {
      lavfi +
          "testsrc=size=64x48:rate=10:duration=1.2 -f lavfi -i sine=f=440:r=8000:d=1.2 "
          "-c:v mpeg4 -g 5 -c:a pcm_s16le -ac 1 ",
      lavfi +
          "testsrc2=size=48x32:rate=15:duration=1 -f lavfi -i sine=f=660:r=16000:d=1 "
          "-c:v mjpeg -c:a mp2 -b:a 64k -ac 1 ",
      lavfi + "rgbtestsrc=size=32x32:rate=5:duration=1.6 -c:v mpeg4 -g 3 -an ",
  };
  std::vector<std::string> files;
  std::vector<Bytes> titles;
  for (size_t t = 0; t < commands.size(); ++t) {
    files.push_back(dir.path() + "/title" + std::to_string(t) + ".avi");
    ASSERT_EQ(run_command(commands[t] + "'" + files.back() + "'"), 0) << commands[t];
    titles.push_back(read_file(files.back()));
  }
  menu::MenuSpec spec;
  spec.chapters = {1, 1, 1};
  const std::string joined = dir.write("joined.avi", menu::build_menu_file(spec, titles, {}));

  ASSERT_EQ(L1Start(), 0);
  const std::u16string name = zep::utf8_to_u16(joined);
  ZepContainer* container = nullptr;
  ASSERT_EQ(L1OpenContainer(&container, name.c_str(), nullptr), 0);
  ZepQueryData q{};
  ASSERT_EQ(L1GetInfo(container, ZEP_QID_NUM_CONTAINER_TITLE, &q, 0), 0);
  EXPECT_EQ(q.value.u16, 3u);

  ZepBlock block;
  zep_heap_block_init(&block);
  for (uint32_t t : {1u, 2u, 0u}) {
    SCOPED_TRACE("title " + std::to_string(t));
    ASSERT_EQ(L1SetTitle(container, t), 0);
    ASSERT_EQ(L1GetInfo(container, ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA, &q, t), 0);
    const bool has_audio = q.value.u16 == 1;
    EXPECT_EQ(has_audio, t != 2);
    ASSERT_EQ(L1SetTitleActiveStream(container, ZEP_BLOCK_VIDEO, 0, 1), 0);
    if (has_audio) {
      ASSERT_EQ(L1SetTitleActiveStream(container, ZEP_BLOCK_AUDIO, 0, 1), 0);
    }
    StreamRead video, audio;
    for (int guard = 0; guard < 100000; ++guard) {
      uint32_t type = 0, stream = 0;
      const ZEP_STATUS s = L1ReadNextBlock(container, &type, &stream, &block, 0);
      if (s != 0) {
        EXPECT_EQ(s, ZEP_ERR_END_OF_STREAM);
        break;
      }
      StreamRead& target = type == ZEP_BLOCK_VIDEO ? video : audio;
      target.payload.insert(target.payload.end(), block.data, block.data + block.size);
      target.times.push_back(block.time);
      target.keys.push_back((block.flags & ZEP_BLOCK_FLAG_KEYFRAME) != 0);
    }
    const auto [video_expected, audio_expected] = ffmpeg_extract(dir, files[t], has_audio);
    EXPECT_EQ(video.payload, video_expected);
    EXPECT_EQ(audio.payload, audio_expected);
    const std::vector<ProbePacket> packets = probe_packets(files[t], "v:0");
    ASSERT_EQ(video.times.size(), packets.size());
    for (size_t i = 0; i < packets.size(); ++i) {
      EXPECT_NEAR(double(video.times[i]) / 1e7, packets[i].time, 0.0011) << i;
      EXPECT_EQ(video.keys[i], packets[i].key) << i;
    }
  }
  zep_heap_block_free(&block);
  EXPECT_EQ(L1CloseContainer(container), 0);
}

}  // namespace
}  // namespace zeptest
