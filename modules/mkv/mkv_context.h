// The Matroska module's records: one MkvContainer per open file, holding the
// byte source, the EBML reader, the Segments found at the top level and the
// state of the current Segment (its info, tracks, chapters, tags,
// attachments, index and read positions).
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "layer1/zep_mkv_records.h"
#include "layer1/zep_module.h"
#include "modules/mkv/ebml_reader.h"
#include "modules/mkv/mkv_byte_source.h"

namespace mkv {

// Times from a file may be anything: arithmetic on them saturates instead of
// overflowing, and a NaN becomes 0.
inline int64_t to_int64(double v) {
  if (!(v == v)) return 0;
  if (v >= 9.2e18) return INT64_MAX;
  if (v <= -9.2e18) return INT64_MIN;
  return int64_t(v);
}
inline int64_t mul_sat(int64_t a, int64_t b) {
  int64_t r = 0;
  if (__builtin_mul_overflow(a, b, &r)) return (a < 0) != (b < 0) ? INT64_MIN : INT64_MAX;
  return r;
}
inline int64_t add_sat(int64_t a, int64_t b) {
  int64_t r = 0;
  if (__builtin_add_overflow(a, b, &r)) return b < 0 ? INT64_MIN : INT64_MAX;
  return r;
}

// Limits on what a file may make us allocate or walk. Real files stay far
// below each of them.
constexpr size_t kMaxSegments = 256;
constexpr size_t kMaxTracks = 1024;
constexpr size_t kMaxCodecPrivate = 64u << 20;
constexpr size_t kMaxCompressionSettings = 1u << 20;
constexpr size_t kMaxEditions = 1024;
constexpr size_t kMaxChapters = 65536;  // all editions together
constexpr size_t kMaxTags = 65536;
constexpr size_t kMaxSimpleTags = 262144;
constexpr size_t kMaxAttachments = 4096;
constexpr size_t kMaxSeekEntries = 4096;
constexpr uint32_t kMaxNesting = 32;  // chapter atoms and SimpleTags
constexpr size_t kMaxChainLength = 100;
constexpr size_t kUidSize = 16;

// Track kinds: the block types of the framework, 0 for none.
constexpr uint32_t kKindNone = 0;
constexpr uint32_t kKindAudio = ZEP_BLOCK_AUDIO;
constexpr uint32_t kKindVideo = ZEP_BLOCK_VIDEO;
constexpr uint32_t kKindSubtitle = ZEP_BLOCK_SUBTITLE;
constexpr uint32_t kKindCount = 4;

// Stored compression algorithm: ContentCompAlgo + 1.
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionZlib = 1;
constexpr uint32_t kCompressionBzlib = 2;
constexpr uint32_t kCompressionLzo = 3;
constexpr uint32_t kCompressionHeaderStrip = 4;

struct Uid {
  uint8_t bytes[kUidSize] = {};
  uint32_t size = 0;  // 0: absent
  bool present() const { return size != 0; }
  bool operator==(const Uid& other) const;
};

// The frames of one laced block while they are handed out one by one.
struct MkvLaceQueue {
  uint32_t state = 1;  // 1 whole blocks, 2 delace (none in hand), 3 delivering
  std::vector<uint64_t> frameSizes;
  uint32_t nextFrame = 0;
  int64_t baseTime = 0;
  int64_t frameDuration = 0;
  uint32_t flags = 0;
  uint64_t framePosition = 0;  // file position of the next frame's bytes
  uint64_t endPosition = 0;    // file position behind the laced block
};

struct MkvTrack {
  uint32_t kind = kKindNone;
  uint32_t streamIndex = 0;
  uint64_t number = 0;
  uint64_t uid = 0;
  uint32_t codec = 0;
  std::vector<uint8_t> codecPrivate;
  std::u16string codecId, codecName, name, language;
  uint64_t defaultDuration = 0;  // ns
  bool hasDefaultDuration = false;
  double timecodeScale = 1.0;
  std::vector<uint64_t> attachmentLinks;
  bool flagDefault = true, flagForced = false, flagEnabled = true;

