// Finding the parameter sets and cutting the stream into access units.
#include "modules/h264/h264_reader.h"

#include <cstring>

namespace zep::h264 {

namespace {

// SetTitle looks at this many NAL units for the SPS and the PPS.
constexpr int kParameterSetSearch = 5;

// Streams without timing information play at 30 frames a second.
constexpr uint32_t kDefaultRate = 30000;
constexpr uint32_t kDefaultTimeScale = 60000;
constexpr uint32_t kDefaultTick = 1000;

__extension__ typedef __int128 Int128;

bool is_slice(uint32_t nal_unit_type) {
  return nal_unit_type >= ZEP_AVC_NAL_SLICE && nal_unit_type <= ZEP_AVC_NAL_IDR;
}

// Replaces *copy with the bytes of one NAL unit.
ZEP_STATUS keep_copy(uint8_t** copy, uint32_t* size, const uint8_t* nal, uint32_t length,
                     void* context) {
  auto* bytes = static_cast<uint8_t*>(zep_mem_alloc(length, context));
  if (!bytes) return ZEP_E_NO_MEMORY;
  std::memcpy(bytes, nal, length);
  if (*copy) zep_mem_free(*copy, context);
  *copy = bytes;
  *size = length;
  return ZEP_OK;
}

uint32_t saturate_u32(uint64_t value) { return value > UINT32_MAX ? UINT32_MAX : uint32_t(value); }

// ⌊tick × n × 10,000,000 / time scale⌋, kept inside 64 bits.
int64_t time_of(const AvcReader& reader, int64_t order) {
  if (reader.time_scale == 0) return 0;
  const Int128 t = Int128(reader.tick) * order * ZEP_TIME_UNITS_PER_SECOND / reader.time_scale;
  if (t > INT64_MAX) return INT64_MAX;
  if (t < INT64_MIN) return INT64_MIN;
  return int64_t(t);
}

// Makes room for `extra` more bytes behind the block's payload. The owner's
// callback replaces the buffer without keeping its contents, so the payload
// waits in the reader's spare buffer meanwhile.
ZEP_STATUS reserve(AvcReader& reader, ZepBlock* block, uint64_t extra) {
  const uint64_t needed = uint64_t(block->size) + extra;
  if (needed > UINT32_MAX) return ZEP_ERR_BLOCK_BUFFER_TOO_SMALL;
  if (block->data && needed <= block->capacity) return ZEP_OK;
  if (!block->EnsureBlockCapacity) return ZEP_ERR_BLOCK_BUFFER_TOO_SMALL;
  const uint32_t kept = block->data ? block->size : 0;
  if (kept > reader.spare_capacity) {
    auto* spare = static_cast<uint8_t*>(zep_mem_alloc(kept, reader.context));
    if (!spare) return ZEP_E_NO_MEMORY;
    if (reader.spare) zep_mem_free(reader.spare, reader.context);
    reader.spare = spare;
    reader.spare_capacity = kept;
  }
  if (kept) std::memcpy(reader.spare, block->data, kept);
  // Half as much again, so that a growing access unit does not ask every time.
  const uint64_t wanted = needed + needed / 2;
  const ZEP_STATUS status =
      zep_block_ensure_capacity(block, wanted > UINT32_MAX ? uint32_t(needed) : uint32_t(wanted));
  if (status < 0) return status;
  if (kept) std::memcpy(block->data, reader.spare, kept);
  return ZEP_OK;
}

// Appends one NAL unit behind a 4-byte big-endian length.
ZEP_STATUS append_nal(AvcReader& reader, ZepBlock* block, const uint8_t* nal, uint32_t length) {
  const ZEP_STATUS status = reserve(reader, block, uint64_t(length) + 4);
  if (status < 0) return status;
  uint8_t* out = block->data + block->size;
  out[0] = uint8_t(length >> 24);
  out[1] = uint8_t(length >> 16);
  out[2] = uint8_t(length >> 8);
  out[3] = uint8_t(length);
  std::memcpy(out + 4, nal, length);
  block->size += length + 4;
  return ZEP_OK;
}

}  // namespace

AvcReader::~AvcReader() {
  if (sps_copy) zep_mem_free(sps_copy, context);
  if (pps_copy) zep_mem_free(pps_copy, context);
  if (spare) zep_mem_free(spare, context);
}

ZEP_STATUS reader_set_title(AvcReader& reader, uint32_t title) {
  if (title != 0) return ZEP_FAIL;
  bool have_sps = false;
  bool have_pps = false;
  for (int i = 0; i < kParameterSetSearch && !(have_sps && have_pps); ++i) {
    if (reader.source.at_end()) break;
    const uint8_t* nal = nullptr;
    uint32_t length = 0;
    const ZEP_STATUS found = reader.source.next(&nal, &length);
    if (found < 0) return found;
    if (found == kOnlyZerosToEnd) break;
    reader.source.consume();
    if (length == 0) continue;
    const uint32_t type = nal[0] & 0x1Fu;
    ZEP_STATUS kept = ZEP_OK;
    if (type == ZEP_AVC_NAL_SPS) {
      kept = keep_copy(&reader.sps_copy, &reader.sps_size, nal, length, reader.context);
      have_sps = true;
    } else if (type == ZEP_AVC_NAL_PPS) {
      kept = keep_copy(&reader.pps_copy, &reader.pps_size, nal, length, reader.context);
      have_pps = true;
    }
    if (kept < 0) return kept;
  }

  const ZEP_STATUS sps_status = zep_avc_parse_sps(&reader.sps, reader.sps_copy, reader.sps_size);
  if (sps_status < 0) {
    // The record no longer describes what an earlier SetTitle found.
    reader.title_set = 0;
    return sps_status;
  }

  reader.width = saturate_u32((uint64_t(reader.sps.pic_width_in_mbs_minus1) + 1) * 16);
  reader.height = saturate_u32((uint64_t(reader.sps.pic_height_in_map_units_minus1) + 1) * 16);
  const bool field_pictures =
      !reader.sps.frame_mbs_only_flag && !reader.sps.mb_adaptive_frame_field_flag;
  // A frame lasts two ticks; a field picture one.
  reader.rate = field_pictures ? reader.sps.time_scale : reader.sps.time_scale / 2;
  reader.time_scale = reader.sps.time_scale;
  reader.tick = reader.sps.num_units_in_tick;
  if (reader.rate == 0 || reader.tick == 0) {
    reader.rate = kDefaultRate;
    reader.time_scale = kDefaultTimeScale;
    reader.tick = kDefaultTick;
  }

  const ZEP_STATUS pps_status = zep_avc_parse_pps(&reader.pps, reader.pps_copy, reader.pps_size);
  reader.have_pps = pps_status == ZEP_OK;

  reader.access_units = 0;
  reader.order.reset(reader.sps);
  reader.last_time = 0;
  // Block reading starts again at the first byte, so that the parameter sets
  // reach the first block.
  reader.source.rewind();
  reader.title_set = 1;
  return pps_status;
}

ZEP_STATUS reader_read_access_unit(AvcReader& reader, ZepBlock* block) {
  if (!reader.title_set) return ZEP_WARN_NONFATAL;
  if (reader.source.at_end()) return ZEP_ERR_END_OF_STREAM;

  // What a read that cannot store its access unit puts back.
  const uint64_t start = reader.source.position();
  const PictureOrder order_before = reader.order;
  const uint32_t units_before = reader.access_units;
  const int64_t time_before = reader.last_time;

  block->size = 0;
  block->flags = 0;
  block->kind = ZEP_BLOCK_VIDEO;
  block->time = reader.last_time;
  ++reader.access_units;
  bool picture_started = false;
  bool field_seen = false;
  ZEP_STATUS status = ZEP_OK;

  for (;;) {
    if (reader.source.at_end()) break;
    const uint8_t* nal = nullptr;
    uint32_t length = 0;
    const ZEP_STATUS found = reader.source.next(&nal, &length);
    if (found == kOnlyZerosToEnd) {
      reader.source.consume_rest();
      break;
    }
    if (found < 0) {
      // A complete picture is delivered as it is; the next read meets the
      // damage at once and reports it.
      if (!picture_started) status = found;
      break;
    }
    if (length == 0) {
      status = ZEP_FAIL;
      break;
    }
    const uint32_t type = nal[0] & 0x1Fu;
    if (is_slice(type)) {
      if (length == 1) {
        status = ZEP_FAIL;
        break;
      }
      ZepAvcSliceHeader header;
      // A slice whose header is cut short keeps the fields read before the
      // cut, the others 0.
      zep_avc_parse_slice_header_poc(&reader.sps, reader.have_pps ? &reader.pps : nullptr, nal,
                                     length, type, &header);
      if (header.first_mb_in_slice == 0) {
        if (picture_started) break;  // it opens the next access unit
        picture_started = true;
        const int64_t order = reader.order.next(header, type, (nal[0] >> 5) & 3u);
        block->time = time_of(reader, order);
        reader.last_time = block->time;
        if (type == ZEP_AVC_NAL_IDR) block->flags = ZEP_BLOCK_FLAG_KEYFRAME;
      }
      if (header.field_pic_flag) field_seen = true;
    } else if (picture_started && type != ZEP_AVC_NAL_AUD && type != ZEP_AVC_NAL_END_SEQ) {
      break;  // parameter sets, SEI and the like open the next access unit
    }
    reader.source.consume();
    if (type == ZEP_AVC_NAL_AUD || type == ZEP_AVC_NAL_END_SEQ) continue;
    const ZEP_STATUS appended = append_nal(reader, block, nal, length);
    if (appended < 0) {
      // Leave the stream where this access unit began, so that a read with
      // a larger buffer delivers it whole.
      reader.source.seek(start);
      reader.order = order_before;
      reader.access_units = units_before;
      reader.last_time = time_before;
      block->size = 0;
      return appended;
    }
  }

  const double frame_part = double(reader.tick) / double(reader.time_scale) *
                            double(ZEP_TIME_UNITS_PER_SECOND) * (field_seen ? 1.0 : 2.0);
  block->duration = int64_t(frame_part);
  return status;
}

}  // namespace zep::h264
