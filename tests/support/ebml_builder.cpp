#include "tests/support/ebml_builder.h"

#include <cstring>
#include <stdexcept>

namespace zeptest {

using E = EbmlElement;
using namespace mkvid;

namespace {

// The last `width` bytes of `value`, big-endian.
Bytes big_endian(uint64_t value, int width) {
  Bytes out;
  for (int i = width - 1; i >= 0; --i) out.push_back(uint8_t(value >> (8 * i)));
  return out;
}

// The ID bytes without leading zeros.
Bytes id_bytes(uint32_t id) {
  Bytes out;
  for (int shift = 24; shift >= 0; shift -= 8)
    if (!out.empty() || (id >> shift) != 0 || shift == 0) out.push_back(uint8_t(id >> shift));
  return out;
}

// The shortest vint of `value` with its marker bit; all ones in n bytes is
// the unknown size, so a value of 2^7n - 1 takes a byte more.
Bytes vint_bytes(uint64_t value) {
  int length = 1;
  while (length < 8 && value >= (uint64_t(1) << (7 * length)) - 1) ++length;
  if (value >> (7 * length) != 0) throw std::invalid_argument("value does not fit a vint");
  Bytes out = big_endian(value, length);
  out[0] |= uint8_t(0x80 >> (length - 1));
  return out;
}

// A signed vint (EBML lace sizes): the value plus the bias 2^(7n-1) - 1.
Bytes signed_vint_bytes(int64_t value) {
  auto bias = [](int n) { return (int64_t(1) << (7 * n - 1)) - 1; };
  int length = 1;
  while (length < 8 && (value > bias(length) || value < -bias(length))) ++length;
  Bytes out = big_endian(uint64_t(value + bias(length)), length);
  out[0] |= uint8_t(0x80 >> (length - 1));
  return out;
}

}  // namespace

E E::uint(uint32_t id, uint64_t value) {
  int width = 1;
  while (width < 8 && (value >> (8 * width)) != 0) ++width;
  return bin(id, big_endian(value, width));
}

E E::sint(uint32_t id, int64_t value) {
  int width = 1;
  while (width < 8 &&
         (value >= int64_t(1) << (8 * width - 1) || value < -(int64_t(1) << (8 * width - 1))))
    ++width;
  return bin(id, big_endian(uint64_t(value), width));
}

E E::flt(uint32_t id, double value) {
  uint64_t bits = 0;
  std::memcpy(&bits, &value, 8);
  return bin(id, big_endian(bits, 8));
}

E E::str(uint32_t id, std::string_view value) { return bin(id, Bytes(value.begin(), value.end())); }

E E::bin(uint32_t id, Bytes value) {
  E e(id);
  e.payload_ = std::move(value);
  return e;
}

E E::raw(Bytes bytes) {
  E e = bin(0, std::move(bytes));
  e.raw_ = true;
  return e;
}

E& E::child(E e) {
  children_.push_back(std::move(e));
  return *this;
}

E& E::unknown_size() {
  unknownSize_ = true;
  return *this;
}

E& E::wrong_size(uint64_t size) {
  forcedSize_ = size;
  return *this;
}

uint64_t E::content_size() const {
  uint64_t n = payload_.size();
  for (const E& c : children_) n += c.byte_size();
  return n;
}

uint64_t E::header_size() const {
  if (raw_) return 0;
  const uint64_t sizeField =
      unknownSize_ ? 8 : vint_bytes(forcedSize_.value_or(content_size())).size();
  return id_bytes(id_).size() + sizeField;
}

void E::write(ByteWriter& out) const {
  if (!raw_) {
    out.bytes(id_bytes(id_));
    if (unknownSize_) {
      out.u8(0x01).fill(0xFF, 7);
    } else {
      out.bytes(vint_bytes(forcedSize_.value_or(content_size())));
    }
  }
  out.bytes(payload_);
  for (const E& c : children_) c.write(out);
}

Bytes E::bytes() const {
  ByteWriter w;
  write(w);
  return w.take();
}

// ---- Matroska records -------------------------------------------------------

E mkv_ebml_header() {
  // EBMLVersion, ReadVersion, MaxIDLength, MaxSizeLength, DocType and its versions.
  return E(kEbml, {E::uint(0x4286, 1), E::uint(0x42F7, 1), E::uint(0x42F2, 4), E::uint(0x42F3, 8),
                   E::str(0x4282, "matroska"), E::uint(0x4287, 4), E::uint(0x4285, 2)});
}

E ebml_void(uint64_t totalBytes) {
  if (totalBytes < 2 || totalBytes > 128) throw std::invalid_argument("a Void of 2..128 bytes");
  return E::bin(kVoid, Bytes(totalBytes - 2, 0));
}

E ebml_crc32(uint32_t value) {
  ByteWriter w;
  w.le32(value);
  return E::bin(kCrc32, w.take());
}

E mkv_info(std::optional<double> duration, uint64_t scale, std::vector<E> more) {
  E e(kInfo, {E::uint(kTimecodeScale, scale)});
  if (duration) e.child(E::flt(kDuration, *duration));
  for (E& m : more) e.child(std::move(m));
  return e;
}

E mkv_track(uint64_t number, uint64_t type, std::string_view codecId, std::vector<E> more) {
  E e(kTrackEntry, {E::uint(kTrackNumber, number), E::uint(kTrackUid, number),
                    E::uint(kTrackType, type), E::str(kCodecId, codecId)});
  for (E& m : more) e.child(std::move(m));
  return e;
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

E mkv_simple_block(uint64_t track, int16_t relativeTime, uint8_t flags,
                   const std::vector<Bytes>& frames, Lacing lacing) {
  return E::bin(kSimpleBlock, mkv_block_payload(track, relativeTime, flags, frames, lacing));
}

E mkv_block_group(uint64_t track, int16_t relativeTime, Bytes frame,
                  std::optional<uint64_t> duration, std::vector<int64_t> references) {
  E e(kBlockGroup, {E::bin(kBlock, mkv_block_payload(track, relativeTime, 0, {frame}))});
  if (duration) e.child(E::uint(kBlockDuration, *duration));
  for (int64_t r : references) e.child(E::sint(kReferenceBlock, r));
  return e;
}

E mkv_cluster(uint64_t timecode, std::vector<E> blocks) {
  E e(kCluster, {E::uint(kTimecode, timecode)});
  for (E& b : blocks) e.child(std::move(b));
  return e;
}

E mkv_cues(const std::vector<std::pair<uint64_t, uint64_t>>& points) {
  E e(kCues);
  for (auto [time, position] : points)
    e.child(E(kCuePoint, {E::uint(kCueTime, time),
                          E(kCueTrackPositions,
                            {E::uint(kCueTrack, 1), E::uint(kCueClusterPosition, position)})}));
  return e;
}

E mkv_segment(std::vector<E> children) { return E(kSegment, std::move(children)); }

std::vector<uint64_t> mkv_positions(const std::vector<E>& children) {
  std::vector<uint64_t> out;
  uint64_t at = 0;
  for (const E& c : children) {
    out.push_back(at);
    at += c.byte_size();
  }
  return out;
}

Bytes mkv_file(const std::vector<E>& topLevel) {
  Bytes out = mkv_ebml_header().bytes();
  for (const E& e : topLevel) {
    const Bytes b = e.bytes();
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

}  // namespace zeptest
