// Byte-exact EBML (Matroska) elements for crafted files, damaged sizes included: an element
// holds its ID (as it stands in the file) and its content, children serialised when added.
#pragma once

#include <bit>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "tests/support/byte_writer.h"

namespace zeptest {

namespace mkvid {
constexpr uint32_t kEbml = 0x1A45DFA3, kSegment = 0x18538067, kVoid = 0xEC, kCrc32 = 0xBF;
constexpr uint32_t kInfo = 0x1549A966, kTimecodeScale = 0x2AD7B1, kDuration = 0x4489;
constexpr uint32_t kSegmentUid = 0x73A4, kPrevUid = 0x3CB923, kNextUid = 0x3EB923, kTitle = 0x7BA9;
constexpr uint32_t kMuxingApp = 0x4D80, kTracks = 0x1654AE6B, kTrackEntry = 0xAE;
constexpr uint32_t kTrackNumber = 0xD7, kTrackUid = 0x73C5, kTrackType = 0x83;
constexpr uint32_t kDefaultDuration = 0x23E383, kName = 0x536E, kCodecId = 0x86, kVideo = 0xE0;
constexpr uint32_t kPixelWidth = 0xB0, kPixelHeight = 0xBA, kAudio = 0xE1;
constexpr uint32_t kSamplingFrequency = 0xB5, kOutputSamplingFrequency = 0x78B5, kChannels = 0x9F;
constexpr uint32_t kContentEncodings = 0x6D80, kContentEncoding = 0x6240;
constexpr uint32_t kContentCompression = 0x5034, kContentCompAlgo = 0x4254;
constexpr uint32_t kContentCompSettings = 0x4255, kCluster = 0x1F43B675, kTimecode = 0xE7;
constexpr uint32_t kSimpleBlock = 0xA3, kBlockGroup = 0xA0, kBlock = 0xA1, kBlockDuration = 0x9B;
constexpr uint32_t kReferenceBlock = 0xFB, kCues = 0x1C53BB6B, kCuePoint = 0xBB, kCueTime = 0xB3;
constexpr uint32_t kCueTrackPositions = 0xB7, kCueTrack = 0xF7, kCueClusterPosition = 0xF1;
constexpr uint32_t kChapters = 0x1043A770, kEditionEntry = 0x45B9, kEditionUid = 0x45BC;
constexpr uint32_t kEditionFlagHidden = 0x45BD, kEditionFlagDefault = 0x45DB;
constexpr uint32_t kEditionFlagOrdered = 0x45DD, kChapterAtom = 0xB6, kChapterUid = 0x73C4;
constexpr uint32_t kChapterTimeStart = 0x91, kChapterTimeEnd = 0x92, kChapterFlagHidden = 0x98;
constexpr uint32_t kChapterFlagEnabled = 0x4598, kChapterDisplay = 0x80, kChapString = 0x85;
constexpr uint32_t kChapLanguage = 0x437C, kChapCountry = 0x437E, kAttachments = 0x1941A469;
constexpr uint32_t kAttachedFile = 0x61A7, kFileDescription = 0x467E, kFileName = 0x466E;
constexpr uint32_t kFileMimeType = 0x4660, kFileData = 0x465C, kFileUid = 0x46AE;
constexpr uint32_t kTags = 0x1254C367, kTag = 0x7373, kTargets = 0x63C0, kTargetType = 0x63CA;
constexpr uint32_t kTargetTypeValue = 0x68CA, kTagTrackUid = 0x63C5, kTagChapterUid = 0x63C4;
constexpr uint32_t kTagAttachmentUid = 0x63C6, kSimpleTag = 0x67C8, kTagName = 0x45A3;
constexpr uint32_t kTagLanguage = 0x447A, kTagString = 0x4487, kTagBinary = 0x4485;
}  // namespace mkvid

// The last `width` bytes of `value`, big-endian.
inline Bytes big_endian(uint64_t value, int width) {
  Bytes out;
  for (int i = width - 1; i >= 0; --i) out.push_back(uint8_t(value >> (8 * i)));
  return out;
}

// The shortest vint of `value` with its marker bit (all ones in n bytes is
// the unknown size, so 2^7n - 1 takes a byte more); signed: the value plus
// the bias 2^(7n-1) - 1, as EBML lace sizes are written.
inline Bytes vint_bytes(int64_t value, bool isSigned = false) {
  auto bias = [&](int n) { return isSigned ? (int64_t(1) << (7 * n - 1)) - 1 : 0; };
  auto fits = [&](int n) {
    return isSigned ? value <= bias(n) && value >= -bias(n)
                    : uint64_t(value) < (uint64_t(1) << (7 * n)) - 1;
  };
  int n = 1;
  while (n < 8 && !fits(n)) ++n;
  if (!fits(n)) throw std::invalid_argument("value does not fit a vint");
  Bytes out = big_endian(uint64_t(value + bias(n)), n);
  out[0] |= uint8_t(0x80 >> (n - 1));
  return out;
}

class EbmlElement {
 public:
  // A master element and its children.
  explicit EbmlElement(uint32_t id, const std::vector<EbmlElement>& list = {}) : id_(id) {
    children(list);
  }
  // Values in the fewest bytes (one for 0; a signed one keeps its sign), floats in 8.
  static EbmlElement uint(uint32_t id, uint64_t value, bool isSigned = false) {
    int w = 1;  // a signed value takes the bytes in which it keeps its sign
    while (w < 8 &&
           (isSigned ? uint64_t((int64_t(value) >> (8 * w - 1)) + 1) > 1 : value >> (8 * w)))
      ++w;
    return bin(id, big_endian(value, w));
  }
  static EbmlElement sint(uint32_t id, int64_t value) { return uint(id, uint64_t(value), true); }
  static EbmlElement flt(uint32_t id, double value) {
    return bin(id, big_endian(std::bit_cast<uint64_t>(value), 8));
  }
  static EbmlElement str(uint32_t id, std::string_view value) {
    return bin(id, Bytes(value.begin(), value.end()));
  }
  static EbmlElement bin(uint32_t id, Bytes value) {
    EbmlElement e(id);
    e.content_ = std::move(value);
    return e;
  }
  // Bytes written as they stand, without a header: garbage or zero filling.
  static EbmlElement raw(Bytes bytes) { return bin(0, std::move(bytes)).raw_size(); }

