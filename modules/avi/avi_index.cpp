#include "modules/avi/avi_index.h"

#include <algorithm>
#include <cstring>

#include "modules/avi/avi_headers.h"
#include "modules/avi/avi_keyframe.h"
#include "modules/avi/avi_reader.h"
#include "modules/avi/avi_timing.h"

// Ring queue of the chunks from which an audio or subtitle stream may resume:
// the newest 1000 chunks seen before the next key frame.
struct AviResumeItem {
  uint64_t position;
  int64_t time;
};
struct AviResumeQueue {
  static constexpr uint32_t kCapacity = 1000;
  AviResumeItem items[kCapacity];
  uint32_t head;
  uint32_t count;

  void push(uint64_t position, int64_t time) {
    if (count == kCapacity) {
      head = (head + 1) % kCapacity;
      --count;
    }
    items[(head + count) % kCapacity] = AviResumeItem{position, time};
    ++count;
  }
  const AviResumeItem& front() const { return items[head]; }
  void pop() {
    head = (head + 1) % kCapacity;
    --count;
  }
};

// Scratch space for the key-frame test of chunks that are not delivered.
struct AviProbeBuffer {
  uint8_t bytes[avi::kKeyFrameProbeSize];
};

// idx1 entries are read in batches; the batch read last is kept so that an
// incremental walk that stops within it does not read it again.
struct AviIdx1Batch {
  static constexpr uint32_t kEntries = 512;
  uint64_t position;  // file position of the first entry held
  uint32_t count;     // entries held
  uint8_t bytes[kEntries * 16];
};

