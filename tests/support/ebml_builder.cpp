#include "tests/support/ebml_builder.h"

#include <cstring>
#include <stdexcept>

namespace zeptest {

namespace {

// Big-endian bytes of `value` in `width` bytes; bytes beyond the eighth are
// the sign byte `fill`.
Bytes big_endian(uint64_t value, int width, uint8_t fill = 0) {
  Bytes out;
  for (int i = width - 1; i >= 0; --i) out.push_back(i >= 8 ? fill : uint8_t(value >> (8 * i)));
  return out;
}

// The ID bytes without leading zeros; ID 0 is the single byte 00.
Bytes id_bytes(uint32_t id) {
  Bytes out;
  for (int shift = 24; shift >= 0; shift -= 8)
    if (!out.empty() || (id >> shift) != 0 || shift == 0) out.push_back(uint8_t(id >> shift));
  return out;
}

}  // namespace

Bytes vint_bytes(uint64_t value, int length) {
  if (length == 0) {
    length = 1;  // all ones in n bytes is the unknown size, so value < 2^7n - 1
    while (length < 8 && value >= (uint64_t(1) << (7 * length)) - 1) ++length;
  }
  if (length < 1 || length > 8 || value >> (7 * length) != 0)
    throw std::invalid_argument("value does not fit the vint");
  Bytes out = big_endian(value, length);
  out[0] |= uint8_t(0x80 >> (length - 1));
  return out;
}

Bytes signed_vint_bytes(int64_t value, int length) {
  auto bias = [](int n) { return (int64_t(1) << (7 * n - 1)) - 1; };
  if (length == 0) {
    length = 1;
    while (length < 8 && (value > bias(length) || value < -bias(length))) ++length;
  }
  return vint_bytes(uint64_t(value + bias(length)), length);
}

EbmlElement::EbmlElement(uint32_t id, std::initializer_list<EbmlElement> children)
    : EbmlElement(id, std::vector<EbmlElement>(children)) {}

EbmlElement::EbmlElement(uint32_t id, std::vector<EbmlElement> children)
    : id_(id), children_(std::move(children)) {}

EbmlElement EbmlElement::uint(uint32_t id, uint64_t value, int width) {
  if (width == kShortest) {
    width = 1;
    while (width < 8 && (value >> (8 * width)) != 0) ++width;
  }
  return bin(id, big_endian(value, width));
}

EbmlElement EbmlElement::sint(uint32_t id, int64_t value, int width) {
  if (width == kShortest) {
    width = 1;
    while (width < 8 &&
           (value >= (int64_t(1) << (8 * width - 1)) || value < -(int64_t(1) << (8 * width - 1))))
      ++width;
  }
  return bin(id, big_endian(uint64_t(value), width, value < 0 ? 0xFF : 0));
}

EbmlElement EbmlElement::flt(uint32_t id, double value, int width) {
  if (width == 4) {
    const float f = float(value);
    uint32_t bits = 0;
    std::memcpy(&bits, &f, 4);
    return bin(id, big_endian(bits, 4));
  }
  uint64_t bits = 0;
  std::memcpy(&bits, &value, 8);
  return bin(id, big_endian(bits, 8));
}

EbmlElement EbmlElement::str(uint32_t id, std::string_view value) {
  return bin(id, Bytes(value.begin(), value.end()));
}

EbmlElement EbmlElement::bin(uint32_t id, Bytes value) {
  EbmlElement e;
  e.id_ = id;
  e.payload_ = std::move(value);
  return e;
}

EbmlElement EbmlElement::raw(Bytes bytes) {
  EbmlElement e;
  e.raw_ = true;
  e.payload_ = std::move(bytes);
  return e;
}

EbmlElement& EbmlElement::child(EbmlElement e) {
  children_.push_back(std::move(e));
  return *this;
}

EbmlElement& EbmlElement::children(std::vector<EbmlElement> list) {
  for (EbmlElement& e : list) children_.push_back(std::move(e));
  return *this;
}

EbmlElement& EbmlElement::size_length(int length) {
  sizeLength_ = length;
  return *this;
}

EbmlElement& EbmlElement::unknown_size(int length) {
  unknownSize_ = true;
  sizeLength_ = length;
  return *this;
}

EbmlElement& EbmlElement::wrong_size(uint64_t size) {
  forcedSize_ = size;
  return *this;
}

uint64_t EbmlElement::content_size() const {
  uint64_t n = payload_.size();
  for (const EbmlElement& c : children_) n += c.byte_size();
  return n;
}

uint64_t EbmlElement::header_size() const {
  if (raw_) return 0;
  const uint64_t sizeField =
      unknownSize_ ? uint64_t(sizeLength_)
                   : vint_bytes(forcedSize_.value_or(content_size()), sizeLength_).size();
  return id_bytes(id_).size() + sizeField;
}

uint64_t EbmlElement::byte_size() const { return header_size() + content_size(); }

void EbmlElement::write(ByteWriter& out) const {
  if (!raw_) {
    out.bytes(id_bytes(id_));
    if (unknownSize_) {
      out.u8(uint8_t(0xFF >> (sizeLength_ - 1))).fill(0xFF, size_t(sizeLength_ - 1));
    } else {
      out.bytes(vint_bytes(forcedSize_.value_or(content_size()), sizeLength_));
    }
  }
  out.bytes(payload_);
  for (const EbmlElement& c : children_) c.write(out);
}

Bytes EbmlElement::bytes() const {
  ByteWriter w;
  write(w);
  return w.take();
}

// ---- Matroska records -------------------------------------------------------

using E = EbmlElement;
using namespace mkvid;

EbmlElement mkv_ebml_header(std::string_view docType, uint64_t docTypeVersion) {
  return E(kEbml, {E::uint(0x4286, 1), E::uint(0x42F7, 1), E::uint(0x42F2, 4), E::uint(0x42F3, 8),
                   E::str(kDocType, docType), E::uint(0x4287, docTypeVersion), E::uint(0x4285, 2)});
}

EbmlElement ebml_void(uint64_t totalBytes) {
  for (int n = 1; n <= 8; ++n) {
    if (totalBytes < uint64_t(1 + n)) break;
    const uint64_t payload = totalBytes - 1 - uint64_t(n);
    if (n == 8 || payload < (uint64_t(1) << (7 * n)) - 1)
      return E::bin(kVoid, Bytes(payload, 0)).size_length(n);
  }
  throw std::invalid_argument("a Void takes at least 2 bytes");
}

EbmlElement ebml_crc32(uint32_t value) {
  ByteWriter w;
  w.le32(value);
  return E::bin(kCrc32, w.take());
}

namespace {
// Optional children: written only when set.
void add_text(E& e, uint32_t id, const std::string& s) {
  if (!s.empty()) e.child(E::str(id, s));
}
void add_bytes(E& e, uint32_t id, const Bytes& b) {
  if (!b.empty()) e.child(E::bin(id, b));
}
void add_uint(E& e, uint32_t id, uint64_t v) {
  if (v != 0) e.child(E::uint(id, v));
}
void add_flag(E& e, uint32_t id, const std::optional<bool>& v) {
  if (v) e.child(E::uint(id, *v ? 1 : 0));
}
template <typename T>
E master_of(uint32_t id, const std::vector<T>& items) {
  E e(id);
  for (const T& item : items) e.child(item.element());
  return e;
}
}  // namespace

EbmlElement MkvInfo::element() const {
  E e(kInfo);
  add_uint(e, kTimecodeScale, timecodeScale);
  if (duration) e.child(E::flt(kDuration, *duration));
  add_bytes(e, kSegmentUid, segmentUid);
  add_bytes(e, kPrevUid, prevUid);
  add_bytes(e, kNextUid, nextUid);
  add_text(e, kTitle, title);
  add_text(e, kMuxingApp, muxingApp);
  add_text(e, kWritingApp, writingApp);
  return e.children(extra);
}

EbmlElement MkvTrack::element() const {
  E e(kTrackEntry);
  add_uint(e, kTrackNumber, number);
  add_uint(e, kTrackUid, uid);
  add_uint(e, kTrackType, type);
  add_text(e, kCodecId, codecId);
  add_bytes(e, kCodecPrivate, codecPrivate);
  add_text(e, kLanguage, language);
  add_text(e, kName, name);
  add_uint(e, kDefaultDuration, defaultDuration);
  if (pixelWidth || pixelHeight)
    e.child(E(kVideo, {E::uint(kPixelWidth, pixelWidth), E::uint(kPixelHeight, pixelHeight)}));
  if (samplingFrequency > 0 || channels) {
    E audio(kAudio);
    if (samplingFrequency > 0) audio.child(E::flt(kSamplingFrequency, samplingFrequency));
    if (outputSamplingFrequency > 0)
      audio.child(E::flt(kOutputSamplingFrequency, outputSamplingFrequency));
    add_uint(audio, kChannels, channels);
    add_uint(audio, kBitDepth, bitDepth);
    e.child(std::move(audio));
  }
  if (compressionAlgo >= 0) {
    E compression(kContentCompression, {E::uint(kContentCompAlgo, uint64_t(compressionAlgo))});
    add_bytes(compression, kContentCompSettings, compressionSettings);
    e.child(E(kContentEncodings, {E(kContentEncoding, {std::move(compression)})}));
  }
  return e.children(extra);
}

EbmlElement MkvChapter::element() const {
  E e(kChapterAtom, {E::uint(kChapterUid, uid), E::uint(kChapterTimeStart, startNs)});
  if (endNs) e.child(E::uint(kChapterTimeEnd, *endNs));
  add_flag(e, kChapterFlagHidden, hidden);
  add_flag(e, kChapterFlagEnabled, enabled);
  if (!name.empty()) {
    E display(kChapterDisplay, {E::str(kChapString, name)});
    add_text(display, kChapLanguage, language);
    add_text(display, kChapCountry, country);
    e.child(std::move(display));
  }
  for (const MkvChapter& c : children) e.child(c.element());
  return e;
}

EbmlElement MkvEdition::element() const {
  E e(kEditionEntry);
  add_uint(e, kEditionUid, uid);
  add_flag(e, kEditionFlagHidden, hidden);
  add_flag(e, kEditionFlagDefault, isDefault);
  add_flag(e, kEditionFlagOrdered, ordered);
  for (const MkvChapter& c : chapters) e.child(c.element());
  return e;
}

EbmlElement mkv_chapters(const std::vector<MkvEdition>& editions) {
  return master_of(kChapters, editions);
}

EbmlElement MkvSimpleTag::element() const {
  E e(kSimpleTag, {E::str(kTagName, name)});
  add_text(e, kTagLanguage, language);
  add_text(e, kTagString, value);
  add_bytes(e, kTagBinary, binary);
  for (const MkvSimpleTag& c : children) e.child(c.element());
  return e;
}

EbmlElement MkvTag::element() const {
  E targets(kTargets);
  add_uint(targets, kTargetTypeValue, targetType);
  for (uint64_t uid : tracks) targets.child(E::uint(kTagTrackUid, uid));
  for (uint64_t uid : editions) targets.child(E::uint(kTagEditionUid, uid));
  for (uint64_t uid : chapters) targets.child(E::uint(kTagChapterUid, uid));
  for (uint64_t uid : attachments) targets.child(E::uint(kTagAttachmentUid, uid));
  E e(kTag, {std::move(targets)});
  for (const MkvSimpleTag& s : simpleTags) e.child(s.element());
  return e;
}

EbmlElement mkv_tags(const std::vector<MkvTag>& tags) { return master_of(kTags, tags); }

EbmlElement MkvAttachment::element() const {
  E e(kAttachedFile);
  add_text(e, kFileDescription, description);
  add_text(e, kFileName, fileName);
  add_text(e, kFileMimeType, mimeType);
  e.child(E::bin(kFileData, data));
  add_uint(e, kFileUid, uid);
  return e;
}

EbmlElement mkv_attachments(const std::vector<MkvAttachment>& files) {
  return master_of(kAttachments, files);
}

// ---- Blocks -----------------------------------------------------------------

Bytes mkv_block_payload(uint64_t track, int16_t relativeTime, uint8_t flags,
                        const std::vector<Bytes>& frames, Lacing lacing) {
  static constexpr uint8_t kLacingBits[] = {0x00, 0x02, 0x04, 0x06};
  ByteWriter w;
  w.bytes(vint_bytes(track)).be16(uint16_t(relativeTime));
  w.u8(uint8_t((flags & ~0x06) | kLacingBits[int(lacing)]));
  if (lacing != Lacing::kNone) {
    w.u8(uint8_t(frames.size() - 1));  // the lace count is the frames less one
    // Every size but the last; the last frame takes what the block has left.
    for (size_t i = 0; i + 1 < frames.size(); ++i) {
      const int64_t size = int64_t(frames[i].size());
      if (lacing == Lacing::kXiph) {
        w.fill(0xFF, size_t(size / 255)).u8(uint8_t(size % 255));
      } else if (lacing == Lacing::kEbml) {
        // The first size as it is, the others as differences to the one before.
        w.bytes(i == 0 ? vint_bytes(uint64_t(size))
                       : signed_vint_bytes(size - int64_t(frames[i - 1].size())));
      }
    }
  }
  for (const Bytes& f : frames) w.bytes(f);
  return w.take();
}

EbmlElement mkv_simple_block(uint64_t track, int16_t relativeTime, uint8_t flags,
                             const std::vector<Bytes>& frames, Lacing lacing) {
  return E::bin(kSimpleBlock, mkv_block_payload(track, relativeTime, flags, frames, lacing));
}

EbmlElement MkvBlockGroup::element() const {
  E e(kBlockGroup, {E::bin(kBlock, mkv_block_payload(track, relativeTime, 0, frames, lacing))});
  if (duration) e.child(E::uint(kBlockDuration, *duration));
  for (int64_t r : references) e.child(E::sint(kReferenceBlock, r));
  return e;
}

EbmlElement mkv_cluster(uint64_t timecode, std::vector<EbmlElement> blocks) {
  return E(kCluster, {E::uint(kTimecode, timecode)}).children(std::move(blocks));
}

// ---- Index elements ---------------------------------------------------------

EbmlElement mkv_cues(const std::vector<MkvCuePoint>& points) {
  E e(kCues);
  for (const MkvCuePoint& p : points)
    e.child(E(kCuePoint, {E::uint(kCueTime, p.time),
                          E(kCueTrackPositions,
                            {E::uint(kCueTrack, p.track),
                             E::uint(kCueClusterPosition, p.clusterPosition, p.positionWidth)})}));
  return e;
}

EbmlElement mkv_seek_head(const std::vector<std::pair<uint32_t, uint64_t>>& entries) {
  E e(kSeekHead);
  for (auto [id, position] : entries)
    e.child(E(kSeek, {E::bin(kSeekId, id_bytes(id)), E::uint(kSeekPosition, position)}));
  return e;
}

EbmlElement mkv_segment(std::vector<EbmlElement> children) {
  return E(kSegment, std::move(children));
}

std::vector<uint64_t> mkv_positions(const std::vector<EbmlElement>& children) {
  std::vector<uint64_t> out;
  uint64_t at = 0;
  for (const EbmlElement& c : children) {
    out.push_back(at);
    at += c.byte_size();
  }
  return out;
}

Bytes mkv_file(const std::vector<EbmlElement>& topLevel) {
  ByteWriter w;
  mkv_ebml_header().write(w);
  for (const EbmlElement& e : topLevel) e.write(w);
  return w.take();
}

}  // namespace zeptest
