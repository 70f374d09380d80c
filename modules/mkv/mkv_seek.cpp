// Seeking: the Cues (or the module's hierarchical index into them) loaded on
// the first seek, lookups at-or-before, previous and next, and a table of
// Cluster times built by scanning when a file has no Cues.
#include <algorithm>

#include "modules/mkv/ebml_ids.h"
#include "modules/mkv/mkv_blocks.h"
#include "modules/mkv/mkv_lacing.h"
#include "modules/mkv/mkv_metadata.h"

namespace mkv {

namespace {

constexpr size_t kClusterTableSize = 10000;
constexpr size_t kMaxCuePoints = 4u << 20;

enum class Lookup { atOrBefore, previous, next };

// Cue times are ticks of the track's time line; in 100 ns units as block
// times are, in double precision.
int64_t cue_units(const MkvContainer& c, const MkvTrack& t, uint64_t ticks) {
  const double scaled = double(ticks) * t.timecodeScale;
  return c.ticks_to_time(to_int64(scaled));
}

ZEP_STATUS parse_cue_point(EbmlReader& reader, uint64_t dataPos, uint64_t size, MkvCuePoint& p) {
  auto field = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t childData,
                   uint64_t& childSize) -> ZEP_STATUS {
    if (childId == id::kCueTime) return ReadUInt(*r.source, childSize, &p.time);
    if (childId != id::kCueTrackPositions) return ZEP_OK;
    MkvCuePosition pos;
    auto inner = [&](EbmlReader& rr, uint32_t innerId, uint64_t, uint64_t,
                     uint64_t& innerSize) -> ZEP_STATUS {
      if (innerId == id::kCueTrack) return ReadUInt(*rr.source, innerSize, &pos.track);
      if (innerId == id::kCueClusterPosition)
        return ReadUInt(*rr.source, innerSize, &pos.clusterPosition);
      return ZEP_OK;
    };
    ZEP_STATUS status = WalkChildren(r, childData, childSize, inner);
    if (status >= 0 && p.positions.size() < kMaxTracks) p.positions.push_back(pos);
    return status;
  };
  return WalkChildren(reader, dataPos, size, field);
}

ZEP_STATUS load_cues(MkvContainer& c) {
  MkvSegmentState& seg = c.seg;
  auto point = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t childData,
                   uint64_t& childSize) -> ZEP_STATUS {
    if (childId != id::kCuePoint || seg.cuePoints.size() >= kMaxCuePoints) return ZEP_OK;
    MkvCuePoint p;
    ZEP_STATUS status = parse_cue_point(r, childData, childSize, p);
    if (status >= 0) seg.cuePoints.push_back(std::move(p));
    return status;
  };
  c.reader.keepGoing = true;
  ZEP_STATUS status = WalkChildren(c.reader, seg.cues.dataPos, seg.cues.size, point);
  c.reader.keepGoing = true;
  std::stable_sort(seg.cuePoints.begin(), seg.cuePoints.end(),
                   [](const MkvCuePoint& a, const MkvCuePoint& b) { return a.time < b.time; });
  return status;
}

ZEP_STATUS load_hierarchical_index(MkvContainer& c) {
  MkvSegmentState& seg = c.seg;
  auto point = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t childData,
                   uint64_t& childSize) -> ZEP_STATUS {
    if (childId != id::kHierarchicalIndexPoint || seg.indexPoints.size() >= kMaxCuePoints)
      return ZEP_OK;
    MkvCuePoint p;
    auto field = [&](EbmlReader& rr, uint32_t fieldId, uint64_t, uint64_t fieldData,
                     uint64_t& fieldSize) -> ZEP_STATUS {
      if (fieldId == id::kHierarchicalIndexTime) return ReadUInt(*rr.source, fieldSize, &p.time);
      if (fieldId != id::kHierarchicalIndexPositions) return ZEP_OK;
      MkvCuePosition pos;
      auto inner = [&](EbmlReader& r3, uint32_t innerId, uint64_t, uint64_t,
                       uint64_t& innerSize) -> ZEP_STATUS {
        if (innerId == id::kHierarchicalIndexTrack) return ReadUInt(*r3.source, innerSize, &pos.track);
        if (innerId == id::kHierarchicalIndexCuePos)
          return ReadUInt(*r3.source, innerSize, &pos.clusterPosition);
        return ZEP_OK;
      };
      ZEP_STATUS status = WalkChildren(rr, fieldData, fieldSize, inner);
      if (status >= 0 && p.positions.size() < kMaxTracks) p.positions.push_back(pos);
      return status;
    };
    ZEP_STATUS status = WalkChildren(r, childData, childSize, field);
    if (status >= 0) seg.indexPoints.push_back(std::move(p));
    return status;
  };
  c.reader.keepGoing = true;
  ZEP_STATUS status =
      WalkChildren(c.reader, seg.hierarchicalIndex.dataPos, seg.hierarchicalIndex.size, point);
  c.reader.keepGoing = true;
  std::stable_sort(seg.indexPoints.begin(), seg.indexPoints.end(),
                   [](const MkvCuePoint& a, const MkvCuePoint& b) { return a.time < b.time; });
  return status;
}

