// End to end on AVI files made by ffmpeg: every stream's payload through the
// API (push and pull) equals ffmpeg's own extraction; H.264 with the
// add-header flag decodes; a seek gives a stream that starts with the
// parameter sets; the example host extracts the same bytes.
#include <cstring>
#include <fstream>
#include <string>

#include "api_fixture.h"

namespace zeptest {
namespace {

class AviEndToEnd : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
#ifndef ZEP_HAVE_AVI
    return;
#else
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
    test_host_init(&host_);
    demux_ = zepDemuxNew(test_host_get_rc, &host_, nullptr);
    ASSERT_NE(demux_, nullptr);
  }
  void TearDown() override {
    if (demux_ != nullptr) zepDemuxFree(demux_);
    EXPECT_EQ(host_.allocations, host_.releases);
  }

  static Bytes ffmpeg_stream(const std::string& file, int stream) {
    const std::string out = dir_->path() + "/ff_" + std::to_string(stream) + ".bin";
    run_command("ffmpeg -hide_banner -loglevel error -y -i '" + file +
                "' -map 0:" + std::to_string(stream) + " -c copy -f data '" + out + "'");
    return read_file(out);
  }
  int16_t stream_count() {
    zep_title_info_t t;
    if (zepDemuxGetTitleInfo(demux_, 0, &t) != 0) return 0;
    return int16_t(t.num_video_streams + t.num_audio_streams + t.num_subtitle_streams);
  }
  int32_t parser() {
    zepdmux_parser_settings_t ps{};
    return zepDemuxNewParser(demux_, &ps);
  }
  int32_t add(int32_t p, int16_t stream, test_output* out, bool addHeader) {
    zepdmux_stream_settings s{};
    s.output = &out->base;
    s.stream_num = stream;
    s.add_header = addHeader;
    return zepDemuxAddStream(demux_, p, &s);
  }
  static Bytes bytes_of(const test_output& out) { return Bytes(out.data, out.data + out.size); }
  std::string write(const std::string& name, const Bytes& b) { return dir_->write(name, b); }

  void check_payloads(const std::string& file) {
    ASSERT_EQ(zepDemuxOpen(demux_, nullptr, file.c_str()), 0) << test_host_last_message(&host_);
    const int16_t n = stream_count();
    ASSERT_EQ(n, 3);
    // Push: one parser with every stream.
    std::vector<test_output> push(static_cast<size_t>(n));
    const int32_t p = parser();
    ASSERT_GT(p, 0);
    for (int16_t i = 0; i < n; ++i) {
      test_output_init(&push[size_t(i)], 4096);
      ASSERT_EQ(add(p, i, &push[size_t(i)], false), 0);
    }
    int64_t got;
    while ((got = zepDemuxPush(demux_, p)) > 0) {
    }
    EXPECT_EQ(got, 0);
    // Pull: one parser per stream.
    for (int16_t i = 0; i < n; ++i) {
      test_output pulled;
      test_output_init(&pulled, 0);
      const int32_t q = parser();
      ASSERT_GT(q, 0);
      ASSERT_EQ(add(q, i, &pulled, false), 0);
      int end = 0;
      while (!end) ASSERT_EQ(test_output_pull(&pulled, &end, nullptr), 0);
      const Bytes expected = ffmpeg_stream(file, i);
      EXPECT_FALSE(expected.empty());
      EXPECT_EQ(bytes_of(push[size_t(i)]) == expected, true) << "push, stream " << i;
      EXPECT_EQ(bytes_of(pulled) == expected, true) << "pull, stream " << i;
      EXPECT_EQ(pulled.block_count, push[size_t(i)].block_count);
      test_output_free(&pulled);
      zepDemuxFreeParser(demux_, q);
    }
    for (auto& out : push) test_output_free(&out);
  }

  static TempDir* dir_;
  static std::string h264_;
  static std::string mpeg4_;
  test_host host_{};
  zepdmux_t* demux_ = nullptr;
};

TempDir* AviEndToEnd::dir_ = nullptr;
std::string AviEndToEnd::h264_;
std::string AviEndToEnd::mpeg4_;

TEST_F(AviEndToEnd, H264AacMp3PayloadsEqualFfmpeg) { check_payloads(h264_); }

TEST_F(AviEndToEnd, Mpeg4Ac3PcmPayloadsEqualFfmpeg) { check_payloads(mpeg4_); }