namespace avi {

namespace {

constexpr uint32_t kQueueCount = kMaxAudioStreams + kMaxSubtitleStreams;
constexpr uint32_t kStdBatch = 512;
constexpr uint32_t kNotKeyBit = 0x80000000u;

int32_t clamp32(int64_t v) {
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}

void free_queues(AviIndex& ix) {
  if (ix.queues) zep_mem_free(ix.queues, ix.memoryContext);
  ix.queues = nullptr;
}

ZEP_STATUS ensure_queues(AviIndex& ix) {
  if (ix.queues) return ZEP_OK;
  ix.queues = static_cast<AviResumeQueue*>(
      zep_mem_alloc(sizeof(AviResumeQueue) * kQueueCount, ix.memoryContext));
  return ix.queues ? ZEP_OK : ZEP_E_NO_MEMORY;
}

void clear_index(AviIndex& ix) {
  void* mem = ix.memoryContext;
  if (ix.entries) zep_mem_free(ix.entries, mem);
  if (ix.keyBits) zep_mem_free(ix.keyBits, mem);
  if (ix.probe) zep_mem_free(ix.probe, mem);
  if (ix.idx1Batch) zep_mem_free(ix.idx1Batch, mem);
  free_queues(ix);
  ix = AviIndex{};
  ix.memoryContext = mem;
  ix.usable = true;
  ix.lastKeyTime = -1;
}

// Records the key flag of the next video frame (frame number keyCovered).
void record_frame(AviContext& ctx, AviIndex& ix, bool key) {
  uint32_t f = ix.keyCovered;
  if (f == UINT32_MAX) return;
  ix.keyCovered = f + 1;
  if (ctx.minMemory) return;
  uint32_t need = f / 8 + 1;
  if (need > ix.keyBitsBytes) {
    uint32_t grown = ix.keyBitsBytes ? ix.keyBitsBytes : 1024;
    while (grown < need && grown < 0x40000000u) grown *= 2;
    auto* bits = static_cast<uint8_t*>(zep_mem_alloc(grown, ix.memoryContext));
    if (!bits) {
      // Without memory for the flags the frame's key state stays unknown.
      ix.keyCovered = f;
      return;
    }
    if (ix.keyBits) {
      std::memcpy(bits, ix.keyBits, ix.keyBitsBytes);
      zep_mem_free(ix.keyBits, ix.memoryContext);
    }
    ix.keyBits = bits;
    ix.keyBitsBytes = grown;
  }
  if (key) ix.keyBits[f / 8] |= uint8_t(1u << (f % 8));
}

bool want_entry(const AviContext& ctx, const AviIndex& ix, uint32_t frame) {
  if (!ix.haveEntry || frame == 0) return true;
  uint32_t gap = std::max(ctx.keyframeGap, ix.thinning);
  return frame > ix.lastEntryFrame && frame - ix.lastEntryFrame > gap;
}

// Appends an entry. A full table is thinned to every other entry, so that the
// whole title stays covered with bounded memory.
void append_entry(AviIndex& ix, const AviKeyEntry& e) {
  if (!ix.entries) {
    if (ix.capacity == 0) return;
    ix.entries = static_cast<AviKeyEntry*>(
        zep_mem_alloc(sizeof(AviKeyEntry) * ix.capacity, ix.memoryContext));
    if (!ix.entries) return;
  }
  if (ix.count > 0 && e.frame <= ix.entries[ix.count - 1].frame) return;
  if (ix.count == ix.capacity) {
    uint32_t kept = 0;
    for (uint32_t i = 0; i < ix.count; i += 2) ix.entries[kept++] = ix.entries[i];
    ix.count = kept;
    uint32_t spacing =
        kept > 1 ? (ix.entries[kept - 1].frame - ix.entries[0].frame) / (kept - 1) : 1;
    ix.thinning = std::max(ix.thinning * 2 + 1, spacing);
  }
  ix.entries[ix.count++] = e;
  ix.haveEntry = true;
  ix.lastEntryFrame = e.frame;
}

AviKeyEntry blank_entry(uint64_t videoPosition, uint32_t frame, uint32_t segment) {
  AviKeyEntry e{};
  e.videoPosition = videoPosition;
  e.frame = frame;
  e.segment = segment;
  for (auto& p : e.subtitlePosition) p = kNoPosition;
  return e;
}

// Resume positions of the audio and subtitle streams for a key frame at time
// `keyTime` from what the queues hold.
void fill_resume(AviMediaSet& set, AviIndex& ix, AviKeyEntry& e, int64_t keyTime,
                 int64_t frameDuration) {
  const AviKeyEntry* prev = ix.count ? &ix.entries[ix.count - 1] : nullptr;
  int64_t prevTime = prev ? frame_time(set.video.timing, prev->frame) : 0;
  for (uint32_t s = 0; s < set.audioCount; ++s) {
    AviResumeQueue& q = ix.queues[s];
    const AviResumeItem* taken = nullptr;
    AviResumeItem last{};
    while (q.count &&
           !(q.front().time > keyTime - frameDuration || (q.front().time == 0 && keyTime == 0))) {
      last = q.front();
      taken = &last;
      q.pop();
    }
    const AviResumeItem* use = q.count ? &q.front() : taken;
    if (use) {
      e.audioPosition[s] = use->position;
      e.audioTimeOffset[s] = clamp32(use->time - keyTime);
    } else if (prev) {
      e.audioPosition[s] = prev->audioPosition[s];
      e.audioTimeOffset[s] = clamp32(prevTime + prev->audioTimeOffset[s] - keyTime);
    } else {
      e.audioPosition[s] = e.videoPosition;
      e.audioTimeOffset[s] = clamp32(-keyTime);
    }
  }
  for (uint32_t s = 0; s < set.subtitleCount; ++s) {
    AviResumeQueue& q = ix.queues[kMaxAudioStreams + s];
    uint64_t pos = e.videoPosition;
    while (q.count) {
      pos = q.front().position;
      q.pop();
    }
    e.subtitlePosition[s] = pos;
  }
}

void note_position(AviIndex& ix, uint64_t position) {
  if (!ix.anyIndexed || position > ix.highestIndexed) ix.highestIndexed = position;
  ix.anyIndexed = true;
}

void add_audio(AviMediaSet& set, AviIndex& ix, uint32_t s, uint64_t position, uint32_t size) {
  if (size == 0) return;  // an empty chunk is no block (as when reading)
  int64_t time = 0, duration = 0;
  audio_chunk_time(set.audio[s].timing, ix.audioBlocks[s], ix.audioBytes[s], size, &time,
                   &duration);
  ix.queues[s].push(position, time);
  ++ix.audioBlocks[s];
  ix.audioBytes[s] += size;
}

void add_key_entry(AviContext& ctx, AviMediaSet& set, AviIndex& ix, uint64_t position,
                   uint32_t frame, uint32_t segment) {
  if (!want_entry(ctx, ix, frame)) return;
  AviKeyEntry e = blank_entry(position, frame, segment);
  int64_t t = frame_time(set.video.timing, frame);
  fill_resume(set, ix, e, t, int64_t(set.video.timing.frameDuration));
  append_entry(ix, e);
  ix.lastKeyTime = t;
}

// ---- idx1 ----------------------------------------------------------------

struct WalkStop {
  int64_t time = INT64_MAX;
  uint32_t frames = UINT32_MAX;    // stop once this many frames are known
  uint64_t position = UINT64_MAX;  // stop once a chunk at or beyond it is indexed
};

ZEP_STATUS idx1_start(AviContext& ctx, AviMediaSet& set, AviIndex& ix) {
  ChunkHeader h;
  if (read_header(ctx.file, set.idx1Position, &h) < 0 || (h.id != kIdx1 && h.id != k1idx))
    return ZEP_ERR_PROCESS_INDEX_FAILED;
  if (h.size >= 16 && h.size <= 24) return ZEP_ERR_PROCESS_INDEX_FAILED;
  ix.idx1Next = h.data();
  ix.idx1End = std::min(h.end(), ctx.file.size);
  ix.idx1Relative = true;
  if (ix.idx1End > ix.idx1Next && ix.idx1End - ix.idx1Next >= 16) {
    uint8_t raw[16];
    if (ctx.file.read_exact(ix.idx1Next, raw, 16) < 0) return ZEP_ERR_PROCESS_INDEX_FAILED;
    LeReader r(raw, 16);
    FourCC id = r.u32();
    r.u32();
    uint32_t offset = r.u32();
    // Offsets count from the movi form type or from the start of the file.
    // Whichever one points at the entry's own chunk id decides; otherwise an
    // offset that points at the first chunk of movi means absolute positions.
    uint8_t atRel[4] = {}, atAbs[4] = {};
    bool relOk = ctx.file.read_exact(set.moviPosition + 8 + offset, atRel, 4) == ZEP_OK &&
                 le32_at(atRel) == id;
    bool absOk = ctx.file.read_exact(offset, atAbs, 4) == ZEP_OK && le32_at(atAbs) == id;
    if (relOk != absOk)
      ix.idx1Relative = relOk;
    else
      ix.idx1Relative = uint64_t(offset) != set.moviPosition + 12;
  }
  ix.idx1Decided = true;
  return ZEP_OK;
}

void idx1_entry(AviContext& ctx, AviMediaSet& set, AviIndex& ix, FourCC id, uint32_t flags,
                uint32_t offset, uint32_t length) {
  StreamChunkId sc = classify_chunk(id);
  if (!sc.blockType) return;
  uint32_t s = 0;
  AviStream* stream = stream_by_number(set, sc.blockType, sc.number, &s);
  if (!stream) return;
  uint64_t pos = ix.idx1Relative ? set.moviPosition + 8 + offset : uint64_t(offset);
  uint64_t moviEnd = std::min(set.moviPosition + 8 + uint64_t(set.moviSize), ctx.file.size);
  bool inside = pos >= set.moviPosition + 12 && pos < moviEnd && pos + 8 <= ctx.file.size;
  if (sc.blockType == ZEP_BLOCK_VIDEO) {
    uint32_t f = ix.keyCovered;
    bool key = (flags & 0x10u) != 0;
    record_frame(ctx, ix, key);
    if (!inside) return;
    if (key) add_key_entry(ctx, set, ix, pos, f, 0);
    note_position(ix, pos);
    return;
  }
  if (!inside) return;
  if (sc.blockType == ZEP_BLOCK_AUDIO)
    add_audio(set, ix, s, pos, length);
  else
    ix.queues[kMaxAudioStreams + s].push(pos, 0);
  note_position(ix, pos);
}

ZEP_STATUS idx1_walk(AviContext& ctx, AviMediaSet& set, AviIndex& ix, const WalkStop& stop) {
  if (ix.idx1Failed) return ZEP_ERR_PROCESS_INDEX_FAILED;
  if (ix.idx1Done) return ZEP_OK;
  ZEP_STATUS status = ensure_queues(ix);
  if (status < 0) return status;
  if (!ix.idx1Decided) {
    status = idx1_start(ctx, set, ix);
    if (status < 0) {
      ix.idx1Failed = true;
      return status;
    }
  }
  if (!ix.idx1Batch) {
    ix.idx1Batch =
        static_cast<AviIdx1Batch*>(zep_mem_alloc(sizeof(AviIdx1Batch), ix.memoryContext));
    if (!ix.idx1Batch) return ZEP_E_NO_MEMORY;
  }
  AviIdx1Batch& batch = *ix.idx1Batch;
  while (ix.idx1End > ix.idx1Next && ix.idx1End - ix.idx1Next >= 16) {
    bool held = batch.count && ix.idx1Next >= batch.position &&
                ix.idx1Next < batch.position + uint64_t(batch.count) * 16;
    if (!held) {
      uint32_t n =
          uint32_t(std::min<uint64_t>((ix.idx1End - ix.idx1Next) / 16, AviIdx1Batch::kEntries));
      status = ctx.file.read_exact(ix.idx1Next, batch.bytes, n * 16);
      if (status < 0) {
        ix.idx1Failed = true;
        batch.count = 0;
        return status == ZEP_FAIL ? ZEP_ERR_PROCESS_INDEX_FAILED : status;
      }
      batch.position = ix.idx1Next;
      batch.count = n;
    }
    uint32_t first = uint32_t((ix.idx1Next - batch.position) / 16);
    LeReader r(batch.bytes + first * 16, size_t(batch.count - first) * 16);
    for (uint32_t i = first; i < batch.count; ++i) {
      FourCC id = r.u32();
      uint32_t flags = r.u32();
      uint32_t offset = r.u32();
      uint32_t length = r.u32();
      idx1_entry(ctx, set, ix, id, flags, offset, length);
      ix.idx1Next += 16;
      if (ix.lastKeyTime >= stop.time || ix.keyCovered >= stop.frames ||
          (ix.anyIndexed && ix.highestIndexed >= stop.position))
        return ZEP_OK;
    }
  }
  ix.idx1Done = true;
  ix.built = true;
  free_queues(ix);
  zep_mem_free(ix.idx1Batch, ix.memoryContext);
  ix.idx1Batch = nullptr;
  return ZEP_OK;
}

// ---- OpenDML ---------------------------------------------------------------

ZEP_STATUS read_super(AviContext& ctx, AviStream& s) {
  if (s.super || !s.hasIndx || s.indx.indexType != 0) return ZEP_OK;
  if (s.indx.longsPerEntry != 4) return ZEP_OK;
  uint32_t room = s.indx.size > 24 ? (s.indx.size - 24) / 16 : 0;
  uint32_t count = std::min({s.indx.entriesInUse, kMaxSuperEntries, room});
  if (count == 0) return ZEP_OK;
  uint8_t raw[kMaxSuperEntries * 16];
  uint32_t got = 0;
  ZEP_STATUS status = ctx.file.read_at(s.indxPosition + 32, raw, count * 16, &got);
  if (status < 0) return status;
  count = got / 16;
  if (count == 0) return ZEP_OK;
  s.super =
      static_cast<AviSuperEntry*>(zep_mem_alloc(sizeof(AviSuperEntry) * count, ctx.memoryContext));
  if (!s.super) return ZEP_E_NO_MEMORY;
  LeReader r(raw, count * 16);
  for (uint32_t i = 0; i < count; ++i) {
    s.super[i].offset = r.u64();
    s.super[i].size = r.u32();
    s.super[i].duration = r.u32();
  }
  s.superCount = count;
  return ZEP_OK;
}

// One standard index (ix##, or an indx of index type 1): where its entries
// are and the base their offsets count from.
struct StdIndex {
  uint64_t entries = 0;
  uint32_t count = 0;
  uint64_t base = 0;
};

ZEP_STATUS load_std(AviContext& ctx, uint64_t position, StdIndex* out) {
  *out = StdIndex{};
  uint8_t raw[32];
  ZEP_STATUS status = ctx.file.read_exact(position, raw, 32);
  if (status < 0) return status;
  LeReader r(raw, 32);
  r.u32();
  uint32_t size = r.u32();
  uint16_t longs = r.u16();
  r.u8();
  uint8_t type = r.u8();
  uint32_t inUse = r.u32();
  r.u32();
  uint64_t base = r.u64();
  if (longs != 2 || type != 1) return ZEP_OK;  // not an index of chunks: no entries
  uint32_t room = size > 24 ? (size - 24) / 8 : 0;
  uint64_t inFile = ctx.file.size > position + 32 ? (ctx.file.size - position - 32) / 8 : 0;
  out->entries = position + 32;
  out->count = uint32_t(std::min<uint64_t>({inUse, room, inFile}));
  out->base = base;
  return ZEP_OK;
}

// Walks the chunks listed by a stream's OpenDML index in order.
class StdCursor {
 public:
  StdCursor(AviContext& ctx, const AviStream& s) : ctx_(ctx), s_(s) {
    single_ = s.hasIndx && s.indx.indexType == 1;
  }
  bool next(uint64_t* position, uint32_t* size, bool* key) {
    while (true) {
      if (inBatch_ < batchCount_) {
        LeReader r(batch_ + inBatch_ * 8, 8);
        uint32_t offset = r.u32();
        uint32_t raw = r.u32();
        ++inBatch_;
        uint64_t p = cur_.base + offset;
        if (p < 8) continue;
        *position = p - 8;
        *size = raw & ~kNotKeyBit;
        *key = (raw & kNotKeyBit) == 0;
        return true;
      }
      if (j_ < cur_.count) {
        uint32_t n = std::min(kStdBatch, cur_.count - j_);
        uint32_t got = 0;
        status_ = ctx_.file.read_at(cur_.entries + uint64_t(j_) * 8, batch_, n * 8, &got);
        if (status_ < 0 || got < 8) return false;
        batchCount_ = got / 8;
        inBatch_ = 0;
        j_ += batchCount_;
        continue;
      }
      if (!load_next()) return false;
    }
  }
  ZEP_STATUS status() const { return status_; }

