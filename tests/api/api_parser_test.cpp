// Parsers, push and pull delivery, seeking, sleep and wake.
#include <cstring>

#include "api_fixture.h"

namespace zeptest {
namespace {

class ParserTest : public ApiTest {
 protected:
  // DIVX video and PCM audio, without headers to derive: blocks go out as stored.
  void SetUp() override {
    ApiTest::SetUp();
    FakeTitle t;
    t.duration = 10000000;
    t.video.push_back({fake_video_format("DIVX", 25, 1, 64, 48), {}});
    t.audio.push_back({fake_audio_format(1, 2, 48000, 16), {}, {}});
    t.blocks = {block(ZEP_BLOCK_VIDEO, 0, pattern(10000, 3), 0, 400000, true),
                block(ZEP_BLOCK_AUDIO, 0, pattern(300, 9), 0, 200000),
                block(ZEP_BLOCK_VIDEO, 0, pattern(500, 5), 400000, 400000, false),
                block(ZEP_BLOCK_AUDIO, 0, pattern(300, 11), 200000, 200000),
                block(ZEP_BLOCK_VIDEO, 0, pattern(700, 6), 800000, 400000, true)};
    scenario.titles.push_back(t);
    test_output_init(&video, 4096);
    test_output_init(&audio, 65536);
    test_output_init(&pulled, 0);
  }
  void TearDown() override {
    ApiTest::TearDown();
    for (test_output* out : {&video, &audio, &pulled}) test_output_free(out);
  }
  // The file open, one parser with the video (or pulled) and audio outputs.
  int32_t open_with_streams(bool pullVideo = false) {
    const int32_t p = open() ? new_parser() : 0;
    if (p != 0 && add_stream(p, 0, pullVideo ? &pulled : &video) == 0 &&
        add_stream(p, 1, &audio) == 0)
      return p;
    ADD_FAILURE() << "no parser: " << last_message();
    return 0;
  }
  void expect_pushes(int32_t p, const std::vector<int64_t>& expected) {
    std::vector<int64_t> got;
    for (size_t i = 0; i < expected.size(); ++i) got.push_back(zepDemuxPush(demux, p));
    EXPECT_EQ(got, expected);
  }
  test_output video{}, audio{}, pulled{};
};

TEST_F(ParserTest, ParserCallsNeedAnOpenFileValidNumbersAndTitles) {
  ASSERT_NE(create(), nullptr);
  EXPECT_EQ(failed(new_parser(), 0), "A file is not open");
  EXPECT_EQ(failed(zepDemuxPush(demux, 1), -1), "A file is not open");
  EXPECT_EQ(zepDemuxPush(nullptr, 1), -1);
  EXPECT_EQ(zepDemuxNewParser(nullptr, nullptr), 0);
  ASSERT_TRUE(open());
  EXPECT_EQ(failed(zepDemuxNewParser(demux, nullptr), 0),
            "Invalid zepdmux_parser_settings_t parameter");
  for (int32_t bad : {0, 9, -3}) {
    EXPECT_EQ(failed(zepDemuxPush(demux, bad), -1), "Invalid parser number");
    EXPECT_EQ(zepDemuxSleepParser(demux, bad), 1);
    EXPECT_EQ(zepDemuxWakeParser(demux, bad), 1);
  }
  zepDemuxFreeParser(demux, 5);  // does nothing
  EXPECT_EQ(failed(new_parser(1), 0), "Invalid title number 1 for parser");
  EXPECT_EQ(failed(new_parser(-1), 0), "Invalid title number -1 for parser");
  for (int i = 1; i <= 8; ++i) EXPECT_EQ(new_parser(), i);
  EXPECT_EQ(failed(new_parser(), 0), "The maximum (8) number or parsers have been created");
  zepDemuxFreeParser(demux, 3);
  EXPECT_EQ(new_parser(), 3);  // the first free slot
  EXPECT_EQ(scenario.opens - scenario.closes, 8) << "one container per parser";
}

TEST_F(ParserTest, AddStreamChecks) {
  ASSERT_TRUE(open());
  const int32_t p = new_parser();
  EXPECT_EQ(failed(zepDemuxAddStream(demux, p, nullptr)),
            "Invalid zepdmux_stream_settings parameter");
  EXPECT_EQ(failed(add_stream(p, -1, &video)), "Stream number -1 is out of range 0 .. 1");
  video.base.copybytes = nullptr;
  EXPECT_EQ(failed(add_stream(p, 0, &video)), "Invalid output bufstream field");
  const int32_t q = new_parser();
  EXPECT_EQ(seek(q, 0), 1) << "a seek without streams";
  EXPECT_EQ(zepDemuxPush(demux, q), -1);
  // Only added streams are delivered.
  EXPECT_EQ(add_stream(p, 1, &audio), 0);
  expect_pushes(p, {300, 300, 0});
  test_output_init(&video, 4096);
  EXPECT_EQ(add_stream(p, 0, &video), 0);
  EXPECT_EQ(failed(add_stream(p, 1, &audio)),
            "The maximum number of streams 2 have already been added to this parser");
}

TEST_F(ParserTest, PushCopiesInChunksThenAnnouncesTheBlock) {
  const int32_t p = open_with_streams();
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
  std::vector<std::pair<uint32_t, uint32_t>> events;
  for (size_t i = 0; i < video.event_count; ++i)
    events.emplace_back(video.events[i].kind, video.events[i].size);
  EXPECT_EQ(events,
            (std::vector<std::pair<uint32_t, uint32_t>>{
                {0, 4096}, {0, 4096}, {0, 1808}, {ZEP_INFO_BLOCK, 82}, {ZEP_INFO_TIME, 72}}));
  ASSERT_EQ(video.block_count, 1u);
  const test_output_block& first = video.blocks[0];  // its end 40 ms later at 27 MHz
  EXPECT_EQ(std::tuple(get(first.info.size), get(first.info.flags), get(first.info.data),
                       get(first.time.size), get(first.time.valid),
                       get(first.time.start_time_valid), get(first.time.end_time)),
            std::tuple(10000u, 13u, nullptr, 10000u, 1, 1, 1080000));
  EXPECT_EQ(bytes_of(video), pattern(10000, 3));
  expect_pushes(p, {300, 500});
  EXPECT_EQ(get(video.blocks[1].info.flags), 5u);
  EXPECT_EQ(get(video.blocks[1].info.start_time), 1080000);
  expect_pushes(p, {300, 700, 0, 0});  // after the last block: 0, and again 0
  EXPECT_EQ(audio.block_count, 2u);
  ASSERT_EQ(seek(p, 0), 0);  // a seek starts over
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
}

// A damaged file's times near the end of the range: the 27 MHz start and end
// are held there instead of overflowing (found by the API fuzz campaign).
TEST_F(ParserTest, HugeTimesAreHeldInTheTwentySevenMegahertzClock) {
  scenario.titles[0].blocks = {
      block(ZEP_BLOCK_VIDEO, 0, pattern(10, 1), INT64_MAX / 2, 400000, true),
      block(ZEP_BLOCK_VIDEO, 0, pattern(10, 2), 0, INT64_MAX, true)};
  push_all(open_with_streams());
  ASSERT_EQ(video.block_count, 2u);
  EXPECT_EQ((std::vector{get(video.blocks[0].info.start_time), get(video.blocks[0].time.end_time),
                         get(video.blocks[1].info.start_time), get(video.blocks[1].time.end_time)}),
            (std::vector<int64_t>{INT64_MAX, INT64_MAX, 0, INT64_MAX}));
}

TEST_F(ParserTest, OutputsThatRefuseBytesOrInformationFail) {
  const int32_t p = open_with_streams();
  video.refuse_after = 5000;
  EXPECT_EQ(failed(zepDemuxPush(demux, p), -1), "Unable to copy 4096 bytes to stream bufstream");
  EXPECT_EQ(zepDemuxPush(demux, p), -1) << "until a seek";
  ASSERT_EQ(seek(p, 0), 0);
  video.refuse_after = -1;
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
  video.info_answer = 7;
  expect_pushes(p, {300, -1, -1});
}

TEST_F(ParserTest, SeekChecksAndPositions) {
  const int32_t p = open_with_streams();
  EXPECT_EQ(failed(zepDemuxSeek(demux, nullptr)), "Invalid zepdmux_seek_info_t parameter");
  EXPECT_EQ(failed(seek(p, 10000000)), "Invalid seek time");  // the title's duration
  EXPECT_EQ(failed(seek(p, -1)), "Invalid seek request");
  int64_t resolved = 0;
  ASSERT_EQ(seek(p, 500000, 0, 0, &resolved), 0);
  EXPECT_EQ(resolved, 800000);  // the next key frame the module found
  // The first stream is asked for the seek time, every other stream follows
  // to the time the first one reached.
  EXPECT_EQ(scenario.positions, (std::vector<std::pair<uint32_t, int64_t>>{
                                    {ZEP_BLOCK_VIDEO, 500000}, {ZEP_BLOCK_AUDIO, 800000}}));
  EXPECT_EQ(zepDemuxPush(demux, p), 700);
}

TEST_F(ParserTest, SyncPointSeeksAskForTimes) {
  const int32_t p = open_with_streams();
  expect_pushes(p, {10000, 300, 500});
  scenario.nextSyncTime = 800000;
  int64_t resolved = 0;
  ASSERT_EQ(seek(p, -1, 1, 0, &resolved), 0);
  using Query = std::pair<uint32_t, int64_t>;
  ASSERT_EQ(scenario.syncQueries.size(), 1u);  // from the time delivered last
  EXPECT_EQ(scenario.syncQueries[0], Query(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, 400000));
  EXPECT_EQ(resolved, 800000);
  EXPECT_EQ(zepDemuxPush(demux, p), 700);
  ASSERT_EQ(seek(p, -1, 0, 1, &resolved), 0);
  EXPECT_EQ(scenario.syncQueries.back(), Query(ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME, 800000));
  EXPECT_EQ(resolved, 0);
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
}

TEST_F(ParserTest, SleepingParserRefusesAndWakesAtTheStart) {
  const int32_t p = open_with_streams();
  ASSERT_EQ(zepDemuxPush(demux, p), 10000);
  const int opens = scenario.opens;
  ASSERT_EQ(zepDemuxSleepParser(demux, p), 0);
  EXPECT_EQ(scenario.opens - scenario.closes, 0) << "sleep closes the file";
  EXPECT_EQ(failed(zepDemuxPush(demux, p), -1), "Sleep mode is active");
  EXPECT_EQ(failed(seek(p, 0)), "Sleep mode is active");
  ASSERT_EQ(zepDemuxWakeParser(demux, p), 0);
  EXPECT_EQ(scenario.opens, opens + 1);
  expect_pushes(p, {10000, 300});  // from the beginning, same streams
  // Waking an awake parser restarts it without leaking its file.
  ASSERT_EQ(zepDemuxWakeParser(demux, p), 0);
  EXPECT_EQ(scenario.opens - scenario.closes, 1);
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
}

TEST_F(ParserTest, PullModeHandsOutTheParsersBuffer) {
  const int32_t p = open_with_streams(true);
  EXPECT_NE(pulled.base.zep_parser, nullptr);
  int end = 0;
  const uint8_t *first = nullptr, *second = nullptr;
  ASSERT_EQ((std::vector{test_output_pull(&pulled, &end, &first),
                         test_output_pull(&pulled, &end, &second)}),
            (std::vector{0, 0}));
  // The audio block between the two pictures went to its push output.
  EXPECT_EQ(audio.block_count, 1u);
  EXPECT_EQ(first, second) << "both blocks come from the parser's own buffer";
  ASSERT_EQ(pulled.block_count, 2u);
  EXPECT_EQ(get(pulled.blocks[0].info.flags), 13u);
  EXPECT_EQ(std::pair(get(pulled.blocks[1].time.start_time), get(pulled.blocks[1].time.size)),
            std::pair(int64_t(1080000), 500u));
  for (int expectedEnd : {0, 1, 1}) {  // the last picture, then the end twice
    ASSERT_EQ(test_output_pull(&pulled, &end, nullptr), 0);
    EXPECT_EQ(end, expectedEnd);
  }
  Bytes expected = pattern(10000, 3), more = pattern(500, 5), last = pattern(700, 6);
  expected.insert(expected.end(), more.begin(), more.end());
  expected.insert(expected.end(), last.begin(), last.end());
  EXPECT_EQ(bytes_of(pulled), expected);
  uint8_t other[16];
  EXPECT_EQ(pulled.base.auxinfo(&pulled.base, 0, 0x1234, other, sizeof other), -1);
  // A sleeping parser refuses pulls; awake again, it starts over.
  ASSERT_EQ(zepDemuxSleepParser(demux, p), 0);
  EXPECT_EQ(test_output_pull(&pulled, &end, nullptr), -1);
  ASSERT_EQ(zepDemuxWakeParser(demux, p), 0);
  EXPECT_EQ(test_output_pull(&pulled, &end, nullptr), 0);
  EXPECT_EQ(pulled.blocks[pulled.block_count - 1].size, 10000u);
}

TEST_F(ParserTest, BlockBufferGrowsByATenthUpTo10MB) {
  scenario.refuseSmallBuffers = true;
  scenario.titles[0].blocks[0].bytes = pattern(150000, 4);
  const int32_t p = open_with_streams();
  EXPECT_EQ(zepDemuxPush(demux, p), 150000);
  EXPECT_EQ(video.size, 150000u);
  scenario.titles[0].blocks[2].bytes = pattern(11 * 1024 * 1024, 4);
  expect_pushes(p, {300, -1});
  EXPECT_EQ(last_message(), "Reallocation exceeds 10MB");
}

TEST_F(ParserTest, GrowthThroughTheModuleCallbackFailsWithTheHostsMemory) {
  scenario.titles[0].blocks[0].bytes = pattern(300000, 4);
  const int32_t p = open_with_streams();
  EXPECT_EQ(zepDemuxPush(demux, p), 300000);
  host.fail_allocations_larger_than = 400000;
  scenario.titles[0].blocks[2].bytes = pattern(500000, 4);
  expect_pushes(p, {300, -1});
  EXPECT_EQ(host.messages[host.message_count - 2],
            std::string("Unable to allocate 500000 bytes for a block buffer"));
}

TEST_F(ParserTest, FailedReadEndsDelivery) {
  scenario.failAfterBlocks = 2;
  const int32_t p = open_with_streams();
  expect_pushes(p, {10000, 300, -1});
  EXPECT_EQ(last_message(), "Unable to read a block from the input file");
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
  zepDemuxClose(demux);  // closing frees the parsers
  EXPECT_EQ(scenario.opens, scenario.closes);
  EXPECT_EQ(failed(zepDemuxPush(demux, p), -1), "A file is not open");
  EXPECT_EQ(host.allocations - host.releases, 1);
}

TEST_F(ParserTest, EmptyMpeg4PictureRepeatsThePreviousOne) {
  std::memcpy(&scenario.titles[0].video[0].format.fourcc, "XVID", 4);
  // A header for the stream: VOS ... up to the first VOP.
  scenario.titles[0].blocks[0].bytes = {0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB6, 0x10, 0x20};
  scenario.titles[0].blocks[2].bytes.clear();  // a dropped frame
  const int32_t p = open_with_streams();
  const zep_stream_info_t s = stream_info(0);
  EXPECT_EQ(get(s.codec_id), ZEP_CODEC_MPEG4_VISUAL);
  EXPECT_EQ(get(s.codec_header_size), 5);
  expect_pushes(p, {11, 300, 11});  // 0 read + the repeated 11
  ASSERT_EQ(video.block_count, 2u);
  EXPECT_EQ(video.blocks[1].size, 11u);
  EXPECT_EQ(std::memcmp(video.data, video.data + 11, 11), 0);
}

}  // namespace
}  // namespace zeptest
