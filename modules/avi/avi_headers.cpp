#include "modules/avi/avi_headers.h"

#include <cstring>

#include "layer1/zep_damage.h"
#include "modules/avi/avi_index.h"
#include "modules/avi/avi_reader.h"
#include "modules/avi/avi_timing.h"

namespace avi {

namespace {

// The longest strn text kept: its length plus terminator must fit 16 bits.
constexpr uint32_t kMaxNameSize = 0xFFFE;

void free_stream(AviStream& s, void* mem) {
  if (s.name) zep_mem_free(s.name, mem);
  if (s.super) zep_mem_free(s.super, mem);
  s = AviStream{};
}

void parse_stream_header(const uint8_t* raw, AviStreamHeader* h) {
  LeReader r(raw + 8, 56);
  h->type = r.u32();
  h->handler = r.u32();
  h->flags = r.u32();
  h->priority = r.u16();
  h->language = r.u16();
  h->initialFrames = r.u32();
  h->scale = r.u32();
  h->rate = r.u32();
  h->start = r.u32();
  h->length = r.u32();
  h->suggestedBufferSize = r.u32();
  h->quality = r.u32();
  h->sampleSize = r.u32();
  for (auto& v : h->frame) v = r.i16();
}

void parse_bitmap(const uint8_t* raw, AviBitmapInfo* b) {
  LeReader r(raw, 40);
  b->size = r.u32();
  b->width = r.i32();
  b->height = r.i32();
  b->planes = r.u16();
  b->bitCount = r.u16();
  b->compression = r.u32();
  b->sizeImage = r.u32();
  b->xPelsPerMeter = r.i32();
  b->yPelsPerMeter = r.i32();
  b->clrUsed = r.u32();
  b->clrImportant = r.u32();
}

ZEP_STATUS read_odml_header(FileView& file, uint64_t pos, AviOdmlIndexHeader* h) {
  uint8_t raw[32];
  ZEP_STATUS status = file.read_exact(pos, raw, sizeof raw);
  if (status < 0) return status;
  LeReader r(raw, sizeof raw);
  h->id = r.u32();
  h->size = r.u32();
  h->longsPerEntry = r.u16();
  h->subType = r.u8();
  h->indexType = r.u8();
  h->entriesInUse = r.u32();
  h->chunkId = r.u32();
  h->baseOffset = r.u64();
  h->reserved = r.u32();
  return ZEP_OK;
}

// The strh of a strl, held until its strf decides what the stream is.
struct PendingStream {
  enum Kind { kNone, kVideo, kAudio, kIgnored } kind = kNone;
  bool haveStrh = false;
  bool haveStrf = false;
  uint8_t strhRaw[64] = {};
  AviStream* target = nullptr;  // the accepted stream once known
  char* name = nullptr;
  uint16_t nameLength = 0;
  bool haveIndx = false;
  uint64_t indxPosition = 0;
  AviOdmlIndexHeader indx{};
};

ZEP_STATUS read_strh(FileView& file, const ChunkHeader& c, uint64_t parentEnd, uint8_t* raw) {
  std::memset(raw, 0, 64);
  uint32_t data = clamp_size(c, parentEnd, file.size);
  uint32_t want = 8 + (data < 56 ? data : 56);
  return file.read_exact(c.position, raw, want) < 0 ? ZEP_ERR_FILE_CORRUPT : ZEP_OK;
}

ZEP_STATUS parse_strl(AviContext& ctx, AviMediaSet& set, const ChunkHeader& strl,
                      uint32_t streamNumber) {
  if (strl.size == 4) return ZEP_ERR_STRH_NOT_FOUND;
  FileView& file = ctx.file;
  PendingStream p;
  ChildWalker walk(file, strl.position + 12, strl.end());
  ChunkHeader c;
  ZEP_STATUS result = ZEP_OK;
  auto drop_name = [&] {
    if (p.name) zep_mem_free(p.name, ctx.memoryContext);
    p.name = nullptr;
  };
  while (walk.next(&c)) {
    if (c.id == kStrh) {
      uint8_t raw[64];
      ZEP_STATUS s = read_strh(file, c, strl.end(), raw);
      if (s < 0) {
        result = s;
        break;
      }
      FourCC type = le32_at(raw + 8);
      if (type != kVids && type != kAuds) {
        // A stream of a kind this module does not deliver (text, MIDI ...):
        // the whole strl is passed over, the stream number still counts.
        if (!p.haveStrh) p.kind = PendingStream::kIgnored;
        continue;
      }
      if (p.haveStrh) {
        result = ZEP_ERR_DUPLICATE_STRH_FOUND;
        break;
      }
      p.haveStrh = true;
      std::memcpy(p.strhRaw, raw, 64);
      if (type == kVids) {
        p.kind = PendingStream::kVideo;
      } else {
        p.kind = PendingStream::kAudio;
        ++set.audioPresent;
        if (set.audioCount < kMaxAudioStreams) {
          AviStream& a = set.audio[set.audioCount++];
          a.present = true;
          a.blockType = ZEP_BLOCK_AUDIO;
          a.streamNumber = streamNumber;
          std::memcpy(a.headerRaw, raw, 64);
          parse_stream_header(raw, &a.header);
          p.target = &a;
        }
      }
    } else if (c.id == kStrf) {
      if (p.kind == PendingStream::kIgnored) continue;
      if (!p.haveStrh) {
        result = ZEP_ERR_STRH_NOT_FOUND;
        break;
      }
      if (p.haveStrf) {
        result = ZEP_ERR_DUPLICATE_STRF_FOUND;
        break;
      }
      p.haveStrf = true;
      uint32_t data = clamp_size(c, strl.end(), file.size);
      if (p.kind == PendingStream::kAudio) {
        if (!p.target) continue;
        uint8_t raw[18 + 22] = {};
        uint32_t want = data < sizeof raw ? data : uint32_t(sizeof raw);
        if (want < 16 || file.read_exact(c.data(), raw, want) < 0) {
          result = ZEP_ERR_FILE_CORRUPT;
          break;
        }
        AviWaveFormat& w = p.target->wave;
        LeReader r(raw, want);
        w.formatTag = r.u16();
        w.channels = r.u16();
        w.samplesPerSec = r.u32();
        w.avgBytesPerSec = r.u32();
        w.blockAlign = r.u16();
        w.bitsPerSample = r.u16();
        if (want >= 18) {
          w.cbSize = r.u16();
          if (w.cbSize >= 1 && w.cbSize <= 22) {
            uint32_t have = want - 18;
            w.extraStored = uint16_t(have < w.cbSize ? have : w.cbSize);
            r.bytes(w.extra, w.extraStored);
          }
        }
      } else {
        uint8_t raw[40] = {};
        if (file.read_exact(c.data(), raw, data < 40 ? data : 40) < 0 || data < 16) {
          result = ZEP_ERR_FILE_CORRUPT;
          break;
        }
        AviBitmapInfo bmp;
        parse_bitmap(raw, &bmp);
        AviStream* s = nullptr;
        if (bmp.compression == kNRSB || bmp.compression == kNRSA) {
          ++set.subtitlePresent;
          if (set.subtitleCount < kMaxSubtitleStreams) {
            s = &set.subtitle[set.subtitleCount++];
            s->blockType = ZEP_BLOCK_SUBTITLE;
          }
        } else {
          ++set.videoPresent;
          if (set.videoCount == 0) {
            s = &set.video;
            set.videoCount = 1;
            s->blockType = ZEP_BLOCK_VIDEO;
          }
        }
        if (s) {
          s->present = true;
          s->streamNumber = streamNumber;
          std::memcpy(s->headerRaw, p.strhRaw, 64);
          parse_stream_header(p.strhRaw, &s->header);
          s->bitmap = bmp;
          p.target = s;
        }
      }
    } else if (c.id == kStrn) {
      uint32_t size = clamp_size(c, strl.end(), file.size);
      if (size > kMaxNameSize) size = kMaxNameSize;
      drop_name();
      p.name = static_cast<char*>(zep_mem_alloc(size + 1, ctx.memoryContext));
      if (!p.name) {
        result = ZEP_E_NO_MEMORY;
        break;
      }
      if (size && file.read_exact(c.data(), p.name, size) < 0) {
        result = ZEP_ERR_FILE_CORRUPT;
        break;
      }
      p.name[size] = 0;
      p.nameLength = uint16_t(size + 1);
    } else if (c.id == kIndx) {
      if (p.kind == PendingStream::kIgnored) continue;
      if (!p.haveStrh) {
        result = ZEP_FAIL;
        break;
      }
      AviOdmlIndexHeader h;
      if (read_odml_header(file, c.position, &h) < 0) continue;  // a cut indx is no index
      p.haveIndx = true;
      p.indxPosition = c.position;
      p.indx = h;
    }
  }
  if (result >= 0 && walk.status() < 0) result = ZEP_ERR_FILE_CORRUPT;
  if (result >= 0 && p.kind != PendingStream::kIgnored) {
    if (!p.haveStrh)
      result = ZEP_ERR_STRH_NOT_FOUND;
    else if (!p.haveStrf)
      result = ZEP_ERR_STRF_NOT_FOUND_UNNAMED;
  }
  if (p.target) {
    if (p.name) {
      p.target->name = p.name;
      p.target->nameLength = p.nameLength;
      p.name = nullptr;
    }
    if (p.haveIndx) {
      p.target->hasIndx = true;
      p.target->indxPosition = p.indxPosition;
      p.target->indx = p.indx;
      set.indexPresent = true;
    }
  }
  drop_name();
  return result;
}

ZEP_STATUS parse_hdrl(AviContext& ctx, AviMediaSet& set, const ChunkHeader& hdrl) {
  ChildWalker walk(ctx.file, hdrl.position + 12, hdrl.end());
  ChunkHeader c;
  uint32_t strlCount = 0;
  while (walk.next(&c)) {
    if (c.id == kAvih) {
      uint8_t raw[56] = {};
      uint32_t data = clamp_size(c, hdrl.end(), ctx.file.size);
      if (ctx.file.read_exact(c.data(), raw, data < 56 ? data : 56) < 0)
        return ZEP_ERR_FILE_CORRUPT;
      LeReader r(raw, 56);
      AviMainHeader& m = set.mainHeader;
      m.microSecPerFrame = r.u32();
      m.maxBytesPerSec = r.u32();
      m.paddingGranularity = r.u32();
      m.flags = r.u32();
      m.totalFrames = r.u32();
      m.initialFrames = r.u32();
      m.streams = r.u32();
      m.suggestedBufferSize = r.u32();
      m.width = r.u32();
      m.height = r.u32();
    } else if (c.is_list(kStrl)) {
      ZEP_STATUS s = parse_strl(ctx, set, c, strlCount++);
      if (s < 0) return s;
    }
  }
  if (walk.status() < 0) return ZEP_ERR_FILE_CORRUPT;
  if (strlCount == 0) return ZEP_ERR_STRL_NOT_FOUND;
  return ZEP_OK;
}

bool plausible_fourcc(const uint8_t* p) {
  for (int i = 0; i < 4; ++i)
    if (p[i] < 0x20 || p[i] > 0x7E) return false;
  return true;
}

// INFO texts. Sub-chunks follow each other with the RIFF pad byte after an odd
// size; writers that leave it out are followed as well when the unpadded
// position holds a chunk id.
void parse_info(AviHandle* handle, const ChunkHeader& info) {
  FileView& file = handle->context->file;
  uint64_t pos = info.position + 12;
  uint64_t end = info.end();
  while (pos < end && end - pos >= 8) {
    ChunkHeader c;
    if (read_header(file, pos, &c) < 0) return;
    char* target = nullptr;
    if (c.id == kISFT)
      target = handle->softwareText;
    else if (c.id == kINFV)
      target = handle->formatVersionText;
    else if (c.id == kINPN)
      target = handle->profileNameText;
    if (target && c.size < kInfoTextSize && c.end() <= file.size) {
      char text[kInfoTextSize];
      if (file.read_exact(c.data(), text, c.size) == ZEP_OK) {
        std::memcpy(target, text, c.size);
        target[c.size] = 0;
      }
    }
    uint64_t next = c.end();
    if (c.size & 1u) {
      uint8_t id[4];
      if (!(next + 8 <= end && file.read_exact(next, id, 4) == ZEP_OK && plausible_fourcc(id)))
        ++next;
    }
    pos = next;
  }
}

// First LIST movi among the children of an AVIX RIFF.
bool find_segment_movi(FileView& file, const ChunkHeader& riff, AviSegment* seg) {
  ChildWalker walk(file, riff.position + 12, riff.end());
  ChunkHeader c;
  int guard = 0;
  while (walk.next(&c) && ++guard < 64) {
    if (c.is_list(kMovi)) {
      seg->moviPosition = c.position;
      seg->moviSize = c.size;
      return true;
    }
  }
  return false;
}

void walk_segments(AviContext& ctx, AviMediaSet& set, uint64_t pos) {
  set.segmentCount = 0;
  ChunkHeader h;
  if (read_header(ctx.file, pos, &h) < 0) return;
  while (is_riff_id(h.id) && h.hasForm && h.form == kAVIX) {
    if (set.segmentCount >= kMaxSegments) break;
    AviSegment& seg = set.segments[set.segmentCount++];
    seg = AviSegment{};
    seg.riffPosition = h.position;
    find_segment_movi(ctx.file, h, &seg);
    ChunkHeader n;
    if (read_header(ctx.file, h.next(), &n) < 0) break;
    // A cut file may hand back the same header again: the end.
    if (n.id == h.id && n.size == h.size && n.form == h.form && n.position == h.position) break;
    h = n;
  }
}

void read_cover(AviContext& ctx, AviMediaSet& set, uint64_t pos) {
  ChunkHeader meta, nrrl, dpic;
  if (read_header(ctx.file, pos, &meta) < 0 || meta.id != kRIFF || meta.form != kMETA) return;
  if (read_header(ctx.file, pos + 12, &nrrl) < 0 || !nrrl.is_list(kNRRL)) return;
  if (read_header(ctx.file, pos + 24, &dpic) < 0 || dpic.id != kDpic) return;
  uint32_t size = clamp_size(dpic, dpic.end(), ctx.file.size);
  if (size == 0) return;
  auto* cover = static_cast<uint8_t*>(zep_mem_alloc(size, ctx.memoryContext));
  if (!cover) return;
  if (ctx.file.read_exact(pos + 32, cover, size) < 0) {
    zep_mem_free(cover, ctx.memoryContext);
    return;
  }
  set.cover = cover;
  set.coverSize = size;
}

void init_state(AviStreamState& st, uint32_t number) {
  st = AviStreamState{};
  st.nextPosition = kNoPosition;
  st.seekPosition = kNoPosition;
  st.streamNumber = number;
}

}  // namespace

void reset_stream_states(AviMediaSet& set) {
  init_state(set.video.state, set.video.streamNumber);
  for (auto& a : set.audio) init_state(a.state, a.streamNumber);
  for (auto& s : set.subtitle) init_state(s.state, s.streamNumber);
  set.readPosition = 0;
  set.currentSegment = 0;
}

void release_media_set(AviMediaSet& set, void* mem) {
  free_stream(set.video, mem);
  for (auto& a : set.audio) free_stream(a, mem);
  for (auto& s : set.subtitle) free_stream(s, mem);
  if (set.cover) zep_mem_free(set.cover, mem);
  set.cover = nullptr;
  set.coverSize = 0;
  index_destroy(set.index);
}

AviStream* find_stream(AviMediaSet& set, uint32_t blockType, uint32_t index) {
  switch (blockType) {
    case ZEP_BLOCK_VIDEO:
      return index == 0 && set.videoCount ? &set.video : nullptr;
    case ZEP_BLOCK_AUDIO:
      return index < set.audioCount ? &set.audio[index] : nullptr;
    case ZEP_BLOCK_SUBTITLE:
      return index < set.subtitleCount ? &set.subtitle[index] : nullptr;
    default:
      return nullptr;
  }
}

AviStream* stream_by_number(AviMediaSet& set, uint32_t blockType, uint32_t number,
                            uint32_t* index) {
  *index = 0;
  if (blockType == ZEP_BLOCK_VIDEO) {
    return set.videoCount && set.video.streamNumber == number ? &set.video : nullptr;
  }
  if (blockType == ZEP_BLOCK_AUDIO) {
    for (uint32_t i = 0; i < set.audioCount; ++i)
      if (set.audio[i].streamNumber == number) return *index = i, &set.audio[i];
  } else if (blockType == ZEP_BLOCK_SUBTITLE) {
    for (uint32_t i = 0; i < set.subtitleCount; ++i)
      if (set.subtitle[i].streamNumber == number) return *index = i, &set.subtitle[i];
  }
  return nullptr;
}

ZEP_STATUS scan_top_level(AviHandle* handle) {
  AviContext& ctx = *handle->context;
  ChunkHeader first;
  if (read_header(ctx.file, 0, &first) < 0) return ZEP_ERR_FILE_CORRUPT;
  if (first.id != kRIFF || first.form != kAVI) return ZEP_ERR_INVALID_FILE;
  // Pass over the AVIX segments of the first title; what follows may be the
  // menu section.
  uint64_t pos = first.next();
  ChunkHeader h;
  uint32_t guard = 0;
  bool haveHeader = read_header(ctx.file, pos, &h) == ZEP_OK;
  while (haveHeader && h.id == kRIFF && h.form == kAVIX && ++guard < 100000) {
    pos = h.next();
    haveHeader = read_header(ctx.file, pos, &h) == ZEP_OK;
  }
  ctx.titles.titleCount = 1;
  ctx.titlePositions[0] = 0;
  if (haveHeader && h.id == kRIFF && h.form == kMENU) {
    ctx.menuPosition = pos;
    uint32_t titles = 0, media = 0;
    AviMenuReader* reader = nullptr;
    ZEP_STATUS s = AviMenuOpenSection(ctx.file.file, pos, ctx.menuBuffer, ctx.userValueA,
                                      ctx.userValueB, &reader, ctx.titlePositions, kMaxTitles,
                                      &titles, ctx.menuMediaPositions, kMaxMenuMedia, &media);
    ctx.menu = reader;
    if (s < 0) return s;
    if (reader) {
      ctx.titles.titleCount = titles;
      ctx.menuMediaCount = media;
      ctx.menuMedia.titleCount = media;
    } else {
      ctx.titles.titleCount = 1;
      ctx.titlePositions[0] = 0;
    }
    return s;
  }
  return ZEP_OK;
}

ZEP_STATUS parse_title(AviHandle* handle, AviMediaSet& set, uint64_t position, uint16_t title) {
  AviContext& ctx = *handle->context;
  void* mem = ctx.memoryContext;
  // Forget the previous title but keep the media set's identity.
  AviIndex* index = set.index;
  set.index = nullptr;
  {
    bool isMenu = set.isMenu;
    uint32_t count = set.titleCount;
    uint64_t* offsets = set.offsets;
    release_media_set(set, mem);
    set = AviMediaSet{};
    set.isMenu = isMenu;
    set.titleCount = count;
    set.offsets = offsets;
  }
  set.index = index;
  set.currentTitle = kNoTitle;
  set.onTheFly = !set.isMenu && ctx.menuPosition == kNoPosition;
  reset_stream_states(set);

  ChunkHeader riff;
  if (read_header(ctx.file, position, &riff) < 0) return ZEP_ERR_FILE_CORRUPT;
  set.titlePosition = position;
  uint64_t end = riff.end();
  set.titleEnd = end;
  if (end > ctx.file.size) {
    char id[5];
    zep_report_damage(ctx.file.size, "The file ends inside the RIFF '%s' list (%llu bytes short)",
                      fourcc_text(riff.form, id),
                      static_cast<unsigned long long>(end - ctx.file.size));
  }
  ZEP_STATUS status = ZEP_OK;
  if (uint64_t(riff.size) + 8 >= 13) {
    ChildWalker walk(ctx.file, position + 12, end);
    ChunkHeader c;
    while (walk.next(&c)) {
      if (c.is_list(kHdrl)) {
        status = parse_hdrl(ctx, set, c);
        if (status < 0) return status;
        set.hdrlFound = true;
        set.currentTitle = title;
      } else if (c.is_list(kMovi)) {
        if (!set.moviFound) {
          set.moviFound = true;
          set.moviPosition = c.position;
          set.moviSize = c.size;
        }
      } else if (c.id == kIdx1 || c.id == k1idx) {
        set.indexPresent = true;
        set.idx1Found = true;
        set.idx1Position = c.position;
        clamp_size(c, c.end(), ctx.file.size);  // says so when the file ends inside the index
        break;
      } else if (c.is_list(kINFO)) {
        parse_info(handle, c);
      }
    }
    if (walk.status() == ZEP_ERR_KILL) return ZEP_ERR_KILL;
  }
  ChunkHeader after;
  if (read_header(ctx.file, end, &after) == ZEP_OK && is_riff_id(after.id) && after.hasForm &&
      after.form == kAVIX) {
    walk_segments(ctx, set, end);
    set.onTheFly = false;
  } else {
    set.segmentCount = 0;
    read_cover(ctx, set, end);
  }
  if (set.video.present) setup_timing(set.video);
  for (uint32_t i = 0; i < set.audioCount; ++i) setup_timing(set.audio[i]);
  for (uint32_t i = 0; i < set.subtitleCount; ++i) setup_timing(set.subtitle[i]);
  reset_stream_states(set);
  ZEP_STATUS s = index_prepare(ctx, set);
  if (s < 0) return s;
  if (!set.hdrlFound) return ZEP_ERR_HDRL_NOT_FOUND;
  if (!set.moviFound) return ZEP_ERR_MOVI_NOT_FOUND;
  if (!set.indexPresent) return ZEP_ERR_NO_INDEX_FOUND;
  return status;
}

}  // namespace avi
