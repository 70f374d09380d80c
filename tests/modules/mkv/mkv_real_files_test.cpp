// Real Matroska files made by ffmpeg and mkvmerge in the test run, read
// through the container layer with delacing on (one frame per block, as
// ffmpeg counts packets) and compared with ffmpeg's extraction (payload bytes
// per stream) and ffprobe's packet list (counts, video times and key flags,
// audio first and last times). Seeks land on key frames; a file cut short
// plays up to the cut; any file of a linked chain plays the whole chain; the
// library API (through the zepdemux CLI) extracts the same bytes, and its
// `--es` output decodes.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <sstream>

#include "layer1/zep_mkv_records.h"
#include "tests/modules/avi/avi_test_util.h"

using avitest::Block;
using zeptest::Bytes;

namespace {

std::string quote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

struct Packet {
  double pts = NAN;
  bool key = false;
};

// ffprobe's packets of one stream in file order (lines without pts_time, such
// as side data, are not packets).
std::vector<Packet> probe_packets(const std::string& file, int stream) {
  std::istringstream in(zeptest::command_output(
      "ffprobe -v error -select_streams " + std::to_string(stream) +
      " -show_entries packet=pts_time,flags -of compact=p=0 " + quote(file)));
  std::vector<Packet> out;
  for (std::string line; std::getline(in, line);) {
    const size_t at = line.find("pts_time=");
    if (at == std::string::npos) continue;
    Packet p;
    p.pts = std::atof(line.c_str() + at + 9);
    const size_t f = line.find("flags=");
    p.key = f != std::string::npos && line.compare(f + 6, 1, "K") == 0;
    out.push_back(p);
  }
  return out;
}

int probe_stream_count(const std::string& file) {
  std::istringstream in(zeptest::command_output(
      "ffprobe -v error -show_entries stream=index -of csv=p=0 " + quote(file)));
  int n = 0;
  for (std::string line; std::getline(in, line);) n += !line.empty();
  return n;
}

// Where the first difference is, for a failure message.
std::string difference(const Bytes& got, const Bytes& expected) {
  size_t at = 0;
  while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
  return "got " + std::to_string(got.size()) + " bytes, ffmpeg " + std::to_string(expected.size()) +
         ", first difference at " + std::to_string(at);
}

// How each file is made: $D is the folder, $FF ffmpeg, $SRC 3 s of 320x240
// test picture and a 48 kHz sine, $MKV mkvmerge. Each makes $D/STEM.mkv,
// after the file it `needs`.
struct Step {
  const char* stem;
  const char* needs;
  const char* command;
};

const Step kSteps[] = {
    {"h264_aac_srt", nullptr,
     "$FF $SRC -i $D/subs.srt -map 0 -map 1 -map 2 -c:v libx264 -pix_fmt yuv420p -g 25 "
     "-c:a aac -c:s srt $D/h264_aac_srt.mkv"},
    {"mpeg4_mp3_ac3", nullptr,
     "$FF $SRC -f lavfi -i sine=frequency=880:sample_rate=44100:duration=3 -map 0 -map 1 -map 2 "
     "-c:v mpeg4 -pix_fmt yuv420p -g 12 -c:a:0 libmp3lame -c:a:1 ac3 $D/mpeg4_mp3_ac3.mkv"},
    {"mpeg2_pcm", nullptr,
     "$FF $SRC -c:v mpeg2video -pix_fmt yuv420p -g 10 -c:a pcm_s16le $D/mpeg2_pcm.mkv"},
    {"hevc_aac", nullptr,
     "$FF $SRC -c:v libx265 -pix_fmt yuv420p -x265-params log-level=none -c:a aac "
     "$D/hevc_aac.mkv"},
    {"vp9_vorbis_ass", nullptr,
     "$FF $SRC -i $D/subs.ass -map 0 -map 1 -map 2 -c:v libvpx-vp9 -deadline realtime "
     "-cpu-used 8 -pix_fmt yuv420p -c:a libvorbis -c:s copy $D/vp9_vorbis_ass.mkv"},
    // mkvmerge laces MP3 and AC-3.
    {"laced", "mpeg4_mp3_ac3", "$MKV -o $D/laced.mkv $D/mpeg4_mp3_ac3.mkv"},
    {"zlib", "mpeg4_mp3_ac3",
     "$MKV -o $D/zlib.mkv --compression 0:zlib --compression 1:zlib --compression 2:zlib "
     "$D/mpeg4_mp3_ac3.mkv"},
    // Header removal: mkvmerge strips the 00 00 01 every MPEG-4 frame starts with.
    {"header_removal", "mpeg4_mp3_ac3",
     "$MKV -o $D/header_removal.mkv --compression 0:mpeg4_p2 $D/mpeg4_mp3_ac3.mkv"},
    {"no_cues", "h264_aac_srt", "$MKV -o $D/no_cues.mkv --no-cues $D/h264_aac_srt.mkv"},
    // Written to a pipe: Segment and Clusters of unknown size, no Cues.
    {"piped", nullptr,
     "$FF $SRC -c:v libx264 -pix_fmt yuv420p -g 25 -c:a aac -f matroska - | cat > $D/piped.mkv"},
    {"vfw", nullptr,
     "$FF $SRC -c:v mpeg4 -pix_fmt yuv420p -c:a libmp3lame $D/vfw.avi && "
     "$MKV -o $D/vfw.mkv $D/vfw.avi"},
    {"long", nullptr,
     "$FF -f lavfi -i testsrc=size=320x240:rate=25:duration=6 -f lavfi "
     "-i sine=frequency=440:sample_rate=48000:duration=6 -c:v libx264 -pix_fmt yuv420p -g 25 "
     "-c:a aac $D/long.mkv"},
    {"chain-001", "long", "$MKV -o $D/chain.mkv --split duration:2s --link $D/long.mkv"},
    {"chain-002", "chain-001", "test -s $D/chain-002.mkv"},
    {"chain-003", "chain-001", "test -s $D/chain-003.mkv"},
};

const char kSrt[] =
    "1\n00:00:00,500 --> 00:00:01,200\nHello\n\n"
    "2\n00:00:01,800 --> 00:00:02,500\nWorld\n";

const char kAss[] =
    "[Script Info]\nScriptType: v4.00+\nPlayResX: 320\nPlayResY: 240\n\n"
    "[V4+ Styles]\nFormat: Name, Fontname, Fontsize, PrimaryColour, SecondaryColour, "
    "OutlineColour, BackColour, Bold, Italic, Underline, StrikeOut, ScaleX, ScaleY, Spacing, "
    "Angle, BorderStyle, Outline, Shadow, Alignment, MarginL, MarginR, MarginV, Encoding\n"
    "Style: Default,DejaVu Sans,20,&H00FFFFFF,&H000000FF,&H00000000,&H00000000,0,0,0,0,100,100,"
    "0,0,1,1,0,2,10,10,10,1\n\n"
    "[Events]\nFormat: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
    "Dialogue: 0,0:00:00.50,0:00:01.20,Default,,0,0,0,,Hello\n"
    "Dialogue: 1,0:00:01.80,0:00:02.50,Default,,0,0,0,,{\\i1}World{\\i0}\n";

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

// The files are made once per test process, each on first use (ctest runs
// every case in a process of its own), in a folder kept until the end.
class RealFiles : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (dir_ || !zeptest::have_tool("ffmpeg") || !zeptest::have_tool("ffprobe") ||
        !zeptest::have_tool("mkvmerge"))
      return;
    dir_ = std::make_unique<zeptest::TempDir>();
    dir_->write("subs.srt", std::string_view(kSrt));
    dir_->write("subs.ass", std::string_view(kAss));
  }
  void SetUp() override {
    if (!dir_) GTEST_SKIP() << "ffmpeg, ffprobe or mkvmerge is not installed";
  }

  // The path of STEM.mkv, made now if needed; "" when it could not be made.
  static std::string file(const std::string& stem) {
    auto done = made_.find(stem);
    if (done != made_.end()) return done->second;
    std::string& path = made_[stem];
    for (const Step& s : kSteps) {
      if (stem != s.stem) continue;
      if (s.needs && file(s.needs).empty()) return path;
      std::string cmd = replace_all(s.command, "$SRC",
                                    "-f lavfi -i testsrc=size=320x240:rate=25:duration=3 "
                                    "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3");
      cmd = replace_all(cmd, "$FF", "ffmpeg -nostdin -v error -y");
      cmd = replace_all(cmd, "$MKV", "mkvmerge -q");
      cmd = replace_all(cmd, "$D", quote(dir_->path()));
      if (zeptest::run_command(cmd) == 0) {
        path = scratch(stem + ".mkv");
      } else {
        ADD_FAILURE() << "could not make " << stem << ": " << cmd;
      }
    }
    return path;
  }
  static std::string scratch(const std::string& name) { return dir_->path() + "/" + name; }
  static Bytes ffmpeg_payload(const std::string& file, int stream) {
    const std::string out = scratch("ffmpeg_payload.bin");
    std::filesystem::remove(out);
    zeptest::run_command("ffmpeg -nostdin -v quiet -y -i " + quote(file) +
                         " -map 0:" + std::to_string(stream) + " -c copy -f data " + quote(out));
    return zeptest::read_file(out);
  }

  static std::unique_ptr<zeptest::TempDir> dir_;
  static std::map<std::string, std::string> made_;
};

