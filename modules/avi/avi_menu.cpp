// The menu section reader: opening, the version rule, the parse of the MENU
// chunk (media list, track table, pages and language groups), and the title
// and menu media positions.
#include "modules/avi/avi_menu.h"

#include <algorithm>
#include <cstring>

#include "modules/avi/avi_menu_internal.h"

namespace avimenu {
namespace {

// Forgets everything a previous parse found.
void reset_parse_state(AviMenuReader* reader) {
  reader->parsed = 0;
  reader->menuChunkPosition = 0;
  reader->menuChunkSize = 0;
  std::memset(&reader->header, 0, sizeof reader->header);
  reader->mdiaPosition = 0;
  reader->mdiaSize = 0;
  reader->trtbPosition = 0;
  reader->trtbSize = 0;
  reader->pageCount = 0;
  reader->selectedPage = 0;
  reader->titleValid = 0;
  reader->mntkPosition = 0;
  reader->mntkSize = 0;
  reader->linkCount = 0;
  reader->largestPage = 0;
}

// Appends a WMEN chunk to the page list (dropped once the list is full) and
// reads its media key when the chunk is long enough to hold it.
ZEP_STATUS add_page(AviMenuReader* reader, const Chunk& chunk, uint32_t mark) {
  if (reader->pageCount >= AVI_MENU_MAX_PAGES) return 0;
  AviMenuPage& page = reader->pages[reader->pageCount++];
  page.position = chunk.position;
  page.size = chunk.size;
  page.mark = mark;
  page.mediaKey = 0;
  page.hasKey = 0;
  uint8_t key[4];
  const ZEP_STATUS status = read_within(source_of(reader), chunk.position + 12, chunk.end, key, 4);
  if (status == ZEP_ERR_KILL) return status;
  if (status == 0) {
    page.mediaKey = le32(key);
    page.hasKey = 1;
  }
  const uint64_t extent = chunk.end - chunk.position;
  reader->largestPage = static_cast<uint32_t>(
      std::max<uint64_t>(reader->largestPage, std::min<uint64_t>(extent, UINT32_MAX)));
  return 0;
}

// A language group: its WMEN pages join the page list, the first of them
// marked as the group's boundary.
ZEP_STATUS add_group(AviMenuReader* reader, const Chunk& group) {
  ChunkWalk walk(source_of(reader), add_capped(group.position, kGroupChildrenOffset), group.end);
  Chunk child;
  bool first = true;
  ZEP_STATUS status;
  while ((status = walk.next(&child)) == 1) {
    if (!child.is("WMEN")) continue;
    const uint32_t before = reader->pageCount;
    status = add_page(reader, child, first ? AVI_MENU_PAGE_GROUP_FIRST : AVI_MENU_PAGE_PLAIN);
    if (status != 0) return status;
    if (reader->pageCount > before) first = false;
  }
  return status;
}

// The menu track: collects the MEDT links, each to the position of the MEDS
// read last before it.
ZEP_STATUS collect_links(AviMenuReader* reader) {
  const uint64_t end = add_capped(add_capped(reader->mntkPosition, 8), reader->mntkSize);
  ChunkWalk walk(source_of(reader), add_capped(reader->mntkPosition, kMediaListChildrenOffset),
                 end);
  Chunk child;
  bool have_media = false;
  uint64_t media = 0;
  ZEP_STATUS status;
  while ((status = walk.next(&child)) == 1) {
    if (child.is("MEDS")) {
      ZEP_STATUS read_status = 0;
      have_media = read_meds(source_of(reader), child, &media, nullptr, &read_status);
      if (read_status == ZEP_ERR_KILL) return read_status;
    } else if (child.is("MEDT") && have_media && reader->linkCount < AVI_MENU_MAX_LINKS) {
      uint8_t key[4];
      const ZEP_STATUS read_status =
          read_within(source_of(reader), child.position + 8, child.end, key, 4);
      if (read_status == ZEP_ERR_KILL) return read_status;
      if (read_status != 0) continue;
      AviMenuLink& link = reader->links[reader->linkCount++];
      link.mediaKey = le32(key);
      link.position = media;
    }
  }
  return status;
}

// MDIA: remembers its first MNTK and collects the track's links.
ZEP_STATUS scan_media_list(AviMenuReader* reader) {
  const uint64_t end = add_capped(add_capped(reader->mdiaPosition, 8), reader->mdiaSize);
  ChunkWalk walk(source_of(reader), add_capped(reader->mdiaPosition, kMediaListChildrenOffset),
                 end);
  Chunk child;
  ZEP_STATUS status;
  while ((status = walk.next(&child)) == 1) {
    if (child.is("MNTK")) {
      reader->mntkPosition = child.position;
      reader->mntkSize = static_cast<uint32_t>(child.end - child.data());
      return collect_links(reader);
    }
  }
  return status;
}

void keep_header(AviMenuReader* reader, const uint8_t* raw, const uint8_t* name,
                 uint32_t name_bytes) {
  AviMenuHeader& header = reader->header;
  header.value0 = le64(raw + 8);
  std::memcpy(header.bytes3, raw + 16, 3);
  header.version = le32(raw + 19);
  header.value1 = le32(raw + 23);
  header.value2 = le32(raw + 27);
  header.nameLength = le32(raw + 31);
  header.nameChars = std::min<uint32_t>(name_bytes / 2, AVI_MENU_NAME_CHARS);
  for (uint32_t i = 0; i < header.nameChars; ++i) header.name[i] = le16(name + 2 * i);
  header.name[header.nameChars] = 0;
}

// The MENU chunk of the accepted version: keeps its header and records the
// sub-chunks the module needs.
ZEP_STATUS use_menu_chunk(AviMenuReader* reader, const Chunk& menu, const uint8_t* raw) {
  reader->menuChunkPosition = menu.position;
  reader->menuChunkSize = menu.size;
  const uint32_t name_length = le32(raw + 31);
  uint8_t name[AVI_MENU_NAME_CHARS * 2] = {};
  uint32_t got = 0;
  const uint64_t name_at = menu.position + kMenuHeaderSize;
  const uint64_t name_room = menu.end > name_at ? menu.end - name_at : 0;
  const uint32_t want =
      static_cast<uint32_t>(std::min<uint64_t>({name_length, sizeof name, name_room}));
  ZEP_STATUS status = read_at(source_of(reader), name_at, name, want, &got);
  if (status == ZEP_ERR_KILL) return status;
  keep_header(reader, raw, name, got);

  bool first_direct_page = true;
  ChunkWalk walk(source_of(reader), add_capped(name_at, name_length), menu.end);
  Chunk child;
  while ((status = walk.next(&child)) == 1) {
    if (child.is("MDIA")) {
      if (reader->mdiaPosition != 0 || child.end - child.position < kMediaListChildrenOffset)
        continue;
      reader->mdiaPosition = child.position;
      reader->mdiaSize = static_cast<uint32_t>(child.end - child.data());
      status = scan_media_list(reader);
    } else if (child.is("TRTB")) {
      if (reader->trtbPosition != 0) continue;
      reader->trtbPosition = child.position;
      reader->trtbSize = child.size;
    } else if (child.is("WMEN")) {
      const uint32_t before = reader->pageCount;
      status =
          add_page(reader, child, first_direct_page ? AVI_MENU_PAGE_FIRST : AVI_MENU_PAGE_PLAIN);
      if (reader->pageCount > before) first_direct_page = false;
    } else if (child.is("LGMN")) {
      status = add_group(reader, child);
    }
    if (status == ZEP_ERR_KILL) return status;
  }
  if (status == ZEP_ERR_KILL) return status;
  reader->parsed = 1;
  return 0;
}

// One LIST ZPNU: the MENU chunks in it, by the version rule. 1 when a chunk
// was used, 0 when the walk went on; *other_version is set for a MENU chunk
// of another version.
ZEP_STATUS scan_menu_list(AviMenuReader* reader, const Chunk& list, bool* other_version) {
  ChunkWalk walk(source_of(reader), list.position + 12, list.end);
  Chunk child;
  ZEP_STATUS status;
  while ((status = walk.next(&child)) == 1) {
    if (!child.is("MENU")) continue;
    uint8_t raw[kMenuHeaderSize];
    status = read_within(source_of(reader), child.position, child.end, raw, sizeof raw);
    if (status == ZEP_ERR_KILL) return status;
    if (status != 0) continue;  // too short to be a MENU chunk
    if (le32(raw + 19) != reader->acceptedVersion) {
      *other_version = true;
      continue;
    }
    status = use_menu_chunk(reader, child, raw);
    return status == 0 ? 1 : status;
  }
  return status;
}

}  // namespace

bool read_meds(const Source& source, const Chunk& chunk, uint64_t* position, uint32_t* values,
               ZEP_STATUS* status) {
  uint8_t raw[kMedsRecordSize];
  *status = read_within(source, chunk.position, chunk.end, raw, sizeof raw);
  if (*status != 0) return false;
  *position = le64(raw + 16);
  if (values != nullptr) {
    values[0] = le32(raw + 8);
    values[1] = le32(raw + 12);
  }
  return true;
}

ZEP_STATUS locate_title(AviMenuReader* reader, uint32_t title) {
  if (reader->titleValid && reader->titleIndex == title) return 0;
  if (!reader->parsed || reader->mdiaPosition == 0) return ZEP_E_NO_MORE_BLOCKS;
  const uint64_t end = add_capped(add_capped(reader->mdiaPosition, 8), reader->mdiaSize);
  ChunkWalk walk(source_of(reader), add_capped(reader->mdiaPosition, kMediaListChildrenOffset),
                 end);
  Chunk child;
  uint32_t seen = 0;
  ZEP_STATUS status;
  while ((status = walk.next(&child)) == 1) {
    if (!child.is("TITL")) continue;
    if (seen++ != title) continue;
    uint32_t got = 0;
    const uint64_t room = child.end - child.data();
    const uint32_t want =
        static_cast<uint32_t>(std::min<uint64_t>(room, AVI_MENU_TITLE_RECORD_SIZE));
    std::memset(reader->titleRecord, 0, sizeof reader->titleRecord);
    status = read_at(source_of(reader), child.data(), reader->titleRecord, want, &got);
    if (status == ZEP_ERR_KILL) return status;
    reader->titleValid = 1;
    reader->titleIndex = title;
    reader->titlePosition = child.position;
    reader->titleSize = static_cast<uint32_t>(child.end - child.data());
    return 0;
  }
  return status == ZEP_ERR_KILL ? status : ZEP_E_NO_MORE_BLOCKS;
}

namespace {
// Walks the children of the current title.
ChunkWalk title_children(AviMenuReader* reader) {
  const uint64_t end = add_capped(add_capped(reader->titlePosition, 8), reader->titleSize);
  return ChunkWalk(source_of(reader), add_capped(reader->titlePosition, kTitleChildrenOffset), end);
}
}  // namespace

ZEP_STATUS current_title_media(AviMenuReader* reader, uint64_t* position, uint32_t* values) {
  ChunkWalk walk = title_children(reader);
  Chunk child;
  ZEP_STATUS status;
  while ((status = walk.next(&child)) == 1) {
    if (!child.is("MEDS")) continue;
    // The first MEDS counts; one too short to carry a position leaves the
    // title without media.
    ZEP_STATUS read_status = 0;
    if (read_meds(source_of(reader), child, position, values, &read_status)) return 0;
    return read_status == ZEP_ERR_KILL ? read_status : ZEP_E_NO_MORE_BLOCKS;
  }
  return status == ZEP_ERR_KILL ? status : ZEP_E_NO_MORE_BLOCKS;
}

ZEP_STATUS current_title_chapters(AviMenuReader* reader, uint32_t* count) {
  ChunkWalk walk = title_children(reader);
  Chunk child;
  uint32_t chapters = 0;
  ZEP_STATUS status;
  while ((status = walk.next(&child)) == 1) {
    if (child.is("CHAP")) ++chapters;
  }
  *count = chapters;
  return status == ZEP_ERR_KILL ? status : 0;
}

ZEP_STATUS menu_media_at(AviMenuReader* reader, uint32_t media, uint64_t* position,
                         uint32_t* values) {
  if (!reader->parsed || reader->mntkPosition == 0) return ZEP_E_NULL_ARG;
  const uint64_t end = add_capped(add_capped(reader->mntkPosition, 8), reader->mntkSize);
  ChunkWalk walk(source_of(reader), add_capped(reader->mntkPosition, kMediaListChildrenOffset),
                 end);
  Chunk child;
  uint32_t seen = 0;
  ZEP_STATUS status;
  while ((status = walk.next(&child)) == 1) {
    if (!child.is("MEDS")) continue;
    ZEP_STATUS read_status = 0;
    uint64_t found = 0;
    if (!read_meds(source_of(reader), child, &found, values, &read_status)) {
      if (read_status == ZEP_ERR_KILL) return read_status;
      continue;
    }
    if (seen++ == media) {
      *position = found;
      return 0;
    }
  }
  return status == ZEP_ERR_KILL ? status : ZEP_E_NO_MORE_BLOCKS;
}

uint64_t linked_position(const AviMenuReader* reader, uint32_t key) {
  for (uint32_t i = 0; i < reader->linkCount; ++i) {
    if (reader->links[i].mediaKey == key) return reader->links[i].position;
  }
  return 0;
}

}  // namespace avimenu

