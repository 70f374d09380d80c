#include "modules/h264/h264_nal_source.h"

#include "layer1/zep_damage.h"
#include "modules/h264/h264_bitstream.h"

namespace zep::h264 {

namespace {

bool all_zero(const uint8_t* data, uint32_t length) {
  for (uint32_t i = 0; i < length; ++i) {
    if (data[i] != 0) return false;
  }
  return true;
}

}  // namespace

NalSource::~NalSource() { close(); }

ZEP_STATUS NalSource::open(const zep_wchar_t* name, void* context) {
  close();
  if (zep_file_open(name, ZEP_FILE_READ | ZEP_FILE_SEQUENTIAL, &file_, context) < 0 || !file_) {
    file_ = nullptr;
    return ZEP_ERR_FILE_OPEN_FAILURE;
  }
  if (zep_file_size(name, &file_size_) < 0) {
    close();
    return ZEP_FAIL;
  }
  // A file shorter than a chunk is held whole in a buffer of its own size.
  chunk_capacity_ = file_size_ < kChunkSize ? uint32_t(file_size_) : kChunkSize;
  if (chunk_capacity_ < kMinChunk) chunk_capacity_ = kMinChunk;
  chunk_ = static_cast<uint8_t*>(zep_mem_alloc(chunk_capacity_, context));
  if (!chunk_) {
    close();
    return ZEP_E_NO_MEMORY;
  }
  rewind();
  return ZEP_OK;
}

void NalSource::close() {
  if (file_) zep_file_close(file_);
  file_ = nullptr;
  if (chunk_) zep_mem_free(chunk_, nullptr);
  chunk_ = nullptr;
  chunk_capacity_ = 0;
  file_size_ = 0;
  rewind();
}

void NalSource::rewind() {
  base_ = 0;
  fill_ = 0;
  cursor_ = 0;
  last_span_ = 0;
}

void NalSource::seek(uint64_t position) {
  if (position >= base_ && position - base_ <= fill_) {
    cursor_ = uint32_t(position - base_);
  } else {
    base_ = position;
    fill_ = 0;
    cursor_ = 0;
  }
  last_span_ = 0;
}

ZEP_STATUS NalSource::load(uint64_t base) {
  base_ = base;
  fill_ = 0;
  cursor_ = 0;
  last_span_ = 0;
  if (!file_ || !chunk_) return ZEP_FAIL;
  uint64_t reached = 0;
  const ZEP_STATUS seek = zep_file_seek(file_, int64_t(base), 0, &reached);
  if (seek < 0) return seek;
  const uint64_t left = base < file_size_ ? file_size_ - base : 0;
  const uint32_t wanted = left < chunk_capacity_ ? uint32_t(left) : chunk_capacity_;
  uint32_t got = 0;
  const ZEP_STATUS read = zep_file_read(file_, chunk_, wanted, &got);
  if (read < 0) return read;
  fill_ = got <= wanted ? got : wanted;
  // A file that became shorter since it was opened ends where the read ended.
  if (fill_ < wanted) file_size_ = base + fill_;
  return ZEP_OK;
}

ZEP_STATUS NalSource::next(const uint8_t** nal, uint32_t* length) {
  // Fewer than 4 bytes left: the chunk moves on to the read position. (Loading
  // at the old base instead would deliver the chunk's units a second time.)
  if (cursor_ + 3 >= fill_) {
    const ZEP_STATUS status = load(base_ + cursor_);
    if (status < 0) return status;
  }
  for (;;) {
    const uint8_t* p = chunk_ + cursor_;
    const uint32_t rest = fill_ - cursor_;
    uint32_t offset = 0;
    if (zep_nal_find_start(p, rest, &offset) < 0) {
      if (!all_zero(p, rest)) {
        zep_report_damage(
            base_ + cursor_,
            "No start code where the next NAL unit should begin; the stream ends here");
        return ZEP_FAIL;
      }
      if (base_ + fill_ >= file_size_) return kOnlyZerosToEnd;
      // A run of zero bytes up to the end of the chunk: go on behind it,
      // keeping the last two zeros, which may begin a start code. Such a run
      // only reaches here with more than 3 bytes in it, so the base advances.
      const ZEP_STATUS status = load(base_ + fill_ - 2);
      if (status < 0) return status;
      continue;
    }
    uint32_t nal_length = 0;
    zep_nal_find_end(p + offset, rest - offset, &nal_length);
    if (offset + nal_length >= rest && base_ + fill_ < file_size_) {
      // The unit may go on behind the chunk: reload from its start code.
      const uint64_t start_code = base_ + cursor_ + offset - 3;
      if (start_code == base_) return ZEP_ERR_BUFFER_TOO_SMALL;
      const ZEP_STATUS status = load(start_code);
      if (status < 0) return status;
      continue;
    }
    last_span_ = offset + nal_length;
    *nal = p + offset;
    *length = nal_length;
    return ZEP_OK;
  }
}

}  // namespace zep::h264
