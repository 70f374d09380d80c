// Parsers: creation and release, adding streams, pushing, seeking, sleep and
// wake. Each parser owns its own container on the instance's file, its block
// buffer and its list of stream entries.
#include <cstring>

#include "api/zep_demux_internal.h"

namespace zep::api {
namespace {

// Grows the parser's block buffer for a module; the old contents are not kept.
ZEP_STATUS ensure_block_capacity(uint8_t** data, uint32_t needed, void* context) {
  auto* parser = static_cast<Parser*>(context);
  Instance* demux = parser->demux;
  if (*data != nullptr && needed <= parser->block.capacity) return ZEP_OK;
  host_free(demux, *data);
  *data = needed != 0 ? static_cast<uint8_t*>(demux->mallocEx(demux->context, needed)) : nullptr;
  if (*data == nullptr) {
    demux->err(demux->context, "Unable to allocate %u bytes for a block buffer", needed);
    parser->block.capacity = 0;
    return ZEP_E_NO_MEMORY;
  }
  parser->block.capacity = needed;
  return ZEP_OK;
}

// The common checks of the parser calls; null after the failure was reported.
Parser* checked_parser(Instance* demux, int32_t number) {
  if (!demux->fileOpen) {
    demux->err(demux->context, "A file is not open");
    return nullptr;
  }
  if (number < 1 || number > ZEP_MAX_PARSERS || demux->parsers[number - 1] == nullptr) {
    demux->err(demux->context, "Invalid parser number");
    return nullptr;
  }
  return demux->parsers[number - 1];
}

const Title& parser_title(const Parser* parser) {
  return parser->demux->titles[parser->settings.title_num];
}

bool activate_entries(Parser* parser) {
  for (int i = 0; i < parser->entryCount; ++i) {
    const Stream* s = parser->entries[i].stream;
    if (L1SetTitleActiveStream(parser->container, s->blockType, uint32_t(s->streamOfType), 1) < 0) {
      parser->demux->err(parser->demux->context, "Unable to set stream as active in ZEP demuxer");
      return false;
    }
  }
  return true;
}

void reset_delivery_state(Parser* parser) {
  parser->atEnd = parser->failed = 0;
  parser->redeliver = 0;
  parser->firstBlock = 1;
  parser->lastTime = 0;
  std::memset(&parser->timeRecord, 0, sizeof parser->timeRecord);
}

}  // namespace

bool parser_open(Parser* parser) {
  Instance* demux = parser->demux;
  DamageToHost damage(demux);
  if (L1OpenContainer(&parser->container, demux->fileName, nullptr) < 0) {
    demux->err(demux->context, "Unable to open input file with ZEP demuxer");
    parser->container = nullptr;
    return false;
  }
  // Laced blocks (Matroska) are handed out frame by frame, as hosts and
  // their decoders expect one frame per packet. Other modules ignore it.
  ZepQueryData delace{};
  delace.valueType = ZEP_QTYPE_SIZE32;
  delace.value.u32 = 1;
  L1SetInfo(parser->container, ZEP_QID_DELACE_BLOCKS, &delace, 0, 0);
  L1SetTitle(parser->container, uint32_t(parser->settings.title_num));
  const uint32_t size = parser->settings.block_buffer_size != 0 ? parser->settings.block_buffer_size
                                                                : kDefaultBlockBuffer;
  parser->block = ZepBlock{};
  parser->block.data = static_cast<uint8_t*>(demux->mallocEx(demux->context, size));
  if (parser->block.data == nullptr) {
    demux->err(demux->context, "Unable to allocate %d bytes for a block buffer", int(size));
    return false;
  }
  parser->block.capacity = size;
  parser->block.EnsureBlockCapacity = &ensure_block_capacity;
  parser->block.callbackContext = parser;
  parser->firstBlock = 1;
  return true;
}

void parser_release_io(Parser* parser) {
  Instance* demux = parser->demux;
  if (parser->container != nullptr) L1CloseContainer(parser->container);
  parser->container = nullptr;
  host_free(demux, parser->block.data);
  parser->block.data = nullptr;
  parser->block.capacity = 0;
  parser->block.size = 0;
  host_free(demux, parser->altBuffer);
  parser->altBuffer = nullptr;
  parser->altCapacity = 0;
}

void parser_destroy(Parser* parser) {
  if (parser == nullptr) return;
  Instance* demux = parser->demux;
  parser_release_io(parser);
  for (int i = 0; i < parser->entryCount; ++i) host_free(demux, parser->entries[i].savedFrame);
  host_free(demux, parser->entries);
  host_free(demux, parser);
}

}  // namespace zep::api