 private:
  bool load_next() {
    if (single_) {
      if (loaded_) return false;
      loaded_ = true;
      status_ = load_std(ctx_, s_.indxPosition, &cur_);
    } else {
      if (k_ >= s_.superCount) return false;
      status_ = load_std(ctx_, s_.super[k_++].offset, &cur_);
    }
    j_ = 0;
    batchCount_ = inBatch_ = 0;
    if (status_ == ZEP_FAIL) status_ = ZEP_OK, cur_ = StdIndex{};  // a cut ix##: nothing more there
    return status_ >= 0;
  }

  AviContext& ctx_;
  const AviStream& s_;
  bool single_ = false;
  bool loaded_ = false;
  uint32_t k_ = 0;
  StdIndex cur_;
  uint32_t j_ = 0;
  uint8_t batch_[kStdBatch * 8];
  uint32_t batchCount_ = 0;
  uint32_t inBatch_ = 0;
  ZEP_STATUS status_ = ZEP_OK;
};

ZEP_STATUS audio_resume_odml(AviContext& ctx, AviMediaSet& set, AviIndex& ix, uint32_t s) {
  AviStream& a = set.audio[s];
  StdCursor cursor(ctx, a);
  uint64_t blocks = 0, bytes = 0;
  bool have = false;
  uint64_t curPos = 0;
  int64_t curStart = 0, curEnd = 0;
  for (uint32_t i = 0; i < ix.count; ++i) {
    AviKeyEntry& e = ix.entries[i];
    int64_t t = frame_time(set.video.timing, e.frame);
    uint64_t pos;
    uint32_t size;
    bool key;
    while ((!have || curEnd <= t) && cursor.next(&pos, &size, &key)) {
      int64_t start = 0, duration = 0;
      audio_chunk_time(a.timing, blocks, bytes, size, &start, &duration);
      ++blocks;
      bytes += size;
      have = true;
      curPos = pos;
      curStart = start;
      curEnd = start + duration;
    }
    if (cursor.status() < 0) return cursor.status();
    if (have) {
      e.audioPosition[s] = curPos;
      e.audioTimeOffset[s] = clamp32(curStart - t);
    } else {
      // No chunk of this stream is known: it resumes with the video.
      e.audioPosition[s] = e.videoPosition;
      e.audioTimeOffset[s] = INT32_MAX;
    }
  }
  return ZEP_OK;
}

ZEP_STATUS subtitle_resume_odml(AviContext& ctx, AviMediaSet& set, AviIndex& ix, uint32_t s) {
  AviStream& st = set.subtitle[s];
  if (!st.hasIndx) return ZEP_OK;
  StdCursor cursor(ctx, st);
  uint64_t last = 0;
  uint64_t pos = 0;
  uint32_t size;
  bool key;
  bool pending = cursor.next(&pos, &size, &key);
  for (uint32_t i = 0; i < ix.count; ++i) {
    AviKeyEntry& e = ix.entries[i];
    while (pending && pos < e.videoPosition) {
      last = pos;
      pending = cursor.next(&pos, &size, &key);
    }
    e.subtitlePosition[s] = last;
  }
  return cursor.status() < 0 ? cursor.status() : ZEP_OK;
}

ZEP_STATUS build_odml(AviContext& ctx, AviMediaSet& set, AviIndex& ix) {
  ZEP_STATUS status = read_super(ctx, set.video);
  for (uint32_t s = 0; status >= 0 && s < set.audioCount; ++s)
    status = read_super(ctx, set.audio[s]);
  for (uint32_t s = 0; status >= 0 && s < set.subtitleCount; ++s)
    status = read_super(ctx, set.subtitle[s]);
  if (status < 0) return status;
  if (index_is_cacheless(ctx, set)) {
    ix.built = true;
    return ZEP_OK;
  }
  ix.keyCovered = 0;
  if (ix.keyBits) std::memset(ix.keyBits, 0, ix.keyBitsBytes);
  ix.count = 0;
  ix.haveEntry = false;
  StdCursor video(ctx, set.video);
  uint64_t pos;
  uint32_t size;
  bool key;
  while (video.next(&pos, &size, &key)) {
    uint32_t f = ix.keyCovered;
    record_frame(ctx, ix, key);
    if (key && pos + 8 <= ctx.file.size && want_entry(ctx, ix, f)) {
      append_entry(ix, blank_entry(pos, f, segment_of(set, pos)));
      ix.lastKeyTime = frame_time(set.video.timing, f);
    }
  }
  if (video.status() < 0) return video.status();
  for (uint32_t s = 0; s < set.audioCount; ++s) {
    status = audio_resume_odml(ctx, set, ix, s);
    if (status < 0) return status;
  }
  for (uint32_t s = 0; s < set.subtitleCount; ++s) {
    status = subtitle_resume_odml(ctx, set, ix, s);
    if (status < 0) return status;
  }
  ix.built = true;
  return ZEP_OK;
}

bool audio_format_bad(const AviMediaSet& set) {
  for (uint32_t s = 0; s < set.audioCount; ++s) {
    const AviTiming& t = set.audio[s].timing;
    if (t.rate == 0 || t.scale == 0) return true;
  }
  return false;
}

// Locates the super index entry that holds `frame`: its index and first frame.
bool locate_super(const AviStream& v, uint32_t frame, uint32_t* k, uint64_t* first) {
  uint64_t base = 0;
  for (uint32_t i = 0; i < v.superCount; ++i) {
    if (frame < base + v.super[i].duration) {
      *k = i;
      *first = base;
      return true;
    }
    base += v.super[i].duration;
  }
  return false;
}

ZEP_STATUS read_std_entry(AviContext& ctx, const StdIndex& std, uint32_t j, uint64_t* position,
                          bool* key) {
  uint8_t raw[8];
  ZEP_STATUS status = ctx.file.read_exact(std.entries + uint64_t(j) * 8, raw, 8);
  if (status < 0) return status;
  uint32_t offset = le32_at(raw);
  uint32_t size = le32_at(raw + 4);
  *position = std.base + offset >= 8 ? std.base + offset - 8 : 0;
  *key = (size & kNotKeyBit) == 0;
  return ZEP_OK;
}

}  // namespace

uint32_t entry_capacity(uint32_t length) {
  if (length == 0 || int32_t(length) < 0) return 21600;
  return std::clamp<uint32_t>(length / 10, 1000, 21600);
}

ZEP_STATUS index_prepare(AviContext& ctx, AviMediaSet& set) {
  if (!set.index) {
    set.index = static_cast<AviIndex*>(zep_mem_alloc(sizeof(AviIndex), ctx.memoryContext));
    if (!set.index) return ZEP_E_NO_MEMORY;
    set.index->memoryContext = ctx.memoryContext;
  }
  clear_index(*set.index);
  set.index->capacity = entry_capacity(set.video.header.length);
  set.index->odml = set.video.hasIndx;
  set.index->odmlIndexType = set.video.indx.indexType;
  return ZEP_OK;
}

void index_destroy(AviIndex*& index) {
  if (!index) return;
  void* mem = index->memoryContext;
  clear_index(*index);
  zep_mem_free(index, mem);
  index = nullptr;
}

bool index_is_cacheless(const AviContext& ctx, const AviMediaSet& set) {
  return ctx.cacheless && set.video.hasIndx && set.video.indx.indexType == 0;
}

ZEP_STATUS index_build(AviContext& ctx, AviMediaSet& set, int64_t targetTime) {
  AviIndex* ixp = set.index;
  if (!ixp) return ZEP_FAIL;
  AviIndex& ix = *ixp;
  if (!ix.usable) return ZEP_ERR_PROCESS_INDEX_FAILED;
  if (ix.built) return ZEP_OK;
  if (audio_format_bad(set)) return ZEP_ERR_AUDIO_FORMAT_BAD;
  if (set.video.hasIndx) {
    ix.odml = true;
    set.onTheFly = false;
    ZEP_STATUS status = build_odml(ctx, set, ix);
    if (status < 0) {
      ix.built = false;
      ix.usable = false;
    }
    return status;
  }
  if (!set.idx1Found || !set.videoCount) return ZEP_OK;
  WalkStop stop;
  if (set.onTheFly) stop.time = targetTime;
  ZEP_STATUS status = idx1_walk(ctx, set, ix, stop);
  if (status < 0) {
    ix.built = false;
    if (!set.onTheFly) ix.usable = false;
  }
  return status;
}

int index_key_flag(AviContext& ctx, AviMediaSet& set, uint32_t frame) {
  AviIndex* ixp = set.index;
  if (!ixp) return -1;
  AviIndex& ix = *ixp;
  auto known = [&]() -> int {
    if (ix.keyBits && frame < ix.keyCovered && frame / 8 < ix.keyBitsBytes)
      return (ix.keyBits[frame / 8] >> (frame % 8)) & 1;
    return -1;
  };
  int k = known();
  if (k >= 0 || ctx.minMemory || !ix.usable) return k;
  if (set.video.hasIndx) {
    if (index_is_cacheless(ctx, set)) {
      if (!ix.built && index_build(ctx, set, INT64_MAX) < 0) return -1;
      uint32_t kk = 0;
      uint64_t first = 0;
      if (!locate_super(set.video, frame, &kk, &first)) return -1;
      StdIndex std;
      if (load_std(ctx, set.video.super[kk].offset, &std) < 0) return -1;
      if (frame - first >= std.count) return -1;
      uint64_t pos;
      bool key;
      if (read_std_entry(ctx, std, uint32_t(frame - first), &pos, &key) < 0) return -1;
      return key ? 1 : 0;
    }
    if (!ix.built) index_build(ctx, set, INT64_MAX);
    return known();
  }
  if (set.idx1Found && !ix.idx1Failed && !ix.idx1Done) {
    if (!set.onTheFly) {
      index_build(ctx, set, INT64_MAX);
    } else {
      WalkStop stop;
      stop.frames = frame + 1;
      idx1_walk(ctx, set, ix, stop);
    }
  }
  return known();
}

bool index_needs_growth(const AviMediaSet& set, uint64_t position) {
  const AviIndex* ix = set.index;
  return set.onTheFly && ix && (!ix->anyIndexed || position > ix->highestIndexed);
}

ZEP_STATUS index_grow(AviContext& ctx, AviMediaSet& set, const ChunkHeader& chunk,
                      uint32_t blockType, uint32_t streamIndex, const uint8_t* data,
                      uint32_t dataSize, int* keyOut) {
  if (keyOut) *keyOut = -1;
  AviIndex* ixp = set.index;
  if (!ixp) return ZEP_OK;
  AviIndex& ix = *ixp;
  if (set.idx1Found && ix.usable && !ix.idx1Failed && !ix.idx1Done) {
    WalkStop stop;
    stop.position = chunk.position;
    idx1_walk(ctx, set, ix, stop);
    if (ix.anyIndexed && ix.highestIndexed >= chunk.position) return ZEP_OK;
  }
  ZEP_STATUS status = ensure_queues(ix);
  if (status < 0) return status;
  if (blockType == ZEP_BLOCK_AUDIO) {
    add_audio(set, ix, streamIndex, chunk.position, chunk.size);
  } else if (blockType == ZEP_BLOCK_SUBTITLE) {
    ix.queues[kMaxAudioStreams + streamIndex].push(chunk.position, 0);
  } else if (blockType == ZEP_BLOCK_VIDEO) {
    uint32_t f = ix.keyCovered;
    bool key = f == 0;
    if (!key) {
      VideoBitstream kind = video_bitstream(set.video.bitmap.compression, set.video.header.handler);
      if (data) {
        key = is_key_frame(kind, data, dataSize);
      } else {
        if (!ix.probe) {
          ix.probe =
              static_cast<AviProbeBuffer*>(zep_mem_alloc(sizeof(AviProbeBuffer), ix.memoryContext));
          if (!ix.probe) return ZEP_ERR_CREATE_READ_BUFFER;
        }
        uint32_t want = std::min(chunk.size, kKeyFrameProbeSize);
        uint32_t got = 0;
        status = ctx.file.read_at(chunk.data(), ix.probe->bytes, want, &got);
        if (status < 0) return status;
        key = is_key_frame(kind, ix.probe->bytes, got);
      }
    }
    record_frame(ctx, ix, key);
    if (key) add_key_entry(ctx, set, ix, chunk.position, f, set.currentSegment);
    if (keyOut) *keyOut = key ? 1 : 0;
  }
  note_position(ix, chunk.position);
  return ZEP_OK;
}

const AviKeyEntry* index_at_or_before(const AviIndex& ix, uint32_t frame) {
  if (!ix.entries || ix.count == 0) return nullptr;
  const AviKeyEntry* end = ix.entries + ix.count;
  const AviKeyEntry* it =
      std::upper_bound(static_cast<const AviKeyEntry*>(ix.entries), end, frame,
                       [](uint32_t f, const AviKeyEntry& e) { return f < e.frame; });
  return it == ix.entries ? nullptr : it - 1;
}

const AviKeyEntry* index_next_after(const AviIndex& ix, uint32_t frame) {
  if (!ix.entries || ix.count == 0) return nullptr;
  const AviKeyEntry* end = ix.entries + ix.count;
  const AviKeyEntry* it =
      std::upper_bound(static_cast<const AviKeyEntry*>(ix.entries), end, frame,
                       [](uint32_t f, const AviKeyEntry& e) { return f < e.frame; });
  return it == end ? nullptr : it;
}

const AviKeyEntry* index_last_before(const AviIndex& ix, uint32_t frame) {
  if (!ix.entries || ix.count == 0 || frame == 0) return nullptr;
  return index_at_or_before(ix, frame - 1);
}

ZEP_STATUS odml_find_sync(AviContext& ctx, AviMediaSet& set, uint32_t frame, bool forward,
                          uint32_t* foundFrame, uint64_t* position) {
  AviStream& v = set.video;
  ZEP_STATUS status = read_super(ctx, v);
  if (status < 0) return status;
  uint32_t k = 0;
  uint64_t first = 0;
  if (!locate_super(v, frame, &k, &first)) return ZEP_FAIL;
  StdIndex std;
  status = load_std(ctx, v.super[k].offset, &std);
  if (status < 0) return status;
  int64_t j = int64_t(frame) - int64_t(first) + (forward ? 1 : 0);
  while (true) {
    if (j < 0) {
      if (k == 0) return ZEP_FAIL;
      --k;
      first -= v.super[k].duration;
      status = load_std(ctx, v.super[k].offset, &std);
      if (status < 0) return status;
      j = int64_t(std.count) - 1;
      continue;
    }
    if (j >= int64_t(std.count)) {
      if (!forward) {
        j = int64_t(std.count) - 1;
        if (j < 0) return ZEP_FAIL;
        continue;
      }
      first += v.super[k].duration;
      if (++k >= v.superCount) return ZEP_FAIL;
      status = load_std(ctx, v.super[k].offset, &std);
      if (status < 0) return status;
      j = 0;
      continue;
    }
    uint64_t pos;
    bool key;
    status = read_std_entry(ctx, std, uint32_t(j), &pos, &key);
    if (status < 0) return status;
    if (key) {
      *foundFrame = uint32_t(first + uint64_t(j));
      *position = pos;
      return ZEP_OK;
    }
    j += forward ? 1 : -1;
  }
}

ZEP_STATUS odml_find_audio(AviContext& ctx, AviMediaSet& set, uint32_t s, int64_t time,
                           uint64_t* position, int64_t* chunkTime) {
  AviStream& a = set.audio[s];
  ZEP_STATUS status = read_super(ctx, a);
  if (status < 0) return status;
  StdCursor cursor(ctx, a);
  uint64_t blocks = 0, bytes = 0, pos = 0;
  uint32_t size = 0;
  bool key = false, have = false;
  while (cursor.next(&pos, &size, &key)) {
    int64_t start = 0, duration = 0;
    audio_chunk_time(a.timing, blocks, bytes, size, &start, &duration);
    ++blocks;
    bytes += size;
    *position = pos;
    *chunkTime = start;
    have = true;
    if (start + duration > time) break;
  }
  if (cursor.status() < 0) return cursor.status();
  return have ? ZEP_OK : ZEP_FAIL;
}

ZEP_STATUS segment_movi(const AviMediaSet& set, uint32_t k, uint64_t* position, uint32_t* size) {
  if (k == 0) {
    *position = set.moviPosition;
    *size = set.moviSize;
    return ZEP_OK;
  }
  if (k > set.segmentCount) return ZEP_ERR_END_OF_STREAM;
  *position = set.segments[k - 1].moviPosition;
  *size = set.segments[k - 1].moviSize;
  return ZEP_OK;
}

uint32_t segment_of(const AviMediaSet& set, uint64_t position) {
  for (uint32_t k = set.segmentCount; k >= 1; --k) {
    const AviSegment& s = set.segments[k - 1];
    if (s.moviPosition && s.moviPosition <= position) return k;
  }
  return 0;
}

}  // namespace avi
