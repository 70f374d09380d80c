#include "modules/avi/avi_info.h"

#include <algorithm>
#include <cstring>

#include "modules/avi/avi_headers.h"
#include "modules/avi/avi_index.h"
#include "modules/avi/avi_reader.h"
#include "modules/avi/avi_timing.h"

namespace avi {

namespace {

constexpr uint32_t kMaxHttpAuthSize = 64 * 1024;

ZEP_STATUS put_u16(ZepQueryData* d, uint16_t v) {
  d->valueType = ZEP_QTYPE_COUNT16;
  d->value.u64 = v;
  return ZEP_OK;
}
ZEP_STATUS put_u32(ZepQueryData* d, uint32_t type, uint32_t v) {
  d->valueType = type;
  d->value.u64 = v;
  return ZEP_OK;
}
ZEP_STATUS put_i64(ZepQueryData* d, uint32_t type, int64_t v) {
  d->valueType = type;
  d->value.i64 = v;
  return ZEP_OK;
}

// Copies a record into the caller's buffer.
ZEP_STATUS put_record(ZepQueryData* d, const void* record, uint32_t size) {
  if (!d->value.ptr) return ZEP_E_NULL_ARG;
  if (d->size < size) return ZEP_ERR_BUFFER_TOO_SMALL;
  std::memcpy(d->value.ptr, record, size);
  d->valueType = ZEP_QTYPE_BUFFER;
  d->size = size;
  return ZEP_OK;
}

// A wide copy (one character per byte) of a text, newly allocated.
ZEP_STATUS put_text(ZepQueryData* d, const char* text, void* mem) {
  d->valueType = ZEP_QTYPE_WSTRING;
  size_t n = strnlen(text, kInfoTextSize);
  if (n == 0) {
    d->value.ptr = nullptr;
    d->size = 0;
    return ZEP_OK;
  }
  zep_wchar_t* copy = zep_wcsalloc(uint32_t(n + 1), mem);
  if (!copy) return ZEP_E_NO_MEMORY;
  for (size_t i = 0; i < n; ++i) copy[i] = zep_wchar_t(uint8_t(text[i]));
  copy[n] = 0;
  d->value.ptr = copy;
  d->size = uint32_t((n + 1) * sizeof(zep_wchar_t));
  return ZEP_OK;
}

void put_le32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = uint8_t(v >> (8 * i));
}
void put_le16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}

ZEP_STATUS video_format(const AviStream& s, ZepQueryData* d, uint32_t kind, uint32_t recordSize) {
  uint8_t r[56] = {};
  put_le32(r + 0, kind);
  put_le32(r + 4, s.header.rate);
  put_le32(r + 8, s.header.scale);
  put_le32(r + 12, uint32_t(s.bitmap.width));
  put_le32(r + 16, uint32_t(s.bitmap.height));
  put_le16(r + 20, s.bitmap.bitCount);
  put_le32(r + 24, s.header.handler);
  put_le32(r + 28, s.bitmap.compression);
  put_le32(r + 32, s.bitmap.sizeImage);
  if (recordSize == 56) {
    put_le32(r + 36, 0);
    put_le32(r + 40, uint32_t(s.bitmap.xPelsPerMeter));
    put_le32(r + 44, uint32_t(s.bitmap.yPelsPerMeter));
  }
  return put_record(d, r, recordSize);
}

ZEP_STATUS audio_format(const AviStream& s, ZepQueryData* d) {
  ZepAudioStreamFormat f{};
  f.kind = 17;
  f.formatTag = s.wave.formatTag;
  f.channels = s.wave.channels;
  f.sampleRate = s.wave.samplesPerSec;
  f.avgBytesPerSec = s.wave.avgBytesPerSec;
  f.blockAlign = s.wave.blockAlign;
  f.bitsPerSample = s.wave.bitsPerSample;
  f.moduleWord = 0;
  if (s.wave.cbSize >= 1 && s.wave.cbSize <= 256) {
    f.extraSize = s.wave.cbSize;
    std::memcpy(f.extra, s.wave.extra, s.wave.extraStored);
  }
  return put_record(d, &f, sizeof f);
}

