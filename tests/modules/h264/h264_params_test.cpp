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

TEST(H264Sps, BaselineHasNoChromaFields) {
  SpsOptions o;
  o.profile_idc = 66;
  o.level_idc = 21;
  o.log2_max_frame_num_minus4 = 5;
  o.poc_type = 2;
  o.width_mbs = 10;
  o.height_mbs = 8;
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  EXPECT_EQ(sps.profile_idc, 66);
  EXPECT_EQ(sps.constraint_flags, 0xC0);
  EXPECT_EQ(sps.level_idc, 21);
  EXPECT_EQ(sps.chroma_format_idc, 0);  // absent, not the inferred 1
  EXPECT_EQ(sps.log2_max_frame_num_minus4, 5);
  EXPECT_EQ(sps.pic_order_cnt_type, 2);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 9u);
  EXPECT_EQ(sps.pic_height_in_map_units_minus1, 7u);
  EXPECT_EQ(sps.frame_mbs_only_flag, 1);
  EXPECT_EQ(sps.vui_parameters_present_flag, 0);
  EXPECT_EQ(sps.time_scale, 0u);
  EXPECT_EQ(sps.num_units_in_tick, 0u);
}

TEST(H264Sps, HighProfileWithCroppingAndExtendedSar) {
  SpsOptions o;
  o.profile_idc = 100;
  o.constraint_flags = 0;
  o.level_idc = 40;
  o.chroma_format_idc = 1;
  o.bit_depth_luma_minus8 = 2;
  o.bit_depth_chroma_minus8 = 2;
  o.log2_max_poc_lsb_minus4 = 4;
  o.width_mbs = 120;
  o.height_mbs = 68;
  o.cropping = true;
  o.crop_bottom = 4;
  o.vui = true;
  o.aspect_ratio_info = true;
  o.aspect_ratio_idc = 255;
  o.sar_width = 4;
  o.sar_height = 3;
  o.timing = true;
  o.num_units_in_tick = 1001;
  o.time_scale = 60000;
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  EXPECT_EQ(sps.chroma_format_idc, 1);
  EXPECT_EQ(sps.bit_depth_luma_minus8, 2);
  EXPECT_EQ(sps.log2_max_pic_order_cnt_lsb_minus4, 4);
  EXPECT_EQ(sps.frame_cropping_flag, 1);
  EXPECT_EQ(sps.frame_crop_bottom_offset, 4);
  EXPECT_EQ(sps.aspect_ratio_idc, 255);
  EXPECT_EQ(sps.sar_width, 4);
  EXPECT_EQ(sps.sar_height, 3);
  EXPECT_EQ(sps.video_signal_type_present_flag, 1);
  EXPECT_EQ(sps.video_format, 5);
  EXPECT_EQ(sps.colour_primaries, 1);
  EXPECT_EQ(sps.timing_info_present_flag, 1);
  EXPECT_EQ(sps.num_units_in_tick, 1001u);
  EXPECT_EQ(sps.time_scale, 60000u);
  EXPECT_EQ(sps.fixed_frame_rate_flag, 1);
}

TEST(H264Sps, ScalingMatrixIsRefusedWithTheFieldsSoFarKept) {
  SpsOptions o;
  o.profile_idc = 100;
  o.level_idc = 31;
  o.chroma_format_idc = 3;
  o.separate_colour_plane = true;
  o.scaling_matrix_present = true;
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_ERR_UNSUPPORTED_SPS_DATA);
  EXPECT_EQ(sps.profile_idc, 100);
  EXPECT_EQ(sps.level_idc, 31);
  EXPECT_EQ(sps.chroma_format_idc, 3);
  EXPECT_EQ(sps.separate_colour_plane_flag, 1);
  EXPECT_EQ(sps.seq_scaling_matrix_present_flag, 1);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 0u);
}