TEST_F(AviEndToEnd, StreamRecordsDescribeTheFile) {
  ASSERT_EQ(zepDemuxOpen(demux_, nullptr, h264_.c_str()), 0);
  zep_file_info_t file;
  ASSERT_EQ(zepDemuxGetFileInfo(demux_, &file), 0);
  EXPECT_EQ(get(file.num_titles), 1);
  EXPECT_EQ(get(file.file_size), int64_t(read_file(h264_).size()));
  EXPECT_TRUE(get(file.container_type) == ZEP_CONTAINER_AVI ||
              get(file.container_type) == ZEP_CONTAINER_AVI_ODML);
  zep_stream_info_t s;
  ASSERT_EQ(zepDemuxGetStreamInfo(demux_, 0, 0, &s), 0);
  EXPECT_EQ(get(s.codec_id), ZEP_CODEC_H264);
  auto* v = static_cast<zep_video_details_t*>(s.details);
  EXPECT_EQ(get(v->width), 160u);
  EXPECT_EQ(get(v->frame_duration), 400000);
  ASSERT_GT(get(s.codec_header_size), 8);
  EXPECT_EQ(std::memcmp(get(s.codec_header), "\0\0\0\1", 4), 0);
  EXPECT_EQ(get(s.codec_header)[4] & 0x1F, 7) << "the header begins with the SPS";
  ASSERT_EQ(zepDemuxGetStreamInfo(demux_, 0, 1, &s), 0);
  EXPECT_EQ(get(s.codec_id), ZEP_CODEC_AAC);
  EXPECT_EQ(get(static_cast<zep_audio_details_t*>(s.details)->sample_rate), 48000u);
  EXPECT_EQ(get(s.codec_header_size), 7);
  ASSERT_EQ(zepDemuxGetStreamInfo(demux_, 0, 2, &s), 0);
  EXPECT_EQ(get(s.codec_id), ZEP_CODEC_MPEG_AUDIO);
  EXPECT_EQ(get(static_cast<zep_audio_details_t*>(s.details)->mpeg_layer), 3);
}

int decoded_frames(const std::string& file, const std::string& format) {
  const std::string out = command_output("ffprobe -v error -f " + format +
                                         " -count_frames -select_streams v:0 -show_entries "
                                         "stream=nb_read_frames -of csv=p=0 '" +
                                         file + "'");
  return std::atoi(out.c_str());
}

TEST_F(AviEndToEnd, H264WithHeadersDecodesToEveryFrame) {
  ASSERT_EQ(zepDemuxOpen(demux_, nullptr, h264_.c_str()), 0);
  const int32_t p = parser();
  test_output out;
  test_output_init(&out, 65536);
  ASSERT_EQ(add(p, 0, &out, true), 0);
  while (zepDemuxPush(demux_, p) > 0) {
  }
  const std::string es = write("video.h264", bytes_of(out));
  test_output_free(&out);
  EXPECT_EQ(decoded_frames(es, "h264"), decoded_frames(h264_, "avi"));
  EXPECT_EQ(decoded_frames(es, "h264"), 75);
}

TEST_F(AviEndToEnd, SeekThenExtractStartsWithParameterSets) {
  ASSERT_EQ(zepDemuxOpen(demux_, nullptr, h264_.c_str()), 0);
  const int32_t p = parser();
  test_output out;
  test_output_init(&out, 65536);
  ASSERT_EQ(add(p, 0, &out, true), 0);
  ASSERT_GT(zepDemuxPush(demux_, p), 0);
  ASSERT_GT(zepDemuxPush(demux_, p), 0);
  zepdmux_seek_info_t seek{};
  seek.parser_num = p;
  seek.seek_time = 15000000;  // 1.5 s: the key frame at 1 s or 2 s
  ASSERT_EQ(zepDemuxSeek(demux_, &seek), 0) << test_host_last_message(&host_);
  EXPECT_EQ(get(seek.resolved_time) % 10000000, 0) << get(seek.resolved_time);
  const size_t from = out.size;
  while (zepDemuxPush(demux_, p) > 0) {
  }
  const Bytes all = bytes_of(out);
  const Bytes after(all.begin() + long(from), all.end());
  test_output_free(&out);
  ASSERT_GT(after.size(), 5u);
  EXPECT_EQ(std::memcmp(after.data(), "\0\0\0\1", 4), 0);
  EXPECT_EQ(after[4] & 0x1F, 7) << "SPS first";
  const std::string es = write("seek.h264", after);
  const int frames = decoded_frames(es, "h264");
  EXPECT_GT(frames, 0);
  EXPECT_EQ(frames, 75 - int(get(seek.resolved_time) / 400000));
  const std::string errors =
      command_output("ffmpeg -hide_banner -v error -f h264 -i '" + es + "' -f null - 2>&1");
  EXPECT_EQ(errors, "");
}

TEST_F(AviEndToEnd, SeekMovesEveryStreamOfTheParser) {
  ASSERT_EQ(zepDemuxOpen(demux_, nullptr, h264_.c_str()), 0);
  const int32_t p = parser();
  test_output video, audio;
  test_output_init(&video, 65536);
  test_output_init(&audio, 65536);
  ASSERT_EQ(add(p, 0, &video, false), 0);
  ASSERT_EQ(add(p, 1, &audio, false), 0);
  for (int i = 0; i < 5; ++i) ASSERT_GT(zepDemuxPush(demux_, p), 0);
  zepdmux_seek_info_t seek{};
  seek.parser_num = p;
  seek.seek_time = 15000000;
  ASSERT_EQ(zepDemuxSeek(demux_, &seek), 0) << test_host_last_message(&host_);
  const int64_t reached27 = get(seek.resolved_time) * 27 / 10;
  const size_t audioBefore = audio.block_count;
  for (int i = 0; i < 20 && audio.block_count == audioBefore; ++i)
    ASSERT_GT(zepDemuxPush(demux_, p), 0);
  ASSERT_GT(audio.block_count, audioBefore);
  // The first audio block after the seek lies near the time the video reached,
  // not where the audio stood before.
  const int64_t audioStart = get(audio.blocks[audioBefore].info.start_time);
  EXPECT_NEAR(double(audioStart), double(reached27), 27e6 * 0.5);
  test_output_free(&video);
  test_output_free(&audio);
}

