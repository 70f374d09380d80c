#include "modules/mkv/mkv_byte_source.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace mkv {

namespace {
constexpr uint64_t kWindowBytes = 8 * 1024;
// Reads at least this long bypass the window even where it holds their
// start: a payload is copied once, from the file into the caller's buffer,
// and the window stays small, so little of a payload is read twice.
constexpr uint64_t kDirectReadBytes = 4096;
}

ZEP_STATUS MkvByteSource::open(uint32_t kind, const zep_wchar_t* name, void* allocContext) {
  close();
  if (kind == 4 || kind == 5) return ZEP_ERR_REMOTE_FILE_UNSUPPORTED;
  if (kind != kSourceKindFile || !name) return -2;
  ZepFile* file = nullptr;
  if (zep_file_open(name, ZEP_FILE_READ, &file, allocContext) < 0 || !file)
    return ZEP_E_CANNOT_OPEN;
  // The window below is the only buffer: payloads then go from the file
  // into the caller's buffer in one copy.
  if (file->stream) setvbuf(file->stream, nullptr, _IONBF, 0);
  uint64_t size = 0;
  if (zep_file_seek(file, 0, 2, &size) < 0 || zep_file_seek(file, 0, 0, nullptr) < 0) {
    zep_file_close(file);
    return ZEP_E_CANNOT_OPEN;
  }
  file_ = file;
  kind_ = kind;
  length_ = size;
  position_ = 0;
  filePosition_ = 0;
  windowStart_ = windowSize_ = 0;
  window_.resize(kWindowBytes);
  return ZEP_OK;
}

void MkvByteSource::close() {
  if (file_) zep_file_close(file_);
  file_ = nullptr;
  length_ = position_ = windowStart_ = windowSize_ = filePosition_ = 0;
}

ZEP_STATUS MkvByteSource::fill(uint64_t at) {
  windowStart_ = at;
  windowSize_ = 0;
  if (filePosition_ != at && zep_file_seek(file_, int64_t(at), 0, nullptr) < 0) return ZEP_E_SEEK;
  uint32_t got = 0;
  uint64_t want = std::min<uint64_t>(kWindowBytes, length_ - at);
  ZEP_STATUS status = zep_file_read(file_, window_.data(), uint32_t(want), &got);
  filePosition_ = at + got;
  if (status < 0) return status;
  windowSize_ = got;
  return ZEP_OK;
}

ZEP_STATUS MkvByteSource::read(void* buffer, uint64_t count, uint64_t* got) {
  *got = 0;
  if (!file_) return ZEP_E_NULL_ARG;
  if (count == 0) return ZEP_OK;
  if (!buffer) return ZEP_E_NULL_ARG;
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t done = 0;
  while (done < count && position_ < length_) {
    if (count - done < kDirectReadBytes && position_ >= windowStart_ &&
        position_ < windowStart_ + windowSize_) {
      uint64_t offset = position_ - windowStart_;
      uint64_t n = std::min(count - done, windowSize_ - offset);
      std::memcpy(out + done, window_.data() + offset, n);
      done += n;
      position_ += n;
      continue;
    }
    uint64_t left = count - done;
    if (left >= kDirectReadBytes) {
      // Large payloads go straight to the caller, once.
      if (filePosition_ != position_ && zep_file_seek(file_, int64_t(position_), 0, nullptr) < 0)
        return ZEP_E_SEEK;
      uint64_t want = std::min(left, length_ - position_);
      while (want > 0) {
        uint32_t piece = uint32_t(std::min<uint64_t>(want, 1u << 30));
        uint32_t n = 0;
        ZEP_STATUS status = zep_file_read(file_, out + done, piece, &n);
        filePosition_ = position_ + n;
        done += n;
        position_ += n;
        want -= n;
        if (status < 0) {
          *got = done;
          return status;
        }
        if (n < piece) break;
      }
      break;
    }
    ZEP_STATUS status = fill(position_);
    if (status < 0) {
      *got = done;
      return status;
    }
    if (windowSize_ == 0) break;
  }
  *got = done;
  return ZEP_OK;
}

ZEP_STATUS MkvByteSource::seek(uint64_t position) {
  if (!file_) return ZEP_E_NULL_ARG;
  if (position > length_) return ZEP_E_SEEK_INVALID;
  position_ = position;
  return ZEP_OK;
}

ZEP_STATUS MkvByteSource::query(uint32_t code, uint64_t* value) const {
  if (!value) return ZEP_E_NULL_ARG;
  switch (code) {
    case kSourceQueryLength:
      *value = length_;
      return ZEP_OK;
    case kSourceQueryRemaining:
      *value = length_ > position_ ? length_ - position_ : 0;
      return ZEP_OK;
    case kSourceQueryKind:
      *value = kind_;
      return ZEP_OK;
    case kSourceQueryProperty:
      *value = 0;
      return ZEP_OK;
    case kSourceQueryCanSeek:
      *value = 1;
      return ZEP_OK;
    default:
      return ZEP_ERR_UNSUPPORTED_QID;
  }
}

}  // namespace mkv
