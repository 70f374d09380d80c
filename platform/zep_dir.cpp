// Directory search. Callers hold a pattern in the form "dir\*.*" and ask for
// one entry at a time; "." and ".." are listed like every other entry, and an
// empty name marks the end. Over POSIX the directory named by the pattern is
// read with opendir/readdir.
#include <dirent.h>
#include <errno.h>
#include <sys/stat.h>

#include <string>

#include "platform/zep_platform.h"

namespace {

constexpr intptr_t kNoSearch = -1;

// The directory part of a "dir\*.*" pattern, as a UTF-8 path.
std::string directory_of_pattern(const zep_wchar_t* pattern) {
  std::u16string dir(pattern, zep_wcslen(pattern));
  const std::u16string_view all = u"*.*";
  if (dir.size() >= all.size() && dir.compare(dir.size() - all.size(), all.size(), all) == 0) {
    dir.resize(dir.size() - all.size());
    if (!dir.empty() && dir.back() == u'\\') dir.pop_back();
  }
  // "\*.*" alone is the root of the current drive on the system the pattern
  // form comes from: the root here.
  if (dir.empty()) return "/";
  return zep::u16_to_utf8(dir);
}

bool is_directory(const std::string& dir, const dirent* entry) {
  if (entry->d_type == DT_DIR) return true;
  if (entry->d_type != DT_UNKNOWN && entry->d_type != DT_LNK) return false;
  // The file system does not say, or the entry is a link: ask the entry it
  // leads to.
  std::string path = dir;
  if (path.back() != '/') path.push_back('/');
  path += entry->d_name;
  struct stat info;
  return stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

}  // namespace

ZEP_STATUS zep_dir_open(const zep_wchar_t* directory, ZepDirSearch** out, void* context) {
  if (directory == nullptr || out == nullptr) return ZEP_E_NULL_ARG;
  const uint32_t length = zep_wcslen(directory);
  const bool endsInBackslash = length > 0 && directory[length - 1] == u'\\';
  std::u16string pattern(directory, length);
  if (!pattern.empty() && pattern.back() == u'/') pattern.pop_back();
  pattern += endsInBackslash ? u"*.*" : u"\\*.*";
  // A pattern cut to fit would name another directory: refuse it instead.
  if (pattern.size() > ZEP_MAX_PATH) return ZEP_E_NULL_ARG;

  auto* search = static_cast<ZepDirSearch*>(zep_mem_alloc(sizeof(ZepDirSearch), context));
  if (search == nullptr) return ZEP_E_NO_MEMORY;
  search->handle = kNoSearch;
  search->allocContext = context;
  pattern.copy(search->pattern, pattern.size());
  search->pattern[pattern.size()] = 0;
  *out = search;
  return ZEP_OK;
}

ZEP_STATUS zep_dir_next(ZepDirSearch* search, ZepDirEntry* entry) {
  if (search == nullptr || entry == nullptr) return ZEP_E_NULL_ARG;
  entry->name[0] = 0;
  entry->isDirectory = 0;
  const std::string dir = directory_of_pattern(search->pattern);
  if (search->handle == kNoSearch) {
    DIR* stream = opendir(dir.c_str());
    if (stream == nullptr) return ZEP_E_NULL_ARG;
    search->handle = reinterpret_cast<intptr_t>(stream);
  }
  DIR* stream = reinterpret_cast<DIR*>(search->handle);
  errno = 0;
  const dirent* found = readdir(stream);
  if (found == nullptr) return errno == 0 ? ZEP_OK : ZEP_E_NULL_ARG;

  const std::u16string name = zep::utf8_to_u16(found->d_name);
  const size_t units = name.size() < ZEP_MAX_PATH - 1 ? name.size() : ZEP_MAX_PATH - 1;
  name.copy(entry->name, units);
  entry->name[units] = 0;
  entry->isDirectory = is_directory(dir, found) ? 1u : 0u;
  return ZEP_OK;
}

ZEP_STATUS zep_dir_close(ZepDirSearch* search) {
  if (search == nullptr) return ZEP_OK;
  if (search->handle != kNoSearch) closedir(reinterpret_cast<DIR*>(search->handle));
  zep_mem_free(search, search->allocContext);
  return ZEP_OK;
}
