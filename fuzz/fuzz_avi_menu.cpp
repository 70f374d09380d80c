// Fuzz target for the menu section reader of the AVI module: the input is a
// menu section (RIFF MENU ...) followed by whatever else the file holds; the
// reader parses it and answers every query it knows for a range of indexes.
// Input caps: any size; 100 titles, 1000 menu media and 4096-byte query records.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_scratch.h"
#include "modules/avi/avi_menu.h"
#include "platform/zep_platform.h"

namespace {

void query_all(AviMenuReader* reader) {
  static const uint32_t kQids[] = {
      ZEP_QID_MENUMEDIA_OFFSET,       ZEP_QID_METADATA_OFFSET,
      ZEP_QID_TITLEDATA_MENU_INFO,    ZEP_QID_MENU_SUGGESTED_BUFFER_SIZE,
      ZEP_QID_CHAPTERS_CHAPTER_COUNT, ZEP_QID_GET_STREAMS_PROP,
      ZEP_QID_GET_OVERLAY_MEDIA_PROP, ZEP_QID_SET_TRACK_PROP};
  alignas(8) static uint8_t record[4096];
  uint32_t pages = 0;
  aviMenuOps.GetPageCount(reader, &pages);
  for (uint32_t qid : kQids) {
    // The pages around the end of the list, and one far beyond it.
    for (uint32_t index : {0u, 1u, 2u, 3u, pages > 0 ? pages - 1 : 0u, pages, pages + 1, 100000u}) {
      ZepQueryData data{};
      data.size = sizeof record;
      data.value.ptr = record;
      aviMenuOps.MenuGetInfo(reader, qid, &data, index);
    }
  }
  AviMenuHeader header;
  aviMenuOps.GetMenuHeader(reader, &header);
  AviMenuTitleRecord title;
  uint32_t chapters = 0;
  for (uint32_t t = 0; t < 4; ++t) {
    aviMenuOps.GetTitleRecord(reader, t, &title);
    aviMenuOps.GetChapterCount(reader, t, &chapters);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string name = fuzzing::write_scratch("avi_menu", ".bin", data, size);
  if (name.empty()) return 0;
  ZepFile* file = nullptr;
  if (zep_file_open(name.c_str(), ZEP_FILE_READ, &file, nullptr) != 0) return 0;

  static uint64_t titles[100];
  static uint64_t media[1000];
  uint32_t title_count = 0, media_count = 0;
  AviMenuReader* reader = nullptr;
  // The AVI module's way, through the work buffer; below without one.
  static uint8_t buffer[AVI_MENU_BUFFER_SIZE];
  const ZEP_STATUS status = AviMenuOpenSection(file, 0, buffer, 0, 0, &reader, titles, 100,
                                               &title_count, media, 1000, &media_count);
  if (status == 0) {
    query_all(reader);
    aviMenuOps.CloseMenu(reader);
  } else if (aviMenuOps.OpenMenu(file, 0, &reader, nullptr, 0, 0, 0) == 0) {
    // Also the queries of a reader whose section did not fully parse.
    aviMenuOps.ParseMenu(reader);
    query_all(reader);
    aviMenuOps.CloseMenu(reader);
  }
  uint64_t offset = 0;
  AviMenuFindMetadataOffset(file, nullptr, &offset);
  zep_file_close(file);
  return 0;
}
