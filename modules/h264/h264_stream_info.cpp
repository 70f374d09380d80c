// The answers of the raw H.264 module to the information queries: counts,
// properties, the video stream format, the parameter sets and the avcC record.
#include <cstring>

#include "modules/h264/h264_reader.h"

namespace zep::h264 {

namespace {

// H.264 Table E-1: sample aspect ratios of aspect_ratio_idc 0..16.
struct SampleAspect {
  uint16_t width;
  uint16_t height;
};
constexpr SampleAspect kSampleAspect[17] = {
    {0, 0},   {1, 1},   {12, 11}, {10, 11}, {16, 11},  {40, 33}, {24, 11}, {20, 11}, {32, 11},
    {80, 33}, {18, 11}, {15, 11}, {64, 33}, {160, 99}, {4, 3},   {3, 2},   {2, 1}};
constexpr uint8_t kExtendedSar = 255;

constexpr uint32_t kFourccH264 =
    uint32_t('H') | uint32_t('2') << 8 | uint32_t('6') << 16 | uint32_t('4') << 24;

// Sizes of the property records this module fills.
constexpr uint32_t kContainerPropSize = 12;
constexpr uint32_t kTitlePropSize = 24;
constexpr uint32_t kTitleMediaPropSize = 8;
constexpr uint32_t kVideoMediaPropSize = 8;
// The avcC record around one SPS and one PPS.
constexpr uint32_t kAvcConfigOverhead = 11;
constexpr uint32_t kMaxParameterSetInAvcc = 0xFFFF;

void put_le16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}

void set_scalar(ZepQueryData* data, uint32_t qid, uint64_t value) {
  data->valueType = ZEP_QID_VALUE_TYPE(qid);
  data->value.u64 = value;
}

// The caller's buffer for a record or byte string of `size` bytes, or null
// when it is missing or too small.
uint8_t* record_buffer(ZepQueryData* data, uint32_t size) {
  if (!data->value.ptr || data->size < size) return nullptr;
  data->valueType = ZEP_QTYPE_BUFFER;
  data->size = size;
  return static_cast<uint8_t*>(data->value.ptr);
}

ZEP_STATUS copy_bytes(ZepQueryData* data, const uint8_t* bytes, uint32_t size) {
  uint8_t* out = record_buffer(data, size);
  if (!out) return ZEP_ERR_BUFFER_TOO_SMALL;
  if (size) std::memcpy(out, bytes, size);
  return ZEP_OK;
}

ZEP_STATUS video_stream_format(const AvcReader& reader, ZepQueryData* data) {
  uint8_t* out = record_buffer(data, sizeof(ZepVideoStreamFormat));
  if (!out) return ZEP_ERR_BUFFER_TOO_SMALL;
  const ZepAvcSps& sps = reader.sps;
  uint32_t width = 0;
  uint32_t height = 0;
  cropped_size(sps, reader.width, reader.height, &width, &height);
  uint32_t display_width = 0;
  uint32_t display_height = 0;
  const bool with_display = sps.vui_parameters_present_flag && sps.aspect_ratio_info_present_flag;
  if (with_display && !display_size(sps, width, height, &display_width, &display_height)) {
    return ZEP_ERR_AR_IDC_INVALID;
  }
  // Bits per pixel, image size and the last 8 bytes keep the caller's values.
  out[offsetof(ZepVideoStreamFormat, kind)] = 1;
  put_le32(out + offsetof(ZepVideoStreamFormat, rate), reader.rate);
  put_le32(out + offsetof(ZepVideoStreamFormat, scale), reader.tick);
  put_le32(out + offsetof(ZepVideoStreamFormat, width), width);
  put_le32(out + offsetof(ZepVideoStreamFormat, height), height);
  put_le32(out + offsetof(ZepVideoStreamFormat, compression), kFourccH264);
  put_le32(out + offsetof(ZepVideoStreamFormat, fourcc), kFourccH264);
  put_le32(out + offsetof(ZepVideoStreamFormat, interlaced), sps.frame_mbs_only_flag ? 0 : 1);
  if (with_display) {
    put_le32(out + offsetof(ZepVideoStreamFormat, displayWidth), display_width);
    put_le32(out + offsetof(ZepVideoStreamFormat, displayHeight), display_height);
  }
  return ZEP_OK;
}

// AVCDecoderConfigurationRecord (ISO/IEC 14496-15) with one SPS and one PPS
// and 4-byte NAL unit lengths.
ZEP_STATUS avc_config(const AvcReader& reader, ZepQueryData* data) {
  if (reader.sps_size > kMaxParameterSetInAvcc || reader.pps_size > kMaxParameterSetInAvcc) {
    return ZEP_FAIL;  // a 16-bit length cannot describe it
  }
  const uint32_t s = reader.sps_size;
  uint8_t* out = record_buffer(data, s + reader.pps_size + kAvcConfigOverhead);
  if (!out) return ZEP_ERR_BUFFER_TOO_SMALL;
  out[0] = 1;
  out[1] = reader.sps.profile_idc;
  out[2] = reader.sps.constraint_flags;
  out[3] = reader.sps.level_idc;
  out[4] = 0xFF;  // reserved bits, lengthSizeMinusOne 3
  out[5] = 0xE1;  // reserved bits, one SPS
  out[6] = uint8_t(s >> 8);
  out[7] = uint8_t(s);
  if (s) std::memcpy(out + 8, reader.sps_copy, s);
  out[8 + s] = 1;  // one PPS
  out[9 + s] = uint8_t(reader.pps_size >> 8);
  out[10 + s] = uint8_t(reader.pps_size);
  if (reader.pps_size) std::memcpy(out + 11 + s, reader.pps_copy, reader.pps_size);
  return ZEP_OK;
}

}  // namespace

