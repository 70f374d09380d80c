// Byte-exact EBML (Matroska) builder for crafted test files. An element is a
// small tree serialised when asked: a leaf carries its value bytes, a master
// its children, and the size field can be forced to the all-ones "unknown"
// size or a wrong value, for damaged layouts that no muxer writes. IDs are
// written as they stand in the file (0x1A45DFA3 is the bytes 1A 45 DF A3).
// On top sit the EBML header, SegmentInfo, TrackEntry, blocks with every
// lacing, Clusters and Cues; tests build the other records from elements.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/byte_writer.h"

namespace zeptest {

namespace mkvid {
constexpr uint32_t kEbml = 0x1A45DFA3, kSegment = 0x18538067, kVoid = 0xEC, kCrc32 = 0xBF;
constexpr uint32_t kInfo = 0x1549A966, kTimecodeScale = 0x2AD7B1, kDuration = 0x4489;
constexpr uint32_t kSegmentUid = 0x73A4, kPrevUid = 0x3CB923, kNextUid = 0x3EB923;
constexpr uint32_t kTitle = 0x7BA9, kMuxingApp = 0x4D80;
constexpr uint32_t kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackNumber = 0xD7;
constexpr uint32_t kTrackUid = 0x73C5, kTrackType = 0x83, kFlagDefault = 0x88;
constexpr uint32_t kDefaultDuration = 0x23E383, kName = 0x536E, kCodecId = 0x86;
constexpr uint32_t kCodecPrivate = 0x63A2, kVideo = 0xE0, kPixelWidth = 0xB0, kPixelHeight = 0xBA;
constexpr uint32_t kAudio = 0xE1, kSamplingFrequency = 0xB5, kOutputSamplingFrequency = 0x78B5;
constexpr uint32_t kChannels = 0x9F, kContentEncodings = 0x6D80, kContentEncoding = 0x6240;
constexpr uint32_t kContentCompression = 0x5034, kContentCompAlgo = 0x4254;
constexpr uint32_t kContentCompSettings = 0x4255;
constexpr uint32_t kCluster = 0x1F43B675, kTimecode = 0xE7, kSimpleBlock = 0xA3;
constexpr uint32_t kBlockGroup = 0xA0, kBlock = 0xA1, kBlockDuration = 0x9B;
constexpr uint32_t kReferenceBlock = 0xFB;
constexpr uint32_t kCues = 0x1C53BB6B, kCuePoint = 0xBB, kCueTime = 0xB3;
constexpr uint32_t kCueTrackPositions = 0xB7, kCueTrack = 0xF7, kCueClusterPosition = 0xF1;
constexpr uint32_t kChapters = 0x1043A770, kEditionEntry = 0x45B9, kEditionUid = 0x45BC;
constexpr uint32_t kEditionFlagHidden = 0x45BD, kEditionFlagDefault = 0x45DB;
constexpr uint32_t kEditionFlagOrdered = 0x45DD, kChapterAtom = 0xB6, kChapterUid = 0x73C4;
constexpr uint32_t kChapterTimeStart = 0x91, kChapterTimeEnd = 0x92, kChapterFlagHidden = 0x98;
constexpr uint32_t kChapterFlagEnabled = 0x4598, kChapterDisplay = 0x80, kChapString = 0x85;
constexpr uint32_t kChapLanguage = 0x437C, kChapCountry = 0x437E;
constexpr uint32_t kAttachments = 0x1941A469, kAttachedFile = 0x61A7;
constexpr uint32_t kFileDescription = 0x467E, kFileName = 0x466E, kFileMimeType = 0x4660;
constexpr uint32_t kFileData = 0x465C, kFileUid = 0x46AE;
constexpr uint32_t kTags = 0x1254C367, kTag = 0x7373, kTargets = 0x63C0;
constexpr uint32_t kTargetTypeValue = 0x68CA, kTagTrackUid = 0x63C5, kTagChapterUid = 0x63C4;
constexpr uint32_t kTagAttachmentUid = 0x63C6, kSimpleTag = 0x67C8, kTagName = 0x45A3;
constexpr uint32_t kTagLanguage = 0x447A, kTagString = 0x4487, kTagBinary = 0x4485;
}  // namespace mkvid

class EbmlElement {
 public:
  // A master element and its children.
  explicit EbmlElement(uint32_t id, std::vector<EbmlElement> children = {})
      : id_(id), children_(std::move(children)) {}
  // Values in the fewest bytes (one for 0; a signed one keeps its sign),
  // floats in 8.
  static EbmlElement uint(uint32_t id, uint64_t value);
  static EbmlElement sint(uint32_t id, int64_t value);
  static EbmlElement flt(uint32_t id, double value);
  static EbmlElement str(uint32_t id, std::string_view value);
  static EbmlElement bin(uint32_t id, Bytes value);
  // Bytes written as they stand, without a header: garbage or zero filling.
  static EbmlElement raw(Bytes bytes);