TEST(H264Sps, HrdAndBitstreamRestrictionWithLowDelayFlagSkipped) {
  SpsOptions o;
  o.vui = true;
  o.timing = true;
  o.nal_hrd = true;
  o.vcl_hrd = true;
  o.hrd.cpb_cnt_minus1 = 2;
  o.hrd.cbr = true;
  o.low_delay_hrd = true;  // a 1 bit that must not shift the fields behind it
  o.pic_struct_present = false;
  o.bitstream_restriction = true;
  o.max_num_reorder_frames = 2;
  o.max_dec_frame_buffering = 4;
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  for (const ZepAvcHrd* hrd : {&sps.nal_hrd, &sps.vcl_hrd}) {
    EXPECT_EQ(hrd->cpb_cnt_minus1, 2);
    EXPECT_EQ(hrd->bit_rate_scale, 2);
    EXPECT_EQ(hrd->cpb_size_scale, 3);
    EXPECT_EQ(hrd->bit_rate_value_minus1[2], 1002u);
    EXPECT_EQ(hrd->cpb_size_value_minus1[1], 2001u);
    EXPECT_EQ(hrd->cbr_flag[0], 1);
    EXPECT_EQ(hrd->initial_cpb_removal_delay_length_minus1, 23);
    EXPECT_EQ(hrd->time_offset_length, 20);
  }
  EXPECT_EQ(sps.pic_struct_present_flag, 0);
  EXPECT_EQ(sps.bitstream_restriction_flag, 1);
  EXPECT_EQ(sps.motion_vectors_over_pic_boundaries_flag, 1);
  EXPECT_EQ(sps.max_bytes_per_pic_denom, 2);
  EXPECT_EQ(sps.log2_max_mv_length_vertical, 16);
  EXPECT_EQ(sps.max_num_reorder_frames, 2);
  EXPECT_EQ(sps.max_dec_frame_buffering, 4);
}

TEST(H264Sps, PocTypeOneCycle) {
  SpsOptions o;
  o.poc_type = 1;
  o.offset_for_non_ref_pic = -3;
  o.offset_for_top_to_bottom_field = 1;
  o.offset_for_ref_frame = {2, -5, 7};
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  EXPECT_EQ(sps.offset_for_non_ref_pic, -3);
  EXPECT_EQ(sps.offset_for_top_to_bottom_field, 1);
  EXPECT_EQ(sps.num_ref_frames_in_pic_order_cnt_cycle, 3);
  EXPECT_EQ(sps.offset_for_ref_frame[1], -5);
  EXPECT_EQ(sps.offset_for_ref_frame[2], 7);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 3u);
}

// Every count that sizes an array of the record is checked before use.
TEST(H264Sps, OversizedCountsAreRefused) {
  SpsOptions cycle;
  cycle.poc_type = 1;
  cycle.offset_for_ref_frame.assign(256, 1);
  ZepAvcSps sps;
  EXPECT_EQ(parse(zeptest::make_sps(cycle), &sps), ZEP_FAIL);
  cycle.offset_for_ref_frame.assign(255, 1);
  EXPECT_EQ(parse(zeptest::make_sps(cycle), &sps), ZEP_OK);
  EXPECT_EQ(sps.offset_for_ref_frame[254], 1);

  SpsOptions hrd;
  hrd.vui = true;
  hrd.nal_hrd = true;
  hrd.hrd.cpb_cnt_minus1 = 32;
  EXPECT_EQ(parse(zeptest::make_sps(hrd), &sps), ZEP_FAIL);
  hrd.hrd.cpb_cnt_minus1 = 31;
  EXPECT_EQ(parse(zeptest::make_sps(hrd), &sps), ZEP_OK);

  SpsOptions log2;
  log2.log2_max_frame_num_minus4 = 13;
  EXPECT_EQ(parse(zeptest::make_sps(log2), &sps), ZEP_FAIL);
  log2.log2_max_frame_num_minus4 = 12;
  log2.log2_max_poc_lsb_minus4 = 13;
  EXPECT_EQ(parse(zeptest::make_sps(log2), &sps), ZEP_FAIL);
}

TEST(H264Sps, TruncatedSpsFailsInsideItsBuffer) {
  SpsOptions o;
  o.vui = true;
  o.timing = true;
  o.bitstream_restriction = true;
  const Bytes full = zeptest::make_sps(o);
  ZepAvcSps sps;
  ASSERT_EQ(parse(full, &sps), ZEP_OK);
  // Every cut short of the last syntax element fails; the copy on the heap
  // lets the sanitizer see any read past its end.
  for (size_t length = 1; length + 1 < full.size(); ++length) {
    std::unique_ptr<uint8_t[]> cut(new uint8_t[length]);
    std::copy(full.begin(), full.begin() + ptrdiff_t(length), cut.get());
    EXPECT_EQ(zep_avc_parse_sps(&sps, cut.get(), uint32_t(length)), ZEP_FAIL) << length;
  }
  // A cut inside the VUI keeps the fields that came before it.
  std::unique_ptr<uint8_t[]> cut(new uint8_t[8]);
  std::copy(full.begin(), full.begin() + 8, cut.get());
  EXPECT_EQ(zep_avc_parse_sps(&sps, cut.get(), 8), ZEP_FAIL);
  EXPECT_EQ(sps.profile_idc, 66);
  EXPECT_EQ(sps.pic_width_in_mbs_minus1, 3u);
  EXPECT_EQ(sps.time_scale, 0u);
}