using namespace avimenu;

ZEP_STATUS AviMenuOpen(ZepFile* file, uint64_t menu_position, AviMenuReader** reader,
                       uint8_t* buffer, uint32_t buffer_size, uint64_t user_value_a,
                       uint64_t user_value_b) {
  if (reader == nullptr) return ZEP_E_NULL_ARG;
  *reader = nullptr;
  if (file == nullptr) return ZEP_E_NULL_ARG;
  auto* created = static_cast<AviMenuReader*>(zep_mem_alloc(sizeof(AviMenuReader), nullptr));
  if (created == nullptr) return ZEP_E_NO_MEMORY;
  created->file = file;
  created->menuPosition = menu_position;
  created->acceptedVersion = AVI_MENU_VERSION;
  created->buffer = buffer;
  created->bufferSize = buffer != nullptr ? buffer_size : 0;
  created->userValueA = user_value_a;
  created->userValueB = user_value_b;
  *reader = created;
  return 0;
}

ZEP_STATUS AviMenuClose(AviMenuReader* reader) {
  if (reader == nullptr) return 0;
  return zep_mem_free(reader, reader->allocContext);
}

ZEP_STATUS AviMenuSetVersion(AviMenuReader* reader, uint32_t version) {
  if (reader == nullptr) return ZEP_E_NULL_ARG;
  if (version != AVI_MENU_VERSION) return ZEP_FAIL;
  reader->acceptedVersion = version;
  return 0;
}

