// Real Matroska files written by ffmpeg and mkvmerge, read through the
// container layer with delacing on, and compared with ffmpeg's own
// extraction (payload bytes per stream) and ffprobe's packet list (counts,
// video times and key flags, audio first and last times). Seeks land on the
// key frame at or before the target; a linked chain reads as its source.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <sstream>

#include "layer1/zep_mkv_records.h"
#include "tests/modules/avi/avi_test_util.h"

using namespace zeptest;
using avitest::Block;
using ContainerFile = avitest::AviFile;

namespace {

struct Packet {
  double pts = NAN;
  bool key = false;
};

std::vector<Packet> probe_packets(const std::string& file, int stream) {
  std::istringstream in(command_output(
      "ffprobe -v error -select_streams " + std::to_string(stream) +
      " -show_entries packet=pts_time,flags -of compact=p=0:nk=0 '" + file + "'"));
  std::vector<Packet> out;
  for (std::string line; std::getline(in, line);) {
    size_t at = line.find("pts_time=");
    if (at == std::string::npos) continue;
    Packet p;
    p.pts = std::atof(line.c_str() + at + 9);
    size_t f = line.find("flags=");
    p.key = f != std::string::npos && line.compare(f + 6, 1, "K") == 0;
    out.push_back(p);
  }
  return out;
}

struct Recipe {
  const char* name;
  const char* command;  // D/: the folder; the file is D/NAME.mkv
  // ffprobe's key flags are the file's; with header removal ffmpeg's parser
  // finds its own and misses some of the file's key frames.
  bool ffprobeKeys = true;
};

const std::string kSource =
    "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=3 "
    "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 ";

const Recipe kRecipes[] = {
    {"h264_aac_srt",
     "-f srt -i D/subs.srt -map 0 -map 1 -map 2 -c:v libx264 -pix_fmt yuv420p -g 25 -bf 2 "
     "-c:a aac -c:s srt D/h264_aac_srt.mkv"},
    {"mpeg4_mp3_ac3",
     "-f lavfi -i sine=frequency=880:sample_rate=44100:duration=3 -map 0 -map 1 -map 2 "
     "-c:v mpeg4 -g 12 -c:a:0 libmp3lame -c:a:1 ac3 D/mpeg4_mp3_ac3.mkv"},
    {"mpeg2_pcm", "-c:v mpeg2video -g 10 -c:a pcm_s16le D/mpeg2_pcm.mkv"},
    {"hevc_aac",
     "-c:v libx265 -pix_fmt yuv420p -x265-params log-level=none:keyint=25 -c:a aac "
     "D/hevc_aac.mkv"},
    {"ass", "-f ass -i D/subs.ass -map 0 -map 1 -map 2 -c:v mpeg4 -c:a ac3 D/ass.mkv"},
    {"piped", "-c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac -f matroska - > D/piped.mkv"},
    // mkvmerge laces MP3 and AC-3; zlib compresses every frame of a lace.
    {"laced", "MKVMERGE -o D/laced.mkv D/mpeg4_mp3_ac3.mkv"},
    {"zlib",
     "MKVMERGE -o D/zlib.mkv --compression 0:zlib --compression 1:zlib --compression 2:zlib "
     "D/mpeg4_mp3_ac3.mkv"},
    {"no_cues", "MKVMERGE -o D/no_cues.mkv --no-cues D/h264_aac_srt.mkv"},
    // The start code every MPEG-4 frame begins with is stripped and kept once.
    {"header_removal", "MKVMERGE -o D/header_removal.mkv --compression 0:mpeg4_p2 D/ass.mkv",
     false},
    {"vfw", "MKVMERGE -o D/vfw.mkv D/vfw_source.avi"},
};

std::string expand(const std::string& text, const std::string& dir) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text.compare(i, 2, "D/") == 0 && (i == 0 || text[i - 1] == ' ')) {
      out += "'" + dir + "/";
      size_t end = text.find(' ', i);
      out += text.substr(i + 2, end == std::string::npos ? std::string::npos : end - i - 2) + "'";
      i = end == std::string::npos ? text.size() : end - 1;
    } else {
      out += text[i];
    }
  }
  return out;
}