TEST_F(AviEndToEnd, SyncPointSeeksLandOnKeyFrames) {
  ASSERT_EQ(zepDemuxOpen(demux_, nullptr, h264_.c_str()), 0);
  const int32_t p = parser();
  test_output out;
  test_output_init(&out, 65536);
  ASSERT_EQ(add(p, 0, &out, false), 0);
  for (int i = 0; i < 30; ++i) ASSERT_GT(zepDemuxPush(demux_, p), 0);  // into the second GOP
  zepdmux_seek_info_t seek{};
  seek.parser_num = p;
  seek.seek_time = -1;
  seek.next_sync = 1;
  ASSERT_EQ(zepDemuxSeek(demux_, &seek), 0) << test_host_last_message(&host_);
  EXPECT_EQ(get(seek.resolved_time), 20000000);
  ASSERT_GT(zepDemuxPush(demux_, p), 0);
  EXPECT_EQ(get(out.blocks[out.block_count - 1].info.flags), 13u);
  seek.next_sync = 0;
  seek.prev_sync = 1;
  ASSERT_EQ(zepDemuxSeek(demux_, &seek), 0) << test_host_last_message(&host_);
  EXPECT_EQ(get(seek.resolved_time), 10000000);
  test_output_free(&out);
}

TEST_F(AviEndToEnd, SleepAndWakeStartOver) {
  ASSERT_EQ(zepDemuxOpen(demux_, nullptr, mpeg4_.c_str()), 0);
  const int32_t p = parser();
  test_output out;
  test_output_init(&out, 4096);
  ASSERT_EQ(add(p, 1, &out, false), 0);
  ASSERT_GT(zepDemuxPush(demux_, p), 0);
  ASSERT_EQ(zepDemuxSleepParser(demux_, p), 0);
  ASSERT_EQ(zepDemuxWakeParser(demux_, p), 0);
  while (zepDemuxPush(demux_, p) > 0) {
  }
  const Bytes expected = ffmpeg_stream(mpeg4_, 1);
  const Bytes all = bytes_of(out);
  ASSERT_GT(all.size(), expected.size());
  EXPECT_EQ(Bytes(all.begin() + long(all.size() - expected.size()), all.end()) == expected, true);
  test_output_free(&out);
}

TEST_F(AviEndToEnd, ExampleHostExtractsAStream) {
#ifndef ZEP_EXAMPLE_FILE
  GTEST_SKIP() << "the example host is not part of this build";
#else
  const std::string out = dir_->path() + "/example.bin";
  const std::string listing =
      command_output(std::string("'") + ZEP_EXAMPLE_FILE + "' '" + h264_ + "' 2 '" + out + "'");
  EXPECT_NE(listing.find("stream 2: type 1 codec 131"), std::string::npos) << listing;
  EXPECT_EQ(read_file(out) == ffmpeg_stream(h264_, 2), true);
#endif
}

}  // namespace
}  // namespace zeptest

namespace zeptest {
namespace {

// Files of the modules that report no container type are refused by open.
TEST(ApiOpen, RawH264AndTextSubtitlesHaveNoContainerType) {
  test_host host;
  test_host_init(&host);
  zepdmux_t* demux = zepDemuxNew(test_host_get_rc, &host, nullptr);
  ASSERT_NE(demux, nullptr);
  int tried = 0;
#ifdef ZEP_HAVE_SUBTITLE
  {
    TempDir dir;
    const std::string srt =
        dir.write("subs.srt", std::string("1\n00:00:01,000 --> 00:00:02,000\nHello\n\n"));
    EXPECT_EQ(zepDemuxOpen(demux, nullptr, srt.c_str()), 1);
    EXPECT_STREQ(test_host_last_message(&host), "Unable to get the container type");
    ++tried;
  }
#endif
#ifdef ZEP_HAVE_H264
  {
    const std::string h264 = std::string(ZEP_SOURCE_DIR) + "/samples/sample.h264";
    if (read_file(h264).size() > 0) {
      EXPECT_EQ(zepDemuxOpen(demux, nullptr, h264.c_str()), 1);
      EXPECT_STREQ(test_host_last_message(&host), "Unable to get the container type");
      ++tried;
    }
  }
#endif
  zepDemuxFree(demux);
  EXPECT_EQ(host.allocations, host.releases);
  if (tried == 0) GTEST_SKIP() << "neither module is part of this build";
}

}  // namespace
}  // namespace zeptest
