// The bitstream tools: bit reads, Exp-Golomb codes, SPS, PPS and slice headers, damaged input
// included (start codes and unescaping are read through the module's streams).
#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "modules/h264/h264_bitstream.h"
#include "tests/support/nal_builder.h"

namespace {

using namespace zeptest;

template <typename... T>
std::vector<int64_t> ints(T... values) {
  return {int64_t(values)...};
}

// Data, size, bit position, bit count, value; a size of 1 never reads the second byte.
TEST(H264Bits, ReadsMostSignificantBitFirstAndZerosPastTheEnd) {
  const uint8_t data[] = {0xA5, 0x3C, 0xFF, 0x01}, ones[] = {0xFF, 0xFF};
  const std::tuple<const uint8_t*, uint32_t, uint64_t, uint32_t, uint64_t> cases[] = {
      // clang-format off
      {data, 4, 0, 0, 0}, {data, 4, 1, 3, 0x2}, {data, 4, 0, 32, 0xA53CFF01},
      {data, 4, 3, 17, 0xA53CFFull >> 4 & 0x1FFFF}, {ones, 1, 4, 8, 0xF0}, {ones, 1, 8, 64, 0},
      {ones, 1, 0, 64, 0xFFull << 56}, {nullptr, 8, 0, 8, 0}};
  // clang-format on
  for (const auto& [bytes, size, position, count, value] : cases)
    EXPECT_EQ(zep_bits_read(bytes, size, position, count), value) << position << " " << count;
}

ZEP_STATUS parse(const Bytes& nal, ZepAvcSps* sps) {
  return zep_avc_parse_sps(sps, nal.data(), uint32_t(nal.size()));
}
// A heap copy of exactly `length` bytes, so the sanitizer sees any read past its end.
std::unique_ptr<uint8_t[]> cut(const Bytes& full, size_t length) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[length]);
  std::copy(full.begin(), full.begin() + ptrdiff_t(length), copy.get());
  return copy;
}

// The coded fields against the options (absent ones 0), down to the last HRD schedule.
void expect_sps(const SpsOptions& o, const ZepAvcSps& s) {
  const int c = sps_has_chroma_info(o.profile_idc), r = o.bitstream_restriction;
  const ZepAvcHrd& hrd = o.nal_hrd ? s.nal_hrd : s.vcl_hrd;
  const uint32_t last = o.hrd.cpb_cnt_minus1, hrds = o.nal_hrd || o.vcl_hrd;
  EXPECT_EQ(
      ints(s.profile_idc, s.constraint_flags, s.level_idc, s.chroma_format_idc,
           s.bit_depth_luma_minus8, s.log2_max_frame_num_minus4, s.pic_order_cnt_type,
           s.log2_max_pic_order_cnt_lsb_minus4, s.offset_for_non_ref_pic,
           s.offset_for_top_to_bottom_field, s.pic_width_in_mbs_minus1 + 1,
           s.pic_height_in_map_units_minus1 + 1, s.frame_crop_left_offset,
           s.frame_crop_bottom_offset, s.sar_width, s.sar_height, s.time_scale, s.num_units_in_tick,
           s.vcl_hrd_parameters_present_flag, hrds * hrd.cpb_cnt_minus1, hrds * hrd.cbr_flag[last],
           hrds * hrd.cpb_size_value_minus1[last], hrds * hrd.time_offset_length,
           s.max_num_reorder_frames, s.max_dec_frame_buffering),
      ints(o.profile_idc, o.constraint_flags, o.level_idc, c * o.chroma_format_idc,
           c * o.bit_depth_luma_minus8, o.log2_max_frame_num_minus4, o.poc_type,
           o.poc_type == 0 ? o.log2_max_poc_lsb_minus4 : 0, o.offset_for_non_ref_pic,
           o.offset_for_top_to_bottom_field, o.width_mbs, o.height_mbs, o.crop_left, o.crop_bottom,
           o.sar_width, o.sar_height, o.timing * o.time_scale, o.timing * o.num_units_in_tick,
           o.vcl_hrd, hrds * last, hrds * o.hrd.cbr, hrds * (o.hrd.cpb_size_value_minus1 + last),
           hrds * 20, r * o.max_num_reorder_frames, r * o.max_dec_frame_buffering));
  EXPECT_EQ(std::vector<int32_t>(s.offset_for_ref_frame,
                                 s.offset_for_ref_frame + s.num_ref_frames_in_pic_order_cnt_cycle),
            o.offset_for_ref_frame);
}

