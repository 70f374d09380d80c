// The raw H.264 read module on crafted streams: probing, parameter sets,
// access-unit grouping, time stamps, queries and damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>

#include "modules/h264/h264_annexb.h"
#include "tests/modules/h264/h264_stream_fixture.h"
#include "tests/support/nal_builder.h"

namespace {

using namespace zeptest;
using namespace h264test;
using Slices = std::vector<SliceOptions>;

constexpr size_t kChunk = 10000000;                          // the reader's chunk of the file
const SpsOptions kSps, kTimed{.vui = true, .timing = true};  // timed: 25 frames a second
const SliceOptions kIdr = idr_slice();
Bytes slice(const SliceOptions& s) { return make_slice(kSps, s); }
SliceOptions with(SliceOptions s, const std::function<void(SliceOptions&)>& change) {
  change(s);
  return s;
}
SliceOptions sized(SliceOptions s, size_t payload) {
  return with(s, [&](SliceOptions& o) { o.payload_bytes = payload; });
}
// A reference P picture and a non-reference B picture.
SliceOptions p(uint32_t poc, uint32_t frame_num = 1) { return p_slice(poc, frame_num); }
SliceOptions b(uint32_t poc, uint32_t frame_num) { return p_slice(poc, frame_num, 0); }
Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
template <typename T>
std::string case_name(const testing::TestParamInfo<T>& info) {
  return info.param.name;
}

// A stream in a scratch file, opened by the module.
struct Opened {
  explicit Opened(const Bytes& stream) : file(dir.write("s.h264", stream)) {}
  TempDir dir;
  H264File file;
};

// The extension decides, in any case, with trailing spaces dropped.
TEST(H264Module, ProbeByName) {
  const ZepModuleOps& ops = H264File::ops();
  EXPECT_EQ(ops.InitModule(nullptr), ZEP_OK);
  EXPECT_EQ(ops.GetModuleInfo()->canRead, 1u);
  const std::pair<const char16_t*, uint32_t> cases[] = {
      {u"CLIP.H264", 100}, {u"a.264", 100}, {u"b.AvC", 100}, {u"dir.x/c.avc  ", 100},
      {u"clip.mp4", 0},    {u"h264", 0},    {u".h264", 0},   {u"clip.h264.mp4", 0}};
  for (const auto& [name, expected] : cases) {
    uint32_t score = 7;
    EXPECT_EQ(ops.ProbeContainer(&score, name, nullptr), ZEP_OK);
    EXPECT_EQ(score, expected) << zep::u16_to_utf8(name);
  }
  uint32_t score = 7;
  EXPECT_EQ(ops.ProbeContainer(&score, nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(score, 0u);
  EXPECT_EQ(ops.ProbeContainer(nullptr, u"a.h264", nullptr), ZEP_FAIL);
}

// Times of 100 ns units in display order, from the picture order counts.
struct TimingCase {
  const char* name;
  SpsOptions sps;
  std::vector<SliceOptions> slices;
  std::vector<int64_t> times;
  int64_t duration;  // of every block
  uint32_t rate, scale;
  bool bottom_field_pic_order = false;
};
class H264Timing : public testing::TestWithParam<TimingCase> {};

TEST_P(H264Timing, BlockTimesDurationsKeysAndRate) {
  const TimingCase& c = GetParam();
  Opened s(h264_stream(c.sps, c.slices, c.bottom_field_pic_order));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = s.file.read_all(&status);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(units.size(), c.slices.size());
  for (size_t i = 0; i < units.size(); ++i) {
    EXPECT_EQ(std::tuple(units[i].time, units[i].duration, units[i].flags),
              std::tuple(c.times[i], c.duration,
                         c.slices[i].nal_unit_type == 5 ? ZEP_BLOCK_FLAG_KEYFRAME : 0u))
        << i;
  }
  ZepVideoStreamFormat f;
  ASSERT_EQ(s.file.format(&f), ZEP_OK);
  // Two fields of 4 map units are 128 rows.
  EXPECT_EQ(std::tuple(f.rate, f.scale, f.width, f.height, f.interlaced, f.kind & 0xFF),
            std::tuple(c.rate, c.scale, 64u, c.sps.frame_mbs_only ? 64u : 128u,
                       c.sps.frame_mbs_only ? 0u : 1u, 1u));
  EXPECT_EQ(std::memcmp(&f.fourcc, "H264", 4) | std::memcmp(&f.compression, "H264", 4), 0);
}

// Times of pictures `step` POC units apart at 25 frames a second.
std::vector<int64_t> halves(std::initializer_list<int64_t> steps) {
  std::vector<int64_t> times;
  for (int64_t step : steps) times.push_back(step * 200000);
  return times;
}

std::vector<TimingCase> timing_cases() {
  SpsOptions wrap = kTimed, type2 = kTimed, type1 = kTimed, earlier = kTimed, fields = kTimed;
  wrap.log2_max_poc_lsb_minus4 = 0;  // MaxPicOrderCntLsb 16
  Slices wrapping = {kIdr}, by_frame_num = {kIdr};
  for (uint32_t k = 1; k <= 12; ++k) wrapping.push_back(p((2 * k) % 16, k % 16));
  type2.poc_type = 2;
  type2.log2_max_frame_num_minus4 = 0;  // frame_num wraps at 16
  for (uint32_t k = 1; k <= 20; ++k) by_frame_num.push_back(p(0, k % 16));
  by_frame_num.push_back(kIdr);
  type1.poc_type = 1;
  type1.delta_pic_order_always_zero = true;
  type1.offset_for_ref_frame = {4};  // a reference frame every 2 frames
  type1.offset_for_non_ref_pic = -2;
  // Bottom field first: each frame counts from its earlier field.
  earlier.frame_mbs_only = false;
  earlier.mbaff = true;
  auto bottom_first = [](SliceOptions& s) {
    s.with_bottom_delta = true;
    s.delta_pic_order_cnt_bottom = -1;
  };
  fields.frame_mbs_only = false;
  auto field = [](SliceOptions& s) { s.field_pic = true; };
  auto bottom_field = [](SliceOptions& s) { s.field_pic = s.bottom_field = true; };
  std::vector<int64_t> frames;
  for (int64_t k = 0; k < 22; ++k) frames.push_back(k * 400000);
  using T = TimingCase;
  return {
      T{"NoTimingPlaysAtThirtyFramesASecond", kSps, Slices{kIdr, p(2), p(4, 2)},
        std::vector<int64_t>{0, 333333, 666666}, 333333, 30000, 1000},
      T{"PocLsbWrapKeepsTimeIncreasing", wrap, wrapping, frames, 400000, 25, 1},
      T{"FrameCountsFromItsEarlierField", earlier,
        Slices{with(idr_slice(1), bottom_first), with(p(3, 1), bottom_first),
               with(p(5, 2), bottom_first), with(p(7, 3), bottom_first)},
        frames, 400000, 25, 1, true},
      T{"PocTypeTwoCountsFromFrameNum", type2, by_frame_num, frames, 400000, 25, 1},
      // I0 P4 b2 P8 b6: frame_num counts reference frames.
      T{"PocTypeOneUsesTheReferenceFrameCycle", type1,
        Slices{kIdr, p(0, 1), b(0, 2), p(0, 2), b(0, 3)}, halves({0, 4, 2, 8, 6}), 400000, 25, 1},
      // A field per tick.
      T{"FieldPicturesAreBlocksOfHalfAFrame", fields,
        Slices{with(kIdr, field), with(p(1, 0), bottom_field), with(p(4, 1), field)},
        halves({0, 1, 4}), 200000, 50, 1},
  };
}

INSTANTIATE_TEST_SUITE_P(Streams, H264Timing, testing::ValuesIn(timing_cases()),
                         case_name<TimingCase>);

// Picture and display size from the SPS.
struct FormatCase {
  const char* name;
  SpsOptions sps;
  ZEP_STATUS status;
  uint32_t width, height, display_width, display_height;
};
SpsOptions sar(uint32_t idc, uint32_t width_mbs, uint32_t height_mbs, uint32_t w = 0,
               uint32_t h = 0) {
  return {.width_mbs = width_mbs,
          .height_mbs = height_mbs,
          .vui = true,
          .aspect_ratio_info = true,
          .aspect_ratio_idc = idc,
          .sar_width = w,
          .sar_height = h};
}
// Crops of 1 left, 2 right and 2 bottom, in the chroma format's units.
SpsOptions crop(uint8_t profile, uint32_t chroma, bool frame_mbs_only, uint32_t right = 2) {
  return {.profile_idc = profile,
          .chroma_format_idc = chroma,
          .frame_mbs_only = frame_mbs_only,
          .cropping = true,
          .crop_left = 1,
          .crop_right = right,
          .crop_bottom = 2};
}
class H264Format : public testing::TestWithParam<FormatCase> {};

TEST_P(H264Format, PictureAndDisplaySize) {
  const FormatCase& c = GetParam();
  Opened s(h264_stream(c.sps, {kIdr}));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  ZepVideoStreamFormat f;
  ASSERT_EQ(s.file.format(&f), c.status);
  if (c.status != ZEP_OK) return;
  EXPECT_EQ(std::tuple(f.width, f.height, f.displayWidth, f.displayHeight),
            std::tuple(c.width, c.height, c.display_width, c.display_height));
}

// A crop beyond the picture leaves an empty picture, not a wrapped size.
INSTANTIATE_TEST_SUITE_P(
    Sps, H264Format,
    testing::Values(
        FormatCase{"NoAspectRatio", {}, ZEP_OK, 64, 64, 0, 0},
        FormatCase{"ExtendedSar4To3", sar(255, 4, 4, 4, 3), ZEP_OK, 64, 64, 85, 64},
        FormatCase{"ExtendedSarWithAZeroTerm", sar(255, 4, 4, 3, 0), ZEP_OK, 64, 64, 64, 64},
        FormatCase{"UnspecifiedSar", sar(0, 4, 4), ZEP_OK, 64, 64, 64, 64},
        FormatCase{"SarIdc17Invalid", sar(17, 4, 4), ZEP_ERR_AR_IDC_INVALID},
        FormatCase{"Crop422RowsNotHalved", crop(122, 2, true), ZEP_OK, 64 - 2 * 3, 64 - 2},
        FormatCase{"Crop444", crop(244, 3, true), ZEP_OK, 64 - 3, 64 - 2},
        FormatCase{"CropMonochrome", crop(100, 0, true), ZEP_OK, 64 - 3, 64 - 2},
        FormatCase{"CropBeyondThePicture", crop(66, 1, true, 1000), ZEP_OK, 0, 64 - 2 * 2}),
    case_name<FormatCase>);

// Reads to the end; each access unit ends with the next slice, and two reads
// behind the end answer the status that ended the reading. With a title the
// first block leads with the SPS and PPS, which the queries and the avcC
// record answer too; title 1 does not exist.
void expect_units(const Bytes& stream, std::vector<Bytes> slices, ZEP_STATUS title,
                  ZEP_STATUS end) {
  Opened s(stream);
  H264File& file = s.file;
  ASSERT_EQ(file.open_status(), ZEP_OK);
  EXPECT_EQ(file.set_title(1), ZEP_FAIL);
  ASSERT_EQ(file.set_title(), title);
  const Bytes sps = make_sps(kSps), pps = make_pps();
  if (title == ZEP_OK) {
    EXPECT_EQ(file.query_bytes(ZEP_QID_SPS_SIZE, ZEP_QID_SPS_DATA), sps);
    EXPECT_EQ(file.query_bytes(ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA), pps);
    ByteWriter avcc;
    avcc.u8(1).u8(sps[1]).u8(sps[2]).u8(sps[3]).u8(0xFF).u8(0xE1).be16(uint16_t(sps.size()));
    avcc.bytes(sps).u8(1).be16(uint16_t(pps.size())).bytes(pps);
    EXPECT_EQ(
        file.query_bytes(ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, ZEP_QID_VIDEO_CODEC_PRIVATE_DATA),
        avcc.data());
  }
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status);
  EXPECT_EQ(status, end);
  ASSERT_EQ(units.size(), slices.size());
  for (size_t i = 0; i < units.size(); ++i) {
    const std::vector<Bytes> nals = split_units(units[i].data);
    ASSERT_FALSE(nals.empty()) << i;
    EXPECT_EQ(nals.back(), slices[i]) << i;
    if (i > 0 || title == ZEP_OK) {
      EXPECT_EQ(nals,
                (i > 0 ? std::vector<Bytes>{slices[i]} : std::vector<Bytes>{sps, pps, slices[0]}))
          << i;
    }
    EXPECT_EQ(units[i].flags, (nals.back()[0] & 0x1F) == 5 ? ZEP_BLOCK_FLAG_KEYFRAME : 0) << i;
  }
  ZepBlock block;
  zep_heap_block_init(&block);
  uint32_t type = 0, index = 0;
  for (int again = 0; again < 2; ++again)
    EXPECT_EQ(file.ops().ReadNextBlock(file.handle(), &type, &index, &block, 0), status);
  zep_heap_block_free(&block);
}

// `prefix`, SPS, PPS and `slices`, cut by `cut` bytes, `suffix`, then `tail`
// slices; `units` access units are read, each ending with the next slice.
struct StreamCase {
  const char* name;
  Bytes prefix;
  std::vector<SliceOptions> slices;
  size_t cut;
  Bytes suffix;
  std::vector<SliceOptions> tail;
  ZEP_STATUS title, end;
  size_t units;
};
class H264Stream : public testing::TestWithParam<StreamCase> {};

TEST_P(H264Stream, AccessUnitsAndTheEndOfTheReading) {
  const StreamCase& c = GetParam();
  Bytes stream = cat(c.prefix, h264_stream(kSps, c.slices));
  stream.resize(stream.size() - c.cut);
  std::vector<Bytes> slices;
  for (const SliceOptions& s : c.slices) slices.push_back(slice(s));
  slices.back().resize(slices.back().size() - c.cut);
  stream = cat(stream, c.suffix);
  for (const SliceOptions& s : c.tail) slices.push_back(slice(s));
  stream = cat(stream, annexb({slices.begin() + ptrdiff_t(c.slices.size()), slices.end()}));
  slices.resize(c.units);
  expect_units(stream, slices, c.title, c.end);
}

// Zero bytes end a P slice, and the 77 behind them is no start code; a unit
// crosses the end of the first chunk; a zero run longer than a chunk is
// trailing_zero_8bits.
INSTANTIATE_TEST_SUITE_P(
    Streams, H264Stream,
    testing::Values(
        StreamCase{"GarbageBeforeTheFirstStartCode", Bytes{0x12, 0x34, 0x56}, Slices{kIdr}, 0,
                   Bytes(), Slices(), ZEP_FAIL, ZEP_WARN_NONFATAL, 0},
        StreamCase{"GarbageInsideTheStreamEndsTheReadingThere", Bytes(), Slices{kIdr, p(2)}, 0,
                   Bytes{0, 0, 0, 0x77}, Slices{p(4, 2)}, ZEP_OK, ZEP_FAIL, 2},
        StreamCase{"TruncatedFinalAccessUnitIsDelivered", Bytes(), Slices{kIdr, sized(p(2), 100)},
                   60, Bytes(), Slices(), ZEP_OK, ZEP_ERR_END_OF_STREAM, 2},
        StreamCase{"TrailingZeroBytesEndTheStreamCleanly", Bytes(), Slices{kIdr, p(2)}, 0,
                   Bytes(7, 0), Slices(), ZEP_OK, ZEP_ERR_END_OF_STREAM, 2},
        StreamCase{"UnitStraddlingChunksIsWhole", Bytes(),
                   Slices{kIdr, sized(p(2), 6000000), sized(p(4, 2), 6000000)}, 0, Bytes(),
                   Slices(), ZEP_OK, ZEP_ERR_END_OF_STREAM, 3},
        StreamCase{"UnitLongerThanAChunkFails", Bytes(), Slices{kIdr, sized(p(2), kChunk), p(4, 2)},
                   0, Bytes(), Slices(), ZEP_OK, ZEP_ERR_BUFFER_TOO_SMALL, 1},
        StreamCase{"ZeroRunLongerThanAChunkIsPassedOver", Bytes(), Slices{kIdr}, 0,
                   Bytes(kChunk + 100, 0), Slices{p(2)}, ZEP_OK, ZEP_ERR_END_OF_STREAM, 2}),
    case_name<StreamCase>);

// 3-byte start codes, the one before the second P slice ending the chunk;
// parameter sets that are missing or do not parse (no PPS: SetTitle says so,
// but the stream reads; no SPS in the first five units; scaling lists; an
// empty file).
TEST(H264Module, StartCodeAtTheEndOfAChunkAndMissingParameterSets) {
  const Bytes sps = make_sps(kSps), pps = make_pps();
  const size_t head = 3 + sps.size() + 3 + pps.size() + 3 + slice(sized(kIdr, 0)).size();
  const Bytes idr = slice(sized(kIdr, kChunk - 3 - head));
  ByteWriter w;
  w.be24(1).bytes(sps).be24(1).bytes(pps).be24(1).bytes(idr);
  ASSERT_EQ(w.size(), kChunk - 3);
  w.be24(1).bytes(slice(p(2))).be24(1).bytes(slice(p(4, 2)));
  expect_units(w.data(), {idr, slice(p(2)), slice(p(4, 2))}, ZEP_OK, ZEP_ERR_END_OF_STREAM);
  std::vector<Bytes> no_sps(5, make_nal(0, 6, {0x05, 0x01, 0xAA, 0x80}));
  no_sps.push_back(sps);
  const std::tuple<Bytes, std::vector<Bytes>, ZEP_STATUS, ZEP_STATUS> cases[] = {
      {annexb({sps, slice(kIdr)}), {slice(kIdr)}, ZEP_E_NULL_ARG, ZEP_ERR_END_OF_STREAM},
      {annexb(no_sps), {}, ZEP_E_NULL_ARG, ZEP_WARN_NONFATAL},
      {h264_stream({.profile_idc = 100, .scaling_matrix_present = true}, {}),
       {},
       ZEP_ERR_UNSUPPORTED_SPS_DATA,
       ZEP_WARN_NONFATAL},
      {{}, {}, ZEP_E_NULL_ARG, ZEP_WARN_NONFATAL}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
    std::apply(expect_units, c);
  }
}

// Delimiters and the end of sequence are dropped; SEI and the parameter sets
// go with the next picture; a second slice of a picture joins its unit.
TEST(H264Module, SlicesDelimitersAndSeiFormAccessUnits) {
  const Bytes aud = make_nal(0, 9, {0xF0}), sei = make_nal(0, 6, {0x05, 0x01, 0xAA, 0x80});
  auto second = [](SliceOptions& s) { s.first_mb = 8; };
  Opened s(annexb({aud, make_sps(kSps), make_pps(), sei, slice(kIdr), slice(with(kIdr, second)),
                   aud, sei, slice(p(2)), slice(with(p(2), second)), make_nal(0, 10, {})}));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  const std::vector<AccessUnit> units = s.file.read_all(nullptr);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(unit_types(units[0].data), (std::vector<int>{7, 8, 6, 5, 5}));
  EXPECT_EQ(unit_types(units[1].data), (std::vector<int>{6, 1, 1}));
}

// A heap block of 16 bytes grows, the bytes written before keep.
TEST(H264Module, AccessUnitLargerThanTheFirstBufferGrowsIt) {
  const Bytes s1 = slice(sized(kIdr, 300000));
  const Bytes s2 = slice(with(sized(kIdr, 300000), [](SliceOptions& s) { s.first_mb = 8; }));
  Opened s(annexb({make_sps(kSps), make_pps(), s1, s2}));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  s.file.ops().SetTitleActiveStream(s.file.handle(), ZEP_BLOCK_VIDEO, 0, 1);
  ZepBlock block;
  zep_heap_block_init(&block);
  block.data = static_cast<uint8_t*>(std::malloc(16));
  block.capacity = 16;
  uint32_t type = 0, stream = 0;
  ASSERT_EQ(s.file.ops().ReadNextBlock(s.file.handle(), &type, &stream, &block, 0), ZEP_OK);
  EXPECT_EQ(std::pair(type, stream), std::pair(uint32_t(ZEP_BLOCK_VIDEO), 0u));
  ASSERT_GE(block.capacity, block.size);
  EXPECT_EQ(split_units(Bytes(block.data, block.data + block.size)),
            (std::vector<Bytes>{make_sps(kSps), make_pps(), s1, s2}));
  zep_heap_block_free(&block);
}

// A block whose owner cannot grow it: the read fails and leaves the stream
// where the access unit began, so a read with room delivers it whole.
TEST(H264Module, TooSmallBufferWithoutCallbackLeavesTheStreamInPlace) {
  const SliceOptions big = sized(p(2), 5000);
  Opened s(h264_stream(kTimed, {kIdr, big, p(4, 2)}));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  const ZepModuleOps& ops = s.file.ops();
  Bytes buffer(200);
  ZepBlock block{};
  block.data = buffer.data();
  block.capacity = uint32_t(buffer.size());
  auto read = [&] {
    return ops.ReadNextBlockByStream(s.file.handle(), ZEP_BLOCK_VIDEO, 0, &block);
  };
  auto position = [&] {
    ZepQueryData q{};
    EXPECT_EQ(ops.GetInfo(s.file.handle(), ZEP_QID_FILE_POSITION, &q, 0), ZEP_OK);
    return q.value.u64;
  };
  ASSERT_EQ(read(), ZEP_OK);
  EXPECT_EQ(block.time, 0);
  const uint64_t before = position();
  EXPECT_EQ(read(), ZEP_ERR_BLOCK_BUFFER_TOO_SMALL);
  EXPECT_EQ(position(), before);
  EXPECT_EQ(read(), ZEP_ERR_BLOCK_BUFFER_TOO_SMALL);
  buffer.resize(6000);
  block.data = buffer.data();
  block.capacity = uint32_t(buffer.size());
  ASSERT_EQ(read(), ZEP_OK);
  EXPECT_EQ(split_units(Bytes(block.data, block.data + block.size))[0], make_slice(kTimed, big));
  EXPECT_EQ(block.time, 400000);  // the failed reads did not advance the order
  ASSERT_EQ(read(), ZEP_OK);
  EXPECT_EQ(block.time, 800000);
}

// Reads before the title or the activation, other streams, seeks without an
// index (only the start), null arguments, a missing file.
TEST(H264Module, OperationsOutsideTheOneStream) {
  Opened s(h264_stream(kSps, {kIdr, p(2)}));
  const ZepModuleOps& ops = s.file.ops();
  const ZepModuleHandle h = s.file.handle();
  ZepBlock block;
  zep_heap_block_init(&block);
  uint32_t type = 9, stream = 9;
  EXPECT_EQ(ops.ReadNextBlock(h, &type, &stream, &block, 0), ZEP_WARN_NONFATAL);
  EXPECT_EQ(std::pair(type, stream), std::pair(0u, UINT32_MAX));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  EXPECT_EQ(ops.ReadNextBlock(h, &type, &stream, &block, 0), ZEP_WARN_NONFATAL);
  EXPECT_EQ(ops.SetTitleActiveStream(h, ZEP_BLOCK_AUDIO, 0, 1), ZEP_FAIL);
  EXPECT_EQ(ops.SetTitleActiveStream(h, ZEP_BLOCK_VIDEO, 1, 1), ZEP_FAIL);
  EXPECT_EQ(ops.SetTitleActiveStream(h, ZEP_BLOCK_VIDEO, 0, 1), ZEP_OK);
  EXPECT_EQ(ops.ReadNextBlock(h, &type, &stream, &block, 0), ZEP_OK);
  int64_t time = 5;
  EXPECT_EQ(ops.SetPosition(h, 2, 0, &time), ZEP_FAIL);
  time = 0;
  EXPECT_EQ(ops.SetPosition(h, 2, 0, &time), ZEP_OK);
  EXPECT_EQ(ops.SetPosition(h, 2, 0, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.ReadNextBlock(nullptr, &type, &stream, &block, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.ReadNextBlock(h, nullptr, &stream, &block, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.SetTitle(nullptr, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.CloseContainer(nullptr), ZEP_E_NULL_ARG);
  zep_heap_block_free(&block);
  EXPECT_EQ(H264File(s.dir.path() + "/missing.h264").open_status(), ZEP_ERR_FILE_OPEN_FAILURE);
}

// Values at their width (a filled union shows what a value leaves alone),
// records into a buffer of `capacity`, refusals. A 16-bit avcC length cannot
// hold a PPS of 70000 bytes: the record is refused rather than written wrong.
TEST(H264Module, QueryAnswers) {
  const Bytes stream = h264_stream(kSps, {kIdr});
  Opened s(stream);
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  const uint64_t avcc_size = make_sps(kSps).size() + make_pps().size() + 11;
  Bytes title(24, 0);
  title[12] = 1;  // one stream
  const ZEP_STATUS kSmall = ZEP_ERR_BUFFER_TOO_SMALL;
  // QID, index, status, value, value type (0: not checked), capacity, record, value bits.
  const std::tuple<uint32_t, uint32_t, ZEP_STATUS, uint64_t, uint32_t, uint32_t, Bytes, uint32_t>
      cases[] = {
          {ZEP_QID_NUM_CONTAINER_TITLE, 0, ZEP_OK, 1, 3, 0, {}, 64},
          {ZEP_QID_NUM_TITLE_STREAMS, 0, ZEP_OK, 1, 0, 0, {}, 16},
          {ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA, 0, ZEP_OK, 1, 0, 0, {}, 16},
          {ZEP_QID_CONTAINER_TITLE_ID, 0, ZEP_OK, 0, 0, 0, {}, 64},
          {ZEP_QID_GET_FILE_SIZE, 0, ZEP_OK, stream.size(), 8, 0, {}, 64},
          {ZEP_QID_FILE_POSITION, 0, ZEP_OK, 0, 0, 0, {}, 64},
          {ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, 0, ZEP_OK, avcc_size, 0, 0, {}, 32},
          {ZEP_QID_NUM_CONTAINER_TITLE, 1, ZEP_ERR_INVALID_STREAM, 0, 0, 0, {}, 64},
          {ZEP_QID_GET_CONTAINER_TYPE, 0, ZEP_ERR_INVALID_QUERY_ID, 0, 0, 0, {}, 64},
          {ZEP_QID_GET_CONTAINER_PROP,
           0,
           ZEP_OK,
           0,
           11,
           12,
           {0x10, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0},
           0},
          {ZEP_QID_GET_TITLE_PROP, 0, ZEP_OK, 0, 11, 24, title, 0},
          {ZEP_QID_GET_TITLE_MEDIA_PROP, 0, ZEP_OK, 0, 11, 8, {0, 0, 1, 0, 0, 0, 0, 0}, 0},
          {ZEP_QID_GET_VIDEO_MEDIA_PROP, 0, ZEP_OK, 0, 11, 8, {0x10, 0, 0, 0, 2, 0, 0, 0}, 0},
          {ZEP_QID_GET_CONTAINER_PROP, 0, kSmall, 0, 0, 11, {}, 0},
          {ZEP_QID_VID_STREAM_FORMAT, 0, kSmall, 0, 0, 55, {}, 0},
          {ZEP_QID_SPS_DATA, 0, kSmall, 0, 0, 2, {}, 0},
          {ZEP_QID_VIDEO_CODEC_PRIVATE_DATA, 0, kSmall, 0, 0, 100, {}, 0}};  // no buffer
  for (const auto& [qid, index, status, value, value_type, capacity, record, bits] : cases) {
    Bytes out(64, 0);
    ZepQueryData q{};
    q.size = capacity;
    q.value.u64 = 0xDEADBEEFDEADBEEFull;
    if (capacity) q.value.ptr = qid == ZEP_QID_VIDEO_CODEC_PRIVATE_DATA ? nullptr : out.data();
    ASSERT_EQ(s.file.ops().GetInfo(s.file.handle(), qid, &q, index), status) << qid;
    if (status != ZEP_OK) continue;
    EXPECT_EQ(value_type ? q.valueType : 0u, value_type) << qid;
    if (capacity == 0) {
      EXPECT_EQ(q.value.u64 & (~0ull >> (64 - bits)), value) << qid;
    } else {
      EXPECT_EQ(Bytes(out.begin(), out.begin() + q.size), record) << qid;
    }
  }
  EXPECT_EQ(s.file.ops().GetInfo(s.file.handle(), ZEP_QID_SPS_SIZE, nullptr, 0), ZEP_E_NULL_ARG);
  Bytes pps = make_pps();
  pps.resize(70000, 0x55);
  Opened big(annexb({make_sps(kSps), pps, slice(kIdr)}));
  ASSERT_EQ(big.file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  big.file.query_bytes(ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, ZEP_QID_VIDEO_CODEC_PRIVATE_DATA,
                       &status);
  EXPECT_EQ(status, ZEP_FAIL);
  EXPECT_EQ(big.file.query_bytes(ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA), pps);
}

// avcC and length-prefixed blocks to start codes: the size asked first, cut
// input and a length size of 5 refused.
TEST(H264AnnexB, BlocksAndConfigurationRecordToStartCodes) {
  const Bytes sps = {0x67, 0x42, 0xC0, 0x1E, 0xAB}, pps = {0x68, 0xCE, 0x3C, 0x80};
  ByteWriter avcc, block;
  avcc.u8(1).u8(0x42).u8(0xC0).u8(0x1E).u8(0xFF).u8(0xE1).be16(5).bytes(sps);
  const Bytes record = avcc.u8(1).be16(4).bytes(pps).take();
  const Bytes b = block.be32(3).bytes(Bytes{0x65, 1, 2}).be32(2).bytes(Bytes{0x41, 9}).take();
  const uint32_t record_size = uint32_t(record.size()), block_size = uint32_t(b.size());
  EXPECT_EQ(zep_h264_avcc_length_size(record.data(), record_size), 4u);
  uint32_t size = 0;
  EXPECT_EQ(zep_h264_avcc_to_annexb(record.data(), record_size, nullptr, 0, &size),
            ZEP_ERR_BUFFER_TOO_SMALL);
  ASSERT_EQ(size, 17u);
  Bytes out(size);
  ASSERT_EQ(zep_h264_avcc_to_annexb(record.data(), record_size, out.data(), size, &size), ZEP_OK);
  EXPECT_EQ(out, annexb({sps, pps}));
  EXPECT_EQ(zep_h264_avcc_to_annexb(record.data(), record_size - 1, out.data(), 17, &size),
            ZEP_FAIL);
  ASSERT_EQ(zep_h264_block_to_annexb(b.data(), block_size, 4, nullptr, 0, &size),
            ZEP_ERR_BUFFER_TOO_SMALL);
  out.assign(size, 0);
  ASSERT_EQ(zep_h264_block_to_annexb(b.data(), block_size, 4, out.data(), size, &size), ZEP_OK);
  EXPECT_EQ(out, annexb({{0x65, 1, 2}, {0x41, 9}}));
  EXPECT_EQ(zep_h264_block_to_annexb(b.data(), block_size - 1, 4, out.data(), size, &size),
            ZEP_FAIL);
  EXPECT_EQ(zep_h264_block_to_annexb(b.data(), block_size, 5, out.data(), size, &size), ZEP_FAIL);
}

}  // namespace
