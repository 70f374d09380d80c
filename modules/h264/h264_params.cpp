// Parsers for the sequence parameter set (with VUI and HRD), the picture
// parameter set and the leading fields of a slice header.
//
// Each parser unescapes the payload behind the NAL header byte into a scratch
// buffer and reads it with a bounded bit reader. A read past the end of the
// payload marks the reader failed; the parser then answers ZEP_FAIL, and the
// fields that were not reached stay 0. Every count that sizes an array in a
// record is checked against the array before it is used.
#include <cstring>

#include "modules/h264/h264_bitstream.h"
#include "platform/zep_platform.h"

namespace {

// The unescaped payload of one NAL unit, in a buffer owned for one call.
class Payload {
 public:
  Payload(const uint8_t* nal, uint32_t length)
      : buffer_(static_cast<uint8_t*>(zep_mem_alloc(length, nullptr))) {
    if (buffer_) size_ = zep_avc_unescape(nal, length, buffer_);
  }
  ~Payload() {
    if (buffer_) zep_mem_free(buffer_, nullptr);
  }
  Payload(const Payload&) = delete;
  Payload& operator=(const Payload&) = delete;

  bool ok() const { return buffer_ != nullptr; }
  const uint8_t* data() const { return buffer_; }
  uint32_t size() const { return size_; }

 private:
  uint8_t* buffer_;
  uint32_t size_ = 0;
};

// The bounded reader with the short names the syntax tables use.
class Bits {
 public:
  Bits(const uint8_t* data, uint32_t size) { zep_bit_reader_init(&reader_, data, size); }
  uint32_t u(uint32_t count) { return uint32_t(zep_bit_reader_u(&reader_, count)); }
  bool flag() { return zep_bit_reader_u(&reader_, 1) != 0; }
  uint32_t ue() { return uint32_t(zep_bit_reader_ue(&reader_)); }
  int32_t se() { return int32_t(zep_bit_reader_se(&reader_)); }
  bool failed() const { return reader_.failed != 0; }