// low_delay_hrd_flag is a 1 bit that must not shift the fields behind it.
TEST(H264Sps, ParsesEveryCodedField) {
  SpsOptions high{.profile_idc = 100, .constraint_flags = 0, .level_idc = 40};
  high.bit_depth_luma_minus8 = high.bit_depth_chroma_minus8 = 2, high.log2_max_poc_lsb_minus4 = 4;
  high.width_mbs = 120, high.height_mbs = 68, high.cropping = true, high.crop_left = 3;
  high.crop_bottom = 4, high.vui = high.aspect_ratio_info = high.timing = true;
  high.aspect_ratio_idc = 255, high.sar_width = 4, high.sar_height = 3;
  high.num_units_in_tick = 1001, high.time_scale = 60000;
  SpsOptions hrd{.vui = true, .timing = true, .nal_hrd = true, .vcl_hrd = true};
  hrd.hrd.cpb_cnt_minus1 = 2, hrd.hrd.cbr = hrd.low_delay_hrd = hrd.bitstream_restriction = true;
  hrd.max_num_reorder_frames = 2, hrd.max_dec_frame_buffering = 4;
  const SpsOptions cases[] = {
      {.level_idc = 21, .log2_max_frame_num_minus4 = 5, .poc_type = 2, .width_mbs = 10},
      high,
      hrd,
      {.poc_type = 1, .offset_for_non_ref_pic = -3, .offset_for_ref_frame = {2, -5, 7}},
      {.poc_type = 1,
       .offset_for_top_to_bottom_field = 1,
       .offset_for_ref_frame = std::vector(255, 1)},
      {.vui = true, .nal_hrd = true, .hrd = {.cpb_cnt_minus1 = 31}}};  // the largest CPB count
  for (const SpsOptions& o : cases) {
    SCOPED_TRACE(&o - cases);
    ZepAvcSps sps;
    ASSERT_EQ(parse(make_sps(o), &sps), ZEP_OK);
    expect_sps(o, sps);
  }
}

// Counts that size arrays are checked before use; a scaling matrix is refused, fields kept.
TEST(H264SpsDamage, OversizedCountsAndScalingMatricesAreRefused) {
  const SpsOptions cases[] = {{.poc_type = 1, .offset_for_ref_frame = std::vector(256, 1)},
                              {.vui = true, .nal_hrd = true, .hrd = {.cpb_cnt_minus1 = 32}},
                              {.log2_max_frame_num_minus4 = 13},
                              {.log2_max_frame_num_minus4 = 12, .log2_max_poc_lsb_minus4 = 13}};
  ZepAvcSps sps;
  for (const SpsOptions& o : cases) EXPECT_EQ(parse(make_sps(o), &sps), ZEP_FAIL) << &o - cases;
  SpsOptions scaling{.profile_idc = 100, .level_idc = 31, .chroma_format_idc = 3};
  scaling.separate_colour_plane = scaling.scaling_matrix_present = true;
  ASSERT_EQ(parse(make_sps(scaling), &sps), ZEP_ERR_UNSUPPORTED_SPS_DATA);
  EXPECT_EQ(
      ints(sps.profile_idc, sps.level_idc, sps.chroma_format_idc, sps.separate_colour_plane_flag,
           sps.seq_scaling_matrix_present_flag, sps.pic_width_in_mbs_minus1),
      ints(100, 31, 3, 1, 1, 0));
}

// Every cut fails (one in the VUI keeps the fields before it); zero payloads and nulls fail.
TEST(H264SpsDamage, TruncatedZeroAndNullInputFails) {
  const Bytes full = make_sps({.vui = true, .timing = true, .bitstream_restriction = true});
  ZepAvcSps sps;
  ASSERT_EQ(parse(full, &sps), ZEP_OK);
  for (size_t length = 1; length + 1 < full.size(); ++length)
    EXPECT_EQ(zep_avc_parse_sps(&sps, cut(full, length).get(), uint32_t(length)), ZEP_FAIL)
        << length;
  EXPECT_EQ(zep_avc_parse_sps(&sps, cut(full, 8).get(), 8), ZEP_FAIL);
  EXPECT_EQ(ints(sps.profile_idc, sps.pic_width_in_mbs_minus1, sps.time_scale), ints(66, 3, 0));
  Bytes nal = {0x67, 0x64, 0x00, 0x28};
  nal.resize(64, 0);
  EXPECT_EQ(parse(nal, &sps), ZEP_FAIL);
  EXPECT_EQ(ints(zep_avc_parse_sps(nullptr, nal.data(), 4), zep_avc_parse_sps(&sps, nullptr, 4),
                 zep_avc_parse_sps(&sps, nal.data(), 0)),
            ints(ZEP_E_NULL_ARG, ZEP_E_NULL_ARG, ZEP_E_NULL_ARG));
}

