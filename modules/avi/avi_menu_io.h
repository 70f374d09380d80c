// Bounded reads for the menu section reader: positioned reads from the file,
// little-endian fields from byte arrays of known length, and a walker over the
// children of a chunk that never leaves its parent.
#pragma once

#include <cstdint>
#include <cstring>

#include "layer1/zep_status.h"
#include "platform/zep_platform.h"

namespace avimenu {

inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
inline uint64_t le64(const uint8_t* p) {
  return static_cast<uint64_t>(le32(p)) | (static_cast<uint64_t>(le32(p + 4)) << 32);
}
inline bool is_fourcc(const uint8_t* p, const char* fourcc) {
  return std::memcmp(p, fourcc, 4) == 0;
}

// a + b without wrapping around: positions near the top of the range stay there
// and so end every walk instead of restarting it at the front of the file.
inline uint64_t add_capped(uint64_t a, uint64_t b) {
  return a > UINT64_MAX - b ? UINT64_MAX : a + b;
}

// Where the reader's bytes come from: the file, seen through an optional
// window buffer that holds `*length` bytes from file position `*start`.
struct Source {
  ZepFile* file = nullptr;
  uint8_t* window = nullptr;
  uint32_t capacity = 0;
  uint32_t* length = nullptr;
  uint64_t* start = nullptr;
};

// Reads up to `count` bytes at the absolute `position` into `out`; `*got` is
// the number of bytes read (fewer at the end of the file). Bytes not read are
// zeroed. Returns 0, or the file's failure status (ZEP_ERR_KILL among them).
ZEP_STATUS read_at(const Source& source, uint64_t position, void* out, uint32_t count,
                   uint32_t* got);

// Reads exactly `count` bytes at `position`, all of which must lie before
// `limit`. 0; ZEP_E_NO_MORE_BLOCKS when they do not fit or the file ends
// first; ZEP_ERR_KILL passed on.
ZEP_STATUS read_within(const Source& source, uint64_t position, uint64_t limit, void* out,
                       uint32_t count);

// One child chunk as found by ChunkWalk.
struct Chunk {
  uint64_t position = 0;  // the chunk header
  uint8_t id[4] = {};
  uint32_t size = 0;       // size field as stored
  uint8_t form[4] = {};    // form type when the chunk has one (else zero)
  uint64_t end = 0;        // end of its data, cut to the parent's end
  bool truncated = false;  // the stored size runs past the parent

  bool is(const char* fourcc) const { return is_fourcc(id, fourcc); }
  bool is_list(const char* list_id, const char* form_type) const {
    return is(list_id) && size >= 4 && is_fourcc(form, form_type);
  }
  uint64_t data() const { return add_capped(position, 8); }
};

// Walks the children of a chunk from `begin` to `end`, each step being
// 8 + size + (size & 1). A child whose header does not fit before `end`, or
// that the file cannot supply, ends the walk; a child whose size runs past
// `end` is handed out cut to `end` and is the last one.
class ChunkWalk {
 public:
  ChunkWalk(const Source& source, uint64_t begin, uint64_t end)
      : source_(source), next_(begin), end_(end) {}

  // 1 with the next child in *chunk, 0 at the end, ZEP_ERR_KILL passed on.
  ZEP_STATUS next(Chunk* chunk);

 private:
  Source source_;
  uint64_t next_;
  uint64_t end_;
};

}  // namespace avimenu
