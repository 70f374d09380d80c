// Parsers, push and pull delivery, seeking, sleep and wake.
#include <cstring>

#include "api_fixture.h"

namespace zeptest {
namespace {

class ParserTest : public ApiTest {
 protected:
  // One title: MPEG-4 visual video (XVID) and PCM audio, both without
  // headers to derive, so every block reaches the outputs as stored.
  void SetUp() override {
    ApiTest::SetUp();
    FakeTitle t;
    t.duration = 10000000;
    FakeVideo v;
    v.format = fake_video_format("DIVX", 25, 1, 64, 48);
    t.video.push_back(v);
    FakeAudio a;
    a.format = fake_audio_format(1, 2, 48000, 16);
    t.audio.push_back(a);
    t.blocks.push_back(block(ZEP_BLOCK_VIDEO, 0, pattern(10000, 3), 0, 400000, true));
    t.blocks.push_back(block(ZEP_BLOCK_AUDIO, 0, pattern(300, 9), 0, 200000));
    t.blocks.push_back(block(ZEP_BLOCK_VIDEO, 0, pattern(500, 5), 400000, 400000, false));
    t.blocks.push_back(block(ZEP_BLOCK_AUDIO, 0, pattern(300, 11), 200000, 200000));
    t.blocks.push_back(block(ZEP_BLOCK_VIDEO, 0, pattern(700, 6), 800000, 400000, true));
    scenario.titles.push_back(t);
    test_output_init(&video, 4096);
    test_output_init(&audio, 65536);
  }
  void TearDown() override {
    ApiTest::TearDown();
    test_output_free(&video);
    test_output_free(&audio);
  }
  int32_t open_with_streams() {
    if (!open()) return 0;
    const int32_t p = new_parser();
    if (p == 0 || add_stream(p, 0, &video) != 0 || add_stream(p, 1, &audio) != 0) return 0;
    return p;
  }
  test_output video{};
  test_output audio{};
};

TEST_F(ParserTest, ParserCallsNeedAnOpenFileAndAValidNumber) {
  ASSERT_NE(create(), nullptr);
  EXPECT_EQ(new_parser(), 0);
  EXPECT_EQ(last_message(), "A file is not open");
  EXPECT_EQ(zepDemuxPush(demux, 1), -1);
  EXPECT_EQ(last_message(), "A file is not open");
  ASSERT_TRUE(open());
  EXPECT_EQ(zepDemuxNewParser(demux, nullptr), 0);
  EXPECT_EQ(last_message(), "Invalid zepdmux_parser_settings_t parameter");
  for (int32_t bad : {0, 1, 9, -3}) {
    EXPECT_EQ(zepDemuxPush(demux, bad), -1);
    EXPECT_EQ(last_message(), "Invalid parser number");
    EXPECT_EQ(zepDemuxSleepParser(demux, bad), 1);
    EXPECT_EQ(zepDemuxWakeParser(demux, bad), 1);
  }
  zepDemuxFreeParser(demux, 5);  // does nothing
  EXPECT_EQ(zepDemuxPush(nullptr, 1), -1);
  EXPECT_EQ(zepDemuxNewParser(nullptr, nullptr), 0);
}

TEST_F(ParserTest, AtMostEightParsersAndValidTitles) {
  ASSERT_TRUE(open());
  EXPECT_EQ(new_parser(1), 0);
  EXPECT_EQ(last_message(), "Invalid title number 1 for parser");
  EXPECT_EQ(new_parser(-1), 0);
  EXPECT_EQ(last_message(), "Invalid title number -1 for parser");
  for (int i = 1; i <= 8; ++i) EXPECT_EQ(new_parser(), i);
  EXPECT_EQ(new_parser(), 0);
  EXPECT_EQ(last_message(), "The maximum (8) number or parsers have been created");
  zepDemuxFreeParser(demux, 3);
  EXPECT_EQ(new_parser(), 3);  // the first free slot
  EXPECT_EQ(scenario.opens - scenario.closes, 8) << "one container per parser";
}

TEST_F(ParserTest, AddStreamChecks) {
  ASSERT_TRUE(open());
  const int32_t p = new_parser();
  ASSERT_EQ(p, 1);
  EXPECT_EQ(zepDemuxAddStream(demux, p, nullptr), 1);
  EXPECT_EQ(last_message(), "Invalid zepdmux_stream_settings parameter");
  EXPECT_EQ(add_stream(p, 2, &video), 1);
  EXPECT_EQ(last_message(), "Stream number 2 is out of range 0 .. 1");
  EXPECT_EQ(add_stream(p, -1, &video), 1);
  EXPECT_EQ(last_message(), "Stream number -1 is out of range 0 .. 1");
  EXPECT_EQ(add_stream(p, 0, nullptr), 1);
  EXPECT_EQ(last_message(), "Invalid output bufstream field");
  test_output broken;
  test_output_init(&broken, 100);
  broken.base.copybytes = nullptr;
  EXPECT_EQ(add_stream(p, 0, &broken), 1);
  EXPECT_EQ(last_message(), "Invalid output bufstream field");
  test_output_free(&broken);
  EXPECT_EQ(add_stream(p, 0, &video), 0);
  EXPECT_EQ(add_stream(p, 1, &audio), 0);
  EXPECT_EQ(add_stream(p, 1, &audio), 1);
  EXPECT_EQ(last_message(),
            "The maximum number of streams 2 have already been added to this parser");
}

TEST_F(ParserTest, PushCopiesInChunksThenAnnouncesTheBlock) {
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0) << last_message();
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
  ASSERT_EQ(video.event_count, 5u);
  const uint32_t kinds[] = {0, 0, 0, ZEP_INFO_BLOCK, ZEP_INFO_TIME};
  const uint32_t sizes[] = {4096, 4096, 1808, 82, 72};
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(video.events[i].kind, kinds[i]) << i;
    EXPECT_EQ(video.events[i].size, sizes[i]) << i;
  }
  ASSERT_EQ(video.block_count, 1u);
  EXPECT_EQ(get(video.blocks[0].info.size), 10000u);
  EXPECT_EQ(get(video.blocks[0].info.flags), 13u);
  EXPECT_EQ(get(video.blocks[0].info.data), nullptr);
  EXPECT_EQ(get(video.blocks[0].time.size), 10000u);
  EXPECT_EQ(get(video.blocks[0].time.valid), 1);
  EXPECT_EQ(get(video.blocks[0].time.start_time_valid), 1);
  EXPECT_EQ(get(video.blocks[0].time.end_time), 1080000);  // 40 ms at 27 MHz
  EXPECT_EQ(std::vector<uint8_t>(video.data, video.data + video.size), pattern(10000, 3));