// Through the hierarchical index: its point at or before the target names a
// CuePoint inside the Cues; the CuePoints from there on give the last one of
// the track not above the target.
bool hierarchical_lookup(MkvContainer& c, const MkvTrack& t, int64_t target, int64_t* time,
                         uint64_t* cluster) {
  const MkvSegmentState& seg = c.seg;
  const MkvCuePosition* start = nullptr;
  for (const MkvCuePoint& p : seg.indexPoints)
    for (const MkvCuePosition& pos : p.positions)
      if (pos.track == t.number && (!start || c.ticks_to_time(int64_t(std::min<uint64_t>(p.time, INT64_MAX))) <= target)) start = &pos;
  if (!start || !seg.hasCues) return false;
  const uint64_t end = seg.cues.dataPos + seg.cues.size;
  bool found = false;
  for (uint64_t at = seg.cues.elementPos + start->clusterPosition; at < end;) {
    if (c.source.seek(at) < 0) break;
    uint32_t elementId = 0;
    uint64_t size = 0;
    if (ReadElementHeader(c.source, &elementId, &size) < 0) break;
    const uint64_t dataPos = c.source.tell();
    if (elementId == id::kCuePoint) {
      MkvCuePoint p;
      if (parse_cue_point(c.reader, dataPos, std::min(size, end - dataPos), p) < 0) break;
      c.reader.keepGoing = true;
      for (const MkvCuePosition& pos : p.positions) {
        if (pos.track != t.number) continue;
        const double units = double(c.ticks_to_time(int64_t(std::min<uint64_t>(p.time, INT64_MAX)))) * t.timecodeScale;
        if (units > double(target)) return found;
        found = true;
        *time = to_int64(units);
        *cluster = seg.place.dataPos + pos.clusterPosition;
      }
    }
    if (dataPos + size <= at) break;
    at = dataPos + size;
  }
  return found;
}

// The track whose cue points serve a stream: the first video track when
// there is one.
MkvTrack* cue_track(MkvContainer& c, MkvTrack* t) {
  MkvTrack* v = c.track(kKindVideo, 0);
  return v ? v : t;
}

// Finds a cue point of `t` by the mode; answers its time and Cluster.
bool cue_lookup(MkvContainer& c, const MkvTrack& t, Lookup mode, int64_t target, int64_t* time,
                uint64_t* cluster) {
  bool found = false;
  int64_t bestTime = 0;
  uint64_t bestCluster = 0;
  bool haveFirst = false;
  int64_t firstTime = 0;
  uint64_t firstCluster = 0;
  for (const MkvCuePoint& p : c.seg.cuePoints) {
    for (const MkvCuePosition& pos : p.positions) {
      if (pos.track != t.number) continue;
      const int64_t at = cue_units(c, t, p.time);
      const uint64_t where = c.seg.place.dataPos + pos.clusterPosition;
      if (!haveFirst) {
        haveFirst = true;
        firstTime = at;
        firstCluster = where;
      }
      bool take = mode == Lookup::next ? at > target && !found
                                       : (mode == Lookup::previous ? at < target : at <= target);
      if (take) {
        found = true;
        bestTime = at;
        bestCluster = where;
      }
      break;
    }
  }
  if (!found && mode == Lookup::atOrBefore && haveFirst) {
    found = true;
    bestTime = firstTime;
    bestCluster = firstCluster;
  }
  if (found) {
    *time = bestTime;
    *cluster = bestCluster;
  }
  return found;
}

