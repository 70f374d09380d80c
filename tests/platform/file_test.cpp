// Files of the platform layer: open flags and their codes, the tracked
// position, 64-bit offsets, UTF-16 names and the console object.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <utility>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"
#include "tests/support/byte_writer.h"

namespace {

using zeptest::TempDir;
using Answer = std::pair<ZEP_STATUS, uint64_t>;

std::u16string wide(const std::string& utf8) { return zep::utf8_to_u16(utf8); }

ZEP_STATUS open_file(const std::string& path, uint32_t flags, ZepFile** file) {
  return zep_file_open(wide(path).c_str(), flags, file, nullptr);
}

// The status of a call and the position or count it reported.
Answer seek(ZepFile* file, int64_t offset, int origin) {
  uint64_t at = 12345;
  const ZEP_STATUS status = zep_file_seek(file, offset, origin, &at);
  return {status, at};
}
Answer tell(ZepFile* file) {
  uint64_t at = 12345;
  const ZEP_STATUS status = zep_file_tell(file, &at);
  return {status, at};
}
Answer write(ZepFile* file, const char* data, uint32_t size) {
  uint32_t count = 99;
  const ZEP_STATUS status = zep_file_write(file, data, size, &count);
  return {status, count};
}
// The status and the bytes read, at most `size`.
std::pair<ZEP_STATUS, std::string> read(ZepFile* file, uint32_t size) {
  std::string buffer(size, '\0');
  uint32_t count = 0;
  const ZEP_STATUS status = zep_file_read(file, buffer.data(), size, &count);
  buffer.resize(count);
  return {status, buffer};
}
Answer ok(uint64_t value) { return {ZEP_OK, value}; }

TEST(FileOpen, MissingFileIsNeverCreated) {
  TempDir dir;
  const std::string path = dir.path() + "/missing.bin";
  for (uint32_t flags : {0x01u, 0x02u, 0x03u, 0x12u, 0x13u, 0x42u, 0x0Au}) {
    ZepFile* file = reinterpret_cast<ZepFile*>(0x1);
    EXPECT_EQ(open_file(path, flags, &file), ZEP_E_NO_SUCH_FILE) << "flags " << flags;
    EXPECT_EQ(file, nullptr);
    EXPECT_FALSE(std::filesystem::exists(path)) << "flags " << flags;
  }
}

TEST(FileOpen, RefusedOpensNameTheirCause) {
  TempDir dir;
  const std::string kept = dir.write("keep.bin", std::string_view("content"));
  const std::string plain = dir.write("plain", std::string_view("x"));
  const std::string locked = dir.write("locked", std::string_view("x"));
  chmod(locked.c_str(), 0);
  struct Case {
    const char* what;
    std::string path;
    uint32_t flags;
    ZEP_STATUS status;
  } cases[] = {
      // Truncation with read-only access is refused first; neither access bit
      // set also means read-only.
      {"truncate read-only", kept, 0x11, ZEP_E_TRUNC_READONLY},
      {"truncate no access", kept, 0x10, ZEP_E_TRUNC_READONLY},
      {"truncate read-only missing", dir.path() + "/none", 0x11, ZEP_E_TRUNC_READONLY},
      {"empty name", "", 0x01, ZEP_E_NO_SUCH_FILE},
      {"a directory is no file", dir.path(), 0x01, ZEP_E_ACCESS},
      // ENOTDIR.
      {"path through a regular file", plain + "/below", 0x01, ZEP_E_OPEN_OTHER},
      {"no permission", locked, 0x01, geteuid() == 0 ? ZEP_OK : ZEP_E_ACCESS},
  };
  for (const Case& c : cases) {
    ZepFile* file = reinterpret_cast<ZepFile*>(0x1);
    EXPECT_EQ(open_file(c.path, c.flags, &file), c.status) << c.what;
    if (c.status == ZEP_OK)
      zep_file_close(file);
    else
      EXPECT_EQ(file, nullptr) << c.what;
  }
  EXPECT_EQ(zeptest::read_file(kept).size(), 7u);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/none"));
  ZepFile* file = reinterpret_cast<ZepFile*>(0x1);
  EXPECT_EQ(zep_file_open(u"x", 0x01, nullptr, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_file_open(nullptr, 0x01, &file, nullptr), ZEP_E_NO_NAME);
  EXPECT_EQ(file, nullptr);
}

TEST(FileOpen, ReadWriteModesAndTruncation) {
  TempDir dir;
  const std::string path = dir.write("data.bin", std::string_view("0123456789"));
  ZepFile* file = nullptr;
  // Write alone keeps the content it does not overwrite.
  ASSERT_EQ(open_file(path, 0x02, &file), ZEP_OK);
  EXPECT_EQ(write(file, "ab", 2), ok(2));
  EXPECT_EQ(file->position, 2u);
  EXPECT_EQ(write(file, "zz", 0), ok(0));
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
  EXPECT_EQ(zeptest::read_file(path),
            zeptest::Bytes({'a', 'b', '2', '3', '4', '5', '6', '7', '8', '9'}));
  // Read and write together.
  ASSERT_EQ(open_file(path, 0x03, &file), ZEP_OK);
  EXPECT_EQ(read(file, 3), std::pair(ZEP_OK, std::string("ab2")));
  EXPECT_EQ(seek(file, 5, 0), ok(5));
  EXPECT_EQ(write(file, "X", 1), ok(1));
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
  EXPECT_EQ(zeptest::read_file(path)[5], 'X');
  // Write + truncate empties an existing file.
  ASSERT_EQ(open_file(path, 0x12, &file), ZEP_OK);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
  EXPECT_TRUE(zeptest::read_file(path).empty());
  // The advisory deny-share, text and sequential flags open as usual, twice.
  ZepFile* second = nullptr;
  ASSERT_EQ(open_file(path, 0x4D, &file), ZEP_OK);
  ASSERT_EQ(open_file(path, 0x41, &second), ZEP_OK);
  EXPECT_EQ(file->openFlags, 0x4Du);
  EXPECT_EQ(zep_file_close(second), ZEP_OK);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
}

// A file holding some bytes, open for reading.
class FileHolding : public ::testing::Test {
 protected:
  void open_holding(std::string_view content) {
    ASSERT_EQ(open_file(dir_.write("file.bin", content), 0x01, &file_), ZEP_OK);
  }
  void TearDown() override {
    if (file_ != nullptr) {
      EXPECT_EQ(zep_file_close(file_), ZEP_OK);
    }
  }
  TempDir dir_;
  ZepFile* file_ = nullptr;
};

TEST_F(FileHolding, ShortReadAtTheEndIsNoFailure) {
  ASSERT_NO_FATAL_FAILURE(open_holding("hello"));
  ZepFile* file = file_;
  EXPECT_EQ(read(file, 16), std::pair(ZEP_OK, std::string("hello")));
  EXPECT_EQ(read(file, 16), std::pair(ZEP_OK, std::string()));
  char buffer[4];
  EXPECT_EQ(zep_file_read(file, buffer, 4, nullptr), ZEP_OK);
  EXPECT_EQ(tell(file), ok(5));
  uint32_t count = 0;
  EXPECT_EQ(zep_file_read(file, nullptr, 4, &count), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_file_read(nullptr, buffer, 4, &count), ZEP_E_READ_NULL_FILE);
  EXPECT_EQ(zep_file_tell(file, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(tell(nullptr).first, ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_file_close(nullptr), ZEP_E_CLOSE);
}

TEST_F(FileHolding, SeekToTheTrackedPositionTouchesNothing) {
  ASSERT_NO_FATAL_FAILURE(open_holding("abcdefgh"));
  ZepFile* file = file_;
  ASSERT_EQ(read(file, 16).second.size(), 8u);
  ASSERT_TRUE(feof(file->stream));
  EXPECT_EQ(seek(file, 8, 0), ok(12345)) << "nothing reported";
  // A real fseeko would have cleared the end-of-file mark.
  EXPECT_TRUE(feof(file->stream));
  EXPECT_EQ(seek(file, 0, 1), ok(8));
  EXPECT_FALSE(feof(file->stream));
}

TEST_F(FileHolding, SeekOriginsAndFailures) {
  ASSERT_NO_FATAL_FAILURE(open_holding("abcdefgh"));
  ZepFile* file = file_;
  EXPECT_EQ(seek(file, 3, 0), ok(3));
  EXPECT_EQ(seek(file, 2, 1), ok(5));
  EXPECT_EQ(seek(file, -1, 2), ok(7));
  EXPECT_EQ(read(file, 1).second, "h");
  EXPECT_EQ(seek(file, 0, 3).first, ZEP_E_SEEK_ORIGIN);
  EXPECT_EQ(seek(file, 0, -1).first, ZEP_E_SEEK_ORIGIN);
  // Before the start: EINVAL, and the tracked position falls to 0 where the
  // stream stands too.
  EXPECT_EQ(seek(file, -100, 1).first, ZEP_E_SEEK_INVALID);
  EXPECT_EQ(tell(file), ok(0));
  EXPECT_EQ(seek(file, 0, 0).first, ZEP_OK);
  EXPECT_EQ(read(file, 1).second, "a");
  EXPECT_EQ(zep_file_seek(file, 2, 0, nullptr), ZEP_OK);
  EXPECT_EQ(seek(nullptr, 2, 0).first, ZEP_E_NULL_ARG);
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
  ASSERT_EQ(open_file(path, 0x01, &file), ZEP_OK);
  EXPECT_EQ(seek(file, static_cast<int64_t>(mark), 0), ok(mark));
  EXPECT_EQ(read(file, 4).second, "MARK");
  EXPECT_EQ(tell(file), ok(mark + 4));
  EXPECT_EQ(seek(file, 0, 2), ok(size));
  EXPECT_EQ(seek(file, -static_cast<int64_t>(size - mark), 1), ok(mark));
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
}

TEST(FileName, Utf16NamesReachTheDiskAsUtf8) {
  TempDir dir;
  // "é" and an emoji outside the BMP (a surrogate pair in UTF-16).
  dir.write("caf\xC3\xA9-\xF0\x9F\x98\x80.txt", std::string_view("ok"));
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
    ok_ = ::write(fds[1], input.data(), input.size()) == static_cast<ssize_t>(input.size());
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
  EXPECT_EQ(read(file, 2), std::pair(ZEP_OK, std::string("ab")));
  EXPECT_EQ(read(file, 5), std::pair(ZEP_E_INPUT_ENDED, std::string("c")));
  EXPECT_EQ(seek(file, 0, 0).first, ZEP_E_CONSOLE);
  EXPECT_EQ(tell(file).first, ZEP_E_CONSOLE);
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
  const Answer wrote = opened == ZEP_OK ? write(file, "out", 3) : Answer{opened, 0};
  const ZEP_STATUS closed = opened == ZEP_OK ? zep_file_close(file) : opened;
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  char buffer[8] = {};
  const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
  close(fds[0]);
  EXPECT_EQ(wrote, ok(3));
  EXPECT_EQ(closed, ZEP_OK);
  EXPECT_EQ(std::string(buffer, got > 0 ? static_cast<size_t>(got) : 0), "out");
}

}  // namespace