std::unique_ptr<zeptest::TempDir> RealFiles::dir_;
std::map<std::string, std::string> RealFiles::made_;

// A file opened with delacing on and every stream active.
class DelacedFile : public avitest::AviFile {
 public:
  explicit DelacedFile(const std::string& path) : AviFile(path, false) {
    if (!container()) return;
    delaceStatus_ = set(ZEP_QID_DELACE_BLOCKS, 1);
    titleStatus_ = L1SetTitle(container(), 0);
    if (titleStatus_ >= 0) activate_all();
  }
  bool opened() const { return container() && delaceStatus_ >= 0 && titleStatus_ >= 0; }
  std::string statuses() const {
    std::ostringstream s;
    s << std::hex << "open 0x" << open_status() << ", delace 0x" << delaceStatus_ << ", title 0x"
      << titleStatus_;
    return s.str();
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

 private:
  ZEP_STATUS delaceStatus_ = ZEP_FAIL;
  ZEP_STATUS titleStatus_ = ZEP_FAIL;
};

std::vector<Block> of_stream(const std::vector<Block>& blocks, uint32_t type, uint32_t stream) {
  std::vector<Block> out;
  for (const Block& b : blocks)
    if (b.type == type && b.stream == stream) out.push_back(b);
  return out;
}

std::string param_name(std::string text) {
  for (char& c : text)
    if (!std::isalnum(uint8_t(c))) c = '_';
  return text;
}

// ---- Every stream of every file against ffmpeg and ffprobe ----------------

struct FileCase {
  const char* stem;
  const char* reference;    // the file ffmpeg reads for the expected values (null: the same)
  const char* firstCodec;   // CodecID the first track must have (null: not checked)
  const char* compression;  // ContentCompAlgo + 1 per track ("": none anywhere)
  const char* sameVideo = nullptr;  // a file ffmpeg must find the same video in, else skip
};
void PrintTo(const FileCase& c, std::ostream* os) { *os << c.stem; }

const FileCase kFiles[] = {
    {"h264_aac_srt", nullptr, "V_MPEG4/ISO/AVC", ""},
    {"mpeg4_mp3_ac3", nullptr, "V_MPEG4/ISO/ASP", ""},
    {"mpeg2_pcm", nullptr, "V_MPEG2", ""},
    {"hevc_aac", nullptr, "V_MPEGH/ISO/HEVC", ""},
    {"vp9_vorbis_ass", nullptr, "V_VP9", ""},
    {"laced", nullptr, nullptr, ""},
    {"zlib", nullptr, nullptr, "111"},
    // mkvmerge 74 writes damaged frames behind the removed 00 00 01, so this
    // runs only with an mkvmerge whose frames are those of the plain remux.
    {"header_removal", nullptr, nullptr, "400", "laced"},
    {"no_cues", nullptr, nullptr, ""},
    {"piped", nullptr, nullptr, ""},
    {"vfw", nullptr, "V_MS/VFW/FOURCC", ""},
    {"chain-001", "long", nullptr, ""},
    {"chain-002", "long", nullptr, ""},
    {"chain-003", "long", nullptr, ""},
};

class MkvRealFile : public RealFiles, public ::testing::WithParamInterface<FileCase> {};

TEST_P(MkvRealFile, EveryStreamMatchesFfmpegAndFfprobe) {
  const FileCase& c = GetParam();
  const std::string path = file(c.stem);
  const std::string reference = c.reference ? file(c.reference) : path;
  ASSERT_FALSE(path.empty() || reference.empty());
  if (c.sameVideo && ffmpeg_payload(path, 0) != ffmpeg_payload(file(c.sameVideo), 0))
    GTEST_SKIP() << "this mkvmerge writes damaged frames into " << c.stem;
  DelacedFile f(path);
  ASSERT_TRUE(f.opened()) << f.statuses();
  ZEP_STATUS last = 0;
  const std::vector<Block> blocks = f.read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM) << "reading stopped with a failure";
  const std::vector<ZepMkvTrackProp> tracks = f.tracks();
  ASSERT_EQ(int(tracks.size()), probe_stream_count(reference)) << "track count";
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
    Bytes got;
    for (const Block& b : mine) got.insert(got.end(), b.data.begin(), b.data.end());
    const Bytes expected = ffmpeg_payload(reference, i);
    EXPECT_FALSE(expected.empty());
    EXPECT_TRUE(got == expected) << "payload differs: " << difference(got, expected);
    const std::vector<Packet> packets = probe_packets(reference, i);
    ASSERT_EQ(mine.size(), packets.size()) << "block count is not ffprobe's packet count";
    if (mine.empty()) continue;
    if (t.kind == ZEP_BLOCK_AUDIO) {
      EXPECT_NEAR(mine.front().time / 1e7, packets.front().pts, 0.002) << "first audio time";
      EXPECT_NEAR(mine.back().time / 1e7, packets.back().pts, 0.002) << "last audio time";
      continue;
    }
    // Video and subtitles: every time, and for video every key flag.
    int wrong = 0;
    for (size_t k = 0; k < mine.size() && wrong < 5; ++k) {
      const bool timeOk = std::fabs(mine[k].time / 1e7 - packets[k].pts) <= 0.0015;
      const bool keyOk = t.kind != ZEP_BLOCK_VIDEO || mine[k].key() == packets[k].key;
      EXPECT_TRUE(timeOk && keyOk)
          << "block " << k << ": time " << mine[k].time / 1e7 << " key " << mine[k].key()
          << ", ffprobe " << packets[k].pts << " key " << packets[k].key;
      wrong += !(timeOk && keyOk);
    }
  }
}

