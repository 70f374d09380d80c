// Elementary-stream framing and codec headers: the byte rules alone, then
// through a parser with the add-header flag.
#include <cstring>
#include <optional>

#include "api/zep_codec_header.h"
#include "api/zep_es_framing.h"
#include "api_fixture.h"

namespace zeptest {
namespace {

using namespace zep::framing;
using zep::codec::CodecHeader;

Bytes length_prefixed(uint32_t lengthSize, std::initializer_list<uint32_t> units) {
  ByteWriter w;
  uint8_t seed = 0x21;
  for (uint32_t n : units) {
    for (uint32_t i = lengthSize; i-- > 0;) w.u8(uint8_t(n >> (8 * i)));
    for (uint32_t i = 0; i < n; ++i) w.u8(seed++);
  }
  return w.take();
}

Bytes annex_b(const Bytes& prefixed, uint32_t lengthSize) {
  Bytes out;
  for (size_t pos = 0; pos + lengthSize <= prefixed.size();) {
    const uint32_t n = read_nal_length(prefixed.data() + pos, lengthSize);
    if (pos + lengthSize + n > prefixed.size()) break;
    out.insert(out.end(), {0, 0, 0, 1});
    out.insert(out.end(), prefixed.begin() + long(pos + lengthSize),
               prefixed.begin() + long(pos + lengthSize + n));
    pos += lengthSize + n;
  }
  return out;
}

TEST(Framing, LengthsBecomeStartCodes) {
  Bytes block = length_prefixed(4, {10, 20});
  const Bytes expected = annex_b(block, 4);
  block.insert(block.end(), {7, 7, 7});  // stray bytes after the last whole unit are dropped
  uint32_t size = 0;
  ASSERT_TRUE(lengths_to_start_codes_in_place(block.data(), 41, &size));
  EXPECT_EQ(Bytes(block.begin(), block.begin() + size), expected);
  Bytes broken = length_prefixed(4, {10});
  broken[3] = 11;  // a first unit that does not fit
  EXPECT_FALSE(lengths_to_start_codes_in_place(broken.data(), uint32_t(broken.size()), &size));
  // Shorter lengths go through another buffer.
  const Bytes two = length_prefixed(2, {5, 6});
  ASSERT_EQ(start_code_size(two.data(), 15, 2), 19u);
  Bytes out(19);
  EXPECT_EQ(lengths_to_start_codes(two.data(), 15, 2, out.data()), 19u);
  EXPECT_EQ(out, annex_b(two, 2));
  const Bytes three = length_prefixed(3, {4, 300}), one = length_prefixed(1, {0, 0, 3});
  EXPECT_EQ(start_code_size(three.data(), uint32_t(three.size()), 3), 312u);
  EXPECT_EQ(start_code_size(one.data(), uint32_t(one.size()), 1), 15u);
  const Bytes bad = {0, 9, 1, 2};
  EXPECT_EQ(start_code_size(bad.data(), 4, 2), 0u);
  const uint8_t threeByteStart[] = {0, 0, 1, 0x65}, fourByteStart[] = {0, 0, 0, 1, 0x65, 0x88};
  EXPECT_TRUE(begins_with_start_code(threeByteStart, 4, 3));
  EXPECT_FALSE(begins_with_start_code(threeByteStart, 4, 4));
  EXPECT_TRUE(begins_with_start_code(fourByteStart, 6, 4));
  // A stream read with 3-byte start codes keeps blocks in the 4-byte form (mended).
  EXPECT_TRUE(begins_with_start_code(fourByteStart, 6, 3));
  EXPECT_FALSE(begins_with_start_code(fourByteStart, 6, 2));
}

// What a header rule finds in the first `size` bytes (0: all) of a record;
// nullopt when it finds nothing. g_header keeps the whole result.
using Rule = bool (*)(const uint8_t*, uint32_t, CodecHeader*);
CodecHeader g_header;
std::optional<Bytes> header(Rule rule, const Bytes& record, size_t size = 0) {
  g_header = {};
  if (!rule(record.data(), uint32_t(size != 0 ? size : record.size()), &g_header)) return {};
  return Bytes(g_header.bytes, g_header.bytes + g_header.size);
}
template <uint32_t kCodec>
bool first_block(const uint8_t* block, uint32_t size, CodecHeader* out) {
  return zep::codec::header_from_first_block(kCodec, block, size, 0, 0, out);
}

TEST(CodecHeader, FromAvcAndHevcRecords) {
  // Two SPS and one PPS, 2-byte NAL lengths.
  const Bytes avcc = {1, 0x42, 0, 0x1E, 0xFD, 0xE2, 0, 3, 0x67, 1,
                      2, 0,    2, 0x67, 3,    1,    0, 2, 0x68, 4};
  const Rule avc = zep::codec::header_from_avcc, hevc = zep::codec::header_from_hvcc;
  EXPECT_EQ(header(avc, avcc),
            Bytes({0, 0, 0, 1, 0x67, 1, 2, 0, 0, 0, 1, 0x67, 3, 0, 0, 0, 1, 0x68, 4}));
  EXPECT_EQ(g_header.nalLengthSize, 2u);
  EXPECT_EQ(header(avc, avcc, 12), Bytes({0, 0, 0, 1, 0x67, 1, 2}));  // keeps what is whole
  EXPECT_EQ(header(avc, avcc, 5), std::nullopt);
  // A set that would pass 1024 bytes is left out.
  Bytes big = {1, 0x42, 0, 0x1E, 0xFF, 0xE1, 0x04, 0x00};
  big.resize(big.size() + 1024, 0x67);
  big.insert(big.end(), {1, 0, 1, 0x68});
  EXPECT_EQ(header(avc, big), Bytes({0, 0, 0, 1, 0x68}));
  ByteWriter w;
  w.u8(1).u8(0x01).zeros(10).u8(93).zeros(8).u8(0xFF);  // bytes 0..21: NAL length size 4
  w.u8(4);                                              // arrays
  w.u8(0x20).be16(1).be16(3).u8(0x40).u8(1).u8(2);      // VPS
  w.u8(0x21).be16(2).be16(2).u8(0x42).u8(9).be16(2).u8(0x42).u8(7);  // two SPS: last wins
  w.u8(0x27).be16(1).be16(2).u8(0x4E).u8(1);                         // SEI: ignored
  w.u8(0x22).be16(1).be16(2).u8(0x44).u8(5);                         // PPS
  const Bytes hvcc = w.take();
  EXPECT_EQ(header(hevc, hvcc),
            Bytes({0, 0, 0, 1, 0x40, 1, 2, 0, 0, 0, 1, 0x42, 7, 0, 0, 0, 1, 0x44, 5}));
  EXPECT_EQ(g_header.nalLengthSize, 4u);
  EXPECT_EQ(header(hevc, hvcc, 23), std::nullopt);
  EXPECT_EQ(header(hevc, hvcc, 34), Bytes({0, 0, 0, 1, 0x40, 1, 2}));  // counts past the end
}

TEST(CodecHeader, FromMpegVideoFirstBlocks) {
  const Bytes mpeg2 = {0xAA, 0, 0, 1, 0xB3, 1, 2, 0, 0, 1, 0xB5, 0x14, 3, 0, 0, 1, 0xB8, 9};
  EXPECT_EQ(header(first_block<3>, mpeg2), Bytes(mpeg2.begin() + 1, mpeg2.begin() + 13));
  Bytes other = mpeg2;
  other[11] = 0x84;  // a picture-coding extension (id 8) is not part of the header
  EXPECT_EQ(header(first_block<3>, other), Bytes(mpeg2.begin() + 1, mpeg2.begin() + 7));
  EXPECT_EQ(header(first_block<3>, {0, 0, 1, 0xB3, 1, 2}), std::nullopt);  // no end
  const Bytes mpeg4 = {0, 0, 1, 0xB0, 1, 0, 0, 1, 0x20, 5, 0, 0, 1, 0xB6, 7};
  EXPECT_EQ(header(first_block<4>, mpeg4), Bytes(mpeg4.begin(), mpeg4.begin() + 10));
  EXPECT_EQ(header(first_block<4>, mpeg4, 12), std::nullopt);
}

// One stream through a parser: the container type (1 AVI 2.0, 2 Matroska),
// the add-header flag and the title; what each push returns, the blocks
// delivered (an empty one is checked by its size, firstSize) and the message.
struct Delivery {
  const char* name;
  uint32_t container;
  bool addHeader;
  FakeTitle title;
  std::vector<int64_t> pushes;
  std::vector<Bytes> delivered;
  const char* message = "";
  uint32_t firstSize = 0;
};

// One H.264 stream with this avcC and these pictures, the first a key; or one
// audio stream with this tag, rate, private data and frames.
FakeTitle h264(const Bytes& avcc, const std::vector<Bytes>& pictures) {
  FakeTitle t;
  t.video.push_back({fake_video_format("H264", 25, 1, 64, 64), avcc});
  for (size_t i = 0; i < pictures.size(); ++i)
    t.blocks.push_back(block(ZEP_BLOCK_VIDEO, 0, pictures[i], int64_t(i) * 400000, 400000, i == 0));
  return t;
}
FakeTitle audio(uint16_t tag, uint32_t rate, const Bytes& config,
                const std::vector<Bytes>& frames) {
  FakeTitle t;
  t.audio.push_back({fake_audio_format(tag, 2, rate, 16), {}, config});
  for (size_t i = 0; i < frames.size(); ++i)
    t.blocks.push_back(block(ZEP_BLOCK_AUDIO, 0, frames[i], int64_t(i) * 320000));
  return t;
}
Bytes concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

std::vector<Delivery> deliveries() {
  // avcC: one SPS (67 64) and one PPS (68 EE); FF: 4-byte lengths, FD: 2-byte.
  const Bytes avcc4 = {1, 0x64, 0, 0x1F, 0xFF, 0xE1, 0, 2, 0x67, 0x64, 1, 0, 2, 0x68, 0xEE};
  Bytes avcc2 = avcc4;
  avcc2[4] = 0xFD;
  const Bytes two4 = length_prefixed(4, {10, 20}), one4 = length_prefixed(4, {5});
  const Bytes two2 = length_prefixed(2, {5, 6});
  Bytes ownSps = two2;
  ownSps[2] = 0x67;                  // the block begins with its own SPS: no header before it
  const Bytes lc48k = {0x11, 0x90};  // AAC LC, 48 kHz, stereo
  const Bytes params = {0, 0, 0, 1, 0x67, 0x64, 0, 0, 0, 1, 0x68, 0xEE};
  // clang-format off
  return {
      {"H264HeaderGoesFirstThenStartCodes", 2, true, h264(avcc4, {two4, one4}), {38, 38, 9, 0},
       {params, annex_b(two4, 4), annex_b(one4, 4)}},
      {"H264WithoutAddHeaderIsDeliveredAsStored", 0, false, h264(avcc2, {two2}), {15}, {two2}},
      {"TwoByteLengthsWithHeaderThatMatchesTheFirstUnit", 0, true, h264(avcc2, {ownSps}), {15},
       {annex_b(ownSps, 2)}},
      {"AacInMatroskaGetsAdtsHeaders", 2, true, audio(255, 48000, lc48k, {pattern(200)}), {200},
       {concat({0xFF, 0xF1, 0x4C, 0x80, 0x19, 0xFF, 0xFC}, pattern(200))}},
      {"AacAtAnUnknownRateFails", 2, true, audio(255, 7350, {0x01}, {pattern(100)}), {-1}, {},
       "Unknown AAC sample rate: 7350"},
      {"LargeAacFrameKeepsAllItsBytes", 2, true, audio(255, 48000, lc48k, {pattern(70000)}),
       {70000}, {{}}, "", 70007},
      {"Ac3SyncWordOnlyWhenMissing", 2, true,
       audio(0x2000, 48000, pattern(20), {{0x77, 0x0B, 1, 2, 3}, {5, 6, 7}}), {5, 3},
       {{0x77, 0x0B, 1, 2, 3}, {0x0B, 0x77, 5, 6, 7}}},
      {"AudioFramingOnlyForMatroska", 1, true, audio(255, 48000, lc48k, {pattern(50)}), {50},
       {pattern(50)}}};
  // clang-format on
}

class FramingDelivery : public ApiTest, public ::testing::WithParamInterface<Delivery> {
 protected:
  void TearDown() override {
    ApiTest::TearDown();
    test_output_free(&out);
  }
  Bytes delivered(size_t i) const {
    return bytes(out.data + out.blocks[i].offset, int32_t(out.blocks[i].size));
  }
  test_output out{};
};

TEST_P(FramingDelivery, BlocksAsTheStreamKindWantsThem) {
  const Delivery& c = GetParam();
  scenario.containerType = c.container;
  scenario.titles.push_back(c.title);
  test_output_init(&out, 1 << 20);
  ASSERT_TRUE(open()) << last_message();
  const int32_t p = new_parser();
  ASSERT_EQ(add_stream(p, 0, &out, c.addHeader), 0) << last_message();
  for (int64_t expected : c.pushes) EXPECT_EQ(zepDemuxPush(demux, p), expected);
  EXPECT_EQ(last_message(), c.message);
  ASSERT_EQ(out.block_count, c.delivered.size());
  for (size_t i = 0; i < c.delivered.size(); ++i) {
    if (c.delivered[i].empty())
      EXPECT_EQ(out.blocks[i].size, c.firstSize);
    else
      EXPECT_EQ(delivered(i), c.delivered[i]) << "block " << i;
  }
  if (out.block_count == 0) return;
  EXPECT_EQ(get(out.blocks[0].info.start_time), 0);
  // After a seek the first block, with its header, goes first again.
  ASSERT_EQ(seek(p, 0), 0);
  EXPECT_GT(zepDemuxPush(demux, p), 0);
  EXPECT_EQ(delivered(out.block_count - 1), delivered(0));
}

INSTANTIATE_TEST_SUITE_P(Streams, FramingDelivery, ::testing::ValuesIn(deliveries()),
                         [](const auto& p) { return std::string(p.param.name); });

}  // namespace
}  // namespace zeptest