void cropped_size(const ZepAvcSps& sps, uint32_t coded_width, uint32_t coded_height,
                  uint32_t* width, uint32_t* height) {
  // Clause 7.4.2.1.1: crop units follow the chroma format; a profile without
  // chroma information codes 4:2:0.
  const bool chroma_coded = zep_avc_profile_has_chroma_info(sps.profile_idc) != 0;
  const uint32_t chroma_format = chroma_coded ? sps.chroma_format_idc : 1;
  const uint32_t chroma_array_type = sps.separate_colour_plane_flag ? 0 : chroma_format;
  uint32_t unit_x = 1;
  uint32_t unit_y = 1;
  if (chroma_array_type == 1) {
    unit_x = 2;
    unit_y = 2;
  } else if (chroma_array_type == 2) {
    unit_x = 2;
  }
  const uint32_t frame_factor = sps.frame_mbs_only_flag ? 1 : 2;
  const int64_t w = int64_t(coded_width) -
                    int64_t(unit_x) * (sps.frame_crop_left_offset + sps.frame_crop_right_offset);
  const int64_t h =
      int64_t(coded_height) * frame_factor -
      int64_t(unit_y) * frame_factor * (sps.frame_crop_top_offset + sps.frame_crop_bottom_offset);
  // Crops larger than the picture leave nothing rather than wrapping around.
  *width = w <= 0 ? 0 : w > INT64_C(0xFFFFFFFF) ? UINT32_MAX : uint32_t(w);
  *height = h <= 0 ? 0 : h > INT64_C(0xFFFFFFFF) ? UINT32_MAX : uint32_t(h);
}

bool display_size(const ZepAvcSps& sps, uint32_t width, uint32_t height, uint32_t* display_width,
                  uint32_t* display_height) {
  uint32_t sar_w = 0;
  uint32_t sar_h = 0;
  if (sps.aspect_ratio_idc == kExtendedSar) {
    sar_w = sps.sar_width;
    sar_h = sps.sar_height;
  } else if (sps.aspect_ratio_idc < 17) {
    sar_w = kSampleAspect[sps.aspect_ratio_idc].width;
    sar_h = kSampleAspect[sps.aspect_ratio_idc].height;
  } else {
    return false;
  }
  *display_width = width;
  *display_height = height;
  // Unspecified (0:0, or an extended ratio with a zero term): square samples.
  if (sar_w == 0 || sar_h == 0) return true;
  auto rounded = [](double v) -> uint32_t {
    const double r = v + 0.5;
    return r >= 4294967295.0 ? UINT32_MAX : uint32_t(r);
  };
  if (sar_w > sar_h) {
    *display_width = rounded(double(sar_w) / sar_h * width);
  } else {
    *display_height = rounded(double(sar_h) / sar_w * height);
  }
  return true;
}

