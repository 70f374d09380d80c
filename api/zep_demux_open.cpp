// Opening a file: the title and stream records with their formats, codec ids,
// private data and codec headers; the information calls; closing.
#include <sys/stat.h>

#include <cstring>
#include <string>

#include "api/zep_demux_internal.h"

namespace zep::api {
namespace {

using codec::CodecHeader;

ZEP_STATUS query_scalar(ZepContainer* container, uint32_t qid, uint32_t index, ZepQueryData* data) {
  std::memset(data, 0, sizeof *data);
  data->valueType = ZEP_QID_VALUE_TYPE(qid);
  return L1GetInfo(container, qid, data, index);
}

ZEP_STATUS query_record(ZepContainer* container, uint32_t qid, uint32_t index, void* record,
                        uint32_t size) {
  std::memset(record, 0, size);
  ZepQueryData data{};
  data.valueType = ZEP_QTYPE_BUFFER;
  data.size = size;
  data.value.ptr = record;
  return L1GetInfo(container, qid, &data, index);
}

// Copies a 4-character text field when its first character is set.
void copy_text(uint16_t* dest, const zep_wchar_t* src) {
  if (src[0] != 0) std::memcpy(dest, src, 4 * sizeof(uint16_t));
}

void fill_common(Stream* s, uint32_t mediaType, uint16_t title, uint16_t index, const Title& t,
                 uint32_t blockType, int16_t number) {
  s->info.media_type = mediaType;
  s->info.title_num = title;
  s->info.stream_index = index;
  s->info.duration = t.duration;
  s->info.details = &s->details;
  s->blockType = blockType;
  s->streamOfType = number;
}

void fill_video(Stream* s, const ZepVideoStreamFormat& f) {
  s->info.format_a = f.compression;
  s->info.format_b = f.fourcc;
  s->info.codec_id = codec::video_codec_id(f.fourcc);
  zep_video_details_t& d = s->details.video;
  if (f.rate != 0 && f.scale != 0) {
    d.frame_duration = static_cast<int64_t>(10000000.0 / (double(f.rate) / double(f.scale)));
  }
  d.width = f.width;
  d.height = f.height;
  d.display_width = f.displayWidth;
  d.display_height = f.displayHeight;
}

void fill_audio(Stream* s, const ZepAudioStreamFormat& f, const ZepAudioMediaProp& prop) {
  const uint32_t extraSize = f.extraSize < sizeof f.extra ? f.extraSize : sizeof f.extra;
  const uint32_t tag = codec::resolve_format_tag(f.formatTag, extraSize, f.extra);
  s->info.format_tag = tag;
  s->info.codec_id = codec::audio_codec_id(tag);
  zep_audio_details_t& d = s->details.audio;
  d.mpeg_layer = tag == 80 ? 2 : (tag == 85 ? 3 : 0);
  d.channels = f.channels;
  d.sample_rate = f.sampleRate;
  d.avg_bytes_per_sec = f.avgBytesPerSec;
  d.bits_per_sample = f.bitsPerSample;
  const uint32_t id = s->info.codec_id;
  if (d.bits_per_sample == 0 && (id == codec::kAc3 || id == codec::kDts ||
                                 id == codec::kMpegAudio || id == codec::kAac || tag == 39)) {
    d.bits_per_sample = 16;
  }
  copy_text(d.language, prop.language);
  copy_text(d.text2, prop.text2);
  copy_text(d.text3, prop.text3);
  d.block_align = f.blockAlign;
  if (tag == 1) {
    if (f.bitsPerSample >= 9) d.flags |= ZEP_AUDIO_FLAG_WIDE_SAMPLES;
    s->pcmMark = 1;
  } else if (tag == 3) {
    d.flags |= ZEP_AUDIO_FLAG_FLOAT;
    s->pcmMark = 1;
  }
}

void fill_subtitle(Stream* s, const ZepSubtitleStreamFormat& f, const ZepSubtitleMediaProp& prop) {
  s->info.format_a = f.compression;
  s->info.format_b = f.fourcc;
  s->info.codec_id = codec::subtitle_codec_id(f.fourcc);
  zep_subtitle_details_t& d = s->details.subtitle;
  copy_text(d.language, prop.language);
  copy_text(d.text2, prop.text2);
  copy_text(d.text3, prop.text3);
}

struct KindQueries {
  uint32_t sizeQid;
  uint32_t dataQid;
  const char* sizeMessage;
  const char* dataMessage;
};

const KindQueries& kind_queries(uint32_t blockType) {
  static const KindQueries kVideo = {ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE,
                                     ZEP_QID_VIDEO_CODEC_PRIVATE_DATA,
                                     "Unable to get private data size for video stream %d",
                                     "Unable to get private data for video stream %d"};
  static const KindQueries kAudio = {ZEP_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE,
                                     ZEP_QID_AUDIO_CODEC_PRIVATE_DATA,
                                     "Unable to get private data size for audio stream %d",
                                     "Unable to get private data for audio stream %d"};
  static const KindQueries kSubtitle = {ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE,
                                        ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA,
                                        "Unable to get private data size for subtitle stream %d",
                                        "Unable to get private data for subtitle stream %d"};
  if (blockType == ZEP_BLOCK_VIDEO) return kVideo;
  if (blockType == ZEP_BLOCK_AUDIO) return kAudio;
  return kSubtitle;
}

bool read_private_data(Instance* demux, ZepContainer* c, Stream* s) {
  const KindQueries& q = kind_queries(s->blockType);
  const int number = s->streamOfType;
  ZepQueryData data;
  if (query_scalar(c, q.sizeQid, uint32_t(number), &data) < 0) {
    demux->err(demux->context, q.sizeMessage, number);
    return false;
  }
  const uint32_t size = data.value.u32;
  if (size == 0) return true;
  auto* copy = static_cast<uint8_t*>(host_alloc(demux, size));
  if (copy == nullptr || query_record(c, q.dataQid, uint32_t(number), copy, size) < 0) {
    host_free(demux, copy);
    demux->err(demux->context, q.dataMessage, number);
    return false;
  }
  s->privateData = copy;
  s->privateDataSize = size;
  s->info.private_data = copy;
  s->info.private_data_size = size;
  return true;
}

// Title t's streams: video, then audio, then subtitles.
bool read_title(Instance* demux, ZepContainer* c, int t, Title* title) {
  if (L1SetTitle(c, uint32_t(t)) < 0) {
    demux->err(demux->context, "Unable to set title %d", t);
    return false;
  }
  ZepQueryData data;
  if (query_scalar(c, ZEP_QID_TITLE_DURATION, uint32_t(t), &data) < 0) {
    demux->err(demux->context, "Unable to get duration of title %d", t);
    return false;
  }
  title->duration = data.value.i64;
  int16_t counts[3] = {0, 0, 0};  // video, audio, subtitle
  const uint32_t countQids[3] = {ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA,
                                 ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA,
                                 ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA};
  for (int k = 0; k < 3; ++k) {
    if (query_scalar(c, countQids[k], uint32_t(t), &data) >= 0) {
      const auto n = static_cast<int16_t>(data.value.u16);
      counts[k] = n > 0 ? n : 0;  // a negative count names no stream
    }
  }
  title->info.num_video_streams = counts[0];
  title->info.num_audio_streams = counts[1];
  title->info.num_subtitle_streams = counts[2];
  const int total = counts[0] + counts[1] + counts[2];
  if (total == 0) return true;
  const uint64_t bytes = uint64_t(total) * sizeof(Stream);
  auto* streams = total <= INT16_MAX ? static_cast<Stream*>(host_alloc(demux, bytes)) : nullptr;
  if (streams == nullptr) {
    demux->err(demux->context, "Unable to allocate %d bytes for streams", int(bytes));
    return false;
  }
  title->streams = streams;
  title->streamCount = static_cast<int16_t>(total);

  int position = 0;
  for (int v = 0; v < counts[0]; ++v, ++position) {
    Stream* s = &streams[position];
    ZepVideoStreamFormat format;
    if (query_record(c, ZEP_QID_VID_STREAM_FORMAT, uint32_t(v), &format, sizeof format) < 0) {
      demux->err(demux->context, "Unable to get info for video stream %d", v);
      return false;
    }
    fill_common(s, ZEP_MEDIA_VIDEO, uint16_t(t), uint16_t(position), *title, ZEP_BLOCK_VIDEO,
                int16_t(v));
    fill_video(s, format);
    if (!read_private_data(demux, c, s)) return false;
  }
  for (int a = 0; a < counts[1]; ++a, ++position) {
    Stream* s = &streams[position];
    ZepAudioStreamFormat format;
    if (query_record(c, ZEP_QID_AUD_STREAM_FORMAT, uint32_t(a), &format, sizeof format) < 0) {
      demux->err(demux->context, "Unable to get info for audio stream %d", a);
      return false;
    }
    ZepAudioMediaProp prop;
    if (query_record(c, ZEP_QID_GET_AUDIO_MEDIA_PROP, uint32_t(a), &prop, sizeof prop) < 0) {
      demux->err(demux->context, "Unable to get properties for audio stream %d", a);
      return false;
    }
    fill_common(s, ZEP_MEDIA_AUDIO, uint16_t(t), uint16_t(position), *title, ZEP_BLOCK_AUDIO,
                int16_t(a));
    fill_audio(s, format, prop);
    if (!read_private_data(demux, c, s)) return false;
  }
  for (int n = 0; n < counts[2]; ++n, ++position) {
    Stream* s = &streams[position];
    ZepSubtitleStreamFormat format;
    if (query_record(c, ZEP_QID_SUB_STREAM_FORMAT, uint32_t(n), &format, sizeof format) < 0) {
      demux->err(demux->context, "Unable to get info for subtitle stream %d", n);
      return false;
    }
    ZepSubtitleMediaProp prop;
    if (query_record(c, ZEP_QID_GET_SUBTITLE_MEDIA_PROP, uint32_t(n), &prop, sizeof prop) < 0) {
      demux->err(demux->context, "Unable to get properties for subtitle stream %d", n);
      return false;
    }
    fill_common(s, ZEP_MEDIA_SUBTITLE, uint16_t(t), uint16_t(position), *title, ZEP_BLOCK_SUBTITLE,
                int16_t(n));
    fill_subtitle(s, format, prop);
    if (!read_private_data(demux, c, s)) return false;
  }
  return true;
}

void set_header(Stream* s) {
  s->info.codec_header = s->header.size != 0 ? s->header.bytes : nullptr;
  s->info.codec_header_size = static_cast<uint16_t>(s->header.size);
}

// Reads the first block of one stream with the temporary parser and derives
// the codec header from it; the stream's codec id becomes 0 when that fails.
void derive_header_from_block(Parser* reader, uint32_t title, Stream* s) {
  ZepContainer* c = reader->container;
  L1SetTitle(c, title);
  const uint32_t type = s->blockType;
  const auto number = uint32_t(s->streamOfType);
  bool derived = false;
  if (L1SetTitleActiveStream(c, type, number, 1) >= 0) {
    int64_t time = 0;
    L1SetPosition(c, type, number, &time);
    reader->atEnd = reader->failed = 0;
    reader->redeliver = 0;
    for (;;) {
      uint32_t gotType = 0;
      uint32_t gotStream = 0;
      uint64_t total = 0;
      if (parser_read_block(reader, &gotType, &gotStream, &total) <= 0) break;
      if (gotType != type || gotStream != number) continue;
      const uint32_t channels = type == ZEP_BLOCK_AUDIO ? s->details.audio.channels : 0;
      const uint32_t rate = type == ZEP_BLOCK_AUDIO ? s->details.audio.sample_rate : 0;
      derived = codec::header_from_first_block(s->info.codec_id, reader->block.data,
                                               reader->block.size, channels, rate, &s->header);
      break;
    }
    L1SetTitleActiveStream(c, type, number, 0);
  }
  reader->atEnd = reader->failed = 0;
  if (!derived) {
    s->header.size = 0;
    s->info.codec_id = 0;
  }
  set_header(s);
}

void build_codec_headers(Instance* demux, Parser* reader) {
  for (int t = 0; t < demux->fileInfo.num_titles; ++t) {
    Title& title = demux->titles[t];
    for (int i = 0; i < title.streamCount; ++i) {
      Stream* s = &title.streams[i];
      const uint32_t id = s->info.codec_id;
      if (!codec::has_codec_header(id)) continue;
      if (s->privateDataSize != 0) {
        if (id == codec::kH264) {
          codec::header_from_avcc(s->privateData, s->privateDataSize, &s->header);
          set_header(s);
        } else if (id == codec::kHevc) {
          if (!codec::header_from_hvcc(s->privateData, s->privateDataSize, &s->header)) {
            s->info.codec_id = 0;
          }
          set_header(s);
        } else {
          s->info.codec_header = s->privateData;
          s->info.codec_header_size =
              static_cast<uint16_t>(s->privateDataSize < 0xFFFF ? s->privateDataSize : 0xFFFF);
        }
      } else if (id != codec::kHevc) {
        derive_header_from_block(reader, uint32_t(t), s);
      }
    }
  }
}

void release_titles(Instance* demux) {
  if (demux->titles != nullptr) {
    for (int t = 0; t < demux->fileInfo.num_titles; ++t) {
      Title& title = demux->titles[t];
      for (int i = 0; i < title.streamCount; ++i) host_free(demux, title.streams[i].privateData);
      host_free(demux, title.streams);
    }
    host_free(demux, demux->titles);
  }
  demux->titles = nullptr;
}

// Steps after the name is stored: read titles and streams through a
// temporary parser of title 0.
int32_t open_stored_name(Instance* demux) {
  DamageToHost damage(demux);
  auto* reader = static_cast<Parser*>(host_alloc(demux, sizeof(Parser)));
  if (reader == nullptr) {
    demux->err(demux->context, "Unable to allocate %d bytes for parser", int(sizeof(Parser)));
    return 1;
  }
  reader->demux = demux;
  if (!parser_open(reader)) {
    parser_destroy(reader);
    return 1;
  }
  ZepContainer* c = reader->container;
  bool ok = false;
  ZepQueryData data;
  do {
    if (query_scalar(c, ZEP_QID_GET_CONTAINER_TYPE, 0, &data) < 0) {
      demux->err(demux->context, "Unable to get the container type");
      break;
    }
    demux->fileInfo.container_type = data.value.u32 <= 2 ? uint8_t(data.value.u32 + 1) : 0;
    if (query_scalar(c, ZEP_QID_NUM_CONTAINER_TITLE, 0, &data) < 0 ||
        static_cast<int16_t>(data.value.u16) < 0) {
      demux->err(demux->context, "Unable to get the number of titles");
      break;
    }
    const auto titleCount = static_cast<int16_t>(data.value.u16);
    if (titleCount > 0) {
      const uint64_t bytes = uint64_t(titleCount) * sizeof(Title);
      demux->titles = static_cast<Title*>(host_alloc(demux, bytes));
      if (demux->titles == nullptr) {
        demux->err(demux->context, "Unable to allocate %d bytes for titles", int(bytes));
        break;
      }
      demux->fileInfo.num_titles = titleCount;
    }
    bool titlesOk = true;
    for (int t = 0; t < titleCount && titlesOk; ++t) {
      titlesOk = read_title(demux, c, t, &demux->titles[t]);
    }
    if (!titlesOk) break;
    build_codec_headers(demux, reader);
    demux->fileOpen = 1;
    ok = true;
  } while (false);
  parser_destroy(reader);
  return ok ? 0 : 1;
}

// Validates and stores a UTF-16 name; 0 when it may be opened.
bool store_name(Instance* demux, const std::u16string& name) {
  if (name.size() > kMaxNameUnits) {
    demux->err(demux->context, "Unable to handle filename length");
    return false;
  }
  std::memcpy(demux->fileName, name.data(), name.size() * sizeof(zep_wchar_t));
  demux->fileName[name.size()] = 0;
  return true;
}

// Opening again starts from an empty instance: parsers and records of the
// file opened before are released first.
void begin_open(Instance* demux) {
  zepDemuxClose(static_cast<zepdmux_t*>(demux));
  std::memset(&demux->fileInfo, 0, sizeof demux->fileInfo);
  std::memset(&demux->damage, 0, sizeof demux->damage);
}

}  // namespace
}  // namespace zep::api

