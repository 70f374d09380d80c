// GetInfo and SetInfo of the Matroska module: titles, streams, formats,
// names, codec data and file statistics; chapters, tags and attachments are
// answered by their own files.
#include "modules/mkv/mkv_info.h"

#include <algorithm>

#include "modules/mkv/mkv_blocks.h"
#include "modules/mkv/mkv_codecs.h"
#include "modules/mkv/mkv_formats.h"
#include "modules/mkv/mkv_metadata.h"
#include "modules/mkv/mkv_query.h"
#include "modules/mkv/mkv_segment.h"

namespace mkv {

namespace {

constexpr uint32_t kContainerTypeMatroska = 2;

struct TitleProp {
  uint32_t kind;
  uint32_t streams;
  uint32_t videos, audios, subtitles;
  uint32_t reserved;
};
struct ContainerProp {
  uint32_t kind;
  uint32_t titles;
  uint32_t pages;
};
struct TitleMediaProp {
  uint16_t kind, videos, audios, subtitles;
};
struct VideoMediaProp {
  uint32_t kind;
  uint32_t stream;
};

// The stream kind that a stream query names (the media nibble of a QID is
// not set for all of them).
uint32_t kind_of(uint32_t qid) {
  switch (qid) {
    case ZEP_QID_VID_STREAM_FORMAT:
    case ZEP_QID_VID_CODEC_ID:
    case ZEP_QID_VID_CODEC_NAME:
    case ZEP_QID_VID_STREAM_NAME:
    case ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE:
    case ZEP_QID_VIDEO_CODEC_PRIVATE_DATA:
    case ZEP_QID_MKV_IS_INTERLACED:
    case ZEP_QID_MKV_COMBINE_FIELDS:
      return kKindVideo;
    case ZEP_QID_AUD_STREAM_FORMAT:
    case ZEP_QID_AUD_CODEC_ID:
    case ZEP_QID_AUD_CODEC_NAME:
    case ZEP_QID_AUD_STREAM_NAME:
    case ZEP_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE:
    case ZEP_QID_AUDIO_CODEC_PRIVATE_DATA:
    case ZEP_QID_AUDIO_CONTENT_COMPRESSION_ALGO:
    case ZEP_QID_AUDIO_CONTENT_COMPRESSION_SETTING_SIZE:
    case ZEP_QID_AUDIO_CONTENT_COMPRESSION_SETTING:
    case ZEP_QID_GET_AUDIO_MEDIA_PROP:
    case ZEP_QID_GET_AUD_STREAMNAME_PROP:
      return kKindAudio;
    case ZEP_QID_SUB_STREAM_FORMAT:
    case ZEP_QID_SUB_CODEC_ID:
    case ZEP_QID_SUB_CODEC_NAME:
    case ZEP_QID_SUB_STREAM_NAME:
    case ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE:
    case ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA:
    case ZEP_QID_GET_SUBTITLE_MEDIA_PROP:
    case ZEP_QID_GET_HDSUBTITLE_MEDIA_PROP:
    case ZEP_QID_GET_SUB_STREAMNAME_PROP:
      return kKindSubtitle;
    default:
      return kKindNone;
  }
}

void copy_short(zep_wchar_t* out, const std::u16string& s) {
  for (size_t i = 0; i < 3 && i < s.size(); ++i) out[i] = s[i];
}

ZEP_STATUS name_prop(const MkvTrack& t, bool subtitle, ZepQueryData* d) {
  if (subtitle) {
    ZepSubtitleMediaProp p{};
    p.kind = 16;
    copy_short(p.language, t.language);
    p.nameLength = uint32_t(std::min<size_t>(t.name.size(), ZEP_PROP_NAME_CHARS - 1));
    copy_text(p.name, ZEP_PROP_NAME_CHARS, t.name);
    return put_record(d, &p, sizeof p, 1056);
  }
  ZepAudioMediaProp p{};
  p.kind = 16;
  p.streamIndex = t.streamIndex;
  copy_short(p.language, t.language);
  p.nameLength = uint32_t(std::min<size_t>(t.name.size(), ZEP_PROP_NAME_CHARS - 1));
  copy_text(p.name, ZEP_PROP_NAME_CHARS, t.name);
  return put_record(d, &p, sizeof p, 1060);
}

ZEP_STATUS linked_prop(const MkvTrack& t, bool master, ZepQueryData* d) {
  ZepLinkedTrackProp p{};
  p.trackUid = master ? t.masterUid : t.enhancedUid;
  const Uid& uid = master ? t.masterSegmentUid : t.enhancedSegmentUid;
  std::memcpy(p.segmentUid, uid.bytes, sizeof p.segmentUid);
  copy_text(p.fileName, 256, master ? t.masterFileName : t.enhancedFileName);
  return put_record(d, &p, sizeof p);
}

ZEP_STATUS track_prop(const MkvTrack& t, ZepQueryData* d) {
  ZepMkvTrackProp p{};
  p.kind = t.kind;
  p.streamIndex = t.streamIndex;
  p.number = t.number;
  p.uid = t.uid;
  p.codecCode = t.codec;
  p.flags = (t.flagDefault ? ZEP_TRACK_FLAG_DEFAULT : 0) |
            (t.flagForced ? ZEP_TRACK_FLAG_FORCED : 0) |
            (t.flagEnabled ? ZEP_TRACK_FLAG_ENABLED : 0);
  p.defaultDuration = t.hasDefaultDuration ? t.defaultDuration : 0;
  p.compression = t.compression;
  p.codecPrivateSize = uint32_t(t.codecPrivate.size());
  copy_text(p.language, 32, t.language);
  copy_text(p.codecId, 64, t.codecId);
  return put_record(d, &p, sizeof p);
}

ZEP_STATUS chain_entry(MkvContainer& c, uint32_t index, ZepQueryData* d) {
  if (index >= c.chain.size()) return ZEP_FAIL;
  const MkvChainEntry& e = c.chain[index];
  const MkvContainer& owner = e.container ? *e.container : c;
  ZepMkvChainEntry p{};
  p.index = index;
  p.isOpenedFile = index == c.chainSelf;
  p.duration = to_int64(e.duration / 100.0);
  std::memcpy(p.segmentUid, e.uid.bytes, sizeof p.segmentUid);
  p.segmentUidSize = e.uid.size;
  copy_text(p.fileName, ZEP_MAX_PATH, owner.fileName);
  return put_record(d, &p, sizeof p);
}

ZEP_STATUS private_data(const std::vector<uint8_t>& bytes, bool emptyIsValue, ZepQueryData* d) {
  d->valueType = ZEP_QTYPE_BUFFER;
  if (bytes.empty() && emptyIsValue) {
    d->size = 0;
    return ZEP_OK;
  }
  if (!d->value.ptr) return ZEP_E_NULL_ARG;
  if (d->size < bytes.size()) return ZEP_ERR_BUFFER_TOO_SMALL;
  if (!bytes.empty()) std::memcpy(d->value.ptr, bytes.data(), bytes.size());
  d->size = uint32_t(bytes.size());
  return ZEP_OK;
}

double chain_duration_ns(const MkvContainer& c) {
  double total = 0;
  for (const MkvChainEntry& e : c.chain) total += e.duration;
  return c.chain.empty() ? c.seg.duration * double(c.seg.timecodeScale) : total;
}

}  // namespace

ZEP_STATUS get_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index) {
  if (!d) return ZEP_E_NULL_ARG;
  MkvSegmentState& seg = c.seg;
  // Answers that need no current Segment.
  switch (qid) {
    case ZEP_QID_NUM_CONTAINER_TITLE:
      return put_scalar(d, qid, c.segments.size());
    case ZEP_QID_GET_CONTAINER_TYPE:
      return put_scalar(d, qid, kContainerTypeMatroska);
    case ZEP_QID_GET_PROGRESS:
      return put_scalar(d, qid, 0);
    case ZEP_QID_GET_BITRATE:
    case ZEP_QID_GET_FILE_SIZE:
    case ZEP_QID_GET_FILE_DOWNLOADED_SIZE:
    case ZEP_QID_BYTES_AVAILABLE_AHEAD: {
      uint64_t v = 0;
      const uint32_t code = qid == ZEP_QID_GET_FILE_DOWNLOADED_SIZE ? kSourceQueryLength : qid;
      ZEP_STATUS status = c.source.query(code, &v);
      if (status < 0) return status;
      return put_scalar(d, qid, v);
    }
    case ZEP_QID_GET_CONTAINER_PROP: {
      if (index != 0) return ZEP_ERR_INVALID_STREAM;
      ContainerProp p{16, uint32_t(c.segments.size()), 0};
      return put_record(d, &p, sizeof p, 12);
    }
    default:
      break;
  }
  if (c.currentTitle == 0xFFFFFFFFu) return ZEP_FAIL;

  const uint32_t kind = kind_of(qid);
  MkvTrack* t = kind != kKindNone ? c.track(kind, index) : nullptr;
  switch (qid) {
    case ZEP_QID_CONTAINER_TITLE_NAME:
      return put_new_string(d, seg.title, seg.hasTitle, c.alloc);
    case ZEP_QID_CONTAINER_FILE_NAME:
      return put_new_string(d, seg.fileName, seg.hasFileName, c.alloc);
    case ZEP_QID_CONTAINER_PREV_NAME:
      return put_new_string(d, seg.prevFileName, seg.hasPrevFileName, c.alloc);
    case ZEP_QID_CONTAINER_NEXT_NAME:
      return put_new_string(d, seg.nextFileName, seg.hasNextFileName, c.alloc);
    case ZEP_QID_CONTAINER_MUX_APP:
      return put_new_string(d, seg.muxingApp, seg.hasMuxingApp, c.alloc);
    case ZEP_QID_CONTAINER_WRITE_APP:
      return put_new_string(d, seg.writingApp, seg.hasWritingApp, c.alloc);
    case ZEP_QID_TITLE_DURATION:
      return put_scalar(d, qid, uint64_t(ticks_to_units(chain_duration_ns(c), 1)));
    case ZEP_QID_MKV_CHAIN_COUNT:
      return put_scalar(d, qid, c.chain.size());
    case ZEP_QID_MKV_CHAIN_ENTRY:
      return chain_entry(c, index, d);
    case ZEP_QID_NUM_TITLE_STREAMS:
      return put_scalar(d, qid, seg.tracks.size());
    case ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA:
      return put_scalar(d, qid, seg.byKind[kKindVideo].size());
    case ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA:
      return put_scalar(d, qid, seg.byKind[kKindAudio].size());
    case ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA:
      return put_scalar(d, qid, seg.byKind[kKindSubtitle].size());
    case ZEP_QID_GET_TRACK_PROP:
      if (index >= seg.tracks.size()) return ZEP_ERR_INVALID_STREAM;
      return track_prop(seg.tracks[index], d);
    case ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME:
    case ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME: {
      // The media nibble of these QIDs is 0: the stream is the first video
      // stream, else the first audio stream.
      const uint32_t k = seg.byKind[kKindVideo].empty() ? kKindAudio : kKindVideo;
      int64_t found = 0;
      ZEP_STATUS status =
          sync_time(c, k, 0, d->value.i64, qid == ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, &found);
      if (status < 0) return status;
      return put_scalar(d, qid, uint64_t(found));
    }
    case ZEP_QID_VID_STREAM_FORMAT: {
      if (!t) return ZEP_ERR_INVALID_STREAM;
      if (d->value.ptr && d->size < sizeof(ZepVideoStreamFormat)) return ZEP_ERR_BUFFER_TOO_SMALL;
      ZepVideoStreamFormat f;
      ZEP_STATUS status = video_format(*t, &f);
      if (status < 0) return status;
      return put_record(d, &f, sizeof f);
    }
    case ZEP_QID_AUD_STREAM_FORMAT: {
      if (!t) return ZEP_FAIL;
      ZepAudioStreamFormat f;
      audio_format(*t, &f);
      return put_record(d, &f, sizeof f);
    }
    case ZEP_QID_SUB_STREAM_FORMAT: {
      if (!t) return ZEP_FAIL;
      ZepSubtitleStreamFormat f;
      subtitle_format(*t, &f);
      return put_record(d, &f, sizeof f);
    }
    case ZEP_QID_VID_CODEC_ID:
    case ZEP_QID_AUD_CODEC_ID:
    case ZEP_QID_SUB_CODEC_ID:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return put_new_string(d, t->codecId, !t->codecId.empty(), c.alloc);
    case ZEP_QID_VID_CODEC_NAME:
    case ZEP_QID_AUD_CODEC_NAME:
    case ZEP_QID_SUB_CODEC_NAME:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return put_new_string(d, t->codecName, !t->codecName.empty(), c.alloc);
    case ZEP_QID_VID_STREAM_NAME:
    case ZEP_QID_AUD_STREAM_NAME:
    case ZEP_QID_SUB_STREAM_NAME:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return put_new_string(d, t->name, !t->name.empty(), c.alloc);
    case ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE:
    case ZEP_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE:
    case ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return put_scalar(d, qid, t->codecPrivate.size());
    case ZEP_QID_VIDEO_CODEC_PRIVATE_DATA:
    case ZEP_QID_AUDIO_CODEC_PRIVATE_DATA:
    case ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return private_data(t->codecPrivate, kind == kKindVideo, d);
    case ZEP_QID_AUDIO_CONTENT_COMPRESSION_ALGO:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return put_scalar(d, qid, t->compression);
    case ZEP_QID_AUDIO_CONTENT_COMPRESSION_SETTING_SIZE:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return put_scalar(d, qid, t->compressionSettings.size());
    case ZEP_QID_AUDIO_CONTENT_COMPRESSION_SETTING:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return private_data(t->compressionSettings, false, d);
    case ZEP_QID_MKV_IS_INTERLACED:
    case ZEP_QID_MKV_COMBINE_FIELDS:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return put_scalar(d, qid,
                        qid == ZEP_QID_MKV_IS_INTERLACED ? t->video.fieldCoded : t->combineFields);
    case ZEP_QID_GET_TRICK_TRACK_PROP:
    case ZEP_QID_GET_MASTER_TRACK_PROP: {
      // The media nibble is 0: the stream is the video stream `index`.
      MkvTrack* v = c.track(kKindVideo, index);
      if (!v) return ZEP_ERR_INVALID_STREAM;
      return linked_prop(*v, qid == ZEP_QID_GET_MASTER_TRACK_PROP, d);
    }
    case ZEP_QID_GET_VIDEO_MEDIA_PROP: {
      if (index >= seg.byKind[kKindVideo].size()) return ZEP_ERR_INVALID_STREAM;
      VideoMediaProp p{16, index};
      return put_record(d, &p, sizeof p, 8);
    }
    case ZEP_QID_GET_AUDIO_MEDIA_PROP:
    case ZEP_QID_GET_AUD_STREAMNAME_PROP:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return name_prop(*t, false, d);
    case ZEP_QID_GET_SUBTITLE_MEDIA_PROP:
    case ZEP_QID_GET_HDSUBTITLE_MEDIA_PROP:
    case ZEP_QID_GET_SUB_STREAMNAME_PROP:
      if (!t) return ZEP_ERR_INVALID_STREAM;
      return name_prop(*t, true, d);
    case ZEP_QID_GET_TITLE_MEDIA_PROP: {
      TitleMediaProp p{16, uint16_t(seg.byKind[kKindVideo].size()),
                       uint16_t(seg.byKind[kKindAudio].size()),
                       uint16_t(seg.byKind[kKindSubtitle].size())};
      return put_record(d, &p, sizeof p, 8);
    }
    case ZEP_QID_GET_TITLE_PROP: {
      const uint32_t v = uint32_t(seg.byKind[kKindVideo].size());
      const uint32_t a = uint32_t(seg.byKind[kKindAudio].size());
      const uint32_t s = uint32_t(seg.byKind[kKindSubtitle].size());
      TitleProp p{16, v + a + s, v, a, s, 0};
      return put_record(d, &p, sizeof p, 24);
    }
    case ZEP_QID_USE_INDEX:
      if (seg.indexLoaded) return put_scalar(d, qid, 1);
      return ZEP_OK;
    case ZEP_QID_GET_INDX_GAP:
      return put_scalar(d, qid, seg.indexGap);
    default:
      break;
  }
  ZEP_STATUS status = chapters_get_info(c, qid, d, index);
  if (status != ZEP_ERR_UNSUPPORTED_QID) return status;
  status = tags_get_info(c, qid, d, index);
  if (status != ZEP_ERR_UNSUPPORTED_QID) return status;
  return attachments_get_info(c, qid, d, index);
}

