// Real Matroska files made by ffmpeg and mkvmerge, read delaced (one frame per block, as ffmpeg
// counts packets) against ffmpeg's payloads and ffprobe's packets; seeks, chains, the CLI.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <sstream>

#include "layer1/zep_mkv_records.h"
#include "tests/modules/avi/avi_test_util.h"

using avitest::Block;
using zeptest::Bytes;

namespace {

std::string quote(const std::string& s) { return "'" + s + "'"; }

std::vector<std::string> output_lines(const std::string& command) {
  std::istringstream in(zeptest::command_output(command));
  std::vector<std::string> out;
  for (std::string line; std::getline(in, line);)
    if (!line.empty()) out.push_back(line);
  return out;
}

// ffprobe's packets of one stream in file order; side-data lines have no pts.
std::vector<avitest::Packet> probe_packets(const std::string& file, int stream) {
  auto out = avitest::probe_packets(file, std::to_string(stream));
  std::erase_if(out, [](const avitest::Packet& p) { return std::isnan(p.pts); });
  return out;
}

int probe_stream_count(const std::string& file) {
  return int(output_lines("ffprobe -v error -show_entries stream=index -of csv=p=0 " + quote(file))
                 .size());
}

bool same_block(const Block& a, const Block& b) {
  return a.type == b.type && a.stream == b.stream && a.data == b.data && a.time == b.time &&
         a.key() == b.key();
}

// Besides the ffmpeg comparison: seeks (with Cues: on the last key frame before the target),
// extraction through the CLI (cut files: tests/damage).
enum Tests : unsigned { kSeek = 1, kSeekCues = 2, kApi = 4 };

// In `make`: $FF ffmpeg, $SRC 3 s of test picture and sine, $MKV mkvmerge, $D the folder, $O
// the file ($D/STEM.mkv), made after `needs`.
struct RealFile {
  const char* stem;
  const char* make;
  unsigned tests = 0;
  const char* firstCodec = nullptr;  // CodecID of the first track
  const char* compression = "";      // ContentCompAlgo + 1 per track
  const char* needs = nullptr;
  const char* reference = nullptr;  // the file ffmpeg reads for the expected values
};

const RealFile kFiles[] = {
    {"h264_aac_srt",
     "$FF $SRC -i $D/subs.srt -map 0 -map 1 -map 2 -c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac "
     "-c:s srt $O",
     kSeekCues | kApi, "V_MPEG4/ISO/AVC"},
    {"mpeg4_mp3_ac3",
     "$FF $SRC -f lavfi -i sine=frequency=880:sample_rate=44100:duration=3 -map 0 -map 1 -map 2 "
     "-c:v mpeg4 -pix_fmt yuv420p -g 12 -c:a:0 libmp3lame -c:a:1 ac3 $O",
     0, "V_MPEG4/ISO/ASP"},
    // ffmpeg turns the SubRip cues into ASS events.
    {"mpeg2_pcm_ass",
     "$FF $SRC -i $D/subs.srt -map 0 -map 1 -map 2 -c:v mpeg2video -pix_fmt yuv420p -g 10 "
     "-c:a pcm_s16le -c:s ass $O",
     0, "V_MPEG2"},
    {"hevc_aac", "$FF $SRC -c:v libx265 -pix_fmt yuv420p -x265-params log-level=none -c:a aac $O",
     0, "V_MPEGH/ISO/HEVC"},
    // mkvmerge laces MP3 and AC-3.
    {"laced", "$MKV -o $O $D/mpeg4_mp3_ac3.mkv", kApi, nullptr, "", "mpeg4_mp3_ac3"},
    {"zlib",
     "$MKV -o $O --compression 0:zlib --compression 1:zlib --compression 2:zlib "
     "$D/mpeg4_mp3_ac3.mkv",
     kApi, nullptr, "111", "mpeg4_mp3_ac3"},
    // Written to a pipe: Segment and Clusters of unknown size, no Cues.
    {"piped", "$FF $SRC -c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac -f matroska - | cat > $O",
     kSeek | kApi},
    {"vfw",
     "$FF $SRC -c:v mpeg4 -pix_fmt yuv420p -c:a libmp3lame $D/vfw.avi && $MKV -o $O $D/vfw.avi",
     kApi, "V_MS/VFW/FOURCC"},
    {"long",
     "$FF -f lavfi -i testsrc=size=320x240:rate=25:duration=6 -f lavfi -i "
     "sine=frequency=440:sample_rate=48000:duration=6 -c:v libx264 -pix_fmt yuv420p -g 25 "
     "-c:a aac $O"},
    // The middle of a linked chain plays the whole chain.
    {"chain-001", "$MKV -o $D/chain.mkv --split duration:2s --link $D/long.mkv", 0, nullptr, "",
     "long", "long"},
    {"chain-002", "test -s $O", kSeekCues | kApi, nullptr, "", "chain-001", "long"}};

// A file opened with delacing on and every stream active.
class DelacedFile : public avitest::AviFile {
 public:
  explicit DelacedFile(const std::string& path) : AviFile(path, false) {
    opened = container() && set(ZEP_QID_DELACE_BLOCKS, 1) >= 0 && L1SetTitle(container(), 0) >= 0;
    if (opened) activate_all();
  }
  // The track properties in file order, which is ffmpeg's stream order.
  std::vector<ZepMkvTrackProp> tracks() {
    std::vector<ZepMkvTrackProp> out(count(ZEP_QID_NUM_TITLE_STREAMS) & 0xFF);
    for (uint32_t i = 0; i < out.size(); ++i) {
      ZepQueryData q{};
      q.size = sizeof out[i];
      q.value.ptr = &out[i];
      if (L1GetInfo(container(), ZEP_QID_GET_TRACK_PROP, &q, i) < 0) out[i].kind = 0;
    }
    return out;
  }
  bool opened = false;
};

std::vector<Block> of_stream(const std::vector<Block>& blocks, uint32_t type, uint32_t stream) {
  std::vector<Block> out;
  std::copy_if(blocks.begin(), blocks.end(), std::back_inserter(out),
               [&](const Block& b) { return b.type == type && b.stream == stream; });
  return out;
}

// The files are made once per process, each on first use, in one folder.
class MkvRealFile : public ::testing::TestWithParam<RealFile> {
 protected:
  static void SetUpTestSuite() {
    if (dir_ || !zeptest::have_tool("ffmpeg") || !zeptest::have_tool("ffprobe") ||
        !zeptest::have_tool("mkvmerge"))
      return;
    dir_ = std::make_unique<zeptest::TempDir>();
    dir_->write("subs.srt", std::string_view("1\n00:00:00,500 --> 00:00:01,200\nHello\n\n"
                                             "2\n00:00:01,800 --> 00:00:02,500\n<i>World</i>\n"));
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "ffmpeg, ffprobe or mkvmerge is not installed";
    path_ = file(GetParam().stem);
    reference_ = GetParam().reference ? file(GetParam().reference) : path_;
    ASSERT_FALSE(path_.empty() || reference_.empty());
  }
  // The path of STEM.mkv, made now if needed; "" when it could not be made.
  static std::string file(const std::string& stem) {
    if (auto done = made_.find(stem); done != made_.end()) return done->second;
    std::string& path = made_[stem];
    for (const RealFile& s : kFiles) {
      if (stem != s.stem || (s.needs && file(s.needs).empty())) continue;
      const std::string vars = "D=" + quote(dir_->path()) + "; O=$D/" + stem +
                               ".mkv; FF='ffmpeg -nostdin -v error -y'; MKV='mkvmerge -q'; "
                               "SRC='-f lavfi -i testsrc=size=320x240:rate=25:duration=3 -f lavfi "
                               "-i sine=frequency=440:sample_rate=48000:duration=3'; ";
      EXPECT_EQ(zeptest::run_command(vars + s.make), 0)
          << "could not make " << stem << ": " << s.make;
      if (!HasFailure()) path = scratch(stem + ".mkv");
    }
    return path;
  }
  static std::string scratch(const std::string& name) { return dir_->path() + "/" + name; }
  static Bytes ffmpeg_payload(const std::string& file, int stream) {
    return avitest::ffmpeg_payload(*dir_, file, "0:" + std::to_string(stream));
  }