// A PPS with slice groups of the map types the record keeps (0, 2, 6).
Bytes pps_with_groups(uint32_t groups_minus1, uint32_t map_type, uint32_t units_minus1) {
  BitWriter w;
  w.ue(5).ue(1).flag(true).flag(true).ue(groups_minus1);
  if (groups_minus1 > 0) w.ue(map_type);
  for (uint32_t i = 0; groups_minus1 > 0 && map_type == 0 && i <= groups_minus1; ++i) w.ue(10 + i);
  for (uint32_t i = 0; groups_minus1 > 0 && map_type == 2 && i < groups_minus1; ++i)
    w.ue(i).ue(100 + i);
  if (groups_minus1 > 0 && map_type == 6) {
    w.ue(units_minus1);
    uint32_t bits = 0;
    while ((1u << bits) < groups_minus1 + 1) ++bits;
    for (uint32_t i = 0; i <= units_minus1; ++i) w.u(bits, i % (groups_minus1 + 1));
  }
  w.ue(2).ue(1).flag(true).u(2, 2).se(-4).se(3).se(-2).flag(true).flag(false).flag(true);
  return make_nal(3, 8, w.trailing().bytes());
}

// Fields and slice-group maps; 9 groups, 36865 map units and every cut are refused.
TEST(H264Pps, FieldsSliceGroupMapsAndRefusals) {
  auto pps = std::make_unique<ZepAvcPps>();
  auto parse_pps = [&](const Bytes& nal) {
    return zep_avc_parse_pps(pps.get(), nal.data(), uint32_t(nal.size()));
  };
  ASSERT_EQ(parse_pps(pps_with_groups(7, 0, 0)), ZEP_OK);
  EXPECT_EQ(ints(pps->pic_parameter_set_id, pps->seq_parameter_set_id,
                 pps->deblocking_filter_control_present_flag, pps->entropy_coding_mode_flag,
                 pps->num_slice_groups_minus1, pps->run_length_minus1[7],
                 pps->num_ref_idx_l0_default_active_minus1, pps->weighted_bipred_idc,
                 pps->pic_init_qp_minus26, pps->pic_init_qs_minus26, pps->chroma_qp_index_offset,
                 pps->redundant_pic_cnt_present_flag),
            ints(5, 1, 1, 1, 7, 17, 2, 2, -4, 3, -2, 1));
  ASSERT_EQ(parse_pps(pps_with_groups(3, 2, 0)), ZEP_OK);
  EXPECT_EQ(ints(pps->bottom_right[2], pps->top_left[3]), ints(102, 0));
  ASSERT_EQ(parse_pps(pps_with_groups(2, 6, 98)), ZEP_OK);
  EXPECT_EQ(ints(pps->pic_size_in_map_units_minus1, pps->slice_group_id[98],
                 pps->slice_group_id[97], pps->weighted_pred_flag),
            ints(98, 2, 1, 1));
  ASSERT_EQ(parse_pps(pps_with_groups(1, 6, 36863)), ZEP_OK);  // the largest map fits
  EXPECT_EQ(pps->slice_group_id[36863], 1u);
  EXPECT_EQ(parse_pps(pps_with_groups(8, 0, 0)), ZEP_FAIL);
  EXPECT_EQ(parse_pps(make_nal(
                3, 8, BitWriter().ue(0).ue(0).u(2, 0).ue(1).ue(6).ue(36864).trailing().bytes())),
            ZEP_FAIL);
  const Bytes full = make_pps();
  for (size_t length = 1; length + 1 < full.size(); ++length)
    EXPECT_EQ(zep_avc_parse_pps(pps.get(), cut(full, length).get(), uint32_t(length)), ZEP_FAIL)
        << length;
}

// first_mb 0, slice_type 7, then nothing; a record by hand with a frame_num of 204 bits.
TEST(H264Slice, ShortSlicesAndBadSpsFail) {
  ZepAvcSps sps;
  ASSERT_EQ(parse(make_sps({}), &sps), ZEP_OK);
  const uint8_t two[] = {0x65, 0x88};
  ZepAvcSliceHeader h;
  EXPECT_EQ(zep_avc_parse_slice_header(&sps, two, 2, 5, &h), ZEP_FAIL);
  EXPECT_EQ(ints(h.first_mb_in_slice, h.slice_type), ints(0, 7));
  EXPECT_EQ(zep_avc_parse_slice_header(&sps, two, 1, 5, &h), ZEP_FAIL);
  EXPECT_EQ(zep_avc_parse_slice_header(nullptr, two, 2, 5, &h), ZEP_E_NULL_ARG);
  sps.log2_max_frame_num_minus4 = 200;
  EXPECT_EQ(zep_avc_parse_slice_header(&sps, two, 2, 5, &h), ZEP_FAIL);
}

}  // namespace