// An element's size held at `end`: an unknown or damaged size (a nine-byte
// one reaches 2^64) never carries a walk past its parent or wraps it back.
uint64_t held_size(uint64_t size, uint64_t dataPos, uint64_t end) {
  return std::min(size, end - std::min(end, dataPos));
}

// Reads the Cluster Timecode at a Cluster's data.
bool cluster_time(MkvContainer& c, uint64_t dataPos, uint64_t end, int64_t* ticks) {
  uint64_t at = dataPos;
  for (int i = 0; i < 8 && at < end; ++i) {
    if (c.source.seek(at) < 0) return false;
    uint32_t elementId = 0;
    uint64_t size = 0;
    if (ReadElementHeader(c.source, &elementId, &size) < 0) return false;
    if (elementId == id::kTimecode) {
      uint64_t v = 0;
      if (ReadUInt(c.source, size, &v) < 0) return false;
      *ticks = int64_t(v & INT64_MAX);
      return true;
    }
    at = c.source.tell() + size;
  }
  return false;
}

// Appends Cluster times to the table until one lies beyond `target` or the
// Clusters end. A full table keeps every other entry and from then on every
// second Cluster more, so any length of file can be seeked.
void scan_clusters(MkvContainer& c, int64_t target) {
  MkvSegmentState& seg = c.seg;
  if (seg.clusterTableComplete || !seg.hasFirstCluster) return;
  const uint64_t end = std::min(seg.place.dataPos + seg.place.size, c.source.length());
  uint64_t at = seg.clusterScanPosition ? seg.clusterScanPosition : seg.firstClusterPos;
  for (;;) {
    if (at >= end || c.source.seek(at) < 0) break;
    uint32_t elementId = 0;
    uint64_t size = 0;
    if (ReadElementHeader(c.source, &elementId, &size) < 0) break;
    const uint64_t dataPos = c.source.tell();
    size = held_size(size, dataPos, end);
    if (elementId == id::kTags || elementId == id::kAttachments) break;
    if (elementId == id::kCluster) {
      int64_t ticks = 0;
      if (!cluster_time(c, dataPos, dataPos + size, &ticks)) break;
      const int64_t time = c.ticks_to_time(ticks);
      if (seg.clustersScanned++ % seg.clusterStride == 0) {
        if (seg.clusterTable.size() >= kClusterTableSize) {
          std::vector<MkvClusterEntry> thinned;
          for (size_t i = 0; i < seg.clusterTable.size(); i += 2)
            thinned.push_back(seg.clusterTable[i]);
          seg.clusterTable.swap(thinned);
          seg.clusterStride *= 2;
        }
        seg.clusterTable.push_back({time, at});
      }
      // A Cluster of unknown size runs to the Segment's end; its successor
      // is found by walking its children.
      at = size >= end - dataPos ? dataPos : dataPos + size;
      if (at == dataPos) {
        // Step over the Cluster's children until the next Cluster.
        uint64_t child = dataPos;
        while (child < end && c.source.seek(child) >= 0) {
          uint32_t cid = 0;
          uint64_t csize = 0;
          if (ReadElementHeader(c.source, &cid, &csize) < 0) {
            child = end;
            break;
          }
          if (cid == id::kCluster && child != dataPos) break;
          const uint64_t childData = c.source.tell();
          child = childData + held_size(csize, childData, end);
        }
        at = child;
      }
      seg.clusterScanPosition = at;
      if (time > target) return;
      continue;
    }
    if (size == 0 && dataPos >= end) break;
    at = dataPos + size;
    seg.clusterScanPosition = at;
  }
  seg.clusterTableComplete = true;
}