 private:
  ZepBitReader reader_;
};

// Annex E.1.2. False when the stream codes more schedules than the record holds.
bool parse_hrd(Bits& bits, ZepAvcHrd& hrd) {
  const uint32_t cpb_cnt_minus1 = bits.ue();
  if (cpb_cnt_minus1 >= ZEP_AVC_MAX_CPB) return false;
  hrd.cpb_cnt_minus1 = uint8_t(cpb_cnt_minus1);
  hrd.bit_rate_scale = uint8_t(bits.u(4));
  hrd.cpb_size_scale = uint8_t(bits.u(4));
  for (uint32_t i = 0; i <= cpb_cnt_minus1 && !bits.failed(); ++i) {
    hrd.bit_rate_value_minus1[i] = bits.ue();
    hrd.cpb_size_value_minus1[i] = bits.ue();
    hrd.cbr_flag[i] = uint8_t(bits.u(1));
  }
  hrd.initial_cpb_removal_delay_length_minus1 = uint8_t(bits.u(5));
  hrd.cpb_removal_delay_length_minus1 = uint8_t(bits.u(5));
  hrd.dpb_output_delay_length_minus1 = uint8_t(bits.u(5));
  hrd.time_offset_length = uint8_t(bits.u(5));
  return true;
}

// Annex E.1.1.
ZEP_STATUS parse_vui(Bits& bits, ZepAvcSps& sps) {
  sps.aspect_ratio_info_present_flag = uint8_t(bits.u(1));
  if (sps.aspect_ratio_info_present_flag) {
    sps.aspect_ratio_idc = uint8_t(bits.u(8));
    if (sps.aspect_ratio_idc == 255) {  // Extended_SAR
      sps.sar_width = uint16_t(bits.u(16));
      sps.sar_height = uint16_t(bits.u(16));
    }
  }
  sps.overscan_info_present_flag = uint8_t(bits.u(1));
  if (sps.overscan_info_present_flag) sps.overscan_appropriate_flag = uint8_t(bits.u(1));
  sps.video_signal_type_present_flag = uint8_t(bits.u(1));
  if (sps.video_signal_type_present_flag) {
    sps.video_format = uint8_t(bits.u(3));
    sps.video_full_range_flag = uint8_t(bits.u(1));
    sps.colour_description_present_flag = uint8_t(bits.u(1));
    if (sps.colour_description_present_flag) {
      sps.colour_primaries = uint8_t(bits.u(8));
      sps.transfer_characteristics = uint8_t(bits.u(8));
      sps.matrix_coefficients = uint8_t(bits.u(8));
    }
  }
  sps.chroma_loc_info_present_flag = uint8_t(bits.u(1));
  if (sps.chroma_loc_info_present_flag) {
    sps.chroma_sample_loc_type_top_field = uint8_t(bits.ue());
    sps.chroma_sample_loc_type_bottom_field = uint8_t(bits.ue());
  }
  sps.timing_info_present_flag = uint8_t(bits.u(1));
  if (sps.timing_info_present_flag) {
    sps.num_units_in_tick = bits.u(32);
    sps.time_scale = bits.u(32);
    sps.fixed_frame_rate_flag = uint8_t(bits.u(1));
  }
  sps.nal_hrd_parameters_present_flag = uint8_t(bits.u(1));
  if (sps.nal_hrd_parameters_present_flag && !parse_hrd(bits, sps.nal_hrd)) return ZEP_FAIL;
  sps.vcl_hrd_parameters_present_flag = uint8_t(bits.u(1));
  if (sps.vcl_hrd_parameters_present_flag && !parse_hrd(bits, sps.vcl_hrd)) return ZEP_FAIL;
  if (sps.nal_hrd_parameters_present_flag || sps.vcl_hrd_parameters_present_flag) {
    bits.u(1);  // low_delay_hrd_flag: not kept
  }
  sps.pic_struct_present_flag = uint8_t(bits.u(1));
  sps.bitstream_restriction_flag = uint8_t(bits.u(1));
  if (sps.bitstream_restriction_flag) {
    sps.motion_vectors_over_pic_boundaries_flag = uint8_t(bits.u(1));
    sps.max_bytes_per_pic_denom = uint8_t(bits.ue());
    sps.max_bits_per_mb_denom = uint8_t(bits.ue());
    sps.log2_max_mv_length_horizontal = uint8_t(bits.ue());
    sps.log2_max_mv_length_vertical = uint8_t(bits.ue());
    sps.max_num_reorder_frames = uint8_t(bits.ue());
    sps.max_dec_frame_buffering = uint8_t(bits.ue());
  }
  return ZEP_OK;
}

ZEP_STATUS parse_sps_payload(Bits& bits, ZepAvcSps& sps) {
  sps.profile_idc = uint8_t(bits.u(8));
  sps.constraint_flags = uint8_t(bits.u(8));
  sps.level_idc = uint8_t(bits.u(8));
  sps.seq_parameter_set_id = uint8_t(bits.ue());
  if (zep_avc_profile_has_chroma_info(sps.profile_idc)) {
    sps.chroma_format_idc = uint8_t(bits.ue());
    if (sps.chroma_format_idc == 3) sps.separate_colour_plane_flag = uint8_t(bits.u(1));
    sps.bit_depth_luma_minus8 = uint8_t(bits.ue());
    sps.bit_depth_chroma_minus8 = uint8_t(bits.ue());
    sps.qpprime_y_zero_transform_bypass_flag = uint8_t(bits.u(1));
    sps.seq_scaling_matrix_present_flag = uint8_t(bits.u(1));
    if (bits.failed()) return ZEP_FAIL;
    if (sps.seq_scaling_matrix_present_flag) return ZEP_ERR_UNSUPPORTED_SPS_DATA;
  }
  const uint32_t log2_max_frame_num_minus4 = bits.ue();
  if (log2_max_frame_num_minus4 > ZEP_AVC_MAX_LOG2_MINUS4) return ZEP_FAIL;
  sps.log2_max_frame_num_minus4 = uint8_t(log2_max_frame_num_minus4);
  sps.pic_order_cnt_type = uint8_t(bits.ue());
  if (sps.pic_order_cnt_type == 0) {
    const uint32_t log2_lsb_minus4 = bits.ue();
    if (log2_lsb_minus4 > ZEP_AVC_MAX_LOG2_MINUS4) return ZEP_FAIL;
    sps.log2_max_pic_order_cnt_lsb_minus4 = uint8_t(log2_lsb_minus4);
  } else if (sps.pic_order_cnt_type == 1) {
    sps.delta_pic_order_always_zero_flag = uint8_t(bits.u(1));
    sps.offset_for_non_ref_pic = bits.se();
    sps.offset_for_top_to_bottom_field = bits.se();
    const uint32_t cycle = bits.ue();
    if (cycle >= ZEP_AVC_MAX_REF_FRAMES_IN_POC_CYCLE) return ZEP_FAIL;
    sps.num_ref_frames_in_pic_order_cnt_cycle = uint8_t(cycle);
    for (uint32_t i = 0; i < cycle && !bits.failed(); ++i) sps.offset_for_ref_frame[i] = bits.se();
  }
  sps.max_num_ref_frames = uint8_t(bits.ue());
  sps.gaps_in_frame_num_value_allowed_flag = uint8_t(bits.u(1));
  sps.pic_width_in_mbs_minus1 = bits.ue();
  sps.pic_height_in_map_units_minus1 = bits.ue();
  sps.frame_mbs_only_flag = uint8_t(bits.u(1));
  if (!sps.frame_mbs_only_flag) sps.mb_adaptive_frame_field_flag = uint8_t(bits.u(1));
  sps.direct_8x8_inference_flag = uint8_t(bits.u(1));
  sps.frame_cropping_flag = uint8_t(bits.u(1));
  if (sps.frame_cropping_flag) {
    sps.frame_crop_left_offset = uint16_t(bits.ue());
    sps.frame_crop_right_offset = uint16_t(bits.ue());
    sps.frame_crop_top_offset = uint16_t(bits.ue());
    sps.frame_crop_bottom_offset = uint16_t(bits.ue());
  }
  sps.vui_parameters_present_flag = uint8_t(bits.u(1));
  if (bits.failed()) return ZEP_FAIL;
  if (!sps.vui_parameters_present_flag) return ZEP_OK;
  const ZEP_STATUS status = parse_vui(bits, sps);
  if (status != ZEP_OK) return status;
  return bits.failed() ? ZEP_FAIL : ZEP_OK;
}

// Bits of a slice_group_id: Ceil(Log2(num_slice_groups_minus1 + 1)).
uint32_t slice_group_id_bits(uint32_t num_slice_groups_minus1) {
  uint32_t bits = 0;
  while ((1u << bits) < num_slice_groups_minus1 + 1) ++bits;
  return bits;
}

ZEP_STATUS parse_pps_payload(Bits& bits, ZepAvcPps& pps) {
  pps.pic_parameter_set_id = bits.ue();
  pps.seq_parameter_set_id = bits.ue();
  pps.entropy_coding_mode_flag = bits.u(1);
  pps.bottom_field_pic_order_in_frame_present_flag = bits.u(1);
  const uint32_t groups_minus1 = bits.ue();
  if (groups_minus1 >= ZEP_AVC_MAX_SLICE_GROUPS) return ZEP_FAIL;
  pps.num_slice_groups_minus1 = groups_minus1;
  if (groups_minus1 > 0) {
    pps.slice_group_map_type = bits.ue();
    switch (pps.slice_group_map_type) {
      case 0:
        for (uint32_t i = 0; i <= groups_minus1; ++i) pps.run_length_minus1[i] = bits.ue();
        break;
      case 2:
        for (uint32_t i = 0; i < groups_minus1; ++i) {
          pps.top_left[i] = bits.ue();
          pps.bottom_right[i] = bits.ue();
        }
        break;
      case 3:
      case 4:
      case 5:
        pps.slice_group_change_direction_flag = bits.u(1);
        pps.slice_group_change_rate_minus1 = bits.ue();
        break;
      case 6: {
        const uint32_t units_minus1 = bits.ue();
        if (bits.failed() || units_minus1 >= ZEP_AVC_MAX_MAP_UNITS) return ZEP_FAIL;
        pps.pic_size_in_map_units_minus1 = units_minus1;
        const uint32_t id_bits = slice_group_id_bits(groups_minus1);
        for (uint32_t i = 0; i <= units_minus1 && !bits.failed(); ++i) {
          pps.slice_group_id[i] = bits.u(id_bits);
        }
        break;
      }
      default:
        break;
    }
  }
  pps.num_ref_idx_l0_default_active_minus1 = bits.ue();
  pps.num_ref_idx_l1_default_active_minus1 = bits.ue();
  pps.weighted_pred_flag = bits.u(1);
  pps.weighted_bipred_idc = bits.u(2);
  pps.pic_init_qp_minus26 = bits.se();
  pps.pic_init_qs_minus26 = bits.se();
  pps.chroma_qp_index_offset = bits.se();
  pps.deblocking_filter_control_present_flag = bits.u(1);
  pps.constrained_intra_pred_flag = bits.u(1);
  pps.redundant_pic_cnt_present_flag = bits.u(1);
  return bits.failed() ? ZEP_FAIL : ZEP_OK;
}

// The fields read from a slice header fit in the first bytes of the payload:
// three ue(v) of at most 63 bits, colour_plane_id, a 16-bit frame_num, two
// flags, idr_pic_id, a 16-bit lsb and two se(v) make 443 bits. 96 escaped
// bytes always unescape to more than that, so only they are copied.
constexpr uint32_t kSliceHeaderBytes = 96;

}  // namespace

