// The bitstream tools: bit reader, Exp-Golomb codes, start-code scanning and
// unescaping, and SPS, PPS and slice-header parsing, including damaged and
// oversized input.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "modules/h264/h264_bitstream.h"
#include "tests/support/nal_builder.h"

namespace {

using zeptest::BitWriter;
using zeptest::Bytes;
using zeptest::SpsOptions;

TEST(H264Bits, ReadsMostSignificantBitFirstAndZerosPastTheEnd) {
  const uint8_t data[] = {0xA5, 0x3C, 0xFF, 0x01};
  const uint8_t ones[] = {0xFF, 0xFF};  // a size of 1: the second byte must never be read
  const struct {
    const uint8_t* data;
    uint32_t size;
    uint64_t position;
    uint32_t count;
    uint64_t value;
  } cases[] = {
      {data, 4, 0, 0, 0},
      {data, 4, 0, 1, 1},
      {data, 4, 1, 3, 0x2},   // 010
      {data, 4, 4, 8, 0x53},  // 0101 0011
      {data, 4, 0, 32, 0xA53CFF01},
      {data, 4, 3, 17, (0xA53CFFull >> 4) & 0x1FFFF},
      {ones, 1, 4, 8, 0xF0},
      {ones, 1, 8, 64, 0},
      {ones, 1, 0, 64, 0xFFull << 56},
      {nullptr, 8, 0, 8, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zep_bits_read(c.data, c.size, c.position, c.count), c.value)
        << "bit " << c.position << ", " << c.count << " bits of " << c.size << " bytes";
  }
}

TEST(H264Bits, ExpGolombCodesAndRefusedCodes) {
  Bytes long_code(4, 0);  // 32 zeros, a 1: no 32-bit value
  long_code.push_back(0x80);
  long_code.resize(16, 0xFF);
  const struct {
    Bytes data;
    uint32_t size;
    uint64_t position, ue;
    int64_t se;
    uint32_t used;  // 0: the code is refused
  } cases[] = {
      // 1 010 011 00100 1111: ue 0, 1, 2, 3 and se 0, 1, -1, 2.
      {{0xA6, 0x4F}, 2, 0, 0, 0, 1},
      {{0xA6, 0x4F}, 2, 1, 1, 1, 3},
      {{0xA6, 0x4F}, 2, 4, 2, -1, 3},
      {{0xA6, 0x4F}, 2, 7, 3, 2, 5},
      {BitWriter().ue(0xFFFFFFFEull).bytes(), 8, 0, 0xFFFFFFFEull, -0x7FFFFFFF, 63},
      {Bytes(64, 0), 64, 0, 0, 0, 0},  // the reader stops at 32 zeros
      {long_code, 16, 0, 0, 0, 0},
      {{0x00, 0x01, 0xFF}, 2, 0, 0, 0, 0},  // 15 zeros, a 1, then 15 bits needed
      {{0x00, 0x01, 0xFF}, 3, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    uint32_t ue_used = 99, se_used = 99;
    EXPECT_EQ(zep_bits_read_ue(c.data.data(), c.size, c.position, &ue_used), c.ue) << c.position;
    EXPECT_EQ(zep_bits_read_se(c.data.data(), c.size, c.position, &se_used), c.se) << c.position;
    EXPECT_EQ(ue_used, c.used) << c.position;
    EXPECT_EQ(se_used, c.used) << c.position;
  }
}

TEST(H264Bits, ReaderFailsOnceAndStaysPut) {
  const uint8_t data[] = {0x5F};  // 010 11111: ue 1, then 5 bits
  ZepBitReader r;
  zep_bit_reader_init(&r, data, 1);
  EXPECT_EQ(zep_bit_reader_ue(&r), 1u);
  EXPECT_EQ(zep_bit_reader_u(&r, 4), 0xFu);
  EXPECT_EQ(r.failed, 0u);
  EXPECT_EQ(zep_bit_reader_u(&r, 2), 0u);  // one bit left: refused
  EXPECT_EQ(r.failed, 1u);
  EXPECT_EQ(r.position, 7u);
  EXPECT_EQ(zep_bit_reader_u(&r, 1), 0u);  // even one bit after a failure
  EXPECT_EQ(zep_bit_reader_se(&r), 0);
  EXPECT_EQ(r.position, 7u);
}

TEST(H264Nal, StartCodeAtTheHeadOfARange) {
  const uint8_t three[] = {0, 0, 1, 0x67}, four[] = {0, 0, 0, 1, 0x67};
  const uint8_t many_zeros[] = {0, 0, 0, 0, 0, 0, 1, 0x65}, garbage[] = {1, 0, 0, 1};
  const uint8_t zeros[] = {0, 0, 0, 0};
  const struct {
    const uint8_t* data;
    uint32_t size;
    ZEP_STATUS status;
    uint32_t offset;
  } cases[] = {
      {four, 5, ZEP_OK, 4},      {three, 4, ZEP_OK, 3},   {many_zeros, 8, ZEP_OK, 7},
      {three, 3, ZEP_OK, 3},  // nothing behind: an empty unit
      {garbage, 4, ZEP_FAIL, 0}, {zeros, 4, ZEP_FAIL, 0}, {three, 2, ZEP_FAIL, 0},
  };
  for (const auto& c : cases) {
    uint32_t offset = 0;
    ASSERT_EQ(zep_nal_find_start(c.data, c.size, &offset), c.status) << c.size;
    EXPECT_EQ(c.status == ZEP_OK ? offset : 0u, c.offset) << c.size;
  }
}

TEST(H264Nal, EndOfANalUnit) {
  std::vector<std::pair<Bytes, uint32_t>> cases = {
      {{0x65, 0x88, 0x84, 0, 0, 0, 1, 0x41}, 3},  // ends at the zeros of the next start code
      {{0x65, 0x88, 0, 0, 1, 0x41}, 2},
      {{0x65, 0, 0, 3, 1, 0x22}, 6},  // 00 00 03 is escaped data, not an end
      {{0x65, 0x11, 0x22, 0, 0}, 5},  // the last unit runs to the end, even inside 00 00
  };
  for (uint32_t at = 1; at < 8; ++at) {  // zero pairs at odd and even offsets
    Bytes b(10, 0x55);
    b[at] = b[at + 1] = 0;
    b[at + 2] = 1;
    cases.push_back({b, at});
  }
  for (const auto& [data, expected] : cases) {
    uint32_t length = 0;
    EXPECT_EQ(zep_nal_find_end(data.data(), uint32_t(data.size()), &length), ZEP_OK);
    EXPECT_EQ(length, expected) << testing::PrintToString(data);
  }
}

TEST(H264Nal, UnescapeRemovesEmulationPreventionBytes) {
  const Bytes rbsp = {0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 7, 0, 0};
  const std::pair<Bytes, Bytes> cases[] = {
      {{0x67, 0x00, 0x00, 0x03, 0x00}, {0, 0, 0}},
      {{0x67, 0x00, 0x00, 0x03, 0x03}, {0, 0, 3}},
      {{0x67, 0x12, 0x00, 0x00}, {0x12, 0, 0}},  // the last two bytes are copied as they are
      {{0x67}, {}},
      {zeptest::make_nal(3, 7, rbsp), rbsp},  // round trip through the test writer's escaping
  };
  for (const auto& [nal, expected] : cases) {
    Bytes out(nal.size());
    out.resize(zep_avc_unescape(nal.data(), uint32_t(nal.size()), out.data()));
    EXPECT_EQ(out, expected) << testing::PrintToString(nal);
  }
}

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

template <typename... T>
std::vector<int64_t> ints(T... values) {
  return {int64_t(values)...};
}

// The fields the test writer codes, against the options it was given; absent
// fields read 0 (chroma_format_idc too, not the inferred 1).
void expect_sps(const SpsOptions& o, const ZepAvcSps& s) {
  const int chroma = zeptest::sps_has_chroma_info(o.profile_idc);
  EXPECT_EQ(ints(s.profile_idc, s.constraint_flags, s.level_idc, s.chroma_format_idc,
                 s.bit_depth_luma_minus8, s.bit_depth_chroma_minus8),
            ints(o.profile_idc, o.constraint_flags, o.level_idc, chroma * o.chroma_format_idc,
                 chroma * o.bit_depth_luma_minus8, chroma * o.bit_depth_chroma_minus8));
  EXPECT_EQ(
      ints(s.log2_max_frame_num_minus4, s.pic_order_cnt_type, s.log2_max_pic_order_cnt_lsb_minus4,
           s.offset_for_non_ref_pic, s.offset_for_top_to_bottom_field),
      ints(o.log2_max_frame_num_minus4, o.poc_type, o.poc_type == 0 ? o.log2_max_poc_lsb_minus4 : 0,
           o.offset_for_non_ref_pic, o.offset_for_top_to_bottom_field));
  EXPECT_EQ(std::vector<int32_t>(s.offset_for_ref_frame,
                                 s.offset_for_ref_frame + s.num_ref_frames_in_pic_order_cnt_cycle),
            o.offset_for_ref_frame);
  EXPECT_EQ(ints(s.max_num_ref_frames, s.pic_width_in_mbs_minus1 + 1,
                 s.pic_height_in_map_units_minus1 + 1, s.frame_mbs_only_flag,
                 s.mb_adaptive_frame_field_flag, s.direct_8x8_inference_flag),
            ints(o.max_num_ref_frames, o.width_mbs, o.height_mbs, o.frame_mbs_only, o.mbaff, 1));
  EXPECT_EQ(ints(s.frame_cropping_flag, s.frame_crop_left_offset, s.frame_crop_bottom_offset),
            ints(o.cropping, o.crop_left, o.crop_bottom));
  EXPECT_EQ(ints(s.vui_parameters_present_flag, s.aspect_ratio_idc, s.sar_width, s.sar_height),
            ints(o.vui, o.aspect_ratio_idc, o.sar_width, o.sar_height));
  // The writer's video signal: format 5, colour description 1, 1, 1.
  EXPECT_EQ(ints(s.video_signal_type_present_flag, s.video_format, s.colour_primaries,
                 s.transfer_characteristics, s.matrix_coefficients),
            ints(o.vui, o.vui * 5, o.vui, o.vui, o.vui));
  EXPECT_EQ(ints(s.timing_info_present_flag, s.num_units_in_tick, s.time_scale,
                 s.fixed_frame_rate_flag, s.nal_hrd_parameters_present_flag,
                 s.vcl_hrd_parameters_present_flag, s.pic_struct_present_flag),
            ints(o.timing, o.timing * o.num_units_in_tick, o.timing * o.time_scale,
                 o.timing && o.fixed_frame_rate, o.nal_hrd, o.vcl_hrd, o.pic_struct_present));
  for (const auto& [present, hrd] : {std::pair{o.nal_hrd, &s.nal_hrd}, {o.vcl_hrd, &s.vcl_hrd}}) {
    if (!present) continue;
    // The writer's scales 2 and 3 and lengths 23, 22, 21, 20.
    EXPECT_EQ(
        ints(hrd->cpb_cnt_minus1, hrd->bit_rate_scale, hrd->cpb_size_scale,
             hrd->initial_cpb_removal_delay_length_minus1, hrd->cpb_removal_delay_length_minus1,
             hrd->dpb_output_delay_length_minus1, hrd->time_offset_length),
        ints(o.hrd.cpb_cnt_minus1, 2, 3, 23, 22, 21, 20));
    for (uint32_t i = 0; i <= o.hrd.cpb_cnt_minus1; ++i) {
      EXPECT_EQ(
          ints(hrd->bit_rate_value_minus1[i], hrd->cpb_size_value_minus1[i], hrd->cbr_flag[i]),
          ints(o.hrd.bit_rate_value_minus1 + i, o.hrd.cpb_size_value_minus1 + i, o.hrd.cbr))
          << i;
    }
  }
  // The writer's restriction fields: 1, 2, 1, 16, 16.
  const int r = o.bitstream_restriction;
  EXPECT_EQ(
      ints(s.bitstream_restriction_flag, s.motion_vectors_over_pic_boundaries_flag,
           s.max_bytes_per_pic_denom, s.max_bits_per_mb_denom, s.log2_max_mv_length_horizontal,
           s.log2_max_mv_length_vertical, s.max_num_reorder_frames, s.max_dec_frame_buffering),
      ints(r, r, r * 2, r, r * 16, r * 16, r * o.max_num_reorder_frames,
           r * o.max_dec_frame_buffering));
}

struct SpsCase {
  const char* name;
  SpsOptions options;
};

void PrintTo(const SpsCase& c, std::ostream* os) { *os << c.name; }
class H264Sps : public testing::TestWithParam<SpsCase> {};

TEST_P(H264Sps, ParsesEveryCodedField) {
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps(GetParam().options), &sps), ZEP_OK);
  expect_sps(GetParam().options, sps);
}