  std::string path_, reference_;
  static std::unique_ptr<zeptest::TempDir> dir_;
  static std::map<std::string, std::string> made_;
};

std::unique_ptr<zeptest::TempDir> MkvRealFile::dir_;
std::map<std::string, std::string> MkvRealFile::made_;

TEST_P(MkvRealFile, EveryStreamMatchesFfmpegAndFfprobe) {
  const RealFile& c = GetParam();
  DelacedFile f(path_);
  ASSERT_TRUE(f.opened) << "open " << f.open_status();
  ZEP_STATUS last = 0;
  const std::vector<Block> blocks = f.read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM) << "reading stopped with a failure";
  const std::vector<ZepMkvTrackProp> tracks = f.tracks();
  ASSERT_EQ(int(tracks.size()), probe_stream_count(reference_)) << "track count";
  DelacedFile byStream(path_);  // read one stream after the other
  for (int i = 0; i < int(tracks.size()); ++i) {
    const ZepMkvTrackProp& t = tracks[size_t(i)];
    SCOPED_TRACE(std::string(c.stem) + ", ffmpeg stream " + std::to_string(i));
    ASSERT_NE(t.kind, 0u) << "the track is no stream";
    if (i == 0 && c.firstCodec) {
      EXPECT_EQ(zep::u16_to_utf8(t.codecId), c.firstCodec);
    }
    const uint32_t algo = size_t(i) < std::strlen(c.compression) ? c.compression[i] - '0' : 0;
    EXPECT_EQ(t.compression, algo) << "content compression";
    const std::vector<Block> mine = of_stream(blocks, t.kind, t.streamIndex);
    std::vector<Block> alone;
    for (Block one; alone.size() <= mine.size() &&
                    (last = byStream.read_stream(t.kind, t.streamIndex, &one)) >= 0;)
      alone.push_back(one);
    EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM) << "reading the stream alone stopped with a failure";
    EXPECT_TRUE(std::equal(alone.begin(), alone.end(), mine.begin(), mine.end(), same_block))
        << "the stream read alone differs from the interleaved read";
    Bytes got;
    for (const Block& b : mine) got.insert(got.end(), b.data.begin(), b.data.end());
    const Bytes expected = ffmpeg_payload(reference_, i);
    EXPECT_TRUE(got == expected) << "payload of " << got.size() << " bytes, ffmpeg's "
                                 << expected.size();
    const auto packets = probe_packets(reference_, i);
    ASSERT_EQ(mine.size(), packets.size()) << "block count is not ffprobe's packet count";
    if (mine.empty()) continue;
    if (t.kind == ZEP_BLOCK_AUDIO) {
      EXPECT_NEAR(mine.front().time / 1e7, packets.front().pts, 0.002) << "first audio time";
      EXPECT_NEAR(mine.back().time / 1e7, packets.back().pts, 0.002) << "last audio time";
      continue;
    }
    // Video and subtitles: every time, and for video every key flag.
    for (size_t k = 0, wrong = 0; k < mine.size() && wrong < 5; ++k) {
      const bool ok = std::fabs(mine[k].time / 1e7 - packets[k].pts) <= 0.0015 &&
                      (t.kind != ZEP_BLOCK_VIDEO || mine[k].key() == packets[k].key);
      EXPECT_TRUE(ok) << "block " << k << " at " << mine[k].time / 1e7 << ", ffprobe's at "
                      << packets[k].pts;
      wrong += !ok;
    }
  }
}

