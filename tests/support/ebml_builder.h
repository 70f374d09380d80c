// Byte-exact EBML (Matroska) builder for crafted test files. An element is a
// small tree that is serialised when asked: a leaf carries its value bytes,
// a master its children, and the size field of any element can be forced to
// a longer vint, the all-ones "unknown" size or a wrong value, for the
// damaged layouts that no muxer writes. IDs are written as they stand in the
// file (0x1A45DFA3 is the four bytes 1A 45 DF A3). On top of it sit builders
// for the Matroska records the module reads: the EBML header, SegmentInfo,
// TrackEntry, Chapters, Tags, Attachments, Clusters with every lacing, Cues
// and SeekHead.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/byte_writer.h"

namespace zeptest {

namespace mkvid {
constexpr uint32_t kEbml = 0x1A45DFA3, kDocType = 0x4282, kSegment = 0x18538067;
constexpr uint32_t kSeekHead = 0x114D9B74, kSeek = 0x4DBB, kSeekId = 0x53AB, kSeekPosition = 0x53AC;
constexpr uint32_t kInfo = 0x1549A966, kTimecodeScale = 0x2AD7B1, kDuration = 0x4489;
constexpr uint32_t kSegmentUid = 0x73A4, kPrevUid = 0x3CB923, kNextUid = 0x3EB923;
constexpr uint32_t kTitle = 0x7BA9, kMuxingApp = 0x4D80, kWritingApp = 0x5741;
constexpr uint32_t kTracks = 0x1654AE6B, kTrackEntry = 0xAE, kTrackNumber = 0xD7;
constexpr uint32_t kTrackUid = 0x73C5, kTrackType = 0x83, kFlagDefault = 0x88;
constexpr uint32_t kFlagForced = 0x55AA, kDefaultDuration = 0x23E383, kName = 0x536E;
constexpr uint32_t kLanguage = 0x22B59C, kCodecId = 0x86, kCodecPrivate = 0x63A2;
constexpr uint32_t kCodecName = 0x258688, kVideo = 0xE0, kPixelWidth = 0xB0, kPixelHeight = 0xBA;
constexpr uint32_t kDisplayWidth = 0x54B0, kDisplayHeight = 0x54BA, kFlagInterlaced = 0x9A;
constexpr uint32_t kAudio = 0xE1, kSamplingFrequency = 0xB5, kOutputSamplingFrequency = 0x78B5;
constexpr uint32_t kChannels = 0x9F, kBitDepth = 0x6264;
constexpr uint32_t kContentEncodings = 0x6D80, kContentEncoding = 0x6240;
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
constexpr uint32_t kTargetTypeValue = 0x68CA, kTagTrackUid = 0x63C5, kTagEditionUid = 0x63C9;
constexpr uint32_t kTagChapterUid = 0x63C4, kTagAttachmentUid = 0x63C6;
constexpr uint32_t kSimpleTag = 0x67C8, kTagName = 0x45A3, kTagLanguage = 0x447A;
constexpr uint32_t kTagString = 0x4487, kTagBinary = 0x4485;
constexpr uint32_t kVoid = 0xEC, kCrc32 = 0xBF;
}  // namespace mkvid

// A vint of `value` in `length` bytes (0: the shortest one; a value whose
// shortest form would be all ones, the reserved unknown size, takes a byte
// more). The marker bit is set; the value must fit.
Bytes vint_bytes(uint64_t value, int length = 0);
// A signed vint (EBML lace sizes): the value plus the bias 2^(7n-1) - 1.
Bytes signed_vint_bytes(int64_t value, int length = 0);

class EbmlElement {
 public:
  static constexpr int kShortest = -1;

  // A master element; children are added with child().
  explicit EbmlElement(uint32_t id) : id_(id) {}
  EbmlElement(uint32_t id, std::initializer_list<EbmlElement> children);
  EbmlElement(uint32_t id, std::vector<EbmlElement> children);

  // Big-endian unsigned value in `width` bytes, 0..9 (a 9th byte is a
  // leading zero); kShortest: the fewest bytes, one for the value 0.
  static EbmlElement uint(uint32_t id, uint64_t value, int width = kShortest);
  // Two's complement in `width` bytes (kShortest: fewest that keep the sign).
  static EbmlElement sint(uint32_t id, int64_t value, int width = kShortest);
  // IEEE float in 4 or 8 bytes.
  static EbmlElement flt(uint32_t id, double value, int width = 8);
  static EbmlElement str(uint32_t id, std::string_view value);
  static EbmlElement bin(uint32_t id, Bytes value);
  // Bytes written as they stand, without any header: garbage, zero filling,
  // or a header written by hand.
  static EbmlElement raw(Bytes bytes);

  EbmlElement& child(EbmlElement e);
  EbmlElement& children(std::vector<EbmlElement> list);
  // The size field in exactly `length` bytes (1..8).
  EbmlElement& size_length(int length);
  // The all-ones size of `length` bytes: a size the reader must find itself.
  EbmlElement& unknown_size(int length = 8);
  // `size` in the size field whatever the content is.
  EbmlElement& wrong_size(uint64_t size);

  Bytes bytes() const;
  void write(ByteWriter& out) const;
  // Bytes of the whole element, and of its ID and size field alone.
  uint64_t byte_size() const;
  uint64_t header_size() const;
  uint32_t id() const { return id_; }

 private:
  EbmlElement() = default;
  uint64_t content_size() const;

