// SPS, PPS and slice-header parsing, including damaged and oversized input.
#include <gtest/gtest.h>

#include <memory>

#include "modules/h264/h264_bitstream.h"
#include "tests/support/nal_builder.h"

namespace {

using zeptest::BitWriter;
using zeptest::Bytes;
using zeptest::SpsOptions;

ZEP_STATUS parse(const Bytes& nal, ZepAvcSps* sps) {
  return zep_avc_parse_sps(sps, nal.data(), uint32_t(nal.size()));
}

// A copy on the heap of exactly `length` bytes, so the sanitizer sees any
// read past its end.
std::unique_ptr<uint8_t[]> cut(const Bytes& full, size_t length) {
  std::unique_ptr<uint8_t[]> copy(new uint8_t[length]);
  std::copy(full.begin(), full.begin() + ptrdiff_t(length), copy.get());
  return copy;
}

// Every field the test writer codes, against the options it was given;
// absent fields read 0 (chroma_format_idc too, not the inferred 1).
void expect_sps(const SpsOptions& o, const ZepAvcSps& s) {
  const bool chroma = zeptest::sps_has_chroma_info(o.profile_idc);
  EXPECT_EQ(s.profile_idc, o.profile_idc);
  EXPECT_EQ(s.constraint_flags, o.constraint_flags);
  EXPECT_EQ(s.level_idc, o.level_idc);
  EXPECT_EQ(s.seq_parameter_set_id, o.sps_id);
  EXPECT_EQ(s.chroma_format_idc, chroma ? o.chroma_format_idc : 0);
  EXPECT_EQ(s.separate_colour_plane_flag,
            chroma && o.chroma_format_idc == 3 && o.separate_colour_plane);
  EXPECT_EQ(s.bit_depth_luma_minus8, chroma ? o.bit_depth_luma_minus8 : 0);
  EXPECT_EQ(s.bit_depth_chroma_minus8, chroma ? o.bit_depth_chroma_minus8 : 0);
  EXPECT_EQ(s.log2_max_frame_num_minus4, o.log2_max_frame_num_minus4);
  EXPECT_EQ(s.pic_order_cnt_type, o.poc_type);
  EXPECT_EQ(s.log2_max_pic_order_cnt_lsb_minus4, o.poc_type == 0 ? o.log2_max_poc_lsb_minus4 : 0);
  EXPECT_EQ(s.offset_for_non_ref_pic, o.offset_for_non_ref_pic);
  EXPECT_EQ(s.offset_for_top_to_bottom_field, o.offset_for_top_to_bottom_field);
  ASSERT_EQ(s.num_ref_frames_in_pic_order_cnt_cycle, o.offset_for_ref_frame.size());
  for (size_t i = 0; i < o.offset_for_ref_frame.size(); ++i) {
    EXPECT_EQ(s.offset_for_ref_frame[i], o.offset_for_ref_frame[i]) << i;
  }
  EXPECT_EQ(s.max_num_ref_frames, o.max_num_ref_frames);
  EXPECT_EQ(s.pic_width_in_mbs_minus1, o.width_mbs - 1);
  EXPECT_EQ(s.pic_height_in_map_units_minus1, o.height_mbs - 1);
  EXPECT_EQ(s.frame_mbs_only_flag, o.frame_mbs_only);
  EXPECT_EQ(s.mb_adaptive_frame_field_flag, o.mbaff);
  EXPECT_EQ(s.direct_8x8_inference_flag, 1);
  EXPECT_EQ(s.frame_cropping_flag, o.cropping);
  EXPECT_EQ(s.frame_crop_left_offset, o.crop_left);
  EXPECT_EQ(s.frame_crop_bottom_offset, o.crop_bottom);
  EXPECT_EQ(s.vui_parameters_present_flag, o.vui);
  EXPECT_EQ(s.aspect_ratio_idc, o.aspect_ratio_idc);
  EXPECT_EQ(s.sar_width, o.sar_width);
  EXPECT_EQ(s.sar_height, o.sar_height);
  // The writer's video signal: format 5, colour description 1, 1, 1.
  EXPECT_EQ(s.video_signal_type_present_flag + s.video_format + s.colour_primaries, o.vui * 7);
  EXPECT_EQ(s.transfer_characteristics + s.matrix_coefficients, o.vui * 2);
  EXPECT_EQ(s.timing_info_present_flag, o.timing);
  EXPECT_EQ(s.num_units_in_tick, o.timing ? o.num_units_in_tick : 0);
  EXPECT_EQ(s.time_scale, o.timing ? o.time_scale : 0);
  EXPECT_EQ(s.fixed_frame_rate_flag, o.timing && o.fixed_frame_rate);
  EXPECT_EQ(s.nal_hrd_parameters_present_flag, o.nal_hrd);
  EXPECT_EQ(s.vcl_hrd_parameters_present_flag, o.vcl_hrd);
  for (const auto& [present, hrd] : {std::pair{o.nal_hrd, &s.nal_hrd}, {o.vcl_hrd, &s.vcl_hrd}}) {
    if (!present) continue;
    EXPECT_EQ(hrd->cpb_cnt_minus1, o.hrd.cpb_cnt_minus1);
    EXPECT_EQ(hrd->bit_rate_scale * 16 + hrd->cpb_size_scale, 0x23);
    for (uint32_t i = 0; i <= o.hrd.cpb_cnt_minus1; ++i) {
      EXPECT_EQ(hrd->bit_rate_value_minus1[i], o.hrd.bit_rate_value_minus1 + i) << i;
      EXPECT_EQ(hrd->cpb_size_value_minus1[i], o.hrd.cpb_size_value_minus1 + i) << i;
      EXPECT_EQ(hrd->cbr_flag[i], o.hrd.cbr) << i;
    }
    EXPECT_EQ(hrd->initial_cpb_removal_delay_length_minus1, 23);
    EXPECT_EQ(hrd->cpb_removal_delay_length_minus1, 22);
    EXPECT_EQ(hrd->dpb_output_delay_length_minus1, 21);
    EXPECT_EQ(hrd->time_offset_length, 20);
  }
  EXPECT_EQ(s.pic_struct_present_flag, o.pic_struct_present);
  EXPECT_EQ(s.bitstream_restriction_flag, o.bitstream_restriction);
  if (!o.bitstream_restriction) return;
  // The writer's restriction fields: 1, 2, 1, 16, 16.
  EXPECT_EQ(s.motion_vectors_over_pic_boundaries_flag, 1);
  EXPECT_EQ(s.max_bytes_per_pic_denom, 2);
  EXPECT_EQ(s.max_bits_per_mb_denom, 1);
  EXPECT_EQ(s.log2_max_mv_length_horizontal, 16);
  EXPECT_EQ(s.log2_max_mv_length_vertical, 16);
  EXPECT_EQ(s.max_num_reorder_frames, o.max_num_reorder_frames);
  EXPECT_EQ(s.max_dec_frame_buffering, o.max_dec_frame_buffering);
}

struct SpsCase {
  const char* name;
  SpsOptions options;
  ZEP_STATUS status;
};

class H264Sps : public testing::TestWithParam<SpsCase> {};

TEST_P(H264Sps, ParsesEveryCodedFieldOrRefusesAnOversizedCount) {
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(GetParam().options), &sps), GetParam().status);
  if (GetParam().status == ZEP_OK) expect_sps(GetParam().options, sps);
}

