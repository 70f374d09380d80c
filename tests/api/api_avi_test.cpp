// End to end on AVI files made by ffmpeg: every stream's payload through the
// API (push and pull) equals ffmpeg's own extraction; H.264 with the
// add-header flag decodes, also after a seek; the example host extracts the
// same bytes.
#include <cstring>
#include <string>

#include "api_fixture.h"

namespace zeptest {
namespace {

class AviEndToEnd : public HostTest {
 protected:
  static void SetUpTestSuite() {
#ifdef ZEP_HAVE_AVI
    if (!have_tool("ffmpeg") || !have_tool("ffprobe")) return;
    dir_ = new TempDir();
    const std::string ff = "ffmpeg -hide_banner -loglevel error -y ";
    h264_ = dir_->path() + "/h264.avi";
    run_command(ff +
                "-f lavfi -i testsrc2=size=160x120:rate=25:duration=3 "
                "-f lavfi -i sine=frequency=440:sample_rate=48000:duration=3 "
                "-f lavfi -i sine=frequency=660:sample_rate=44100:duration=3 "
                "-map 0:v -map 1:a -map 2:a -c:v libx264 -preset veryfast -bf 2 -g 25 "
                "-threads 1 -c:a:0 aac -b:a:0 64k -c:a:1 libmp3lame -b:a:1 48k -ac:a:1 1 '" +
                h264_ + "'");
    mpeg4_ = dir_->path() + "/mpeg4.avi";
    run_command(ff +
                "-f lavfi -i testsrc=size=176x144:rate=15:duration=2 "
                "-f lavfi -i sine=frequency=300:sample_rate=48000:duration=2 "
                "-f lavfi -i sine=frequency=500:sample_rate=22050:duration=2 "
                "-map 0:v -map 1:a -map 2:a -c:v mpeg4 -vtag XVID -g 10 -c:a:0 ac3 -b:a:0 96k "
                "-c:a:1 pcm_s16le '" +
                mpeg4_ + "'");
#endif
  }
  static void TearDownTestSuite() {
    delete dir_;
    dir_ = nullptr;
  }
  void SetUp() override {
#ifndef ZEP_HAVE_AVI
    GTEST_SKIP() << "the AVI module is not part of this build";
#endif
    if (dir_ == nullptr) GTEST_SKIP() << "ffmpeg is missing";
    HostTest::SetUp();
    ASSERT_NE(create(), nullptr);
  }
  void TearDown() override {
    HostTest::TearDown();
    for (test_output& out : outs_) test_output_free(&out);
  }
  // A push output of 64 KiB chunks (or pull, with 0) the fixture frees.
  test_output* output(uint32_t chunk = 65536) {
    test_output_init(&outs_[used_], chunk);
    return &outs_[used_++];
  }
  // The file open, one parser with one stream, the add-header flag as given;
  // a failure is reported here, and the calls on parser 0 that follow fail.
  int32_t parser_for(const std::string& file, int16_t stream, test_output* out, bool header) {
    const int32_t p = open(file) ? new_parser() : 0;
    if (p != 0 && add_stream(p, stream, out, header) == 0) return p;
    ADD_FAILURE() << "no parser: " << last_message();
    return 0;
  }
  static Bytes ffmpeg_stream(const std::string& file, int stream) {
    const std::string out = dir_->path() + "/ff_" + std::to_string(stream) + ".bin";
    run_command("ffmpeg -hide_banner -loglevel error -y -i '" + file +
                "' -map 0:" + std::to_string(stream) + " -c copy -f data '" + out + "'");
    return read_file(out);
  }
  // Push: one parser with every stream; pull: one parser per stream.
  void check_payloads(const std::string& file) {
    ASSERT_TRUE(open(file)) << last_message();
    zep_file_info_t info;
    ASSERT_EQ(zepDemuxGetFileInfo(demux, &info), 0);
    EXPECT_EQ(get(info.file_size), int64_t(read_file(file).size()));
    EXPECT_TRUE(get(info.container_type) == ZEP_CONTAINER_AVI ||
                get(info.container_type) == ZEP_CONTAINER_AVI_ODML);
    zep_title_info_t t;
    ASSERT_EQ(zepDemuxGetTitleInfo(demux, 0, &t), 0);
    ASSERT_EQ(t.num_video_streams + t.num_audio_streams + t.num_subtitle_streams, 3);
    const int32_t p = new_parser();
    for (int16_t i = 0; i < 3; ++i) ASSERT_EQ(add_stream(p, i, output(4096)), 0);
    push_all(p);
    for (int16_t i = 0; i < 3; ++i) {
      test_output* pulled = output(0);
      const int32_t q = new_parser();
      ASSERT_EQ(add_stream(q, i, pulled), 0);
      int end = 0;
      while (!end) ASSERT_EQ(test_output_pull(pulled, &end, nullptr), 0);
      const Bytes expected = ffmpeg_stream(file, i);
      EXPECT_FALSE(expected.empty());
      EXPECT_TRUE(bytes_of(outs_[size_t(i)]) == expected) << "push, stream " << i;
      EXPECT_TRUE(bytes_of(*pulled) == expected) << "pull, stream " << i;
      EXPECT_EQ(pulled->block_count, outs_[size_t(i)].block_count);
      zepDemuxFreeParser(demux, q);
    }
  }