ZEP_STATUS set_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index) {
  if (!d) return ZEP_E_NULL_ARG;
  MkvSegmentState& seg = c.seg;
  switch (qid) {
    case ZEP_QID_MKV_COMBINE_FIELDS: {
      MkvTrack* v = c.track(kKindVideo, 0);
      if (!v) return ZEP_ERR_INVALID_STREAM;
      if (v->codec != kCodecAvc) return ZEP_ERR_COMBINE_FIELDS_UNSUPPORTED;
      v->combineFields = d->value.u32 != 0;
      return ZEP_OK;
    }
    case ZEP_QID_DELACE_BLOCKS:
      c.read.delaceMode = d->value.u32;
      for (MkvChainEntry& e : c.chain)
        if (e.container) e.container->read.delaceMode = d->value.u32;
      return ZEP_OK;
    case ZEP_QID_USE_HIERARCHICAL_INDEX:
      seg.useHierarchicalIndex = d->value.u8 == 1;
      return ZEP_OK;
    case ZEP_QID_SET_INDX_GAP:
      seg.indexGap = d->value.u64;
      return ZEP_OK;
    case ZEP_QID_PLAYLISTS_SET_ALLOW_ORDERED_FLAG: {
      if (!seg.indexLoaded) {
        ZEP_STATUS status = load_index(c);
        if (status == ZEP_ERR_KILL) return status;
      }
      seg.allowOrdered = d->value.u32 != 0;
      return ZEP_OK;
    }
    case ZEP_QID_SET_HTTP_AUTH:
      // A local file has no authentication to set.
      return ZEP_ERR_UNSUPPORTED_QID;
    default:
      break;
  }
  ZEP_STATUS status = chapters_set_info(c, qid, d, index);
  if (status != ZEP_ERR_UNSUPPORTED_QID) return status;
  return tags_set_info(c, qid, d, index);
}

}  // namespace mkv
