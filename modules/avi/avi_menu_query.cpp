// The menu reader's queries, the metadata position, the open-time sequence
// of the AVI module, and the reader's operation table.
#include <algorithm>
#include <cstring>

#include "modules/avi/avi_menu.h"
#include "modules/avi/avi_menu_internal.h"

using namespace avimenu;

namespace {

constexpr uint32_t kRecordKind = 16;

template <typename Record>
ZEP_STATUS answer_record(ZepQueryData* data, const Record& record) {
  if (data->value.ptr == nullptr) return ZEP_E_NULL_ARG;
  if (data->size < sizeof(Record)) return ZEP_ERR_BUFFER_TOO_SMALL;
  std::memcpy(data->value.ptr, &record, sizeof(Record));
  data->size = sizeof(Record);
  data->valueType = ZEP_QTYPE_BUFFER;
  return 0;
}

ZEP_STATUS answer_scalar(ZepQueryData* data, uint32_t value_type, uint64_t value) {
  data->valueType = value_type;
  data->value.u64 = value;
  return 0;
}

// TITL chunks of MDIA.
ZEP_STATUS count_titles(AviMenuReader* reader, uint32_t* count) {
  *count = 0;
  if (!reader->parsed || reader->mdiaPosition == 0) return 0;
  const uint64_t end = add_capped(add_capped(reader->mdiaPosition, 8), reader->mdiaSize);
  ChunkWalk walk(source_of(reader), add_capped(reader->mdiaPosition, kMediaListChildrenOffset),
                 end);
  Chunk child;
  ZEP_STATUS status;
  while ((status = walk.next(&child)) == 1) {
    if (child.is("TITL")) ++*count;
  }
  return status;
}

// Complete MEDS chunks of MNTK.
ZEP_STATUS count_menu_media(AviMenuReader* reader, uint32_t* count) {
  *count = 0;
  if (!reader->parsed || reader->mntkPosition == 0) return 0;
  const uint64_t end = add_capped(add_capped(reader->mntkPosition, 8), reader->mntkSize);
  ChunkWalk walk(source_of(reader), add_capped(reader->mntkPosition, kMediaListChildrenOffset),
                 end);
  Chunk child;
  ZEP_STATUS status;
  while ((status = walk.next(&child)) == 1) {
    uint64_t position = 0;
    ZEP_STATUS read_status = 0;
    if (child.is("MEDS") && read_meds(source_of(reader), child, &position, nullptr, &read_status)) {
      ++*count;
    }
    if (read_status == ZEP_ERR_KILL) return read_status;
  }
  return status;
}

ZEP_STATUS menu_media_offset(AviMenuReader* reader, ZepQueryData* data, uint32_t page) {
  if (reader->pageCount == 0) return ZEP_E_NO_MORE_BLOCKS;
  if (page < reader->pageCount) reader->selectedPage = page;
  const AviMenuPage& selected = reader->pages[reader->selectedPage];
  const uint64_t position = selected.hasKey ? linked_position(reader, selected.mediaKey) : 0;
  return answer_scalar(data, ZEP_QTYPE_TIME64, position);
}

ZEP_STATUS menu_info(AviMenuReader* reader, ZepQueryData* data) {
  if (!reader->parsed) return ZEP_FAIL;
  AviMenuInfoRecord record{};
  record.kind = kRecordKind;
  ZEP_STATUS status = count_titles(reader, &record.titleCount);
  if (status == 0) status = count_menu_media(reader, &record.menuMediaCount);
  if (status != 0) return status;
  record.pageCount = reader->pageCount;
  record.header = reader->header;
  record.trtbPosition = reader->trtbPosition;
  record.trtbSize = reader->trtbSize;
  return answer_record(data, record);
}

ZEP_STATUS chapter_count(AviMenuReader* reader, ZepQueryData* data, uint32_t title) {
  uint32_t count = 0;
  const ZEP_STATUS status = AviMenuGetChapterCount(reader, title, &count);
  if (status != 0) return status;
  return answer_scalar(data, ZEP_QTYPE_COUNT16, std::min<uint32_t>(count, 0xFFFF));
}

ZEP_STATUS title_prop(AviMenuReader* reader, ZepQueryData* data, uint32_t title) {
  AviMenuTitleProp record{};
  record.kind = kRecordKind;
  record.title = title;
  ZEP_STATUS status = locate_title(reader, title);
  if (status != 0) return status;
  std::memcpy(record.record, reader->titleRecord, sizeof record.record);
  status = current_title_media(reader, &record.titlePosition, nullptr);
  if (status == ZEP_ERR_KILL) return status;
  status = current_title_chapters(reader, &record.chapterCount);
  if (status != 0) return status;
  return answer_record(data, record);
}

ZEP_STATUS page_prop(AviMenuReader* reader, ZepQueryData* data, uint32_t page) {
  if (page >= reader->pageCount) return ZEP_ERR_INDEX_OUT_OF_RANGE;
  const AviMenuPage& entry = reader->pages[page];
  AviMenuPageProp record{};
  record.kind = kRecordKind;
  record.page = page;
  record.position = entry.position;
  record.mark = entry.mark;
  record.mediaKey = entry.mediaKey;
  record.mediaPosition = entry.hasKey ? linked_position(reader, entry.mediaKey) : 0;
  const uint64_t end = add_capped(add_capped(entry.position, 8), entry.size);
  uint8_t raw[kPageHeaderSize];
  ZEP_STATUS status = read_within(source_of(reader), entry.position, end, raw, sizeof raw);
  if (status == ZEP_ERR_KILL) return status;
  if (status == 0) {
    for (uint32_t i = 0; i < 6; ++i) record.values[i] = le32(raw + 8 + 4 * i);
    const uint32_t name_length = le32(raw + 32);
    uint8_t name[AVI_MENU_NAME_CHARS * 4 * 2];
    const uint64_t name_at = entry.position + kPageHeaderSize;
    const uint64_t room = end > name_at ? end - name_at : 0;
    const uint32_t want =
        static_cast<uint32_t>(std::min<uint64_t>({name_length, sizeof name, room}));
    uint32_t got = 0;
    status = read_at(source_of(reader), name_at, name, want, &got);
    if (status == ZEP_ERR_KILL) return status;
    record.nameChars = got / 2;
    for (uint32_t i = 0; i < record.nameChars; ++i) record.name[i] = le16(name + 2 * i);
  }
  return answer_record(data, record);
}

ZEP_STATUS track_prop(AviMenuReader* reader, ZepQueryData* data, uint32_t media) {
  AviMenuTrackProp record{};
  record.kind = kRecordKind;
  record.media = media;
  const ZEP_STATUS status = menu_media_at(reader, media, &record.position, record.values);
  if (status != 0) return status;
  return answer_record(data, record);
}

}  // namespace