using namespace zep::api;

extern "C" ZEPDEMUX_API int32_t zepDemuxNewParser(zepdmux_t* demux,
                                                  const zepdmux_parser_settings_t* settings) {
  if (demux == nullptr) return 0;
  if (!demux->fileOpen) {
    demux->err(demux->context, "A file is not open");
    return 0;
  }
  if (settings == nullptr) {
    demux->err(demux->context, "Invalid zepdmux_parser_settings_t parameter");
    return 0;
  }
  if (demux->parserCount >= ZEP_MAX_PARSERS) {
    demux->err(demux->context, "The maximum (%d) number or parsers have been created",
               ZEP_MAX_PARSERS);
    return 0;
  }
  int slot = 0;
  while (slot < ZEP_MAX_PARSERS && demux->parsers[slot] != nullptr) ++slot;
  if (slot == ZEP_MAX_PARSERS) {
    demux->err(demux->context, "No free parser slot could be found");
    return 0;
  }
  auto* parser = static_cast<Parser*>(host_alloc(demux, sizeof(Parser)));
  if (parser == nullptr) {
    demux->err(demux->context, "Unable to allocate %d bytes for parser", int(sizeof(Parser)));
    return 0;
  }
  parser->demux = demux;
  demux->parsers[slot] = parser;
  const int16_t title = settings->title_num;
  bool ok = false;
  if (title < 0 || title >= demux->fileInfo.num_titles) {
    demux->err(demux->context, "Invalid title number %d for parser", int(title));
  } else {
    std::memcpy(&parser->settings, settings, sizeof parser->settings);
    if (parser_open(parser)) {
      const int16_t count = demux->titles[title].streamCount;
      parser->entryCapacity = count;
      if (count == 0) {
        ok = true;
      } else {
        const uint64_t bytes = uint64_t(count) * sizeof(StreamEntry);
        parser->entries = static_cast<StreamEntry*>(host_alloc(demux, bytes));
        ok = parser->entries != nullptr;
        if (!ok) demux->err(demux->context, "Unable to allocate %d bytes for parser", int(bytes));
      }
    }
  }
  if (!ok) {
    parser_destroy(parser);
    demux->parsers[slot] = nullptr;
    return 0;
  }
  parser->number = uint16_t(slot);
  ++demux->parserCount;
  return slot + 1;
}

extern "C" ZEPDEMUX_API void zepDemuxFreeParser(zepdmux_t* demux, int32_t parserNum) {
  if (demux == nullptr || parserNum < 1 || parserNum > ZEP_MAX_PARSERS) return;
  Parser* parser = demux->parsers[parserNum - 1];
  if (parser == nullptr) return;
  parser_destroy(parser);
  demux->parsers[parserNum - 1] = nullptr;
  if (demux->parserCount > 0) --demux->parserCount;
}

extern "C" ZEPDEMUX_API int32_t zepDemuxAddStream(zepdmux_t* demux, int32_t parserNum,
                                                  const zepdmux_stream_settings* settings) {
  if (demux == nullptr) return 1;
  Parser* parser = checked_parser(demux, parserNum);
  if (parser == nullptr) return 1;
  if (settings == nullptr) {
    demux->err(demux->context, "Invalid zepdmux_stream_settings parameter");
    return 1;
  }
  const Title& title = parser_title(parser);
  const int16_t number = settings->stream_num;
  if (number < 0 || number >= title.streamCount) {
    demux->err(demux->context, "Stream number %d is out of range 0 .. %d", int(number),
               title.streamCount - 1);
    return 1;
  }
  if (parser->entryCount >= parser->entryCapacity) {
    demux->err(demux->context,
               "The maximum number of streams %d have already been added to this parser",
               int(title.streamCount));
    return 1;
  }
  bufstream* output = settings->output;
  // An output must answer its chunk size; one that takes bytes must also be
  // able to take them and their information.
  if (output == nullptr || output->chunksize == nullptr) {
    demux->err(demux->context, "Invalid output bufstream field");
    return 1;
  }
  Stream* stream = &title.streams[number];
  if (stream->info.codec_id == zep::codec::kH264 && stream->info.codec_header_size == 0 &&
      settings->add_header) {
    demux->err(demux->context, "No private data present for the add header function");
    return 1;
  }
  const uint32_t chunkSize = output->chunksize(output);
  if (chunkSize != 0 && (output->copybytes == nullptr || output->auxinfo == nullptr)) {
    demux->err(demux->context, "Invalid output bufstream field");
    return 1;
  }
  StreamEntry& entry = parser->entries[parser->entryCount];
  entry = StreamEntry{};
  entry.output = output;
  entry.chunkSize = chunkSize;
  entry.stream = stream;
  entry.addHeader = settings->add_header;
  entry.sampleTransform = settings->sample_transform;
  if (chunkSize == 0) {
    output->zep_parser = parser;
    output->auxinfo = &pull_auxinfo;
  }
  if (L1SetTitleActiveStream(parser->container, stream->blockType, uint32_t(stream->streamOfType),
                             1) < 0) {
    demux->err(demux->context, "Unable to set stream as active in ZEP demuxer");
    return 1;
  }
  ++parser->entryCount;
  return 0;
}