using namespace zep::api;

extern "C" ZEPDEMUX_API int32_t zepDemuxOpen(zepdmux_t* demux, void* /*reserved*/,
                                             const char* filename) {
  if (demux == nullptr) return 1;
  if (filename == nullptr || filename[0] == 0) {
    demux->err(demux->context, "Invalid filename parameter");
    return 1;
  }
  // UTF-8 takes at least one byte per UTF-16 unit and at most three for one
  // unit, so a name of 3 * 32768 bytes or more is too long in any case.
  const size_t bytes = strnlen(filename, 3 * (size_t(kMaxNameUnits) + 1));
  const std::u16string name = bytes >= 3 * (size_t(kMaxNameUnits) + 1)
                                  ? std::u16string(kMaxNameUnits + 1, u'x')
                                  : zep::utf8_to_u16(std::string_view(filename, bytes));
  if (name.size() > kMaxNameUnits) {
    demux->err(demux->context, "Unable to handle filename length");
    return 1;
  }
  begin_open(demux);
  struct stat st;
  if (::stat(filename, &st) != 0) {
    demux->err(demux->context, "Unable to get the size of input file");
    return 1;
  }
  demux->fileInfo.file_size = static_cast<int64_t>(st.st_size);
  if (!store_name(demux, name)) return 1;
  return open_stored_name(demux);
}

