// The raw H.264 read module on crafted streams: probing, parameter sets,
// access-unit grouping, time stamps, queries and damaged input.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>

#include "modules/h264/h264_annexb.h"
#include "tests/modules/h264/h264_stream_fixture.h"
#include "tests/support/nal_builder.h"

namespace {

using h264test::AccessUnit;
using h264test::H264File;
using h264test::split_units;
using h264test::unit_types;
using zeptest::annexb;
using zeptest::Bytes;
using zeptest::make_slice;
using zeptest::SliceOptions;
using zeptest::SpsOptions;
using Slices = std::vector<SliceOptions>;

constexpr size_t kChunk = 10000000;  // the reader's chunk of the file
const SpsOptions kSps;
const SliceOptions kIdr = zeptest::idr_slice();
Bytes slice(const SliceOptions& s) { return make_slice(kSps, s); }
SliceOptions sized(SliceOptions s, size_t payload_bytes) {
  s.payload_bytes = payload_bytes;
  return s;
}
// A reference P picture and a non-reference B picture.
SliceOptions p(uint32_t poc, uint32_t frame_num = 1) { return zeptest::p_slice(poc, frame_num); }
SliceOptions b(uint32_t poc, uint32_t frame_num) { return zeptest::p_slice(poc, frame_num, 0); }
SliceOptions with(SliceOptions s, const std::function<void(SliceOptions&)>& change) {
  change(s);
  return s;
}
Bytes cat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
std::string case_name(const auto& info) { return info.param.name; }

// A stream in a scratch file, opened by the module.
struct Opened {
  explicit Opened(const Bytes& stream) : file(dir.write("s.h264", stream)) {}
  zeptest::TempDir dir;
  H264File file;
};

TEST(H264Module, InformationAndProbe) {
  const ZepModuleOps& ops = H264File::ops();
  EXPECT_EQ(ops.GetModuleInfo()->canRead, 1u);
  EXPECT_EQ(ops.GetModuleInfo()->canWrite, 0u);
  EXPECT_EQ(ops.InitModule(nullptr), ZEP_OK);
  const std::pair<const char16_t*, uint32_t> cases[] = {
      {u"clip.h264", 100},     {u"CLIP.H264", 100}, {u"a.264", 100}, {u"b.AvC", 100},
      {u"dir.x/c.avc  ", 100}, {u"clip.mp4", 0},    {u"h264", 0},    {u".h264", 0},
      {u"clip.h264.mp4", 0},   {u"clip.h26", 0}};
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

void PrintTo(const TimingCase& c, std::ostream* os) { *os << c.name; }
class H264Timing : public testing::TestWithParam<TimingCase> {};

TEST_P(H264Timing, BlockTimesDurationsKeysAndRate) {
  const TimingCase& c = GetParam();
  Opened s(zeptest::h264_stream(c.sps, c.slices, c.bottom_field_pic_order));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = s.file.read_all(&status);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(units.size(), c.slices.size());
  for (size_t i = 0; i < units.size(); ++i) {
    EXPECT_EQ(units[i].time, c.times[i]) << i;
    EXPECT_EQ(units[i].duration, c.duration) << i;
    EXPECT_EQ(units[i].flags, c.slices[i].nal_unit_type == 5 ? ZEP_BLOCK_FLAG_KEYFRAME : 0) << i;
  }
  ZepVideoStreamFormat format;
  ASSERT_EQ(s.file.format(&format), ZEP_OK);
  EXPECT_EQ(format.rate, c.rate);
  EXPECT_EQ(format.scale, c.scale);
  EXPECT_EQ(format.width, 64u);
  EXPECT_EQ(format.height, c.sps.frame_mbs_only ? 64u : 128u);  // two fields of 4 map units
  EXPECT_EQ(format.interlaced, c.sps.frame_mbs_only ? 0u : 1u);
  EXPECT_EQ(std::memcmp(&format.fourcc, "H264", 4), 0);
  EXPECT_EQ(std::memcmp(&format.compression, "H264", 4), 0);
  EXPECT_EQ(format.kind & 0xFF, 1u);
}

// Times of pictures a POC step apart at 25 frames a second.
std::vector<int64_t> halves(std::initializer_list<int64_t> steps) {
  std::vector<int64_t> times;
  for (int64_t step : steps) times.push_back(step * 200000);
  return times;
}

std::vector<TimingCase> timing_cases() {
  const SpsOptions timed{.vui = true, .timing = true};  // 25 frames a second
  SpsOptions wrap = timed, type2 = timed, type1 = timed, earlier = timed, fields = timed;
  wrap.log2_max_poc_lsb_minus4 = 0;  // MaxPicOrderCntLsb 16
  std::vector<SliceOptions> wrapping = {kIdr};
  for (uint32_t k = 1; k <= 12; ++k) wrapping.push_back(p((2 * k) % 16, k % 16));
  type2.poc_type = 2;
  type2.log2_max_frame_num_minus4 = 0;  // frame_num wraps at 16
  std::vector<SliceOptions> by_frame_num = {kIdr};
  for (uint32_t k = 1; k <= 20; ++k) by_frame_num.push_back(p(0, k % 16));
  by_frame_num.push_back(kIdr);
  type1.poc_type = 1;
  type1.delta_pic_order_always_zero = true;
  type1.offset_for_ref_frame = {4};  // a reference frame every 2 frames
  type1.offset_for_non_ref_pic = -2;
  // Interlaced frames whose bottom field comes first: each frame counts from
  // its earlier field, so frames stay a whole frame apart.
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
      // Decode order I0 P6 B2 B4 P12 B8 B10.
      T{"BFramesFollowPictureOrder", timed,
        Slices{kIdr, p(6), b(2, 2), b(4, 2), p(12, 2), b(8, 3), b(10, 3)},
        halves({0, 6, 2, 4, 12, 8, 10}), 400000, 25, 1},
      T{"PocLsbWrapKeepsTimeIncreasing", wrap, wrapping, frames, 400000, 25, 1},
      // Order number 0 + 10 + 2 for the second IDR.
      T{"SecondIdrStartsBehindTheLargestOrderCount", timed,
        Slices{kIdr, p(2), p(4, 2), p(6, 3), p(8, 4), p(10, 5), kIdr, p(2)}, frames, 400000, 25, 1},
      T{"FrameCountsFromItsEarlierField", earlier,
        Slices{with(zeptest::idr_slice(1), bottom_first), with(p(3, 1), bottom_first),
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
                         case_name<testing::TestParamInfo<TimingCase>>);

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

void PrintTo(const FormatCase& c, std::ostream* os) { *os << c.name; }
class H264Format : public testing::TestWithParam<FormatCase> {};

TEST_P(H264Format, PictureAndDisplaySize) {
  const FormatCase& c = GetParam();
  Opened s(zeptest::h264_stream(c.sps, {kIdr}));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  ZepVideoStreamFormat format;
  ASSERT_EQ(s.file.format(&format), c.status);
  if (c.status != ZEP_OK) return;
  EXPECT_EQ(format.width, c.width);
  EXPECT_EQ(format.height, c.height);
  EXPECT_EQ(format.displayWidth, c.display_width);
  EXPECT_EQ(format.displayHeight, c.display_height);
}

INSTANTIATE_TEST_SUITE_P(
    Sps, H264Format,
    testing::Values(
        FormatCase{"NoAspectRatio", {}, ZEP_OK, 64, 64, 0, 0},
        FormatCase{"Sar12To11", sar(2, 44, 36), ZEP_OK, 704, 576, 768, 576},
        FormatCase{"Sar4To3Uncropped", sar(14, 90, 68), ZEP_OK, 1440, 1088, 1920, 1088},
        FormatCase{"SquareSar", sar(1, 4, 4), ZEP_OK, 64, 64, 64, 64},
        FormatCase{"Sar10To11MakesItTaller", sar(3, 44, 36), ZEP_OK, 704, 576, 704, 634},
        FormatCase{"ExtendedSar4To3", sar(255, 4, 4, 4, 3), ZEP_OK, 64, 64, 85, 64},
        FormatCase{"ExtendedSarWithAZeroTerm", sar(255, 4, 4, 3, 0), ZEP_OK, 64, 64, 64, 64},
        FormatCase{"UnspecifiedSar", sar(0, 4, 4), ZEP_OK, 64, 64, 64, 64},
        FormatCase{"SarIdc17Invalid", sar(17, 4, 4), ZEP_ERR_AR_IDC_INVALID},
        FormatCase{"SarIdc254Invalid", sar(254, 4, 4), ZEP_ERR_AR_IDC_INVALID},
        FormatCase{"CropInferred420", crop(66, 1, true), ZEP_OK, 64 - 2 * 3, 64 - 2 * 2},
        FormatCase{"Crop420", crop(100, 1, true), ZEP_OK, 64 - 2 * 3, 64 - 2 * 2},
        FormatCase{"Crop422RowsNotHalved", crop(122, 2, true), ZEP_OK, 64 - 2 * 3, 64 - 2},
        FormatCase{"Crop444", crop(244, 3, true), ZEP_OK, 64 - 3, 64 - 2},
        FormatCase{"CropMonochrome", crop(100, 0, true), ZEP_OK, 64 - 3, 64 - 2},
        FormatCase{"CropInterlaced420", crop(77, 1, false), ZEP_OK, 64 - 2 * 3, 128 - 4 * 2},
        // An empty picture, not a wrapped size.
        FormatCase{"CropBeyondThePicture", crop(66, 1, true, 1000), ZEP_OK, 0, 64 - 2 * 2}),
    case_name<testing::TestParamInfo<FormatCase>>);

// Reads to the end; each access unit ends with the next slice of the stream,
// and a read behind the end answers the status that ended the reading. With
// a title, the first block leads with the SPS and PPS, which the queries and
// the avcC record around them answer too.
void expect_units(const Bytes& stream, std::vector<Bytes> slices, ZEP_STATUS title,
                  ZEP_STATUS end) {
  zeptest::TempDir dir;
  H264File file(dir.write("s.h264", stream));
  ASSERT_EQ(file.open_status(), ZEP_OK);
  EXPECT_EQ(file.set_title(1), ZEP_FAIL);  // the one title is title 0
  ASSERT_EQ(file.set_title(), title);
  const Bytes sps = zeptest::make_sps(kSps), pps = zeptest::make_pps();
  if (title == ZEP_OK) {
    EXPECT_EQ(file.query_bytes(ZEP_QID_SPS_SIZE, ZEP_QID_SPS_DATA), sps);
    EXPECT_EQ(file.query_bytes(ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA), pps);
    zeptest::ByteWriter avcc;
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
    if (i > 0) {
      EXPECT_EQ(nals.size(), 1u) << i;
    } else if (title == ZEP_OK) {
      EXPECT_EQ(nals, (std::vector<Bytes>{sps, pps, slices[0]}));
    }
    EXPECT_EQ(units[i].flags, (nals.back()[0] & 0x1F) == 5 ? ZEP_BLOCK_FLAG_KEYFRAME : 0) << i;
  }
  ZepBlock block;
  zep_heap_block_init(&block);
  uint32_t type = 0, index = 0;
  for (int again = 0; again < 2; ++again) {
    EXPECT_EQ(file.ops().ReadNextBlock(file.handle(), &type, &index, &block, 0), status);
  }
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

void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }
class H264Stream : public testing::TestWithParam<StreamCase> {};

TEST_P(H264Stream, AccessUnitsAndTheEndOfTheReading) {
  const StreamCase& c = GetParam();
  Bytes stream = cat(c.prefix, zeptest::h264_stream(kSps, c.slices));
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

INSTANTIATE_TEST_SUITE_P(
    Streams, H264Stream,
    testing::Values(
        StreamCase{"IdrPictureAndPPicture", Bytes(), Slices{kIdr, p(2)}, 0, Bytes(), Slices(),
                   ZEP_OK, ZEP_ERR_END_OF_STREAM, 2},
        StreamCase{"GarbageBeforeTheFirstStartCode", Bytes{0x12, 0x34, 0x56}, Slices{kIdr}, 0,
                   Bytes(), Slices(), ZEP_FAIL, ZEP_WARN_NONFATAL, 0},
        // Zero bytes end the P slice; the 77 behind them is no start code.
        StreamCase{"GarbageInsideTheStreamEndsTheReadingThere", Bytes(), Slices{kIdr, p(2)}, 0,
                   Bytes{0, 0, 0, 0x77}, Slices{p(4, 2)}, ZEP_OK, ZEP_FAIL, 2},
        StreamCase{"TruncatedFinalAccessUnitIsDelivered", Bytes(), Slices{kIdr, sized(p(2), 100)},
                   60, Bytes(), Slices(), ZEP_OK, ZEP_ERR_END_OF_STREAM, 2},
        StreamCase{"TrailingZeroBytesEndTheStreamCleanly", Bytes(), Slices{kIdr, p(2)}, 0,
                   Bytes(7, 0), Slices(), ZEP_OK, ZEP_ERR_END_OF_STREAM, 2},
        // Chunks of the file: the second P slice crosses the first chunk's end.
        StreamCase{"UnitStraddlingChunksIsWhole", Bytes(),
                   Slices{kIdr, sized(p(2), 6000000), sized(p(4, 2), 6000000)}, 0, Bytes(),
                   Slices(), ZEP_OK, ZEP_ERR_END_OF_STREAM, 3},
        StreamCase{"UnitLongerThanAChunkFails", Bytes(), Slices{kIdr, sized(p(2), kChunk), p(4, 2)},
                   0, Bytes(), Slices(), ZEP_OK, ZEP_ERR_BUFFER_TOO_SMALL, 1},
        // trailing_zero_8bits
        StreamCase{"ZeroRunLongerThanAChunkIsPassedOver", Bytes(), Slices{kIdr}, 0,
                   Bytes(kChunk + 100, 0), Slices{p(2)}, ZEP_OK, ZEP_ERR_END_OF_STREAM, 2}),
    case_name<testing::TestParamInfo<StreamCase>>);

TEST(H264Module, StartCodeAtTheVeryEndOfAChunkIsReadOnce) {
  // 3-byte start codes; the one before the second P slice ends the chunk.
  const Bytes sps = zeptest::make_sps(kSps), pps = zeptest::make_pps();
  const size_t head = 3 + sps.size() + 3 + pps.size() + 3 + slice(sized(kIdr, 0)).size();
  const Bytes idr = slice(sized(kIdr, kChunk - 3 - head));
  zeptest::ByteWriter w;
  w.be24(1).bytes(sps).be24(1).bytes(pps).be24(1).bytes(idr);
  ASSERT_EQ(w.size(), kChunk - 3);
  w.be24(1).bytes(slice(p(2))).be24(1).bytes(slice(p(4, 2)));
  expect_units(w.data(), {idr, slice(p(2)), slice(p(4, 2))}, ZEP_OK, ZEP_ERR_END_OF_STREAM);
}

TEST(H264Module, TitleNeedsParameterSetsThatParse) {
  std::vector<Bytes> no_sps(5, zeptest::make_nal(0, 6, {0x05, 0x01, 0xAA, 0x80}));
  no_sps.push_back(zeptest::make_sps(kSps));
  const struct {
    const char* what;
    Bytes stream;
    std::vector<Bytes> slices;
    ZEP_STATUS title, end;
  } cases[] = {
      {"no PPS: SetTitle says so, but the stream can be read",
       annexb({zeptest::make_sps(kSps), slice(kIdr)}),
       {slice(kIdr)},
       ZEP_E_NULL_ARG,
       ZEP_ERR_END_OF_STREAM},
      {"no SPS among the first five units: the title stays unset",
       annexb(no_sps),
       {},
       ZEP_E_NULL_ARG,
       ZEP_WARN_NONFATAL},
      {"an SPS with scaling lists",
       zeptest::h264_stream({.profile_idc = 100, .scaling_matrix_present = true}, {}),
       {},
       ZEP_ERR_UNSUPPORTED_SPS_DATA,
       ZEP_WARN_NONFATAL},
      {"an empty file", {}, {}, ZEP_E_NULL_ARG, ZEP_WARN_NONFATAL},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    expect_units(c.stream, c.slices, c.title, c.end);
  }
}

TEST(H264Module, SlicesDelimitersAndSeiFormAccessUnits) {
  const Bytes aud = zeptest::make_nal(0, 9, {0xF0});
  const Bytes sei = zeptest::make_nal(0, 6, {0x05, 0x01, 0xAA, 0x80});
  auto second = [](SliceOptions& s) { s.first_mb = 8; };
  Opened s(annexb({aud, zeptest::make_sps(kSps), zeptest::make_pps(), sei, slice(kIdr),
                   slice(with(kIdr, second)), aud, sei, slice(p(2)), slice(with(p(2), second)),
                   zeptest::make_nal(0, 10, {})}));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  const std::vector<AccessUnit> units = s.file.read_all(nullptr);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(unit_types(units[0].data), (std::vector<int>{7, 8, 6, 5, 5}));
  EXPECT_EQ(unit_types(units[1].data), (std::vector<int>{6, 1, 1}));
}

TEST(H264Module, AccessUnitLargerThanTheFirstBufferGrowsIt) {
  const Bytes s1 = slice(sized(kIdr, 300000));
  const Bytes s2 = slice(with(sized(kIdr, 300000), [](SliceOptions& s) { s.first_mb = 8; }));
  Opened s(annexb({zeptest::make_sps(kSps), zeptest::make_pps(), s1, s2}));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  s.file.ops().SetTitleActiveStream(s.file.handle(), ZEP_BLOCK_VIDEO, 0, 1);
  ZepBlock block;
  zep_heap_block_init(&block);
  block.data = static_cast<uint8_t*>(std::malloc(16));
  block.capacity = 16;
  uint32_t type = 0, stream = 0;
  ASSERT_EQ(s.file.ops().ReadNextBlock(s.file.handle(), &type, &stream, &block, 0), ZEP_OK);
  EXPECT_EQ(type, ZEP_BLOCK_VIDEO);
  EXPECT_EQ(stream, 0u);
  ASSERT_GE(block.capacity, block.size);
  const std::vector<Bytes> units = split_units(Bytes(block.data, block.data + block.size));
  ASSERT_EQ(units.size(), 4u);
  EXPECT_EQ(units[2], s1);  // bytes written before a growth survive it
  EXPECT_EQ(units[3], s2);
  zep_heap_block_free(&block);
}

// A block whose owner cannot grow it: the read fails and leaves the stream
// where the access unit began, so a read with room delivers it whole.
TEST(H264Module, TooSmallBufferWithoutCallbackLeavesTheStreamInPlace) {
  const SpsOptions timed{.vui = true, .timing = true};
  const SliceOptions big = sized(p(2), 5000);
  Opened s(zeptest::h264_stream(timed, {kIdr, big, p(4, 2)}));
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
  EXPECT_EQ(split_units(Bytes(block.data, block.data + block.size))[0], make_slice(timed, big));
  EXPECT_EQ(block.time, 400000);  // the failed reads did not advance the order
  ASSERT_EQ(read(), ZEP_OK);
  EXPECT_EQ(block.time, 800000);
}

TEST(H264Module, OperationsOutsideTheOneStream) {
  Opened s(zeptest::h264_stream(kSps, {kIdr, p(2)}));
  const ZepModuleOps& ops = s.file.ops();
  const ZepModuleHandle h = s.file.handle();
  ZepBlock block;
  zep_heap_block_init(&block);
  uint32_t type = 9, stream = 9;
  EXPECT_EQ(ops.ReadNextBlock(h, &type, &stream, &block, 0), ZEP_WARN_NONFATAL);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(stream, UINT32_MAX);
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  EXPECT_EQ(ops.ReadNextBlock(h, &type, &stream, &block, 0), ZEP_WARN_NONFATAL);  // not active
  EXPECT_EQ(ops.SetTitleActiveStream(h, ZEP_BLOCK_AUDIO, 0, 1), ZEP_FAIL);
  EXPECT_EQ(ops.SetTitleActiveStream(h, ZEP_BLOCK_VIDEO, 1, 1), ZEP_FAIL);
  EXPECT_EQ(ops.SetTitleActiveStream(h, ZEP_BLOCK_VIDEO, 0, 1), ZEP_OK);
  EXPECT_EQ(ops.ReadNextBlock(h, &type, &stream, &block, 0), ZEP_OK);
  int64_t time = 5;  // no index: only the start can be reached
  EXPECT_EQ(ops.SetPosition(h, 2, 0, &time), ZEP_FAIL);
  time = 0;
  EXPECT_EQ(ops.SetPosition(h, 2, 0, &time), ZEP_OK);
  EXPECT_EQ(ops.SetPosition(h, 2, 0, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.ReadNextBlock(nullptr, &type, &stream, &block, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.ReadNextBlock(h, nullptr, &stream, &block, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.SetTitle(nullptr, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.SetTitle(h, 1), ZEP_FAIL);
  EXPECT_EQ(ops.CloseContainer(nullptr), ZEP_E_NULL_ARG);
  zep_heap_block_free(&block);
  EXPECT_EQ(H264File(s.dir.path() + "/missing.h264").open_status(), ZEP_ERR_FILE_OPEN_FAILURE);
}

TEST(H264Module, QueryAnswers) {
  const Bytes stream = zeptest::h264_stream(kSps, {kIdr});
  Opened s(stream);
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  const uint64_t avcc_size = s.file.query_bytes(ZEP_QID_SPS_SIZE, ZEP_QID_SPS_DATA).size() +
                             s.file.query_bytes(ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA).size() + 11;
  Bytes title(24, 0);
  title[12] = 1;  // one stream
  // A value of `bits` bits (value type 0: not checked), or a record written
  // into `capacity` bytes.
  const struct {
    uint32_t qid, index;
    ZEP_STATUS status;
    uint64_t value;
    uint32_t value_type, capacity;
    Bytes record;
    uint32_t bits = 64;
  } cases[] = {
      {ZEP_QID_NUM_CONTAINER_TITLE, 0, ZEP_OK, 1, 3},
      {ZEP_QID_NUM_TITLE_STREAMS, 0, ZEP_OK, 1, 0, 0, {}, 16},
      {ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA, 0, ZEP_OK, 1, 0, 0, {}, 16},
      {ZEP_QID_CONTAINER_TITLE_ID, 0, ZEP_OK, 0},
      {ZEP_QID_GET_FILE_SIZE, 0, ZEP_OK, stream.size(), 8},
      {ZEP_QID_FILE_POSITION, 0, ZEP_OK, 0},
      {ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, 0, ZEP_OK, avcc_size, 0, 0, {}, 32},
      {ZEP_QID_NUM_CONTAINER_TITLE, 1, ZEP_ERR_INVALID_STREAM},
      {ZEP_QID_GET_CONTAINER_TYPE, 0, ZEP_ERR_INVALID_QUERY_ID},
      {ZEP_QID_GET_CONTAINER_PROP, 0, ZEP_OK, 0, 11, 12, {0x10, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
      {ZEP_QID_GET_TITLE_PROP, 0, ZEP_OK, 0, 11, 24, title},
      {ZEP_QID_GET_TITLE_MEDIA_PROP, 0, ZEP_OK, 0, 11, 8, {0, 0, 1, 0, 0, 0, 0, 0}},
      {ZEP_QID_GET_VIDEO_MEDIA_PROP, 0, ZEP_OK, 0, 11, 8, {0x10, 0, 0, 0, 2, 0, 0, 0}},
      {ZEP_QID_GET_CONTAINER_PROP, 0, ZEP_ERR_BUFFER_TOO_SMALL, 0, 0, 11},
      {ZEP_QID_VID_STREAM_FORMAT, 0, ZEP_ERR_BUFFER_TOO_SMALL, 0, 0, 55},
      {ZEP_QID_SPS_DATA, 0, ZEP_ERR_BUFFER_TOO_SMALL, 0, 0, 2},
  };
  for (const auto& c : cases) {
    Bytes out(64, 0);
    ZepQueryData q{};
    q.size = c.capacity;
    q.value.u64 = 0xDEADBEEFDEADBEEFull;  // bits a value leaves alone
    if (c.capacity) q.value.ptr = out.data();
    ASSERT_EQ(s.file.ops().GetInfo(s.file.handle(), c.qid, &q, c.index), c.status) << c.qid;
    if (c.status != ZEP_OK) continue;
    EXPECT_EQ(c.value_type ? q.valueType : 0u, c.value_type) << c.qid;
    if (c.capacity == 0) {
      EXPECT_EQ(q.value.u64 & (~0ull >> (64 - c.bits)), c.value) << c.qid;
    } else {
      EXPECT_EQ(Bytes(out.begin(), out.begin() + q.size), c.record) << c.qid;
    }
  }
  ZepQueryData no_buffer{};
  no_buffer.size = 100;
  EXPECT_EQ(s.file.ops().GetInfo(s.file.handle(), ZEP_QID_VIDEO_CODEC_PRIVATE_DATA, &no_buffer, 0),
            ZEP_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(s.file.ops().GetInfo(s.file.handle(), ZEP_QID_SPS_SIZE, nullptr, 0), ZEP_E_NULL_ARG);
}

// A 16-bit length in the avcC record cannot describe a parameter set of
// 65536 bytes or more: the record is refused rather than written wrong.
TEST(H264Module, ParameterSetTooLongForTheConfigurationRecord) {
  Bytes pps = zeptest::make_pps();
  pps.resize(70000, 0x55);
  Opened s(annexb({zeptest::make_sps(kSps), pps, slice(kIdr)}));
  ASSERT_EQ(s.file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  s.file.query_bytes(ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, ZEP_QID_VIDEO_CODEC_PRIVATE_DATA,
                     &status);
  EXPECT_EQ(status, ZEP_FAIL);
  EXPECT_EQ(s.file.query_bytes(ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA), pps);
}

TEST(H264AnnexB, BlocksAndConfigurationRecordToStartCodes) {
  const Bytes sps = {0x67, 0x42, 0xC0, 0x1E, 0xAB}, pps = {0x68, 0xCE, 0x3C, 0x80};
  zeptest::ByteWriter avcc;
  avcc.u8(1).u8(0x42).u8(0xC0).u8(0x1E).u8(0xFF).u8(0xE1).be16(5).bytes(sps);
  const Bytes record = avcc.u8(1).be16(4).bytes(pps).take();
  zeptest::ByteWriter block;
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

TEST(H264ContainerLayer, RawStreamOpensThroughLayerOne) {
  ASSERT_EQ(L1Start(), ZEP_OK);
  zeptest::TempDir dir;
  const std::string path =
      dir.write("layer.H264", zeptest::h264_stream({.vui = true, .timing = true}, {kIdr, p(2)}));
  ZepContainer* container = nullptr;
  ASSERT_EQ(L1OpenContainer(&container, zep::utf8_to_u16(path).c_str(), nullptr), ZEP_OK);
  ASSERT_EQ(L1SetTitle(container, 0), ZEP_OK);
  ASSERT_EQ(L1SetTitleActiveStream(container, ZEP_BLOCK_VIDEO, 0, 1), ZEP_OK);
  ZepVideoStreamFormat format{};
  ZepQueryData q{};
  q.size = sizeof(format);
  q.value.ptr = &format;
  ASSERT_EQ(L1GetInfo(container, ZEP_QID_VID_STREAM_FORMAT, &q, 0), ZEP_OK);
  EXPECT_EQ(format.rate, 25u);
  EXPECT_EQ(format.scale, 1u);
  ZepBlock block;
  zep_heap_block_init(&block);
  std::vector<int64_t> times;
  uint32_t type = 0, stream = 0;
  ZEP_STATUS status = ZEP_OK;
  while ((status = L1ReadNextBlock(container, &type, &stream, &block, 0)) == ZEP_OK) {
    times.push_back(block.time);
  }
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
  EXPECT_EQ(times, (std::vector<int64_t>{0, 400000}));
  zep_heap_block_free(&block);
  EXPECT_EQ(L1CloseContainer(container), ZEP_OK);
}

}  // namespace