ZEP_STATUS reader_get_info(const AvcReader& reader, uint32_t qid, ZepQueryData* data,
                           uint32_t index) {
  if (index != 0) return ZEP_ERR_INVALID_STREAM;
  switch (qid) {
    case ZEP_QID_NUM_CONTAINER_TITLE:
    case ZEP_QID_NUM_TITLE_STREAMS:
    case ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA:
      set_scalar(data, qid, 1);
      return ZEP_OK;
    case ZEP_QID_CONTAINER_TITLE_ID:
      set_scalar(data, qid, 0);
      return ZEP_OK;
    case ZEP_QID_GET_FILE_SIZE:
      set_scalar(data, qid, reader.source.file_size());
      return ZEP_OK;
    case ZEP_QID_FILE_POSITION:
      set_scalar(data, qid, reader.source.position());
      return ZEP_OK;
    case ZEP_QID_GET_CONTAINER_PROP: {
      uint8_t* out = record_buffer(data, kContainerPropSize);
      if (!out) return ZEP_ERR_BUFFER_TOO_SMALL;
      out[0] = 0x10;
      put_le32(out + 4, 1);  // one title
      put_le32(out + 8, 0);
      return ZEP_OK;
    }
    case ZEP_QID_GET_TITLE_PROP: {
      uint8_t* out = record_buffer(data, kTitlePropSize);
      if (!out) return ZEP_ERR_BUFFER_TOO_SMALL;
      std::memset(out + 4, 0, kTitlePropSize - 4);
      put_le32(out + 12, 1);  // one stream
      return ZEP_OK;
    }
    case ZEP_QID_GET_TITLE_MEDIA_PROP: {
      uint8_t* out = record_buffer(data, kTitleMediaPropSize);
      if (!out) return ZEP_ERR_BUFFER_TOO_SMALL;
      put_le16(out + 2, 1);  // video streams
      put_le16(out + 4, 0);  // audio streams
      put_le16(out + 6, 0);  // subtitle streams
      return ZEP_OK;
    }
    case ZEP_QID_GET_VIDEO_MEDIA_PROP: {
      uint8_t* out = record_buffer(data, kVideoMediaPropSize);
      if (!out) return ZEP_ERR_BUFFER_TOO_SMALL;
      out[0] = 0x10;
      out[1] = 0;
      put_le16(out + 2, 0);
      put_le32(out + 4, 2);
      return ZEP_OK;
    }
    case ZEP_QID_VID_STREAM_FORMAT:
      return video_stream_format(reader, data);
    case ZEP_QID_SPS_SIZE:
      set_scalar(data, qid, reader.sps_size);
      return ZEP_OK;
    case ZEP_QID_SPS_DATA:
      return copy_bytes(data, reader.sps_copy, reader.sps_size);
    case ZEP_QID_PPS_SIZE:
      set_scalar(data, qid, reader.pps_size);
      return ZEP_OK;
    case ZEP_QID_PPS_DATA:
      return copy_bytes(data, reader.pps_copy, reader.pps_size);
    case ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE:
      set_scalar(data, qid, uint64_t(reader.sps_size) + reader.pps_size + kAvcConfigOverhead);
      return ZEP_OK;
    case ZEP_QID_VIDEO_CODEC_PRIVATE_DATA:
      return avc_config(reader, data);
    default:
      return ZEP_ERR_INVALID_QUERY_ID;
  }
}

}  // namespace zep::h264