  static TempDir* dir_;
  static std::string h264_, mpeg4_;
  test_output outs_[8]{};
  size_t used_ = 0;
};

TempDir* AviEndToEnd::dir_ = nullptr;
std::string AviEndToEnd::h264_, AviEndToEnd::mpeg4_;

TEST_F(AviEndToEnd, H264AacMp3PayloadsEqualFfmpeg) { check_payloads(h264_); }

TEST_F(AviEndToEnd, Mpeg4Ac3PcmPayloadsEqualFfmpeg) { check_payloads(mpeg4_); }

int decoded_frames(const std::string& file, const std::string& format) {
  return std::atoi(command_output("ffprobe -v error -f " + format +
                                  " -count_frames -select_streams v:0 -show_entries "
                                  "stream=nb_read_frames -of csv=p=0 '" +
                                  file + "'")
                       .c_str());
}

TEST_F(AviEndToEnd, H264WithHeadersDecodesToEveryFrameAlsoAfterASeek) {
  test_output* out = output();
  const int32_t p = parser_for(h264_, 0, out, true);
  for (auto [stream, codec] : {std::pair<int16_t, uint32_t>{0, ZEP_CODEC_H264},
                               {1, ZEP_CODEC_AAC},
                               {2, ZEP_CODEC_MPEG_AUDIO}}) {
    zep_stream_info_t s{};
    ASSERT_EQ(zepDemuxGetStreamInfo(demux, 0, stream, &s), 0);
    EXPECT_EQ(get(s.codec_id), codec);
  }
  push_all(p);
  const std::string es = dir_->write("video.h264", bytes_of(*out));
  EXPECT_EQ(decoded_frames(es, "h264"), decoded_frames(h264_, "avi"));
  EXPECT_EQ(decoded_frames(es, "h264"), 75);
  int64_t reached = 0;
  ASSERT_EQ(seek(p, 15000000, 0, 0, &reached), 0) << last_message();  // key frame at 1 s or 2 s
  EXPECT_EQ(reached % 10000000, 0) << reached;
  const size_t from = out->size;
  push_all(p);
  const Bytes after(out->data + from, out->data + out->size);
  ASSERT_GT(after.size(), 5u);
  EXPECT_EQ(std::memcmp(after.data(), "\0\0\0\1", 4), 0);
  EXPECT_EQ(after[4] & 0x1F, 7) << "SPS first";
  const std::string cut = dir_->write("seek.h264", after);
  EXPECT_EQ(decoded_frames(cut, "h264"), 75 - int(reached / 400000));
  EXPECT_EQ(command_output("ffmpeg -hide_banner -v error -f h264 -i '" + cut + "' -f null - 2>&1"),
            "");
}

TEST_F(AviEndToEnd, SeekMovesEveryStreamOfTheParser) {
  test_output* video = output();
  test_output* audio = output();
  const int32_t p = parser_for(h264_, 0, video, false);
  ASSERT_EQ(add_stream(p, 1, audio), 0);
  for (int i = 0; i < 5; ++i) ASSERT_GT(zepDemuxPush(demux, p), 0);
  int64_t reached = 0;
  ASSERT_EQ(seek(p, 15000000, 0, 0, &reached), 0) << last_message();
  const size_t audioBefore = audio->block_count;
  for (int i = 0; i < 20 && audio->block_count == audioBefore; ++i)
    ASSERT_GT(zepDemuxPush(demux, p), 0);
  ASSERT_GT(audio->block_count, audioBefore);
  // The first audio block after the seek lies near the time the video reached,
  // not where the audio stood before.
  EXPECT_NEAR(double(get(audio->blocks[audioBefore].info.start_time)), double(reached * 27 / 10),
              27e6 * 0.5);
}

TEST_F(AviEndToEnd, ExampleHostExtractsAStream) {
#ifndef ZEP_EXAMPLE_FILE
  GTEST_SKIP() << "the example host is not part of this build";
#else
  const std::string out = dir_->path() + "/example.bin";
  const std::string listing =
      command_output(std::string("'") + ZEP_EXAMPLE_FILE + "' '" + h264_ + "' 2 '" + out + "'");
  EXPECT_NE(listing.find("stream 2: type 1 codec 131"), std::string::npos) << listing;
  EXPECT_TRUE(read_file(out) == ffmpeg_stream(h264_, 2));
#endif
}

// Files of the modules that report no container type are refused by open.
TEST_F(HostTest, RawH264AndTextSubtitlesHaveNoContainerType) {
  ASSERT_NE(create(), nullptr);
  TempDir dir;
  std::vector<std::string> files;
#ifdef ZEP_HAVE_SUBTITLE
  files.push_back(dir.write("subs.srt", std::string("1\n00:00:01,000 --> 00:00:02,000\nHi\n\n")));
#endif
#ifdef ZEP_HAVE_H264
  files.push_back(std::string(ZEP_SOURCE_DIR) + "/samples/sample.h264");
#endif
  if (files.empty()) GTEST_SKIP() << "neither module is part of this build";
  for (const std::string& file : files)
    EXPECT_EQ(failed(zepDemuxOpen(demux, nullptr, file.c_str())),
              "Unable to get the container type")
        << file;
}

}  // namespace
}  // namespace zeptest