// L1ReadNextBlockByStream, one stream after the other in a fresh open, gives
// each stream's blocks of the interleaved read.
TEST_P(MkvRealFile, ReadingOneStreamAtATimeGivesTheInterleavedBlocks) {
  const FileCase& c = GetParam();
  const std::string path = file(c.stem);
  ASSERT_FALSE(path.empty());
  const std::vector<Block> all = DelacedFile(path).read_all();
  DelacedFile f(path);
  ASSERT_TRUE(f.opened()) << f.statuses();
  for (const ZepMkvTrackProp& t : f.tracks()) {
    SCOPED_TRACE("stream " + std::to_string(t.kind) + "/" + std::to_string(t.streamIndex));
    const std::vector<Block> expected = of_stream(all, t.kind, t.streamIndex);
    std::vector<Block> got;
    ZEP_STATUS status = 0;
    for (Block b;
         got.size() <= expected.size() && (status = f.read_stream(t.kind, t.streamIndex, &b)) >= 0;)
      got.push_back(b);
    EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM) << "reading the stream stopped with a failure";
    ASSERT_EQ(got.size(), expected.size()) << "block count";
    for (size_t k = 0; k < got.size(); ++k)
      ASSERT_TRUE(got[k].data == expected[k].data && got[k].time == expected[k].time &&
                  got[k].key() == expected[k].key())
          << "block " << k << " differs";
  }
}

