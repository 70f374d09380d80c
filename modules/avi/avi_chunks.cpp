#include "modules/avi/avi_chunks.h"

#include <cstring>

#include "layer1/zep_damage.h"
#include "layer1/zep_module.h"
#include "modules/avi/avi_reader.h"

namespace avi {

ZEP_STATUS FileView::read_at(uint64_t pos, void* buffer, uint32_t count, uint32_t* got) {
  *got = 0;
  if (!file) return ZEP_E_READ_NULL_FILE;
  if (pos >= size) return ZEP_OK;
  if (uint64_t(count) > size - pos) count = uint32_t(size - pos);
  if (pos > uint64_t(INT64_MAX)) return ZEP_E_SEEK;
  ZEP_STATUS status = ZEP_OK;
  const uint64_t here = file->position;
  if (pos > here && pos - here <= kSkipByReading) {
    // A pad byte or a few bytes ahead: reading them from the stream's buffer
    // is far cheaper than a seek, which costs a system call.
    uint8_t skip[kSkipByReading];
    uint32_t skipped = 0;
    status = zep_file_read(file, skip, uint32_t(pos - here), &skipped);
    if (status < 0) return status;
    if (skipped != pos - here) return ZEP_OK;  // the file ends in the gap
  } else {
    status = zep_file_seek(file, int64_t(pos), 0, nullptr);
    if (status < 0) return status;
  }
  return zep_file_read(file, buffer, count, got);
}

ZEP_STATUS FileView::read_exact(uint64_t pos, void* buffer, uint32_t count) {
  uint32_t got = 0;
  ZEP_STATUS status = read_at(pos, buffer, count, &got);
  if (status < 0) return status;
  return got == count ? ZEP_OK : ZEP_FAIL;
}

uint64_t FileView::tell() const { return file ? file->position : 0; }

ZEP_STATUS read_header(FileView& file, uint64_t pos, ChunkHeader* out) {
  // Eight bytes, and the form only for a list: the data of an ordinary chunk
  // then follows at the stream's position without a seek back.
  uint8_t raw[12];
  uint32_t got = 0;
  ZEP_STATUS status = file.read_at(pos, raw, 8, &got);
  if (status < 0) return status;
  if (got < 8) return ZEP_FAIL;
  LeReader r(raw, 8);
  out->position = pos;
  out->id = r.u32();
  out->size = r.u32();
  out->hasForm = false;
  out->form = 0;
  if (is_list_id(out->id)) {
    uint32_t formGot = 0;
    status = file.read_at(pos + 8, raw + 8, 4, &formGot);
    if (status < 0) return status;
    if (formGot == 4) {
      LeReader f(raw + 8, 4);
      out->hasForm = true;
      out->form = f.u32();
    }
  }
  return ZEP_OK;
}

bool ChildWalker::next(ChunkHeader* out) {
  if (pos_ >= end_ || end_ - pos_ < 8) return false;
  status_ = read_header(file_, pos_, out);
  if (status_ < 0) return false;
  pos_ = out->next();
  return true;
}

uint32_t clamp_size(const ChunkHeader& chunk, uint64_t parentEnd, uint64_t fileSize) {
  uint64_t limit = parentEnd < fileSize ? parentEnd : fileSize;
  uint64_t room = chunk.data() < limit ? limit - chunk.data() : 0;
  if (chunk.size <= room) return chunk.size;
  char id[5];
  if (limit == fileSize)
    zep_report_damage(chunk.position, "The file ends inside chunk '%s' (%llu of %u bytes there)",
                      fourcc_text(chunk.id, id), static_cast<unsigned long long>(room), chunk.size);
  else
    zep_report_damage(
        chunk.position, "Chunk '%s' of %u bytes runs past the end of its list at %llu",
        fourcc_text(chunk.id, id), chunk.size, static_cast<unsigned long long>(parentEnd));
  return uint32_t(room);
}

const char* fourcc_text(FourCC id, char out[5]) {
  for (int i = 0; i < 4; ++i) {
    const char c = char((id >> (8 * i)) & 0xFFu);
    out[i] = c >= 0x20 && c < 0x7F ? c : '?';
  }
  out[4] = 0;
  return out;
}

namespace {

bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }

// Leading decimal digits of two characters: "0a" reads as 0, "ab" as 0.
uint32_t two_digit_number(uint8_t a, uint8_t b) {
  if (!is_digit(a)) return 0;
  if (!is_digit(b)) return uint32_t(a - '0');
  return uint32_t(a - '0') * 10 + uint32_t(b - '0');
}

}  // namespace

StreamChunkId classify_chunk(FourCC id) {
  uint8_t c[4] = {uint8_t(id), uint8_t(id >> 8), uint8_t(id >> 16), uint8_t(id >> 24)};
  auto pair = [](uint8_t a, uint8_t b, const char* s) {
    return a == uint8_t(s[0]) && b == uint8_t(s[1]);
  };
  StreamChunkId out;
  if (pair(c[2], c[3], "dc") || pair(c[2], c[3], "db") || pair(c[2], c[3], "xx")) {
    out.blockType = ZEP_BLOCK_VIDEO;
  } else if (pair(c[2], c[3], "wb")) {
    out.blockType = ZEP_BLOCK_AUDIO;
  } else if (pair(c[2], c[3], "sb")) {
    out.blockType = ZEP_BLOCK_SUBTITLE;
  }
  if (out.blockType) {
    out.number = two_digit_number(c[0], c[1]);
    return out;
  }
  if (pair(c[0], c[1], "dc") || pair(c[0], c[1], "db")) {
    out.blockType = ZEP_BLOCK_VIDEO;
  } else if (pair(c[0], c[1], "wb")) {
    out.blockType = ZEP_BLOCK_AUDIO;
  } else if (pair(c[0], c[1], "sb")) {
    out.blockType = ZEP_BLOCK_SUBTITLE;
  }
  if (out.blockType) out.number = two_digit_number(c[2], c[3]);
  return out;
}

}  // namespace avi