  EbmlElement& child(const EbmlElement& e) {
    const Bytes b = e.bytes();
    content_.insert(content_.end(), b.begin(), b.end());
    return *this;
  }
  EbmlElement& children(const std::vector<EbmlElement>& list) {
    for (const EbmlElement& c : list) child(c);
    return *this;
  }
  // The 8-byte all-ones size (the reader must find the end itself); `size`
  // whatever the content is; no header at all.
  EbmlElement& unknown_size() { return unknownSize_ = true, *this; }
  EbmlElement& wrong_size(uint64_t size) { return forcedSize_ = size, *this; }
  EbmlElement& raw_size() { return raw_ = true, *this; }

  // The ID (without leading zero bytes) and the size field.
  Bytes header() const {
    if (raw_) return {};
    Bytes out;
    for (int shift = 24; shift >= 0; shift -= 8)
      if (!out.empty() || (id_ >> shift) != 0 || shift == 0) out.push_back(uint8_t(id_ >> shift));
    const Bytes size = unknownSize_ ? Bytes{0x01, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}
                                    : vint_bytes(int64_t(forcedSize_.value_or(content_.size())));
    out.insert(out.end(), size.begin(), size.end());
    return out;
  }
  Bytes bytes() const {
    Bytes out = header();
    out.insert(out.end(), content_.begin(), content_.end());
    return out;
  }
  uint64_t byte_size() const { return header().size() + content_.size(); }

 private:
  uint32_t id_;
  bool raw_ = false, unknownSize_ = false;
  Bytes content_;
  std::optional<uint64_t> forcedSize_;
};

using E = EbmlElement;  // the short name the tests use

// The EBML header: versions, ID and size lengths, DocType "matroska" and its versions.
inline E mkv_ebml_header() {
  return E(mkvid::kEbml,
           {E::uint(0x4286, 1), E::uint(0x42F7, 1), E::uint(0x42F2, 4), E::uint(0x42F3, 8),
            E::str(0x4282, "matroska"), E::uint(0x4287, 4), E::uint(0x4285, 2)});
}
// A Void of `totalBytes` bytes in all (2..128).
inline E ebml_void(size_t totalBytes) { return E::bin(mkvid::kVoid, Bytes(totalBytes - 2, 0)); }
// A CRC-32 element; the value is stored little-endian.
inline E ebml_crc32(uint32_t v) {
  return E::bin(mkvid::kCrc32, {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)});
}