ZEP_STATUS AviMenuGetInfo(AviMenuReader* reader, uint32_t qid, ZepQueryData* data, uint32_t index) {
  if (reader == nullptr) return ZEP_ERR_MENU_MODULE_NULL;
  if (data == nullptr) return ZEP_E_NULL_ARG;
  switch (qid) {
    case ZEP_QID_MENUMEDIA_OFFSET:
      return menu_media_offset(reader, data, index);
    case ZEP_QID_METADATA_OFFSET: {
      uint64_t offset = 0;
      const ZEP_STATUS status =
          AviMenuFindMetadataOffset(reader->file, &reader->metadataOffset, &offset);
      if (status != 0) return status;
      return answer_scalar(data, ZEP_QTYPE_TIME64, offset);
    }
    case ZEP_QID_TITLEDATA_MENU_INFO:
      return menu_info(reader, data);
    case ZEP_QID_MENU_SUGGESTED_BUFFER_SIZE:
      return answer_scalar(data, ZEP_QTYPE_VALUE32,
                           std::max<uint32_t>(reader->largestPage, AVI_MENU_BUFFER_SIZE));
    case ZEP_QID_CHAPTERS_CHAPTER_COUNT:
      return chapter_count(reader, data, index);
    case ZEP_QID_GET_STREAMS_PROP:
      return title_prop(reader, data, index);
    case ZEP_QID_GET_OVERLAY_MEDIA_PROP:
      return page_prop(reader, data, index);
    case ZEP_QID_SET_TRACK_PROP:
      return track_prop(reader, data, index);
    default:
      return ZEP_ERR_UNSUPPORTED_QID;
  }
}