  EXPECT_EQ(zepDemuxPush(demux, p), 300);
  EXPECT_EQ(zepDemuxPush(demux, p), 500);
  ASSERT_EQ(video.block_count, 2u);
  EXPECT_EQ(get(video.blocks[1].info.flags), 5u);
  EXPECT_EQ(get(video.blocks[1].info.start_time), 1080000);
  EXPECT_EQ(zepDemuxPush(demux, p), 300);
  EXPECT_EQ(zepDemuxPush(demux, p), 700);
  EXPECT_EQ(audio.block_count, 2u);
  // After the last block: 0, and again 0.
  EXPECT_EQ(zepDemuxPush(demux, p), 0);
  EXPECT_EQ(zepDemuxPush(demux, p), 0);
  // A seek starts over.
  zepdmux_seek_info_t seek{};
  seek.parser_num = p;
  seek.seek_time = 0;
  ASSERT_EQ(zepDemuxSeek(demux, &seek), 0);
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
}

TEST_F(ParserTest, OnlyAddedStreamsAreDelivered) {
  ASSERT_TRUE(open());
  const int32_t p = new_parser();
  ASSERT_EQ(add_stream(p, 1, &audio), 0);
  EXPECT_EQ(zepDemuxPush(demux, p), 300);
  EXPECT_EQ(zepDemuxPush(demux, p), 300);
  EXPECT_EQ(zepDemuxPush(demux, p), 0);
  EXPECT_EQ(video.size, 0u);
}

