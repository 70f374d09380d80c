// The menu reader's queries, the metadata position and the open-time
// sequence used by the AVI module.
#include <gtest/gtest.h>

#include <vector>

#include "tests/modules/avi/menu_test_util.h"

namespace zeptest {
namespace {

using menu::MenuSpec;

MenuSpec paged_menu() {
  MenuSpec spec;
  spec.titles = {0, 4000};
  spec.chapters = {3, 1};
  spec.media = {{60000, {21}}, {61000, {22, 23}}};
  spec.pages = {{21, u"Root"}, {23, u"Extras"}, {50, u"Unlinked"}};
  spec.groups = {{{22, u"Deutsch"}, {21, u"Anglais"}}};
  return spec;
}

ZepQueryData record_query(void* buffer, uint32_t size) {
  ZepQueryData q{};
  q.size = size;
  q.value.ptr = buffer;
  return q;
}

TEST(MenuQuery, MenuMediaOffsetForLinkedUnlinkedAndBeyondThePages) {
  MenuFixture f(menu::build_menu_section(paged_menu()));
  ASSERT_EQ(f.parse(), 0);
  ZepQueryData q{};
  struct Case {
    uint32_t page;
    uint64_t expected;
  };
  // Pages: Root(21) Extras(23) Unlinked(50) Deutsch(22) Anglais(21).
  for (Case c : {Case{0, 60000}, Case{1, 61000}, Case{3, 61000}, Case{4, 60000}, Case{2, 0},
                 Case{5, 0}, Case{1, 61000}, Case{1000, 61000}}) {
    ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_MENUMEDIA_OFFSET, &q, c.page), 0);
    EXPECT_EQ(q.valueType, ZEP_QTYPE_TIME64);
    EXPECT_EQ(q.value.u64, c.expected) << "page " << c.page;
  }
}

TEST(MenuQuery, MenuMediaOffsetWithoutPagesFails) {
  MenuSpec spec = paged_menu();
  spec.pages.clear();
  spec.groups.clear();
  MenuFixture f(menu::build_menu_section(spec));
  ASSERT_EQ(f.parse(), 0);
  ZepQueryData q{};
  EXPECT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_MENUMEDIA_OFFSET, &q, 0),
            ZEP_E_NO_MORE_BLOCKS);
}

TEST(MenuQuery, ChapterCountSuggestedBufferAndMenuInfo) {
  MenuFixture f(menu::build_menu_section(paged_menu()));
  ASSERT_EQ(f.parse(), 0);
  ZepQueryData q{};
  ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 0), 0);
  EXPECT_EQ(q.valueType, ZEP_QTYPE_COUNT16);
  EXPECT_EQ(q.value.u16, 3u);
  ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 1), 0);
  EXPECT_EQ(q.value.u16, 1u);
  EXPECT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 2),
            ZEP_E_NO_MORE_BLOCKS);

  ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_MENU_SUGGESTED_BUFFER_SIZE, &q, 0), 0);
  EXPECT_EQ(q.value.u32, AVI_MENU_BUFFER_SIZE);

  AviMenuInfoRecord info;
  q = record_query(&info, sizeof info);
  ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_TITLEDATA_MENU_INFO, &q, 0), 0);
  EXPECT_EQ(q.size, sizeof info);
  EXPECT_EQ(q.valueType, ZEP_QTYPE_BUFFER);
  EXPECT_EQ(info.kind, 16u);
  EXPECT_EQ(info.titleCount, 2u);
  EXPECT_EQ(info.pageCount, 5u);
  EXPECT_EQ(info.menuMediaCount, 2u);
  EXPECT_EQ(std::u16string(info.header.name), u"Main menu");
  EXPECT_EQ(info.trtbSize, 8u);

  q = record_query(&info, sizeof info - 1);
  EXPECT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_TITLEDATA_MENU_INFO, &q, 0),
            ZEP_ERR_BUFFER_TOO_SMALL);
}

