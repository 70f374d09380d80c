// Presentation order of the pictures of a raw H.264 stream.
//
// Each picture gets an order number n; its time is tick * n / time_scale
// seconds. Inside an IDR period n = period base + picture order count; a new
// IDR period starts right behind the largest count of the previous one.
// Type 0 follows the lsb/msb decoding of H.264 clause 8.2.1.1 (with the
// previous picture of any kind as reference); types 1 and 2 follow clauses
// 8.2.1.2 and 8.2.1.3 from frame_num. A frame's count is that of its earlier
// field.
#pragma once

#include <cstdint>

#include "modules/h264/h264_bitstream.h"

namespace zep::h264 {

class PictureOrder {
 public:
  // Starts over for a stream with this SPS (after SetTitle). The SPS must
  // outlive the object and its copies.
  void reset(const ZepAvcSps& sps);
  // Restarts the accounting of the first access unit (after SetPosition).
  void restart_access_units() { first_picture_pending_ = true; }

  // The order number of a picture that opens an access unit.
  int64_t next(const ZepAvcSliceHeader& header, uint32_t nal_unit_type, uint32_t nal_ref_idc);

 private:
  int64_t count_type0(const ZepAvcSliceHeader& header);
  int64_t count_from_frame_num(const ZepAvcSliceHeader& header, bool idr, uint32_t nal_ref_idc);

  const ZepAvcSps* sps_ = nullptr;
  int64_t order_base_ = 0;
  int64_t order_max_ = -2;
  int64_t lsb_range_ = 16;
  uint32_t prev_lsb_ = 0;
  int64_t prev_msb_ = 0;
  int64_t max_frame_num_ = 16;
  uint32_t prev_frame_num_ = 0;
  int64_t prev_frame_num_offset_ = 0;
  bool first_picture_pending_ = true;
};

}  // namespace zep::h264