class MkvRealSeek : public MkvRealFile {};

TEST_P(MkvRealSeek, VideoSeekLandsOnAKeyFrameAtOrBeforeTheTarget) {
  DelacedFile f(path_);
  ASSERT_TRUE(f.opened) << "open " << f.open_status();
  std::vector<double> keys;
  double end = 0;
  for (const auto& p : probe_packets(reference_, 0)) {
    if (p.key) keys.push_back(p.pts);
    end = std::max(end, p.pts);
  }
  std::sort(keys.begin(), keys.end());
  ASSERT_FALSE(keys.empty());
  for (double target : {0.5, 1.7, end - 0.5}) {
    SCOPED_TRACE("seek to " + std::to_string(target) + " s");
    const int64_t wanted = std::llround(target * 1e7);
    int64_t t = wanted;
    ASSERT_GE(f.seek(ZEP_BLOCK_VIDEO, 0, &t), 0);
    EXPECT_LE(t, wanted) << "landed after the target";
    EXPECT_TRUE(std::any_of(keys.begin(), keys.end(),
                            [&](double k) { return std::fabs(k - t / 1e7) < 0.0015; }))
        << "landed at " << t / 1e7 << " s, which is no key frame";
    if (GetParam().tests & kSeekCues) {
      const auto after = std::upper_bound(keys.begin(), keys.end(), target);
      ASSERT_NE(after, keys.begin());
      EXPECT_NEAR(t / 1e7, *(after - 1), 0.0015) << "not the last key frame before the target";
    }
    ZEP_STATUS last = 0;
    const std::vector<Block> rest = f.read_all(&last);
    EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM) << "reading after the seek stopped with a failure";
    const std::vector<Block> video = of_stream(rest, ZEP_BLOCK_VIDEO, 0);
    ASSERT_FALSE(video.empty()) << "no video block after the seek";
    EXPECT_TRUE(video[0].key()) << "the first video block after the seek is no key frame";
    EXPECT_EQ(video[0].time, t) << "the first video block is not at the time the seek answered";
  }
}

