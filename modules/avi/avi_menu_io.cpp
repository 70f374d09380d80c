// Bounded reads for the menu section reader.
#include "modules/avi/avi_menu_io.h"

namespace avimenu {

namespace {

ZEP_STATUS read_file(ZepFile* file, uint64_t position, void* out, uint32_t count, uint32_t* got) {
  *got = 0;
  if (file == nullptr) return ZEP_E_READ_NULL_FILE;
  if (position > static_cast<uint64_t>(INT64_MAX)) return 0;  // beyond any file: nothing to read
  uint64_t reached = 0;
  ZEP_STATUS status = zep_file_seek(file, static_cast<int64_t>(position), 0, &reached);
  if (ZEP_FAILED(status)) return status;
  status = zep_file_read(file, out, count, got);
  if (*got > count) *got = count;
  return ZEP_FAILED(status) ? status : 0;
}

}  // namespace

ZEP_STATUS read_at(const Source& source, uint64_t position, void* out, uint32_t count,
                   uint32_t* got) {
  std::memset(out, 0, count);
  *got = 0;
  if (source.window == nullptr || count > source.capacity) {
    return read_file(source.file, position, out, count, got);
  }
  uint32_t& length = *source.length;
  uint64_t& start = *source.start;
  const bool inside = length > 0 && position >= start && position - start <= length;
  // A window shorter than the buffer ends at the end of the file: what it
  // lacks does not exist, so it answers without a further read.
  const bool served = inside && (position - start + count <= length || length < source.capacity);
  if (!served) {
    length = 0;
    uint32_t filled = 0;
    const ZEP_STATUS status =
        read_file(source.file, position, source.window, source.capacity, &filled);
    if (ZEP_FAILED(status)) return status;
    start = position;
    length = filled;
  }
  const uint64_t offset = position - start;
  const uint32_t available = offset < length ? static_cast<uint32_t>(length - offset) : 0;
  *got = available < count ? available : count;
  std::memcpy(out, source.window + offset, *got);
  return 0;
}

ZEP_STATUS read_within(const Source& source, uint64_t position, uint64_t limit, void* out,
                       uint32_t count) {
  if (position > limit || limit - position < count) {
    std::memset(out, 0, count);
    return ZEP_E_NO_MORE_BLOCKS;
  }
  uint32_t got = 0;
  ZEP_STATUS status = read_at(source, position, out, count, &got);
  if (status == ZEP_ERR_KILL) return status;
  if (ZEP_FAILED(status) || got < count) return ZEP_E_NO_MORE_BLOCKS;
  return 0;
}

ZEP_STATUS ChunkWalk::next(Chunk* chunk) {
  *chunk = Chunk{};
  if (next_ >= end_ || end_ - next_ < 8) return 0;
  uint8_t header[12];
  uint32_t got = 0;
  ZEP_STATUS status = read_at(source_, next_, header, sizeof header, &got);
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
