#include "modules/mkv/mkv_segment.h"

#include <algorithm>

#include "modules/mkv/ebml_ids.h"
#include "modules/mkv/mkv_blocks.h"

namespace mkv {

bool Uid::operator==(const Uid& other) const {
  return size == other.size && std::memcmp(bytes, other.bytes, size) == 0;
}

MkvTrack* MkvContainer::track(uint32_t kind, uint32_t stream) {
  if (kind >= kKindCount || stream >= seg.byKind[kind].size()) return nullptr;
  return &seg.tracks[seg.byKind[kind][stream]];
}

MkvTrack* MkvContainer::track_by_number(uint64_t number) {
  for (MkvTrack& t : seg.tracks)
    if (t.number == number && t.kind != kKindNone) return &t;
  return nullptr;
}

MkvContainer::~MkvContainer() {
  for (MkvChainEntry& e : chain)
    if (e.owned) delete e.container;
}

namespace {

ZEP_STATUS record_segment(void* context, uint64_t elementPos, uint64_t dataPos, uint64_t size) {
  auto& c = *static_cast<MkvContainer*>(context);
  if (c.segments.size() < kMaxSegments) c.segments.push_back({elementPos, dataPos, size});
  return ZEP_OK;
}

ZEP_STATUS read_uid(MkvByteSource& source, uint64_t size, Uid* uid) {
  if (size > kUidSize) return EBML_ERR_NO_MEMORY;
  *uid = Uid{};
  ZEP_STATUS status = ReadBinary(source, size, uid->bytes, kUidSize);
  if (status >= 0) uid->size = uint32_t(size);
  return status;
}

// One element of the Segment (the Segment walk and the SeekHead targets).
ZEP_STATUS segment_child(MkvContainer& c, EbmlReader& r, uint32_t elementId, uint64_t elementPos,
                         uint64_t dataPos, uint64_t& size) {
  MkvSegmentState& seg = c.seg;
  switch (elementId) {
    case id::kSeekHead: {
      ++seg.seekHeadCount;
      ++r.seekHeadCount;
      ZEP_STATUS status = parse_seek_head(c, dataPos, size);
      r.keepGoing = true;
      return element_failure(status, ZEP_ERR_QR7_PARSE_SEEKHEAD);
    }
    case id::kInfo:
      if (seg.seenInfo) return ZEP_OK;
      seg.seenInfo = true;
      return element_failure(parse_info(c, dataPos, size), ZEP_ERR_QR7_PARSE_SEGMENTINFO);
    case id::kTracks:
      if (seg.seenTracks) return ZEP_OK;
      seg.seenTracks = true;
      return element_failure(parse_tracks(c, dataPos, size), ZEP_ERR_QR7_PARSE_TRACKS);
    case id::kCues:
      if (!seg.hasCues) {
        seg.hasCues = true;
        seg.cues = {elementPos, dataPos, size};
      }
      return ZEP_OK;
    case id::kHierarchicalIndex:
      if (!seg.hasHierarchicalIndex) {
        seg.hasHierarchicalIndex = true;
        seg.hierarchicalIndex = {elementPos, dataPos, size};
      }
      return ZEP_OK;
    case id::kTags:
      if (seg.seenTags) return ZEP_OK;
      seg.seenTags = true;
      return element_failure(parse_tags(c, dataPos, size), ZEP_ERR_QR7_PARSE_TAGS);
    case id::kAttachments:
      if (seg.seenAttachments) return ZEP_OK;
      seg.seenAttachments = true;
      return element_failure(parse_attachments(c, dataPos, size), ZEP_ERR_QR7_PARSE_ATTACHMENTS);
    case id::kChapters: {
      if (seg.seenChapters) return ZEP_OK;
      seg.seenChapters = true;
      ZEP_STATUS status = parse_chapters(c, dataPos, size);
      if (status < 0) return element_failure(status, ZEP_ERR_QR7_PARSE_CHAPTERS);
      finish_chapters(seg);
      return ZEP_OK;
    }
    case id::kCluster: {
      bool first = !seg.hasFirstCluster;
      if (first) {
        seg.hasFirstCluster = true;
        seg.firstClusterPos = elementPos;
      }
      if (first || r.truncated) {
        ZEP_STATUS status = first_cluster(c, dataPos, size);
        if (status == ZEP_ERR_KILL) return status;
      }
      if (!r.clusterWalk) return ZEP_ERR_FILE_CORRUPT;
      return ZEP_OK;
    }
    default:
      return ZEP_OK;
  }
}

// The elements a SeekHead points to that stand behind the first Cluster:
// read where they are instead of walking over every Cluster to reach them.
ZEP_STATUS visit_seek_targets(MkvContainer& c) {
  MkvSegmentState& seg = c.seg;
  std::vector<uint64_t> visited;
  for (size_t i = 0; i < seg.seeks.size() && i < kMaxSeekEntries; ++i) {
    const MkvSeekEntry entry = seg.seeks[i];
    const uint64_t at = seg.place.dataPos + entry.position;
    if (at <= seg.firstClusterPos || at < seg.place.dataPos) continue;
    if (std::find(visited.begin(), visited.end(), at) != visited.end()) continue;
    visited.push_back(at);
    if (c.source.seek(at) < 0) continue;
    uint32_t elementId = 0;
    uint64_t size = 0;
    if (ReadElementHeader(c.source, &elementId, &size) < 0 || elementId != entry.id) continue;
    if (elementId == id::kCluster) continue;
    const uint64_t dataPos = c.source.tell();
    const uint64_t end = seg.place.dataPos + seg.place.size;
    size = std::min(size, end > dataPos ? end - dataPos : 0);
    ZEP_STATUS status = segment_child(c, c.reader, elementId, at, dataPos, size);
    if (status < 0) return status;
  }
  return ZEP_OK;
}

void reset_segment(MkvContainer& c) {
  c.seg = MkvSegmentState{};
  const uint32_t delaceMode = c.read.delaceMode;  // a container setting
  c.read = MkvReadState{};
  c.read.delaceMode = delaceMode;
  c.reader.keepGoing = true;
  c.reader.truncated = false;
  c.reader.seekHeadCount = 0;
  for (MkvChainEntry& e : c.chain)
    if (e.owned) delete e.container;
  c.chain.clear();
  c.chainSelf = 0;
}

}  // namespace

ZEP_STATUS open_container(MkvContainer& c, const zep_wchar_t* name, uint64_t, uint64_t) {
  ZEP_STATUS status = c.source.open(kSourceKindFile, name, c.alloc);
  if (status < 0) return status;
  c.fileName = name;
  c.reader.source = &c.source;
  c.reader.segment = &c.seg;
  c.reader.clusterHandler = nullptr;  // top-level Clusters carry no Segment
  status = WalkTopLevel(c.reader, record_segment, &c);
  if (status < 0) return status;
  return ZEP_OK;
}

ZEP_STATUS set_title(MkvContainer& c, uint32_t title) {
  if (title >= c.segments.size()) return EBML_ERR_NOT_EBML;
  reset_segment(c);
  c.currentTitle = 0xFFFFFFFFu;
  const MkvSegmentPlace place = c.segments[title];
  if (c.source.seek(place.elementPos) < 0) return EBML_ERR_NOT_EBML;
  uint32_t elementId = 0;
  uint64_t size = 0;
  if (ReadElementHeader(c.source, &elementId, &size) < 0 || elementId != id::kSegment)
    return EBML_ERR_NOT_EBML;
  MkvSegmentState& seg = c.seg;
  seg.place = place;
  const uint64_t end = std::min(place.dataPos + place.size, c.source.length());
  seg.place.size = end - place.dataPos;
  bool stoppedAtCluster = false;
  auto handler = [&](EbmlReader& r, uint32_t childId, uint64_t elementPos, uint64_t dataPos,
                     uint64_t& childSize) -> ZEP_STATUS {
    ZEP_STATUS status = segment_child(c, r, childId, elementPos, dataPos, childSize);
    if (status < 0) return status;
    // Past the first Cluster the SeekHead knows where the rest stands.
    if (childId == id::kCluster && !seg.seeks.empty()) {
      stoppedAtCluster = true;
      return ZEP_ERR_FILE_CORRUPT;
    }
    return ZEP_OK;
  };
  c.reader.keepGoing = true;
  ZEP_STATUS status = WalkChildren(c.reader, seg.place.dataPos, seg.place.size, handler);
  c.reader.keepGoing = true;
  if (status < 0) return status;
  if (stoppedAtCluster) {
    status = visit_seek_targets(c);
    if (status < 0) return status;
  }
  c.read.tickLength = int64_t(seg.timecodeScale / 100);
  c.read.timecodeScale = seg.timecodeScale;
  c.currentTitle = title;
  c.chain.push_back({nullptr, false, seg.duration * double(seg.timecodeScale), seg.uid});
  if (c.linking) follow_linked_segments(c);
  return ZEP_OK;
}

ZEP_STATUS parse_seek_head(MkvContainer& c, uint64_t dataPos, uint64_t size) {
  auto seek = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t seekData,
                  uint64_t& seekSize) -> ZEP_STATUS {
    if (childId != id::kSeek) return ZEP_OK;
    MkvSeekEntry entry;
    auto field = [&](EbmlReader& rr, uint32_t fieldId, uint64_t, uint64_t,
                     uint64_t& fieldSize) -> ZEP_STATUS {
      uint64_t v = 0;
      if (fieldId == id::kSeekId) {
        // The SeekID is the target's ID bytes, read as an unsigned number.
        ZEP_STATUS s = ReadUInt(*rr.source, fieldSize, &v);
        if (s < 0) return s;
        entry.id = uint32_t(v);
      } else if (fieldId == id::kSeekPosition) {
        ZEP_STATUS s = ReadUInt(*rr.source, fieldSize, &v);
        if (s < 0) return s;
        entry.position = v;
      }
      return ZEP_OK;
    };
    ZEP_STATUS status = WalkChildren(r, seekData, seekSize, field);
    if (status < 0) return status;
    if (c.seg.seeks.size() < kMaxSeekEntries) c.seg.seeks.push_back(entry);
    return ZEP_OK;
  };
  return WalkChildren(c.reader, dataPos, size, seek);
}