// The stream name as a properties record: kind, stream index, the name.
ZEP_STATUS name_prop(const AviStream& s, uint32_t index, bool subtitleLayout, ZepQueryData* d) {
  const char* name = s.name ? s.name : "";
  uint32_t n = uint32_t(strnlen(name, ZEP_PROP_NAME_CHARS - 1));
  if (subtitleLayout) {
    ZepSubtitleMediaProp p{};
    p.kind = 16;
    p.nameLength = n;
    for (uint32_t i = 0; i < n; ++i) p.name[i] = zep_wchar_t(uint8_t(name[i]));
    return put_record(d, &p, sizeof p);
  }
  ZepAudioMediaProp p{};
  p.kind = 16;
  p.streamIndex = index;
  p.nameLength = n;
  for (uint32_t i = 0; i < n; ++i) p.name[i] = zep_wchar_t(uint8_t(name[i]));
  return put_record(d, &p, sizeof p);
}

// Makes the index cover `target` as a seek to that time would. A title that
// failed while its headers were parsed has no index.
ZEP_STATUS prepare_index(AviContext& ctx, AviMediaSet& set, int64_t target) {
  if (!set.index) return ZEP_FAIL;
  AviIndex& ix = *set.index;
  if (!ix.usable) return ZEP_ERR_PROCESS_INDEX_FAILED;
  bool prepare =
      (!set.onTheFly && !ix.built) || (set.onTheFly && !ix.built && target > ix.lastKeyTime);
  if (!prepare) return ZEP_OK;
  if (!set.indexPresent) return set.onTheFly ? ZEP_ERR_INDEX_INCOMPLETE : ZEP_ERR_NO_INDEX_FOUND;
  return index_build(ctx, set, target);
}

ZEP_STATUS sync_query(AviContext& ctx, AviMediaSet& set, uint32_t qid, ZepQueryData* d) {
  const AviTiming& vt = set.video.timing;
  bool byTime =
      qid == ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME || qid == ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME;
  bool forward =
      qid == ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME || qid == ZEP_QID_TITLEMEDIA_NEXT_SYNC_POINT;
  int64_t time = byTime ? d->value.i64 : frame_time(vt, d->value.u32);
  uint32_t frame = byTime ? frame_of_time(vt, time) : d->value.u32;
  // A next sync point is looked for up to 10 s ahead of the time.
  ZEP_STATUS status = prepare_index(ctx, set, forward ? add_time(time, 100000000) : time);
  if (status == ZEP_ERR_PROCESS_INDEX_FAILED || status == ZEP_ERR_INDEX_INCOMPLETE) return status;
  if (status < 0) return ZEP_ERR_END_OF_STREAM;
  uint32_t found = 0;
  if (!forward && frame == 0) {
    found = 0;
  } else if (index_is_cacheless(ctx, set)) {
    uint64_t pos = 0;
    uint32_t start = forward ? frame : frame - 1;
    if (odml_find_sync(ctx, set, start, forward, &found, &pos) < 0) return ZEP_ERR_END_OF_STREAM;
  } else {
    const AviKeyEntry* e =
        forward ? index_next_after(*set.index, frame) : index_last_before(*set.index, frame);
    if (!e) return ZEP_ERR_END_OF_STREAM;
    found = e->frame;
  }
  if (byTime) return put_i64(d, ZEP_QID_VALUE_TYPE(qid), frame_time(vt, found));
  return put_u32(d, ZEP_QTYPE_VALUE32, found);
}

uint32_t track_number(AviMediaSet& set, uint32_t blockType, uint32_t index) {
  AviStream* s = find_stream(set, blockType, index);
  return s ? s->streamNumber : 0xFFFFFFFFu;
}

ZEP_STATUS pass_to_menu(AviContext& ctx, uint32_t qid, ZepQueryData* d, uint32_t index) {
  if (ctx.menuPosition == kNoPosition) return ZEP_ERR_UNSUPPORTED_QID;
  if (!ctx.menu || !aviMenuOps.MenuGetInfo) return ZEP_ERR_MENU_FUNC_NULL;
  return aviMenuOps.MenuGetInfo(ctx.menu, qid, d, index);
}

}  // namespace