ZEP_STATUS AviMenuParse(AviMenuReader* reader) {
  if (reader == nullptr) return ZEP_E_NULL_ARG;
  reset_parse_state(reader);
  uint8_t riff[12];
  uint32_t got = 0;
  ZEP_STATUS status = read_at(source_of(reader), reader->menuPosition, riff, sizeof riff, &got);
  if (status == ZEP_ERR_KILL) return status;
  if (ZEP_FAILED(status) || got < sizeof riff) return ZEP_FAIL;
  const uint64_t extent = static_cast<uint64_t>(le32(riff + 4)) + 8;
  if (extent < 13) return ZEP_FAIL;
  const uint64_t end = add_capped(reader->menuPosition, extent);

  bool other_version = false;
  ChunkWalk walk(source_of(reader), add_capped(reader->menuPosition, 12), end);
  Chunk child;
  while ((status = walk.next(&child)) == 1) {
    if (!child.is_list("LIST", "ZPNU")) continue;
    status = scan_menu_list(reader, child, &other_version);
    if (status == 1) return 0;
    if (status == ZEP_ERR_KILL) return status;
  }
  if (status == ZEP_ERR_KILL) return status;
  return other_version ? ZEP_ERR_INVALID_MENU_VERSION : ZEP_FAIL;
}