TEST(MenuQuery, TitlePageAndTrackRecords) {
  MenuFixture f(menu::build_menu_section(paged_menu()));
  ASSERT_EQ(f.parse(), 0);
  AviMenuTitleProp title;
  ZepQueryData q = record_query(&title, sizeof title);
  ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_GET_STREAMS_PROP, &q, 1), 0);
  EXPECT_EQ(title.title, 1u);
  EXPECT_EQ(title.titlePosition, 4000u);
  EXPECT_EQ(title.chapterCount, 1u);
  EXPECT_EQ(Bytes(title.record, title.record + 40), menu::title_record(1));

  AviMenuPageProp page;
  q = record_query(&page, sizeof page);
  ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_GET_OVERLAY_MEDIA_PROP, &q, 3), 0);
  EXPECT_EQ(page.mark, AVI_MENU_PAGE_GROUP_FIRST);
  EXPECT_EQ(page.mediaKey, 22u);
  EXPECT_EQ(page.mediaPosition, 61000u);
  EXPECT_EQ(page.values[0], 7u);
  EXPECT_EQ(page.values[5], 0x44u);
  EXPECT_EQ(std::u16string(page.name, page.nameChars), u"Deutsch");
  q = record_query(&page, sizeof page);
  EXPECT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_GET_OVERLAY_MEDIA_PROP, &q, 5),
            ZEP_ERR_INDEX_OUT_OF_RANGE);

  AviMenuTrackProp track;
  q = record_query(&track, sizeof track);
  ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_SET_TRACK_PROP, &q, 1), 0);
  EXPECT_EQ(track.position, 61000u);
  EXPECT_EQ(track.values[0], 1u);
  EXPECT_EQ(track.values[1], 0x6Bu);
  q = record_query(&track, sizeof track);
  EXPECT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_SET_TRACK_PROP, &q, 2),
            ZEP_E_NO_MORE_BLOCKS);
}

TEST(MenuQuery, WithoutReaderAndUnknownQueries) {
  ZepQueryData q{};
  EXPECT_EQ(aviMenuOps.MenuGetInfo(nullptr, ZEP_QID_MENUMEDIA_OFFSET, &q, 0),
            ZEP_ERR_MENU_MODULE_NULL);
  EXPECT_EQ(aviMenuOps.MenuSetInfo(nullptr, ZEP_QID_SET_TRACK_PROP, &q, 0),
            ZEP_ERR_MENU_MODULE_NULL);
  EXPECT_EQ(aviMenuOps.MenuSetInfoByQid(nullptr, ZEP_QID_SET_TRACK_PROP, &q),
            ZEP_ERR_MENU_MODULE_NULL);

  MenuFixture f(menu::build_menu_section(paged_menu()));
  ASSERT_EQ(f.parse(), 0);
  EXPECT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_VID_STREAM_FORMAT, &q, 0),
            ZEP_ERR_UNSUPPORTED_QID);
  EXPECT_EQ(aviMenuOps.MenuSetInfo(f.reader(), ZEP_QID_SET_TRACK_PROP, &q, 0),
            ZEP_ERR_UNSUPPORTED_QID);
  EXPECT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_MENUMEDIA_OFFSET, nullptr, 0),
            ZEP_E_NULL_ARG);
  AviMenuInfoRecord info;
  q = record_query(nullptr, sizeof info);
  EXPECT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_TITLEDATA_MENU_INFO, &q, 0), ZEP_E_NULL_ARG);
}