ZEP_STATUS get_info(AviHandle* handle, uint32_t qid, ZepQueryData* d, uint32_t index) {
  if (!d) return ZEP_E_NULL_ARG;
  AviContext& ctx = *handle->context;
  AviMediaSet& set = ctx.titles;
  uint32_t type = ZEP_QID_VALUE_TYPE(qid);
  if (type == 0 || type == 4 || type == 9 || type > 11) return ZEP_ERR_UNSUPPORTED_QID;
  bool loaded = set.currentTitle != kNoTitle;

  // Answers that do not depend on a loaded title.
  switch (qid) {
    case ZEP_QID_NUM_CONTAINER_TITLE:
      return put_u16(d, uint16_t(set.titleCount));
    case ZEP_QID_MAX_SUPPORTED_VID_STREAMS:
      return put_u16(d, 1);
    case ZEP_QID_MAX_SUPPORTED_AUD_STREAMS:
    case ZEP_QID_MAX_SUPPORTED_SUB_STREAMS:
      return put_u16(d, 8);
    case ZEP_QID_USE_CACHELESS_INDEX:
      return put_u32(d, type, ctx.cacheless);
    case ZEP_QID_GET_MIN_MEM_USAGE:
      return put_u32(d, type, ctx.minMemory);
    case ZEP_QID_ON_THE_FLY_INDEX:
      return put_u32(d, type, set.onTheFly);
    case ZEP_QID_GET_SUPER_INDEX_NUM_ENTRIES:
      return put_u32(d, type, ctx.keyframeGap);
    case ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE:
    case ZEP_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE:
    case ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE:
      return put_u32(d, type, 0);
    case ZEP_QID_GET_WAIT_TIME:
      return put_i64(d, type, 50000000);
    case ZEP_QID_GET_TOOL_VERSION:
      return put_text(d, handle->softwareText, ctx.memoryContext);
    case ZEP_QID_GET_FORMAT_VERSION:
      return put_text(d, handle->formatVersionText, ctx.memoryContext);
    case ZEP_QID_PROFILE_NAME:
      return put_text(d, handle->profileNameText, ctx.memoryContext);
    case ZEP_QID_FILE_POSITION:
      return put_i64(d, type, int64_t(ctx.file.tell()));
    case ZEP_QID_BYTES_AVAILABLE_AHEAD: {
      uint64_t pos = ctx.file.tell();
      return put_i64(d, type, ctx.file.size >= pos ? int64_t(ctx.file.size - pos) : -1);
    }
    case ZEP_QID_GET_PROGRESS:
    case ZEP_QID_GET_FILE_SIZE:
    case ZEP_QID_GET_FILE_DOWNLOADED_SIZE:
      return ZEP_OK;
    case ZEP_QID_GET_BITRATE:
      return put_u32(d, type, 0xFFFFFFFFu);
    case ZEP_QID_GET_HTTP_AUTH:
      if (!ctx.httpAuth) return put_record(d, "", 0);
      return put_record(d, ctx.httpAuth, ctx.httpAuthSize);
    case ZEP_QID_METADATA_OFFSET: {
      uint64_t offset = 0;
      ZEP_STATUS s = AviMenuFindMetadataOffset(ctx.file.file, &ctx.metadataOffset, &offset);
      if (s < 0) return s;
      return put_i64(d, type, int64_t(offset));
    }
    case ZEP_QID_GET_CONTAINER_PROP: {
      AviContainerProp p{16, set.titleCount, 0};
      if (ctx.menu && aviMenuOps.GetPageCount) aviMenuOps.GetPageCount(ctx.menu, &p.pageCount);
      return put_record(d, &p, sizeof p);
    }
    default:
      break;
  }

  // Title-dependent answers.
  switch (qid) {
    case ZEP_QID_NUM_TITLE_STREAMS:
    case ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA:
    case ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA:
    case ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA:
    case ZEP_QID_TOTAL_NUM_TITLEMEDIA_VIDEOMEDIA:
    case ZEP_QID_TOTAL_NUM_TITLEMEDIA_AUDIOMEDIA:
    case ZEP_QID_TOTAL_NUM_TITLEMEDIA_SUBTITLEMEDIA:
    case ZEP_QID_GET_CONTAINER_TYPE:
    case ZEP_QID_TITLE_SUGGESTED_BUFFER_SIZE:
    case ZEP_QID_TITLEDATA_VIDEOFRAMECOUNT:
    case ZEP_QID_TITLEDATA_VIDEO_FRAME_FROM_TIME:
    case ZEP_QID_TITLEMEDIA_VID_ABSOLUTE_TRACK_NUM:
    case ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM:
    case ZEP_QID_TITLEMEDIA_SUB_ABSOLUTE_TRACK_NUM:
    case ZEP_QID_TITLE_DURATION:
    case ZEP_QID_TITLEMEDIA_FILE_OFFSET:
    case ZEP_QID_TITLEMEDIA_PREV_SYNC_POINT:
    case ZEP_QID_TITLEMEDIA_NEXT_SYNC_POINT:
    case ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME:
    case ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME:
    case ZEP_QID_VID_STREAM_FORMAT:
    case ZEP_QID_AUD_STREAM_FORMAT:
    case ZEP_QID_SUB_STREAM_FORMAT:
    case ZEP_QID_GET_TITLE_MEDIA_PROP:
    case ZEP_QID_GET_VIDEO_MEDIA_PROP:
    case ZEP_QID_GET_AUDIO_MEDIA_PROP:
    case ZEP_QID_GET_SUBTITLE_MEDIA_PROP:
    case ZEP_QID_GET_VID_STREAMNAME_PROP:
    case ZEP_QID_GET_AUD_STREAMNAME_PROP:
    case ZEP_QID_GET_SUB_STREAMNAME_PROP:
    case ZEP_QID_GET_TITLE_PROP:
      if (!loaded) return ZEP_FAIL;
      break;
    default:
      return pass_to_menu(ctx, qid, d, index);
  }

  uint32_t total = set.videoCount + set.audioCount + set.subtitleCount;
  switch (qid) {
    case ZEP_QID_NUM_TITLE_STREAMS:
      return put_u16(d, uint16_t(total));
    case ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA:
      return put_u16(d, set.videoCount);
    case ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA:
      return put_u16(d, set.audioCount);
    case ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA:
      return put_u16(d, set.subtitleCount);
    case ZEP_QID_TOTAL_NUM_TITLEMEDIA_VIDEOMEDIA:
      return put_u16(d, set.videoPresent);
    case ZEP_QID_TOTAL_NUM_TITLEMEDIA_AUDIOMEDIA:
      return put_u16(d, set.audioPresent);
    case ZEP_QID_TOTAL_NUM_TITLEMEDIA_SUBTITLEMEDIA:
      return put_u16(d, set.subtitlePresent);
    case ZEP_QID_GET_CONTAINER_TYPE:
      return put_u32(d, type, set.index && set.index->odml ? 1 : 0);
    case ZEP_QID_TITLE_SUGGESTED_BUFFER_SIZE: {
      uint32_t largest = set.videoCount ? set.video.header.suggestedBufferSize : 0;
      for (uint32_t i = 0; i < set.audioCount; ++i)
        largest = std::max(largest, set.audio[i].header.suggestedBufferSize);
      for (uint32_t i = 0; i < set.subtitleCount; ++i)
        largest = std::max(largest, set.subtitle[i].header.suggestedBufferSize);
      return put_u32(d, type, largest);
    }
    case ZEP_QID_TITLEDATA_VIDEOFRAMECOUNT:
      return put_u32(d, type, set.video.header.length);
    case ZEP_QID_TITLEDATA_VIDEO_FRAME_FROM_TIME:
      return put_u32(d, type, frame_of_time(set.video.timing, d->value.i64));
    case ZEP_QID_TITLEMEDIA_VID_ABSOLUTE_TRACK_NUM:
      return put_u32(d, type, track_number(set, ZEP_BLOCK_VIDEO, index));
    case ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM:
      return put_u32(d, type, track_number(set, ZEP_BLOCK_AUDIO, index));
    case ZEP_QID_TITLEMEDIA_SUB_ABSOLUTE_TRACK_NUM:
      return put_u32(d, type, track_number(set, ZEP_BLOCK_SUBTITLE, index));
    case ZEP_QID_TITLE_DURATION: {
      int64_t duration = 0;
      if (set.videoCount) {
        duration = frame_time(set.video.timing, set.video.header.length);
      } else if (set.audioCount && set.audio[0].header.rate) {
        const AviStreamHeader& h = set.audio[0].header;
        duration = saturated_time(double(h.length) * double(h.scale) * double(kUnitsPerSecond) /
                                  double(h.rate));
      }
      return put_i64(d, type, duration);
    }
    case ZEP_QID_TITLEMEDIA_FILE_OFFSET:
      return put_i64(d, type, int64_t(set.titlePosition));
    case ZEP_QID_TITLEMEDIA_PREV_SYNC_POINT:
    case ZEP_QID_TITLEMEDIA_NEXT_SYNC_POINT:
    case ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME:
    case ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME:
      if (!set.videoCount) return ZEP_ERR_END_OF_STREAM;
      return sync_query(ctx, set, qid, d);
    case ZEP_QID_VID_STREAM_FORMAT:
      if (index != 0 || !set.videoCount) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return video_format(set.video, d, 1, 56);
    case ZEP_QID_AUD_STREAM_FORMAT:
      if (index >= set.audioCount) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return audio_format(set.audio[index], d);
    case ZEP_QID_SUB_STREAM_FORMAT:
      if (index >= set.subtitleCount) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return video_format(set.subtitle[index], d, 33, 48);
    case ZEP_QID_GET_TITLE_MEDIA_PROP: {
      AviTitleMediaProp p{16, set.videoCount, set.audioCount, set.subtitleCount};
      return put_record(d, &p, sizeof p);
    }
    case ZEP_QID_GET_VIDEO_MEDIA_PROP: {
      if (index != 0 || !set.videoCount) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      AviVideoMediaProp p{16, index};
      return put_record(d, &p, sizeof p);
    }
    case ZEP_QID_GET_AUDIO_MEDIA_PROP:
    case ZEP_QID_GET_AUD_STREAMNAME_PROP:
      if (index >= set.audioCount) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return name_prop(set.audio[index], index, false, d);
    case ZEP_QID_GET_SUBTITLE_MEDIA_PROP:
    case ZEP_QID_GET_SUB_STREAMNAME_PROP:
      if (index >= set.subtitleCount) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return name_prop(set.subtitle[index], index, true, d);
    case ZEP_QID_GET_VID_STREAMNAME_PROP:
      if (index != 0 || !set.videoCount) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return name_prop(set.video, index, false, d);
    case ZEP_QID_GET_TITLE_PROP: {
      AviTitleProp p{16, total, 0, 0, 0};
      if (ctx.menu) {
        if (aviMenuOps.GetChapterCount)
          aviMenuOps.GetChapterCount(ctx.menu, set.currentTitle, &p.chapterCount);
        AviMenuTitleRecord record{};
        if (aviMenuOps.GetTitleRecord &&
            aviMenuOps.GetTitleRecord(ctx.menu, set.currentTitle, &record) >= 0) {
          p.titleValue0 = le32_at(record.bytes);
          p.titleValue1 = le32_at(record.bytes + 4);
        }
      }
      return put_record(d, &p, sizeof p);
    }
    default:
      return ZEP_ERR_UNSUPPORTED_QID;
  }
}