  uint32_t id_ = 0;
  bool raw_ = false;
  Bytes payload_;
  std::vector<EbmlElement> children_;
  int sizeLength_ = 0;
  bool unknownSize_ = false;
  std::optional<uint64_t> forcedSize_;
};

// ---- Matroska records -------------------------------------------------------

// The EBML header: version 1, DocType, DocTypeVersion and ReadVersion.
EbmlElement mkv_ebml_header(std::string_view docType = "matroska", uint64_t docTypeVersion = 4);
// A Void element of `totalBytes` bytes in all (at least 2).
EbmlElement ebml_void(uint64_t totalBytes);
// A CRC-32 element; the value is stored little-endian as Matroska does.
EbmlElement ebml_crc32(uint32_t value);

// SegmentInfo; a zero scale, an absent duration and empty texts or UIDs are
// not written.
struct MkvInfo {
  uint64_t timecodeScale = 1000000;
  std::optional<double> duration;
  Bytes segmentUid, prevUid, nextUid;
  std::string title, muxingApp, writingApp;
  std::vector<EbmlElement> extra;
  EbmlElement element() const;
};

// A TrackEntry; zero numbers and empty texts are not written, the Video and
// Audio masters only when one of their values is set.
struct MkvTrack {
  uint64_t number = 1, uid = 1, type = 1;  // type 1 video, 2 audio, 17 subtitle
  std::string codecId;
  Bytes codecPrivate;
  std::string language, name;
  uint64_t defaultDuration = 0;  // ns
  uint64_t pixelWidth = 0, pixelHeight = 0;
  double samplingFrequency = 0, outputSamplingFrequency = 0;
  uint64_t channels = 0, bitDepth = 0;
  int compressionAlgo = -1;  // ContentCompAlgo (0 zlib, 3 header stripping); -1 none
  Bytes compressionSettings;
  std::vector<EbmlElement> extra;
  EbmlElement element() const;
};

struct MkvChapter {
  uint64_t uid = 0;
  uint64_t startNs = 0;
  std::optional<uint64_t> endNs;
  std::string name, language, country;  // one ChapterDisplay when a name is set
  std::optional<bool> hidden, enabled;
  std::vector<MkvChapter> children;  // nested ChapterAtoms
  EbmlElement element() const;
};

struct MkvEdition {
  uint64_t uid = 0;
  std::optional<bool> hidden, isDefault, ordered;
  std::vector<MkvChapter> chapters;
  EbmlElement element() const;
};
EbmlElement mkv_chapters(const std::vector<MkvEdition>& editions);

struct MkvSimpleTag {
  std::string name, value, language;
  Bytes binary;  // TagBinary when not empty
  std::vector<MkvSimpleTag> children;
  EbmlElement element() const;
};

struct MkvTag {
  uint64_t targetType = 0;                                        // TargetTypeValue; 0 not written
  std::vector<uint64_t> tracks, editions, chapters, attachments;  // target UIDs
  std::vector<MkvSimpleTag> simpleTags;
  EbmlElement element() const;
};
EbmlElement mkv_tags(const std::vector<MkvTag>& tags);

struct MkvAttachment {
  std::string fileName, mimeType, description;
  Bytes data;
  uint64_t uid = 0;
  EbmlElement element() const;
};
EbmlElement mkv_attachments(const std::vector<MkvAttachment>& files);

// ---- Blocks -----------------------------------------------------------------

enum class Lacing { kNone, kXiph, kFixed, kEbml };

constexpr uint8_t kBlockKey = 0x80;  // SimpleBlock flags
constexpr uint8_t kBlockInvisible = 0x08;

// The payload of a SimpleBlock or Block: the track number as a vint, the
// 16-bit time relative to the Cluster, the flags (the lacing bits are set
// from `lacing`), the lace header and the frames. kNone writes the frames
// one after the other.
Bytes mkv_block_payload(uint64_t track, int16_t relativeTime, uint8_t flags,
                        const std::vector<Bytes>& frames, Lacing lacing = Lacing::kNone);
EbmlElement mkv_simple_block(uint64_t track, int16_t relativeTime, uint8_t flags,
                             const std::vector<Bytes>& frames, Lacing lacing = Lacing::kNone);

struct MkvBlockGroup {
  uint64_t track = 1;
  int16_t relativeTime = 0;
  std::vector<Bytes> frames;
  Lacing lacing = Lacing::kNone;
  std::optional<uint64_t> duration;  // BlockDuration, in ticks
  std::vector<int64_t> references;   // ReferenceBlock values
  EbmlElement element() const;
};

EbmlElement mkv_cluster(uint64_t timecode, std::vector<EbmlElement> blocks);

// ---- Index elements ---------------------------------------------------------

struct MkvCuePoint {
  uint64_t time = 0;  // ticks
  uint64_t track = 1;
  uint64_t clusterPosition = 0;  // from the start of the Segment's data
  int positionWidth = EbmlElement::kShortest;
};
EbmlElement mkv_cues(const std::vector<MkvCuePoint>& points);
// SeekHead entries: (element ID, position from the Segment's data).
EbmlElement mkv_seek_head(const std::vector<std::pair<uint32_t, uint64_t>>& entries);

EbmlElement mkv_segment(std::vector<EbmlElement> children);
// Where each child starts, counted from the first (the Segment's data), for
// Cues and SeekHead entries written before the elements they point at.
std::vector<uint64_t> mkv_positions(const std::vector<EbmlElement>& children);
// A whole file: the EBML header, then the top-level elements.
Bytes mkv_file(const std::vector<EbmlElement>& topLevel);

}  // namespace zeptest