ZEP_STATUS parse_info(MkvContainer& c, uint64_t dataPos, uint64_t size) {
  MkvSegmentState& seg = c.seg;
  auto field = [&](EbmlReader& r, uint32_t childId, uint64_t, uint64_t,
                   uint64_t& childSize) -> ZEP_STATUS {
    MkvByteSource& s = *r.source;
    switch (childId) {
      case id::kTimecodeScale: {
        uint64_t v = 0;
        ZEP_STATUS status = ReadUInt(s, childSize, &v);
        if (status >= 0) seg.timecodeScale = v;
        return status;
      }
      case id::kDuration:
        return ReadFloat(s, childSize, &seg.duration);
      case id::kSegmentUid:
        return read_uid(s, childSize, &seg.uid);
      case id::kPrevUid:
        return read_uid(s, childSize, &seg.prevUid);
      case id::kNextUid:
        return read_uid(s, childSize, &seg.nextUid);
      case id::kTitle:
        seg.hasTitle = true;
        return ReadUtf8String(s, childSize, &seg.title);
      case id::kSegmentFileName:
        seg.hasFileName = true;
        return ReadUtf8String(s, childSize, &seg.fileName);
      case id::kPrevFileName:
        seg.hasPrevFileName = true;
        return ReadUtf8String(s, childSize, &seg.prevFileName);
      case id::kNextFileName:
        seg.hasNextFileName = true;
        return ReadUtf8String(s, childSize, &seg.nextFileName);
      case id::kMuxingApp: {
        seg.hasMuxingApp = true;
        ZEP_STATUS status = ReadUtf8String(s, childSize, &seg.muxingApp);
        if (seg.muxingApp.find(u"libmatroska v0.8.1") != std::u16string::npos)
          seg.oldMuxer = true;
        return status;
      }
      case id::kWritingApp:
        seg.hasWritingApp = true;
        return ReadUtf8String(s, childSize, &seg.writingApp);
      default:
        return ZEP_OK;
    }
  };
  return WalkChildren(c.reader, dataPos, size, field);
}

}  // namespace mkv