INSTANTIATE_TEST_SUITE_P(mkv_real, MkvRealFile, ::testing::ValuesIn(kFiles),
                         [](const auto& p) { return param_name(p.param.stem); });

// ---- Seeks ----------------------------------------------------------------

struct SeekCase {
  const char* stem;
  const char* reference;
  bool cues;  // with Cues the seek finds the last key frame at or before the target
};
void PrintTo(const SeekCase& c, std::ostream* os) { *os << c.stem; }

const SeekCase kSeeks[] = {
    {"h264_aac_srt", nullptr, true}, {"no_cues", nullptr, false}, {"piped", nullptr, false},
    {"chain-001", "long", true},     {"chain-002", "long", true}, {"chain-003", "long", true},
};

class MkvRealSeek : public RealFiles, public ::testing::WithParamInterface<SeekCase> {};

// True when the blocks read after a seek are the sequential read's blocks
// from the first of them on.
bool continues_as(const std::vector<Block>& tail, const std::vector<Block>& all) {
  if (tail.empty()) return true;
  for (size_t j = 0; j < all.size(); ++j) {
    if (all[j].time != tail[0].time || all[j].data != tail[0].data) continue;
    const size_t n = std::min(tail.size(), all.size() - j);
    return std::equal(tail.begin(), tail.begin() + long(n), all.begin() + long(j),
                      [](const Block& a, const Block& b) {
                        return a.time == b.time && a.data == b.data && a.key() == b.key();
                      });
  }
  return false;
}

