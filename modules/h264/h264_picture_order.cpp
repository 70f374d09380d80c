#include "modules/h264/h264_picture_order.h"

namespace zep::h264 {

namespace {

__extension__ typedef __int128 Int128;

// Damaged type-1 offsets can make counts of any size; keeping them within
// 2^40 keeps every later sum and the time computation inside 64 bits.
constexpr int64_t kCountLimit = int64_t(1) << 40;

int64_t clamp_count(Int128 value) {
  if (value > kCountLimit) return kCountLimit;
  if (value < -kCountLimit) return -kCountLimit;
  return int64_t(value);
}

}  // namespace

void PictureOrder::reset(const ZepAvcSps& sps) {
  sps_ = &sps;
  order_base_ = 0;
  order_max_ = -2;
  prev_lsb_ = 0;
  prev_msb_ = 0;
  prev_frame_num_ = 0;
  prev_frame_num_offset_ = 0;
  const uint32_t lsb_log2 = sps.log2_max_pic_order_cnt_lsb_minus4 <= ZEP_AVC_MAX_LOG2_MINUS4
                                ? sps.log2_max_pic_order_cnt_lsb_minus4 + 4u
                                : 16u;
  const uint32_t frame_log2 = sps.log2_max_frame_num_minus4 <= ZEP_AVC_MAX_LOG2_MINUS4
                                  ? sps.log2_max_frame_num_minus4 + 4u
                                  : 16u;
  lsb_range_ = int64_t(1) << lsb_log2;
  max_frame_num_ = int64_t(1) << frame_log2;
  first_picture_pending_ = true;
}

int64_t PictureOrder::count_type0(const ZepAvcSliceHeader& header) {
  const uint32_t lsb = header.pic_order_cnt_lsb;
  const int64_t half = lsb_range_ / 2;
  int64_t msb = prev_msb_;
  if (lsb < prev_lsb_ && int64_t(prev_lsb_) - lsb >= half) {
    msb = prev_msb_ + lsb_range_;
  } else if (lsb > prev_lsb_ && int64_t(lsb) - prev_lsb_ > half) {
    msb = prev_msb_ - lsb_range_;
  }
  prev_lsb_ = lsb;
  prev_msb_ = msb;
  // A frame's count is the earlier of its two fields'.
  const int64_t top = msb + lsb;
  if (!header.field_pic_flag && header.delta_pic_order_cnt_bottom < 0) {
    return top + header.delta_pic_order_cnt_bottom;
  }
  return top;
}

int64_t PictureOrder::count_from_frame_num(const ZepAvcSliceHeader& header, bool idr,
                                           uint32_t nal_ref_idc) {
  int64_t frame_num_offset = 0;
  if (!idr) {
    frame_num_offset = prev_frame_num_offset_;
    if (prev_frame_num_ > header.frame_num) frame_num_offset += max_frame_num_;
  }
  prev_frame_num_ = header.frame_num;
  prev_frame_num_offset_ = frame_num_offset;
  const bool reference = nal_ref_idc != 0;

  if (sps_->pic_order_cnt_type == 2) {
    if (idr) return 0;
    const int64_t temp = 2 * (frame_num_offset + header.frame_num);
    return reference ? temp : temp - 1;
  }

  // Type 1: the expected count from the cycle of reference-frame offsets.
  const uint32_t cycle = sps_->num_ref_frames_in_pic_order_cnt_cycle;
  int64_t abs_frame_num = cycle != 0 ? frame_num_offset + header.frame_num : 0;
  if (!reference && abs_frame_num > 0) --abs_frame_num;
  Int128 expected = 0;
  if (abs_frame_num > 0) {
    Int128 delta_per_cycle = 0;
    for (uint32_t i = 0; i < cycle; ++i) delta_per_cycle += sps_->offset_for_ref_frame[i];
    const int64_t cycle_count = (abs_frame_num - 1) / cycle;
    const int64_t in_cycle = (abs_frame_num - 1) % cycle;
    expected = cycle_count * delta_per_cycle;
    for (int64_t i = 0; i <= in_cycle; ++i) expected += sps_->offset_for_ref_frame[i];
  }
  if (!reference) expected += sps_->offset_for_non_ref_pic;
  const Int128 top = expected + header.delta_pic_order_cnt_0;
  if (header.field_pic_flag) {
    return clamp_count(header.bottom_field_flag ? expected + sps_->offset_for_top_to_bottom_field +
                                                      header.delta_pic_order_cnt_0
                                                : top);
  }
  const Int128 bottom = top + sps_->offset_for_top_to_bottom_field + header.delta_pic_order_cnt_1;
  return clamp_count(top < bottom ? top : bottom);
}

int64_t PictureOrder::next(const ZepAvcSliceHeader& header, uint32_t nal_unit_type,
                           uint32_t nal_ref_idc) {
  if (!sps_) return 0;
  const bool idr = nal_unit_type == ZEP_AVC_NAL_IDR;
  const bool first = first_picture_pending_;
  first_picture_pending_ = false;
  if (idr) {
    // A new IDR period starts behind the largest count of the previous one:
    // two counts per frame, one per field.
    if (header.field_pic_flag) {
      if (first) order_max_ = -1;
      order_base_ += order_max_ + 1;
    } else {
      order_base_ += order_max_ + 2;
    }
    order_max_ = 0;
    prev_lsb_ = 0;
    prev_msb_ = 0;
    if (sps_->pic_order_cnt_type != 0) count_from_frame_num(header, true, nal_ref_idc);
    return order_base_;
  }
  const int64_t count = sps_->pic_order_cnt_type == 0
                            ? count_type0(header)
                            : count_from_frame_num(header, false, nal_ref_idc);
  if (count > order_max_) order_max_ = count;
  return order_base_ + count;
}

}  // namespace zep::h264