// Every count that sizes an array of the record is checked before use.
INSTANTIATE_TEST_SUITE_P(
    Sets, H264Sps,
    testing::Values(
        SpsCase{"BaselineWithoutChromaFields",
                {.level_idc = 21,
                 .log2_max_frame_num_minus4 = 5,
                 .poc_type = 2,
                 .width_mbs = 10,
                 .height_mbs = 8},
                ZEP_OK},
        SpsCase{"HighWithCroppingExtendedSarAndTiming",
                {.profile_idc = 100,
                 .constraint_flags = 0,
                 .level_idc = 40,
                 .bit_depth_luma_minus8 = 2,
                 .bit_depth_chroma_minus8 = 2,
                 .log2_max_poc_lsb_minus4 = 4,
                 .width_mbs = 120,
                 .height_mbs = 68,
                 .cropping = true,
                 .crop_left = 3,
                 .crop_bottom = 4,
                 .vui = true,
                 .aspect_ratio_info = true,
                 .aspect_ratio_idc = 255,
                 .sar_width = 4,
                 .sar_height = 3,
                 .timing = true,
                 .num_units_in_tick = 1001,
                 .time_scale = 60000},
                ZEP_OK},
        SpsCase{"SeparateColourPlanesInterlaced",
                {.profile_idc = 244,
                 .chroma_format_idc = 3,
                 .separate_colour_plane = true,
                 .frame_mbs_only = false,
                 .mbaff = true},
                ZEP_OK},
        // low_delay_hrd_flag: a 1 bit that must not shift the fields behind it.
        SpsCase{"HrdAndBitstreamRestrictionBehindLowDelayFlag",
                {.vui = true,
                 .timing = true,
                 .nal_hrd = true,
                 .vcl_hrd = true,
                 .hrd = {.cpb_cnt_minus1 = 2, .cbr = true},
                 .low_delay_hrd = true,
                 .bitstream_restriction = true,
                 .max_num_reorder_frames = 2,
                 .max_dec_frame_buffering = 4},
                ZEP_OK},
        SpsCase{"PocTypeOneCycle",
                {.poc_type = 1,
                 .offset_for_non_ref_pic = -3,
                 .offset_for_top_to_bottom_field = 1,
                 .offset_for_ref_frame = {2, -5, 7}},
                ZEP_OK},
        SpsCase{
            "PocCycleOf255", {.poc_type = 1, .offset_for_ref_frame = std::vector(255, 1)}, ZEP_OK},
        SpsCase{"PocCycleOf256Refused",
                {.poc_type = 1, .offset_for_ref_frame = std::vector(256, 1)},
                ZEP_FAIL},
        SpsCase{
            "CpbCountOf32", {.vui = true, .nal_hrd = true, .hrd = {.cpb_cnt_minus1 = 31}}, ZEP_OK},
        SpsCase{"CpbCountOf33Refused",
                {.vui = true, .nal_hrd = true, .hrd = {.cpb_cnt_minus1 = 32}},
                ZEP_FAIL},
        SpsCase{
            "Log2Of16", {.log2_max_frame_num_minus4 = 12, .log2_max_poc_lsb_minus4 = 12}, ZEP_OK},
        SpsCase{"FrameNumLog2Of17Refused", {.log2_max_frame_num_minus4 = 13}, ZEP_FAIL},
        SpsCase{"PocLsbLog2Of17Refused",
                {.log2_max_frame_num_minus4 = 12, .log2_max_poc_lsb_minus4 = 13},
                ZEP_FAIL}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(H264SpsDamage, ScalingMatrixIsRefusedWithTheFieldsSoFarKept) {
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps({.profile_idc = 100,
                                     .level_idc = 31,
                                     .chroma_format_idc = 3,
                                     .separate_colour_plane = true,
                                     .scaling_matrix_present = true}),
                  &sps),
            ZEP_ERR_UNSUPPORTED_SPS_DATA);
  EXPECT_EQ(sps.profile_idc, 100);
  EXPECT_EQ(sps.level_idc, 31);
  EXPECT_EQ(sps.chroma_format_idc, 3);
  EXPECT_EQ(sps.separate_colour_plane_flag, 1);
  EXPECT_EQ(sps.seq_scaling_matrix_present_flag, 1);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 0u);
}