class MkvRealFiles : public ::testing::TestWithParam<Recipe> {
 protected:
  static void SetUpTestSuite() {
    if (!have_tool("ffmpeg") || !have_tool("ffprobe") || !have_tool("mkvmerge")) return;
    dir_ = new TempDir();
    const std::string d = dir_->path();
    dir_->write("subs.srt",
                "1\n00:00:00,500 --> 00:00:01,200\nHello\n\n2\n00:00:01,800 --> "
                "00:00:02,500\nWorld\n");
    ok_ = run_command("ffmpeg -v error -y -i '" + d + "/subs.srt' '" + d + "/subs.ass'") == 0 &&
          run_command(kSource + "-c:v mpeg4 -c:a libmp3lame '" + d + "/vfw_source.avi'") == 0 &&
          run_command(
              "ffmpeg -nostdin -v error -y -f lavfi -i testsrc=size=160x120:rate=25:duration=6 "
              "-f lavfi -i sine=sample_rate=48000:duration=6 -c:v libx264 -pix_fmt yuv420p "
              "-g 25 -c:a aac '" +
              d + "/long.mkv'") == 0;
    for (const Recipe& r : kRecipes) {
      std::string cmd = expand(r.command, d);
      if (cmd.rfind("MKVMERGE", 0) == 0)
        cmd = "mkvmerge -q" + cmd.substr(8);
      else
        cmd = kSource + cmd;
      ok_ = ok_ && run_command(cmd) == 0;
    }
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "ffmpeg or mkvmerge is not installed";
    ASSERT_TRUE(ok_) << "ffmpeg or mkvmerge could not write the test files";
  }
  static std::string path(const std::string& name) { return dir_->path() + "/" + name + ".mkv"; }

  static TempDir* dir_;
  static bool ok_;
};

TempDir* MkvRealFiles::dir_ = nullptr;
bool MkvRealFiles::ok_ = false;

// Opens a file with delacing on (one frame per block, as ffmpeg counts).
std::unique_ptr<ContainerFile> open_delaced(const std::string& file) {
  auto f = std::make_unique<ContainerFile>(file, false);
  f->set(ZEP_QID_DELACE_BLOCKS, 1);
  if (f->container()) L1SetTitle(f->container(), 0);
  f->activate_all();
  return f;
}

Bytes ffmpeg_payload(const TempDir& dir, const std::string& file, int stream) {
  const std::string out = dir.path() + "/payload.bin";
  run_command("ffmpeg -nostdin -v quiet -y -i '" + file + "' -map 0:" + std::to_string(stream) +
              " -c copy -f data '" + out + "'");
  return read_file(out);
}

// The ffmpeg stream numbers of the container's streams: Matroska keeps the
// tracks' order, and these files list video, then audio, then subtitles.
std::vector<std::pair<uint32_t, uint32_t>> streams_in_order(ContainerFile& f) {
  std::vector<std::pair<uint32_t, uint32_t>> out;
  for (uint32_t type : {ZEP_BLOCK_VIDEO, ZEP_BLOCK_AUDIO, ZEP_BLOCK_SUBTITLE}) {
    const uint32_t qid = type == ZEP_BLOCK_VIDEO   ? ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA
                         : type == ZEP_BLOCK_AUDIO ? ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA
                                                   : ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA;
    for (uint32_t i = 0; i < f.count(qid); ++i) out.emplace_back(type, i);
  }
  return out;
}

TEST_P(MkvRealFiles, PayloadTimesAndKeyFlagsMatchFfmpeg) {
  const std::string file = path(GetParam().name);
  auto f = open_delaced(file);
  ASSERT_TRUE(f->container());
  ZEP_STATUS last = 0;
  auto blocks = f->read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  auto data = avitest::payloads(blocks);
  int ffIndex = 0;
  for (auto [type, stream] : streams_in_order(*f)) {
    SCOPED_TRACE("ffmpeg stream " + std::to_string(ffIndex));
    EXPECT_TRUE((data[{type, stream}]) == ffmpeg_payload(*dir_, file, ffIndex)) << "payload differs";
    std::vector<Block> mine;
    for (auto& b : blocks)
      if (b.type == type && b.stream == stream) mine.push_back(b);
    auto packets = probe_packets(file, ffIndex);
    ++ffIndex;
    ASSERT_EQ(mine.size(), packets.size());
    if (mine.empty()) continue;
    if (type == ZEP_BLOCK_VIDEO) {
      for (size_t k = 0; k < mine.size(); ++k) {
        EXPECT_NEAR(mine[k].time / 1e7, packets[k].pts, 0.0015) << "video packet " << k;
        if (GetParam().ffprobeKeys) {
          EXPECT_EQ(mine[k].key(), packets[k].key) << "video packet " << k;
        }
      }
    } else {
      EXPECT_NEAR(mine.front().time / 1e7, packets.front().pts, 0.002);
      EXPECT_NEAR(mine.back().time / 1e7, packets.back().pts, 0.002);
    }
  }
}