INSTANTIATE_TEST_SUITE_P(
    Sets, H264Sps,
    testing::Values(
        SpsCase{"BaselineWithoutChromaFields",
                {.level_idc = 21,
                 .log2_max_frame_num_minus4 = 5,
                 .poc_type = 2,
                 .width_mbs = 10,
                 .height_mbs = 8}},
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
                 .time_scale = 60000}},
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
                 .max_dec_frame_buffering = 4}},
        SpsCase{"PocTypeOneCycle",
                {.poc_type = 1,
                 .offset_for_non_ref_pic = -3,
                 .offset_for_top_to_bottom_field = 1,
                 .offset_for_ref_frame = {2, -5, 7}}},
        SpsCase{"LargestPocCycle", {.poc_type = 1, .offset_for_ref_frame = std::vector(255, 1)}},
        SpsCase{"LargestCpbCount", {.vui = true, .nal_hrd = true, .hrd = {.cpb_cnt_minus1 = 31}}}),
    [](const auto& param) { return std::string(param.param.name); });

// Every count that sizes an array of the record is checked before use.
TEST(H264SpsDamage, OversizedCountsAreRefused) {
  const SpsOptions cases[] = {
      {.poc_type = 1, .offset_for_ref_frame = std::vector(256, 1)},   // 256 frames in the cycle
      {.vui = true, .nal_hrd = true, .hrd = {.cpb_cnt_minus1 = 32}},  // 33 schedules
      {.log2_max_frame_num_minus4 = 13},
      {.log2_max_frame_num_minus4 = 12, .log2_max_poc_lsb_minus4 = 13},
  };
  for (const SpsOptions& o : cases) {
    ZepAvcSps sps;
    EXPECT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_FAIL) << &o - cases;
  }
}