extern "C" ZEPDEMUX_API int64_t zepDemuxPush(zepdmux_t* demux, int32_t parserNum) {
  if (demux == nullptr) return -1;
  Parser* parser = checked_parser(demux, parserNum);
  if (parser == nullptr) return -1;
  if (parser->sleeping) {
    demux->err(demux->context, "Sleep mode is active");
    return -1;
  }
  if (parser->failed) return -1;
  if (parser->atEnd) return 0;
  return parser_read_and_deliver(parser, nullptr, nullptr);
}

extern "C" ZEPDEMUX_API int32_t zepDemuxSeek(zepdmux_t* demux, zepdmux_seek_info_t* info) {
  if (demux == nullptr) return 1;
  if (info == nullptr) {
    demux->err(demux->context, "Invalid zepdmux_seek_info_t parameter");
    return 1;
  }
  Parser* parser = checked_parser(demux, info->parser_num);
  if (parser == nullptr) return 1;
  if (parser->sleeping) {
    demux->err(demux->context, "Sleep mode is active");
    return 1;
  }
  if (info->seek_time >= parser_title(parser).duration) {
    demux->err(demux->context, "Invalid seek time");
    return 1;
  }
  DamageToHost damage(demux);
  info->resolved_time = info->seek_time;
  parser->atEnd = parser->failed = 0;
  parser->firstBlock = 1;
  parser->redeliver = 0;  // a block held back before the seek is stale
  if (parser->entryCount == 0) {
    parser->failed = 1;
    return 1;
  }
  if (info->seek_time < 0) {
    // Sync points are asked by time: the key frame after (or before) the
    // time of the block delivered last.
    uint32_t qid = 0;
    if (info->next_sync) {
      qid = ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME;
    } else if (info->prev_sync) {
      qid = ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME;
    } else {
      demux->err(demux->context, "Invalid seek request");
      return 1;
    }
    ZepQueryData data{};
    data.valueType = ZEP_QID_VALUE_TYPE(qid);
    data.value.i64 = parser->lastTime;
    if (L1GetInfo(parser->container, qid, &data, 0) < 0) {
      parser->failed = 1;
      return 1;
    }
    info->resolved_time = data.value.i64;
  }
  const Stream* first = parser->entries[0].stream;
  int64_t time = info->resolved_time;
  if (L1SetPosition(parser->container, first->blockType, uint32_t(first->streamOfType), &time) <
      0) {
    parser->failed = 1;
    return 1;
  }
  info->resolved_time = time;
  parser->lastTime = time;
  // The read module moves only the stream it is asked about; every other
  // stream of the parser follows to the time the first one reached, or it
  // would go on from where it stood before the seek.
  for (int i = 1; i < parser->entryCount; ++i) {
    const Stream* other = parser->entries[i].stream;
    int64_t reached = time;
    L1SetPosition(parser->container, other->blockType, uint32_t(other->streamOfType), &reached);
  }
  return 0;
}

extern "C" ZEPDEMUX_API int32_t zepDemuxSleepParser(zepdmux_t* demux, int32_t parserNum) {
  if (demux == nullptr) return 1;
  Parser* parser = checked_parser(demux, parserNum);
  if (parser == nullptr) return 1;
  parser_release_io(parser);
  parser->sleeping = 1;
  return 0;
}

extern "C" ZEPDEMUX_API int32_t zepDemuxWakeParser(zepdmux_t* demux, int32_t parserNum) {
  if (demux == nullptr) return 1;
  Parser* parser = checked_parser(demux, parserNum);
  if (parser == nullptr) return 1;
  // Waking a parser that is awake restarts it; its old file is closed first.
  parser_release_io(parser);
  parser->sleeping = 0;
  reset_delivery_state(parser);
  if (!parser_open(parser)) {
    parser_release_io(parser);
    parser->sleeping = 1;
    return 1;
  }
  return activate_entries(parser) ? 0 : 1;
}
