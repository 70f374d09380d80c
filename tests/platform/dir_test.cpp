// Directory search: the "dir\*.*" pattern rules, the listing with "." and
// "..", the directory flag and the empty name at the end.
#include <sys/stat.h>
#include <unistd.h>

#include <map>
#include <string>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"
#include "tests/support/byte_writer.h"

namespace {

std::u16string pattern_of(const std::u16string& directory) {
  ZepDirSearch* search = nullptr;
  if (zep_dir_open(directory.c_str(), &search, nullptr) != ZEP_OK) return u"<failed>";
  EXPECT_EQ(search->handle, -1);
  std::u16string pattern(search->pattern);
  zep_dir_close(search);
  return pattern;
}

// Every entry of the search with its directory flag, until the empty name.
std::map<std::string, uint32_t> list(const std::u16string& directory, ZEP_STATUS* failure) {
  std::map<std::string, uint32_t> entries;
  ZepDirSearch* search = nullptr;
  *failure = zep_dir_open(directory.c_str(), &search, nullptr);
  if (*failure != ZEP_OK) return entries;
  ZepDirEntry entry;
  for (int guard = 0; guard < 1000; ++guard) {
    const ZEP_STATUS status = zep_dir_next(search, &entry);
    if (status != ZEP_OK) {
      *failure = status;
      break;
    }
    if (entry.name[0] == 0) break;
    entries[zep::u16_to_utf8(entry.name)] = entry.isDirectory;
  }
  // The end stays the end.
  if (*failure == ZEP_OK) {
    EXPECT_EQ(zep_dir_next(search, &entry), ZEP_OK);
    EXPECT_EQ(entry.name[0], 0);
  }
  EXPECT_EQ(zep_dir_close(search), ZEP_OK);
  return entries;
}

TEST(DirPattern, TrailingSeparatorsGiveTheBarePattern) {
  EXPECT_EQ(pattern_of(u"C:\\media"), u"C:\\media\\*.*");
  EXPECT_EQ(pattern_of(u"C:\\media\\"), u"C:\\media\\*.*");
  EXPECT_EQ(pattern_of(u"C:\\media/"), u"C:\\media\\*.*");
  EXPECT_EQ(pattern_of(u"/tmp/x"), u"/tmp/x\\*.*");
  EXPECT_EQ(pattern_of(u"/tmp/x/"), u"/tmp/x\\*.*");
  EXPECT_EQ(pattern_of(u".\\"), u".\\*.*");
  EXPECT_EQ(pattern_of(u""), u"\\*.*");
  // Only one "/" is dropped.
  EXPECT_EQ(pattern_of(u"a//"), u"a/\\*.*");
}

TEST(DirPattern, NullAndOverlongArguments) {
  ZepDirSearch* search = nullptr;
  EXPECT_EQ(zep_dir_open(nullptr, &search, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_dir_open(u"x", nullptr, nullptr), ZEP_E_NULL_ARG);
  // 256 units + "\*.*" is exactly the limit; one more would be cut.
  const std::u16string fits(256, u'a');
  EXPECT_EQ(pattern_of(fits).size(), 260u);
  EXPECT_EQ(zep_dir_open((fits + u"b").c_str(), &search, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_dir_close(nullptr), ZEP_OK);
  ZepDirEntry entry;
  EXPECT_EQ(zep_dir_next(nullptr, &entry), ZEP_E_NULL_ARG);
  ASSERT_EQ(zep_dir_open(u"x", &search, nullptr), ZEP_OK);
  EXPECT_EQ(zep_dir_next(search, nullptr), ZEP_E_NULL_ARG);
  // Closing a search that never started releases it only.
  EXPECT_EQ(zep_dir_close(search), ZEP_OK);
}

TEST(DirListing, EveryEntryWithItsDirectoryFlag) {
  zeptest::TempDir dir;
  dir.write("one.mkv", std::string_view("1"));
  dir.write("two.txt", std::string_view(""));
  dir.write("caf\xC3\xA9.mkv", std::string_view("e"));
  ASSERT_EQ(mkdir((dir.path() + "/sub").c_str(), 0755), 0);
  ASSERT_EQ(symlink((dir.path() + "/sub").c_str(), (dir.path() + "/link").c_str()), 0);

  const std::map<std::string, uint32_t> expected = {
      {".", 1},   {"..", 1},  {"one.mkv", 0}, {"two.txt", 0}, {"caf\xC3\xA9.mkv", 0},
      {"sub", 1}, {"link", 1}};
  const std::u16string base = zep::utf8_to_u16(dir.path());
  for (const std::u16string& form : {base, base + u"/", base + u"\\"}) {
    ZEP_STATUS status = ZEP_FAIL;
    EXPECT_EQ(list(form, &status), expected);
    EXPECT_EQ(status, ZEP_OK);
  }
}

TEST(DirListing, MissingDirectoryFailsAtTheFirstEntry) {
  zeptest::TempDir dir;
  ZEP_STATUS status = ZEP_OK;
  EXPECT_TRUE(list(zep::utf8_to_u16(dir.path() + "/absent"), &status).empty());
  EXPECT_EQ(status, ZEP_E_NULL_ARG);
  // A file is no directory either.
  const std::string file = dir.write("file", std::string_view("x"));
  EXPECT_TRUE(list(zep::utf8_to_u16(file), &status).empty());
  EXPECT_EQ(status, ZEP_E_NULL_ARG);
}

TEST(DirListing, RelativeDirectoryOfTheCurrentFolder) {
  zeptest::TempDir dir;
  dir.write("here.mkv", std::string_view("1"));
  char saved[4096];
  ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  ZEP_STATUS status = ZEP_FAIL;
  const auto entries = list(u".\\", &status);
  ASSERT_EQ(chdir(saved), 0);
  EXPECT_EQ(status, ZEP_OK);
  EXPECT_EQ(entries.count("here.mkv"), 1u);
  EXPECT_EQ(entries.size(), 3u);
}

}  // namespace