ZEP_STATUS AviMenuGetTitleRecord(AviMenuReader* reader, uint32_t title,
                                 AviMenuTitleRecord* record) {
  if (reader == nullptr || record == nullptr) return ZEP_E_NULL_ARG;
  const ZEP_STATUS status = locate_title(reader, title);
  if (status != 0) return status;
  std::memcpy(record->bytes, reader->titleRecord, sizeof record->bytes);
  return 0;
}

ZEP_STATUS AviMenuGetChapterCount(AviMenuReader* reader, uint32_t title, uint32_t* count) {
  if (reader == nullptr || count == nullptr) return ZEP_E_NULL_ARG;
  *count = 0;
  const ZEP_STATUS status = locate_title(reader, title);
  if (status != 0) return status;
  return current_title_chapters(reader, count);
}

ZEP_STATUS AviMenuGetHeader(AviMenuReader* reader, AviMenuHeader* header) {
  if (reader == nullptr || header == nullptr) return ZEP_E_NULL_ARG;
  if (!reader->parsed) return ZEP_FAIL;
  *header = reader->header;
  return 0;
}

ZEP_STATUS AviMenuGetPageCount(AviMenuReader* reader, uint32_t* count) {
  if (reader == nullptr || count == nullptr) return ZEP_E_NULL_ARG;
  *count = reader->pageCount;
  return 0;
}