TEST(H264SpsDamage, TruncatedSpsFailsInsideItsBuffer) {
  const Bytes full =
      zeptest::make_sps({.vui = true, .timing = true, .bitstream_restriction = true});
  ZepAvcSps sps;
  ASSERT_EQ(parse(full, &sps), ZEP_OK);
  // Every cut short of the last syntax element fails.
  for (size_t length = 1; length + 1 < full.size(); ++length) {
    EXPECT_EQ(zep_avc_parse_sps(&sps, cut(full, length).get(), uint32_t(length)), ZEP_FAIL)
        << length;
  }
  // A cut inside the VUI keeps the fields that came before it.
  EXPECT_EQ(zep_avc_parse_sps(&sps, cut(full, 8).get(), 8), ZEP_FAIL);
  EXPECT_EQ(sps.profile_idc, 66);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 3u);
  EXPECT_EQ(sps.time_scale, 0u);
}

TEST(H264SpsDamage, LongZeroRunsAndNullArguments) {
  // A payload of zero bits: ue(v) codes of 32 and more leading zeros.
  Bytes nal = {0x67, 0x64, 0x00, 0x28};
  nal.resize(64, 0);
  ZepAvcSps sps;
  EXPECT_EQ(parse(nal, &sps), ZEP_FAIL);
  EXPECT_EQ(zep_avc_parse_sps(nullptr, nal.data(), 4), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_avc_parse_sps(&sps, nullptr, 4), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_avc_parse_sps(&sps, nal.data(), 0), ZEP_E_NULL_ARG);
}