TEST(MetadataOffset, FindsTheFirstMetaSectionAndKeepsIt) {
  const Bytes section = menu::build_menu_section(paged_menu());
  const Bytes second_title = menu::list("RIFF", "AVI ", Bytes(64, 1));
  const Bytes meta = menu::riff_meta(Bytes{0x89, 'P', 'N', 'G'});
  MenuFixture f(section, menu::concat({second_title, meta}));
  const uint64_t expected = f.menuPosition() + section.size() + second_title.size();
  ZepQueryData q{};
  ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_METADATA_OFFSET, &q, 0), 0);
  EXPECT_EQ(q.value.u64, expected);
  EXPECT_EQ(f.reader()->metadataOffset, expected);
  ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_METADATA_OFFSET, &q, 0), 0);
  EXPECT_EQ(q.value.u64, expected);

  // Without a reader, and a file without META (or one ending in the middle).
  uint64_t offset = 1;
  EXPECT_EQ(AviMenuFindMetadataOffset(f.file(), nullptr, &offset), 0);
  EXPECT_EQ(offset, expected);
  OpenedFile plain(menu::concat({leading_riff(), second_title, Bytes(5, 0)}));
  EXPECT_EQ(AviMenuFindMetadataOffset(plain.file(), nullptr, &offset), 0);
  EXPECT_EQ(offset, 0u);
  OpenedFile huge(ByteWriter().text("RIFF").le32(0xFFFFFFFFu).text("AVI ").take());
  EXPECT_EQ(AviMenuFindMetadataOffset(huge.file(), nullptr, &offset), 0);
  EXPECT_EQ(offset, 0u);
  EXPECT_EQ(AviMenuFindMetadataOffset(nullptr, nullptr, &offset), ZEP_E_NULL_ARG);
}

TEST(OpenSection, FillsTitlesAndMenuMedia) {
  MenuFixture f(menu::build_menu_section(paged_menu()));
  AviMenuReader* reader = nullptr;
  uint64_t titles[100] = {};
  uint64_t media[1000] = {};
  uint32_t title_count = 0, media_count = 0;
  uint8_t buffer[AVI_MENU_BUFFER_SIZE];
  ASSERT_EQ(AviMenuOpenSection(f.file(), f.menuPosition(), buffer, 0, 0, &reader, titles, 100,
                               &title_count, media, 1000, &media_count),
            0);
  ASSERT_NE(reader, nullptr);
  EXPECT_EQ(title_count, 2u);
  EXPECT_EQ(titles[1], 4000u);
  EXPECT_EQ(media_count, 2u);
  EXPECT_EQ(media[0], 60000u);
  EXPECT_EQ(reader->buffer, buffer);
  aviMenuOps.CloseMenu(reader);
}

TEST(OpenSection, OtherVersionLeavesOneTitleAndFailuresCloseTheReader) {
  MenuFixture two(menu::riff_menu(menu::zpnu(menu::menu_chunk(2, u"", {}))));
  AviMenuReader* reader = reinterpret_cast<AviMenuReader*>(1);
  uint64_t titles[100];
  uint64_t media[1000];
  uint32_t title_count = 0, media_count = 9;
  EXPECT_EQ(AviMenuOpenSection(two.file(), two.menuPosition(), nullptr, 0, 0, &reader, titles, 100,
                               &title_count, media, 1000, &media_count),
            ZEP_ERR_INVALID_MENU_VERSION);
  EXPECT_EQ(reader, nullptr);
  EXPECT_EQ(title_count, 1u);
  EXPECT_EQ(titles[0], 0u);
  EXPECT_EQ(media_count, 0u);

  MenuSpec no_track = paged_menu();
  no_track.withTrack = false;
  MenuFixture without(menu::build_menu_section(no_track));
  EXPECT_EQ(AviMenuOpenSection(without.file(), without.menuPosition(), nullptr, 0, 0, &reader,
                               titles, 100, &title_count, media, 1000, &media_count),
            ZEP_E_NULL_ARG);
  EXPECT_EQ(reader, nullptr);

  MenuFixture empty(menu::riff_menu(menu::zpnu(menu::menu_chunk(1, u"", menu::mdia({})))));
  EXPECT_EQ(AviMenuOpenSection(empty.file(), empty.menuPosition(), nullptr, 0, 0, &reader, titles,
                               100, &title_count, media, 1000, &media_count),
            ZEP_E_NO_MORE_BLOCKS);
  EXPECT_EQ(reader, nullptr);
}

}  // namespace
}  // namespace zeptest