ZEP_STATUS AviMenuGetMediaPositions(AviMenuReader* reader, uint64_t* positions, uint32_t capacity,
                                    uint32_t* count) {
  if (reader == nullptr || count == nullptr || (positions == nullptr && capacity > 0)) {
    return ZEP_E_NULL_ARG;
  }
  *count = 0;
  if (!reader->parsed || reader->mntkPosition == 0) return ZEP_E_NULL_ARG;
  const uint64_t end = add_capped(add_capped(reader->mntkPosition, 8), reader->mntkSize);
  ChunkWalk walk(source_of(reader), add_capped(reader->mntkPosition, kMediaListChildrenOffset),
                 end);
  Chunk child;
  ZEP_STATUS status = 0;
  while (*count < capacity && (status = walk.next(&child)) == 1) {
    if (!child.is("MEDS")) continue;
    ZEP_STATUS read_status = 0;
    uint64_t position = 0;
    if (read_meds(source_of(reader), child, &position, nullptr, &read_status)) {
      positions[(*count)++] = position;
    } else if (read_status == ZEP_ERR_KILL) {
      return read_status;
    }
  }
  return status == ZEP_ERR_KILL ? status : 0;
}

ZEP_STATUS AviMenuGetTitlePositions(AviMenuReader* reader, uint64_t* positions, uint32_t capacity,
                                    uint32_t* count) {
  if (reader == nullptr || count == nullptr || (positions == nullptr && capacity > 0)) {
    return ZEP_E_NULL_ARG;
  }
  *count = 0;
  for (uint32_t title = 0; title < capacity; ++title) {
    ZEP_STATUS status = locate_title(reader, title);
    if (status == 0) status = current_title_media(reader, &positions[title], nullptr);
    if (status == ZEP_ERR_KILL) return status;
    if (status != 0) break;
    *count = title + 1;
  }
  return *count > 0 ? 0 : ZEP_E_NO_MORE_BLOCKS;
}
