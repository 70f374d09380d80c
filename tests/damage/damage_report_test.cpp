// Damage reports through the public API and the CLI: a file cut short is read
// up to the damage, the host's "wrn_printf_ex" hears what and where (once per
// place, however often the file is read), and the CLI says so and exits 1; an
// undamaged file gives no warning and exit 0.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "api/zep_demux.h"
#include "test_host.h"
#include "tests/support/byte_writer.h"
#include "tests/support/ebml_builder.h"

namespace {

using zeptest::Bytes;

std::vector<std::string> warnings_of(const test_host& host) {
  return {host.warnings, host.warnings + host.warning_count};
}

// Opens `path`, adds every stream of title 0 to one parser and pushes to the
// end (after a seek to `seek_to` seconds when that is not negative); the
// number of blocks delivered.
int read_file(test_host* host, const std::string& path, double seek_to = -1) {
  zepdmux_t* demux = zepDemuxNew(&test_host_get_rc, host, nullptr);
  int blocks = 0;
  std::vector<test_output> outputs;
  if (zepDemuxOpen(demux, nullptr, path.c_str()) == 0) {
    zep_title_info_t title{};
    zepDemuxGetTitleInfo(demux, 0, &title);
    zepdmux_parser_settings_t settings{};
    const int32_t parser = zepDemuxNewParser(demux, &settings);
    const int streams =
        title.num_video_streams + title.num_audio_streams + title.num_subtitle_streams;
    outputs.resize(size_t(streams));
    for (int s = 0; s < streams; ++s) {
      test_output_init(&outputs[size_t(s)], 1 << 20);
      zepdmux_stream_settings stream{};
      stream.output = &outputs[size_t(s)].base;
      stream.stream_num = int16_t(s);
      zepDemuxAddStream(demux, parser, &stream);
    }
    if (seek_to >= 0) {
      zepdmux_seek_info_t seek{};
      seek.parser_num = parser;
      seek.seek_time = int64_t(seek_to * 1e7);
      zepDemuxSeek(demux, &seek);
    }
    while (zepDemuxPush(demux, parser) > 0) ++blocks;
  }
  zepDemuxFree(demux);
  for (test_output& out : outputs) test_output_free(&out);
  return blocks;
}

struct CutCase {
  const char* name;
  const char* sample;
  double keep;  // part of the file that is kept
  std::vector<const char*> reports;
};

class DamageReport : public testing::TestWithParam<CutCase> {
 protected:
  std::string sample_path() const {
    return std::string(ZEP_SOURCE_DIR) + "/samples/" + GetParam().sample;
  }
  std::string cut_file() {
    Bytes bytes = zeptest::read_file(sample_path());
    bytes.resize(size_t(double(bytes.size()) * GetParam().keep));
    return dir_.write(GetParam().sample, bytes);
  }
  zeptest::TempDir dir_;
};

TEST_P(DamageReport, CutFileIsReadUpToTheDamageAndReportedWithItsOffset) {
  test_host clean, cut;
  test_host_init(&clean);
  test_host_init(&cut);
  const int all = read_file(&clean, sample_path());
  EXPECT_EQ(clean.warning_count, 0) << clean.warnings[0];
  const int some = read_file(&cut, cut_file());
  EXPECT_GT(some, all / 3);
  EXPECT_LT(some, all);
  for (const char* report : GetParam().reports) {
    bool found = false;
    for (const auto& w : warnings_of(cut)) found = found || w.find(report) != std::string::npos;
    EXPECT_TRUE(found) << "no warning with \"" << report << "\"";
  }
  for (const auto& w : warnings_of(cut))
    EXPECT_NE(w.find(" at byte offset "), std::string::npos) << w;
}

TEST_P(DamageReport, EachPlaceIsReportedOnceHoweverOftenItIsRead) {
  // Within one instance two parsers, each reading to the end, seeking back
  // and reading again, meet the same damage four times.
  const std::string path = cut_file();
  test_host again;
  test_host_init(&again);
  zepdmux_t* demux = zepDemuxNew(&test_host_get_rc, &again, nullptr);
  ASSERT_EQ(zepDemuxOpen(demux, nullptr, path.c_str()), 0);
  zepdmux_parser_settings_t settings{};
  for (int round = 0; round < 2; ++round) {
    const int32_t parser = zepDemuxNewParser(demux, &settings);
    test_output out;
    test_output_init(&out, 1 << 20);
    zepdmux_stream_settings stream{};
    stream.output = &out.base;
    zepDemuxAddStream(demux, parser, &stream);
    while (zepDemuxPush(demux, parser) > 0) {
    }
    zepdmux_seek_info_t seek{};
    seek.parser_num = parser;
    zepDemuxSeek(demux, &seek);
    while (zepDemuxPush(demux, parser) > 0) {
    }
    zepDemuxFreeParser(demux, parser);
    test_output_free(&out);
  }
  zepDemuxFree(demux);
  std::vector<std::string> sorted = warnings_of(again);
  ASSERT_FALSE(sorted.empty());
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(std::adjacent_find(sorted.begin(), sorted.end()), sorted.end())
      << "a report came twice";
}

TEST_P(DamageReport, CliSaysTheFileIsDamagedAndExitsOne) {
  const std::string cli = ZEP_CLI_PATH;
  const std::string clean = cli + " packets " + sample_path() + " 2>&1 >/dev/null";
  EXPECT_EQ(zeptest::command_output(clean), "");
  EXPECT_EQ(zeptest::run_command(cli + " packets " + sample_path() + " >/dev/null"), 0);
  const std::string path = cut_file();
  const std::string stderr_text =
      zeptest::command_output(cli + " packets " + path + " 2>&1 >/dev/null");
  EXPECT_NE(stderr_text.find("zepdemux: warning: "), std::string::npos) << stderr_text;
  EXPECT_NE(stderr_text.find("zepdemux: the file is damaged"), std::string::npos) << stderr_text;
  EXPECT_NE(zeptest::run_command(cli + " packets " + path + " >/dev/null 2>&1"), 0);
}

const CutCase kCutCases[] = {
    {"avi_cut_in_movi",
     "sample.avi",
     0.6,
     {"The file ends inside the RIFF 'AVI ' list", "The file ends inside chunk '"}},
    {"mkv_cut_in_cluster",
     "sample.mkv",
     0.6,
     {"The file ends inside element SEGMENT (0x18538067)"}},
};

INSTANTIATE_TEST_SUITE_P(Samples, DamageReport, testing::ValuesIn(kCutCases),
                         [](const testing::TestParamInfo<CutCase>& p) {
                           return std::string(p.param.name);
                         });

// Crafted Matroska damage that no muxer writes, read through the API.
using zeptest::E;
namespace id = zeptest::mkvid;

struct MkvCase {
  const char* name;
  Bytes (*file)();
  const char* report;
  int blocks;  // delivered in spite of it
};

E ac3_track(std::vector<E> more = {}) { return zeptest::mkv_track(1, 2, "A_AC3", std::move(more)); }
E frame_block(int16_t time, const Bytes& frame) {
  return zeptest::mkv_simple_block(1, time, zeptest::kBlockKey, {frame});
}
Bytes mkv(const std::vector<E>& tracks, const std::vector<E>& clusters, const Bytes& after = {}) {
  std::vector<E> children = {zeptest::mkv_info(), E(id::kTracks, tracks)};
  children.insert(children.end(), clusters.begin(), clusters.end());
  Bytes file = zeptest::mkv_file({zeptest::mkv_segment(children)});
  file.insert(file.end(), after.begin(), after.end());
  return file;
}
const Bytes kFrame(40, 0x0B);

const MkvCase kMkvCases[] = {
    {"track_entry_past_its_parent",
     [] {
       E track = ac3_track();
       track.wrong_size(track.byte_size());  // claims more than Tracks holds
       return mkv({track}, {zeptest::mkv_cluster(0, {frame_block(0, kFrame)})});
     },
     "Element TRACKENTRY (0xAE) of ", 1},
    {"garbage_before_a_cluster",
     [] {
       Bytes garbage = {0x81, 0x85, 'j', 'u', 'n', 'k', '!', 0x42, 0x42, 0x42};
       const Bytes cluster = zeptest::mkv_cluster(1000, {frame_block(0, kFrame)}).bytes();
       garbage.insert(garbage.end(), cluster.begin(), cluster.end());
       return mkv({ac3_track()}, {zeptest::mkv_cluster(0, {frame_block(0, kFrame)})}, garbage);
     },
     "Unknown element 0x81; ", 1},
    {"lace_header_larger_than_the_block",
     [] {
       Bytes laced = zeptest::mkv_block_payload(1, 20, zeptest::kBlockKey, {kFrame, kFrame},
                                                zeptest::Lacing::kXiph);
       laced[4] = 0xFF;  // the first frame's size now runs past the block
       laced[5] = 0xFF;
       return mkv(
           {ac3_track()},
           {zeptest::mkv_cluster(0, {frame_block(0, kFrame), E::bin(id::kSimpleBlock, laced)})});
     },
     "A block of track 1 is passed over: its lace header is damaged", 1},
    {"zlib_frame_that_does_not_inflate",
     [] {
       const E zlib(id::kContentEncodings,
                    {E(id::kContentEncoding,
                       {E(id::kContentCompression, {E::uint(id::kContentCompAlgo, 0)})})});
       const Bytes deflated = {0x78, 0x9C, 0x63, 0x60, 0x00, 0x00, 0x00, 0x02, 0x00, 0x01};
       return mkv(
           {ac3_track({zlib})},
           {zeptest::mkv_cluster(0, {frame_block(0, deflated), frame_block(20, {0x78, 0x01, 0})})});
     },
     "A block of track 1 is refused: its frames do not decode", 1},
};

class MkvDamage : public testing::TestWithParam<MkvCase> {};

TEST_P(MkvDamage, IsReportedAndTheBlocksBeforeItAreDelivered) {
  zeptest::TempDir dir;
  const std::string path = dir.write("damaged.mkv", GetParam().file());
  test_host host;
  test_host_init(&host);
  EXPECT_EQ(read_file(&host, path), GetParam().blocks);
  bool found = false;
  for (const auto& w : warnings_of(host))
    found = found || (w.find(GetParam().report) != std::string::npos &&
                      w.find(" at byte offset ") != std::string::npos);
  EXPECT_TRUE(found) << "no warning with \"" << GetParam().report << "\" among "
                     << host.warning_count;
}

INSTANTIATE_TEST_SUITE_P(Crafted, MkvDamage, testing::ValuesIn(kMkvCases),
                         [](const testing::TestParamInfo<MkvCase>& p) {
                           return std::string(p.param.name);
                         });

// Raw H.264 and text subtitles go through the container layer that the CLI
// drives itself; their readers report what they pass over in the same way.
struct TextCase {
  const char* name;
  const char* file_name;
  std::string content;
  const char* command;
  const char* report;  // the whole warning line, offset included
  size_t lines_out;    // lines the command still prints
};

std::string sample_h264_with_garbage() {
  Bytes bytes = zeptest::read_file(std::string(ZEP_SOURCE_DIR) + "/samples/sample.h264");
  const uint8_t start[] = {0, 0, 1};
  auto at = std::search(bytes.begin() + 5000, bytes.end(), start, start + 3);
  // Zero bytes end a unit; letters after them are no start code.
  const std::string garbage("\0\0\0GARBAGE", 10);
  bytes.insert(at - 1, garbage.begin(), garbage.end());
  return std::string(bytes.begin(), bytes.end());
}

class ContainerLayerDamage : public testing::TestWithParam<TextCase> {};

TEST_P(ContainerLayerDamage, IsReportedWithItsOffsetAndTheRestIsDelivered) {
  zeptest::TempDir dir;
  const std::string path = dir.write(GetParam().file_name, GetParam().content);
  const std::string command = std::string(ZEP_CLI_PATH) + " " + GetParam().command + " " + path;
  const std::string stderr_text = zeptest::command_output(command + " 2>&1 >/dev/null");
  EXPECT_NE(stderr_text.find(std::string("zepdemux: warning: ") + GetParam().report + "\n"),
            std::string::npos)
      << stderr_text;
  const std::string out = zeptest::command_output(command + " 2>/dev/null");
  EXPECT_EQ(size_t(std::count(out.begin(), out.end(), '\n')), GetParam().lines_out) << out;
  EXPECT_NE(zeptest::run_command(command + " >/dev/null 2>&1"), 0);
}

const TextCase kTextCases[] = {
    {"srt_unreadable_timing", "bad.srt",
     "1\n00:00:01,000 --> 00:00:02,000\nok\n\n2\nbroken timing\nlost\n\n"
     "3\n00:00:03,000 --> 00:00:04,000\nthree\n",
     "subs --text", "An entry with an unreadable timing line is passed over at byte offset 38", 3},
    {"ass_event_without_time", "bad.ass",
     "[Script Info]\nScriptType: v4.00+\n\n[Events]\n"
     "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
     "Dialogue: 0,0:00:01.00,0:00:02.00,Default,,0,0,0,,one\n"
     "Dialogue: 0,,0:00:03.00,Default,,0,0,0,,bad\n",
     "subs --text", "A Dialogue event without a readable time is passed over at byte offset 177",
     2},
    {"h264_no_start_code", "bad.h264", sample_h264_with_garbage(), "packets",
     "No start code where the next NAL unit should begin; the stream ends here at byte offset 5209",
     5},
};

INSTANTIATE_TEST_SUITE_P(Crafted, ContainerLayerDamage, testing::ValuesIn(kTextCases),
                         [](const testing::TestParamInfo<TextCase>& p) {
                           return std::string(p.param.name);
                         });

}  // namespace