ZEP_STATUS AviMenuSetInfo(AviMenuReader* reader, uint32_t /*qid*/, ZepQueryData* data,
                          uint32_t /*index*/) {
  if (reader == nullptr) return ZEP_ERR_MENU_MODULE_NULL;
  if (data == nullptr) return ZEP_E_NULL_ARG;
  return ZEP_ERR_UNSUPPORTED_QID;
}

ZEP_STATUS AviMenuSetInfoByQid(AviMenuReader* reader, uint32_t qid, ZepQueryData* data) {
  return AviMenuSetInfo(reader, qid, data, 0);
}

ZEP_STATUS AviMenuFindMetadataOffset(ZepFile* file, uint64_t* cache, uint64_t* offset) {
  if (file == nullptr || offset == nullptr) return ZEP_E_NULL_ARG;
  *offset = 0;
  if (cache != nullptr && *cache != 0) {
    *offset = *cache;
    return 0;
  }
  uint64_t position = 0;
  for (;;) {
    uint8_t header[12];
    uint32_t got = 0;
    const ZEP_STATUS status = read_at(Source{file}, position, header, sizeof header, &got);
    if (status == ZEP_ERR_KILL) return status;
    if (ZEP_FAILED(status) || got < sizeof header) return 0;
    if (is_fourcc(header + 8, "META")) break;
    const uint64_t next = add_capped(position, static_cast<uint64_t>(le32(header + 4)) + 8);
    if (next == UINT64_MAX) return 0;
    position = next;
  }
  *offset = position;
  if (cache != nullptr) *cache = position;
  return 0;
}

ZEP_STATUS AviMenuOpenSection(ZepFile* file, uint64_t menu_position, uint8_t* buffer,
                              uint64_t user_value_a, uint64_t user_value_b, AviMenuReader** reader,
                              uint64_t* title_positions, uint32_t title_capacity,
                              uint32_t* title_count, uint64_t* media_positions,
                              uint32_t media_capacity, uint32_t* media_count) {
  if (reader == nullptr || title_count == nullptr || media_count == nullptr ||
      (title_positions == nullptr && title_capacity > 0) ||
      (media_positions == nullptr && media_capacity > 0)) {
    return ZEP_E_NULL_ARG;
  }
  *reader = nullptr;
  // Until the section has been read the file counts as one title at 0.
  *title_count = title_capacity > 0 ? 1 : 0;
  if (title_capacity > 0) title_positions[0] = 0;
  *media_count = 0;

  AviMenuReader* opened = nullptr;
  ZEP_STATUS status =
      aviMenuOps.OpenMenu(file, menu_position, &opened, buffer,
                          buffer != nullptr ? AVI_MENU_BUFFER_SIZE : 0, user_value_a, user_value_b);
  if (status != 0) return status;
  status = aviMenuOps.SetMenuVersion(opened, AVI_MENU_VERSION);
  if (status == 0) status = aviMenuOps.ParseMenu(opened);
  uint32_t titles = 0;
  if (status == 0)
    status = aviMenuOps.GetTitlePositions(opened, title_positions, title_capacity, &titles);
  uint32_t media = 0;
  if (status == 0)
    status = aviMenuOps.GetMenuMediaPositions(opened, media_positions, media_capacity, &media);
  if (status != 0) {
    aviMenuOps.CloseMenu(opened);
    if (title_capacity > 0) title_positions[0] = 0;
    return status;
  }
  *title_count = titles;
  *media_count = media;
  *reader = opened;
  return 0;
}

const AviMenuOps aviMenuOps = {
    .OpenMenu = AviMenuOpen,
    .CloseMenu = AviMenuClose,
    .SetMenuVersion = AviMenuSetVersion,
    .ParseMenu = AviMenuParse,
    .MenuSetInfoByQid = AviMenuSetInfoByQid,
    .GetTitleRecord = AviMenuGetTitleRecord,
    .GetChapterCount = AviMenuGetChapterCount,
    .GetMenuHeader = AviMenuGetHeader,
    .GetPageCount = AviMenuGetPageCount,
    .GetMenuMediaPositions = AviMenuGetMediaPositions,
    .GetTitlePositions = AviMenuGetTitlePositions,
    .MenuGetInfo = AviMenuGetInfo,
    .MenuSetInfo = AviMenuSetInfo,
};