TEST_F(ParserTest, OutputThatRefusesBytesFailsUntilASeek) {
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0);
  video.refuse_after = 5000;
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
  EXPECT_EQ(last_message(), "Unable to copy 4096 bytes to stream bufstream");
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
  zepdmux_seek_info_t seek{};
  seek.parser_num = p;
  ASSERT_EQ(zepDemuxSeek(demux, &seek), 0);
  video.refuse_after = -1;
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
}

TEST_F(ParserTest, OutputThatRejectsTheInformationFails) {
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0);
  video.info_answer = 7;
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
}

TEST_F(ParserTest, SeekChecksAndPositions) {
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0);
  EXPECT_EQ(zepDemuxSeek(demux, nullptr), 1);
  EXPECT_EQ(last_message(), "Invalid zepdmux_seek_info_t parameter");
  zepdmux_seek_info_t seek{};
  seek.parser_num = p;
  seek.seek_time = 10000000;  // the title's duration
  EXPECT_EQ(zepDemuxSeek(demux, &seek), 1);
  EXPECT_EQ(last_message(), "Invalid seek time");
  seek.seek_time = 500000;
  ASSERT_EQ(zepDemuxSeek(demux, &seek), 0);
  EXPECT_EQ(get(seek.resolved_time), 800000);  // the next key frame the module found
  // The first stream is asked for the seek time, every other stream follows
  // to the time the first one reached.
  ASSERT_EQ(scenario.positions.size(), 2u);
  EXPECT_EQ(scenario.positions[0].type, ZEP_BLOCK_VIDEO);
  EXPECT_EQ(scenario.positions[0].time, 500000);
  EXPECT_EQ(scenario.positions[1].type, ZEP_BLOCK_AUDIO);
  EXPECT_EQ(scenario.positions[1].time, 800000);
  EXPECT_EQ(zepDemuxPush(demux, p), 700);
  seek.seek_time = -1;
  EXPECT_EQ(zepDemuxSeek(demux, &seek), 1);
  EXPECT_EQ(last_message(), "Invalid seek request");
}

TEST_F(ParserTest, SyncPointSeeksAskForTimes) {
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0);
  ASSERT_EQ(zepDemuxPush(demux, p), 10000);
  ASSERT_EQ(zepDemuxPush(demux, p), 300);
  ASSERT_EQ(zepDemuxPush(demux, p), 500);
  scenario.nextSyncTime = 800000;
  zepdmux_seek_info_t seek{};
  seek.parser_num = p;
  seek.seek_time = -1;
  seek.next_sync = 1;
  ASSERT_EQ(zepDemuxSeek(demux, &seek), 0);
  ASSERT_EQ(scenario.syncQueries.size(), 1u);
  EXPECT_EQ(scenario.syncQueries[0].qid, ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME);
  EXPECT_EQ(scenario.syncQueries[0].value, 400000);  // the time delivered last
  EXPECT_EQ(get(seek.resolved_time), 800000);
  EXPECT_EQ(zepDemuxPush(demux, p), 700);
  scenario.prevSyncTime = 0;
  seek.next_sync = 0;
  seek.prev_sync = 1;
  ASSERT_EQ(zepDemuxSeek(demux, &seek), 0);
  EXPECT_EQ(scenario.syncQueries.back().qid, ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME);
  EXPECT_EQ(scenario.syncQueries.back().value, 800000);
  EXPECT_EQ(get(seek.resolved_time), 0);
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
}