// A PPS with slice groups of every map type the record keeps.
Bytes pps_with_groups(uint32_t groups_minus1, uint32_t map_type, uint32_t units_minus1) {
  BitWriter w;
  w.ue(5).ue(1).flag(true).flag(true).ue(groups_minus1);
  if (groups_minus1 > 0) {
    w.ue(map_type);
    if (map_type == 0) {
      for (uint32_t i = 0; i <= groups_minus1; ++i) w.ue(10 + i);
    } else if (map_type == 2) {
      for (uint32_t i = 0; i < groups_minus1; ++i) w.ue(i).ue(100 + i);
    } else if (map_type == 6) {
      w.ue(units_minus1);
      uint32_t bits = 0;
      while ((1u << bits) < groups_minus1 + 1) ++bits;
      for (uint32_t i = 0; i <= units_minus1; ++i) w.u(bits, i % (groups_minus1 + 1));
    }
  }
  w.ue(2).ue(1).flag(true).u(2, 2).se(-4).se(3).se(-2).flag(true).flag(false).flag(true);
  return zeptest::make_nal(3, 8, w.trailing().bytes());
}

class H264Pps : public testing::Test {
 protected:
  ZEP_STATUS parse(const Bytes& nal) {
    return zep_avc_parse_pps(pps.get(), nal.data(), uint32_t(nal.size()));
  }
  std::unique_ptr<ZepAvcPps> pps = std::make_unique<ZepAvcPps>();
};

TEST_F(H264Pps, FieldsAndSliceGroupMaps) {
  ASSERT_EQ(parse(zeptest::make_pps(3, 1)), ZEP_OK);
  EXPECT_EQ(pps->pic_parameter_set_id, 3u);
  EXPECT_EQ(pps->seq_parameter_set_id, 1u);
  EXPECT_EQ(pps->deblocking_filter_control_present_flag, 1u);

  ASSERT_EQ(parse(pps_with_groups(7, 0, 0)), ZEP_OK);
  EXPECT_EQ(pps->entropy_coding_mode_flag, 1u);
  EXPECT_EQ(pps->num_slice_groups_minus1, 7u);
  EXPECT_EQ(pps->run_length_minus1[7], 17u);
  EXPECT_EQ(pps->num_ref_idx_l0_default_active_minus1, 2u);
  EXPECT_EQ(pps->weighted_bipred_idc, 2u);
  EXPECT_EQ(pps->pic_init_qp_minus26, -4);
  EXPECT_EQ(pps->pic_init_qs_minus26, 3);
  EXPECT_EQ(pps->chroma_qp_index_offset, -2);
  EXPECT_EQ(pps->redundant_pic_cnt_present_flag, 1u);

  ASSERT_EQ(parse(pps_with_groups(3, 2, 0)), ZEP_OK);
  EXPECT_EQ(pps->bottom_right[2], 102u);
  EXPECT_EQ(pps->top_left[3], 0u);

  ASSERT_EQ(parse(pps_with_groups(2, 6, 98)), ZEP_OK);
  EXPECT_EQ(pps->pic_size_in_map_units_minus1, 98u);
  EXPECT_EQ(pps->slice_group_id[98], 2u);
  EXPECT_EQ(pps->slice_group_id[97], 1u);
  EXPECT_EQ(pps->weighted_pred_flag, 1u);
}

TEST_F(H264Pps, OversizedCountsAndTruncationAreRefused) {
  EXPECT_EQ(parse(pps_with_groups(8, 0, 0)), ZEP_FAIL);  // 9 slice groups
  // 36865 map units: one more than the record holds (only the count is coded).
  EXPECT_EQ(parse(zeptest::make_nal(
                3, 8, BitWriter().ue(0).ue(0).u(2, 0).ue(1).ue(6).ue(36864).trailing().bytes())),
            ZEP_FAIL);
  ASSERT_EQ(parse(pps_with_groups(1, 6, 36863)), ZEP_OK);  // the largest map fits
  EXPECT_EQ(pps->slice_group_id[36863], 1u);

  const Bytes full = zeptest::make_pps();
  for (size_t length = 1; length + 1 < full.size(); ++length) {
    EXPECT_EQ(zep_avc_parse_pps(pps.get(), cut(full, length).get(), uint32_t(length)), ZEP_FAIL)
        << length;
  }
}

