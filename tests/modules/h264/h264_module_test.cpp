// The raw H.264 read module on crafted streams: probing, parameter sets,
// access-unit grouping, time stamps, queries and damaged input.
#include <gtest/gtest.h>

#include <cstring>

#include "modules/h264/h264_annexb.h"
#include "modules/h264/h264_module.h"
#include "tests/modules/h264/h264_stream_fixture.h"
#include "tests/support/nal_builder.h"

namespace {

using h264test::AccessUnit;
using h264test::H264File;
using h264test::unit_types;
using zeptest::Bytes;
using zeptest::SliceOptions;
using zeptest::SpsOptions;
using zeptest::TempDir;

SliceOptions idr(uint32_t poc_lsb = 0) {
  SliceOptions s;
  s.nal_unit_type = 5;
  s.poc_lsb = poc_lsb;
  return s;
}

SliceOptions non_idr(uint32_t poc_lsb, uint32_t frame_num = 1, uint8_t ref = 2) {
  SliceOptions s;
  s.nal_unit_type = 1;
  s.nal_ref_idc = ref;
  s.slice_type = 5;
  s.poc_lsb = poc_lsb;
  s.frame_num = frame_num;
  return s;
}

SpsOptions timed_sps() {
  SpsOptions o;
  o.vui = true;
  o.timing = true;
  o.num_units_in_tick = 1;
  o.time_scale = 50;  // 25 frames a second: one POC step is 200,000 units
  return o;
}

// SPS, PPS and one frame per given slice.
Bytes stream_of(const SpsOptions& sps, const std::vector<SliceOptions>& slices) {
  std::vector<Bytes> nals = {zeptest::make_sps(sps), zeptest::make_pps()};
  for (const SliceOptions& s : slices) nals.push_back(zeptest::make_slice(sps, s));
  return zeptest::annexb(nals);
}

std::vector<int64_t> times_of(const std::vector<AccessUnit>& units) {
  std::vector<int64_t> times;
  for (const AccessUnit& u : units) times.push_back(u.time);
  return times;
}

TEST(H264Module, InformationAndProbe) {
  const ZepModuleInfo* info = zepH264Module.ops->GetModuleInfo();
  EXPECT_EQ(zepH264Module.id, 15u);
  EXPECT_EQ(info->canRead, 1u);
  EXPECT_EQ(info->canWrite, 0u);
  EXPECT_EQ(info->flag6, 1u);
  EXPECT_EQ(zep_wcscmp(info->extensions, u".h264, .264, .avc"), 0);
  EXPECT_EQ(zep_wcscmp(info->description, u"AVC read module."), 0);
  EXPECT_EQ(zepH264Module.ops->InitModule(nullptr), ZEP_OK);

  struct Case {
    const char16_t* name;
    uint32_t score;
  } cases[] = {{u"clip.h264", 100},     {u"CLIP.H264", 100}, {u"a.264", 100}, {u"b.AvC", 100},
               {u"dir.x/c.avc  ", 100}, {u"clip.mp4", 0},    {u"h264", 0},    {u".h264", 0},
               {u"clip.h264.mp4", 0},   {u"clip.h26", 0}};
  for (const Case& c : cases) {
    uint32_t score = 7;
    EXPECT_EQ(zepH264Module.ops->ProbeContainer(&score, c.name, nullptr), ZEP_OK);
    EXPECT_EQ(score, c.score) << zep::u16_to_utf8(c.name);
  }
  uint32_t score = 7;
  EXPECT_EQ(zepH264Module.ops->ProbeContainer(&score, nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(score, 0u);
  EXPECT_EQ(zepH264Module.ops->ProbeContainer(nullptr, u"a.h264", nullptr), ZEP_FAIL);
}

TEST(H264Module, FirstBlockCarriesParameterSetsAndKeyPicture) {
  TempDir dir;
  const SpsOptions sps;
  const Bytes sps_nal = zeptest::make_sps(sps);
  const Bytes pps_nal = zeptest::make_pps();
  const Bytes idr_nal = zeptest::make_slice(sps, idr());
  const Bytes p_nal = zeptest::make_slice(sps, non_idr(2));
  H264File file(dir.write("s.h264", zeptest::annexb({sps_nal, pps_nal, idr_nal, p_nal})));
  ASSERT_EQ(file.open_status(), ZEP_OK);
  ASSERT_EQ(file.set_title(), ZEP_OK);
  EXPECT_EQ(file.query_bytes(ZEP_QID_SPS_SIZE, ZEP_QID_SPS_DATA), sps_nal);
  EXPECT_EQ(file.query_bytes(ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA), pps_nal);

  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(unit_types(units[0].data), (std::vector<int>{7, 8, 5}));
  EXPECT_EQ(h264test::split_units(units[0].data)[2], idr_nal);
  EXPECT_EQ(units[0].time, 0);
  EXPECT_EQ(units[0].flags, ZEP_BLOCK_FLAG_KEYFRAME);
  EXPECT_EQ(unit_types(units[1].data), (std::vector<int>{1}));
  EXPECT_EQ(units[1].flags, 0u);

  // The avcC record around the two parameter sets.
  const Bytes avcc =
      file.query_bytes(ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, ZEP_QID_VIDEO_CODEC_PRIVATE_DATA);
  zeptest::ByteWriter expected;
  expected.u8(1).u8(sps_nal[1]).u8(sps_nal[2]).u8(sps_nal[3]).u8(0xFF).u8(0xE1);
  expected.be16(uint16_t(sps_nal.size())).bytes(sps_nal);
  expected.u8(1).be16(uint16_t(pps_nal.size())).bytes(pps_nal);
  EXPECT_EQ(avcc, expected.data());
}

TEST(H264Module, StreamWithoutTimingPlaysAtThirtyFramesASecond) {
  TempDir dir;
  const SpsOptions sps;  // no VUI
  H264File file(dir.write("s.264", stream_of(sps, {idr(), non_idr(2), non_idr(4, 2)})));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status);
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(times_of(units), (std::vector<int64_t>{0, 333333, 666666}));
  for (const AccessUnit& u : units) EXPECT_EQ(u.duration, 333333);

  ZepVideoStreamFormat format;
  ASSERT_EQ(file.format(&format), ZEP_OK);
  EXPECT_EQ(format.rate, 30000u);
  EXPECT_EQ(format.scale, 1000u);
  EXPECT_EQ(format.width, 64u);
  EXPECT_EQ(format.height, 64u);
  EXPECT_EQ(format.displayWidth, 0u);  // no aspect ratio information
  EXPECT_EQ(std::memcmp(&format.fourcc, "H264", 4), 0);
  EXPECT_EQ(std::memcmp(&format.compression, "H264", 4), 0);
  EXPECT_EQ(format.kind & 0xFF, 1u);
  EXPECT_EQ(format.interlaced, 0u);
}

TEST(H264Module, TimesFollowPictureOrderWithBFrames) {
  TempDir dir;
  // Decode order I0 P6 B2 B4 P12 B8 B10; display order by POC.
  const SpsOptions sps = timed_sps();
  H264File file(
      dir.write("b.h264", stream_of(sps, {idr(0), non_idr(6, 1), non_idr(2, 2, 0), non_idr(4, 2, 0),
                                          non_idr(12, 2), non_idr(8, 3, 0), non_idr(10, 3, 0)})));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  const std::vector<AccessUnit> units = file.read_all(nullptr);
  const int64_t step = 200000;
  EXPECT_EQ(times_of(units), (std::vector<int64_t>{0, 6 * step, 2 * step, 4 * step, 12 * step,
                                                   8 * step, 10 * step}));
  EXPECT_EQ(units[1].duration, 400000);
}

TEST(H264Module, PocLsbWrapKeepsTimeIncreasing) {
  TempDir dir;
  SpsOptions sps = timed_sps();
  sps.log2_max_poc_lsb_minus4 = 0;  // MaxPicOrderCntLsb 16
  std::vector<SliceOptions> slices = {idr(0)};
  for (uint32_t k = 1; k <= 12; ++k) slices.push_back(non_idr((2 * k) % 16, k % 16));
  H264File file(dir.write("w.h264", stream_of(sps, slices)));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  const std::vector<AccessUnit> units = file.read_all(nullptr);
  ASSERT_EQ(units.size(), 13u);
  for (size_t k = 0; k < units.size(); ++k) EXPECT_EQ(units[k].time, int64_t(k) * 400000) << k;
}

TEST(H264Module, SecondIdrStartsBehindTheLargestOrderCount) {
  TempDir dir;
  const SpsOptions sps = timed_sps();
  H264File file(
      dir.write("i.h264", stream_of(sps, {idr(0), non_idr(2), non_idr(4, 2), non_idr(6, 3),
                                          non_idr(8, 4), non_idr(10, 5), idr(0), non_idr(2)})));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  const std::vector<AccessUnit> units = file.read_all(nullptr);
  ASSERT_EQ(units.size(), 8u);
  EXPECT_EQ(units[6].time, 12 * 200000);  // order number 0 + 10 + 2
  EXPECT_EQ(units[6].flags, ZEP_BLOCK_FLAG_KEYFRAME);
  EXPECT_EQ(units[7].time, 14 * 200000);
}

// Interlaced frames whose bottom field comes first: each frame counts from
// its earlier field, so frames stay a whole frame apart.
TEST(H264Module, FrameCountsFromItsEarlierField) {
  TempDir dir;
  SpsOptions sps = timed_sps();
  sps.frame_mbs_only = false;
  sps.mbaff = true;
  std::vector<Bytes> nals = {zeptest::make_sps(sps), zeptest::make_pps(0, 0, true)};
  for (uint32_t k = 0; k < 4; ++k) {
    SliceOptions s = k == 0 ? idr(1) : non_idr(2 * k + 1, k);
    s.with_bottom_delta = true;
    s.delta_pic_order_cnt_bottom = -1;
    nals.push_back(zeptest::make_slice(sps, s));
  }
  H264File file(dir.write("bff.h264", zeptest::annexb(nals)));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  const std::vector<AccessUnit> units = file.read_all(nullptr);
  EXPECT_EQ(times_of(units), (std::vector<int64_t>{0, 400000, 800000, 1200000}));
  EXPECT_EQ(units[1].duration, 400000);
}

TEST(H264Module, PocTypeTwoCountsFromFrameNum) {
  TempDir dir;
  SpsOptions sps = timed_sps();
  sps.poc_type = 2;
  sps.log2_max_frame_num_minus4 = 0;  // frame_num wraps at 16
  std::vector<SliceOptions> slices = {idr()};
  for (uint32_t k = 1; k <= 20; ++k) slices.push_back(non_idr(0, k % 16));
  slices.push_back(idr());
  H264File file(dir.write("t2.h264", stream_of(sps, slices)));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  const std::vector<AccessUnit> units = file.read_all(nullptr);
  ASSERT_EQ(units.size(), 22u);
  for (size_t k = 0; k < units.size(); ++k) EXPECT_EQ(units[k].time, int64_t(k) * 400000) << k;
}

TEST(H264Module, PocTypeOneUsesTheReferenceFrameCycle) {
  TempDir dir;
  SpsOptions sps = timed_sps();
  sps.poc_type = 1;
  sps.delta_pic_order_always_zero = true;
  sps.offset_for_ref_frame = {4};  // a reference frame every 2 frames
  sps.offset_for_non_ref_pic = -2;
  // I0 P4 b2 P8 b6: frame_num counts reference frames.
  H264File file(dir.write("t1.h264", stream_of(sps, {idr(), non_idr(0, 1), non_idr(0, 2, 0),
                                                     non_idr(0, 2), non_idr(0, 3, 0)})));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  const std::vector<AccessUnit> units = file.read_all(nullptr);
  EXPECT_EQ(times_of(units), (std::vector<int64_t>{0, 800000, 400000, 1600000, 1200000}));
}

TEST(H264Module, SlicesDelimitersAndSeiFormAccessUnits) {
  TempDir dir;
  const SpsOptions sps = timed_sps();
  SliceOptions second_slice = idr();
  second_slice.first_mb = 8;
  SliceOptions p_second = non_idr(2);
  p_second.first_mb = 8;
  const Bytes aud = zeptest::make_nal(0, 9, {0xF0});
  const Bytes sei = zeptest::make_nal(0, 6, {0x05, 0x01, 0xAA, 0x80});
  const Bytes eos = zeptest::make_nal(0, 10, {});
  const Bytes stream = zeptest::annexb(
      {aud, zeptest::make_sps(sps), zeptest::make_pps(), sei, zeptest::make_slice(sps, idr()),
       zeptest::make_slice(sps, second_slice), aud, sei, zeptest::make_slice(sps, non_idr(2)),
       zeptest::make_slice(sps, p_second), eos});
  H264File file(dir.write("a.h264", stream));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  const std::vector<AccessUnit> units = file.read_all(nullptr);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(unit_types(units[0].data), (std::vector<int>{7, 8, 6, 5, 5}));
  EXPECT_EQ(unit_types(units[1].data), (std::vector<int>{6, 1, 1}));
}

TEST(H264Module, FieldPicturesAreBlocksOfHalfAFrame) {
  TempDir dir;
  SpsOptions sps = timed_sps();
  sps.frame_mbs_only = false;
  sps.mbaff = false;
  SliceOptions top = idr(0);
  top.field_pic = true;
  SliceOptions bottom = non_idr(1, 0);
  bottom.field_pic = true;
  bottom.bottom_field = true;
  SliceOptions top2 = non_idr(4, 1);
  top2.field_pic = true;
  H264File file(dir.write("f.h264", stream_of(sps, {top, bottom, top2})));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  const std::vector<AccessUnit> units = file.read_all(nullptr);
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(units[0].duration, 200000);
  EXPECT_EQ(times_of(units), (std::vector<int64_t>{0, 200000, 800000}));

  ZepVideoStreamFormat format;
  ASSERT_EQ(file.format(&format), ZEP_OK);
  EXPECT_EQ(format.rate, 50u);  // a field per tick
  EXPECT_EQ(format.interlaced, 1u);
  EXPECT_EQ(format.height, 128u);  // two fields of 4 map units
}

TEST(H264Module, AccessUnitLargerThanTheFirstBufferGrowsIt) {
  TempDir dir;
  const SpsOptions sps;
  SliceOptions big = idr();
  big.payload_bytes = 300000;
  SliceOptions big2 = big;
  big2.first_mb = 8;
  const Bytes s1 = zeptest::make_slice(sps, big);
  const Bytes s2 = zeptest::make_slice(sps, big2);
  H264File file(
      dir.write("g.h264", zeptest::annexb({zeptest::make_sps(sps), zeptest::make_pps(), s1, s2})));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  file.ops().SetTitleActiveStream(file.handle(), ZEP_BLOCK_VIDEO, 0, 1);
  ZepBlock block;
  zep_heap_block_init(&block);
  block.data = static_cast<uint8_t*>(std::malloc(16));
  block.capacity = 16;
  uint32_t type = 0, stream = 0;
  ASSERT_EQ(file.ops().ReadNextBlock(file.handle(), &type, &stream, &block, 0), ZEP_OK);
  EXPECT_EQ(type, ZEP_BLOCK_VIDEO);
  EXPECT_EQ(stream, 0u);
  ASSERT_GE(block.capacity, block.size);
  const std::vector<Bytes> units =
      h264test::split_units(Bytes(block.data, block.data + block.size));
  ASSERT_EQ(units.size(), 4u);
  EXPECT_EQ(units[2], s1);  // bytes written before a growth survive it
  EXPECT_EQ(units[3], s2);
  zep_heap_block_free(&block);
}

// A block whose owner cannot grow it: the read fails and leaves the stream
// where the access unit began, so a read with room delivers it whole.
TEST(H264Module, TooSmallBufferWithoutCallbackLeavesTheStreamInPlace) {
  TempDir dir;
  const SpsOptions sps = timed_sps();
  SliceOptions big = non_idr(2);
  big.payload_bytes = 5000;
  H264File file(dir.write("n.h264", stream_of(sps, {idr(), big, non_idr(4, 2)})));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZepBlock block{};
  Bytes buffer(200);
  block.data = buffer.data();
  block.capacity = uint32_t(buffer.size());
  const ZepModuleOps& ops = file.ops();
  ASSERT_EQ(ops.ReadNextBlockByStream(file.handle(), ZEP_BLOCK_VIDEO, 0, &block), ZEP_OK);
  EXPECT_EQ(block.time, 0);
  ZepQueryData position{};
  ASSERT_EQ(ops.GetInfo(file.handle(), ZEP_QID_FILE_POSITION, &position, 0), ZEP_OK);
  EXPECT_EQ(ops.ReadNextBlockByStream(file.handle(), ZEP_BLOCK_VIDEO, 0, &block),
            ZEP_ERR_BLOCK_BUFFER_TOO_SMALL);
  ZepQueryData after{};
  ops.GetInfo(file.handle(), ZEP_QID_FILE_POSITION, &after, 0);
  EXPECT_EQ(after.value.u64, position.value.u64);
  EXPECT_EQ(ops.ReadNextBlockByStream(file.handle(), ZEP_BLOCK_VIDEO, 0, &block),
            ZEP_ERR_BLOCK_BUFFER_TOO_SMALL);

  buffer.resize(6000);
  block.data = buffer.data();
  block.capacity = uint32_t(buffer.size());
  ASSERT_EQ(ops.ReadNextBlockByStream(file.handle(), ZEP_BLOCK_VIDEO, 0, &block), ZEP_OK);
  EXPECT_EQ(h264test::split_units(Bytes(block.data, block.data + block.size))[0],
            zeptest::make_slice(sps, big));
  EXPECT_EQ(block.time, 400000);  // the failed reads did not advance the order
  ASSERT_EQ(ops.ReadNextBlockByStream(file.handle(), ZEP_BLOCK_VIDEO, 0, &block), ZEP_OK);
  EXPECT_EQ(block.time, 800000);
}

TEST(H264Module, GarbageBeforeTheFirstStartCodeIsRefused) {
  TempDir dir;
  Bytes stream = {0x12, 0x34, 0x56};
  const Bytes rest = stream_of(SpsOptions{}, {idr()});
  stream.insert(stream.end(), rest.begin(), rest.end());
  H264File file(dir.write("garbage.h264", stream));
  ASSERT_EQ(file.open_status(), ZEP_OK);
  EXPECT_EQ(file.set_title(), ZEP_FAIL);
  ZEP_STATUS status = ZEP_OK;
  EXPECT_TRUE(file.read_all(&status).empty());
  EXPECT_EQ(status, ZEP_WARN_NONFATAL);  // no title
}

TEST(H264Module, GarbageInsideTheStreamEndsTheReadingThere) {
  TempDir dir;
  Bytes stream = stream_of(SpsOptions{}, {idr(), non_idr(2)});
  // Zero bytes end the P slice; the 77 behind them is no start code.
  stream.insert(stream.end(), {0x00, 0x00, 0x00, 0x77});
  const Bytes more = zeptest::annexb({zeptest::make_slice(SpsOptions{}, non_idr(4, 2))});
  stream.insert(stream.end(), more.begin(), more.end());
  H264File file(dir.write("mid.h264", stream));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status);
  EXPECT_EQ(status, ZEP_FAIL);
  ASSERT_EQ(units.size(), 2u);  // the P frame is whole and delivered
  EXPECT_EQ(unit_types(units[1].data), (std::vector<int>{1}));
  // Every later read answers the same failure without moving.
  ZepBlock block;
  zep_heap_block_init(&block);
  EXPECT_EQ(file.ops().ReadNextBlockByStream(file.handle(), 2, 0, &block), ZEP_FAIL);
  EXPECT_EQ(file.ops().ReadNextBlockByStream(file.handle(), 2, 0, &block), ZEP_FAIL);
  zep_heap_block_free(&block);
}

TEST(H264Module, TruncatedFinalAccessUnitIsDeliveredBeforeTheEnd) {
  TempDir dir;
  SliceOptions last = non_idr(2);
  last.payload_bytes = 100;
  Bytes stream = stream_of(SpsOptions{}, {idr(), last});
  stream.resize(stream.size() - 60);
  H264File file(dir.write("cut.h264", stream));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(units.size(), 2u);
  const std::vector<Bytes> nals = h264test::split_units(units[1].data);
  ASSERT_EQ(nals.size(), 1u);
  EXPECT_EQ(nals[0], Bytes(stream.end() - ptrdiff_t(nals[0].size()), stream.end()));
}

TEST(H264Module, TrailingZeroBytesEndTheStreamCleanly) {
  TempDir dir;
  Bytes stream = stream_of(SpsOptions{}, {idr(), non_idr(2)});
  stream.insert(stream.end(), 7, 0);
  H264File file(dir.write("z.h264", stream));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(unit_types(units[1].data), (std::vector<int>{1}));
}

TEST(H264Module, ParameterSetSearch) {
  TempDir dir;
  const SpsOptions sps;
  // No PPS: SetTitle says so, but the stream can be read.
  H264File no_pps(dir.write(
      "nopps.h264", zeptest::annexb({zeptest::make_sps(sps), zeptest::make_slice(sps, idr())})));
  EXPECT_EQ(no_pps.set_title(), ZEP_E_NULL_ARG);
  EXPECT_EQ(no_pps.read_all(nullptr).size(), 1u);

  // No SPS among the first five units: the title stays unset.
  std::vector<Bytes> nals(5, zeptest::make_nal(0, 6, {0x05, 0x01, 0xAA, 0x80}));
  nals.push_back(zeptest::make_sps(sps));
  H264File no_sps(dir.write("nosps.h264", zeptest::annexb(nals)));
  EXPECT_EQ(no_sps.set_title(), ZEP_E_NULL_ARG);
  ZEP_STATUS status = ZEP_OK;
  no_sps.read_all(&status);
  EXPECT_EQ(status, ZEP_WARN_NONFATAL);

  SpsOptions scaled;
  scaled.profile_idc = 100;
  scaled.scaling_matrix_present = true;
  H264File scaling(dir.write("scaled.h264", stream_of(scaled, {})));
  EXPECT_EQ(scaling.set_title(), ZEP_ERR_UNSUPPORTED_SPS_DATA);

  H264File empty(dir.write("empty.h264", Bytes{}));
  ASSERT_EQ(empty.open_status(), ZEP_OK);
  EXPECT_EQ(empty.set_title(), ZEP_E_NULL_ARG);
  EXPECT_EQ(empty.set_title(1), ZEP_FAIL);

  H264File missing(dir.path() + "/missing.h264");
  EXPECT_EQ(missing.open_status(), ZEP_ERR_FILE_OPEN_FAILURE);
}

TEST(H264Module, OperationsOutsideTheOneStream) {
  TempDir dir;
  H264File file(dir.write("o.h264", stream_of(SpsOptions{}, {idr(), non_idr(2)})));
  const ZepModuleOps& ops = file.ops();
  ZepBlock block;
  zep_heap_block_init(&block);
  uint32_t type = 9, stream = 9;
  EXPECT_EQ(ops.ReadNextBlock(file.handle(), &type, &stream, &block, 0), ZEP_WARN_NONFATAL);
  EXPECT_EQ(type, 0u);
  EXPECT_EQ(stream, UINT32_MAX);
  ASSERT_EQ(file.set_title(), ZEP_OK);
  EXPECT_EQ(ops.ReadNextBlock(file.handle(), &type, &stream, &block, 0), ZEP_WARN_NONFATAL);
  EXPECT_EQ(ops.SetTitleActiveStream(file.handle(), ZEP_BLOCK_AUDIO, 0, 1), ZEP_FAIL);
  EXPECT_EQ(ops.SetTitleActiveStream(file.handle(), ZEP_BLOCK_VIDEO, 1, 1), ZEP_FAIL);
  EXPECT_EQ(ops.SetTitleActiveStream(file.handle(), ZEP_BLOCK_VIDEO, 0, 1), ZEP_OK);
  EXPECT_EQ(ops.ReadNextBlock(file.handle(), &type, &stream, &block, 0), ZEP_OK);
  int64_t time = 5;
  EXPECT_EQ(ops.SetPosition(file.handle(), 2, 0, &time), ZEP_FAIL);
  time = 0;
  EXPECT_EQ(ops.SetPosition(file.handle(), 2, 0, &time), ZEP_OK);
  EXPECT_EQ(ops.SetPosition(file.handle(), 2, 0, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.ReadNextBlock(nullptr, &type, &stream, &block, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.ReadNextBlock(file.handle(), nullptr, &stream, &block, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.SetTitle(nullptr, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(ops.CloseContainer(nullptr), ZEP_E_NULL_ARG);
  zep_heap_block_free(&block);
}

TEST(H264Module, QueryAnswers) {
  TempDir dir;
  const Bytes stream = stream_of(SpsOptions{}, {idr()});
  H264File file(dir.write("q.h264", stream));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  const ZepModuleOps& ops = file.ops();
  auto scalar = [&](uint32_t qid, uint32_t index = 0) {
    ZepQueryData q{};
    q.value.u64 = 0xDEADBEEFDEADBEEFull;
    const ZEP_STATUS s = ops.GetInfo(file.handle(), qid, &q, index);
    return std::make_pair(s, q);
  };
  EXPECT_EQ(scalar(ZEP_QID_NUM_CONTAINER_TITLE).second.value.u64, 1u);
  EXPECT_EQ(scalar(ZEP_QID_NUM_CONTAINER_TITLE).second.valueType, 3u);
  EXPECT_EQ(scalar(ZEP_QID_NUM_TITLE_STREAMS).second.value.u16, 1u);
  EXPECT_EQ(scalar(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA).second.value.u16, 1u);
  EXPECT_EQ(scalar(ZEP_QID_CONTAINER_TITLE_ID).second.value.u64, 0u);
  EXPECT_EQ(scalar(ZEP_QID_GET_FILE_SIZE).second.value.u64, stream.size());
  EXPECT_EQ(scalar(ZEP_QID_GET_FILE_SIZE).second.valueType, 8u);
  EXPECT_EQ(scalar(ZEP_QID_FILE_POSITION).second.value.u64, 0u);
  EXPECT_EQ(scalar(ZEP_QID_NUM_CONTAINER_TITLE, 1).first, ZEP_ERR_INVALID_STREAM);
  EXPECT_EQ(scalar(ZEP_QID_GET_CONTAINER_TYPE).first, ZEP_ERR_INVALID_QUERY_ID);
  EXPECT_EQ(scalar(ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE).second.value.u32,
            file.query_bytes(ZEP_QID_SPS_SIZE, ZEP_QID_SPS_DATA).size() +
                file.query_bytes(ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA).size() + 11);

  auto record = [&](uint32_t qid, uint32_t capacity, Bytes* out) {
    out->assign(64, 0);
    ZepQueryData q{};
    q.size = capacity;
    q.value.ptr = out->data();
    const ZEP_STATUS s = ops.GetInfo(file.handle(), qid, &q, 0);
    if (s == ZEP_OK) {
      EXPECT_EQ(q.valueType, 11u);
      out->resize(q.size);
    }
    return s;
  };
  Bytes r;
  ASSERT_EQ(record(ZEP_QID_GET_CONTAINER_PROP, 12, &r), ZEP_OK);
  EXPECT_EQ(r, (Bytes{0x10, 0, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_EQ(record(ZEP_QID_GET_TITLE_PROP, 24, &r), ZEP_OK);
  EXPECT_EQ(r.size(), 24u);
  EXPECT_EQ(r[12], 1);
  ASSERT_EQ(record(ZEP_QID_GET_TITLE_MEDIA_PROP, 8, &r), ZEP_OK);
  EXPECT_EQ(r, (Bytes{0, 0, 1, 0, 0, 0, 0, 0}));
  ASSERT_EQ(record(ZEP_QID_GET_VIDEO_MEDIA_PROP, 8, &r), ZEP_OK);
  EXPECT_EQ(r, (Bytes{0x10, 0, 0, 0, 2, 0, 0, 0}));
  EXPECT_EQ(record(ZEP_QID_GET_CONTAINER_PROP, 11, &r), ZEP_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(record(ZEP_QID_VID_STREAM_FORMAT, 55, &r), ZEP_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(record(ZEP_QID_SPS_DATA, 2, &r), ZEP_ERR_BUFFER_TOO_SMALL);
  ZepQueryData null_buffer{};
  null_buffer.size = 100;
  EXPECT_EQ(ops.GetInfo(file.handle(), ZEP_QID_VIDEO_CODEC_PRIVATE_DATA, &null_buffer, 0),
            ZEP_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(ops.GetInfo(file.handle(), ZEP_QID_SPS_SIZE, nullptr, 0), ZEP_E_NULL_ARG);
}

struct DisplayCase {
  uint32_t idc, sar_w, sar_h;
  uint32_t width_mbs, height_mbs;
  ZEP_STATUS status;
  uint32_t display_width, display_height;
};

TEST(H264Module, DisplaySizeFromTheSampleAspectRatio) {
  const DisplayCase cases[] = {
      {2, 0, 0, 44, 36, ZEP_OK, 768, 576},     // 12:11 on 704x576
      {14, 0, 0, 90, 68, ZEP_OK, 1920, 1088},  // 4:3 on 1440x1088 (uncropped)
      {1, 0, 0, 4, 4, ZEP_OK, 64, 64},
      {3, 0, 0, 44, 36, ZEP_OK, 704, 634},  // 10:11: taller
      {255, 4, 3, 4, 4, ZEP_OK, 85, 64},    // extended 4:3
      {255, 3, 0, 4, 4, ZEP_OK, 64, 64},    // extended with a zero term
      {0, 0, 0, 4, 4, ZEP_OK, 64, 64},      // unspecified
      {17, 0, 0, 4, 4, ZEP_ERR_AR_IDC_INVALID, 0, 0},
      {254, 0, 0, 4, 4, ZEP_ERR_AR_IDC_INVALID, 0, 0},
  };
  TempDir dir;
  for (const DisplayCase& c : cases) {
    SpsOptions sps;
    sps.width_mbs = c.width_mbs;
    sps.height_mbs = c.height_mbs;
    sps.vui = true;
    sps.aspect_ratio_info = true;
    sps.aspect_ratio_idc = c.idc;
    sps.sar_width = c.sar_w;
    sps.sar_height = c.sar_h;
    H264File file(dir.write("d.h264", stream_of(sps, {idr()})));
    ASSERT_EQ(file.set_title(), ZEP_OK);
    ZepVideoStreamFormat format;
    ASSERT_EQ(file.format(&format), c.status) << c.idc;
    if (c.status != ZEP_OK) continue;
    EXPECT_EQ(format.displayWidth, c.display_width) << c.idc;
    EXPECT_EQ(format.displayHeight, c.display_height) << c.idc;
  }
}

TEST(H264Module, CroppingFollowsTheChromaFormat) {
  struct CropCase {
    uint8_t profile;
    uint32_t chroma;
    bool frame_mbs_only;
    uint32_t width, height;
  } cases[] = {
      {66, 1, true, 64 - 2 * 3, 64 - 2 * 2},  // 4:2:0 (inferred)
      {100, 1, true, 64 - 2 * 3, 64 - 2 * 2},
      {122, 2, true, 64 - 2 * 3, 64 - 1 * 2},   // 4:2:2: rows not halved
      {244, 3, true, 64 - 3, 64 - 2},           // 4:4:4
      {100, 0, true, 64 - 3, 64 - 2},           // monochrome
      {77, 1, false, 64 - 2 * 3, 128 - 4 * 2},  // interlaced 4:2:0
  };
  TempDir dir;
  for (const CropCase& c : cases) {
    SpsOptions sps;
    sps.profile_idc = c.profile;
    sps.chroma_format_idc = c.chroma;
    sps.frame_mbs_only = c.frame_mbs_only;
    sps.cropping = true;
    sps.crop_left = 1;
    sps.crop_right = 2;
    sps.crop_bottom = 2;
    H264File file(dir.write("c.h264", stream_of(sps, {})));
    ASSERT_EQ(file.set_title(), ZEP_OK);
    ZepVideoStreamFormat format;
    ASSERT_EQ(file.format(&format), ZEP_OK);
    EXPECT_EQ(format.width, c.width) << int(c.profile) << "/" << c.chroma;
    EXPECT_EQ(format.height, c.height) << int(c.profile) << "/" << c.chroma;
  }
  // Crops beyond the picture leave an empty picture, not a wrapped size.
  SpsOptions sps;
  sps.cropping = true;
  sps.crop_right = 1000;
  H264File file(dir.write("c.h264", stream_of(sps, {})));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZepVideoStreamFormat format;
  ASSERT_EQ(file.format(&format), ZEP_OK);
  EXPECT_EQ(format.width, 0u);
}

// Chunk handling on streams longer than one 10,000,000-byte chunk.
class H264LargeStream : public ::testing::Test {
 protected:
  static constexpr size_t kChunk = 10000000;
};

TEST_F(H264LargeStream, StartCodeAtTheVeryEndOfAChunkIsReadOnce) {
  // 3-byte start codes; the one before the second P slice ends the chunk.
  const SpsOptions sps;
  const Bytes sps_nal = zeptest::make_sps(sps);
  const Bytes pps_nal = zeptest::make_pps();
  SliceOptions big = idr();
  big.payload_bytes = 0;
  const size_t bare = zeptest::make_slice(sps, big).size();
  big.payload_bytes = kChunk - 3 - (3 + sps_nal.size()) - (3 + pps_nal.size()) - 3 - bare;
  const Bytes idr_nal = zeptest::make_slice(sps, big);
  const Bytes p1 = zeptest::make_slice(sps, non_idr(2));
  const Bytes p2 = zeptest::make_slice(sps, non_idr(4, 2));
  zeptest::ByteWriter w;
  for (const Bytes* nal : {&sps_nal, &pps_nal, &idr_nal}) w.be24(1).bytes(*nal);
  ASSERT_EQ(w.size(), kChunk - 3);
  w.be24(1).bytes(p1).be24(1).bytes(p2);
  TempDir dir;
  H264File file(dir.write("big.h264", w.data()));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status, 10);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(units.size(), 3u);
  EXPECT_EQ(h264test::split_units(units[0].data)[2], idr_nal);
  EXPECT_EQ(h264test::split_units(units[1].data)[0], p1);
  EXPECT_EQ(h264test::split_units(units[2].data)[0], p2);
}

TEST_F(H264LargeStream, UnitStraddlingChunksIsWholeAndLongerOneFails) {
  const SpsOptions sps;
  SliceOptions p = non_idr(2);
  p.payload_bytes = 6000000;  // the second one crosses the first chunk's end
  SliceOptions p2 = non_idr(4, 2);
  p2.payload_bytes = 6000000;
  const Bytes p_nal = zeptest::make_slice(sps, p);
  const Bytes p2_nal = zeptest::make_slice(sps, p2);
  TempDir dir;
  {
    H264File file(dir.write("straddle.h264", stream_of(sps, {idr(), p, p2})));
    ASSERT_EQ(file.set_title(), ZEP_OK);
    ZEP_STATUS status = ZEP_OK;
    const std::vector<AccessUnit> units = file.read_all(&status, 10);
    EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
    ASSERT_EQ(units.size(), 3u);
    EXPECT_EQ(h264test::split_units(units[1].data)[0], p_nal);
    EXPECT_EQ(h264test::split_units(units[2].data)[0], p2_nal);
  }
  SliceOptions huge = non_idr(2);
  huge.payload_bytes = kChunk;
  H264File file(dir.write("huge.h264", stream_of(sps, {idr(), huge, non_idr(4, 2)})));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status, 10);
  EXPECT_EQ(status, ZEP_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(units.size(), 1u);
}

TEST_F(H264LargeStream, ZeroRunLongerThanAChunkIsPassedOver) {
  const SpsOptions sps;
  Bytes stream = stream_of(sps, {idr()});
  stream.insert(stream.end(), kChunk + 100, 0);  // trailing_zero_8bits
  const Bytes p = zeptest::make_slice(sps, non_idr(2));
  const Bytes tail = zeptest::annexb({p});
  stream.insert(stream.end(), tail.begin(), tail.end());
  TempDir dir;
  H264File file(dir.write("zeros.h264", stream));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const std::vector<AccessUnit> units = file.read_all(&status, 10);
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(units.size(), 2u);
  EXPECT_EQ(h264test::split_units(units[1].data), std::vector<Bytes>{p});
}

// A 16-bit length in the avcC record cannot describe a parameter set of
// 65536 bytes or more: the record is refused rather than written wrong.
TEST(H264Module, ParameterSetTooLongForTheConfigurationRecord) {
  const SpsOptions sps;
  Bytes pps = zeptest::make_pps();
  pps.resize(70000, 0x55);
  TempDir dir;
  H264File file(dir.write("longpps.h264", zeptest::annexb({zeptest::make_sps(sps), pps,
                                                           zeptest::make_slice(sps, idr())})));
  ASSERT_EQ(file.set_title(), ZEP_OK);
  ZEP_STATUS status = ZEP_OK;
  const Bytes avcc = file.query_bytes(ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE,
                                      ZEP_QID_VIDEO_CODEC_PRIVATE_DATA, &status);
  EXPECT_EQ(status, ZEP_FAIL);
  EXPECT_EQ(file.query_bytes(ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA), pps);
}

TEST(H264AnnexB, BlocksAndConfigurationRecordToStartCodes) {
  const Bytes sps = {0x67, 0x42, 0xC0, 0x1E, 0xAB};
  const Bytes pps = {0x68, 0xCE, 0x3C, 0x80};
  zeptest::ByteWriter avcc;
  avcc.u8(1).u8(0x42).u8(0xC0).u8(0x1E).u8(0xFF).u8(0xE1).be16(5).bytes(sps);
  avcc.u8(1).be16(4).bytes(pps);
  const Bytes& record = avcc.data();
  EXPECT_EQ(zep_h264_avcc_length_size(record.data(), uint32_t(record.size())), 4u);
  uint32_t size = 0;
  EXPECT_EQ(zep_h264_avcc_to_annexb(record.data(), uint32_t(record.size()), nullptr, 0, &size),
            ZEP_ERR_BUFFER_TOO_SMALL);
  ASSERT_EQ(size, 17u);
  Bytes out(size);
  ASSERT_EQ(
      zep_h264_avcc_to_annexb(record.data(), uint32_t(record.size()), out.data(), size, &size),
      ZEP_OK);
  EXPECT_EQ(out, zeptest::annexb({sps, pps}));
  EXPECT_EQ(zep_h264_avcc_to_annexb(record.data(), uint32_t(record.size()) - 1, out.data(),
                                    uint32_t(out.size()), &size),
            ZEP_FAIL);

  zeptest::ByteWriter block;
  block.be32(3).bytes(Bytes{0x65, 1, 2}).be32(2).bytes(Bytes{0x41, 9});
  const Bytes& b = block.data();
  ASSERT_EQ(zep_h264_block_to_annexb(b.data(), uint32_t(b.size()), 4, nullptr, 0, &size),
            ZEP_ERR_BUFFER_TOO_SMALL);
  out.assign(size, 0);
  ASSERT_EQ(zep_h264_block_to_annexb(b.data(), uint32_t(b.size()), 4, out.data(), size, &size),
            ZEP_OK);
  EXPECT_EQ(out, zeptest::annexb({{0x65, 1, 2}, {0x41, 9}}));
  EXPECT_EQ(zep_h264_block_to_annexb(b.data(), uint32_t(b.size()) - 1, 4, out.data(),
                                     uint32_t(out.size()), &size),
            ZEP_FAIL);
  EXPECT_EQ(zep_h264_block_to_annexb(b.data(), uint32_t(b.size()), 5, out.data(),
                                     uint32_t(out.size()), &size),
            ZEP_FAIL);
}

TEST(H264ContainerLayer, RawStreamOpensThroughLayerOne) {
  ASSERT_EQ(L1Start(), ZEP_OK);
  TempDir dir;
  const std::string path = dir.write("layer.H264", stream_of(timed_sps(), {idr(), non_idr(2)}));
  const std::u16string name = zep::utf8_to_u16(path);
  ZepContainer* container = nullptr;
  ASSERT_EQ(L1OpenContainer(&container, name.c_str(), nullptr), ZEP_OK);
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
