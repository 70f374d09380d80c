// Block delivery: the Clusters of the current Segment read element by
// element from a read position (one shared by ReadNextBlock, one per stream
// for ReadNextBlockByStream). Headers of unwanted blocks are read and their
// data passed over; the data of a wanted block are read once, straight into
// the caller's buffer behind any prefix.
#include "modules/mkv/mkv_blocks.h"

#include <zlib.h>

#include <algorithm>

#include "layer1/zep_damage.h"
#include "modules/h264/h264_bitstream.h"
#include "modules/mkv/ebml_ids.h"
#include "modules/mkv/mkv_codecs.h"
#include "modules/mkv/mkv_lacing.h"
#include "modules/mkv/mkv_metadata.h"

namespace mkv {

namespace {

// The most a frame may inflate to: the host's block buffer limit.
constexpr uint64_t kMaxInflated = 0xA00000;
constexpr ZEP_STATUS kFrameFailed = -8;

// Where a read goes on from: the shared position or a stream's own.
struct Cursor {
  uint64_t& position;
  int64_t& clusterTime;
};

// The BlockGroup being read.
struct GroupState {
  bool inGroup = false;
  bool hasReference = false;
  bool hasDuration = false;
  int64_t duration = 0;
  uint64_t end = 0;
};

uint64_t segment_end(const MkvContainer& c) {
  return std::min(c.seg.place.dataPos + c.seg.place.size, c.source.length());
}

MkvLaceQueue& lace_of(MkvTrack& t) {
  if (!t.lace) t.lace = std::make_unique<MkvLaceQueue>();
  return *t.lace;
}

int64_t default_duration_units(MkvContainer& c, const MkvTrack& t) {
  if (t.kind == kKindSubtitle) {
    // Text tracks rarely carry a DefaultDuration: take the video's.
    const MkvTrack* v = c.track(kKindVideo, t.streamIndex);
    if (!v || v->defaultDuration == 0) v = c.track(kKindVideo, 0);
    return v ? int64_t(v->defaultDuration / 100) : 0;
  }
  return int64_t(t.defaultDuration / 100);
}

// Block time in 100 ns units. Ticks are computed in double precision, so
// the result stays exact long after single precision would have lost it.
int64_t block_time(MkvContainer& c, const MkvTrack& t, int64_t ticks) {
  const int64_t whole = to_int64(double(ticks) * t.timecodeScale);
  int64_t time = c.ticks_to_time(whole);
  if (ordered_playlist_active(c.seg)) {
    const double ns = double(whole) * double(c.seg.timecodeScale);
    if (const MkvChapter* ch = playlist_chapter_at(c.seg, ns > 0 ? uint64_t(ns) : 0))
      time = add_sat(time, ch->playlistOffset / 100);
  }
  return time;
}

bool zlib_header_ok(const uint8_t* p, uint32_t size) {
  if (size < 2) return false;
  const uint16_t h = uint16_t(p[0] << 8 | p[1]);
  return h == 0x78DA || h == 0x789C || h == 0x785E;
}

// Inflates the frame at data[offset, offset + size) in place, growing the
// buffer as needed; output beyond kMaxInflated fails the frame.
ZEP_STATUS inflate_frame(ZepBlock* block, uint32_t offset, uint32_t size) {
  if (!zlib_header_ok(block->data + offset, size)) return kFrameFailed;
  std::vector<uint8_t> out;
  z_stream z{};
  if (inflateInit(&z) != Z_OK) return kFrameFailed;
  uint8_t piece[32768];
  z.next_in = block->data + offset;
  z.avail_in = size;
  int rc = Z_OK;
  while (rc != Z_STREAM_END) {
    z.next_out = piece;
    z.avail_out = sizeof piece;
    rc = inflate(&z, Z_SYNC_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END) break;
    out.insert(out.end(), piece, piece + (sizeof piece - z.avail_out));
    if (out.size() > kMaxInflated) break;
    if (rc == Z_OK && z.avail_in == 0 && z.avail_out != 0) break;  // input ended
  }
  inflateEnd(&z);
  if (rc != Z_STREAM_END || out.size() > kMaxInflated) return kFrameFailed;
  const uint64_t total = uint64_t(offset) + out.size();
  if (total > block->capacity) {
    // The buffer's contents are not kept when it grows: the prefix in front
    // of the frame is saved first.
    std::vector<uint8_t> prefix(block->data, block->data + offset);
    if (zep_block_ensure_capacity(block, uint32_t(total)) < 0) return kFrameFailed;
    if (!prefix.empty()) std::memcpy(block->data, prefix.data(), prefix.size());
  }
  if (!out.empty()) std::memcpy(block->data + offset, out.data(), out.size());
  block->size = uint32_t(total);
  return ZEP_OK;
}

// Reads one frame at the source's position into the block: header-stripping
// bytes first, then the frame behind whatever the block already holds.
ZEP_STATUS read_frame(MkvContainer& c, const MkvTrack& t, uint64_t frameSize, ZepBlock* block) {
  const uint32_t kept = block->fillCount;
  const std::vector<uint8_t>& strip = t.compressionSettings;
  const uint64_t prefix = kept + (t.compression == kCompressionHeaderStrip ? strip.size() : 0);
  const uint64_t needed = prefix + frameSize;
  if (needed > kMaxInflated * 4) return kFrameFailed;
  if (!block->data && !block->EnsureBlockCapacity) return ZEP_ERR_BLOCK_BUFFER_NULL;
  if (needed > block->capacity || !block->data) {
    std::vector<uint8_t> saved(block->data, block->data + (block->data ? kept : 0));
    ZEP_STATUS status = zep_block_ensure_capacity(block, uint32_t(std::max<uint64_t>(needed, 1)));
    if (status < 0 || !block->data) return ZEP_ERR_BLOCK_BUFFER_NULL;
    if (kept) std::memcpy(block->data, saved.data(), kept);
  }
  if (t.compression == kCompressionHeaderStrip && !strip.empty())
    std::memcpy(block->data + kept, strip.data(), strip.size());
  uint64_t got = 0;
  ZEP_STATUS status = c.source.read(block->data + prefix, frameSize, &got);
  if (status < 0) return status;
  if (got != frameSize) return ZEP_ERR_END_OF_STREAM;
  block->size = uint32_t(needed);
  if (t.compression == kCompressionZlib) return inflate_frame(block, kept, uint32_t(frameSize));
  if ((t.compression == kCompressionBzlib || t.compression == kCompressionLzo) && frameSize > 0)
    return kFrameFailed;
  return ZEP_OK;
}

// Whether an AVC block (4-byte length-prefixed NAL units) holds a field.
bool is_first_field(const MkvTrack& t, const uint8_t* data, uint32_t size) {
  uint32_t at = 0;
  while (at + 5 <= size) {
    const uint32_t len = uint32_t(data[at]) << 24 | uint32_t(data[at + 1]) << 16 |
                         uint32_t(data[at + 2]) << 8 | data[at + 3];
    at += 4;
    if (len == 0 || len > size - at) return false;
    const uint8_t type = data[at] & 0x1F;
    if (type == 1 || type == 5) {
      ZepBitReader bits;
      zep_bit_reader_init(&bits, data + at + 1, len - 1);
      zep_bit_reader_ue(&bits);  // first_mb_in_slice
      zep_bit_reader_ue(&bits);  // slice_type
      zep_bit_reader_ue(&bits);  // pic_parameter_set_id
      zep_bit_reader_u(&bits, t.video.sliceHeaderBits);
      return zep_bit_reader_u(&bits, 1) == 1;
    }
    at += len;
  }
  return false;
}

struct Delivery {
  MkvTrack* track = nullptr;
};

// Passes over the rest of the element at `next`; false at the Segment's end.
bool advance(MkvContainer& c, Cursor& cur, uint64_t next) {
  if (next <= cur.position) return false;
  cur.position = next;
  return next < segment_end(c);
}

// Delivers the next frame of a laced block in hand.
ZEP_STATUS next_laced_frame(MkvContainer& c, MkvTrack& t, ZepBlock* block) {
  MkvLaceQueue& q = lace_of(t);
  const uint64_t size = q.frameSizes[q.nextFrame];
  if (c.source.seek(q.framePosition) < 0) return ZEP_ERR_END_OF_STREAM;
  block->fillCount = 0;
  ZEP_STATUS status = read_frame(c, t, size, block);
  block->time = add_sat(q.baseTime, mul_sat(int64_t(q.nextFrame), q.frameDuration));
  block->duration = q.frameDuration;
  block->flags = q.flags;
  block->kind = t.kind;
  q.framePosition += size;
  if (++q.nextFrame >= q.frameSizes.size()) {
    q.state = 2;
    if (c.read.laceOwner == &t) c.read.laceOwner = nullptr;
  }
  return status;
}

// The block loop. `only` names the one track wanted (by-stream reads and
// the second field of a pair), or null for every active track.
ZEP_STATUS read_loop(MkvContainer& c, Cursor cur, MkvTrack* only, ZepBlock* block,
                     MkvTrack** delivered, uint64_t* deliveredAt) {
  GroupState group;
  const uint64_t segEnd = segment_end(c);
  if (cur.position == 0) {
    if (!c.seg.hasFirstCluster) return ZEP_ERR_END_OF_STREAM;
    cur.position = c.seg.firstClusterPos;
    cur.clusterTime = 0;
  }
  for (;;) {
    if (cur.position >= segEnd) return ZEP_ERR_END_OF_STREAM;
    const uint64_t elementPos = cur.position;
    if (c.source.seek(elementPos) < 0) return ZEP_ERR_END_OF_STREAM;
    uint32_t elementId = 0;
    uint64_t size = 0;
    uint32_t headerLength = 0;
    if (ReadElementHeader(c.source, &elementId, &size, &headerLength) < 0) {
      zep_report_damage(elementPos,
                        elementPos + 12 > c.source.length()
                            ? "The file ends inside an element header"
                            : "Unreadable element header; the Segment's blocks end here");
      return ZEP_ERR_END_OF_STREAM;
    }
    const uint64_t dataPos = elementPos + headerLength;
    // A block cut off by the end of the file is not delivered in part.
    if ((elementId == id::kSimpleBlock || elementId == id::kBlock) &&
        size > c.source.length() - std::min(c.source.length(), dataPos)) {
      zep_report_damage(elementPos, "The file ends inside a block (%llu of %llu bytes there)",
                        static_cast<unsigned long long>(c.source.length() - dataPos),
                        static_cast<unsigned long long>(size));
      return ZEP_ERR_END_OF_STREAM;
    }
    // An element never reaches past the Segment (unknown sizes included).
    size = std::min(size, segEnd > dataPos ? segEnd - dataPos : 0);
    const uint64_t next = dataPos + size;
    if (group.inGroup && elementPos >= group.end) group = GroupState{};
    switch (elementId) {
      case id::kCluster:
        group = GroupState{};
        cur.position = dataPos;
        continue;
      case id::kBlockGroup:
        group = GroupState{};
        group.inGroup = true;
        group.end = next;
        c.read.lastBlockGroupPos = elementPos;
        cur.position = dataPos;
        continue;
      case id::kPrevRefFrame:
        cur.position = dataPos;
        continue;
      case id::kTimecode: {
        uint64_t v = 0;
        if (ReadUInt(c.source, size, &v) >= 0) cur.clusterTime = int64_t(v & INT64_MAX);
        break;
      }
      case id::kBlockDuration: {
        int64_t v = 0;
        if (ReadSInt(c.source, size, &v) >= 0) {
          group.duration = c.ticks_to_time(v);
          group.hasDuration = true;
        }
        break;
      }
      case id::kReferenceBlock:
        group.hasReference = true;
        break;
      case id::kPrevRefFrameOffset: {
        uint64_t v = 0;
        if (ReadUInt(c.source, size, &v) >= 0) {
          c.read.prevRefPresent = true;
          c.read.prevRefOffset = c.read.lastBlockGroupPos >= v && c.read.lastBlockGroupPos
                                     ? c.read.lastBlockGroupPos - v
                                     : 0;
        }
        break;
      }
      case id::kPrevRefFrameTimecode: {
        uint64_t v = 0;
        if (ReadUInt(c.source, size, &v) >= 0)
          c.read.prevRefTime = c.ticks_to_time(int64_t(v & INT64_MAX));
        break;
      }
      case id::kBlock:
      case id::kSimpleBlock: {
        BlockHead head;
        if (!read_block_head(c.source, &head) || head.bytes > size) break;
        const uint64_t headerBytes = head.bytes;
        const uint64_t number = head.track;
        MkvTrack* t = number ? c.track_by_number(number) : nullptr;
        const bool wanted = t && (only ? t == only : t->active) && t->joinedBlockAt != elementPos;
        if (t && t->joinedBlockAt == elementPos) t->joinedBlockAt = 0;
        if (!wanted) break;
        const int16_t relative = head.relative;
        const uint8_t flags = head.flags;
        const int64_t time = block_time(c, *t, add_sat(cur.clusterTime, relative));
        bool key = t->kind != kKindVideo ||
                   (elementId == id::kSimpleBlock ? (flags & 0x80) != 0 : !group.hasReference);
        const uint32_t lacing = flags & 0x06;
        uint64_t payload = size - headerBytes;
        std::vector<uint64_t> sizes;
        uint64_t laceHeader = 0;
        if (lacing != kLacingNone &&
            read_lace_sizes(c.source, lacing, payload, &sizes, &laceHeader) < 0) {
          // A damaged lace header: the block is passed over.
          zep_report_damage(elementPos,
                            "A block of track %llu is passed over: its lace header is damaged",
                            static_cast<unsigned long long>(number));
          break;
        }
        int64_t duration = group.hasDuration && !(lacing && t->kind == kKindAudio)
                               ? group.duration
                               : default_duration_units(c, *t);
        // BlockDuration and ReferenceBlock that follow the Block in its group.
        if (elementId == id::kBlock) {
          uint64_t at = next;
          while (at < group.end && c.source.seek(at) >= 0) {
            uint32_t sid = 0;
            uint64_t ssize = 0, sdata = 0;
            if (ReadElementHeader(c.source, &sid, &ssize) < 0) break;
            sdata = c.source.tell();
            if (sid == id::kReferenceBlock) {
              key = t->kind != kKindVideo ? key : false;
            } else if (sid == id::kBlockDuration) {
              int64_t v = 0;
              if (ReadSInt(c.source, ssize, &v) >= 0) {
                const int64_t d = c.ticks_to_time(v);
                if (!(duration == 333333 && d == 330000)) duration = d;
              }
            } else {
              break;
            }
            at = sdata + ssize;
          }
        }
        // Seeking: blocks before the target, and video until a key frame. A
        // laced block counts by the end of its last frame.
        const uint64_t laceFrames = lacing != kLacingNone ? std::max<size_t>(sizes.size(), 1) : 1;
        const int64_t lastStart = add_sat(time, mul_sat(duration, int64_t(laceFrames - 1)));
        if ((t->waitKey && !key) || (t->dropBefore && lastStart < t->dropTarget)) break;
        const bool trimFrames = t->dropBefore;
        const int64_t trimTarget = t->dropTarget;
        t->waitKey = t->dropBefore = false;
        const uint64_t frameStart = dataPos + headerBytes + laceHeader;
        if (c.source.seek(frameStart) < 0) return ZEP_ERR_END_OF_STREAM;
        cur.position = next;
        block->flags = key ? ZEP_BLOCK_FLAG_KEYFRAME : 0;
        block->kind = t->kind;
        block->time = time;
        *delivered = t;
        *deliveredAt = elementPos;
        if (lacing != kLacingNone && c.read.delaceMode == 1 && sizes.size() > 1) {
          MkvLaceQueue& q = lace_of(*t);
          q.frameSizes = std::move(sizes);
          q.nextFrame = 0;
          q.baseTime = time;
          q.frameDuration = duration;
          q.flags = block->flags;
          q.framePosition = frameStart;
          q.endPosition = next;
          q.state = 3;
          if (!only) c.read.laceOwner = t;
          while (trimFrames && q.nextFrame + 1 < q.frameSizes.size() &&
                 add_sat(q.baseTime, mul_sat(int64_t(q.nextFrame), q.frameDuration)) < trimTarget) {
            q.framePosition += q.frameSizes[q.nextFrame];
            ++q.nextFrame;
          }
          return next_laced_frame(c, *t, block);
        }
        const uint64_t frames = lacing != kLacingNone ? std::max<size_t>(sizes.size(), 1) : 1;
        ZEP_STATUS status = ZEP_OK;
        if (lacing != kLacingNone && t->compression != kCompressionNone && sizes.size() > 1) {
          // Each frame of a lace is compressed on its own: undone frame by
          // frame, the frames follow one another in the block.
          for (uint64_t frameSize : sizes) {
            status = read_frame(c, *t, frameSize, block);
            if (status < 0) break;
            block->fillCount = block->size;
          }
          block->fillCount = 0;
        } else {
          status = read_frame(c, *t, payload - laceHeader, block);
        }
        if (status == kFrameFailed)
          zep_report_damage(elementPos,
                            "A block of track %llu is refused: its frames do not decode",
                            static_cast<unsigned long long>(number));
        block->time = time;
        block->duration = mul_sat(duration, int64_t(frames));
        block->flags = key ? ZEP_BLOCK_FLAG_KEYFRAME : 0;
        block->kind = t->kind;
        if (status == ZEP_ERR_END_OF_STREAM) cur.position = elementPos;
        return status;
      }
      default:
        break;
    }
    // An empty element in the middle of the file is passed over like any
    // other: dropping everything after it would lose the rest of the file.
    if (size == 0) {
      cur.position = dataPos;
      if (dataPos >= segEnd) return ZEP_ERR_END_OF_STREAM;
      continue;
    }
    if (!advance(c, cur, next)) return ZEP_ERR_END_OF_STREAM;
  }
}

// One block from one Segment, joining field pairs of AVC tracks.
ZEP_STATUS read_one(MkvContainer& c, Cursor cur, MkvTrack* only, ZepBlock* block,
                    MkvTrack** delivered) {
  uint64_t at = 0;
  block->fillCount = 0;
  ZEP_STATUS status = read_loop(c, cur, only, block, delivered, &at);
  if (status < 0) return status;
  MkvTrack* t = *delivered;
  if (!t->video.fieldCoded || !t->combineFields || block->size == 4 ||
      !is_first_field(*t, block->data, block->size))
    return status;
  // The second field is read behind the first; a shared read passes over
  // it when it meets it later.
  uint64_t position = cur.position;
  int64_t clusterTime = cur.clusterTime;
  Cursor second{position, clusterTime};
  const int64_t time = block->time, duration = block->duration;
  const uint32_t flags = block->flags;
  block->fillCount = block->size;
  MkvTrack* again = nullptr;
  uint64_t secondAt = 0;
  ZEP_STATUS joined = read_loop(c, second, t, block, &again, &secondAt);
  block->fillCount = 0;
  if (joined >= 0) {
    if (only) {
      cur.position = position;
      cur.clusterTime = clusterTime;
    } else {
      t->joinedBlockAt = secondAt;
    }
    block->duration = add_sat(duration, block->duration);
  }
  block->time = time;
  block->flags = flags;
  return ZEP_OK;
}

}  // namespace

ZEP_STATUS set_active_stream(MkvContainer& c, uint32_t kind, uint32_t stream, uint32_t active) {
  for (size_t i = 0; i < std::max<size_t>(c.chain.size(), 1); ++i) {
    MkvContainer& m = c.chain_member(i);
    MkvTrack* t = m.track(kind, stream);
    if (!t) return ZEP_FAIL;
    t->active = active != 0;
    if (t->active) lace_of(*t);
  }
  return ZEP_OK;
}

ZEP_STATUS read_next_block(MkvContainer& c, uint32_t* kind, uint32_t* stream, ZepBlock* block) {
  if (c.currentTitle == 0xFFFFFFFFu) return ZEP_ERR_END_OF_STREAM;
  for (;;) {
    MkvContainer& m = c.chain_member(c.read.chainIndex);
    ZEP_STATUS status;
    MkvTrack* t = m.read.laceOwner;
    if (t && t->lace && t->lace->state == 3) {
      status = next_laced_frame(m, *t, block);
    } else {
      Cursor cur{m.read.position, m.read.clusterTime};
      t = nullptr;
      status = read_one(m, cur, nullptr, block, &t);
    }
    if (status == ZEP_ERR_END_OF_STREAM && c.read.chainIndex + 1 < c.chain.size()) {
      ++c.read.chainIndex;
      MkvContainer& n = c.chain_member(c.read.chainIndex);
      n.read.position = 0;
      n.read.laceOwner = nullptr;
      continue;
    }
    if (status >= 0 && t) {
      *kind = t->kind;
      *stream = t->streamIndex;
    }
    return status;
  }
}

ZEP_STATUS read_next_block_by_stream(MkvContainer& c, uint32_t kind, uint32_t stream,
                                     ZepBlock* block) {
  MkvTrack* self = c.track(kind, stream);
  if (!self) return ZEP_FAIL;
  for (;;) {
    MkvContainer& m = c.chain_member(self->chainIndex);
    MkvTrack* t = m.track(kind, stream);
    if (!t) return ZEP_ERR_END_OF_STREAM;
    ZEP_STATUS status;
    if (t->lace && t->lace->state == 3) {
      status = next_laced_frame(m, *t, block);
    } else {
      Cursor cur{t->ownPosition, t->ownClusterTime};
      MkvTrack* got = nullptr;
      status = read_one(m, cur, t, block, &got);
    }
    if (status == ZEP_ERR_END_OF_STREAM && self->chainIndex + 1 < c.chain.size()) {
      ++self->chainIndex;
      MkvTrack* n = c.chain_member(self->chainIndex).track(kind, stream);
      if (n) n->ownPosition = 0;
      continue;
    }
    return status;
  }
}

ZEP_STATUS first_cluster(MkvContainer& c, uint64_t dataPos, uint64_t size) {
  // Tracks without a DefaultDuration: estimated from the first two blocks
  // of each track in the BlockGroups that open the first Cluster.
  struct Seen {
    int64_t first = 0;
    uint32_t count = 0;
  };
  std::vector<Seen> seen(c.seg.tracks.size());
  const uint64_t end = std::min(dataPos + size, c.source.length());
  uint64_t at = dataPos;
  for (int guard = 0; at < end && guard < 64; ++guard) {
    if (c.source.seek(at) < 0) break;
    uint32_t elementId = 0;
    uint64_t elementSize = 0;
    if (ReadElementHeader(c.source, &elementId, &elementSize) < 0) break;
    const uint64_t data = c.source.tell();
    if (elementId == id::kBlockGroup) {
      uint32_t childId = 0;
      uint64_t childSize = 0;
      if (ReadElementHeader(c.source, &childId, &childSize) >= 0 && childId == id::kBlock) {
        BlockHead head;
        uint8_t laceCount = 0;
        uint64_t got = 0;
        if (read_block_head(c.source, &head)) {
          if (head.flags & 0x06) c.source.read(&laceCount, 1, &got);
          for (size_t i = 0; i < c.seg.tracks.size(); ++i) {
            MkvTrack& t = c.seg.tracks[i];
            if (t.number != head.track || t.hasDefaultDuration) continue;
            if (t.kind != kKindAudio && t.kind != kKindVideo) continue;
            const int64_t rel = head.relative;
            const uint64_t frames = (head.flags & 0x06) && got == 1 ? uint64_t(laceCount) + 1 : 1;
            if (seen[i].count++ == 0) {
              seen[i].first = rel;
            } else if (seen[i].count == 2 && rel > seen[i].first) {
              t.defaultDuration = uint64_t(rel - seen[i].first) * c.seg.timecodeScale / frames;
              t.hasDefaultDuration = true;
            }
          }
        }
      }
    } else if (elementId != id::kTimecode && elementId != id::kCrc32 &&
               elementId != id::kReferenceBlock) {
      break;
    }
    at = data + elementSize;
  }
  return ZEP_OK;
}

}  // namespace mkv
