// Byte-exact EBML (Matroska) writer for crafted test files: an element tree
// whose sizes are computed when it is written, with the size encoding of any
// element forced (a longer vint, the all-ones unknown size, a wrong value)
// for the damaged layouts no tool writes.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "tests/support/byte_writer.h"

namespace zeptest {

// An EBML vint of `value` in `length` bytes (0: the shortest that holds it).
Bytes ebml_vint(uint64_t value, int length = 0);

struct Ebml {
  uint32_t id = 0;
  Bytes payload;  // of a leaf
  std::vector<Ebml> children;
  bool master = false;
  int sizeLength = 0;        // 0: shortest
  bool unknownSize = false;  // all ones
  bool sizeOverride = false;
  uint64_t forcedSize = 0;

  static Ebml node(uint32_t id, std::initializer_list<Ebml> children);
  static Ebml node(uint32_t id, std::vector<Ebml> children);
  static Ebml uint(uint32_t id, uint64_t value, int width = 0);
  static Ebml sint(uint32_t id, int64_t value, int width = 2);
  static Ebml flt(uint32_t id, double value, int width = 8);
  static Ebml str(uint32_t id, const std::string& value);
  static Ebml bin(uint32_t id, Bytes value);
  Ebml& size_bytes(int length) {
    sizeLength = length;
    return *this;
  }
  Ebml& unknown() {
    unknownSize = true;
    return *this;
  }
  Ebml& wrong_size(uint64_t size) {
    sizeOverride = true;
    forcedSize = size;
    return *this;
  }
  Bytes bytes() const;
};

// The EBML header of a Matroska file.
Ebml ebml_header();
// A TrackEntry: number, UID, type (1 video, 2 audio, 17 subtitle), CodecID,
// then any further children.
Ebml track_entry(uint64_t number, uint64_t uid, uint64_t type, const std::string& codec,
                 std::vector<Ebml> more = {});
// The payload of a SimpleBlock or Block: track number, relative time, flags,
// data.
Bytes block_payload(uint64_t track, int16_t relative, uint8_t flags, const Bytes& data);
// A whole file: the EBML header and the given top-level elements.
Bytes matroska_file(std::initializer_list<Ebml> topLevel);

}  // namespace zeptest
