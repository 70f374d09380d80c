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

// A stream in a scratch file, opened by the module.
struct Opened {
  explicit Opened(const Bytes& stream, bool title = true) : file(dir.write("s.h264", stream)) {
    if (title) {
      EXPECT_EQ(file.set_title(), ZEP_OK);
    }
  }
  TempDir dir;
  H264File file;
};

// The extension decides, in any case, with trailing spaces dropped.
TEST(H264Module, ProbeByName) {
  const ZepModuleOps& ops = H264File::ops();
  EXPECT_EQ(ops.InitModule(nullptr), ZEP_OK);
  const std::pair<const char16_t*, uint32_t> cases[] = {
      {u"CLIP.H264", 100}, {u"a.264", 100}, {u"dir.x/c.avc  ", 100}, {u"h264", 0}, {u".h264", 0}};
  uint32_t score = 7;
  for (const auto& [name, expected] : cases)
    EXPECT_EQ(ops.ProbeContainer(&score, name, nullptr) | score, expected)
        << zep::u16_to_utf8(name);
  score = 7;
  EXPECT_EQ(ops.ProbeContainer(&score, nullptr, nullptr) - score, ZEP_FAIL);
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
// Times of pictures `step` POC units apart at 25 frames a second.
std::vector<int64_t> halves(std::initializer_list<int64_t> steps) {
  std::vector<int64_t> times;
  for (int64_t step : steps) times.push_back(step * 200000);
  return times;
}

std::vector<TimingCase> timing_cases() {
  SpsOptions wrap = kTimed, type2 = kTimed, type1 = kTimed, fields = kTimed;
  wrap.log2_max_poc_lsb_minus4 = type2.log2_max_frame_num_minus4 = 0;  // both wrap at 16
  Slices wrapping = {kIdr}, by_frame_num = {kIdr}, bottom_first;
  for (uint32_t k = 1; k <= 12; ++k) wrapping.push_back(p((2 * k) % 16, k % 16));
  type2.poc_type = 2;
  for (uint32_t k = 1; k <= 20; ++k) by_frame_num.push_back(p(0, k % 16));
  by_frame_num.push_back(kIdr);
  type1.poc_type = 1;
  type1.delta_pic_order_always_zero = true;
  type1.offset_for_ref_frame = {4};  // a reference frame every 2 frames
  type1.offset_for_non_ref_pic = -2;
  fields.frame_mbs_only = false;
  SpsOptions earlier = fields;  // bottom field first: each frame counts from its earlier field
  earlier.mbaff = true;
  for (uint32_t k = 0; k < 4; ++k)
    bottom_first.push_back(with(k ? p(2 * k + 1, k) : idr_slice(1), [](SliceOptions& s) {
      s.with_bottom_delta = true;
      s.delta_pic_order_cnt_bottom = -1;
    }));
  auto field = [](SliceOptions& s) { s.field_pic = true; };
  auto bottom_field = [](SliceOptions& s) { s.field_pic = s.bottom_field = true; };
  std::vector<int64_t> frames;
  for (int64_t k = 0; k < 22; ++k) frames.push_back(k * 400000);
  using T = TimingCase;
  return {
      T{"NoTimingPlaysAtThirtyFramesASecond", kSps, Slices{kIdr, p(2), p(4, 2)},
        std::vector<int64_t>{0, 333333, 666666}, 333333, 30000, 1000},
      T{"PocLsbWrapKeepsTimeIncreasing", wrap, wrapping, frames, 400000, 25, 1},
      T{"FrameCountsFromItsEarlierField", earlier, bottom_first, frames, 400000, 25, 1, true},
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

TEST(H264Module, BlockTimesDurationsKeysAndRate) {
  for (const TimingCase& c : timing_cases()) {
    SCOPED_TRACE(c.name);
    Opened s(h264_stream(c.sps, c.slices, c.bottom_field_pic_order));
    ZEP_STATUS status = ZEP_OK;
    const std::vector<AccessUnit> units = s.file.read_all(&status);
    EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
    ASSERT_EQ(units.size(), c.slices.size());
    for (size_t i = 0; i < units.size(); ++i)
      EXPECT_EQ(std::tuple(units[i].time, units[i].duration, units[i].flags),
                std::tuple(c.times[i], c.duration,
                           c.slices[i].nal_unit_type == 5 ? ZEP_BLOCK_FLAG_KEYFRAME : 0u))
          << i;
    ZepVideoStreamFormat f;
    ASSERT_EQ(s.file.format(&f), ZEP_OK);
    // Two fields of 4 map units are 128 rows.
    EXPECT_EQ(std::tuple(f.rate, f.scale, f.width, f.height, f.interlaced, f.kind & 0xFF),
              std::tuple(c.rate, c.scale, 64u, c.sps.frame_mbs_only ? 64u : 128u,
                         c.sps.frame_mbs_only ? 0u : 1u, 1u));
    EXPECT_EQ(std::memcmp(&f.fourcc, "H264", 4) | std::memcmp(&f.compression, "H264", 4), 0);
  }
}

// Picture and display size from the SPS.
struct FormatCase {
  const char* name;
  SpsOptions sps;
  ZEP_STATUS status;
  uint32_t width, height, display_width, display_height;
};
SpsOptions sar(uint32_t idc, uint32_t w = 0, uint32_t h = 0) {
  SpsOptions o{.vui = true, .aspect_ratio_info = true, .aspect_ratio_idc = idc};
  o.sar_width = w, o.sar_height = h;
  return o;
}
// Crops of 1 left, 2 right and 2 bottom, in the chroma format's units.
SpsOptions crop(uint8_t profile, uint32_t chroma, uint32_t right = 2) {
  SpsOptions o{.profile_idc = profile, .chroma_format_idc = chroma, .cropping = true};
  o.crop_left = 1, o.crop_right = right, o.crop_bottom = 2;
  return o;
}
TEST(H264Module, PictureAndDisplaySize) {
  const FormatCase cases[] = {{"NoAspectRatio", {}, ZEP_OK, 64, 64, 0, 0},
                              {"ExtendedSar4To3", sar(255, 4, 3), ZEP_OK, 64, 64, 85, 64},
                              {"ExtendedSarWithAZeroTerm", sar(255, 3, 0), ZEP_OK, 64, 64, 64, 64},
                              {"UnspecifiedSar", sar(0), ZEP_OK, 64, 64, 64, 64},
                              {"SarIdc17Invalid", sar(17), ZEP_ERR_AR_IDC_INVALID},
                              {"Crop422RowsNotHalved", crop(122, 2), ZEP_OK, 64 - 2 * 3, 64 - 2},
                              {"Crop444", crop(244, 3), ZEP_OK, 64 - 3, 64 - 2},
                              {"CropMonochrome", crop(100, 0), ZEP_OK, 64 - 3, 64 - 2},
                              {"CropBeyondThePicture", crop(66, 1, 1000), ZEP_OK, 0, 64 - 2 * 2}};
  for (const FormatCase& c : cases) {
    Opened s(h264_stream(c.sps, {kIdr}));
    ZepVideoStreamFormat f;
    ASSERT_EQ(s.file.format(&f), c.status) << c.name;
    if (c.status != ZEP_OK) continue;
    EXPECT_EQ(std::tuple(f.width, f.height, f.displayWidth, f.displayHeight),
              std::tuple(c.width, c.height, c.display_width, c.display_height))
        << c.name;
  }
}

// Reads to the end; each access unit ends with the next slice, and two reads
// behind the end answer the status that ended the reading. With a title the
// first block leads with the SPS and PPS, which the queries answer too; no title 1.
void expect_units(const Bytes& stream, std::vector<Bytes> slices, ZEP_STATUS title,
                  ZEP_STATUS end) {
  Opened s(stream, false);
  H264File& file = s.file;
  ASSERT_EQ(file.open_status(), ZEP_OK);
  EXPECT_EQ(file.set_title(1), ZEP_FAIL);
  ASSERT_EQ(file.set_title(), title);
  const Bytes sps = make_sps(kSps), pps = make_pps();
  if (title == ZEP_OK) {
    EXPECT_EQ(file.query_bytes(ZEP_QID_SPS_SIZE, ZEP_QID_SPS_DATA), sps);
    EXPECT_EQ(file.query_bytes(ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA), pps);
  }
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status);
  EXPECT_EQ(status, end);
  ASSERT_EQ(units.size(), slices.size());
  for (size_t i = 0; i < units.size(); ++i) {
    std::vector<Bytes> nals = split_units(units[i].data);
    ASSERT_FALSE(nals.empty()) << i;
    if (i == 0 && title != ZEP_OK) nals.erase(nals.begin(), nals.end() - 1);  // only the slice
    EXPECT_EQ(nals, (i || title ? std::vector<Bytes>{slices[i]}
                                : std::vector<Bytes>{sps, pps, slices[0]}))
        << i;
    EXPECT_EQ(units[i].flags, (nals.back()[0] & 0x1F) == 5 ? ZEP_BLOCK_FLAG_KEYFRAME : 0) << i;
  }
  ZepBlock block;
  zep_heap_block_init(&block);
  uint32_t type = 0, index = 0;
  for (int again = 0; again < 2; ++again)
    EXPECT_EQ(file.ops().ReadNextBlock(file.handle(), &type, &index, &block, 0), status);
  zep_heap_block_free(&block);
}

// `prefix`, SPS, PPS, `slices` less `cut` bytes, `suffix`, `tail`: `units` access units. Zeros
// end a P slice (77 is no start code); a zero run longer than a chunk is trailing_zero_8bits.
TEST(H264Module, AccessUnitsAndTheEndOfTheReading) {
  const struct {
    Slices slices;
    ZEP_STATUS end;
    size_t units;
    Bytes suffix = {};
    Slices tail = {};
    size_t cut = 0;
    Bytes prefix = {};
    ZEP_STATUS title = ZEP_OK;
  } cases[] = {
      {{kIdr}, ZEP_WARN_NONFATAL, 0, {}, {}, 0, {0x12, 0x34, 0x56}, ZEP_FAIL},  // garbage first
      {{kIdr, p(2)}, ZEP_FAIL, 2, {0, 0, 0, 0x77}, {p(4, 2)}},
      {{kIdr, sized(p(2), 100)}, ZEP_ERR_END_OF_STREAM, 2, {}, {}, 60},  // the cut unit comes
      {{kIdr, p(2)}, ZEP_ERR_END_OF_STREAM, 2, Bytes(7, 0)},
      {{kIdr, sized(p(2), 6000000), sized(p(4, 2), 6000000)}, ZEP_ERR_END_OF_STREAM, 3},
      {{kIdr, sized(p(2), kChunk), p(4, 2)}, ZEP_ERR_BUFFER_TOO_SMALL, 1},
      {{kIdr}, ZEP_ERR_END_OF_STREAM, 2, Bytes(kChunk + 100, 0), {p(2)}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(&c - cases);
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
}

// 3-byte start codes, one ending the chunk; parameter sets missing or unparsed (no PPS: SetTitle
// fails but the stream reads; no SPS in the first five units; scaling lists; an empty file).
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
  const SpsOptions scaling{.profile_idc = 100, .scaling_matrix_present = true};
  const std::tuple<Bytes, std::vector<Bytes>, ZEP_STATUS, ZEP_STATUS> cases[] = {
      {annexb({sps, slice(kIdr)}), {slice(kIdr)}, ZEP_E_NULL_ARG, ZEP_ERR_END_OF_STREAM},
      {annexb(no_sps), {}, ZEP_E_NULL_ARG, ZEP_WARN_NONFATAL},
      {h264_stream(scaling, {}), {}, ZEP_ERR_UNSUPPORTED_SPS_DATA, ZEP_WARN_NONFATAL},
      {{}, {}, ZEP_E_NULL_ARG, ZEP_WARN_NONFATAL}};
  for (const auto& c : cases) std::apply(expect_units, c);
}

// A block that cannot grow: the read fails and stays where the unit began, a roomy read gets it.
TEST(H264Module, TooSmallBufferWithoutCallbackLeavesTheStreamInPlace) {
  const SliceOptions big = sized(p(2), 5000);
  Opened s(h264_stream(kTimed, {kIdr, big, p(4, 2)}));
  Bytes buffer(6000);
  ZepBlock block{};
  auto read = [&](uint32_t capacity) {  // the status and the file position after it
    block.data = buffer.data(), block.capacity = capacity;
    ZepQueryData q{};
    const ZEP_STATUS status =
        s.file.ops().ReadNextBlockByStream(s.file.handle(), ZEP_BLOCK_VIDEO, 0, &block);
    s.file.ops().GetInfo(s.file.handle(), ZEP_QID_FILE_POSITION, &q, 0);
    return std::pair(status, q.value.u64);
  };
  const uint64_t at = read(200).second;
  EXPECT_EQ(read(200), std::pair(ZEP_ERR_BLOCK_BUFFER_TOO_SMALL, at));
  EXPECT_EQ(read(200), std::pair(ZEP_ERR_BLOCK_BUFFER_TOO_SMALL, at));
  ASSERT_EQ(read(6000).first, ZEP_OK);
  EXPECT_EQ(block.time, 400000);  // the failed reads did not advance the order
  EXPECT_EQ(split_units(Bytes(block.data, block.data + block.size))[0], make_slice(kTimed, big));
  ASSERT_EQ(read(6000).first, ZEP_OK);
  EXPECT_EQ(block.time, 800000);
}

// Reads before title or activation, other streams, seeks (only the start), null args, no file.
TEST(H264Module, OperationsOutsideTheOneStream) {
  Opened s(h264_stream(kSps, {kIdr, p(2)}), false);
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
  int64_t time = 5, start = 0;
  EXPECT_EQ(ops.SetPosition(h, 2, 0, &time), ZEP_FAIL);
  EXPECT_EQ(ops.SetPosition(h, 2, 0, &start), ZEP_OK);
  EXPECT_EQ(ops.SetPosition(h, 2, 0, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(std::vector({ops.ReadNextBlock(nullptr, &type, &stream, &block, 0),
                         ops.ReadNextBlock(h, nullptr, &stream, &block, 0),
                         ops.SetTitle(nullptr, 0), ops.CloseContainer(nullptr)}),
            std::vector(4, ZEP_E_NULL_ARG));
  zep_heap_block_free(&block);
  EXPECT_EQ(H264File(s.dir.path() + "/missing.h264").open_status(), ZEP_ERR_FILE_OPEN_FAILURE);
}

// Values at their width (over a filled union), records, refusals; a PPS of 70000 bytes does not
// fit avcC's 16-bit length: the record is refused rather than written wrong.
TEST(H264Module, QueryAnswers) {
  const Bytes stream = h264_stream(kSps, {kIdr});
  Opened s(stream);
  const uint64_t avcc_size = make_sps(kSps).size() + make_pps().size() + 11;
  Bytes title(24, 0);
  title[12] = 1;  // one stream
  const ZEP_STATUS kSmall = ZEP_ERR_BUFFER_TOO_SMALL;
  // QID, index, status, value type (0: not checked), value bits, value; or capacity and record.
  const std::tuple<uint32_t, uint32_t, ZEP_STATUS, uint32_t, uint32_t, uint64_t, Bytes> cases[] = {
      {ZEP_QID_NUM_CONTAINER_TITLE, 0, ZEP_OK, 3, 64, 1, {}},
      {ZEP_QID_NUM_TITLE_STREAMS, 0, ZEP_OK, 0, 16, 1, {}},
      {ZEP_QID_GET_FILE_SIZE, 0, ZEP_OK, 8, 64, stream.size(), {}},
      {ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, 0, ZEP_OK, 0, 32, avcc_size, {}},
      {ZEP_QID_NUM_CONTAINER_TITLE, 1, ZEP_ERR_INVALID_STREAM, 0, 64, 0, {}},
      {ZEP_QID_GET_CONTAINER_TYPE, 0, ZEP_ERR_INVALID_QUERY_ID, 0, 64, 0, {}},
      {ZEP_QID_GET_CONTAINER_PROP, 0, ZEP_OK, 11, 0, 12, {0x10, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}},
      {ZEP_QID_GET_TITLE_PROP, 0, ZEP_OK, 11, 0, 24, title},
      {ZEP_QID_GET_TITLE_MEDIA_PROP, 0, ZEP_OK, 11, 0, 8, {0, 0, 1, 0, 0, 0, 0, 0}},
      {ZEP_QID_GET_VIDEO_MEDIA_PROP, 0, ZEP_OK, 11, 0, 8, {0x10, 0, 0, 0, 2, 0, 0, 0}},
      {ZEP_QID_GET_CONTAINER_PROP, 0, kSmall, 0, 0, 11, {}},
      {ZEP_QID_VID_STREAM_FORMAT, 0, kSmall, 0, 0, 55, {}},
      {ZEP_QID_SPS_DATA, 0, kSmall, 0, 0, 2, {}},
      {ZEP_QID_VIDEO_CODEC_PRIVATE_DATA, 0, kSmall, 0, 0, 100, {}}};  // no buffer
  for (const auto& [qid, index, status, value_type, bits, value, record] : cases) {
    Bytes out(64, 0);
    ZepQueryData q{};
    q.value.u64 = 0xDEADBEEFDEADBEEFull;
    if (!bits)
      q.size = uint32_t(value),
      q.value.ptr = qid == ZEP_QID_VIDEO_CODEC_PRIVATE_DATA ? nullptr : out.data();
    ASSERT_EQ(s.file.ops().GetInfo(s.file.handle(), qid, &q, index), status) << qid;
    if (status != ZEP_OK) continue;
    EXPECT_EQ(value_type ? q.valueType : 0u, value_type) << qid;
    EXPECT_EQ(bits ? q.value.u64 & (~0ull >> (64 - bits)) : 0, bits ? value : 0) << qid;
    EXPECT_EQ(bits ? record : Bytes(out.begin(), out.begin() + q.size), record) << qid;
  }
  EXPECT_EQ(s.file.ops().GetInfo(s.file.handle(), ZEP_QID_SPS_SIZE, nullptr, 0), ZEP_E_NULL_ARG);
  Bytes pps = make_pps();
  pps.resize(70000, 0x55);
  Opened big(annexb({make_sps(kSps), pps, slice(kIdr)}));
  ZEP_STATUS status = ZEP_OK;
  big.file.query_bytes(ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, ZEP_QID_VIDEO_CODEC_PRIVATE_DATA,
                       &status);
  EXPECT_EQ(status, ZEP_FAIL);
  EXPECT_EQ(big.file.query_bytes(ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA), pps);
}

// avcC and length-prefixed blocks to start codes (the real streams check the
// bytes): the size asked first, cut input and a length size of 5 refused.
TEST(H264AnnexB, BlocksAndConfigurationRecordToStartCodes) {
  ByteWriter avcc, block;
  avcc.u8(1).u8(0x42).u8(0xC0).u8(0x1E).u8(0xFF).u8(0xE1).be16(5).bytes(Bytes{0x67, 1, 2, 3, 4});
  const Bytes record = avcc.u8(1).be16(4).bytes(Bytes{0x68, 0xCE, 0x3C, 0x80}).take();
  const Bytes b = block.be32(3).bytes(Bytes{0x65, 1, 2}).be32(2).bytes(Bytes{0x41, 9}).take();
  const uint32_t record_size = uint32_t(record.size()), block_size = uint32_t(b.size());
  uint32_t size = 0;
  Bytes out(64);
  EXPECT_EQ(zep_h264_avcc_to_annexb(record.data(), record_size, nullptr, 0, &size) - size,
            ZEP_ERR_BUFFER_TOO_SMALL - 17);
  EXPECT_EQ(zep_h264_avcc_to_annexb(record.data(), record_size - 1, out.data(), 64, &size),
            ZEP_FAIL);
  EXPECT_EQ(zep_h264_block_to_annexb(b.data(), block_size, 4, nullptr, 0, &size) - size,
            ZEP_ERR_BUFFER_TOO_SMALL - 13);
  EXPECT_EQ(zep_h264_block_to_annexb(b.data(), block_size - 1, 4, out.data(), 64, &size), ZEP_FAIL);
  EXPECT_EQ(zep_h264_block_to_annexb(b.data(), block_size, 5, out.data(), 64, &size), ZEP_FAIL);
}

}  // namespace
