// Helpers shared by the parse and the query halves of the menu reader.
#pragma once

#include "modules/avi/avi_menu.h"
#include "modules/avi/avi_menu_io.h"

namespace avimenu {

// The reader's file seen through its window buffer.
inline Source source_of(AviMenuReader* reader) {
  Source source;
  source.file = reader->file;
  source.window = reader->buffer;
  source.capacity = reader->bufferSize;
  source.length = &reader->windowLength;
  source.start = &reader->windowStart;
  return source;
}

// Size of the MENU chunk's fixed header (offset of the name).
constexpr uint32_t kMenuHeaderSize = 35;
// A TITL's sub-chunks start after its header and its 40-byte title record.
constexpr uint32_t kTitleChildrenOffset = 8 + AVI_MENU_TITLE_RECORD_SIZE;
// MDIA and MNTK carry one further 4-byte field after their chunk header.
constexpr uint32_t kMediaListChildrenOffset = 12;
// LGMN: id, size, two u32, two u16, two u32.
constexpr uint32_t kGroupChildrenOffset = 28;
// MEDS: id, size, two u32, u64 position.
constexpr uint32_t kMedsRecordSize = 24;
// WMEN: id, size, six u32, name length, then the name.
constexpr uint32_t kPageHeaderSize = 36;

// Locates TITL `title` (counting only TITL chunks of MDIA) and makes it the
// reader's current title. 0; -4 when MDIA has no such TITL (or there is no
// MDIA); ZEP_ERR_KILL passed on.
ZEP_STATUS locate_title(AviMenuReader* reader, uint32_t title);

// The first MEDS of the current title: its position in *position and the two
// u32 values in values (may be null). -4 when the title has none.
ZEP_STATUS current_title_media(AviMenuReader* reader, uint64_t* position, uint32_t* values);

// Number of CHAP chunks of the current title.
ZEP_STATUS current_title_chapters(AviMenuReader* reader, uint32_t* count);

// Reads a MEDS chunk that the walk found; false when it is too short to hold
// the position.
bool read_meds(const Source& source, const Chunk& chunk, uint64_t* position, uint32_t* values,
               ZEP_STATUS* status);

// The media MEDS `media` of MNTK (counting only complete ones): position and
// values. -2 without MNTK, -4 when there are fewer.
ZEP_STATUS menu_media_at(AviMenuReader* reader, uint32_t media, uint64_t* position,
                         uint32_t* values);

// The position linked by MEDT to `key`; 0 when there is no link.
uint64_t linked_position(const AviMenuReader* reader, uint32_t key);

}  // namespace avimenu

// The operations of the reader's table defined in avi_menu.cpp (the query
// operations live in avi_menu_query.cpp).
ZEP_STATUS AviMenuOpen(ZepFile* file, uint64_t menu_position, AviMenuReader** reader,
                       uint8_t* buffer, uint32_t buffer_size, uint64_t user_value_a,
                       uint64_t user_value_b);
ZEP_STATUS AviMenuClose(AviMenuReader* reader);
ZEP_STATUS AviMenuSetVersion(AviMenuReader* reader, uint32_t version);
ZEP_STATUS AviMenuParse(AviMenuReader* reader);
ZEP_STATUS AviMenuGetTitleRecord(AviMenuReader* reader, uint32_t title, AviMenuTitleRecord* record);
ZEP_STATUS AviMenuGetChapterCount(AviMenuReader* reader, uint32_t title, uint32_t* count);
ZEP_STATUS AviMenuGetHeader(AviMenuReader* reader, AviMenuHeader* header);
ZEP_STATUS AviMenuGetPageCount(AviMenuReader* reader, uint32_t* count);
ZEP_STATUS AviMenuGetMediaPositions(AviMenuReader* reader, uint64_t* positions, uint32_t capacity,
                                    uint32_t* count);
ZEP_STATUS AviMenuGetTitlePositions(AviMenuReader* reader, uint64_t* positions, uint32_t capacity,
                                    uint32_t* count);
