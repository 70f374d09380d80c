// Buffered files with 64-bit positions and UTF-16 names over POSIX.
//
// The UTF-16 name is converted to UTF-8 and opened with open(2) - never with
// O_CREAT, so no flag combination creates a file - and a stdio stream is
// attached with fdopen(3). The layer tracks the byte position itself (every
// read, write and seek updates it) so that tell never has to ask the stream.
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

#include "platform/zep_platform.h"

namespace {

// Bigger than stdio's default: the demuxers read mostly forward in blocks of
// tens of kilobytes.
constexpr size_t kStreamBufferSize = 64 * 1024;

ZEP_STATUS status_from_open_errno(int error) {
  switch (error) {
    case ENOENT:
      return ZEP_E_NO_SUCH_FILE;
    case EACCES:
    case EPERM:
    case EISDIR:
      return ZEP_E_ACCESS;
    case EEXIST:
      return ZEP_E_EXISTS;
    case EINVAL:
      return ZEP_E_INVALID_ARG;
    case EMFILE:
    case ENFILE:
      return ZEP_E_TOO_MANY_FILES;
    default:
      return ZEP_E_OPEN_OTHER;
  }
}

ZEP_STATUS open_console(uint32_t flags, ZepFile** out, void* context) {
  auto* file = static_cast<ZepFile*>(zep_mem_alloc(sizeof(ZepFile), context));
  if (file == nullptr) return ZEP_E_NO_MEMORY;
  // POSIX streams have no text mode, so standard input is binary already.
  file->openFlags = flags;
  file->stream = stdin;
  file->allocContext = context;
  file->console = 1;
  *out = file;
  return ZEP_OK;
}

ZEP_STATUS console_read(ZepFile* file, uint8_t* buffer, uint32_t count, uint32_t* countRead) {
  if (countRead != nullptr) *countRead = 0;
  for (uint32_t i = 0; i < count; ++i) {
    const int c = getc(stdin);
    if (c == EOF) return ZEP_E_INPUT_ENDED;
    buffer[i] = static_cast<uint8_t>(c);
    file->position += 1;
    if (countRead != nullptr) *countRead = i + 1;
  }
  return ZEP_OK;
}

ZEP_STATUS console_write(ZepFile* file, const uint8_t* buffer, uint32_t count,
                         uint32_t* countWritten) {
  uint32_t written = 0;
  for (; written < count; ++written) {
    if (putc(buffer[written], stdout) == EOF) break;
  }
  fflush(stdout);
  file->position += written;
  if (countWritten != nullptr) *countWritten = written;
  return ZEP_OK;
}

}  // namespace

ZEP_STATUS zep_file_open(const zep_wchar_t* name, uint32_t flags, ZepFile** out, void* context) {
  if (out == nullptr) return ZEP_E_NULL_ARG;
  if (flags & ZEP_FILE_CONSOLE) return open_console(flags, out, context);
  *out = nullptr;
  if (name == nullptr) return ZEP_E_NO_NAME;

  const uint32_t access = flags & (ZEP_FILE_READ | ZEP_FILE_WRITE);
  int openFlags;
  const char* mode;
  if (access == (ZEP_FILE_READ | ZEP_FILE_WRITE)) {
    openFlags = O_RDWR;
    mode = "r+b";
  } else if (access == ZEP_FILE_WRITE) {
    openFlags = O_WRONLY;
    mode = "wb";
  } else {
    openFlags = O_RDONLY;
    mode = "rb";
  }
  if ((flags & ZEP_FILE_TRUNCATE) && openFlags == O_RDONLY) return ZEP_E_TRUNC_READONLY;
  if (flags & ZEP_FILE_TRUNCATE) openFlags |= O_TRUNC;
  // ZEP_FILE_TEXT: POSIX streams make no text/binary difference.
  // ZEP_FILE_DENY_SHARE: POSIX has no share modes; the flag is accepted and
  // has no effect (several parsers open the same file at once anyway).
  openFlags |= O_CLOEXEC;

  const std::string path = zep::u16_to_utf8(std::u16string_view(name, zep_wcslen(name)));
  const int fd = open(path.c_str(), openFlags);
  if (fd < 0) return status_from_open_errno(errno);

  // open(2) accepts a directory for reading; a directory is no file here.
  struct stat info;
  if (fstat(fd, &info) == 0 && S_ISDIR(info.st_mode)) {
    close(fd);
    return ZEP_E_ACCESS;
  }
  // The random-access hint is left out on purpose: on Linux it switches off
  // read-ahead, which the mostly forward reading of the demuxers needs.
  if (flags & ZEP_FILE_SEQUENTIAL) posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);

  FILE* stream = fdopen(fd, mode);
  if (stream == nullptr) {
    close(fd);
    return ZEP_E_OPEN_OTHER;
  }
  setvbuf(stream, nullptr, _IOFBF, kStreamBufferSize);

  auto* file = static_cast<ZepFile*>(zep_mem_alloc(sizeof(ZepFile), context));
  zep_wchar_t* nameCopy = zep_wcsdup(name, context);
  if (file == nullptr || nameCopy == nullptr) {
    fclose(stream);
    if (file != nullptr) zep_mem_free(file, context);
    if (nameCopy != nullptr) zep_wcsfree(nameCopy, context);
    return ZEP_E_NO_MEMORY;
  }
  file->openFlags = flags;
  file->stream = stream;
  file->allocContext = context;
  file->name = nameCopy;
  file->position = 0;
  file->console = 0;
  *out = file;
  return ZEP_OK;
}

