// The EBML layer: variable-length integers, element headers, one reader per
// value type, the table of known elements and the one routine that walks
// the children of a master element. Everything above it in the module is a
// handler given to WalkChildren.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "layer1/zep_status.h"
#include "modules/mkv/mkv_byte_source.h"

namespace mkv {

// Statuses of this layer (the handlers above it return ZEP_ERR_* codes).
constexpr ZEP_STATUS EBML_ERR_NOT_EBML = -1;
constexpr ZEP_STATUS EBML_ERR_BAD_ARG = -2;
constexpr ZEP_STATUS EBML_ERR_SHORT_READ = -4;
constexpr ZEP_STATUS EBML_ERR_NO_MEMORY = -10;

enum EbmlValueType : uint32_t {
  kTypeMaster = 1,
  kTypeUInt = 5,
  kTypeSInt = 6,
  kTypeFloat = 7,
  kTypeUtf8 = 8,
  kTypeAscii = 9,
  kTypeFlag = 10,
  kTypeBinary = 11,
};

struct EbmlElementInfo {
  uint32_t id;
  uint32_t type;
  const char16_t* name;
};

constexpr size_t kElementCount = 144;
extern const EbmlElementInfo kElementTable[kElementCount];
// The row of an ID; row 0 ("UNKNOWN") for an ID not in the table.
const EbmlElementInfo& element_info(uint32_t id);

// The all-ones size of a vint of `length` bytes (the EBML "unknown" size).
uint64_t unknown_size(uint32_t length);

// Bounded big-endian reader over bytes in memory: block headers, lace
// headers and codec private data go through it. A read past the end yields
// zero and marks the reader failed.
class BeReader {
 public:
  BeReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool ok() const { return ok_; }
  size_t position() const { return pos_; }
  size_t remaining() const { return size_ - pos_; }
  void skip(size_t n) {
    if (n > remaining()) return fail();
    pos_ += n;
  }
  uint8_t u8() { return uint8_t(take(1)); }
  uint16_t u16() { return uint16_t(take(2)); }
  uint32_t u32() { return uint32_t(take(4)); }
  uint64_t uint(size_t width) { return take(width); }
  // An EBML vint; `length` (optional) is the bytes it took. A first byte 0
  // reads as 9 bytes: the eight that follow.
  uint64_t vint(bool stripMarker, uint32_t* length = nullptr);
  // A signed (lace size) vint: the unsigned value minus its bias. A first
  // byte 0 has no bias and fails the reader.
  int64_t svint(uint32_t* length = nullptr);
  const uint8_t* bytes(size_t n) {
    if (n > remaining()) {
      fail();
      return nullptr;
    }
    const uint8_t* p = data_ + pos_;
    pos_ += n;
    return p;
  }