// SegmentInfo with the scale (ns per tick), the duration when set, and more.
inline E mkv_info(std::optional<double> duration = std::nullopt, uint64_t scale = 1000000,
                  const std::vector<E>& more = {}) {
  E e(mkvid::kInfo, {E::uint(mkvid::kTimecodeScale, scale)});
  if (duration) e.child(E::flt(mkvid::kDuration, *duration));
  return e.children(more);
}
// A TrackEntry (type 1 video, 2 audio, 17 subtitle) whose UID is its number.
inline E mkv_track(uint64_t number, uint64_t type, std::string_view codecId,
                   const std::vector<E>& more = {}) {
  return E(mkvid::kTrackEntry,
           {E::uint(mkvid::kTrackNumber, number), E::uint(mkvid::kTrackUid, number),
            E::uint(mkvid::kTrackType, type), E::str(mkvid::kCodecId, codecId)})
      .children(more);
}

enum class Lacing { kNone, kXiph, kFixed, kEbml };
constexpr uint8_t kBlockKey = 0x80;  // SimpleBlock flags

// A SimpleBlock's or Block's payload: track vint, 16-bit time relative to the Cluster, the
// flags with the lacing bits, the lace head (every size but the last) and the frames.
inline Bytes mkv_block_payload(uint64_t track, int16_t relativeTime, uint8_t flags,
                               const std::vector<Bytes>& frames, Lacing lacing = Lacing::kNone) {
  ByteWriter w;
  w.bytes(vint_bytes(int64_t(track))).be16(uint16_t(relativeTime));
  w.u8(uint8_t((flags & ~0x06) | (int(lacing) << 1)));
  if (lacing != Lacing::kNone) {
    w.u8(uint8_t(frames.size() - 1));  // the lace count is the frames less one
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
      const int64_t size = int64_t(frames[i].size());
      if (lacing == Lacing::kXiph) w.fill(0xFF, size_t(size / 255)).u8(uint8_t(size % 255));
      // EBML: the first size as it is, the others as differences to the one before.
      if (lacing == Lacing::kEbml)
        w.bytes(i == 0 ? vint_bytes(size) : vint_bytes(size - int64_t(frames[i - 1].size()), true));
    }
  }
  for (const Bytes& f : frames) w.bytes(f);
  return w.take();
}
inline E mkv_simple_block(uint64_t track, int16_t relativeTime, uint8_t flags,
                          const std::vector<Bytes>& frames, Lacing lacing = Lacing::kNone) {
  return E::bin(mkvid::kSimpleBlock, mkv_block_payload(track, relativeTime, flags, frames, lacing));
}
// A BlockGroup of one frame, with its BlockDuration and ReferenceBlocks.
inline E mkv_block_group(uint64_t track, int16_t relativeTime, const Bytes& frame,
                         std::optional<uint64_t> duration, std::vector<int64_t> references = {}) {
  E e(mkvid::kBlockGroup,
      {E::bin(mkvid::kBlock, mkv_block_payload(track, relativeTime, 0, {frame}))});
  if (duration) e.child(E::uint(mkvid::kBlockDuration, *duration));
  for (int64_t r : references) e.child(E::sint(mkvid::kReferenceBlock, r));
  return e;
}
inline E mkv_cluster(uint64_t timecode, const std::vector<E>& blocks) {
  return E(mkvid::kCluster, {E::uint(mkvid::kTimecode, timecode)}).children(blocks);
}
// Cues of track 1: (time in ticks, Cluster position from the Segment's data).
inline E mkv_cues(const std::vector<std::pair<uint64_t, uint64_t>>& points) {
  E e(mkvid::kCues);
  for (auto [time, position] : points)
    e.child(E(mkvid::kCuePoint,
              {E::uint(mkvid::kCueTime, time),
               E(mkvid::kCueTrackPositions,
                 {E::uint(mkvid::kCueTrack, 1), E::uint(mkvid::kCueClusterPosition, position)})}));
  return e;
}
inline E mkv_segment(const std::vector<E>& children) { return E(mkvid::kSegment, children); }
// Where each child starts from the first (the Segment's data), for Cues after their Clusters.
inline std::vector<uint64_t> mkv_positions(const std::vector<E>& children) {
  std::vector<uint64_t> out = {0};
  for (const E& c : children) out.push_back(out.back() + c.byte_size());
  return out;
}
// A whole file: the EBML header, then the top-level elements.
inline Bytes mkv_file(const std::vector<E>& topLevel) {
  return E::raw({}).child(mkv_ebml_header()).children(topLevel).bytes();
}

}  // namespace zeptest