TEST(H264Slice, LeadingFieldsFollowTheSps) {
  SpsOptions o{
      .log2_max_frame_num_minus4 = 2, .log2_max_poc_lsb_minus4 = 3, .frame_mbs_only = false};
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  zeptest::SliceOptions s{.nal_unit_type = 5,
                          .first_mb = 33,
                          .slice_type = 2,
                          .frame_num = 45,
                          .field_pic = true,
                          .bottom_field = true,
                          .idr_pic_id = 6,
                          .poc_lsb = 101};
  const Bytes nal = zeptest::make_slice(o, s);
  ZepAvcSliceHeader h;
  ASSERT_EQ(zep_avc_parse_slice_header(&sps, nal.data(), uint32_t(nal.size()), 5, &h), ZEP_OK);
  EXPECT_EQ(h.first_mb_in_slice, 33u);
  EXPECT_EQ(h.slice_type, 2u);
  EXPECT_EQ(h.frame_num, 45u);
  EXPECT_EQ(h.field_pic_flag, 1u);
  EXPECT_EQ(h.bottom_field_flag, 1u);
  EXPECT_EQ(h.idr_pic_id, 6u);
  EXPECT_EQ(h.pic_order_cnt_lsb, 101u);

  // As a non-IDR slice of a POC type 2 stream: no idr_pic_id, no lsb.
  sps.pic_order_cnt_type = 2;
  o.poc_type = 2;
  s.nal_unit_type = 1;
  const Bytes p = zeptest::make_slice(o, s);
  ASSERT_EQ(zep_avc_parse_slice_header(&sps, p.data(), uint32_t(p.size()), 1, &h), ZEP_OK);
  EXPECT_EQ(h.frame_num, 45u);
  EXPECT_EQ(h.idr_pic_id, 0u);
  EXPECT_EQ(h.pic_order_cnt_lsb, 0u);
}

TEST(H264Slice, PictureOrderDeltasNeedThePps) {
  SpsOptions o{.frame_mbs_only = false};
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  const Bytes pps_nal = zeptest::make_pps(0, 0, true);
  auto pps = std::make_unique<ZepAvcPps>();
  ASSERT_EQ(zep_avc_parse_pps(pps.get(), pps_nal.data(), uint32_t(pps_nal.size())), ZEP_OK);
  EXPECT_EQ(pps->bottom_field_pic_order_in_frame_present_flag, 1u);
  zeptest::SliceOptions s{.nal_unit_type = 1,
                          .poc_lsb = 9,
                          .delta_pic_order_cnt_0 = -7,
                          .with_bottom_delta = true,
                          .delta_pic_order_cnt_bottom = -1,
                          .delta_pic_order_cnt_1 = 3};
  ZepAvcSliceHeader h;
  auto parse_slice = [&](const ZepAvcPps* with_pps) {
    const Bytes nal = zeptest::make_slice(o, s);
    return zep_avc_parse_slice_header_poc(&sps, with_pps, nal.data(), uint32_t(nal.size()), 1, &h);
  };
  ASSERT_EQ(parse_slice(pps.get()), ZEP_OK);
  EXPECT_EQ(h.pic_order_cnt_lsb, 9u);
  EXPECT_EQ(h.delta_pic_order_cnt_bottom, -1);
  // Without the PPS the parser stops at the lsb.
  ASSERT_EQ(parse_slice(nullptr), ZEP_OK);
  EXPECT_EQ(h.delta_pic_order_cnt_bottom, 0);

  // Type 1: delta_pic_order_cnt[0] always, [1] with the PPS flag on frames.
  o.poc_type = 1;
  o.offset_for_ref_frame = {2};
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  ASSERT_EQ(parse_slice(pps.get()), ZEP_OK);
  EXPECT_EQ(h.delta_pic_order_cnt_0, -7);
  EXPECT_EQ(h.delta_pic_order_cnt_1, 3);
  EXPECT_EQ(h.pic_order_cnt_lsb, 0u);
}

TEST(H264Slice, ShortSlicesAndBadSpsFail) {
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps({}), &sps), ZEP_OK);
  const uint8_t two[] = {0x65, 0x88};  // first_mb 0, slice_type 7, then nothing
  ZepAvcSliceHeader h;
  EXPECT_EQ(zep_avc_parse_slice_header(&sps, two, 2, 5, &h), ZEP_FAIL);
  EXPECT_EQ(h.first_mb_in_slice, 0u);
  EXPECT_EQ(h.slice_type, 7u);
  EXPECT_EQ(zep_avc_parse_slice_header(&sps, two, 1, 5, &h), ZEP_FAIL);
  EXPECT_EQ(zep_avc_parse_slice_header(nullptr, two, 2, 5, &h), ZEP_E_NULL_ARG);
  sps.log2_max_frame_num_minus4 = 200;  // a record filled by hand
  EXPECT_EQ(zep_avc_parse_slice_header(&sps, two, 2, 5, &h), ZEP_FAIL);
}

}  // namespace