ZEP_STATUS set_info(AviHandle* handle, uint32_t qid, ZepQueryData* d, uint32_t index) {
  if (!d) return ZEP_E_NULL_ARG;
  AviContext& ctx = *handle->context;
  AviMediaSet& set = ctx.titles;
  switch (qid) {
    case ZEP_QID_USE_CACHELESS_INDEX:
      ctx.cacheless = d->value.u32 != 0;
      return ZEP_OK;
    case ZEP_QID_SET_MIN_MEM_USAGE:
      ctx.minMemory = d->value.u32 != 0;
      return ZEP_OK;
    case ZEP_QID_SET_KEYFRAME_GAP:
      ctx.keyframeGap = d->value.u32;
      return ZEP_OK;
    case ZEP_QID_ON_THE_FLY_INDEX:
      if (d->value.u32 == 0) {
        set.onTheFly = false;
      } else if (set.index && !set.index->odml && !set.video.hasIndx && set.segmentCount == 0 &&
                 set.index->count == 0 && !set.index->anyIndexed) {
        // Only before anything was indexed: the on-the-fly walk needs to see
        // the title from its start.
        set.onTheFly = true;
      }
      return ZEP_OK;
    case ZEP_QID_SET_HTTP_AUTH: {
      if (ctx.httpAuth) zep_mem_free(ctx.httpAuth, ctx.memoryContext);
      ctx.httpAuth = nullptr;
      ctx.httpAuthSize = 0;
      if (d->value.ptr && d->size && d->size <= kMaxHttpAuthSize) {
        ctx.httpAuth = static_cast<uint8_t*>(zep_mem_alloc(d->size, ctx.memoryContext));
        if (ctx.httpAuth) {
          std::memcpy(ctx.httpAuth, d->value.ptr, d->size);
          ctx.httpAuthSize = d->size;
        }
      }
      return ZEP_ERR_REMOTE_FILE_UNSUPPORTED;
    }
    default:
      break;
  }
  if (ctx.menuPosition == kNoPosition) return ZEP_ERR_MENU_MODULE_NULL;
  if (!aviMenuOps.MenuSetInfo) return ZEP_ERR_MENU_FUNC_NULL;
  return aviMenuOps.MenuSetInfo(ctx.menu, qid, d, index);
}

}  // namespace avi