TEST_P(MkvRealSeek, VideoSeekLandsOnAKeyFrameAtOrBeforeTheTarget) {
  const SeekCase& c = GetParam();
  const std::string path = file(c.stem);
  const std::string reference = c.reference ? file(c.reference) : path;
  ASSERT_FALSE(path.empty() || reference.empty());
  DelacedFile f(path);
  ASSERT_TRUE(f.opened()) << f.statuses();
  const std::vector<Block> all = f.read_all();
  std::vector<double> keys;
  double end = 0;
  for (const Packet& p : probe_packets(reference, 0)) {
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
    const bool onKey = std::any_of(keys.begin(), keys.end(),
                                   [&](double k) { return std::fabs(k - t / 1e7) < 0.0015; });
    EXPECT_TRUE(onKey) << "landed at " << t / 1e7 << " s, which is no key frame";
    if (c.cues) {
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
    std::map<std::pair<uint32_t, uint32_t>, bool> checked;
    for (const Block& b : rest) {
      if (checked[{b.type, b.stream}]) continue;
      checked[{b.type, b.stream}] = true;
      EXPECT_TRUE(continues_as(of_stream(rest, b.type, b.stream), of_stream(all, b.type, b.stream)))
          << "stream " << b.type << "/" << b.stream << " does not go on as in the sequential read";
    }
  }
}

INSTANTIATE_TEST_SUITE_P(mkv_real, MkvRealSeek, ::testing::ValuesIn(kSeeks),
                         [](const auto& p) { return param_name(p.param.stem); });

// ---- Files cut short ------------------------------------------------------

struct CutCase {
  const char* stem;
  int percent;  // of the file kept
  // Neither laced nor compressed: ffprobe's packet positions and sizes tell
  // which blocks end before the cut.
  bool countKnown;
};
void PrintTo(const CutCase& c, std::ostream* os) { *os << c.stem; }

const CutCase kCuts[] = {
    {"h264_aac_srt", 60, true}, {"piped", 60, true}, {"laced", 60, false}, {"zlib", 45, false}};

// ffprobe's packets of every stream that end at or before `end`.
size_t packets_ending_before(const std::string& file, uintmax_t end) {
  std::istringstream in(zeptest::command_output(
      "ffprobe -v error -show_entries packet=pos,size -of csv=p=0 " + quote(file)));
  size_t n = 0;
  for (std::string line; std::getline(in, line);) {
    unsigned long long size = 0, pos = 0;
    if (std::sscanf(line.c_str(), "%llu,%llu", &size, &pos) == 2 && pos + size <= end) ++n;
  }
  return n;
}

class MkvRealCut : public RealFiles, public ::testing::WithParamInterface<CutCase> {};

// The cut falls inside a Cluster: every block before it comes as in the whole
// file (bytes, time, key flag), then the end of the stream.
TEST_P(MkvRealCut, PlaysUpToTheCutThenEnds) {
  const CutCase& c = GetParam();
  const std::string whole = file(c.stem);
  ASSERT_FALSE(whole.empty());
  const std::string cut = scratch(std::string(c.stem) + "_cut.mkv");
  std::filesystem::copy_file(whole, cut, std::filesystem::copy_options::overwrite_existing);
  const uintmax_t kept = std::filesystem::file_size(whole) * uintmax_t(c.percent) / 100;
  std::filesystem::resize_file(cut, kept);
  const std::vector<Block> expected = DelacedFile(whole).read_all();
  DelacedFile f(cut);
  ASSERT_TRUE(f.opened()) << f.statuses();
  ZEP_STATUS last = 0;
  const std::vector<Block> blocks = f.read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM) << "the cut is reported as a failure";
  Block more;
  EXPECT_EQ(f.read(&more), ZEP_ERR_END_OF_STREAM) << "a read after the end";
  if (c.countKnown) {
    EXPECT_EQ(blocks.size(), packets_ending_before(whole, kept)) << "blocks before the cut";
  } else {
    EXPECT_GT(blocks.size() * 100, expected.size() * size_t(c.percent - 25)) << "stopped early";
  }
  ASSERT_LT(blocks.size(), expected.size());
  for (size_t k = 0; k < blocks.size(); ++k) {
    const Block& b = blocks[k];
    const Block& e = expected[k];
    ASSERT_TRUE(b.type == e.type && b.stream == e.stream && b.data == e.data && b.time == e.time &&
                b.key() == e.key())
        << "block " << k << " differs from the whole file's (stream " << b.type << "/" << b.stream
        << " at " << b.time << ", expected " << e.type << "/" << e.stream << " at " << e.time
        << ")";
  }
}

