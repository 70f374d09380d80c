#include "modules/mkv/ebml_reader.h"

#include <algorithm>
#include <cstdio>

#include "layer1/zep_damage.h"
#include "modules/mkv/ebml_ids.h"

namespace mkv {

namespace {

// Bias of a signed vint of n bytes: 2^(7n-1) - 1.
int64_t signed_bias(uint32_t length) { return (int64_t(1) << (7 * length - 1)) - 1; }

// Reads exactly `count` bytes or fails with EBML_ERR_SHORT_READ.
ZEP_STATUS read_exact(MkvByteSource& source, void* buffer, uint64_t count) {
  uint64_t got = 0;
  ZEP_STATUS status = source.read(buffer, count, &got);
  if (status < 0) return status;
  return got == count ? ZEP_OK : EBML_ERR_SHORT_READ;
}

}  // namespace

uint32_t vint_length(uint8_t first) {
  for (uint32_t n = 1; n <= 8; ++n)
    if (first & (0x80u >> (n - 1))) return n;
  return 9;
}

uint64_t unknown_size(uint32_t length) {
  return length >= 8 ? (uint64_t(1) << 56) - 1 : (uint64_t(1) << (7 * length)) - 1;
}

uint64_t BeReader::vint(bool stripMarker, uint32_t* length) {
  uint8_t first = u8();
  if (!ok_) return 0;
  uint32_t n = vint_length(first);
  if (length) *length = n;
  uint64_t v = n >= 8 ? 0 : (stripMarker ? first & (0xFFu >> n) : first);
  if (n == 8 && !stripMarker) v = first;
  for (uint32_t i = 1; i < n; ++i) v = v << 8 | u8();
  return ok_ ? v : 0;
}

int64_t BeReader::svint(uint32_t* length) {
  uint32_t n = 0;
  uint64_t v = vint(true, &n);
  if (length) *length = n;
  if (!ok_) return 0;
  if (n > 8) {
    fail();
    return 0;
  }
  return int64_t(v) - signed_bias(n);
}

ZEP_STATUS ReadVint(MkvByteSource& source, bool isSigned, bool stripMarker, uint64_t* value,
                    uint32_t* length) {
  if (!value) return EBML_ERR_BAD_ARG;
  uint8_t bytes[9];
  ZEP_STATUS status = read_exact(source, bytes, 1);
  if (status < 0) return status;
  uint32_t n = vint_length(bytes[0]);
  status = read_exact(source, bytes + 1, n - 1);
  if (status < 0) return status;
  BeReader r(bytes, n);
  uint64_t v = r.vint(stripMarker);
  if (isSigned && n <= 8) v = uint64_t(int64_t(v) - signed_bias(n));
  *value = v;
  if (length) *length = n;
  return ZEP_OK;
}

ZEP_STATUS ReadElementHeader(MkvByteSource& source, uint32_t* id, uint64_t* size,
                             uint32_t* headerLength) {
  if (!id || !size) return EBML_ERR_BAD_ARG;
  uint64_t rawId = 0, rawSize = 0;
  uint32_t idLength = 0, sizeLength = 0;
  ZEP_STATUS status = ReadVint(source, false, false, &rawId, &idLength);
  if (status < 0) return status;
  status = ReadVint(source, false, true, &rawSize, &sizeLength);
  if (status < 0) return status;
  *id = uint32_t(rawId);
  *size = rawSize;
  if (headerLength) *headerLength = idLength + sizeLength;
  return ZEP_OK;
}

ZEP_STATUS ReadUInt(MkvByteSource& source, uint64_t size, uint64_t* value) {
  if (!value) return EBML_ERR_BAD_ARG;
  *value = 0;
  if (size == 0) return ZEP_OK;
  if (size > 8) return EBML_ERR_BAD_ARG;
  uint8_t bytes[8];
  ZEP_STATUS status = read_exact(source, bytes, size);
  if (status < 0) return status;
  BeReader r(bytes, size_t(size));
  *value = r.uint(size_t(size));
  return ZEP_OK;
}

ZEP_STATUS ReadSInt(MkvByteSource& source, uint64_t size, int64_t* value) {
  if (!value) return EBML_ERR_BAD_ARG;
  uint64_t raw = 0;
  ZEP_STATUS status = ReadUInt(source, size, &raw);
  if (status < 0) return status;
  if (size > 0 && size < 8 && (raw >> (8 * size - 1)) != 0) raw |= ~uint64_t(0) << (8 * size);
  *value = int64_t(raw);
  return ZEP_OK;
}

ZEP_STATUS ReadFloat(MkvByteSource& source, uint64_t size, double* value) {
  if (!value) return EBML_ERR_BAD_ARG;
  *value = 0.0;
  if (size == 0) return ZEP_OK;
  if (size != 4 && size != 8) return EBML_ERR_BAD_ARG;
  uint64_t raw = 0;
  ZEP_STATUS status = ReadUInt(source, size, &raw);
  if (status < 0) return status;
  if (size == 4) {
    uint32_t bits = uint32_t(raw);
    float f;
    std::memcpy(&f, &bits, 4);
    *value = f;
  } else {
    std::memcpy(value, &raw, 8);
  }
  return ZEP_OK;
}

ZEP_STATUS ReadFlag(MkvByteSource& source, uint64_t size, uint64_t* value) {
  if (!value) return EBML_ERR_BAD_ARG;
  uint64_t raw = 0;
  ZEP_STATUS status = ReadUInt(source, size, &raw);
  if (status < 0) return status;
  *value = raw != 0;
  return ZEP_OK;
}

std::u16string utf8_to_utf16(const uint8_t* bytes, size_t size) {
  std::u16string out;
  out.reserve(size);
  size_t i = 0;
  while (i < size) {
    uint8_t b = bytes[i];
    uint32_t cp = 0xFFFD;
    size_t n = b < 0x80 ? 1 : (b >> 5) == 6 ? 2 : (b >> 4) == 14 ? 3 : (b >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > size) {
      ++i;
    } else {
      cp = n == 1 ? b : b & (0x7F >> n);
      bool good = true;
      for (size_t k = 1; k < n; ++k) {
        if ((bytes[i + k] & 0xC0) != 0x80) good = false;
        cp = cp << 6 | (bytes[i + k] & 0x3F);
      }
      if (!good || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        cp = 0xFFFD;
        ++i;
      } else {
        i += n;
      }
    }
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
  }
  // A value padded with zero bytes ends at the first of them.
  size_t zero = out.find(u'\0');
  if (zero != std::u16string::npos) out.resize(zero);
  return out;
}

ZEP_STATUS ReadUtf8String(MkvByteSource& source, uint64_t size, std::u16string* value) {
  if (!value) return EBML_ERR_BAD_ARG;
  value->clear();
  if (size == 0) return ZEP_OK;
  uint8_t piece[kStringPieceBytes];
  uint64_t keep = std::min(size, kStringPieceBytes);
  ZEP_STATUS status = read_exact(source, piece, keep);
  if (status < 0) return status;
  *value = utf8_to_utf16(piece, size_t(keep));
  return ZEP_OK;
}

ZEP_STATUS ReadAsciiString(MkvByteSource& source, uint64_t size, std::u16string* value) {
  if (!value) return EBML_ERR_BAD_ARG;
  value->clear();
  uint64_t keep = std::min(size, kMaxAsciiBytes);
  uint8_t piece[kStringPieceBytes];
  while (value->size() < keep) {
    uint64_t n = std::min<uint64_t>(kStringPieceBytes, keep - value->size());
    ZEP_STATUS status = read_exact(source, piece, n);
    if (status < 0) return status;
    for (uint64_t i = 0; i < n; ++i) value->push_back(char16_t(piece[i]));
  }
  size_t zero = value->find(u'\0');
  if (zero != std::u16string::npos) value->resize(zero);
  return ZEP_OK;
}

ZEP_STATUS ReadBinary(MkvByteSource& source, uint64_t size, void* dest, uint64_t capacity) {
  if (size == 0) return ZEP_OK;
  if (!dest) return EBML_ERR_BAD_ARG;
  if (size > capacity) return EBML_ERR_NO_MEMORY;
  return read_exact(source, dest, size);
}

ZEP_STATUS ReadBinary(MkvByteSource& source, uint64_t size, std::vector<uint8_t>* dest,
                      uint64_t capacity) {
  if (!dest) return EBML_ERR_BAD_ARG;
  dest->clear();
  if (size > capacity) return EBML_ERR_NO_MEMORY;
  // Never allocate more than the file still holds.
  uint64_t left = 0;
  source.query(kSourceQueryRemaining, &left);
  if (size > left) return EBML_ERR_SHORT_READ;
  dest->resize(size_t(size));
  return read_exact(source, dest->data(), size);
}

namespace {

// "SEGMENT (0x18538067)" for a known element, "0xABCD" for any other: the
// names of damage reports.
struct ElementLabel {
  char text[48];
  explicit ElementLabel(uint32_t elementId) {
    const EbmlElementInfo& info = element_info(elementId);
    if (info.id == 0) {
      std::snprintf(text, sizeof text, "0x%X", elementId);
      return;
    }
    char name[32];
    size_t n = 0;
    for (const char16_t* c = info.name; *c && n + 1 < sizeof name; ++c) name[n++] = char(*c);
    name[n] = 0;
    std::snprintf(text, sizeof text, "%s (0x%X)", name, elementId);
  }
};

}  // namespace

ZEP_STATUS WalkChildren(EbmlReader& reader, uint64_t start, uint64_t size,
                        const ElementHandler& handler) {
  if (size == 0 || start + size <= start) return ZEP_OK;
  const uint64_t end = std::min(start + size, reader.source->length());
  uint64_t position = start;
  uint32_t lastId = 0;
  bool readAny = false;
  ZEP_STATUS last = ZEP_OK;
  while (reader.keepGoing) {
    if (position >= end) {
      // The range runs past the end of the file: the file is cut.
      if (start + size > reader.source->length()) reader.truncated = true;
      return last;
    }
    if (ZEP_STATUS status = reader.source->seek(position); status < 0) {
      if (!readAny) return reader.truncated ? ZEP_OK : status;
      return lastId == id::kCluster || lastId == id::kCues ? ZEP_OK : status;
    }
    uint32_t elementId = 0;
    uint64_t dataSize = 0;
    ZEP_STATUS status = ReadElementHeader(*reader.source, &elementId, &dataSize);
    if (status == EBML_ERR_SHORT_READ) {
      reader.truncated = true;
      return ZEP_OK;
    }
    if (status < 0) return reader.truncated ? ZEP_OK : status;
    readAny = true;
    lastId = elementId;
    if (elementId == 0 && dataSize == 0) return ZEP_OK;  // zero filling
    if (position == 0 && elementId != id::kEbml) return EBML_ERR_NOT_EBML;
    const uint64_t dataPos = reader.source->tell();
    // A child never reaches past its parent: an unknown (all-ones) or
    // damaged size ends where the parent ends.
    if (dataSize > end - std::min(end, dataPos)) {
      const uint32_t idLength = elementId > 0xFFFFFF ? 4
                                : elementId > 0xFFFF ? 3
                                : elementId > 0xFF   ? 2
                                                     : 1;
      const bool unknownSize = dataSize == unknown_size(uint32_t(dataPos - position) - idLength);
      if (unknownSize) {
        // Live and piped writers leave the size open: not damage.
      } else if (dataPos + dataSize > reader.source->length()) {
        zep_report_damage(position, "The file ends inside element %s (%llu of %llu bytes there)",
                          ElementLabel(elementId).text,
                          static_cast<unsigned long long>(end - std::min(end, dataPos)),
                          static_cast<unsigned long long>(dataSize));
      } else {
        zep_report_damage(position,
                          "Element %s of %llu bytes runs past its parent, which ends at %llu",
                          ElementLabel(elementId).text, static_cast<unsigned long long>(dataSize),
                          static_cast<unsigned long long>(end));
      }
      dataSize = end - std::min(end, dataPos);
      if (start + size > reader.source->length()) reader.truncated = true;
    }
    uint64_t claimed = dataSize;
    last = handler(reader, elementId, position, dataPos, claimed);
    if (last == ZEP_ERR_FILE_CORRUPT) {
      reader.keepGoing = false;
      return ZEP_OK;
    }
    if (last != ZEP_OK) return last;
    const uint64_t next = dataPos + claimed;
    if (next <= position || next < dataPos || next >= end) return last;
    position = next;
  }
  return last;
}

namespace {

// Looks for a Cluster ID at each of the 1000 byte positions from `from`.
// Answers the position found, or a status: ZEP_ERR_FILE_CORRUPT when none is
// there, ZEP_OK (with *found 0) when the file ends first.
ZEP_STATUS resynchronise(EbmlReader& reader, uint64_t from, uint64_t* found) {
  *found = 0;
  for (uint64_t i = 0; i < 1000; ++i) {
    const uint64_t at = from + i;
    if (reader.source->seek(at) < 0) return at >= reader.source->length() ? ZEP_OK : ZEP_FAIL;
    uint32_t elementId = 0;
    uint64_t dataSize = 0;
    ZEP_STATUS status = ReadElementHeader(*reader.source, &elementId, &dataSize);
    if (status < 0)
      return at >= reader.source->length() || status == EBML_ERR_SHORT_READ ? ZEP_OK : status;
    if (elementId == id::kCluster) {
      *found = at;
      return ZEP_OK;
    }
  }
  return ZEP_ERR_FILE_CORRUPT;
}

}  // namespace

ZEP_STATUS WalkTopLevel(EbmlReader& reader, SegmentFoundFn onSegment, void* context) {
  uint64_t length = 0, canSeek = 0;
  reader.source->query(kSourceQueryLength, &length);
  reader.source->query(kSourceQueryCanSeek, &canSeek);
  reader.clusterWalk = canSeek == 1;
  reader.keepGoing = true;
  auto handler = [&](EbmlReader& r, uint32_t elementId, uint64_t elementPos, uint64_t dataPos,
                     uint64_t& size) -> ZEP_STATUS {
    switch (elementId) {
      case id::kEbml: {
        auto ignore = [](EbmlReader&, uint32_t, uint64_t, uint64_t, uint64_t&) -> ZEP_STATUS {
          return ZEP_OK;
        };
        return WalkChildren(r, dataPos, size, ignore);
      }
      case id::kSegment:
        return onSegment(context, elementPos, dataPos, size);
      case id::kCluster:
        if (!r.firstClusterSeen) {
          r.firstClusterSeen = true;
          r.firstClusterPos = elementPos;
        }
        if (!r.clusterWalk) return ZEP_ERR_FILE_CORRUPT;
        if (r.clusterHandler) {
          uint64_t newSize = size;
          ZEP_STATUS status =
              r.clusterHandler(r, elementId, elementPos, dataPos, &newSize, r.clusterContext);
          if (status < 0) return status;
          size = newSize;
        }
        return ZEP_OK;
      case id::kVoid:
      case id::kCrc32:
        return ZEP_OK;
      default: {
        uint64_t found = 0;
        ZEP_STATUS status = resynchronise(r, dataPos, &found);
        if (found)
          zep_report_damage(elementPos,
                            "Unknown element 0x%X; %llu bytes passed over to the Cluster at %llu",
                            elementId, static_cast<unsigned long long>(found - elementPos),
                            static_cast<unsigned long long>(found));
        else if (status != ZEP_OK)
          zep_report_damage(elementPos,
                            "Unknown element 0x%X and no Cluster within 1000 bytes after it",
                            elementId);
        if (status != ZEP_OK || found == 0) return status;
        if (!r.firstClusterSeen) {
          r.firstClusterSeen = true;
          r.firstClusterPos = found;
          size = found - dataPos;
        }
        return ZEP_OK;
      }
    }
  };
  return WalkChildren(reader, 0, length, handler);
}

ZEP_STATUS ProbeMatroska(uint32_t* score, const zep_wchar_t* name, void* context) {
  if (!score || !name) return ZEP_FAIL;
  *score = 0;
  ZepFile* file = nullptr;
  if (zep_file_open(name, ZEP_FILE_READ, &file, context) == ZEP_OK && file) {
    uint8_t head[83];
    uint32_t got = 0;
    ZEP_STATUS status = zep_file_read(file, head, sizeof head, &got);
    zep_file_close(file);
    if (status < 0 || got < sizeof head) return ZEP_FAIL;
    if (head[0] == 0x1A && head[1] == 0x45 && head[2] == 0xDF && head[3] == 0xA3) *score = 100;
    return ZEP_OK;
  }
  const uint32_t n = zep_wcslen(name);
  if (n >= 4) {
    const std::u16string ext(name + n - 4, name + n);
    if (ext == u".mkv" || ext == u".qr7") *score = 100;
  }
  return ZEP_OK;
}

}  // namespace mkv