  EbmlElement& child(EbmlElement e);
  // The 8-byte all-ones size: the reader must find the end itself.
  EbmlElement& unknown_size();
  // `size` in the size field whatever the content is.
  EbmlElement& wrong_size(uint64_t size);

  Bytes bytes() const;
  // Bytes of the whole element, and of its ID and size field alone.
  uint64_t byte_size() const { return header_size() + content_size(); }
  uint64_t header_size() const;

 private:
  uint64_t content_size() const;
  void write(ByteWriter& out) const;

  uint32_t id_ = 0;
  bool raw_ = false, unknownSize_ = false;
  Bytes payload_;
  std::vector<EbmlElement> children_;
  std::optional<uint64_t> forcedSize_;
};

// The EBML header with DocType "matroska".
EbmlElement mkv_ebml_header();
// A Void of `totalBytes` bytes in all (2..128), and a CRC-32 element (its
// value is stored little-endian).
EbmlElement ebml_void(uint64_t totalBytes);
EbmlElement ebml_crc32(uint32_t value);

// SegmentInfo with the scale (ns per tick), the duration when set, and more.
EbmlElement mkv_info(std::optional<double> duration = std::nullopt, uint64_t scale = 1000000,
                     std::vector<EbmlElement> more = {});
// A TrackEntry (type 1 video, 2 audio, 17 subtitle) whose UID is its number.
EbmlElement mkv_track(uint64_t number, uint64_t type, std::string_view codecId,
                      std::vector<EbmlElement> more = {});

enum class Lacing { kNone, kXiph, kFixed, kEbml };
constexpr uint8_t kBlockKey = 0x80;  // SimpleBlock flags

// The payload of a SimpleBlock or Block: the track as a vint, the 16-bit
// time relative to the Cluster, the flags with the lacing bits, the lace
// head and the frames (kNone: the frames one after the other).
Bytes mkv_block_payload(uint64_t track, int16_t relativeTime, uint8_t flags,
                        const std::vector<Bytes>& frames, Lacing lacing = Lacing::kNone);
EbmlElement mkv_simple_block(uint64_t track, int16_t relativeTime, uint8_t flags,
                             const std::vector<Bytes>& frames, Lacing lacing = Lacing::kNone);
// A BlockGroup of one frame, with its BlockDuration and ReferenceBlocks.
EbmlElement mkv_block_group(uint64_t track, int16_t relativeTime, Bytes frame,
                            std::optional<uint64_t> duration, std::vector<int64_t> references = {});
EbmlElement mkv_cluster(uint64_t timecode, std::vector<EbmlElement> blocks);
// Cues of track 1: (time in ticks, Cluster position from the Segment's data).
EbmlElement mkv_cues(const std::vector<std::pair<uint64_t, uint64_t>>& points);

EbmlElement mkv_segment(std::vector<EbmlElement> children);
// Where each child starts, counted from the first (the Segment's data), for
// Cues written after the Clusters they point at.
std::vector<uint64_t> mkv_positions(const std::vector<EbmlElement>& children);
// A whole file: the EBML header, then the top-level elements.
Bytes mkv_file(const std::vector<EbmlElement>& topLevel);

}  // namespace zeptest
