// Files of the platform layer: open flags and their codes, the tracked
// position, 64-bit offsets, UTF-16 names and the console object.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"
#include "tests/support/byte_writer.h"

namespace {

using zeptest::TempDir;

std::u16string wide(const std::string& utf8) { return zep::utf8_to_u16(utf8); }

bool exists(const std::string& path) { return std::filesystem::exists(path); }

TEST(FileOpen, MissingFileIsNeverCreated) {
  TempDir dir;
  const std::string path = dir.path() + "/missing.bin";
  for (uint32_t flags : {0x01u, 0x02u, 0x03u, 0x12u, 0x13u, 0x42u, 0x0Au}) {
    ZepFile* file = reinterpret_cast<ZepFile*>(0x1);
    EXPECT_EQ(zep_file_open(wide(path).c_str(), flags, &file, nullptr), ZEP_E_NO_SUCH_FILE)
        << "flags " << flags;
    EXPECT_EQ(file, nullptr);
    EXPECT_FALSE(exists(path)) << "flags " << flags;
  }
}

TEST(FileOpen, TruncateWithReadOnlyAccessIsRefusedFirst) {
  TempDir dir;
  const std::string path = dir.write("keep.bin", std::string_view("content"));
  ZepFile* file = nullptr;
  EXPECT_EQ(zep_file_open(wide(path).c_str(), 0x11, &file, nullptr), ZEP_E_TRUNC_READONLY);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(zeptest::read_file(path).size(), 7u);
  // Neither access bit set also means read-only.
  EXPECT_EQ(zep_file_open(wide(path).c_str(), 0x10, &file, nullptr), ZEP_E_TRUNC_READONLY);
  const std::string missing = dir.path() + "/none";
  EXPECT_EQ(zep_file_open(wide(missing).c_str(), 0x11, &file, nullptr), ZEP_E_TRUNC_READONLY);
  EXPECT_FALSE(exists(missing));
}

TEST(FileOpen, NullArgumentsAndOtherFailures) {
  ZepFile* file = reinterpret_cast<ZepFile*>(0x1);
  EXPECT_EQ(zep_file_open(u"x", 0x01, nullptr, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_file_open(nullptr, 0x01, &file, nullptr), ZEP_E_NO_NAME);
  EXPECT_EQ(file, nullptr);
  EXPECT_EQ(zep_file_open(u"", 0x01, &file, nullptr), ZEP_E_NO_SUCH_FILE);

  TempDir dir;
  // A directory is not a file.
  EXPECT_EQ(zep_file_open(wide(dir.path()).c_str(), 0x01, &file, nullptr), ZEP_E_ACCESS);
  EXPECT_EQ(file, nullptr);
  // A path through a regular file fails with "other" (ENOTDIR).
  const std::string plain = dir.write("plain", std::string_view("x"));
  EXPECT_EQ(zep_file_open(wide(plain + "/below").c_str(), 0x01, &file, nullptr), ZEP_E_OPEN_OTHER);

  if (geteuid() != 0) {
    const std::string locked = dir.write("locked", std::string_view("x"));
    chmod(locked.c_str(), 0);
    EXPECT_EQ(zep_file_open(wide(locked).c_str(), 0x01, &file, nullptr), ZEP_E_ACCESS);
  }
}

TEST(FileOpen, ReadWriteModesAndTruncation) {
  TempDir dir;
  const std::string path = dir.write("data.bin", std::string_view("0123456789"));
  ZepFile* file = nullptr;
  uint32_t count = 99;

  // Write alone keeps the content it does not overwrite.
  ASSERT_EQ(zep_file_open(wide(path).c_str(), 0x02, &file, nullptr), ZEP_OK);
  EXPECT_EQ(zep_file_write(file, "ab", 2, &count), ZEP_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(file->position, 2u);
  EXPECT_EQ(zep_file_write(file, "zz", 0, &count), ZEP_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
  EXPECT_EQ(zeptest::read_file(path),
            zeptest::Bytes({'a', 'b', '2', '3', '4', '5', '6', '7', '8', '9'}));

  // Read and write together.
  ASSERT_EQ(zep_file_open(wide(path).c_str(), 0x03, &file, nullptr), ZEP_OK);
  char buffer[4] = {};
  EXPECT_EQ(zep_file_read(file, buffer, 3, &count), ZEP_OK);
  EXPECT_EQ(std::string(buffer, 3), "ab2");
  uint64_t at = 0;
  EXPECT_EQ(zep_file_seek(file, 5, 0, &at), ZEP_OK);
  EXPECT_EQ(zep_file_write(file, "X", 1, &count), ZEP_OK);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
  EXPECT_EQ(zeptest::read_file(path)[5], 'X');

  // Write + truncate empties an existing file.
  ASSERT_EQ(zep_file_open(wide(path).c_str(), 0x12, &file, nullptr), ZEP_OK);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
  EXPECT_TRUE(zeptest::read_file(path).empty());

  // The advisory deny-share, text and sequential flags open as usual, twice.
  ZepFile* second = nullptr;
  ASSERT_EQ(zep_file_open(wide(path).c_str(), 0x4D, &file, nullptr), ZEP_OK);
  ASSERT_EQ(zep_file_open(wide(path).c_str(), 0x41, &second, nullptr), ZEP_OK);
  EXPECT_EQ(file->openFlags, 0x4Du);
  EXPECT_EQ(zep_file_close(second), ZEP_OK);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
}

TEST(FileRead, ShortReadAtTheEndIsNoFailure) {
  TempDir dir;
  const std::string path = dir.write("short.bin", std::string_view("hello"));
  ZepFile* file = nullptr;
  ASSERT_EQ(zep_file_open(wide(path).c_str(), 0x01, &file, nullptr), ZEP_OK);
  char buffer[16];
  uint32_t count = 0;
  EXPECT_EQ(zep_file_read(file, buffer, sizeof buffer, &count), ZEP_OK);
  EXPECT_EQ(count, 5u);
  EXPECT_EQ(zep_file_read(file, buffer, sizeof buffer, &count), ZEP_OK);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(zep_file_read(file, buffer, 4, nullptr), ZEP_OK);
  uint64_t position = 0;
  EXPECT_EQ(zep_file_tell(file, &position), ZEP_OK);
  EXPECT_EQ(position, 5u);
  EXPECT_EQ(zep_file_read(file, nullptr, 4, &count), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_file_read(nullptr, buffer, 4, &count), ZEP_E_READ_NULL_FILE);
  EXPECT_EQ(zep_file_tell(file, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_file_tell(nullptr, &position), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
  EXPECT_EQ(zep_file_close(nullptr), ZEP_E_CLOSE);
}

TEST(FileSeek, ToTheTrackedPositionTouchesNothing) {
  TempDir dir;
  const std::string path = dir.write("seek.bin", std::string_view("abcdefgh"));
  ZepFile* file = nullptr;
  ASSERT_EQ(zep_file_open(wide(path).c_str(), 0x01, &file, nullptr), ZEP_OK);
  char buffer[16];
  uint32_t count = 0;
  ASSERT_EQ(zep_file_read(file, buffer, sizeof buffer, &count), ZEP_OK);
  ASSERT_TRUE(feof(file->stream));
  uint64_t out = 12345;
  EXPECT_EQ(zep_file_seek(file, 8, 0, &out), ZEP_OK);
  EXPECT_EQ(out, 12345u);
  // A real fseeko would have cleared the end-of-file mark.
  EXPECT_TRUE(feof(file->stream));
  EXPECT_EQ(zep_file_seek(file, 0, 1, &out), ZEP_OK);
  EXPECT_EQ(out, 8u);
  EXPECT_FALSE(feof(file->stream));
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
}

TEST(FileSeek, OriginsAndFailures) {
  TempDir dir;
  const std::string path = dir.write("seek.bin", std::string_view("abcdefgh"));
  ZepFile* file = nullptr;
  ASSERT_EQ(zep_file_open(wide(path).c_str(), 0x01, &file, nullptr), ZEP_OK);
  uint64_t out = 0;
  EXPECT_EQ(zep_file_seek(file, 3, 0, &out), ZEP_OK);
  EXPECT_EQ(out, 3u);
  EXPECT_EQ(zep_file_seek(file, 2, 1, &out), ZEP_OK);
  EXPECT_EQ(out, 5u);
  EXPECT_EQ(zep_file_seek(file, -1, 2, &out), ZEP_OK);
  EXPECT_EQ(out, 7u);
  char c = 0;
  uint32_t count = 0;
  EXPECT_EQ(zep_file_read(file, &c, 1, &count), ZEP_OK);
  EXPECT_EQ(c, 'h');
  EXPECT_EQ(zep_file_seek(file, 0, 3, &out), ZEP_E_SEEK_ORIGIN);
  EXPECT_EQ(zep_file_seek(file, 0, -1, &out), ZEP_E_SEEK_ORIGIN);
  // Before the start: EINVAL, and the tracked position falls to 0.
  EXPECT_EQ(zep_file_seek(file, -100, 1, &out), ZEP_E_SEEK_INVALID);
  uint64_t position = 99;
  EXPECT_EQ(zep_file_tell(file, &position), ZEP_OK);
  EXPECT_EQ(position, 0u);
  // The stream stands where the tracked position says.
  EXPECT_EQ(zep_file_seek(file, 0, 0, &out), ZEP_OK);
  EXPECT_EQ(zep_file_read(file, &c, 1, &count), ZEP_OK);
  EXPECT_EQ(c, 'a');
  EXPECT_EQ(zep_file_seek(file, 2, 0, nullptr), ZEP_OK);
  EXPECT_EQ(zep_file_seek(nullptr, 2, 0, &out), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
}

TEST(FileSeek, PositionsBeyondFourGibibytes) {
  TempDir dir;
  const std::string path = dir.path() + "/sparse.bin";
  const uint64_t size = (5ull << 30) + 3;
  const uint64_t mark = (4ull << 30) + 7;
  {
    const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
    ASSERT_GE(fd, 0);
    const bool sparse = ftruncate(fd, static_cast<off_t>(size)) == 0 &&
                        pwrite(fd, "MARK", 4, static_cast<off_t>(mark)) == 4;
    close(fd);
    if (!sparse) GTEST_SKIP() << "no sparse 5 GiB file here";
  }
  uint64_t reported = 0;
  EXPECT_EQ(zep_file_size(wide(path).c_str(), &reported), ZEP_OK);
  EXPECT_EQ(reported, size);

  ZepFile* file = nullptr;
  ASSERT_EQ(zep_file_open(wide(path).c_str(), 0x01, &file, nullptr), ZEP_OK);
  uint64_t out = 0;
  EXPECT_EQ(zep_file_seek(file, static_cast<int64_t>(mark), 0, &out), ZEP_OK);
  EXPECT_EQ(out, mark);
  char buffer[4];
  uint32_t count = 0;
  EXPECT_EQ(zep_file_read(file, buffer, 4, &count), ZEP_OK);
  EXPECT_EQ(std::string(buffer, 4), "MARK");
  uint64_t position = 0;
  EXPECT_EQ(zep_file_tell(file, &position), ZEP_OK);
  EXPECT_EQ(position, mark + 4);
  EXPECT_EQ(zep_file_seek(file, 0, 2, &out), ZEP_OK);
  EXPECT_EQ(out, size);
  EXPECT_EQ(zep_file_seek(file, -static_cast<int64_t>(size - mark), 1, &out), ZEP_OK);
  EXPECT_EQ(out, mark);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
}

TEST(FileName, Utf16NamesReachTheDiskAsUtf8) {
  TempDir dir;
  // "é" and an emoji outside the BMP (a surrogate pair in UTF-16).
  const std::string path = dir.write("caf\xC3\xA9-\xF0\x9F\x98\x80.txt", std::string_view("ok"));
  const std::u16string name = wide(dir.path()) + u"/caf\u00E9-\U0001F600.txt";
  ZepFile* file = nullptr;
  ASSERT_EQ(zep_file_open(name.c_str(), 0x01, &file, nullptr), ZEP_OK);
  EXPECT_EQ(zep_wcscmp(file->name, name.c_str()), 0);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
  uint64_t size = 0;
  EXPECT_EQ(zep_file_size(name.c_str(), &size), ZEP_OK);
  EXPECT_EQ(size, 2u);
  EXPECT_EQ(zep_file_size(nullptr, &size), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_file_size(u"/no/such/file", &size), ZEP_E_NULL_ARG);
}

// Puts the read end of a pipe holding `input` on standard input for the
// life of the object.
class StdinFromPipe {
 public:
  explicit StdinFromPipe(const std::string& input) {
    int fds[2];
    ok_ = pipe(fds) == 0;
    if (!ok_) return;
    ok_ = write(fds[1], input.data(), input.size()) == static_cast<ssize_t>(input.size());
    close(fds[1]);
    saved_ = dup(0);
    dup2(fds[0], 0);
    close(fds[0]);
    clearerr(stdin);
  }
  ~StdinFromPipe() {
    if (saved_ >= 0) {
      dup2(saved_, 0);
      close(saved_);
    }
    clearerr(stdin);
  }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
  int saved_ = -1;
};

TEST(FileConsole, ReadsStandardInputAndRefusesSeeking) {
  StdinFromPipe input("abc");
  ASSERT_TRUE(input.ok());
  ZepFile* file = nullptr;
  ASSERT_EQ(zep_file_open(nullptr, 0x80, &file, nullptr), ZEP_OK);
  EXPECT_EQ(file->console, 1u);
  char buffer[8] = {};
  uint32_t count = 0;
  EXPECT_EQ(zep_file_read(file, buffer, 2, &count), ZEP_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(zep_file_read(file, buffer + 2, 5, &count), ZEP_E_INPUT_ENDED);
  EXPECT_EQ(count, 1u);
  EXPECT_EQ(std::string(buffer), "abc");
  uint64_t position = 0;
  EXPECT_EQ(zep_file_seek(file, 0, 0, &position), ZEP_E_CONSOLE);
  EXPECT_EQ(zep_file_tell(file, &position), ZEP_E_CONSOLE);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
}

TEST(FileConsole, WritesStandardOutput) {
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  fflush(stdout);
  const int saved = dup(1);
  dup2(fds[1], 1);
  close(fds[1]);
  ZepFile* file = nullptr;
  const ZEP_STATUS opened = zep_file_open(u"ignored", 0x82, &file, nullptr);
  uint32_t count = 0;
  const ZEP_STATUS wrote = opened == ZEP_OK ? zep_file_write(file, "out", 3, &count) : opened;
  const ZEP_STATUS closed = opened == ZEP_OK ? zep_file_close(file) : opened;
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  char buffer[8] = {};
  const ssize_t got = read(fds[0], buffer, sizeof buffer);
  close(fds[0]);
  EXPECT_EQ(wrote, ZEP_OK);
  EXPECT_EQ(closed, ZEP_OK);
  EXPECT_EQ(count, 3u);
  EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0), "out");
}

}  // namespace