  struct Video {
    uint32_t pixelWidth = 0, pixelHeight = 0, displayWidth = 0, displayHeight = 0;
    bool hasPixelWidth = false, hasPixelHeight = false;
    bool hasDisplayWidth = false, hasDisplayHeight = false;
    bool interlaced = false;
    bool fieldCoded = false;       // the SPS allows field pictures
    uint32_t sliceHeaderBits = 0;  // fixed bits up to field_pic_flag
  } video;
  struct Audio {
    uint32_t channels = 0, samplingFrequency = 0, outputSamplingFrequency = 0, bitDepth = 0;
    bool hasChannels = false, hasSamplingFrequency = false;
    bool hasOutputSamplingFrequency = false, hasBitDepth = false;
    uint16_t waveTag = 0xFFFF;
    uint32_t avgBytesPerSec = 0, blockAlign = 0;
  } audio;

  uint32_t compression = kCompressionNone;
  std::vector<uint8_t> compressionSettings;

  uint64_t enhancedUid = 0, masterUid = 0;
  Uid enhancedSegmentUid, masterSegmentUid;
  std::u16string enhancedFileName, masterFileName;

  bool combineFields = false;

  // Read state.
  bool active = false;
  uint64_t ownPosition = 0;  // ReadNextBlockByStream
  int64_t ownClusterTime = 0;
  std::unique_ptr<MkvLaceQueue> lace;
  // After a seek: blocks before the target time are passed over, and video
  // blocks until a key frame.
  bool dropBefore = false;
  bool waitKey = false;
  int64_t dropTarget = 0;
  // The second field of a joined pair, already delivered with the first.
  uint64_t joinedBlockAt = 0;
  // Which Segment of a linked chain ReadNextBlockByStream reads.
  size_t chainIndex = 0;
};

struct MkvChapterDisplay {
  std::u16string string, language, country;
};

struct MkvChapter {
  uint64_t uid = 0;
  uint32_t flags = ZEP_CHAPTER_FLAG_ENABLED;  // enabled unless the file says not
  uint64_t start = 0, end = 0;  // ns
  bool hasEnd = false;
  Uid segmentUid;
  uint64_t segmentEditionUid = 0;
  std::vector<uint64_t> tracks;
  std::vector<MkvChapterDisplay> displays;
  std::vector<MkvChapter> children;
  int64_t playlistOffset = 0;  // ns
};

struct MkvEdition {
  uint64_t uid = 0;
  uint32_t flags = 0;
  std::vector<MkvChapter> chapters;
  double playlistLength = 0;  // ns
};

// Where a child value of a SimpleTag stands in the file; read on demand.
struct MkvValueRef {
  uint64_t dataPos = 0, size = 0;
  bool present = false;
};

struct MkvSimpleTag {
  uint32_t tag = 0;  // index of the owning tag
  uint32_t parent = 0xFFFFFFFFu;
  uint32_t depth = 0;
  uint64_t elementPos = 0;
  MkvValueRef name, language, string, binary;
  std::vector<uint32_t> children;
};

struct MkvTag {
  uint64_t targetTypeValue = 0;
  std::vector<uint64_t> trackUids, editionUids, chapterUids, attachmentUids;
  std::vector<uint32_t> simpleTags;  // top-level SimpleTag ids
};

struct MkvAttachment {
  std::u16string fileName, mimeType, description;
  uint64_t uid = 0;
  int64_t startTime = 0, endTime = 0;
  uint64_t dataPos = 0, dataSize = 0;
  bool hasData = false;
};

struct MkvSeekEntry {
  uint32_t id = 0;
  uint64_t position = 0;  // relative to the Segment's data
};

struct MkvSegmentPlace {
  uint64_t elementPos = 0, dataPos = 0, size = 0;
};

struct MkvCuePosition {
  uint64_t track = 0;
  uint64_t clusterPosition = 0;  // relative to the Segment's data
};

struct MkvCuePoint {
  uint64_t time = 0;  // ticks
  std::vector<MkvCuePosition> positions;
};

struct MkvClusterEntry {
  int64_t time = 0;  // 100 ns
  uint64_t position = 0;
};

class MkvContainer;

// One Segment of a linked chain: the container that reads it (null for the
// opened file itself), its duration and its UID.
struct MkvChainEntry {
  MkvContainer* container = nullptr;
  bool owned = false;
  double duration = 0;  // ns
  Uid uid;
};

// The state of the current Segment (rebuilt by SetTitle).
struct MkvSegmentState {
  uint64_t timecodeScale = 1000000;
  double duration = 0;  // ticks
  Uid uid, prevUid, nextUid;
  std::u16string title, fileName, prevFileName, nextFileName, muxingApp, writingApp;
  bool hasTitle = false, hasFileName = false, hasPrevFileName = false;
  bool hasNextFileName = false, hasMuxingApp = false, hasWritingApp = false;
  bool oldMuxer = false;

