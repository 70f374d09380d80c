/* H.264 bitstream tools: a bounded bit reader with Exp-Golomb codes, the
 * Annex B start-code scanner, removal of emulation-prevention bytes, and
 * parsers for the sequence parameter set, the picture parameter set and the
 * leading fields of a slice header (ITU-T H.264 clause 7.3 and Annex E).
 *
 * Used by the raw H.264 read module and by the Matroska module (the SPS of an
 * avcC record, the field_pic_flag of a slice in a block).
 *
 * Every reader here is bounded by the size of its buffer: bits at and beyond
 * the end of the buffer are never touched. The parsers treat a parameter set
 * whose syntax runs past the end of its payload as damaged and answer
 * ZEP_FAIL (-1); the fields decoded before the end keep their values, the
 * others read 0. */
#ifndef ZEP_H264_BITSTREAM_H
#define ZEP_H264_BITSTREAM_H

#include <stdint.h>

#include "layer1/zep_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Bit reader ---------------------------------------------------------- */

/* Reads `count` bits (0 to 64; more is read as 64) most significant bit first
 * from data[0 .. size). Bit position 0 is the most significant bit of
 * data[0]. Bits at or beyond size * 8 read as 0. The caller advances its own
 * position by `count`. */
uint64_t zep_bits_read(const uint8_t* data, uint32_t size, uint64_t bit_position, uint32_t count);

/* Exp-Golomb ue(v): 2^z - 1 plus the z bits behind the first 1 bit, where z is
 * the number of leading zero bits; *bits_used receives the code length 2z+1.
 * A code of 32 or more leading zeros (no 32-bit value), or one that does not
 * end inside the buffer, gives 0 with *bits_used = 0. */
uint64_t zep_bits_read_ue(const uint8_t* data, uint32_t size, uint64_t bit_position,
                          uint32_t* bits_used);

/* Exp-Golomb se(v): k = ue(v) maps to (-1)^(k+1) * ceil(k / 2), so 0, 1, 2,
 * 3, 4 give 0, 1, -1, 2, -2. *bits_used as for ue(v). */
int64_t zep_bits_read_se(const uint8_t* data, uint32_t size, uint64_t bit_position,
                         uint32_t* bits_used);

/* A cursor over the same reads. The first read that does not fit in the
 * buffer (or an invalid Exp-Golomb code) sets `failed`; from then on every
 * read gives 0 and the position stays where it was. */
typedef struct ZepBitReader {
  const uint8_t* data;
  uint32_t size;
  uint64_t position;
  uint32_t failed;
} ZepBitReader;

void zep_bit_reader_init(ZepBitReader* reader, const uint8_t* data, uint32_t size);
uint64_t zep_bit_reader_u(ZepBitReader* reader, uint32_t count);
uint64_t zep_bit_reader_ue(ZepBitReader* reader);
int64_t zep_bit_reader_se(ZepBitReader* reader);

/* ---- NAL units ----------------------------------------------------------- */

/* Finds the start code at the head of data[0 .. length): any number of zero
 * bytes followed by 00 00 01. 0 with *payload_offset = the offset of the NAL
 * header byte behind the start code; -1 when a non-zero byte comes first, when
 * no start code fits in the range, or for a range of 2 bytes or fewer. */
ZEP_STATUS zep_nal_find_start(const uint8_t* data, uint32_t length, uint32_t* payload_offset);

/* Length of the NAL unit that begins at data: it ends before the first 00 00
 * followed by 00 or 01 (trailing zero bytes or the next start code), or runs to
 * the end of the range. Always 0. */
ZEP_STATUS zep_nal_find_end(const uint8_t* data, uint32_t length, uint32_t* nal_length);

/* Copies the payload behind the NAL header byte into `out` with every
 * emulation-prevention byte (the 03 of 00 00 03) removed; `out` must hold
 * length - 1 bytes. Answers the number of bytes written. */
uint32_t zep_avc_unescape(const uint8_t* nal, uint32_t length, uint8_t* out);

/* The 32 NAL unit type names, indexed by nal_unit_type. */
extern const char* const zep_avc_nal_type_names[32];

#define ZEP_AVC_NAL_SLICE 1u
#define ZEP_AVC_NAL_IDR 5u
#define ZEP_AVC_NAL_SEI 6u
#define ZEP_AVC_NAL_SPS 7u
#define ZEP_AVC_NAL_PPS 8u
#define ZEP_AVC_NAL_AUD 9u
#define ZEP_AVC_NAL_END_SEQ 10u

/* ---- Parameter sets ------------------------------------------------------ */