// Within the Clusters from `from`, the last key frame of `t` at or before
// `target`: its Cluster and time. Only headers are read.
bool refine_key_frame(MkvContainer& c, const MkvTrack& t, uint64_t from, int64_t target,
                      uint64_t* cluster, int64_t* time) {
  const uint64_t end = std::min(c.seg.place.dataPos + c.seg.place.size, c.source.length());
  uint64_t at = from, currentCluster = from, groupEnd = 0;
  int64_t clusterTicks = 0;
  bool found = false;
  int pendingBlock = 0;  // 1: a Block of t waits for its group's end
  int64_t pendingTime = 0;
  bool pendingRef = false;
  for (int budget = 0; at < end && budget < 200000; ++budget) {
    if (pendingBlock && at >= groupEnd) {
      if (!pendingRef && pendingTime <= target) {
        found = true;
        *cluster = currentCluster;
        *time = pendingTime;
      }
      if (pendingTime > target) return found;
      pendingBlock = 0;
    }
    if (c.source.seek(at) < 0) break;
    uint32_t elementId = 0;
    uint64_t size = 0;
    if (ReadElementHeader(c.source, &elementId, &size) < 0) break;
    const uint64_t dataPos = c.source.tell();
    size = held_size(size, dataPos, end);
    switch (elementId) {
      case id::kCluster:
        currentCluster = at;
        at = dataPos;
        continue;
      case id::kBlockGroup:
        groupEnd = dataPos + size;
        pendingRef = false;
        at = dataPos;
        continue;
      case id::kTimecode: {
        uint64_t v = 0;
        if (ReadUInt(c.source, size, &v) >= 0) clusterTicks = int64_t(v & INT64_MAX);
        break;
      }
      case id::kReferenceBlock:
        pendingRef = true;
        break;
      case id::kSimpleBlock:
      case id::kBlock: {
        BlockHead head;
        if (!read_block_head(c.source, &head) || head.track != t.number) break;
        const double ticks = double(add_sat(clusterTicks, head.relative));
        const int64_t blockTime = c.ticks_to_time(to_int64(ticks * t.timecodeScale));
        if (elementId == id::kSimpleBlock) {
          if ((head.flags & 0x80) && blockTime <= target) {
            found = true;
            *cluster = currentCluster;
            *time = blockTime;
          }
          if (blockTime > target) return found;
        } else {
          pendingBlock = 1;
          pendingTime = blockTime;
        }
        break;
      }
      default:
        break;
    }
    if (dataPos + size <= at) break;
    at = dataPos + size;
  }
  return found;
}

void reset_reading(MkvContainer& c) {
  c.read.laceOwner = nullptr;
  for (MkvTrack& t : c.seg.tracks) {
    if (t.lace) t.lace->state = c.read.delaceMode == 1 ? 2 : 1;
    t.joinedBlockAt = 0;
    t.waitKey = t.dropBefore = false;
  }
}

ZEP_STATUS position_segment(MkvContainer& c, uint32_t kind, uint32_t stream, int64_t* time) {
  MkvTrack* t = c.track(kind, stream);
  if (!t) return ZEP_FAIL;
  reset_reading(c);
  int64_t target = *time;
  if (c.read.prevRefPresent && target == c.read.prevRefTime && target != 0) {
    c.read.position = c.read.prevRefOffset;
    for (MkvTrack& k : c.seg.tracks) {
      k.ownPosition = c.read.prevRefOffset;
      k.dropBefore = true;
      k.dropTarget = target;
    }
    c.read.prevRefPresent = false;
    return ZEP_OK;
  }
  if (target != 0 && !c.seg.indexLoaded) {
    ZEP_STATUS status = load_index(c);
    if (status == ZEP_ERR_KILL) return status;
  }
  uint64_t cluster = c.seg.firstClusterPos;
  int64_t found = 0;
  MkvTrack* cueSource = cue_track(c, t);
  if (target > 0) {
    bool located = false;
    if (c.seg.indexIsHierarchical && c.seg.useHierarchicalIndex)
      located = hierarchical_lookup(c, *cueSource, target, &found, &cluster);
    if (!located && !c.seg.cuePoints.empty())
      located = cue_lookup(c, *cueSource, Lookup::atOrBefore, target, &found, &cluster);
    if (!located) {
      scan_clusters(c, target);
      const std::vector<MkvClusterEntry>& table = c.seg.clusterTable;
      auto after = std::upper_bound(table.begin(), table.end(), target,
                                    [](int64_t v, const MkvClusterEntry& e) { return v < e.time; });
      size_t entry = 0;
      if (after != table.begin()) {
        entry = size_t(after - table.begin()) - 1;
        cluster = table[entry].position;
        found = table[entry].time;
      }
      // The key frame may lie Clusters before the target's: the search
      // starts further back each time (1, 2, 4... entries) until it has one.
      for (size_t back = 0; !table.empty();) {
        uint64_t keyCluster = 0;
        int64_t keyTime = 0;
        const size_t from = entry >= back ? entry - back : 0;
        if (refine_key_frame(c, *cueSource, table[from].position, target, &keyCluster, &keyTime)) {
          cluster = keyCluster;
          found = keyTime;
          break;
        }
        if (from == 0) break;
        back = back ? back * 2 : 1;
      }
    }
  }
  c.read.position = cluster;
  c.read.clusterTime = 0;
  for (MkvTrack& k : c.seg.tracks) {
    k.ownPosition = cluster;
    k.ownClusterTime = 0;
    k.dropBefore = target > 0;
    k.dropTarget = found;
    k.waitKey = k.kind == kKindVideo;
  }
  *time = found;
  return ZEP_OK;
}

}  // namespace