TEST(H264Sps, LongZeroRunsAndNullArguments) {
  // A payload of zero bits: ue(v) codes of 32 and more leading zeros.
  Bytes nal = {0x67, 0x64, 0x00, 0x28};
  nal.resize(64, 0);
  ZepAvcSps sps;
  EXPECT_EQ(parse(nal, &sps), ZEP_FAIL);
  EXPECT_EQ(zep_avc_parse_sps(nullptr, nal.data(), 4), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_avc_parse_sps(&sps, nullptr, 4), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_avc_parse_sps(&sps, nal.data(), 0), ZEP_E_NULL_ARG);
}

Bytes pps_with_groups(uint32_t groups_minus1, uint32_t map_type, uint32_t units_minus1) {
  BitWriter w;
  w.ue(5).ue(1).flag(true).flag(true).ue(groups_minus1);
  if (groups_minus1 > 0) {
    w.ue(map_type);
    if (map_type == 0) {
      for (uint32_t i = 0; i <= groups_minus1; ++i) w.ue(10 + i);
    } else if (map_type == 2) {
      for (uint32_t i = 0; i < groups_minus1; ++i) w.ue(i).ue(100 + i);
    } else if (map_type >= 3 && map_type <= 5) {
      w.flag(true).ue(9);
    } else if (map_type == 6) {
      w.ue(units_minus1);
      uint32_t bits = 0;
      while ((1u << bits) < groups_minus1 + 1) ++bits;
      for (uint32_t i = 0; i <= units_minus1; ++i) w.u(bits, i % (groups_minus1 + 1));
    }
  }
  w.ue(2).ue(1).flag(true).u(2, 2).se(-4).se(3).se(-2).flag(true).flag(false).flag(true);
  w.trailing();
  return zeptest::make_nal(3, 8, w.bytes());
}

TEST(H264Pps, FieldsAndSliceGroupMaps) {
  auto pps = std::make_unique<ZepAvcPps>();
  Bytes nal = zeptest::make_pps(3, 1);
  ASSERT_EQ(zep_avc_parse_pps(pps.get(), nal.data(), uint32_t(nal.size())), ZEP_OK);
  EXPECT_EQ(pps->pic_parameter_set_id, 3u);
  EXPECT_EQ(pps->seq_parameter_set_id, 1u);
  EXPECT_EQ(pps->deblocking_filter_control_present_flag, 1u);

  nal = pps_with_groups(7, 0, 0);
  ASSERT_EQ(zep_avc_parse_pps(pps.get(), nal.data(), uint32_t(nal.size())), ZEP_OK);
  EXPECT_EQ(pps->entropy_coding_mode_flag, 1u);
  EXPECT_EQ(pps->num_slice_groups_minus1, 7u);
  EXPECT_EQ(pps->run_length_minus1[7], 17u);
  EXPECT_EQ(pps->num_ref_idx_l0_default_active_minus1, 2u);
  EXPECT_EQ(pps->weighted_bipred_idc, 2u);
  EXPECT_EQ(pps->pic_init_qp_minus26, -4);
  EXPECT_EQ(pps->pic_init_qs_minus26, 3);
  EXPECT_EQ(pps->chroma_qp_index_offset, -2);
  EXPECT_EQ(pps->redundant_pic_cnt_present_flag, 1u);

  nal = pps_with_groups(3, 2, 0);
  ASSERT_EQ(zep_avc_parse_pps(pps.get(), nal.data(), uint32_t(nal.size())), ZEP_OK);
  EXPECT_EQ(pps->bottom_right[2], 102u);
  EXPECT_EQ(pps->top_left[3], 0u);

  nal = pps_with_groups(2, 6, 98);
  ASSERT_EQ(zep_avc_parse_pps(pps.get(), nal.data(), uint32_t(nal.size())), ZEP_OK);
  EXPECT_EQ(pps->pic_size_in_map_units_minus1, 98u);
  EXPECT_EQ(pps->slice_group_id[98], 2u);
  EXPECT_EQ(pps->slice_group_id[97], 1u);
  EXPECT_EQ(pps->weighted_pred_flag, 1u);
}

