// The instance, the host callbacks, open and the information calls.
#include <cstring>
#include <cwchar>
#include <string>

#include "api/zep_codec_header.h"
#include "api_fixture.h"

namespace zeptest {
namespace {

class InstanceTest : public ApiTest {};

// avcC with one SPS (67 ...) and one PPS (68 ...), 4-byte NAL lengths.
const Bytes kAvcc = {1,    0x64, 0,    0x1F, 0xFF, 0xE1, 0,    4,    0x67,
                     0x64, 0,    0x1F, 1,    0,    3,    0x68, 0xEE, 0x3C};

// H.264 with avcC; AAC without private data (its header comes from its first
// block); extensible PCM, 24 bits; a subtitle stream.
FakeTitle rich_title() {
  FakeTitle t;
  t.duration = 50000000;
  t.video.push_back({fake_video_format("H264", 25, 1, 320, 240), kAvcc});
  t.audio.push_back({fake_audio_format(255, 2, 48000, 0), {}, {}});
  t.audio[0].prop.language[0] = u'e';
  t.audio.push_back({fake_audio_format(0xFFFE, 6, 48000, 24), {}, {}});
  t.audio[1].format.extraSize = 22;
  const uint8_t pcmGuid[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
  std::memcpy(t.audio[1].format.extra + 6, pcmGuid, 16);
  t.subtitle.emplace_back();
  std::memcpy(&t.subtitle[0].format.fourcc, "NRSB", 4);
  t.subtitle[0].format.compression = 77;
  t.blocks = {block(ZEP_BLOCK_VIDEO, 0, {0, 0, 0, 2, 0x65, 0x88}, 0),
              block(ZEP_BLOCK_AUDIO, 0, pattern(200), 0), block(ZEP_BLOCK_AUDIO, 1, pattern(36), 0),
              block(ZEP_BLOCK_SUBTITLE, 0, pattern(10), 0)};
  return t;
}

TEST_F(InstanceTest, AsksForTheCallbacksInOrderAndUsesHostMemory) {
  ASSERT_NE(create(), nullptr);
  std::string asked;
  for (int i = 0; i < host.asked_count; ++i) asked += std::string(host.asked[i]) + " ";
  EXPECT_EQ(asked, "malloc_ex free_ex err_printf_ex wrn_printf_ex inf_printf_ex prg_printf_ex ");
  EXPECT_GE(host.allocations, 1);
}

TEST_F(InstanceTest, MissingCallbacksFallBackToTheCHeapAndSilence) {
  host.withhold = "free_ex";  // without free_ex, malloc_ex is not used either
  ASSERT_NE(create(), nullptr);
  scenario.titles.push_back(rich_title());
  ASSERT_TRUE(open());
  EXPECT_EQ(host.allocations, 0);
  zepDemuxFree(demux);
  host.withhold = "err_printf_ex";
  ASSERT_NE(create(), nullptr);
  EXPECT_EQ(zepDemuxOpen(demux, nullptr, ""), 1);
  EXPECT_EQ(host.message_count, 0);
  zepdmux_t* d = zepDemuxNew(nullptr, nullptr, nullptr);  // no lookup at all
  ASSERT_NE(d, nullptr);
  EXPECT_EQ(zepDemuxOpen(d, nullptr, (dir.path() + "/missing.fake").c_str()), 1);
  zepDemuxFree(d);
}

TEST_F(InstanceTest, NullArgumentsAreRefused) {
  EXPECT_EQ(zepDemuxOpen(nullptr, nullptr, path.c_str()), 1);
  EXPECT_EQ(zepDemuxGetFileInfo(nullptr, nullptr), 1);
  zepDemuxClose(nullptr);
  zepDemuxFree(nullptr);
  ASSERT_NE(create(), nullptr);
  EXPECT_EQ(
      (std::vector<std::string>{
          failed(zepDemuxOpen(demux, nullptr, nullptr)), failed(zepDemuxOpen(demux, nullptr, "")),
          failed(zepDemuxOpenW(demux, nullptr, L"")), failed(zepDemuxGetFileInfo(demux, nullptr)),
          failed(zepDemuxGetTitleInfo(demux, 0, nullptr)),
          failed(zepDemuxGetStreamInfo(demux, 0, 0, nullptr))}),
      (std::vector<std::string>{"Invalid filename parameter", "Invalid filename parameter",
                                "Invalid filename parameter", "Invalid zep_file_info_t parameter",
                                "Invalid zep_title_info_t parameter",
                                "Invalid zep_stream_info_t parameter"}));
}

TEST_F(InstanceTest, FileNameLengthLimitIs32767Characters) {
  ASSERT_NE(create(), nullptr);
  const std::string fits = "Unable to get the size of input file",
                    tooLong = "Unable to handle filename length";
  // Characters outside the BMP take two UTF-16 units each.
  EXPECT_EQ((std::vector{
                failed(zepDemuxOpen(demux, nullptr, std::string(32767, 'a').c_str())),
                failed(zepDemuxOpen(demux, nullptr, std::string(32768, 'a').c_str())),
                failed(zepDemuxOpenW(demux, nullptr, std::wstring(32767, L'a').c_str())),
                failed(zepDemuxOpenW(demux, nullptr, std::wstring(32768, L'a').c_str())),
                failed(zepDemuxOpenW(demux, nullptr, std::wstring(16384, L'\U0001F600').c_str()))}),
            (std::vector{fits, tooLong, fits, tooLong, tooLong}));
}

TEST_F(InstanceTest, NonAsciiNamesOpenInUtf8AndWide) {
  scenario.titles.push_back(rich_title());
  const std::string name = dir.write("caf\xC3\xA9-\xE2\x82\xAC.fake", std::string("FAKE data here"));
  ASSERT_NE(create(), nullptr);
  EXPECT_EQ(zepDemuxOpen(demux, nullptr, name.c_str()), 0) << last_message();
  const std::wstring wide =
      std::wstring(dir.path().begin(), dir.path().end()) + L"/caf\u00E9-\u20AC.fake";
  EXPECT_EQ(zepDemuxOpenW(demux, nullptr, wide.c_str()), 0) << last_message();
  zep_file_info_t info;
  ASSERT_EQ(zepDemuxGetFileInfo(demux, &info), 0);
  EXPECT_EQ(get(info.file_size), 14);
}

TEST_F(InstanceTest, ContainerTypeIsRequiredAndUnknownFilesFailToOpen) {
  scenario.answerContainerType = false;
  scenario.titles.push_back(rich_title());
  EXPECT_FALSE(open());
  EXPECT_EQ(last_message(), "Unable to get the container type");
  const std::string other = dir.write("data.bin", std::string("nothing anyone reads"));
  EXPECT_EQ(failed(zepDemuxOpen(demux, nullptr, other.c_str())),
            "Unable to open input file with ZEP demuxer");
  scenario.answerContainerType = true;  // a file without titles opens
  scenario.titles.clear();
  ASSERT_TRUE(open()) << last_message();
  zep_title_info_t title;
  EXPECT_EQ(failed(zepDemuxGetTitleInfo(demux, 0, &title)), "Invalid title_num parameter");
}

TEST_F(InstanceTest, FileTitleAndStreamRecords) {
  scenario.containerType = 2;
  scenario.titles = {rich_title(), FakeTitle{}};
  ASSERT_TRUE(open()) << last_message();
  zep_file_info_t file;
  ASSERT_EQ(zepDemuxGetFileInfo(demux, &file), 0);
  EXPECT_EQ(std::tuple(get(file.num_titles), get(file.container_type), get(file.file_size)),
            std::tuple(2, ZEP_CONTAINER_MKV, 32));
  zep_title_info_t title;
  ASSERT_EQ(zepDemuxGetTitleInfo(demux, 0, &title), 0);
  EXPECT_EQ(get(title.num_video_streams) * 100 + get(title.num_audio_streams) * 10 +
                get(title.num_subtitle_streams),
            121);
  EXPECT_EQ(failed(zepDemuxGetTitleInfo(demux, 2, &title)), "Invalid title_num parameter");
  EXPECT_EQ(zepDemuxGetTitleInfo(demux, -1, &title), 1);

  zep_stream_info_t s = stream_info(0);
  EXPECT_EQ(get(s.media_type), ZEP_MEDIA_VIDEO);
  EXPECT_EQ(get(s.format_a), 0x1234u);
  EXPECT_EQ(get(s.format_b), zep::codec::fourcc("H264"));
  EXPECT_EQ(get(s.duration), 50000000);
  auto* video = static_cast<zep_video_details_t*>(s.details);
  EXPECT_EQ(get(video->frame_duration), 400000);
  EXPECT_EQ(get(video->display_height), 240u);
  EXPECT_EQ(bytes(get(s.private_data), get(s.private_data_size)), kAvcc);
  EXPECT_EQ(bytes(get(s.codec_header), get(s.codec_header_size)),
            Bytes({0, 0, 0, 1, 0x67, 0x64, 0x00, 0x1F, 0, 0, 0, 1, 0x68, 0xEE, 0x3C}));
  s = stream_info(1);
  EXPECT_EQ(get(s.codec_id), ZEP_CODEC_AAC);
  auto* aac = static_cast<zep_audio_details_t*>(s.details);
  EXPECT_EQ(get(aac->bits_per_sample), 16u);  // 0 becomes 16 for AAC
  EXPECT_EQ(get(aac->language)[0], u'e');
  // Derived from the first block: ADTS for 200 bytes, 48 kHz, stereo.
  EXPECT_EQ(bytes(get(s.codec_header), get(s.codec_header_size)),
            Bytes({0xFF, 0xF1, 0x4C, 0x80, 0x19, 0xFF, 0xFC}));
  s = stream_info(2);
  EXPECT_EQ(get(s.format_tag), 1u);  // extensible resolved to PCM
  EXPECT_EQ(get(static_cast<zep_audio_details_t*>(s.details)->flags), ZEP_AUDIO_FLAG_WIDE_SAMPLES);
  s = stream_info(3);
  EXPECT_EQ(get(s.media_type), ZEP_MEDIA_SUBTITLE);
  EXPECT_EQ(get(s.format_a), 77u);
  EXPECT_EQ((std::vector{failed(zepDemuxGetStreamInfo(demux, 0, 4, &s)),
                         failed(zepDemuxGetStreamInfo(demux, 1, 0, &s)),
                         failed(zepDemuxGetStreamInfo(demux, 2, 0, &s))}),
            (std::vector<std::string>{"Invalid stream_num parameter", "Stream number out of range",
                                      "Invalid title_num parameter"}));
  EXPECT_EQ(scenario.opens, scenario.closes) << "the containers that derived headers are closed";
}

TEST_F(InstanceTest, CodecIdsFromFourccsAndTags) {
  FakeTitle t;
  for (const char* cc : {"h264", "HEVC", "MPG2", "XVID", "3iv2", "NOR3", "NOR4", "MJPG", "DIVX"})
    t.video.push_back({fake_video_format(cc, 30000, 1001, 64, 64), pattern(30)});
  for (uint16_t tag : {3, 2, 6, 7, 17, 39, 80, 0x2000, 0x2001, 0x1234})
    t.audio.push_back({fake_audio_format(tag, 2, 44100, tag == 3 ? 32 : 0), {}, pattern(20)});
  for (const char* cc : {"UTF8", "ASS\0", "SSA\0", "XVID"}) {  // XVID: no subtitle codec
    t.subtitle.emplace_back();
    std::memcpy(&t.subtitle.back().format.fourcc, cc, 4);
  }
  scenario.titles.push_back(t);
  ASSERT_TRUE(open()) << last_message();
  const uint32_t expected[] = {10,  13,  3,   4,   4,   35,  36,  26,  1,   201, 233, 241,
                               242, 232, 151, 131, 150, 172, 130, 282, 284, 283, 0};
  for (int16_t i = 0; i < int16_t(std::size(expected)); ++i)
    EXPECT_EQ(get(stream_info(i).codec_id), expected[i]) << "stream " << i;
  zep_stream_info_t s = stream_info(8);  // 30000/1001
  EXPECT_EQ(get(static_cast<zep_video_details_t*>(s.details)->frame_duration), 333666);
  s = stream_info(9);
  EXPECT_EQ(get(static_cast<zep_audio_details_t*>(s.details)->flags), ZEP_AUDIO_FLAG_FLOAT);
  s = stream_info(15);
  EXPECT_EQ(get(static_cast<zep_audio_details_t*>(s.details)->mpeg_layer), 2);
  s = stream_info(16);  // AC-3: the header is the private data
  EXPECT_EQ(get(s.codec_header), get(s.private_data));
  EXPECT_EQ(get(s.codec_header_size), 20);
}

TEST_F(InstanceTest, HeadersDerivedFromFirstBlocks) {
  FakeTitle t;
  t.video.push_back({fake_video_format("H264", 25, 1, 64, 64), {}});
  const FakeAudio mp3 = {fake_audio_format(85, 2, 44100, 0), {}, {}};
  t.audio = {mp3, mp3, {fake_audio_format(0x2000, 2, 48000, 0), {}, {}}};
  const Bytes annexB = {0, 0, 0, 1,    0x09, 0x10, 0, 0, 0, 1,    0x67, 1,   2,
                        0, 0, 1, 0x68, 3,    0,    0, 0, 1, 0x65, 0x88, 0x84};
  t.blocks = {block(ZEP_BLOCK_AUDIO, 0, {0xFF, 0xFB, 0x90, 0x64, 1, 2, 3}, 0),
              block(ZEP_BLOCK_AUDIO, 1, {0xFF, 0xFB, 0x90}, 0),
              block(ZEP_BLOCK_AUDIO, 2, pattern(12), 0), block(ZEP_BLOCK_VIDEO, 0, annexB, 0)};
  scenario.titles.push_back(t);
  ASSERT_TRUE(open()) << last_message();
  zep_stream_info_t s = stream_info(0);  // up to the start code of the slice
  EXPECT_EQ(get(s.codec_id), ZEP_CODEC_H264);
  EXPECT_EQ(bytes(get(s.codec_header), get(s.codec_header_size)),
            Bytes(annexB.begin(), annexB.begin() + 18));
  s = stream_info(1);
  EXPECT_EQ(get(s.codec_id), ZEP_CODEC_MPEG_AUDIO);
  EXPECT_EQ(bytes(get(s.codec_header), get(s.codec_header_size)), Bytes({0xFF, 0xFB, 0x90, 0x64}));
  EXPECT_EQ(get(stream_info(2).codec_id), 0u);  // fewer than 4 bytes
  EXPECT_EQ(get(stream_info(3).codec_id), 0u);  // fewer than 20 bytes for AC-3
}

TEST_F(InstanceTest, ReopeningReleasesTheEarlierFile) {
  scenario.titles.push_back(rich_title());
  ASSERT_TRUE(open());
  const long opened = host.allocations - host.releases;
  ASSERT_GT(new_parser(), 0);
  ASSERT_TRUE(open());
  EXPECT_EQ(host.allocations - host.releases, opened) << "records of the first open leaked";
  zepDemuxClose(demux);
  EXPECT_EQ(host.allocations - host.releases, 1);  // the instance itself
}

TEST_F(InstanceTest, VersionFunction) {
  EXPECT_TRUE(zepDemuxGetAPIExt(0) == nullptr && zepDemuxGetAPIExt(2) == nullptr);
  auto version = reinterpret_cast<zepdmux_version_fn_t>(zepDemuxGetAPIExt(ZEP_API_EXT_VERSION));
  ASSERT_NE(version, nullptr);
  uint32_t api = 0;
  char text[16], platform[16];
  std::memset(text, '#', sizeof text);
  std::memset(platform, '#', sizeof platform);
  EXPECT_EQ((std::vector{version(4, nullptr), version(3, &api), version(4, text),
                         version(5, platform), version(6, text)}),
            (std::vector{1, 0, 0, 0, 1}));
  EXPECT_EQ(std::to_string(api) + std::string(text, 13) + std::string(platform, 15),
            "110.3.16.2760#RSPLATFORM_X64#");
}

}  // namespace
}  // namespace zeptest