extern "C" ZEPDEMUX_API int32_t zepDemuxOpenW(zepdmux_t* demux, void* /*reserved*/,
                                              const wchar_t* filename) {
  if (demux == nullptr) return 1;
  if (filename == nullptr || filename[0] == 0) {
    demux->err(demux->context, "Invalid filename parameter");
    return 1;
  }
  // The platform's wchar_t to the library's UTF-16, stopping as soon as the
  // name is known to be too long.
  std::u16string name;
  for (size_t i = 0; filename[i] != 0 && name.size() <= kMaxNameUnits; ++i) {
    uint32_t cp = static_cast<uint32_t>(filename[i]);
    if (sizeof(wchar_t) == 2) {
      name.push_back(static_cast<char16_t>(cp));
      continue;
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    zep_wchar_t units[2];
    const int32_t n = zep_utf16_encode(cp, units);
    name.append(units, units + (n > 0 ? n : 0));
  }
  if (name.size() > kMaxNameUnits) {
    demux->err(demux->context, "Unable to handle filename length");
    return 1;
  }
  begin_open(demux);
  uint64_t size = 0;
  if (zep_file_size(name.c_str(), &size) < 0) {
    demux->err(demux->context, "Unable to get the size of input file");
    return 1;
  }
  demux->fileInfo.file_size = static_cast<int64_t>(size);
  if (!store_name(demux, name)) return 1;
  return open_stored_name(demux);
}

extern "C" ZEPDEMUX_API void zepDemuxClose(zepdmux_t* demux) {
  if (demux == nullptr) return;
  for (int i = 0; i < ZEP_MAX_PARSERS; ++i) {
    if (demux->parsers[i] != nullptr) parser_destroy(demux->parsers[i]);
    demux->parsers[i] = nullptr;
  }
  demux->parserCount = 0;
  release_titles(demux);
  std::memset(&demux->fileInfo, 0, sizeof demux->fileInfo);
  demux->fileOpen = 0;
}

extern "C" ZEPDEMUX_API int32_t zepDemuxGetFileInfo(zepdmux_t* demux, zep_file_info_t* info) {
  if (demux == nullptr) return 1;
  if (info == nullptr) {
    demux->err(demux->context, "Invalid zep_file_info_t parameter");
    return 1;
  }
  std::memcpy(info, &demux->fileInfo, sizeof *info);
  return 0;
}

extern "C" ZEPDEMUX_API int32_t zepDemuxGetTitleInfo(zepdmux_t* demux, int16_t titleNum,
                                                     zep_title_info_t* info) {
  if (demux == nullptr) return 1;
  if (info == nullptr) {
    demux->err(demux->context, "Invalid zep_title_info_t parameter");
    return 1;
  }
  if (titleNum < 0 || titleNum >= demux->fileInfo.num_titles || demux->titles == nullptr) {
    demux->err(demux->context, "Invalid title_num parameter");
    return 1;
  }
  std::memcpy(info, &demux->titles[titleNum].info, sizeof *info);
  return 0;
}

extern "C" ZEPDEMUX_API int32_t zepDemuxGetStreamInfo(zepdmux_t* demux, int16_t titleNum,
                                                      int16_t streamNum, zep_stream_info_t* info) {
  if (demux == nullptr) return 1;
  if (info == nullptr) {
    demux->err(demux->context, "Invalid zep_stream_info_t parameter");
    return 1;
  }
  if (titleNum < 0 || titleNum >= demux->fileInfo.num_titles || demux->titles == nullptr) {
    demux->err(demux->context, "Invalid title_num parameter");
    return 1;
  }
  const Title& title = demux->titles[titleNum];
  if (title.streamCount == 0 || title.streams == nullptr) {
    demux->err(demux->context, "Stream number out of range");
    return 1;
  }
  if (streamNum < 0 || streamNum >= title.streamCount) {
    demux->err(demux->context, "Invalid stream_num parameter");
    return 1;
  }
  std::memcpy(info, &title.streams[streamNum].info, sizeof *info);
  return 0;
}
