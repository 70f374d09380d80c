// Files and directory search of the platform layer: open flags and their
// codes, the tracked position, 64-bit offsets, UTF-16 names, the console
// object, the "dir\*.*" pattern and the listing.
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"
#include "tests/support/byte_writer.h"

namespace {

using zeptest::TempDir;
using Answer = std::pair<ZEP_STATUS, uint64_t>;

ZEP_STATUS open_file(const std::string& path, uint32_t flags, ZepFile** file) {
  return zep_file_open(zep::utf8_to_u16(path).c_str(), flags, file, nullptr);
}
// The status of a call with the position or count it reported.
Answer seek(ZepFile* file, int64_t offset, int origin) {
  uint64_t at = 12345;
  return {zep_file_seek(file, offset, origin, &at), at};
}
Answer tell(ZepFile* file) {
  uint64_t at = 12345;
  return {zep_file_tell(file, &at), at};
}
Answer write(ZepFile* file, const char* data, uint32_t size) {
  uint32_t count = 99;
  return {zep_file_write(file, data, size, &count), count};
}
std::pair<ZEP_STATUS, std::string> read(ZepFile* file, uint32_t size) {
  std::string buffer(size, '\0');
  uint32_t count = 0;
  const ZEP_STATUS status = zep_file_read(file, buffer.data(), size, &count);
  buffer.resize(count);
  return {status, buffer};
}
Answer ok(uint64_t value) { return {ZEP_OK, value}; }

TEST(FileOpen, RefusedOpensNameTheirCauseAndCreateNothing) {
  TempDir dir;
  const std::string kept = dir.write("keep.bin", std::string_view("content"));
  const std::string plain = dir.write("plain", std::string_view("x"));
  const std::string locked = dir.write("locked", std::string_view("x"));
  const std::string missing = dir.path() + "/missing.bin";
  chmod(locked.c_str(), 0);
  const struct {
    std::string path;
    uint32_t flags;
    ZEP_STATUS status;
  } cases[] = {
      // Truncation with read-only access (or neither access bit) is refused first.
      {kept, 0x11, ZEP_E_TRUNC_READONLY},
      {kept, 0x10, ZEP_E_TRUNC_READONLY},
      {missing, 0x11, ZEP_E_TRUNC_READONLY},
      // A missing file is never created, whatever the flags.
      {missing, 0x01, ZEP_E_NO_SUCH_FILE},
      {missing, 0x02, ZEP_E_NO_SUCH_FILE},
      {missing, 0x13, ZEP_E_NO_SUCH_FILE},
      {missing, 0x42, ZEP_E_NO_SUCH_FILE},
      {"", 0x01, ZEP_E_NO_SUCH_FILE},
      {dir.path(), 0x01, ZEP_E_ACCESS},
      {plain + "/below", 0x01, ZEP_E_OPEN_OTHER},  // ENOTDIR
      {locked, 0x01, geteuid() == 0 ? ZEP_OK : ZEP_E_ACCESS},
  };
  for (const auto& c : cases) {
    ZepFile* file = reinterpret_cast<ZepFile*>(0x1);
    EXPECT_EQ(open_file(c.path, c.flags, &file), c.status) << c.path << " " << c.flags;
    if (c.status == ZEP_OK)
      zep_file_close(file);
    else
      EXPECT_EQ(file, nullptr) << c.path;
  }
  EXPECT_EQ(zeptest::read_file(kept).size(), 7u);
  EXPECT_FALSE(std::filesystem::exists(missing));
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
  ASSERT_EQ(open_file(path, 0x03, &file), ZEP_OK);
  EXPECT_EQ(read(file, 3), std::pair(ZEP_OK, std::string("ab2")));
  EXPECT_EQ(seek(file, 5, 0), ok(5));
  EXPECT_EQ(write(file, "X", 1), ok(1));
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
  EXPECT_EQ(zeptest::read_file(path),
            zeptest::Bytes({'a', 'b', '2', '3', '4', 'X', '6', '7', '8', '9'}));
  ASSERT_EQ(open_file(path, 0x12, &file), ZEP_OK);  // write + truncate empties it
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

// A file holding "abcdefgh", open for reading.
class FileHolding : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(open_file(dir_.write("file.bin", std::string_view("abcdefgh")), 0x01, &file_),
              ZEP_OK);
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
  EXPECT_EQ(read(file_, 16), std::pair(ZEP_OK, std::string("abcdefgh")));
  EXPECT_EQ(read(file_, 16), std::pair(ZEP_OK, std::string()));
  char buffer[4];
  uint32_t count = 0;
  EXPECT_EQ(zep_file_read(file_, buffer, 4, nullptr), ZEP_OK);
  EXPECT_EQ(tell(file_), ok(8));
  EXPECT_EQ((std::vector<ZEP_STATUS>{
                zep_file_read(file_, nullptr, 4, &count), zep_file_read(nullptr, buffer, 4, &count),
                zep_file_tell(file_, nullptr), tell(nullptr).first, zep_file_close(nullptr)}),
            (std::vector<ZEP_STATUS>{ZEP_E_NULL_ARG, ZEP_E_READ_NULL_FILE, ZEP_E_NULL_ARG,
                                     ZEP_E_NULL_ARG, ZEP_E_CLOSE}));
}

TEST_F(FileHolding, SeekToTheTrackedPositionTouchesNothing) {
  ASSERT_EQ(read(file_, 16).second.size(), 8u);
  ASSERT_TRUE(feof(file_->stream));
  EXPECT_EQ(seek(file_, 8, 0), ok(12345)) << "nothing reported";
  EXPECT_TRUE(feof(file_->stream)) << "a real fseeko would have cleared the mark";
  EXPECT_EQ(seek(file_, 0, 1), ok(8));
  EXPECT_FALSE(feof(file_->stream));
}

TEST_F(FileHolding, SeekOriginsAndFailures) {
  EXPECT_EQ(seek(file_, 3, 0), ok(3));
  EXPECT_EQ(seek(file_, 2, 1), ok(5));
  EXPECT_EQ(seek(file_, -1, 2), ok(7));
  EXPECT_EQ(read(file_, 1).second, "h");
  EXPECT_EQ(seek(file_, 0, 3).first, ZEP_E_SEEK_ORIGIN);
  EXPECT_EQ(seek(file_, 0, -1).first, ZEP_E_SEEK_ORIGIN);
  // Before the start: EINVAL, and the tracked position falls to 0 where the
  // stream stands too (it used to keep the old position).
  EXPECT_EQ(seek(file_, -100, 1).first, ZEP_E_SEEK_INVALID);
  EXPECT_EQ(tell(file_), ok(0));
  EXPECT_EQ(seek(file_, 0, 0).first, ZEP_OK);
  EXPECT_EQ(read(file_, 1).second, "a");
  EXPECT_EQ(zep_file_seek(file_, 2, 0, nullptr), ZEP_OK);
  EXPECT_EQ(seek(nullptr, 2, 0).first, ZEP_E_NULL_ARG);
}

TEST(FileSeek, PositionsBeyondFourGibibytes) {
  TempDir dir;
  const std::string path = dir.path() + "/sparse.bin";
  const uint64_t size = (5ull << 30) + 3, mark = (4ull << 30) + 7;
  const int fd = open(path.c_str(), O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  const bool sparse = ftruncate(fd, off_t(size)) == 0 && pwrite(fd, "MARK", 4, off_t(mark)) == 4;
  close(fd);
  if (!sparse) GTEST_SKIP() << "no sparse 5 GiB file here";
  uint64_t reported = 0;
  EXPECT_EQ(zep_file_size(zep::utf8_to_u16(path).c_str(), &reported), ZEP_OK);
  EXPECT_EQ(reported, size);
  ZepFile* file = nullptr;
  ASSERT_EQ(open_file(path, 0x01, &file), ZEP_OK);
  EXPECT_EQ(seek(file, int64_t(mark), 0), ok(mark));
  EXPECT_EQ(read(file, 4).second, "MARK");
  EXPECT_EQ(tell(file), ok(mark + 4));
  EXPECT_EQ(seek(file, 0, 2), ok(size));
  EXPECT_EQ(seek(file, -int64_t(size - mark), 1), ok(mark));
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
}

TEST(FileName, Utf16NamesReachTheDiskAsUtf8) {
  TempDir dir;
  dir.write("caf\xC3\xA9-\xF0\x9F\x98\x80.txt", std::string_view("ok"));  // a surrogate pair
  const std::u16string name = zep::utf8_to_u16(dir.path()) + u"/caf\u00E9-\U0001F600.txt";
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

// Runs `body` with descriptor `fd` (0 or 1) on a pipe: standard input reads
// `input`; what goes to standard output is returned.
std::string on_pipe(int fd, const std::string& input, const std::function<void()>& body) {
  int fds[2];
  if (pipe(fds) != 0) return "<no pipe>";
  if (fd == 0) {
    const bool wrote = ::write(fds[1], input.data(), input.size()) == ssize_t(input.size());
    close(fds[1]);
    if (!wrote) return "<short write>";
  }
  fflush(stdout);
  const int saved = dup(fd);
  dup2(fds[fd], fd);  // the read end for 0, the write end for 1
  close(fds[fd]);
  clearerr(stdin);
  body();
  fflush(stdout);
  dup2(saved, fd);
  close(saved);
  clearerr(stdin);
  if (fd == 0) return "";
  char buffer[64];
  const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
  close(fds[0]);
  return std::string(buffer, got > 0 ? size_t(got) : 0);
}

TEST(FileConsole, ReadsStandardInputWritesStandardOutputRefusesSeeking) {
  ZepFile* file = nullptr;
  std::pair<ZEP_STATUS, std::string> first, second;
  Answer seekAnswer, tellAnswer, wrote;
  uint32_t console = 0;
  on_pipe(0, "abc", [&] {
    if (zep_file_open(nullptr, 0x80, &file, nullptr) != ZEP_OK) return;
    console = file->console;
    first = read(file, 2);
    second = read(file, 5);
    seekAnswer = seek(file, 0, 0);
    tellAnswer = tell(file);
    zep_file_close(file);
  });
  EXPECT_EQ(first, std::pair(ZEP_OK, std::string("ab")));
  EXPECT_EQ(second, std::pair(ZEP_E_INPUT_ENDED, std::string("c")));
  EXPECT_EQ(console, 1u);
  EXPECT_EQ(seekAnswer.first, ZEP_E_CONSOLE);
  EXPECT_EQ(tellAnswer.first, ZEP_E_CONSOLE);
  const std::string out = on_pipe(1, "", [&] {
    if (zep_file_open(u"ignored", 0x82, &file, nullptr) != ZEP_OK) return;
    wrote = write(file, "out", 3);
    zep_file_close(file);
  });
  EXPECT_EQ(wrote, ok(3));
  EXPECT_EQ(out, "out");
}

std::u16string pattern_of(const std::u16string& directory) {
  ZepDirSearch* search = nullptr;
  if (zep_dir_open(directory.c_str(), &search, nullptr) != ZEP_OK) return u"<failed>";
  EXPECT_EQ(search->handle, -1);
  std::u16string pattern(search->pattern);
  zep_dir_close(search);
  return pattern;
}

TEST(DirPattern, OneTrailingSeparatorIsDroppedAndTheLengthIsBounded) {
  EXPECT_EQ(pattern_of(u"C:\\media"), u"C:\\media\\*.*");
  EXPECT_EQ(pattern_of(u"C:\\media\\"), u"C:\\media\\*.*");
  EXPECT_EQ(pattern_of(u"/tmp/x/"), u"/tmp/x\\*.*");
  EXPECT_EQ(pattern_of(u""), u"\\*.*");
  EXPECT_EQ(pattern_of(u"a//"), u"a/\\*.*");
  ZepDirSearch* search = nullptr;
  ZepDirEntry entry;
  // 256 units + "\*.*" is exactly the limit; one more would be cut.
  const std::u16string fits(256, u'a');
  EXPECT_EQ(pattern_of(fits).size(), 260u);
  EXPECT_EQ((std::vector<ZEP_STATUS>{zep_dir_open(nullptr, &search, nullptr),
                                     zep_dir_open(u"x", nullptr, nullptr),
                                     zep_dir_open((fits + u"b").c_str(), &search, nullptr),
                                     zep_dir_close(nullptr), zep_dir_next(nullptr, &entry)}),
            (std::vector<ZEP_STATUS>{ZEP_E_NULL_ARG, ZEP_E_NULL_ARG, ZEP_E_NULL_ARG, ZEP_OK,
                                     ZEP_E_NULL_ARG}));
  ASSERT_EQ(zep_dir_open(u"x", &search, nullptr), ZEP_OK);
  EXPECT_EQ(zep_dir_next(search, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_dir_close(search), ZEP_OK);  // a search that never started
}

// Every entry of the search with its directory flag, until the empty name
// (which stays the end); *failure gets the first failing status.
std::map<std::string, uint32_t> list(const std::u16string& directory, ZEP_STATUS* failure) {
  std::map<std::string, uint32_t> entries;
  ZepDirSearch* search = nullptr;
  if ((*failure = zep_dir_open(directory.c_str(), &search, nullptr)) != ZEP_OK) return entries;
  ZepDirEntry entry;
  for (int guard = 0; guard < 1000; ++guard) {
    if ((*failure = zep_dir_next(search, &entry)) != ZEP_OK || entry.name[0] == 0) break;
    entries[zep::u16_to_utf8(entry.name)] = entry.isDirectory;
  }
  if (*failure == ZEP_OK) {
    EXPECT_EQ(zep_dir_next(search, &entry), ZEP_OK);
    EXPECT_EQ(entry.name[0], 0);
  }
  EXPECT_EQ(zep_dir_close(search), ZEP_OK);
  return entries;
}

TEST(DirListing, EveryEntryWithItsDirectoryFlag) {
  TempDir dir;
  dir.write("one.mkv", std::string_view("1"));
  dir.write("caf\xC3\xA9.mkv", std::string_view(""));
  ASSERT_EQ(mkdir((dir.path() + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink((dir.path() + "/sub").c_str(), (dir.path() + "/link").c_str()), 0);
  const std::map<std::string, uint32_t> expected = {
      {".", 1}, {"..", 1}, {"one.mkv", 0}, {"caf\xC3\xA9.mkv", 0}, {"sub", 1}, {"link", 1}};
  const std::u16string base = zep::utf8_to_u16(dir.path());
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  for (const std::u16string& form : {base, base + u"/", base + u"\\", std::u16string(u".\\")}) {
    ZEP_STATUS status = ZEP_FAIL;
    EXPECT_EQ(list(form, &status), expected);
    EXPECT_EQ(status, ZEP_OK);
  }
  ASSERT_EQ(chdir(saved), 0);
  // A missing directory or a file fails at the first entry.
  for (const std::string& path : {dir.path() + "/absent", dir.path() + "/one.mkv"}) {
    ZEP_STATUS status = ZEP_OK;
    EXPECT_TRUE(list(zep::utf8_to_u16(path), &status).empty());
    EXPECT_EQ(status, ZEP_E_NULL_ARG);
  }
}

}  // namespace