extern "C" int zep_avc_profile_has_chroma_info(uint8_t profile_idc) {
  switch (profile_idc) {
    case 100:
    case 110:
    case 122:
    case 244:
    case 44:
    case 83:
    case 86:
      return 1;
    default:
      return 0;
  }
}

extern "C" ZEP_STATUS zep_avc_parse_sps(ZepAvcSps* sps, const uint8_t* nal, uint32_t length) {
  if (!sps || !nal || length == 0) return ZEP_E_NULL_ARG;
  std::memset(sps, 0, sizeof(*sps));
  Payload payload(nal, length);
  if (!payload.ok()) return ZEP_E_NO_MEMORY;
  Bits bits(payload.data(), payload.size());
  return parse_sps_payload(bits, *sps);
}

extern "C" ZEP_STATUS zep_avc_parse_pps(ZepAvcPps* pps, const uint8_t* nal, uint32_t length) {
  if (!pps || !nal || length == 0) return ZEP_E_NULL_ARG;
  std::memset(pps, 0, sizeof(*pps));
  Payload payload(nal, length);
  if (!payload.ok()) return ZEP_E_NO_MEMORY;
  Bits bits(payload.data(), payload.size());
  return parse_pps_payload(bits, *pps);
}

namespace {

// The leading slice-header fields; with `deltas`, also the deltas that
// complete the picture order count (those that depend on the PPS only when
// one is given).
ZEP_STATUS parse_slice(const ZepAvcSps* sps, const ZepAvcPps* pps, bool deltas, const uint8_t* nal,
                       uint32_t length, uint32_t nal_unit_type, ZepAvcSliceHeader* header) {
  if (!sps || !nal || length == 0 || !header) return ZEP_E_NULL_ARG;
  std::memset(header, 0, sizeof(*header));
  if (sps->log2_max_frame_num_minus4 > ZEP_AVC_MAX_LOG2_MINUS4 ||
      sps->log2_max_pic_order_cnt_lsb_minus4 > ZEP_AVC_MAX_LOG2_MINUS4) {
    return ZEP_FAIL;
  }
  uint8_t scratch[kSliceHeaderBytes];
  const uint32_t copied = length < kSliceHeaderBytes ? length : kSliceHeaderBytes;
  const uint32_t size = zep_avc_unescape(nal, copied, scratch);
  Bits bits(scratch, size);
  header->first_mb_in_slice = bits.ue();
  header->slice_type = bits.ue();
  header->pic_parameter_set_id = bits.ue();
  if (sps->separate_colour_plane_flag) header->colour_plane_id = bits.u(2);
  header->frame_num = bits.u(sps->log2_max_frame_num_minus4 + 4u);
  if (!sps->frame_mbs_only_flag) {
    header->field_pic_flag = bits.u(1);
    if (header->field_pic_flag) header->bottom_field_flag = bits.u(1);
  }
  if (nal_unit_type == ZEP_AVC_NAL_IDR) header->idr_pic_id = bits.ue();
  // Only a frame carries the bottom field's offset from the top field.
  const bool bottom_delta =
      pps && pps->bottom_field_pic_order_in_frame_present_flag && !header->field_pic_flag;
  if (sps->pic_order_cnt_type == 0) {
    header->pic_order_cnt_lsb = bits.u(sps->log2_max_pic_order_cnt_lsb_minus4 + 4u);
    if (deltas && bottom_delta) header->delta_pic_order_cnt_bottom = bits.se();
  } else if (deltas && sps->pic_order_cnt_type == 1 && !sps->delta_pic_order_always_zero_flag) {
    header->delta_pic_order_cnt_0 = bits.se();
    if (bottom_delta) header->delta_pic_order_cnt_1 = bits.se();
  }
  return bits.failed() ? ZEP_FAIL : ZEP_OK;
}

}  // namespace

extern "C" ZEP_STATUS zep_avc_parse_slice_header(const ZepAvcSps* sps, const uint8_t* nal,
                                                 uint32_t length, uint32_t nal_unit_type,
                                                 ZepAvcSliceHeader* header) {
  return parse_slice(sps, nullptr, false, nal, length, nal_unit_type, header);
}

extern "C" ZEP_STATUS zep_avc_parse_slice_header_poc(const ZepAvcSps* sps, const ZepAvcPps* pps,
                                                     const uint8_t* nal, uint32_t length,
                                                     uint32_t nal_unit_type,
                                                     ZepAvcSliceHeader* header) {
  return parse_slice(sps, pps, true, nal, length, nal_unit_type, header);
}