  MkvSegmentPlace place;
  bool hasFirstCluster = false;
  uint64_t firstClusterPos = 0;
  bool hasCues = false;
  MkvSegmentPlace cues;
  bool hasHierarchicalIndex = false;
  MkvSegmentPlace hierarchicalIndex;
  uint32_t seekHeadCount = 0;
  std::vector<MkvSeekEntry> seeks;
  bool seenInfo = false, seenTracks = false, seenChapters = false, seenTags = false;
  bool seenAttachments = false;

  std::vector<MkvTrack> tracks;  // file order
  std::vector<uint32_t> byKind[kKindCount];
  bool trackEntryOpen = false;

  std::vector<MkvEdition> editions;
  size_t chapterCount = 0;
  uint32_t currentEdition = 0;
  uint64_t currentEditionUid = 0;
  uint32_t playlistIndex = 0;
  bool allowOrdered = false;

  std::vector<MkvTag> tags;
  std::vector<MkvSimpleTag> simpleTags;
  uint32_t currentTag = 0;
  uint32_t currentSimpleTag = 0;

  std::vector<MkvAttachment> attachments;

  // Index (seeking).
  bool useHierarchicalIndex = false;
  uint64_t indexGap = 0;
  bool indexLoaded = false;
  bool indexIsHierarchical = false;
  std::vector<MkvCuePoint> cuePoints;
  // The hierarchical index: sparse points whose positions are CuePoints
  // (relative to the Cues element) rather than Clusters.
  std::vector<MkvCuePoint> indexPoints;
  std::vector<MkvClusterEntry> clusterTable;
  bool clusterTableComplete = false;
  uint64_t clusterScanPosition = 0;  // where the Cluster scan goes on
  uint64_t clustersScanned = 0;
  uint64_t clusterStride = 1;  // every n-th Cluster is kept once the table is full
};

// The read state of block delivery.
struct MkvReadState {
  uint64_t position = 0;  // shared read position; 0 before the first read
  int64_t clusterTime = 0;
  uint64_t clusterDataPos = 0;
  uint64_t clusterEnd = 0;
  int64_t tickLength = 10000;  // 100 ns units per tick when TimecodeScale is a multiple of 100
  uint64_t timecodeScale = 1000000;
  uint32_t delaceMode = 0;
  MkvTrack* laceOwner = nullptr;  // track whose lace queue is in state 3
  bool prevRefPresent = false;
  uint64_t prevRefOffset = 0;
  int64_t prevRefTime = 0;
  uint64_t lastBlockGroupPos = 0;
  size_t chainIndex = 0;  // the Segment of a linked chain ReadNextBlock reads
};

class MkvContainer {
 public:
  explicit MkvContainer(void* allocContext) : alloc(allocContext) {}
  ~MkvContainer();
  MkvContainer(const MkvContainer&) = delete;
  MkvContainer& operator=(const MkvContainer&) = delete;

  void* alloc;
  std::u16string fileName;
  MkvByteSource source;
  EbmlReader reader;
  std::vector<MkvSegmentPlace> segments;
  uint32_t currentTitle = 0xFFFFFFFFu;
  MkvSegmentState seg;
  MkvReadState read;
  std::vector<MkvChainEntry> chain;  // linked Segments, this one included
  size_t chainSelf = 0;
  uint32_t containerState = 0;
  bool linking = true;  // false for containers opened while searching a chain

  MkvTrack* track(uint32_t kind, uint32_t stream);
  // Ticks to 100 ns units. A TimecodeScale that is no multiple of 100 ns
  // (below 100 in particular) still gives true times, rounded down.
  int64_t ticks_to_time(int64_t ticks) const {
    if (uint64_t(read.tickLength) * 100 == read.timecodeScale) return mul_sat(ticks, read.tickLength);
    return to_int64(std::floor(double(ticks) * double(read.timecodeScale) / 100.0));
  }
  // The container that reads Segment `index` of the linked chain.
  MkvContainer& chain_member(size_t index) {
    MkvContainer* m = index < chain.size() ? chain[index].container : nullptr;
    return m ? *m : *this;
  }
  MkvTrack* track_by_number(uint64_t number);
};

}  // namespace mkv