 private:
  void fail() {
    ok_ = false;
    pos_ = size_;
  }
  uint64_t take(size_t width) {
    if (width > 8 || width > remaining()) {
      fail();
      return 0;
    }
    uint64_t v = 0;
    for (size_t i = 0; i < width; ++i) v = v << 8 | data_[pos_ + i];
    pos_ += width;
    return v;
  }

  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  bool ok_ = true;
};

// ---- Reading from the byte source ---------------------------------------

// The length class of a vint's first byte: 1..8, or 9 for 0x00.
uint32_t vint_length(uint8_t first);
ZEP_STATUS ReadVint(MkvByteSource& source, bool isSigned, bool stripMarker, uint64_t* value,
                    uint32_t* length);
// An element ID (marker kept, in 32 bits) and its data size (marker stripped).
ZEP_STATUS ReadElementHeader(MkvByteSource& source, uint32_t* id, uint64_t* size,
                             uint32_t* headerLength = nullptr);

ZEP_STATUS ReadUInt(MkvByteSource& source, uint64_t size, uint64_t* value);
ZEP_STATUS ReadSInt(MkvByteSource& source, uint64_t size, int64_t* value);
ZEP_STATUS ReadFloat(MkvByteSource& source, uint64_t size, double* value);
ZEP_STATUS ReadFlag(MkvByteSource& source, uint64_t size, uint64_t* value);
// UTF-8 decoded to UTF-16; the first 2000 bytes are kept.
ZEP_STATUS ReadUtf8String(MkvByteSource& source, uint64_t size, std::u16string* value);
// Every byte widened to one character (read in pieces of 2000 bytes), up to
// kMaxAsciiBytes; the rest of a longer value is not kept.
ZEP_STATUS ReadAsciiString(MkvByteSource& source, uint64_t size, std::u16string* value);
// The bytes as they stand; a size above `capacity` fails with -10.
ZEP_STATUS ReadBinary(MkvByteSource& source, uint64_t size, void* dest, uint64_t capacity);
ZEP_STATUS ReadBinary(MkvByteSource& source, uint64_t size, std::vector<uint8_t>* dest,
                      uint64_t capacity);

constexpr uint64_t kStringPieceBytes = 2000;
constexpr uint64_t kMaxAsciiBytes = 64 * 1024;

// UTF-8 bytes as UTF-16 (code points above U+FFFF as surrogate pairs; a
// malformed or cut sequence as U+FFFD).
std::u16string utf8_to_utf16(const uint8_t* bytes, size_t size);

// ---- The walk ------------------------------------------------------------

class EbmlReader;

// A borrowed callable: the handler of one walk.
class ElementHandler {
 public:
  template <typename F>
  ElementHandler(F&& f)  // NOLINT: handlers are passed as lambdas
      : object_(const_cast<void*>(static_cast<const void*>(&f))),
        call_([](void* o, EbmlReader& r, uint32_t id, uint64_t elementPos, uint64_t dataPos,
                 uint64_t& size) -> ZEP_STATUS {
          return (*static_cast<std::remove_reference_t<F>*>(o))(r, id, elementPos, dataPos, size);
        }) {}
  ZEP_STATUS operator()(EbmlReader& r, uint32_t id, uint64_t elementPos, uint64_t dataPos,
                        uint64_t& size) const {
    return call_(object_, r, id, elementPos, dataPos, size);
  }

 private:
  void* object_;
  ZEP_STATUS (*call_)(void*, EbmlReader&, uint32_t, uint64_t, uint64_t, uint64_t&);
};

// Called for a Cluster met by the walks (the block layer installs it) and
// for the first TrackEntry of Tracks.
using ClusterHandlerFn = ZEP_STATUS (*)(EbmlReader& reader, uint32_t id, uint64_t elementPos,
                                        uint64_t dataPos, uint64_t* size, void* context);

constexpr uint32_t kReaderTag = 0x1111;

class EbmlReader {
 public:
  uint32_t tag = kReaderTag;
  MkvByteSource* source = nullptr;
  void* segment = nullptr;
  ClusterHandlerFn clusterHandler = nullptr;
  void* clusterContext = nullptr;
  bool keepGoing = true;  // the continue flag
  bool truncated = false;
  bool clusterWalk = true;
  bool firstClusterSeen = false;
  uint64_t firstClusterPos = 0;
  uint32_t seekHeadCount = 0;
};

// Walks the children in [start, start + size) of the file, calling the
// handler for each. A child whose size runs past that range is cut at its
// end. Returns the handler's last result, or the first failure.
ZEP_STATUS WalkChildren(EbmlReader& reader, uint64_t start, uint64_t size,
                        const ElementHandler& handler);

// The walk over the whole file: the EBML header, every Segment (recorded by
// `onSegment`), top-level Clusters, and resynchronisation over damage.
using SegmentFoundFn = ZEP_STATUS (*)(void* context, uint64_t elementPos, uint64_t dataPos,
                                      uint64_t size);
ZEP_STATUS WalkTopLevel(EbmlReader& reader, SegmentFoundFn onSegment, void* context);

// Probes a file: 100 for an EBML file, by name (".mkv", ".qr7") only when it
// cannot be opened.
ZEP_STATUS ProbeMatroska(uint32_t* score, const zep_wchar_t* name, void* context);

}  // namespace mkv