ZEP_STATUS zep_file_close(ZepFile* file) {
  if (file == nullptr || file->stream == nullptr) return ZEP_E_CLOSE;
  ZEP_STATUS status = ZEP_OK;
  if (file->console) {
    // Standard input and output belong to the process, not to this object.
    fflush(stdout);
  } else if (fclose(file->stream) != 0) {
    status = ZEP_E_CLOSE;
  }
  file->stream = nullptr;
  if (file->name != nullptr) zep_wcsfree(file->name, file->allocContext);
  zep_mem_free(file, file->allocContext);
  return status;
}

ZEP_STATUS zep_file_read(ZepFile* file, void* buffer, uint32_t count, uint32_t* countRead) {
  if (file == nullptr) return ZEP_E_READ_NULL_FILE;
  if (count == 0) {
    if (countRead != nullptr) *countRead = 0;
    return ZEP_OK;
  }
  if (buffer == nullptr || file->stream == nullptr) return ZEP_E_NULL_ARG;
  if (file->console) return console_read(file, static_cast<uint8_t*>(buffer), count, countRead);
  const size_t got = fread(buffer, 1, count, file->stream);
  file->position += got;
  if (countRead != nullptr) *countRead = static_cast<uint32_t>(got);
  return ZEP_OK;
}

ZEP_STATUS zep_file_write(ZepFile* file, const void* buffer, uint32_t count,
                          uint32_t* countWritten) {
  if (count == 0) {
    if (countWritten != nullptr) *countWritten = 0;
    return ZEP_OK;
  }
  if (file == nullptr || buffer == nullptr || file->stream == nullptr) return ZEP_E_NULL_ARG;
  if (file->console) {
    return console_write(file, static_cast<const uint8_t*>(buffer), count, countWritten);
  }
  const size_t put = fwrite(buffer, 1, count, file->stream);
  file->position += put;
  if (countWritten != nullptr) *countWritten = static_cast<uint32_t>(put);
  return ZEP_OK;
}

ZEP_STATUS zep_file_seek(ZepFile* file, int64_t offset, int origin, uint64_t* newPosition) {
  if (file == nullptr || file->stream == nullptr) return ZEP_E_NULL_ARG;
  if (file->console) return ZEP_E_CONSOLE;
  if (origin == 0 && offset >= 0 && static_cast<uint64_t>(offset) == file->position) {
    return ZEP_OK;
  }
  int whence;
  switch (origin) {
    case 0:
      whence = SEEK_SET;
      break;
    case 1:
      whence = SEEK_CUR;
      break;
    case 2:
      whence = SEEK_END;
      break;
    default:
      return ZEP_E_SEEK_ORIGIN;
  }
  static_assert(sizeof(off_t) == 8, "64-bit file offsets are required");
  errno = 0;
  if (fseeko(file->stream, static_cast<off_t>(offset), whence) == 0) {
    const off_t reached = ftello(file->stream);
    if (reached >= 0) {
      file->position = static_cast<uint64_t>(reached);
      if (newPosition != nullptr) *newPosition = file->position;
      return ZEP_OK;
    }
  }
  const int error = errno;
  // A failed seek leaves the tracked position 0; the stream is put there too,
  // or a later seek to 0 (answered from the tracked position without touching
  // the stream) would leave reads at the old place.
  fseeko(file->stream, 0, SEEK_SET);
  file->position = 0;
  return error == EINVAL ? ZEP_E_SEEK_INVALID : ZEP_E_SEEK;
}

ZEP_STATUS zep_file_tell(ZepFile* file, uint64_t* position) {
  if (file == nullptr || position == nullptr) return ZEP_E_NULL_ARG;
  if (file->console) return ZEP_E_CONSOLE;
  *position = file->position;
  return ZEP_OK;
}

ZEP_STATUS zep_file_size(const zep_wchar_t* name, uint64_t* size) {
  if (name == nullptr || size == nullptr) return ZEP_E_NULL_ARG;
  const std::string path = zep::u16_to_utf8(std::u16string_view(name, zep_wcslen(name)));
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return ZEP_E_NULL_ARG;
  *size = static_cast<uint64_t>(info.st_size);
  return ZEP_OK;
}