TEST(H264Pps, OversizedCountsAndTruncationAreRefused) {
  auto pps = std::make_unique<ZepAvcPps>();
  Bytes nal = pps_with_groups(8, 0, 0);
  EXPECT_EQ(zep_avc_parse_pps(pps.get(), nal.data(), uint32_t(nal.size())), ZEP_FAIL);
  // 36865 map units: one more than the record holds (only the count is coded).
  BitWriter w;
  w.ue(0).ue(0).flag(false).flag(false).ue(1).ue(6).ue(36864);
  w.trailing();
  nal = zeptest::make_nal(3, 8, w.bytes());
  EXPECT_EQ(zep_avc_parse_pps(pps.get(), nal.data(), uint32_t(nal.size())), ZEP_FAIL);
  // The largest map fits.
  nal = pps_with_groups(1, 6, 36863);
  EXPECT_EQ(zep_avc_parse_pps(pps.get(), nal.data(), uint32_t(nal.size())), ZEP_OK);
  EXPECT_EQ(pps->slice_group_id[36863], 1u);

  const Bytes full = zeptest::make_pps();
  for (size_t length = 1; length + 1 < full.size(); ++length) {
    std::unique_ptr<uint8_t[]> cut(new uint8_t[length]);
    std::copy(full.begin(), full.begin() + ptrdiff_t(length), cut.get());
    EXPECT_EQ(zep_avc_parse_pps(pps.get(), cut.get(), uint32_t(length)), ZEP_FAIL) << length;
  }
}

TEST(H264Slice, LeadingFieldsFollowTheSps) {
  SpsOptions o;
  o.log2_max_frame_num_minus4 = 2;
  o.log2_max_poc_lsb_minus4 = 3;
  o.frame_mbs_only = false;
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  zeptest::SliceOptions s;
  s.nal_unit_type = 5;
  s.first_mb = 33;
  s.slice_type = 2;
  s.frame_num = 45;
  s.field_pic = true;
  s.bottom_field = true;
  s.idr_pic_id = 6;
  s.poc_lsb = 101;
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
  SpsOptions o;
  o.frame_mbs_only = false;
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  const Bytes pps_nal = zeptest::make_pps(0, 0, true);
  auto pps = std::make_unique<ZepAvcPps>();
  ASSERT_EQ(zep_avc_parse_pps(pps.get(), pps_nal.data(), uint32_t(pps_nal.size())), ZEP_OK);
  EXPECT_EQ(pps->bottom_field_pic_order_in_frame_present_flag, 1u);

  zeptest::SliceOptions s;
  s.nal_unit_type = 1;
  s.poc_lsb = 9;
  s.with_bottom_delta = true;
  s.delta_pic_order_cnt_bottom = -1;
  Bytes nal = zeptest::make_slice(o, s);
  ZepAvcSliceHeader h;
  ASSERT_EQ(
      zep_avc_parse_slice_header_poc(&sps, pps.get(), nal.data(), uint32_t(nal.size()), 1, &h),
      ZEP_OK);
  EXPECT_EQ(h.pic_order_cnt_lsb, 9u);
  EXPECT_EQ(h.delta_pic_order_cnt_bottom, -1);
  // The plain parser stops at the lsb.
  ASSERT_EQ(zep_avc_parse_slice_header(&sps, nal.data(), uint32_t(nal.size()), 1, &h), ZEP_OK);
  EXPECT_EQ(h.delta_pic_order_cnt_bottom, 0);

  // Type 1: delta_pic_order_cnt[0] always, [1] with the PPS flag on frames.
  o.poc_type = 1;
  o.offset_for_ref_frame = {2};
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  s.delta_pic_order_cnt_0 = -7;
  s.delta_pic_order_cnt_1 = 3;
  nal = zeptest::make_slice(o, s);
  ASSERT_EQ(
      zep_avc_parse_slice_header_poc(&sps, pps.get(), nal.data(), uint32_t(nal.size()), 1, &h),
      ZEP_OK);
  EXPECT_EQ(h.delta_pic_order_cnt_0, -7);
  EXPECT_EQ(h.delta_pic_order_cnt_1, 3);
  EXPECT_EQ(h.pic_order_cnt_lsb, 0u);
}

TEST(H264Slice, ShortSlicesAndBadSpsFail) {
  SpsOptions o;
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
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