ZEP_STATUS load_index(MkvContainer& c) {
  MkvSegmentState& seg = c.seg;
  if (seg.indexLoaded) return ZEP_OK;
  ZEP_STATUS status = ZEP_OK;
  if (seg.useHierarchicalIndex && seg.hasHierarchicalIndex) {
    status = load_hierarchical_index(c);
    if (status == ZEP_ERR_KILL) return status;
    if (status < 0) {
      seg.indexPoints.clear();
      return ZEP_ERR_QR7_PARSE_HIERARCHICAL;
    }
    seg.indexIsHierarchical = !seg.indexPoints.empty();
  }
  if (seg.hasCues && seg.cues.size > 0) {
    status = load_cues(c);
    if (status == ZEP_ERR_KILL) return status;
    if (status < 0) {
      seg.cuePoints.clear();
      return ZEP_ERR_QR7_PARSE_CUES;
    }
  }
  seg.indexLoaded = !seg.cuePoints.empty() || seg.indexIsHierarchical;
  return ZEP_OK;
}

ZEP_STATUS set_position(MkvContainer& c, uint32_t kind, uint32_t stream, int64_t* time) {
  if (c.currentTitle == 0xFFFFFFFFu || !c.track(kind, stream)) return ZEP_FAIL;
  size_t index = 0;
  if (c.chain.size() > 1 && *time > 0) {
    // Linked files keep one time line: the Segment whose span holds the time.
    double start = 0;
    index = c.chain.size();
    for (size_t i = 0; i < c.chain.size(); ++i) {
      const double end = start + c.chain[i].duration / 100.0;
      if (double(*time) < end) {
        index = i;
        break;
      }
      start = end;
    }
    if (index == c.chain.size()) return ZEP_ERR_END_OF_STREAM;
  }
  MkvContainer& m = c.chain_member(index);
  ZEP_STATUS status = position_segment(m, kind, stream, time);
  if (status < 0) return status;
  c.read.chainIndex = index;
  for (MkvTrack& t : c.seg.tracks) t.chainIndex = index;
  return ZEP_OK;
}

ZEP_STATUS sync_time(MkvContainer& c, uint32_t kind, uint32_t stream, int64_t time, bool next,
                     int64_t* found) {
  const size_t count = std::max<size_t>(c.chain.size(), 1);
  // The Segment holding the time first, then its neighbours in the asked
  // direction.
  size_t start = 0;
  double spanStart = 0;
  for (size_t i = 0; i < c.chain.size(); ++i) {
    const double end = spanStart + c.chain[i].duration / 100.0;
    start = i;
    if (double(time) < end) break;
    spanStart = end;
  }
  for (size_t i = start; i < count; next ? ++i : --i) {
    MkvContainer& m = c.chain_member(i);
    MkvTrack* t = m.track(kind, stream);
    if (t) {
      if (!m.seg.indexLoaded) {
        ZEP_STATUS status = load_index(m);
        if (status == ZEP_ERR_KILL) return status;
      }
      int64_t at = 0;
      uint64_t cluster = 0;
      if (cue_lookup(m, *cue_track(m, t), next ? Lookup::next : Lookup::previous, time, &at,
                     &cluster)) {
        *found = at;
        return ZEP_OK;
      }
    }
    if (i == 0 && !next) break;
  }
  return ZEP_ERR_END_OF_STREAM;
}

}  // namespace mkv
