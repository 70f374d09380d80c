// End to end on an AVI file made by ffmpeg: every stream's payload through the
// API (push and pull) equals ffmpeg's own extraction; H.264 with the
// add-header flag decodes, also after a seek; the example host agrees.
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
    file_ = dir_->path() + "/h264.avi";
    run_command(
        "ffmpeg -hide_banner -loglevel error -y -f lavfi -i "
        "testsrc2=size=160x120:rate=25:duration=3 -f lavfi -i "
        "sine=frequency=440:sample_rate=48000:duration=3 -f lavfi -i "
        "sine=frequency=660:sample_rate=44100:duration=3 -map 0:v -map 1:a -map 2:a "
        "-c:v libx264 -preset veryfast -bf 2 -g 25 -threads 1 -c:a:0 aac -b:a:0 64k "
        "-c:a:1 libmp3lame -b:a:1 48k -ac:a:1 1 '" +
        file_ + "'");
#endif
  }
  static void TearDownTestSuite() { delete dir_; }
  void SetUp() override {
    if (dir_ == nullptr) GTEST_SKIP() << "ffmpeg or the AVI module is missing";
    HostTest::SetUp();
    ASSERT_NE(create(), nullptr);
    ASSERT_TRUE(open(file_)) << last_message();
  }
  void TearDown() override {
    HostTest::TearDown();
    for (test_output& out : outs_) test_output_free(&out);
  }
  static Bytes ffmpeg_stream(int stream) {
    const std::string out = dir_->path() + "/ff_" + std::to_string(stream) + ".bin";
    run_command("ffmpeg -hide_banner -loglevel error -y -i '" + file_ +
                "' -map 0:" + std::to_string(stream) + " -c copy -f data '" + out + "'");
    return read_file(out);
  }
  static int decoded_frames(const std::string& file, const std::string& format) {
    return std::atoi(command_output("ffprobe -v error -f " + format +
                                    " -count_frames -select_streams v:0 -show_entries "
                                    "stream=nb_read_frames -of csv=p=0 '" +
                                    file + "'")
                         .c_str());
  }

  static TempDir* dir_;
  static std::string file_;
  test_output outs_[6]{};
};

TempDir* AviEndToEnd::dir_ = nullptr;
std::string AviEndToEnd::file_;

// Push: one parser with every stream; pull: one parser per stream.
TEST_F(AviEndToEnd, H264AacMp3PayloadsEqualFfmpegInPushAndPull) {
  const int32_t p = new_parser();
  for (int16_t i = 0; i < 3; ++i) {
    test_output_init(&outs_[i], 4096);
    ASSERT_EQ(add_stream(p, i, &outs_[i]), 0);
  }
  push_all(p);
  for (int16_t i = 0; i < 3; ++i) {
    test_output* pulled = &outs_[3 + i];
    test_output_init(pulled, 0);
    const int32_t q = new_parser();
    ASSERT_EQ(add_stream(q, i, pulled), 0);
    for (int end = 0; !end;) ASSERT_EQ(test_output_pull(pulled, &end, nullptr), 0);
    const Bytes expected = ffmpeg_stream(i);
    EXPECT_FALSE(expected.empty());
    EXPECT_TRUE(bytes_of(outs_[i]) == expected) << "push, stream " << i;
    EXPECT_TRUE(bytes_of(*pulled) == expected) << "pull, stream " << i;
    EXPECT_EQ(pulled->block_count, outs_[i].block_count);
    zepDemuxFreeParser(demux, q);
  }
}

TEST_F(AviEndToEnd, H264WithHeadersDecodesToEveryFrameAlsoAfterASeek) {
  test_output* out = &outs_[0];
  test_output_init(out, 65536);
  const int32_t p = new_parser();
  ASSERT_EQ(add_stream(p, 0, out, true), 0);
  uint32_t codecs[3];
  for (int16_t i = 0; i < 3; ++i) {
    zep_stream_info_t s{};
    ASSERT_EQ(zepDemuxGetStreamInfo(demux, 0, i, &s), 0);
    codecs[i] = get(s.codec_id);
  }
  EXPECT_EQ(std::vector(codecs, codecs + 3),
            (std::vector<uint32_t>{ZEP_CODEC_H264, ZEP_CODEC_AAC, ZEP_CODEC_MPEG_AUDIO}));
  push_all(p);
  const std::string es = dir_->write("video.h264", bytes_of(*out));
  EXPECT_EQ(decoded_frames(es, "h264"), decoded_frames(file_, "avi"));
  EXPECT_EQ(decoded_frames(es, "h264"), 75);
  int64_t reached = 0;
  ASSERT_EQ(seek(p, 15000000, 0, 0, &reached), 0) << last_message();  // key frame at 1 s or 2 s
  EXPECT_EQ(reached % 10000000, 0) << reached;
  const size_t from = out->size;
  push_all(p);
  const Bytes after(out->data + from, out->data + out->size);
  ASSERT_GT(after.size(), 5u);
  EXPECT_EQ(Bytes(after.begin(), after.begin() + 4), Bytes({0, 0, 0, 1}));
  EXPECT_EQ(after[4] & 0x1F, 7) << "SPS first";
  const std::string cut = dir_->write("seek.h264", after);
  EXPECT_EQ(decoded_frames(cut, "h264"), 75 - int(reached / 400000));
  EXPECT_EQ(command_output("ffmpeg -hide_banner -v error -f h264 -i '" + cut + "' -f null - 2>&1"),
            "");
}

TEST_F(AviEndToEnd, ExampleHostExtractsAStream) {
#ifndef ZEP_EXAMPLE_FILE
  GTEST_SKIP() << "the example host is not part of this build";
#else
  const std::string out = dir_->path() + "/example.bin";
  const std::string listing =
      command_output(std::string("'") + ZEP_EXAMPLE_FILE + "' '" + file_ + "' 2 '" + out + "'");
  EXPECT_NE(listing.find("stream 2: type 1 codec 131"), std::string::npos) << listing;
  EXPECT_TRUE(read_file(out) == ffmpeg_stream(2));
#endif
}

}  // namespace
}  // namespace zeptest
