// State of an open raw H.264 stream and the operations of the read module on
// it. The module's operation table (h264_module.cpp) validates its arguments
// and calls these.
#pragma once

#include <cstdint>

#include "layer1/zep_module.h"
#include "modules/h264/h264_bitstream.h"
#include "modules/h264/h264_nal_source.h"
#include "modules/h264/h264_picture_order.h"

namespace zep::h264 {

struct AvcReader {
  NalSource source;
  void* context = nullptr;
  uint32_t active = 0;
  uint32_t title_set = 0;
  uint32_t access_units = 0;  // started since SetTitle or SetPosition

  // Coded size in pixels and the clock of the time stamps.
  uint32_t width = 0;
  uint32_t height = 0;
  uint32_t rate = 0;
  uint32_t time_scale = 0;
  uint32_t tick = 0;

  ZepAvcSps sps{};
  ZepAvcPps pps{};
  bool have_pps = false;  // the PPS parsed: slice headers can be read to the end of the POC
  PictureOrder order;
  int64_t last_time = 0;

  // The parameter sets as found in the stream: header byte first, no start
  // code, emulation-prevention bytes kept.
  uint8_t* sps_copy = nullptr;
  uint32_t sps_size = 0;
  uint8_t* pps_copy = nullptr;
  uint32_t pps_size = 0;

  // Keeps an access unit's bytes while the block buffer is replaced by a
  // larger one (the block's owner does not keep the old contents).
  uint8_t* spare = nullptr;
  uint32_t spare_capacity = 0;

  ~AvcReader();
};

ZEP_STATUS reader_set_title(AvcReader& reader, uint32_t title);
ZEP_STATUS reader_read_access_unit(AvcReader& reader, ZepBlock* block);
ZEP_STATUS reader_get_info(const AvcReader& reader, uint32_t qid, ZepQueryData* data,
                           uint32_t index);

// Display size for the cropped picture size and the SPS's sample aspect
// ratio; false when aspect_ratio_idc is a reserved value (17..254).
bool display_size(const ZepAvcSps& sps, uint32_t width, uint32_t height, uint32_t* display_width,
                  uint32_t* display_height);
// The picture size after cropping, in the crop units of the chroma format.
void cropped_size(const ZepAvcSps& sps, uint32_t coded_width, uint32_t coded_height,
                  uint32_t* width, uint32_t* height);

}  // namespace zep::h264