TEST_F(ParserTest, SeekWithoutStreamsFails) {
  ASSERT_TRUE(open());
  const int32_t p = new_parser();
  zepdmux_seek_info_t seek{};
  seek.parser_num = p;
  EXPECT_EQ(zepDemuxSeek(demux, &seek), 1);
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
}

TEST_F(ParserTest, SleepingParserRefusesAndWakesAtTheStart) {
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0);
  ASSERT_EQ(zepDemuxPush(demux, p), 10000);
  const int opens = scenario.opens;
  ASSERT_EQ(zepDemuxSleepParser(demux, p), 0);
  EXPECT_EQ(scenario.opens - scenario.closes, 0) << "sleep closes the file";
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
  EXPECT_EQ(last_message(), "Sleep mode is active");
  zepdmux_seek_info_t seek{};
  seek.parser_num = p;
  EXPECT_EQ(zepDemuxSeek(demux, &seek), 1);
  EXPECT_EQ(last_message(), "Sleep mode is active");
  ASSERT_EQ(zepDemuxWakeParser(demux, p), 0);
  EXPECT_EQ(scenario.opens, opens + 1);
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);  // from the beginning, same streams
  EXPECT_EQ(zepDemuxPush(demux, p), 300);
  // Waking an awake parser restarts it without leaking its file.
  ASSERT_EQ(zepDemuxWakeParser(demux, p), 0);
  EXPECT_EQ(scenario.opens - scenario.closes, 1);
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
}

TEST_F(ParserTest, PullModeHandsOutTheParsersBuffer) {
  ASSERT_TRUE(open());
  const int32_t p = new_parser();
  test_output pulled;
  test_output_init(&pulled, 0);
  ASSERT_EQ(add_stream(p, 0, &pulled), 0);
  ASSERT_EQ(add_stream(p, 1, &audio), 0);
  EXPECT_NE(pulled.base.zep_parser, nullptr);
  int end = 0;
  const uint8_t* first = nullptr;
  const uint8_t* second = nullptr;
  ASSERT_EQ(test_output_pull(&pulled, &end, &first), 0);
  ASSERT_EQ(test_output_pull(&pulled, &end, &second), 0);
  // The audio block between the two pictures went to its push output.
  EXPECT_EQ(audio.block_count, 1u);
  EXPECT_EQ(first, second) << "both blocks come from the parser's own buffer";
  ASSERT_EQ(pulled.block_count, 2u);
  EXPECT_EQ(get(pulled.blocks[0].info.size), 10000u);
  EXPECT_EQ(get(pulled.blocks[0].info.flags), 13u);
  EXPECT_EQ(get(pulled.blocks[1].info.size), 500u);
  EXPECT_EQ(get(pulled.blocks[1].time.start_time), 1080000);
  EXPECT_EQ(get(pulled.blocks[1].time.size), 500u);
  ASSERT_EQ(test_output_pull(&pulled, &end, nullptr), 0);
  EXPECT_EQ(end, 0);
  ASSERT_EQ(test_output_pull(&pulled, &end, nullptr), 0);
  EXPECT_EQ(end, 1);
  ASSERT_EQ(test_output_pull(&pulled, &end, nullptr), 0);
  EXPECT_EQ(end, 1);
  std::vector<uint8_t> expected = pattern(10000, 3);
  for (uint8_t b : pattern(500, 5)) expected.push_back(b);
  for (uint8_t b : pattern(700, 6)) expected.push_back(b);
  EXPECT_EQ(std::vector<uint8_t>(pulled.data, pulled.data + pulled.size), expected);
  uint8_t other[16];
  EXPECT_EQ(pulled.base.auxinfo(&pulled.base, 0, 0x1234, other, sizeof other), -1);
  test_output_free(&pulled);
}