TEST(H264SpsDamage, ScalingMatrixIsRefusedWithTheFieldsSoFarKept) {
  ZepAvcSps sps;
  ASSERT_EQ(parse(zeptest::make_sps({.profile_idc = 100,
                                     .level_idc = 31,
                                     .chroma_format_idc = 3,
                                     .separate_colour_plane = true,
                                     .scaling_matrix_present = true}),
                  &sps),
            ZEP_ERR_UNSUPPORTED_SPS_DATA);
  EXPECT_EQ(
      ints(sps.profile_idc, sps.level_idc, sps.chroma_format_idc, sps.separate_colour_plane_flag,
           sps.seq_scaling_matrix_present_flag, sps.pic_width_in_mbs_minus1),
      ints(100, 31, 3, 1, 1, 0));
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
  EXPECT_EQ(ints(sps.profile_idc, sps.pic_width_in_mbs_minus1, sps.time_scale), ints(66, 3, 0));
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
  EXPECT_EQ(ints(pps->pic_parameter_set_id, pps->seq_parameter_set_id,
                 pps->deblocking_filter_control_present_flag),
            ints(3, 1, 1));

  ASSERT_EQ(parse(pps_with_groups(7, 0, 0)), ZEP_OK);
  EXPECT_EQ(ints(pps->entropy_coding_mode_flag, pps->num_slice_groups_minus1,
                 pps->run_length_minus1[7], pps->num_ref_idx_l0_default_active_minus1,
                 pps->weighted_bipred_idc, pps->pic_init_qp_minus26, pps->pic_init_qs_minus26,
                 pps->chroma_qp_index_offset, pps->redundant_pic_cnt_present_flag),
            ints(1, 7, 17, 2, 2, -4, 3, -2, 1));

  ASSERT_EQ(parse(pps_with_groups(3, 2, 0)), ZEP_OK);
  EXPECT_EQ(ints(pps->bottom_right[2], pps->top_left[3]), ints(102, 0));

  ASSERT_EQ(parse(pps_with_groups(2, 6, 98)), ZEP_OK);
  EXPECT_EQ(ints(pps->pic_size_in_map_units_minus1, pps->slice_group_id[98],
                 pps->slice_group_id[97], pps->weighted_pred_flag),
            ints(98, 2, 1, 1));
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

// The slice header fields the parsers fill, colour_plane_id and pps id aside.
std::vector<int64_t> fields(const ZepAvcSliceHeader& h) {
  return ints(h.first_mb_in_slice, h.slice_type, h.frame_num, h.field_pic_flag, h.bottom_field_flag,
              h.idr_pic_id, h.pic_order_cnt_lsb, h.delta_pic_order_cnt_bottom,
              h.delta_pic_order_cnt_0, h.delta_pic_order_cnt_1);
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
  EXPECT_EQ(fields(h), ints(33, 2, 45, 1, 1, 6, 101, 0, 0, 0));

  // As a non-IDR slice of a POC type 2 stream: no idr_pic_id, no lsb.
  sps.pic_order_cnt_type = 2;
  o.poc_type = 2;
  s.nal_unit_type = 1;
  const Bytes p = zeptest::make_slice(o, s);
  ASSERT_EQ(zep_avc_parse_slice_header(&sps, p.data(), uint32_t(p.size()), 1, &h), ZEP_OK);
  EXPECT_EQ(fields(h), ints(33, 2, 45, 1, 1, 0, 0, 0, 0, 0));
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
    const uint32_t size = uint32_t(nal.size());
    return with_pps ? zep_avc_parse_slice_header_poc(&sps, with_pps, nal.data(), size, 1, &h)
                    : zep_avc_parse_slice_header(&sps, nal.data(), size, 1, &h);
  };
  ASSERT_EQ(parse_slice(pps.get()), ZEP_OK);
  EXPECT_EQ(fields(h), ints(0, 7, 0, 0, 0, 0, 9, -1, 0, 0));
  // Without the PPS the parser stops at the lsb.
  ASSERT_EQ(parse_slice(nullptr), ZEP_OK);
  EXPECT_EQ(fields(h), ints(0, 7, 0, 0, 0, 0, 9, 0, 0, 0));

  // Type 1: delta_pic_order_cnt[0] always, [1] with the PPS flag on frames.
  o.poc_type = 1;
  o.offset_for_ref_frame = {2};
  ASSERT_EQ(parse(zeptest::make_sps(o), &sps), ZEP_OK);
  ASSERT_EQ(parse_slice(pps.get()), ZEP_OK);
  EXPECT_EQ(fields(h), ints(0, 7, 0, 0, 0, 0, 0, 0, -7, 3));
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