#define ZEP_AVC_MAX_CPB 32u
#define ZEP_AVC_MAX_REF_FRAMES_IN_POC_CYCLE 256u
#define ZEP_AVC_MAX_SLICE_GROUPS 8u
#define ZEP_AVC_MAX_MAP_UNITS 36864u
/* log2_max_frame_num_minus4 and log2_max_pic_order_cnt_lsb_minus4 are 0..12. */
#define ZEP_AVC_MAX_LOG2_MINUS4 12u

/* HRD parameters (Annex E.1.2). */
typedef struct ZepAvcHrd {
  uint8_t cpb_cnt_minus1;
  uint8_t bit_rate_scale;
  uint8_t cpb_size_scale;
  uint32_t bit_rate_value_minus1[ZEP_AVC_MAX_CPB];
  uint32_t cpb_size_value_minus1[ZEP_AVC_MAX_CPB];
  uint8_t cbr_flag[ZEP_AVC_MAX_CPB];
  uint8_t initial_cpb_removal_delay_length_minus1;
  uint8_t cpb_removal_delay_length_minus1;
  uint8_t dpb_output_delay_length_minus1;
  uint8_t time_offset_length;
} ZepAvcHrd;

/* 1 for the profiles whose SPS codes chroma_format_idc and the bit depths
 * (100, 110, 122, 244, 44, 83, 86); the others code 4:2:0, 8 bits. */
int zep_avc_profile_has_chroma_info(uint8_t profile_idc);

/* A parsed sequence parameter set. A field whose syntax element is absent
 * reads 0 (chroma_format_idc too, where the standard infers 1). */
typedef struct ZepAvcSps {
  uint8_t profile_idc;
  uint8_t constraint_flags; /* constraint_set0_flag .. set5 and 2 reserved bits */
  uint8_t level_idc;
  uint8_t seq_parameter_set_id;
  uint8_t chroma_format_idc;
  uint8_t separate_colour_plane_flag;
  uint8_t bit_depth_luma_minus8;
  uint8_t bit_depth_chroma_minus8;
  uint8_t qpprime_y_zero_transform_bypass_flag;
  uint8_t seq_scaling_matrix_present_flag;
  uint8_t log2_max_frame_num_minus4;
  uint8_t pic_order_cnt_type;
  uint8_t log2_max_pic_order_cnt_lsb_minus4;
  uint8_t delta_pic_order_always_zero_flag;
  int32_t offset_for_non_ref_pic;
  int32_t offset_for_top_to_bottom_field;
  uint8_t num_ref_frames_in_pic_order_cnt_cycle; /* 0..255 */
  int32_t offset_for_ref_frame[ZEP_AVC_MAX_REF_FRAMES_IN_POC_CYCLE];
  uint8_t max_num_ref_frames;
  uint8_t gaps_in_frame_num_value_allowed_flag;
  uint32_t pic_width_in_mbs_minus1;
  uint32_t pic_height_in_map_units_minus1;
  uint8_t frame_mbs_only_flag;
  uint8_t mb_adaptive_frame_field_flag;
  uint8_t direct_8x8_inference_flag;
  uint8_t frame_cropping_flag;
  uint16_t frame_crop_left_offset;
  uint16_t frame_crop_right_offset;
  uint16_t frame_crop_top_offset;
  uint16_t frame_crop_bottom_offset;
  uint8_t vui_parameters_present_flag;
  uint8_t aspect_ratio_info_present_flag;
  uint8_t aspect_ratio_idc;
  uint16_t sar_width;
  uint16_t sar_height;
  uint8_t overscan_info_present_flag;
  uint8_t overscan_appropriate_flag;
  uint8_t video_signal_type_present_flag;
  uint8_t video_format;
  uint8_t video_full_range_flag;
  uint8_t colour_description_present_flag;
  uint8_t colour_primaries;
  uint8_t transfer_characteristics;
  uint8_t matrix_coefficients;
  uint8_t chroma_loc_info_present_flag;
  uint8_t chroma_sample_loc_type_top_field;
  uint8_t chroma_sample_loc_type_bottom_field;
  uint8_t timing_info_present_flag;
  uint32_t num_units_in_tick;
  uint32_t time_scale;
  uint8_t fixed_frame_rate_flag;
  uint8_t nal_hrd_parameters_present_flag;
  ZepAvcHrd nal_hrd;
  uint8_t vcl_hrd_parameters_present_flag;
  ZepAvcHrd vcl_hrd;
  uint8_t pic_struct_present_flag;
  uint8_t bitstream_restriction_flag;
  uint8_t motion_vectors_over_pic_boundaries_flag;
  uint8_t max_bytes_per_pic_denom;
  uint8_t max_bits_per_mb_denom;
  uint8_t log2_max_mv_length_horizontal;
  uint8_t log2_max_mv_length_vertical;
  uint8_t max_num_reorder_frames;
  uint8_t max_dec_frame_buffering;
} ZepAvcSps;

