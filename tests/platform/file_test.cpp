// Files and directory search of the platform layer: open flags, the tracked
// position, UTF-16 names, the console object, the "dir\*.*" pattern, listing.
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"
#include "tests/support/byte_writer.h"

namespace {

using zeptest::TempDir;
using Answer = std::pair<ZEP_STATUS, uint64_t>;  // a call's status with its position or count

ZEP_STATUS open_file(const std::string& path, uint32_t flags, ZepFile** file) {
  return zep_file_open(zep::utf8_to_u16(path).c_str(), flags, file, nullptr);
}
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
  // Truncation without write access is refused first; a missing file is never created.
  const struct {
    std::string path;
    uint32_t flags;
    ZEP_STATUS status;
  } cases[] = {{kept, 0x11, ZEP_E_TRUNC_READONLY},
               {missing, 0x13, ZEP_E_NO_SUCH_FILE},
               {dir.path(), 0x01, ZEP_E_ACCESS},
               {plain + "/below", 0x01, ZEP_E_OPEN_OTHER},
               {locked, 0x01, geteuid() == 0 ? ZEP_OK : ZEP_E_ACCESS}};
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
  ASSERT_EQ(open_file(path, 0x02, &file), ZEP_OK);  // write alone keeps the rest
  EXPECT_EQ((std::vector{write(file, "ab", 2), write(file, "zz", 0)}), (std::vector{ok(2), ok(0)}));
  EXPECT_EQ(file->position, 2u);
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
  ASSERT_EQ(open_file(path, 0x03, &file), ZEP_OK);
  EXPECT_EQ(read(file, 3), std::pair(ZEP_OK, std::string("ab2")));
  EXPECT_EQ((std::vector{seek(file, 5, 0), write(file, "X", 1)}), (std::vector{ok(5), ok(1)}));
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
  EXPECT_EQ((std::vector{zep_file_close(second), zep_file_close(file)}),
            (std::vector{ZEP_OK, ZEP_OK}));
}

// A file holding "abcdefgh", open for reading.
class FileHolding : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(open_file(dir_.write("file.bin", std::string_view("abcdefgh")), 0x01, &file_),
              ZEP_OK);
  }
  void TearDown() override { EXPECT_EQ(zep_file_close(file_), ZEP_OK); }
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

TEST_F(FileHolding, SeekOriginsAndFailures) {
  ASSERT_EQ(read(file_, 16).second.size(), 8u);
  EXPECT_EQ(seek(file_, 8, 0), ok(12345)) << "the tracked position: nothing reported";
  EXPECT_TRUE(feof(file_->stream)) << "a real fseeko would have cleared the mark";
  EXPECT_EQ(
      (std::vector{seek(file_, 0, 1), seek(file_, 3, 0), seek(file_, 2, 1), seek(file_, -1, 2)}),
      (std::vector{ok(8), ok(3), ok(5), ok(7)}));
  EXPECT_EQ(read(file_, 1).second, "h");
  EXPECT_EQ(
      (std::vector{seek(file_, 0, 3).first, seek(file_, 0, -1).first, seek(nullptr, 2, 0).first}),
      (std::vector{ZEP_E_SEEK_ORIGIN, ZEP_E_SEEK_ORIGIN, ZEP_E_NULL_ARG}));
  // Before the start: the tracked position falls to 0 where the stream stands
  // too (it used to keep the old position).
  EXPECT_EQ(seek(file_, -100, 1).first, ZEP_E_SEEK_INVALID);
  EXPECT_EQ(tell(file_), ok(0));
  EXPECT_EQ(seek(file_, 0, 0).first, ZEP_OK);
  EXPECT_EQ(read(file_, 1).second, "a");
  EXPECT_EQ(zep_file_seek(file_, 2, 0, nullptr), ZEP_OK);
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
  EXPECT_EQ((std::vector{zep_file_size(nullptr, &size), zep_file_size(u"/no/such/file", &size)}),
            (std::vector{ZEP_E_NULL_ARG, ZEP_E_NULL_ARG}));
}

// The console object reads standard input (here a file) and writes standard output.
TEST(FileConsole, ReadsStandardInputWritesStandardOutputRefusesSeeking) {
  TempDir dir;
  ASSERT_NE(freopen(dir.write("in", std::string_view("abc")).c_str(), "rb", stdin), nullptr);
  ZepFile* file = nullptr;
  ASSERT_EQ(zep_file_open(nullptr, 0x80, &file, nullptr), ZEP_OK);
  EXPECT_EQ(file->console, 1u);
  EXPECT_EQ((std::vector{read(file, 2), read(file, 5)}),
            (std::vector{std::pair(ZEP_OK, std::string("ab")),
                         std::pair(ZEP_E_INPUT_ENDED, std::string("c"))}));
  EXPECT_EQ((std::vector{seek(file, 0, 0).first, tell(file).first}),
            (std::vector{ZEP_E_CONSOLE, ZEP_E_CONSOLE}));
  testing::internal::CaptureStdout();
  EXPECT_EQ(write(file, "out", 3), ok(3));
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "out");
  EXPECT_EQ(zep_file_close(file), ZEP_OK);
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
  const std::u16string fits(256, u'a');  // 256 units + "\*.*" is exactly the limit
  EXPECT_EQ(
      (std::vector{pattern_of(u"C:\\media"), pattern_of(u"C:\\media\\"), pattern_of(u"/tmp/x/"),
                   pattern_of(u""), pattern_of(u"a//"), pattern_of(fits).substr(256)}),
      (std::vector<std::u16string>{u"C:\\media\\*.*", u"C:\\media\\*.*", u"/tmp/x\\*.*", u"\\*.*",
                                   u"a/\\*.*", u"\\*.*"}));
  ZepDirSearch* search = nullptr;
  ZepDirEntry entry;
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

// Every entry with its directory flag until the empty name (which stays the
// end); *failure gets the first failing status.
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
    EXPECT_EQ((std::pair{zep_dir_next(search, &entry), entry.name[0]}), std::pair(ZEP_OK, u'\0'));
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
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  for (const std::u16string& form : {base, base + u"/", base + u"\\", std::u16string(u".\\")}) {
    ZEP_STATUS status = ZEP_FAIL;
    EXPECT_EQ(list(form, &status), expected);
    EXPECT_EQ(status, ZEP_OK);
  }
  std::filesystem::current_path(saved);
  for (const std::string& path : {dir.path() + "/absent", dir.path() + "/one.mkv"}) {
    ZEP_STATUS status = ZEP_OK;  // a missing directory or a file fails at the first entry
    EXPECT_TRUE(list(zep::utf8_to_u16(path), &status).empty());
    EXPECT_EQ(status, ZEP_E_NULL_ARG);
  }
}

}  // namespace
