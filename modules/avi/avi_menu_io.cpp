// Bounded reads for the menu section reader.
#include "modules/avi/avi_menu_io.h"

namespace avimenu {

ZEP_STATUS read_at(ZepFile* file, uint64_t position, void* out, uint32_t count, uint32_t* got) {
  *got = 0;
  std::memset(out, 0, count);
  if (file == nullptr) return ZEP_E_READ_NULL_FILE;
  if (position > static_cast<uint64_t>(INT64_MAX)) return ZEP_E_NO_MORE_BLOCKS;
  uint64_t reached = 0;
  ZEP_STATUS status = zep_file_seek(file, static_cast<int64_t>(position), 0, &reached);
  if (ZEP_FAILED(status)) return status;
  status = zep_file_read(file, out, count, got);
  if (*got > count) *got = count;
  return ZEP_FAILED(status) ? status : 0;
}

ZEP_STATUS read_within(ZepFile* file, uint64_t position, uint64_t limit, void* out,
                       uint32_t count) {
  if (position > limit || limit - position < count) {
    std::memset(out, 0, count);
    return ZEP_E_NO_MORE_BLOCKS;
  }
  uint32_t got = 0;
  ZEP_STATUS status = read_at(file, position, out, count, &got);
  if (status == ZEP_ERR_KILL) return status;
  if (ZEP_FAILED(status) || got < count) return ZEP_E_NO_MORE_BLOCKS;
  return 0;
}

ZEP_STATUS ChunkWalk::next(Chunk* chunk) {
  *chunk = Chunk{};
  if (next_ >= end_ || end_ - next_ < 8) return 0;
  uint8_t header[12];
  uint32_t got = 0;
  ZEP_STATUS status = read_at(file_, next_, header, sizeof header, &got);
  if (status == ZEP_ERR_KILL) return status;
  if (ZEP_FAILED(status) || got < 8) {
    next_ = end_;
    return 0;
  }
  chunk->position = next_;
  std::memcpy(chunk->id, header, 4);
  chunk->size = le32(header + 4);
  // The form type is only meaningful when the chunk holds it; a list header
  // cut short by the file end reads as zeros, which match no form type.
  if (chunk->size >= 4 && got >= 12 && end_ - next_ >= 12) std::memcpy(chunk->form, header + 8, 4);
  const uint64_t declared_end = add_capped(next_ + 8, chunk->size);
  chunk->truncated = declared_end > end_;
  chunk->end = chunk->truncated ? end_ : declared_end;
  next_ = chunk->truncated ? end_ : add_capped(declared_end, chunk->size & 1u);
  return 1;
}

}  // namespace avimenu