/* A parsed picture parameter set, up to redundant_pic_cnt_present_flag. */
typedef struct ZepAvcPps {
  uint32_t pic_parameter_set_id;
  uint32_t seq_parameter_set_id;
  uint32_t entropy_coding_mode_flag;
  uint32_t bottom_field_pic_order_in_frame_present_flag;
  uint32_t num_slice_groups_minus1; /* 0..7 */
  uint32_t slice_group_map_type;
  uint32_t run_length_minus1[ZEP_AVC_MAX_SLICE_GROUPS];
  uint32_t top_left[ZEP_AVC_MAX_SLICE_GROUPS];
  uint32_t bottom_right[ZEP_AVC_MAX_SLICE_GROUPS];
  uint32_t slice_group_change_direction_flag;
  uint32_t slice_group_change_rate_minus1;
  uint32_t pic_size_in_map_units_minus1; /* below 36864 */
  uint32_t slice_group_id[ZEP_AVC_MAX_MAP_UNITS];
  uint32_t num_ref_idx_l0_default_active_minus1;
  uint32_t num_ref_idx_l1_default_active_minus1;
  uint32_t weighted_pred_flag;
  uint32_t weighted_bipred_idc;
  int32_t pic_init_qp_minus26;
  int32_t pic_init_qs_minus26;
  int32_t chroma_qp_index_offset;
  uint32_t deblocking_filter_control_present_flag;
  uint32_t constrained_intra_pred_flag;
  uint32_t redundant_pic_cnt_present_flag;
} ZepAvcPps;

/* The leading fields of a slice header; fields the slice does not carry are
 * 0. The picture-order-count deltas behind pic_order_cnt_lsb are read only by
 * zep_avc_parse_slice_header_poc, which knows the PPS. */
typedef struct ZepAvcSliceHeader {
  uint32_t first_mb_in_slice;
  uint32_t slice_type;
  uint32_t pic_parameter_set_id;
  uint32_t colour_plane_id;
  uint32_t frame_num;
  uint32_t field_pic_flag;
  uint32_t bottom_field_flag;
  uint32_t idr_pic_id;
  uint32_t pic_order_cnt_lsb;
  int32_t delta_pic_order_cnt_bottom;
  int32_t delta_pic_order_cnt_0;
  int32_t delta_pic_order_cnt_1;
} ZepAvcSliceHeader;

/* Each parser takes a NAL unit that begins with its one-byte header and
 * carries no start code; it parses the payload behind the header.
 *
 * zep_avc_parse_sps: 0; ZEP_ERR_UNSUPPORTED_SPS_DATA when a profile with
 * chroma information sets seq_scaling_matrix_present_flag (scaling lists are
 * not parsed; the fields read so far stay); ZEP_FAIL when the SPS ends early,
 * codes more than 256 reference frames in the POC cycle or more than 32 HRD
 * schedules, or a log2_max_*_minus4 above 12; ZEP_E_NULL_ARG for a null record
 * or NAL unit or a zero length; ZEP_E_NO_MEMORY. */
ZEP_STATUS zep_avc_parse_sps(ZepAvcSps* sps, const uint8_t* nal, uint32_t length);

/* zep_avc_parse_pps: 0; ZEP_FAIL when the PPS ends early or codes more than 8
 * slice groups or 36864 map units; ZEP_E_NULL_ARG; ZEP_E_NO_MEMORY. */
ZEP_STATUS zep_avc_parse_pps(ZepAvcPps* pps, const uint8_t* nal, uint32_t length);

/* zep_avc_parse_slice_header: `sps` is the active SPS and nal_unit_type the
 * low five bits of the NAL header byte. 0; ZEP_FAIL when the slice ends inside
 * the fields read, or the SPS codes a frame_num or POC lsb wider than 16 bits;
 * ZEP_E_NULL_ARG. */
ZEP_STATUS zep_avc_parse_slice_header(const ZepAvcSps* sps, const uint8_t* nal, uint32_t length,
                                      uint32_t nal_unit_type, ZepAvcSliceHeader* header);

/* The same, going on to the deltas that complete the picture order count:
 * delta_pic_order_cnt_bottom (type 0) when the PPS sets
 * bottom_field_pic_order_in_frame_present_flag and the slice is a frame;
 * delta_pic_order_cnt_0 and, under the same condition, delta_pic_order_cnt_1
 * (type 1) unless the SPS sets delta_pic_order_always_zero_flag. A null `pps`
 * reads no PPS-dependent field. */
ZEP_STATUS zep_avc_parse_slice_header_poc(const ZepAvcSps* sps, const ZepAvcPps* pps,
                                          const uint8_t* nal, uint32_t length,
                                          uint32_t nal_unit_type, ZepAvcSliceHeader* header);

#ifdef __cplusplus
}
#endif

#endif /* ZEP_H264_BITSTREAM_H */