INSTANTIATE_TEST_SUITE_P(mkv_real, MkvRealCut, ::testing::ValuesIn(kCuts),
                         [](const auto& p) { return param_name(p.param.stem); });

// ---- Through the library API: the zepdemux CLI ---------------------------

std::string cli_path() {
  std::error_code ec;
  const auto exe = std::filesystem::read_symlink("/proc/self/exe", ec);
  if (ec) return "";
  // This test runs from BUILD/tests/modules/mkv; the CLI is BUILD/tools/zepdemux/zepdemux.
  const auto cli = exe.parent_path() / "../../../tools/zepdemux/zepdemux";
  return std::filesystem::exists(cli) ? cli.lexically_normal().string() : "";
}

class MkvRealApi : public RealFiles {
 protected:
  void SetUp() override {
    RealFiles::SetUp();
    if (IsSkipped()) return;
    cli_ = cli_path();
    if (cli_.empty()) GTEST_SKIP() << "the zepdemux CLI is not built";
  }
  // `zepdemux extract FILE [flags] N:OUT...`; the outputs' paths, or none on failure.
  std::vector<std::string> extract(const std::string& path, const std::vector<int>& streams,
                                   const std::string& flags, const std::string& suffix) {
    std::string cmd = quote(cli_) + " extract " + quote(path) + " " + flags;
    std::vector<std::string> outs;
    for (int s : streams) {
      outs.push_back(scratch("api_" + std::to_string(s) + suffix));
      cmd += " " + std::to_string(s) + ":" + quote(outs.back());
    }
    const std::string errors = scratch("api_errors.txt");
    if (zeptest::run_command(cmd + " >/dev/null 2>" + quote(errors) + " </dev/null") != 0) {
      const Bytes text = zeptest::read_file(errors);
      ADD_FAILURE() << "zepdemux failed: " << cmd << "\n" << std::string(text.begin(), text.end());
      return {};
    }
    return outs;
  }
  std::string cli_;
};

