#include "tests/support/nal_builder.h"

#include <algorithm>
#include <stdexcept>

namespace zeptest {

BitWriter& BitWriter::u(uint32_t count, uint64_t value) {
  if (count > 64) throw std::invalid_argument("BitWriter::u: more than 64 bits");
  for (uint32_t i = count; i-- > 0;) {
    if (bits_ % 8 == 0) data_.push_back(0);
    if ((value >> i) & 1) data_.back() |= uint8_t(0x80 >> (bits_ % 8));
    ++bits_;
  }
  return *this;
}

BitWriter& BitWriter::ue(uint64_t value) {
  const uint64_t code = value + 1;
  uint32_t length = 0;
  while ((code >> length) > 1) ++length;
  u(length, 0);
  return u(length + 1, code);
}

BitWriter& BitWriter::se(int64_t value) {
  return ue(value > 0 ? uint64_t(value) * 2 - 1 : uint64_t(-value) * 2);
}

BitWriter& BitWriter::trailing() {
  flag(true);
  while (bits_ % 8) flag(false);
  return *this;
}

Bytes make_nal(uint8_t nal_ref_idc, uint8_t nal_unit_type, const Bytes& rbsp) {
  Bytes nal{uint8_t((nal_ref_idc & 3) << 5 | (nal_unit_type & 0x1F))};
  int zeros = 0;
  for (uint8_t b : rbsp) {
    if (zeros >= 2 && b <= 3) nal.push_back(3), zeros = 0;
    nal.push_back(b);
    zeros = b == 0 ? zeros + 1 : 0;
  }
  return nal;
}

Bytes annexb(const std::vector<Bytes>& nals) {
  ByteWriter w;
  for (const Bytes& nal : nals) w.be32(1).bytes(nal);
  return w.take();
}

namespace {

void write_hrd(BitWriter& w, const HrdOptions& h) {
  w.ue(h.cpb_cnt_minus1).u(4, 2).u(4, 3);
  for (uint32_t i = 0; i <= h.cpb_cnt_minus1; ++i)
    w.ue(h.bit_rate_value_minus1 + i).ue(h.cpb_size_value_minus1 + i).flag(h.cbr);
  w.u(5, 23).u(5, 22).u(5, 21).u(5, 20);
}

}  // namespace

bool sps_has_chroma_info(uint8_t profile_idc) {
  static const uint8_t kProfiles[] = {100, 110, 122, 244, 44, 83, 86};
  return std::count(std::begin(kProfiles), std::end(kProfiles), profile_idc) > 0;
}

Bytes make_sps(const SpsOptions& o) {
  BitWriter w;
  w.u(8, o.profile_idc).u(8, o.constraint_flags).u(8, o.level_idc).ue(o.sps_id);
  if (sps_has_chroma_info(o.profile_idc)) {
    w.ue(o.chroma_format_idc);
    if (o.chroma_format_idc == 3) w.flag(o.separate_colour_plane);
    w.ue(o.bit_depth_luma_minus8).ue(o.bit_depth_chroma_minus8).flag(false);
    // Eight lists not present: enough for a reader that parses them.
    w.flag(o.scaling_matrix_present);
    if (o.scaling_matrix_present) w.u(8, 0);
  }
  w.ue(o.log2_max_frame_num_minus4).ue(o.poc_type);
  if (o.poc_type == 0) {
    w.ue(o.log2_max_poc_lsb_minus4);
  } else if (o.poc_type == 1) {
    w.flag(o.delta_pic_order_always_zero).se(o.offset_for_non_ref_pic);
    w.se(o.offset_for_top_to_bottom_field).ue(o.offset_for_ref_frame.size());
    for (int32_t offset : o.offset_for_ref_frame) w.se(offset);
  }
  w.ue(o.max_num_ref_frames).flag(false).ue(o.width_mbs - 1).ue(o.height_mbs - 1);
  w.flag(o.frame_mbs_only);
  if (!o.frame_mbs_only) w.flag(o.mbaff);
  w.flag(true);  // direct_8x8_inference_flag
  w.flag(o.cropping);
  if (o.cropping) w.ue(o.crop_left).ue(o.crop_right).ue(o.crop_top).ue(o.crop_bottom);
  w.flag(o.vui);
  if (o.vui) {
    w.flag(o.aspect_ratio_info);
    if (o.aspect_ratio_info) w.u(8, o.aspect_ratio_idc);
    if (o.aspect_ratio_info && o.aspect_ratio_idc == 255) w.u(16, o.sar_width).u(16, o.sar_height);
    w.flag(false);  // overscan_info_present_flag
    w.flag(true).u(3, 5).flag(false).flag(true).u(8, 1).u(8, 1).u(8, 1);  // video signal
    w.flag(false);  // chroma_loc_info_present_flag
    w.flag(o.timing);
    if (o.timing) w.u(32, o.num_units_in_tick).u(32, o.time_scale).flag(o.fixed_frame_rate);
    w.flag(o.nal_hrd);
    if (o.nal_hrd) write_hrd(w, o.hrd);
    w.flag(o.vcl_hrd);
    if (o.vcl_hrd) write_hrd(w, o.hrd);
    if (o.nal_hrd || o.vcl_hrd) w.flag(o.low_delay_hrd);
    w.flag(o.pic_struct_present).flag(o.bitstream_restriction);
    if (o.bitstream_restriction)
      w.flag(true)
          .ue(2)
          .ue(1)
          .ue(16)
          .ue(16)
          .ue(o.max_num_reorder_frames)
          .ue(o.max_dec_frame_buffering);
  }
  return make_nal(3, 7, w.trailing().bytes());
}

Bytes make_pps(uint32_t pps_id, uint32_t sps_id, bool bottom_field_pic_order) {
  BitWriter w;
  w.ue(pps_id).ue(sps_id).flag(false).flag(bottom_field_pic_order).ue(0);  // one slice group
  w.ue(0).ue(0).flag(false).u(2, 0).se(0).se(0).se(0).flag(true).flag(false).flag(false);
  return make_nal(3, 8, w.trailing().bytes());
}

Bytes make_slice(const SpsOptions& sps, const SliceOptions& s) {
  BitWriter w;
  w.ue(s.first_mb).ue(s.slice_type).ue(0);  // pic_parameter_set_id 0
  if (sps.separate_colour_plane) w.u(2, 0);
  w.u(sps.log2_max_frame_num_minus4 + 4, s.frame_num);
  if (!sps.frame_mbs_only) w.flag(s.field_pic);
  if (!sps.frame_mbs_only && s.field_pic) w.flag(s.bottom_field);
  if (s.nal_unit_type == 5) w.ue(s.idr_pic_id);
  const bool bottom = s.with_bottom_delta && !s.field_pic;
  if (sps.poc_type == 0) {
    w.u(sps.log2_max_poc_lsb_minus4 + 4, s.poc_lsb);
    if (bottom) w.se(s.delta_pic_order_cnt_bottom);
  } else if (sps.poc_type == 1 && !sps.delta_pic_order_always_zero) {
    w.se(s.delta_pic_order_cnt_0);
    if (bottom) w.se(s.delta_pic_order_cnt_1);
  }
  Bytes rbsp = w.trailing().bytes();
  for (size_t i = 0; i < s.payload_bytes; ++i) rbsp.push_back(uint8_t(0x80 | (i & 0x7F)));
  return make_nal(s.nal_ref_idc, s.nal_unit_type, rbsp);
}

SliceOptions idr_slice(uint32_t poc_lsb) { return {.nal_unit_type = 5, .poc_lsb = poc_lsb}; }

SliceOptions p_slice(uint32_t poc_lsb, uint32_t frame_num, uint8_t ref) {
  return {.nal_unit_type = 1,
          .nal_ref_idc = ref,
          .slice_type = 5,
          .frame_num = frame_num,
          .poc_lsb = poc_lsb};
}

Bytes h264_stream(const SpsOptions& sps, const std::vector<SliceOptions>& slices,
                  bool bottom_field_pic_order) {
  std::vector<Bytes> nals = {make_sps(sps), make_pps(0, 0, bottom_field_pic_order)};
  for (const SliceOptions& s : slices) nals.push_back(make_slice(sps, s));
  return annexb(nals);
}

}  // namespace zeptest
