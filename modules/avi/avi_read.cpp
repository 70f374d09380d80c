#include "modules/avi/avi_read.h"

#include <algorithm>
#include <cstring>

#include "modules/avi/avi_headers.h"
#include "modules/avi/avi_index.h"
#include "modules/avi/avi_keyframe.h"
#include "modules/avi/avi_timing.h"

namespace avi {

namespace {

constexpr uint32_t kStreamSlots = 1 + kMaxAudioStreams + kMaxSubtitleStreams;
constexpr int64_t kMaxResumeOffset = 30000000;  // 3 s

// What a failed call puts back: the read positions and every stream's
// counters. Its size does not depend on the file or its index.
struct ReadSnapshot {
  uint64_t readPosition;
  uint32_t currentSegment;
  AviStreamState states[kStreamSlots];
};

void save(const AviMediaSet& set, ReadSnapshot* s) {
  s->readPosition = set.readPosition;
  s->currentSegment = set.currentSegment;
  s->states[0] = set.video.state;
  for (uint32_t i = 0; i < kMaxAudioStreams; ++i) s->states[1 + i] = set.audio[i].state;
  for (uint32_t i = 0; i < kMaxSubtitleStreams; ++i)
    s->states[1 + kMaxAudioStreams + i] = set.subtitle[i].state;
}

void restore(AviMediaSet& set, const ReadSnapshot& s) {
  set.readPosition = s.readPosition;
  set.currentSegment = s.currentSegment;
  set.video.state = s.states[0];
  for (uint32_t i = 0; i < kMaxAudioStreams; ++i) set.audio[i].state = s.states[1 + i];
  for (uint32_t i = 0; i < kMaxSubtitleStreams; ++i)
    set.subtitle[i].state = s.states[1 + kMaxAudioStreams + i];
}

// Timing of the next block of a stream, then the stream's counters move on.
void count_block(AviStream& s, uint32_t size, const uint8_t* data, uint32_t dataSize) {
  AviStreamState& st = s.state;
  int64_t time = 0, duration = 0;
  if (s.blockType == ZEP_BLOCK_VIDEO) {
    time = frame_time(s.timing, st.blocks);
    duration = saturated_time(s.timing.frameDuration);
  } else if (s.blockType == ZEP_BLOCK_AUDIO) {
    audio_chunk_time(s.timing, st.blocks, st.bytes, size, &time, &duration);
  } else if (data) {
    subtitle_chunk_time(data, dataSize, &time, &duration);
  } else {
    time = st.time;
  }
  ++st.blocks;
  st.bytes += size;
  st.totalDuration = add_time(st.totalDuration, duration);
  st.time = time;
  st.lastDuration = duration;
  st.endTime = add_time(time, duration);
  st.lastSize = size;
}

bool starts_fresh(uint64_t next) { return next == kNoPosition || next == 0; }

// Where the movi data of segment `k` ends, never beyond the file.
uint64_t movi_end(const AviContext& ctx, uint64_t m, uint32_t size) {
  return std::min(m + 8 + uint64_t(size), ctx.file.size);
}

struct Located {
  ChunkHeader chunk;
  AviStream* stream = nullptr;
  uint32_t blockType = 0;
  uint32_t index = 0;
};

// Reads the chunk at `pos`. A LIST rec is entered (its first child is read
// instead), any other LIST is passed over: *advance tells where the walk goes
// on without delivering, and false is returned.
ZEP_STATUS read_chunk(AviContext& ctx, AviMediaSet& set, uint64_t pos, Located* out, bool* isChunk,
                      uint64_t* advance) {
  *isChunk = false;
  ZEP_STATUS status = read_header(ctx.file, pos, &out->chunk);
  if (status < 0) return status;
  if (out->chunk.id == kLIST) {
    *advance = out->chunk.hasForm && out->chunk.form == kRec ? pos + 12 : out->chunk.next();
    return ZEP_OK;
  }
  *advance = out->chunk.next();
  StreamChunkId sc = classify_chunk(out->chunk.id);
  out->stream =
      sc.blockType ? stream_by_number(set, sc.blockType, sc.number, &out->index) : nullptr;
  out->blockType = sc.blockType;
  // An empty audio chunk holds no audio: writers put them in to keep the
  // interleave, and counting one as a block would shift every later time.
  // It is passed over like a chunk of an unknown stream.
  *isChunk = out->stream != nullptr && !(sc.blockType == ZEP_BLOCK_AUDIO && out->chunk.size == 0);
  return ZEP_OK;
}

// Reads the chunk's data into the block and fills its results.
ZEP_STATUS deliver(AviContext& ctx, AviMediaSet& set, const Located& at, ZepBlock* block) {
  const ChunkHeader& c = at.chunk;
  AviStream& s = *at.stream;
  if (!block) return ZEP_ERR_BLOCK_BUFFER_NULL;
  uint32_t size = clamp_size(c, c.end(), ctx.file.size);  // a cut last chunk: what is there
  ZEP_STATUS status = zep_block_ensure_capacity(block, size);
  if (status < 0) return status;
  if (!block->data) return ZEP_ERR_BLOCK_BUFFER_NULL;
  uint32_t got = 0;
  if (size) {
    status = ctx.file.read_at(c.data(), block->data, size, &got);
    if (status < 0) return status;
  }
  size = got;
  count_block(s, size, block->data, size);
  s.state.nextPosition = c.next();
  s.state.segment = set.currentSegment;
  uint32_t flags = ZEP_BLOCK_FLAG_KEYFRAME;
  if (at.blockType == ZEP_BLOCK_VIDEO) {
    int key = -1;
    if (index_needs_growth(set, c.position)) {
      status = index_grow(ctx, set, c, at.blockType, at.index, block->data, size, &key);
      if (status < 0) return status;
    }
    uint32_t frame = s.state.blocks - 1;
    int known = index_key_flag(ctx, set, frame);
    if (known >= 0) key = known;
    if (key < 0) {
      VideoBitstream kind = video_bitstream(s.bitmap.compression, s.header.handler);
      key = frame == 0 || is_key_frame(kind, block->data, size) ? 1 : 0;
    }
    flags = key ? ZEP_BLOCK_FLAG_KEYFRAME : 0;
  }
  block->size = size;
  block->flags = flags;
  block->time = s.state.time;
  block->duration = s.state.lastDuration;
  block->kind = at.blockType;
  block->fillCount = 0;
  return ZEP_OK;
}

// Grows the index for a chunk that is not delivered now (or whose payload is
// not needed for the test).
ZEP_STATUS grow_for(AviContext& ctx, AviMediaSet& set, const Located& at) {
  if (!index_needs_growth(set, at.chunk.position)) return ZEP_OK;
  return index_grow(ctx, set, at.chunk, at.blockType, at.index, nullptr, 0, nullptr);
}

}  // namespace

ZEP_STATUS read_next_block(AviContext& ctx, AviMediaSet& set, uint32_t* blockType,
                           uint32_t* streamIndex, ZepBlock* block) {
  if (set.currentTitle == kNoTitle || !set.moviFound) return ZEP_FAIL;
  ReadSnapshot snapshot;
  save(set, &snapshot);
  while (true) {
    uint64_t m = 0;
    uint32_t msize = 0;
    if (segment_movi(set, set.currentSegment, &m, &msize) < 0) return ZEP_ERR_END_OF_STREAM;
    if (set.readPosition == 0) set.readPosition = m + 12;
    uint64_t end = movi_end(ctx, m, msize);
    Located at;
    bool isChunk = false;
    uint64_t advance = 0;
    ZEP_STATUS status = ZEP_FAIL;
    if (set.readPosition < end && end - set.readPosition >= 8)
      status = read_chunk(ctx, set, set.readPosition, &at, &isChunk, &advance);
    if (status == ZEP_ERR_KILL) {
      restore(set, snapshot);
      return status;
    }
    if (status < 0) {
      // The end of this movi (or of a cut file): on to the next segment.
      uint64_t nm = 0;
      uint32_t ns = 0;
      if (segment_movi(set, set.currentSegment + 1, &nm, &ns) < 0) return ZEP_ERR_END_OF_STREAM;
      ++set.currentSegment;
      set.readPosition = nm + 12;
      continue;
    }
    set.readPosition = advance;
    if (!isChunk) continue;
    AviStream& s = *at.stream;
    AviStreamState& st = s.state;
    ++st.chunksExamined;
    bool current = st.segment <= set.currentSegment;
    if (st.active && current) {
      uint64_t p = at.chunk.position;
      bool fresh = starts_fresh(st.nextPosition) || p + 8 >= st.nextPosition;
      if (!(fresh && at.blockType == ZEP_BLOCK_VIDEO)) {
        status = grow_for(ctx, set, at);
        if (status < 0) {
          restore(set, snapshot);
          return status;
        }
      }
      if (!fresh) continue;  // delivered before a seek moved the walk back
      status = deliver(ctx, set, at, block);
      if (status < 0) {
        restore(set, snapshot);
        return status;
      }
      *blockType = at.blockType;
      *streamIndex = at.index;
      return ZEP_OK;
    }
    status = grow_for(ctx, set, at);
    if (status < 0) {
      restore(set, snapshot);
      return status;
    }
    if (st.active) continue;  // positioned into a later segment: not counted here
    // Inactive streams are counted so that their times stay current.
    count_block(s, at.chunk.size, nullptr, 0);
    st.segment = set.currentSegment;
    st.nextPosition = at.chunk.next();
  }
}

ZEP_STATUS read_next_block_by_stream(AviContext& ctx, AviMediaSet& set, uint32_t blockType,
                                     uint32_t streamIndex, ZepBlock* block) {
  AviStream* wanted = find_stream(set, blockType, streamIndex);
  if (!wanted || set.currentTitle == kNoTitle || !set.moviFound) return ZEP_ERR_INVALID_STREAM;
  ReadSnapshot snapshot;
  save(set, &snapshot);
  AviStreamState& ws = wanted->state;
  uint32_t seg = ws.segment;
  uint64_t m = 0;
  uint32_t msize = 0;
  if (segment_movi(set, seg, &m, &msize) < 0) return ZEP_ERR_END_OF_STREAM;
  uint64_t pos = starts_fresh(ws.nextPosition) ? m + 12 : ws.nextPosition;
  set.currentSegment = seg;
  while (true) {
    uint64_t end = movi_end(ctx, m, msize);
    Located at;
    bool isChunk = false;
    uint64_t advance = 0;
    ZEP_STATUS status = ZEP_FAIL;
    if (pos < end && end - pos >= 8) status = read_chunk(ctx, set, pos, &at, &isChunk, &advance);
    if (status == ZEP_ERR_KILL) {
      restore(set, snapshot);
      return status;
    }
    if (status < 0) {
      if (segment_movi(set, seg + 1, &m, &msize) < 0) {
        ws.nextPosition = pos;
        return ZEP_ERR_END_OF_STREAM;
      }
      ++seg;
      set.currentSegment = seg;
      ws.segment = seg;
      // The later of the stream's own position and the new movi's first chunk.
      pos = starts_fresh(ws.nextPosition) ? m + 12 : std::max(ws.nextPosition, m + 12);
      continue;
    }
    pos = advance;
    ws.nextPosition = pos;
    set.readPosition = pos;
    if (!isChunk) continue;
    bool match = at.blockType == blockType && at.index == streamIndex;
    if (!(match && blockType == ZEP_BLOCK_VIDEO)) {
      status = grow_for(ctx, set, at);
      if (status < 0) {
        restore(set, snapshot);
        return status == ZEP_ERR_CREATE_READ_BUFFER ? ZEP_E_NO_MEMORY : status;
      }
    }
    if (!match) {
      if (set.isMenu && blockType == ZEP_BLOCK_SUBTITLE) {
        restore(set, snapshot);
        return ZEP_ERR_END_OF_STREAM;
      }
      continue;
    }
    ws.segment = seg;
    status = deliver(ctx, set, at, block);
    if (status < 0) {
      restore(set, snapshot);
      if (status == ZEP_ERR_BLOCK_BUFFER_TOO_SMALL || status == ZEP_ERR_DATA_NOT_READY ||
          status == ZEP_ERR_KILL)
        return status;
      if (status == ZEP_ERR_CREATE_READ_BUFFER || status == ZEP_E_NO_MEMORY) return ZEP_E_NO_MEMORY;
      return ZEP_E_NO_MORE_BLOCKS;
    }
    return ZEP_OK;
  }
}

ZEP_STATUS set_position(AviContext& ctx, AviMediaSet& set, uint32_t blockType, uint32_t streamIndex,
                        int64_t* time) {
  if (!time) return ZEP_FAIL;
  if (blockType != ZEP_BLOCK_VIDEO && blockType != ZEP_BLOCK_AUDIO &&
      blockType != ZEP_BLOCK_SUBTITLE)
    return ZEP_OK;
  AviStream* stream = find_stream(set, blockType, streamIndex);
  if (!stream || set.currentTitle == kNoTitle || !set.index) return ZEP_ERR_INVALID_STREAM;
  AviIndex& ix = *set.index;
  int64_t t = *time < 0 ? 0 : *time;
  if (!ix.usable) return ZEP_ERR_PROCESS_INDEX_FAILED;
  bool prepare = (!set.onTheFly && !ix.built) || (set.onTheFly && !ix.built && t > ix.lastKeyTime);
  bool startOver = false;
  if (prepare) {
    if (!set.indexPresent) {
      if (t != 0) return set.onTheFly ? ZEP_ERR_INDEX_INCOMPLETE : ZEP_ERR_NO_INDEX_FOUND;
      startOver = true;
    } else {
      ZEP_STATUS status = index_build(ctx, set, t);
      if (status < 0) return status;
    }
  }
  const AviTiming& vt = set.video.timing;
  int64_t reached = 0;
  uint64_t pos = kNoPosition;
  uint32_t blocks = 0;
  uint64_t bytes = 0;
  bool cacheless = index_is_cacheless(ctx, set);
  if (startOver) {
    pos = kNoPosition;
  } else if (blockType == ZEP_BLOCK_VIDEO) {
    uint32_t frame = frame_of_time(vt, t);
    if (cacheless) {
      uint32_t found = 0;
      if (odml_find_sync(ctx, set, frame, false, &found, &pos) < 0) return ZEP_FAIL;
      frame = found;
    } else {
      const AviKeyEntry* e = index_at_or_before(ix, frame);
      if (!e) return ZEP_FAIL;
      frame = e->frame;
      pos = e->videoPosition;
    }
    reached = frame_time(vt, frame);
    blocks = frame;
  } else if (blockType == ZEP_BLOCK_AUDIO) {
    if (cacheless) {
      int64_t chunkTime = 0;
      if (odml_find_audio(ctx, set, streamIndex, t, &pos, &chunkTime) == ZEP_OK) {
        reached = chunkTime;
      } else {
        uint32_t found = 0;
        if (odml_find_sync(ctx, set, frame_of_time(vt, t), false, &found, &pos) < 0)
          return ZEP_FAIL;
        reached = frame_time(vt, found);
      }
    } else {
      const AviKeyEntry* e = index_at_or_before(ix, frame_of_time(vt, t));
      if (!e) return ZEP_FAIL;
      reached = frame_time(vt, e->frame);
      int64_t offset = e->audioTimeOffset[streamIndex];
      if (offset >= -kMaxResumeOffset && offset <= kMaxResumeOffset) {
        reached += offset;
        pos = e->audioPosition[streamIndex];
      } else {
        pos = e->videoPosition;
      }
    }
    if (reached < 0) reached = 0;
    const AviTiming& at = stream->timing;
    // The audio position just after `reached`.
    const int64_t after = add_time(reached, 1);
    if (at.blockCounted) {
      blocks = blocks_of_time(at, after);
    } else {
      bytes = bytes_of_time(at, after);
    }
  } else {
    if (cacheless) {
      uint32_t found = 0;
      uint32_t frame = t == 0 ? 0 : frame_of_time(vt, t > 5000000 ? t - 5010000 : 0);
      if (odml_find_sync(ctx, set, frame, t != 0, &found, &pos) < 0) return ZEP_FAIL;
      reached = frame_time(vt, found);
    } else {
      const AviKeyEntry* e = index_at_or_before(ix, frame_of_time(vt, t));
      if (!e) return ZEP_FAIL;
      reached = frame_time(vt, e->frame);
      pos = e->subtitlePosition[streamIndex];
    }
  }
  AviStreamState& st = stream->state;
  st.time = reached;
  st.endTime = reached;
  st.blocks = blocks;
  st.bytes = bytes;
  st.seekPosition = starts_fresh(pos) ? kNoPosition : pos;
  st.nextPosition = st.seekPosition;
  st.segment = starts_fresh(pos) ? 0 : segment_of(set, pos);
  *time = reached;

  // The shared walk restarts at the earliest positioned stream.
  uint64_t earliest = starts_fresh(set.video.state.seekPosition) ? 0 : set.video.state.seekPosition;
  if (!set.videoCount) earliest = kNoPosition;
  auto consider = [&](const AviStream& s) {
    if (!s.state.active) return;
    uint64_t p = starts_fresh(s.state.seekPosition) ? kNoPosition : s.state.seekPosition;
    earliest = std::min(earliest, p);
  };
  for (uint32_t i = 0; i < set.audioCount; ++i) consider(set.audio[i]);
  for (uint32_t i = 0; i < set.subtitleCount; ++i) consider(set.subtitle[i]);
  if (startOver || earliest == kNoPosition || earliest == 0) {
    set.readPosition = 0;
    set.currentSegment = 0;
  } else {
    set.readPosition = earliest;
    set.currentSegment = segment_of(set, earliest);
  }
  return ZEP_OK;
}

ZEP_STATUS set_active_stream(AviMediaSet& set, uint32_t blockType, uint32_t streamIndex,
                             uint32_t active) {
  AviStream* s = find_stream(set, blockType, streamIndex);
  if (!s) return ZEP_ERR_INVALID_STREAM;
  s->state.active = active ? 1u : 0u;
  return ZEP_OK;
}

}  // namespace avi