struct ApiCase {
  const char* stem;
  const char* reference;
};
void PrintTo(const ApiCase& c, std::ostream* os) { *os << c.stem; }

const ApiCase kApiFiles[] = {{"h264_aac_srt", nullptr}, {"laced", nullptr}, {"zlib", nullptr},
                             {"piped", nullptr},        {"vfw", nullptr},   {"chain-002", "long"}};

class MkvRealApiPayload : public MkvRealApi, public ::testing::WithParamInterface<ApiCase> {};

// Push and pull both deliver every stream's bytes as ffmpeg extracts them.
TEST_P(MkvRealApiPayload, PushAndPullExtractionEqualsFfmpeg) {
  const ApiCase& c = GetParam();
  const std::string path = file(c.stem);
  const std::string reference = c.reference ? file(c.reference) : path;
  ASSERT_FALSE(path.empty() || reference.empty());
  std::vector<int> streams(size_t(probe_stream_count(reference)));
  for (size_t i = 0; i < streams.size(); ++i) streams[i] = int(i);
  for (const char* mode : {"", "--pull"}) {
    SCOPED_TRACE(std::string(c.stem) + (*mode ? " pull" : " push"));
    const std::vector<std::string> outs = extract(path, streams, mode, ".bin");
    ASSERT_EQ(outs.size(), streams.size());
    for (int s : streams) {
      const Bytes got = zeptest::read_file(outs[size_t(s)]);
      const Bytes expected = ffmpeg_payload(reference, s);
      EXPECT_TRUE(got == expected) << "stream " << s << ": " << difference(got, expected);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(mkv_real, MkvRealApiPayload, ::testing::ValuesIn(kApiFiles),
                         [](const auto& p) { return param_name(p.param.stem); });

struct EsCase {
  const char* stem;
  int stream;
  const char* suffix;  // tells ffmpeg the elementary stream's format
};
void PrintTo(const EsCase& c, std::ostream* os) { *os << c.stem; }

const EsCase kEs[] = {{"h264_aac_srt", 0, ".h264"},
                      {"h264_aac_srt", 1, ".aac"},
                      {"hevc_aac", 0, ".hevc"},
                      {"hevc_aac", 1, ".aac"}};

class MkvRealEs : public MkvRealApi, public ::testing::WithParamInterface<EsCase> {};

// `--es` output decodes without a word from ffmpeg, to one frame per packet,
// and push and pull write the same bytes.
TEST_P(MkvRealEs, ElementaryStreamDecodesWithoutErrors) {
  const EsCase& c = GetParam();
  const std::string path = file(c.stem);
  ASSERT_FALSE(path.empty());
  const std::vector<std::string> push = extract(path, {c.stream}, "--es", c.suffix);
  ASSERT_EQ(push.size(), 1u);
  const std::string es = scratch(std::string("es") + c.suffix);
  std::filesystem::rename(push[0], es);
  const std::vector<std::string> pull = extract(path, {c.stream}, "--es --pull", c.suffix);
  ASSERT_EQ(pull.size(), 1u);
  EXPECT_TRUE(zeptest::read_file(es) == zeptest::read_file(pull[0])) << "push and pull differ";
  const std::string errors =
      zeptest::command_output("ffmpeg -nostdin -v error -i " + quote(es) + " -f null - 2>&1");
  EXPECT_EQ(errors, "") << "ffmpeg's complaints about the elementary stream";
  const std::string frames = zeptest::command_output(
      "ffprobe -v error -count_frames -select_streams 0 -show_entries stream=nb_read_frames "
      "-of csv=p=0 " +
      quote(es));
  EXPECT_EQ(std::atoi(frames.c_str()), int(probe_packets(path, c.stream).size()))
      << "decoded frames";
}

INSTANTIATE_TEST_SUITE_P(mkv_real, MkvRealEs, ::testing::ValuesIn(kEs), [](const auto& p) {
  return param_name(std::string(p.param.stem) + "_" + std::to_string(p.param.stream));
});

}  // namespace
