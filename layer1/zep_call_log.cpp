#include "layer1/zep_call_log.h"

#include <cstdlib>

namespace {

constexpr uint8_t kByteOrderMark[2] = {0xFF, 0xFE};

}  // namespace

ZEP_STATUS zep_log_open(const zep_wchar_t* name, uint32_t writeByteOrderMark, uint32_t append,
                        ZepLog** out) {
  if (!out) return ZEP_E_NULL_ARG;
  auto* log = static_cast<ZepLog*>(std::calloc(1, sizeof(ZepLog)));
  if (!log) return ZEP_E_NO_MEMORY;
  log->writeByteOrderMark = writeByteOrderMark;
  log->append = append;
  *out = log;

  uint32_t flags = append ? ZEP_FILE_WRITE : (ZEP_FILE_WRITE | ZEP_FILE_TRUNCATE);
  ZEP_STATUS status = zep_file_open(name, flags, &log->file, nullptr);
  if (status < 0) return status;

  uint64_t position = 0;
  zep_file_seek(log->file, 0, append ? SEEK_END : SEEK_CUR, &position);
  if (writeByteOrderMark && position == 0) {
    uint32_t written = 0;
    zep_file_write(log->file, kByteOrderMark, sizeof kByteOrderMark, &written);
  }
  log->name = zep_wcsdup(name, nullptr);
  return ZEP_OK;
}

ZEP_STATUS zep_log_write(ZepLog* log, const zep_wchar_t* format, ...) {
  if (!log || !log->file || !format) return ZEP_E_NULL_ARG;
  va_list args;
  va_start(args, format);
  va_list counting;
  va_copy(counting, args);
  int32_t n = zep_vscwprintf(format, counting);
  va_end(counting);
  if (n < 0) n = 0;

  uint64_t needed = 2 * uint64_t(n) + 4;
  if (needed > UINT32_MAX) {
    va_end(args);
    return ZEP_E_NO_MEMORY;
  }
  if (needed > log->capacity) {
    std::free(log->buffer);
    log->buffer = static_cast<zep_wchar_t*>(std::malloc(needed));
    log->capacity = log->buffer ? uint32_t(needed) : 0;
    if (!log->buffer) {
      va_end(args);
      return ZEP_E_NO_MEMORY;
    }
  }
  zep_vsnwprintf(log->buffer, size_t(n) + 1, format, args);
  va_end(args);
  log->buffer[n] = u'\n';
  uint32_t written = 0;
  return zep_file_write(log->file, log->buffer, 2 * uint32_t(n) + 2, &written);
}

ZEP_STATUS zep_log_close(ZepLog** log) {
  if (!log || !*log) return ZEP_E_NULL_ARG;
  ZepLog* writer = *log;
  std::free(writer->buffer);
  zep_wcsfree(writer->name, nullptr);
  if (writer->file) zep_file_close(writer->file);
  std::free(writer);
  *log = nullptr;
  return ZEP_OK;
}