TEST_F(ParserTest, PullOnASleepingParserFails) {
  ASSERT_TRUE(open());
  const int32_t p = new_parser();
  test_output pulled;
  test_output_init(&pulled, 0);
  ASSERT_EQ(add_stream(p, 0, &pulled), 0);
  ASSERT_EQ(zepDemuxSleepParser(demux, p), 0);
  int end = 0;
  EXPECT_EQ(test_output_pull(&pulled, &end, nullptr), -1);
  ASSERT_EQ(zepDemuxWakeParser(demux, p), 0);
  EXPECT_EQ(test_output_pull(&pulled, &end, nullptr), 0);
  EXPECT_EQ(pulled.size, 10000u);
  test_output_free(&pulled);
}

TEST_F(ParserTest, BlockBufferGrowsByATenthUpTo10MB) {
  scenario.refuseSmallBuffers = true;
  scenario.titles[0].blocks[0].bytes = pattern(150000, 4);
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0) << last_message();
  EXPECT_EQ(zepDemuxPush(demux, p), 150000);
  EXPECT_EQ(video.size, 150000u);
  scenario.titles[0].blocks[2].bytes = pattern(11 * 1024 * 1024, 4);
  EXPECT_EQ(zepDemuxPush(demux, p), 300);
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
  EXPECT_EQ(last_message(), "Reallocation exceeds 10MB");
}

TEST_F(ParserTest, GrowthThroughTheModuleCallback) {
  scenario.titles[0].blocks[0].bytes = pattern(300000, 4);
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0);
  EXPECT_EQ(zepDemuxPush(demux, p), 300000);
  host.fail_allocations_larger_than = 400000;
  scenario.titles[0].blocks[2].bytes = pattern(500000, 4);
  EXPECT_EQ(zepDemuxPush(demux, p), 300);
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
  EXPECT_EQ(host.messages[host.message_count - 2],
            std::string("Unable to allocate 500000 bytes for a block buffer"));
}

TEST_F(ParserTest, FailedReadEndsDelivery) {
  scenario.failAfterBlocks = 2;
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0);
  EXPECT_EQ(zepDemuxPush(demux, p), 10000);
  EXPECT_EQ(zepDemuxPush(demux, p), 300);
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
  EXPECT_EQ(last_message(), "Unable to read a block from the input file");
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
}

TEST_F(ParserTest, EmptyMpeg4PictureRepeatsThePreviousOne) {
  std::memcpy(&scenario.titles[0].video[0].format.fourcc, "XVID", 4);
  // A header for the stream: VOS ... up to the first VOP.
  scenario.titles[0].blocks[0].bytes = {0, 0, 1, 0xB0, 1, 0, 0, 1, 0xB6, 0x10, 0x20};
  scenario.titles[0].blocks[2].bytes.clear();  // a dropped frame
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0) << last_message();
  zep_stream_info_t s;
  ASSERT_EQ(zepDemuxGetStreamInfo(demux, 0, 0, &s), 0);
  EXPECT_EQ(get(s.codec_id), ZEP_CODEC_MPEG4_VISUAL);
  EXPECT_EQ(get(s.codec_header_size), 5);
  EXPECT_EQ(zepDemuxPush(demux, p), 11);
  EXPECT_EQ(zepDemuxPush(demux, p), 300);
  EXPECT_EQ(zepDemuxPush(demux, p), 11);  // 0 read + the repeated 11
  ASSERT_EQ(video.block_count, 2u);
  EXPECT_EQ(video.blocks[1].size, 11u);
  EXPECT_EQ(std::memcmp(video.data, video.data + 11, 11), 0);
}

TEST_F(ParserTest, CloseFreesParsersAndFreeReleasesEverything) {
  const int32_t p = open_with_streams();
  ASSERT_NE(p, 0);
  ASSERT_EQ(zepDemuxPush(demux, p), 10000);
  zepDemuxClose(demux);
  EXPECT_EQ(scenario.opens, scenario.closes);
  EXPECT_EQ(zepDemuxPush(demux, p), -1);
  EXPECT_EQ(last_message(), "A file is not open");
  EXPECT_EQ(host.allocations - host.releases, 1);
}

}  // namespace
}  // namespace zeptest
