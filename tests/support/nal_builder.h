// Bit-exact H.264 NAL units for tests: Exp-Golomb bits, emulation prevention, SPS, PPS, slices.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "tests/support/byte_writer.h"

namespace zeptest {

class BitWriter {
 public:
  BitWriter& u(uint32_t count, uint64_t value);  // count 0..64, MSB first
  BitWriter& flag(bool value) { return u(1, value ? 1 : 0); }
  BitWriter& ue(uint64_t value);
  BitWriter& se(int64_t value);
  BitWriter& trailing();                        // rbsp_stop_one_bit, then zeros to the byte
  const Bytes& bytes() const { return data_; }  // a last partial byte padded with zeros

 private:
  Bytes data_;
  size_t bits_ = 0;
};

// Header byte and RBSP with a 03 wherever two zero bytes precede a byte of 00..03.
Bytes make_nal(uint8_t nal_ref_idc, uint8_t nal_unit_type, const Bytes& rbsp);
// Each unit behind a 00 00 00 01 start code.
Bytes annexb(const std::vector<Bytes>& nals);

struct HrdOptions {
  uint32_t cpb_cnt_minus1 = 0;
  uint32_t bit_rate_value_minus1 = 1000, cpb_size_value_minus1 = 2000;  // +i for schedule i
  bool cbr = false;
};

struct SpsOptions {
  uint8_t profile_idc = 66, constraint_flags = 0xC0, level_idc = 30;
  uint32_t sps_id = 0;
  uint32_t chroma_format_idc = 1;  // profiles with chroma information (100, 110, ...):
  bool separate_colour_plane = false;
  uint32_t bit_depth_luma_minus8 = 0, bit_depth_chroma_minus8 = 0;
  bool scaling_matrix_present = false;

  uint32_t log2_max_frame_num_minus4 = 0;
  uint32_t poc_type = 0;
  uint32_t log2_max_poc_lsb_minus4 = 2;      // MaxPicOrderCntLsb 64
  bool delta_pic_order_always_zero = false;  // pic_order_cnt_type 1
  int32_t offset_for_non_ref_pic = 0, offset_for_top_to_bottom_field = 0;
  std::vector<int32_t> offset_for_ref_frame;

  uint32_t max_num_ref_frames = 1;
  uint32_t width_mbs = 4, height_mbs = 4;  // 64 pixels, map units
  bool frame_mbs_only = true, mbaff = false, cropping = false;
  uint32_t crop_left = 0, crop_right = 0, crop_top = 0, crop_bottom = 0;

  bool vui = false, aspect_ratio_info = false;
  uint32_t aspect_ratio_idc = 0, sar_width = 0, sar_height = 0;
  bool timing = false;
  uint32_t num_units_in_tick = 1, time_scale = 50;
  bool fixed_frame_rate = true, nal_hrd = false, vcl_hrd = false;
  HrdOptions hrd;
  bool low_delay_hrd = false, pic_struct_present = false, bitstream_restriction = false;
  uint32_t max_num_reorder_frames = 0, max_dec_frame_buffering = 1;
};

// Profiles whose SPS codes chroma_format_idc and the bit depths.
bool sps_has_chroma_info(uint8_t profile_idc);
Bytes make_sps(const SpsOptions& o);
Bytes make_pps(uint32_t pps_id = 0, uint32_t sps_id = 0, bool bottom_field_pic_order = false);

struct SliceOptions {
  uint8_t nal_unit_type = 5;  // 5 IDR, 1 other
  uint8_t nal_ref_idc = 3;
  uint32_t first_mb = 0;
  uint32_t slice_type = 7;  // I, all slices of the picture
  uint32_t frame_num = 0;
  bool field_pic = false, bottom_field = false;
  uint32_t idr_pic_id = 0, poc_lsb = 0;
  int32_t delta_pic_order_cnt_0 = 0;
  bool with_bottom_delta = false;  // as the PPS's bottom_field_pic_order flag wants, in a frame
  int32_t delta_pic_order_cnt_bottom = 0, delta_pic_order_cnt_1 = 0;
  size_t payload_bytes = 8;  // filler bytes behind the header fields
};

// A slice whose header matches the SPS, then filler that never needs escaping.
Bytes make_slice(const SpsOptions& sps, const SliceOptions& slice);
// An IDR picture and a P picture (nal_ref_idc `ref`, 0 for a B picture).
SliceOptions idr_slice(uint32_t poc_lsb = 0);
SliceOptions p_slice(uint32_t poc_lsb, uint32_t frame_num = 1, uint8_t ref = 2);
// SPS, PPS (with the bottom-field flag) and one picture per slice.
Bytes h264_stream(const SpsOptions& sps, const std::vector<SliceOptions>& slices,
                  bool bottom_field_pic_order = false);

}  // namespace zeptest
