// Reading blocks through a parser and delivering them to the outputs of its
// stream entries: buffer growth, payload shaping (elementary-stream framing),
// the codec header before the first picture, push copies and pull records.
#include <cstring>

#include "api/zep_demux_internal.h"
#include "api/zep_es_framing.h"

namespace zep::api {
namespace {

using framing::AdtsParams;

StreamEntry* find_entry(Parser* parser, uint32_t blockType, uint32_t stream) {
  for (int i = 0; i < parser->entryCount; ++i) {
    const Stream* s = parser->entries[i].stream;
    if (s->blockType == blockType && uint32_t(s->streamOfType) == stream) {
      return &parser->entries[i];
    }
  }
  return nullptr;
}

bool repeats_empty_frames(uint32_t codecId) {
  return codecId == codec::kMpeg4Visual || codecId == codec::kMsMpeg4V3 ||
         codecId == codec::kMpeg4Nor4;
}

uint8_t* alt_buffer(Parser* parser, uint64_t size) {
  Instance* demux = parser->demux;
  if (size > UINT32_MAX) {
    demux->err(demux->context, "Unable to allocate %d bytes for an alternate buffer", int(size));
    return nullptr;
  }
  if (parser->altCapacity < size || parser->altBuffer == nullptr) {
    host_free(demux, parser->altBuffer);
    parser->altCapacity = 0;
    parser->altBuffer = static_cast<uint8_t*>(demux->mallocEx(demux->context, size_t(size)));
    if (parser->altBuffer == nullptr) {
      demux->err(demux->context, "Unable to allocate %d bytes for an alternate buffer", int(size));
      return nullptr;
    }
    parser->altCapacity = uint32_t(size);
  }
  return parser->altBuffer;
}

struct Payload {
  const uint8_t* data;
  uint32_t size;
};

// Length prefixes to start codes. False on failure.
bool nal_units_to_annex_b(Parser* parser, const Stream* s, Payload* p) {
  uint8_t* block = parser->block.data;
  const uint32_t size = p->size;
  const uint32_t lengthSize = s->header.nalLengthSize != 0 ? s->header.nalLengthSize : 4;
  if (framing::begins_with_start_code(block, size, lengthSize)) return true;
  if (lengthSize == 4) {
    uint32_t delivered = 0;
    if (framing::lengths_to_start_codes_in_place(block, size, &delivered)) {
      p->size = delivered;
      return true;
    }
  } else {
    const uint64_t needed = framing::start_code_size(block, size, lengthSize);
    if (needed != 0) {
      uint8_t* out = alt_buffer(parser, needed);
      if (out == nullptr) return false;
      p->data = out;
      p->size = framing::lengths_to_start_codes(block, size, lengthSize, out);
      return true;
    }
  }
  // A block that is already Annex B with a 3-byte start code, although the
  // stream's units carry length prefixes otherwise.
  return size >= 3 && block[0] == 0 && block[1] == 0 && block[2] == 1;
}

bool add_adts_header(Parser* parser, const Stream* s, Payload* p) {
  Instance* demux = parser->demux;
  AdtsParams params{};
  const zep_audio_details_t& audio = s->details.audio;
  if (!framing::adts_params(s->info.codec_header, s->info.codec_header_size, audio.channels,
                            audio.sample_rate, -1, &params)) {
    demux->err(demux->context, "Unknown AAC sample rate: %d", int(audio.sample_rate));
    return false;
  }
  // The buffer takes the whole frame even when the 13-bit length field of
  // the header cannot describe it.
  uint8_t* out = alt_buffer(parser, uint64_t(p->size) + 7);
  if (out == nullptr) return false;
  framing::write_adts_header(params, p->size, out);
  std::memcpy(out + 7, p->data, p->size);
  p->data = out;
  p->size += 7;
  return true;
}

bool add_ac3_sync_word(Parser* parser, Payload* p) {
  uint8_t* out = alt_buffer(parser, uint64_t(p->size) + 2);
  if (out == nullptr) return false;
  out[0] = 0x0B;
  out[1] = 0x77;
  std::memcpy(out + 2, p->data, p->size);
  p->data = out;
  p->size += 2;
  return true;
}

bool save_frame(Parser* parser, StreamEntry* entry, const Payload& p) {
  Instance* demux = parser->demux;
  if (entry->savedCapacity < p.size || entry->savedFrame == nullptr) {
    host_free(demux, entry->savedFrame);
    entry->savedCapacity = 0;
    entry->savedSize = 0;
    entry->savedFrame = static_cast<uint8_t*>(demux->mallocEx(demux->context, p.size));
    if (entry->savedFrame == nullptr) return false;
    entry->savedCapacity = p.size;
  }
  std::memcpy(entry->savedFrame, p.data, p.size);
  entry->savedSize = p.size;
  return true;
}

// The NAL unit header byte after the first start code of an Annex B buffer.
int first_nal_byte_after_start_code(const uint8_t* data, uint32_t size) {
  for (uint32_t i = 0; i + 3 < size; ++i) {
    if (data[i] == 0 && data[i + 1] == 0 && data[i + 2] == 1) return data[i + 3];
  }
  return -1;
}

// A time computed in floating point, held to what an int64_t can carry: a
// damaged file's times may be anywhere in the range, and the 27 MHz clock
// runs 2.7 times faster than the 100 ns one.
int64_t held_time(double v) {
  if (!(v == v)) return 0;
  if (v >= 9223372036854775807.0) return INT64_MAX;
  if (v <= -9223372036854775808.0) return INT64_MIN;
  return static_cast<int64_t>(v);
}

void fill_time_record(Parser* parser, int64_t start27, int64_t duration, uint32_t size) {
  zep_time_info_t& t = parser->timeRecord;
  std::memset(&t, 0, sizeof t);
  t.start_time = start27;
  const int64_t length27 = held_time(double(duration) * 2.7);
  if (__builtin_add_overflow(start27, length27, &t.end_time))
    t.end_time = length27 < 0 ? INT64_MIN : INT64_MAX;
  t.size = size;
  t.valid = 1;
  t.start_time_valid = start27 >= 0 ? 1 : 0;
}

int64_t fail(Parser* parser) {
  parser->failed = 1;
  return -1;
}

}  // namespace

int64_t to_27mhz(int64_t time) { return held_time(double(time) / 1e7 * 2.7e7 + 0.5); }

int parser_read_block(Parser* parser, uint32_t* blockType, uint32_t* stream, uint64_t* byteTotal) {
  Instance* demux = parser->demux;
  if (parser->atEnd || parser->failed) return 0;
  for (;;) {
    ZEP_STATUS status = ZEP_OK;
    if (parser->redeliver) {
      parser->redeliver = 0;
      *blockType = parser->lastBlockType;
      *stream = parser->lastStream;
    } else {
      status = L1ReadNextBlock(parser->container, blockType, stream, &parser->block,
                               reinterpret_cast<uint64_t>(parser));
    }
    if (status == ZEP_ERR_END_OF_STREAM || status == ZEP_E_NO_MORE_BLOCKS) {
      parser->atEnd = 1;
      return 0;
    }
    if (status == ZEP_ERR_BLOCK_BUFFER_TOO_SMALL) {
      const uint32_t capacity = parser->block.capacity;
      // Grow by a tenth, and by at least 4 KiB so small buffers make progress.
      uint64_t grown = uint64_t(double(capacity) * 1.1);
      if (grown < uint64_t(capacity) + 4096) grown = uint64_t(capacity) + 4096;
      if (grown > kMaxBlockBuffer) {
        demux->err(demux->context, "Reallocation exceeds 10MB");
        parser->failed = 1;
        return -1;
      }
      auto* bigger = static_cast<uint8_t*>(demux->mallocEx(demux->context, size_t(grown)));
      if (bigger == nullptr) {
        demux->err(demux->context, "Unable to reallocate %d bytes for a block buffer", int(grown));
        parser->failed = 1;
        return -1;
      }
      host_free(demux, parser->block.data);
      parser->block.data = bigger;
      parser->block.capacity = uint32_t(grown);
      continue;
    }
    if (status < 0) {
      // A read that failed otherwise leaves nothing usable in the buffer;
      // going on could repeat the same failure forever.
      demux->err(demux->context, "Unable to read a block from the input file");
      parser->failed = 1;
      return -1;
    }
    if (parser->block.data == nullptr) continue;
    *byteTotal += parser->block.size;
    parser->lastBlockType = *blockType;
    parser->lastStream = *stream;
    return 1;
  }
}

int64_t parser_read_and_deliver(Parser* parser, zep_block_info_t* callerRecord,
                                const bufstream* wanted) {
  Instance* demux = parser->demux;
  DamageToHost damage(demux);
  if (parser->atEnd || parser->failed) return 0;
  uint64_t total = 0;
  for (;;) {
    uint32_t blockType = 0;
    uint32_t streamNumber = 0;
    const int got = parser_read_block(parser, &blockType, &streamNumber, &total);
    if (got <= 0) return got;
    StreamEntry* entry = find_entry(parser, blockType, streamNumber);
    if (entry == nullptr) continue;
    // A pull consumer asks for its own stream; blocks of the parser's other
    // pull-mode streams are passed over.
    if (wanted != nullptr && entry->chunkSize == 0 && entry->output != wanted) continue;
    const Stream* s = entry->stream;
    const uint32_t codecId = s->info.codec_id;
    Payload p{parser->block.data, parser->block.size};

    if (repeats_empty_frames(codecId)) {
      if (p.size == 0) {
        if (entry->savedSize == 0) continue;
        p = Payload{entry->savedFrame, entry->savedSize};
        total += p.size;
      } else if (!save_frame(parser, entry, p)) {
        return fail(parser);
      }
    } else if (p.size == 0) {
      continue;
    }

    const bool nalStream = codecId == codec::kH264 || codecId == codec::kHevc;
    bool headerFirst = false;
    if (nalStream && parser->firstBlock) {
      parser->firstBlock = 0;
      const uint32_t lengthSize = s->header.nalLengthSize != 0 ? s->header.nalLengthSize : 4;
      const int headerNal =
          first_nal_byte_after_start_code(s->info.codec_header, s->info.codec_header_size);
      const int blockNal = p.size > lengthSize ? p.data[lengthSize] : -1;
      if (entry->addHeader && headerNal >= 0 && blockNal != headerNal) {
        // The codec header goes out as this block; the block follows next.
        headerFirst = true;
        parser->redeliver = 1;
        p = Payload{s->info.codec_header, s->info.codec_header_size};
      }
    }
    if (entry->addHeader && !headerFirst) {
      bool shaped = true;
      if (nalStream) {
        shaped = nal_units_to_annex_b(parser, s, &p);
      } else if (demux->fileInfo.container_type == ZEP_CONTAINER_MKV &&
                 s->blockType == ZEP_BLOCK_AUDIO) {
        if (codecId == codec::kAac) {
          shaped = add_adts_header(parser, s, &p);
        } else if ((codecId == codec::kAc3 || codecId == codec::kAc3Tag39) &&
                   !framing::ac3_has_sync_word(p.data, p.size)) {
          shaped = add_ac3_sync_word(parser, &p);
        }
      }
      if (!shaped) return fail(parser);
    }

    zep_block_info_t record;
    std::memset(&record, 0, sizeof record);
    const bool key = (parser->block.flags & ZEP_BLOCK_FLAG_KEYFRAME) != 0;
    record.flags = key ? ZEP_BLOCK_INFO_FLAGS_KEY : ZEP_BLOCK_INFO_FLAGS_OTHER;
    record.start_time = to_27mhz(parser->block.time);
    parser->lastTime = parser->block.time;

    if (entry->chunkSize == 0) {
      // Pull: the consumer reads the parser's own buffer, no copy.
      record.data = p.data;
      record.size = p.size;
      fill_time_record(parser, record.start_time, parser->block.duration, p.size);
      if (callerRecord != nullptr) std::memcpy(callerRecord, &record, sizeof record);
      return int64_t(total);
    }
    bufstream* out = entry->output;
    uint32_t copied = 0;
    while (copied < p.size) {
      const uint32_t rest = p.size - copied;
      const uint32_t piece = rest < entry->chunkSize ? rest : entry->chunkSize;
      if (out->copybytes(out, p.data + copied, piece) != piece) {
        demux->err(demux->context, "Unable to copy %d bytes to stream bufstream", int(piece));
        return fail(parser);
      }
      copied += piece;
    }
    record.size = copied;
    const int32_t infoAnswer = out->auxinfo(out, 0, ZEP_INFO_BLOCK, &record, sizeof record);
    fill_time_record(parser, record.start_time, parser->block.duration, p.size);
    zep_time_info_t timeRecord = parser->timeRecord;
    const int32_t timeAnswer = out->auxinfo(out, 0, ZEP_INFO_TIME, &timeRecord, sizeof timeRecord);
    if (infoAnswer != 0 || timeAnswer != 0) return fail(parser);
    // A pull consumer waits for a block of its own stream.
    if (wanted != nullptr) continue;
    if (callerRecord != nullptr) std::memcpy(callerRecord, &record, sizeof record);
    return int64_t(total);
  }
}

int32_t pull_auxinfo(bufstream* self, uint32_t /*offset*/, uint32_t infoId, void* infoPtr,
                     uint32_t infoSize) {
  if (self == nullptr || infoPtr == nullptr) return -1;
  auto* parser = static_cast<Parser*>(self->zep_parser);
  if (parser == nullptr) return -1;
  if (infoId == ZEP_INFO_BLOCK && infoSize == sizeof(zep_block_info_t)) {
    auto* record = static_cast<zep_block_info_t*>(infoPtr);
    if (parser->sleeping) {
      parser->demux->err(parser->demux->context, "Sleep mode is active");
      return -1;
    }
    if (!parser->atEnd) {
      if (parser_read_and_deliver(parser, record, self) > 0) return 0;
      if (!parser->atEnd) return -1;
    }
    std::memset(record, 0, sizeof *record);
    record->end_of_stream = 1;
    return 0;
  }
  if (infoId == ZEP_INFO_TIME && infoSize == sizeof(zep_time_info_t)) {
    std::memcpy(infoPtr, &parser->timeRecord, sizeof parser->timeRecord);
    return 0;
  }
  return -1;
}

}  // namespace zep::api