class MkvRealApi : public MkvRealFile {};

// `zepdemux extract` pushes and pulls every stream's bytes as ffmpeg extracts them.
TEST_P(MkvRealApi, PushAndPullExtractionEqualsFfmpeg) {
  std::string cli;
#ifdef ZEP_CLI
  cli = ZEP_CLI;
#endif
  if (cli.empty() || !std::filesystem::exists(cli)) GTEST_SKIP() << "no zepdemux CLI";
  const int streams = probe_stream_count(reference_);
  for (const char* mode : {"", "--pull"}) {
    std::string cmd = quote(cli) + " extract " + quote(path_) + " " + mode;
    for (int s = 0; s < streams; ++s)
      cmd += " " + std::to_string(s) + ":" + scratch("api_" + std::to_string(s) + ".bin");
    ASSERT_EQ(zeptest::run_command(cmd + " >/dev/null </dev/null"), 0) << cmd;
    for (int s = 0; s < streams; ++s) {
      const Bytes got = zeptest::read_file(scratch("api_" + std::to_string(s) + ".bin")),
                  expected = ffmpeg_payload(reference_, s);
      EXPECT_TRUE(got == expected)
          << mode << " stream " << s << ": " << got.size() << " bytes, ffmpeg " << expected.size();
    }
  }
}

// The files each suite runs on, named by their stems.
auto files(bool (*keep)(const RealFile&)) {
  std::vector<RealFile> out;
  std::copy_if(std::begin(kFiles), std::end(kFiles), std::back_inserter(out), keep);
  return ::testing::ValuesIn(out);
}
std::string stem_name(const ::testing::TestParamInfo<RealFile>& p) {
  std::string name = p.param.stem;
  std::replace(name.begin(), name.end(), '-', '_');
  return name;
}
void PrintTo(const RealFile& c, std::ostream* os) { *os << c.stem; }

INSTANTIATE_TEST_SUITE_P(mkv_real, MkvRealFile, ::testing::ValuesIn(kFiles), stem_name);
INSTANTIATE_TEST_SUITE_P(mkv_real, MkvRealSeek, files([](const RealFile& f) {
                           return (f.tests & (kSeek | kSeekCues)) != 0;
                         }),
                         stem_name);

INSTANTIATE_TEST_SUITE_P(mkv_real, MkvRealApi,
                         files([](const RealFile& f) { return (f.tests & kApi) != 0; }), stem_name);

}  // namespace