TEST_P(MkvRealFiles, SeekLandsOnTheKeyFrameAtOrBeforeTheTarget) {
  const std::string file = path(GetParam().name);
  auto f = open_delaced(file);
  if (f->count(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA) == 0 || !GetParam().ffprobeKeys) return;
  std::vector<double> keys;
  for (const Packet& p : probe_packets(file, 0))
    if (p.key) keys.push_back(p.pts);
  std::sort(keys.begin(), keys.end());
  for (double target : {0.5, 1.7, 2.5}) {
    SCOPED_TRACE("target " + std::to_string(target));
    int64_t t = int64_t(target * 1e7);
    ASSERT_GE(f->seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
    auto before = std::upper_bound(keys.begin(), keys.end(), target + 1e-6);
    ASSERT_NE(before, keys.begin());
    EXPECT_NEAR(t / 1e7, *(before - 1), 0.0015) << "not the last key frame before the target";
    Block b;
    do {
      ASSERT_GE(f->read(&b), 0);
    } while (b.type != ZEP_BLOCK_VIDEO);
    EXPECT_TRUE(b.key());
    EXPECT_EQ(b.time, t);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, MkvRealFiles, ::testing::ValuesIn(kRecipes),
                         [](const auto& param) { return std::string(param.param.name); });

class MkvRealFileCases : public MkvRealFiles {};

// A file cut in the middle of a Cluster plays up to the cut: every block
// before it as in the whole file, then the end of the stream.
TEST_F(MkvRealFileCases, CutFilePlaysUpToTheCut) {
  const std::string whole = path("h264_aac_srt");
  const std::string cut = path("cut");
  std::filesystem::copy_file(whole, cut, std::filesystem::copy_options::overwrite_existing);
  std::filesystem::resize_file(cut, std::filesystem::file_size(whole) * 6 / 10);
  auto expected = open_delaced(whole)->read_all();
  auto f = open_delaced(cut);
  ZEP_STATUS last = 0;
  auto blocks = f->read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  ASSERT_GT(blocks.size(), expected.size() / 3);
  ASSERT_LT(blocks.size(), expected.size());
  for (size_t k = 0; k < blocks.size(); ++k) {
    ASSERT_EQ(blocks[k].data, expected[k].data) << "block " << k;
    ASSERT_EQ(blocks[k].time, expected[k].time) << "block " << k;
    ASSERT_EQ(blocks[k].flags, expected[k].flags) << "block " << k;
  }
}

// Opening any file of a linked chain gives the whole chain: its payload is
// the unsplit source's, and its duration the source's.
TEST_F(MkvRealFileCases, LinkedChainPlaysAsItsSource) {
  const std::string d = dir_->path();
  ASSERT_EQ(run_command("mkvmerge -q -o '" + d + "/chain.mkv' --split duration:2s --link '" + d +
                        "/long.mkv'"),
            0);
  const Bytes video = ffmpeg_payload(*dir_, d + "/long.mkv", 0);
  const Bytes audio = ffmpeg_payload(*dir_, d + "/long.mkv", 1);
  for (const char* part : {"chain-001", "chain-002", "chain-003"}) {
    SCOPED_TRACE(part);
    auto f = open_delaced(path(part));
    EXPECT_EQ(f->count(ZEP_QID_MKV_CHAIN_COUNT), 3u);
    EXPECT_NEAR(f->value64(ZEP_QID_TITLE_DURATION, 0) / 1e7, 6.0, 0.1);
    auto data = avitest::payloads(f->read_all());
    EXPECT_TRUE((data[{ZEP_BLOCK_VIDEO, 0}]) == video);
    EXPECT_TRUE((data[{ZEP_BLOCK_AUDIO, 0}]) == audio);
    int64_t t = 45000000;  // 4.5 s: in the third file
    ASSERT_GE(f->seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
    EXPECT_NEAR(t / 1e7, 4.0, 0.05);
    Block b;
    ASSERT_GE(f->read(&b), 0);
    EXPECT_TRUE(b.key());
  }
}

}  // namespace
