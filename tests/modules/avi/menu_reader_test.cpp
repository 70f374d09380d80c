// The menu section reader: the version rule, title and menu media positions,
// the page list, and damaged sections.
#include <gtest/gtest.h>

#include <vector>

#include "tests/modules/avi/menu_test_util.h"

namespace zeptest {
namespace {

using menu::MenuSpec;

MenuSpec three_titles() {
  MenuSpec spec;
  spec.titles = {0, 5000, 90000};
  spec.chapters = {2, 0, 5};
  spec.media = {{70000, {11, 12}}, {80000, {13}}};
  spec.pages = {{11, u"Start"}, {99, u"Lost"}};
  return spec;
}

std::vector<uint64_t> title_positions(AviMenuReader* reader, ZEP_STATUS* status,
                                      uint32_t capacity = 100) {
  std::vector<uint64_t> positions(capacity);
  uint32_t count = 0;
  *status = aviMenuOps.GetTitlePositions(reader, positions.data(), capacity, &count);
  positions.resize(count);
  return positions;
}

TEST(MenuParse, ThreeTitlesGiveTheirPositionsRecordsAndChapters) {
  MenuFixture f(menu::build_menu_section(three_titles()));
  ASSERT_EQ(f.parse(), 0);
  ZEP_STATUS status;
  EXPECT_EQ(title_positions(f.reader(), &status), (std::vector<uint64_t>{0, 5000, 90000}));
  EXPECT_EQ(status, 0);

  for (uint32_t t = 0; t < 3; ++t) {
    AviMenuTitleRecord record;
    ASSERT_EQ(aviMenuOps.GetTitleRecord(f.reader(), t, &record), 0);
    EXPECT_EQ(Bytes(record.bytes, record.bytes + 40), menu::title_record(t)) << t;
  }
  uint32_t chapters = 99;
  EXPECT_EQ(aviMenuOps.GetChapterCount(f.reader(), 2, &chapters), 0);
  EXPECT_EQ(chapters, 5u);
  EXPECT_EQ(aviMenuOps.GetChapterCount(f.reader(), 0, &chapters), 0);
  EXPECT_EQ(chapters, 2u);
  EXPECT_EQ(aviMenuOps.GetChapterCount(f.reader(), 3, &chapters), ZEP_E_NO_MORE_BLOCKS);
  AviMenuTitleRecord record;
  EXPECT_EQ(aviMenuOps.GetTitleRecord(f.reader(), 3, &record), ZEP_E_NO_MORE_BLOCKS);

  // A smaller table takes only as many titles as it holds.
  EXPECT_EQ(title_positions(f.reader(), &status, 2).size(), 2u);
}

TEST(MenuParse, KeepsTheHeaderOfTheMenuChunkUsed) {
  MenuSpec spec = three_titles();
  spec.name = u"A name longer than sixteen characters";
  MenuFixture f(menu::build_menu_section(spec));
  ASSERT_EQ(f.parse(), 0);
  AviMenuHeader header;
  ASSERT_EQ(aviMenuOps.GetMenuHeader(f.reader(), &header), 0);
  EXPECT_EQ(header.version, 1u);
  EXPECT_EQ(header.value0, 0x0102030405060708ull);
  EXPECT_EQ(header.bytes3[2], 0xA3);
  EXPECT_EQ(header.value1, 0x1111u);
  EXPECT_EQ(header.value2, 0x2222u);
  EXPECT_EQ(header.nameLength, spec.name.size() * 2);
  EXPECT_EQ(std::u16string(header.name), spec.name.substr(0, 16));
  EXPECT_NE(f.reader()->trtbPosition, 0u);
  EXPECT_EQ(f.reader()->trtbSize, 8u);
}

TEST(MenuParse, VersionTwoBeforeVersionOneUsesTheSecond) {
  MenuSpec spec = three_titles();
  spec.versionsBefore = {2};
  spec.name = u"Second";
  MenuFixture f(menu::build_menu_section(spec));
  ASSERT_EQ(f.parse(), 0);
  AviMenuHeader header;
  ASSERT_EQ(aviMenuOps.GetMenuHeader(f.reader(), &header), 0);
  EXPECT_EQ(std::u16string(header.name), u"Second");
  EXPECT_GT(f.reader()->menuChunkPosition, f.menuPosition() + 24);
}

TEST(MenuParse, OnlyOtherVersionsGiveTheWarningAndNoMenuGivesFailure) {
  // A MENU of version 2 alone: the warning.
  Bytes only_two = menu::riff_menu(menu::zpnu(menu::menu_chunk(2, u"x", {})));
  MenuFixture two(only_two);
  EXPECT_EQ(two.parse(), ZEP_ERR_INVALID_MENU_VERSION);
  AviMenuHeader header;
  EXPECT_EQ(aviMenuOps.GetMenuHeader(two.reader(), &header), ZEP_FAIL);

  // No MENU chunk at all, or a ZPNU list in something else than LIST.
  MenuFixture none(menu::riff_menu(menu::zpnu(menu::chunk("JUNK", Bytes(10)))));
  EXPECT_EQ(none.parse(), ZEP_FAIL);
  MenuFixture wrong_list(menu::riff_menu(menu::list("RIFF", "ZPNU", menu::menu_chunk(1, u"", {}))));
  EXPECT_EQ(wrong_list.parse(), ZEP_FAIL);

  // A RIFF whose size + 8 is below 13 bytes.
  MenuFixture tiny(ByteWriter().text("RIFF").le32(4).text("MENU").take());
  EXPECT_EQ(tiny.parse(), ZEP_FAIL);
}

TEST(MenuParse, SetMenuVersionAcceptsOnlyOne) {
  MenuFixture f(menu::build_menu_section(three_titles()));
  EXPECT_EQ(aviMenuOps.SetMenuVersion(f.reader(), 2), ZEP_FAIL);
  EXPECT_EQ(aviMenuOps.SetMenuVersion(f.reader(), 0), ZEP_FAIL);
  EXPECT_EQ(aviMenuOps.SetMenuVersion(f.reader(), 1), 0);
  EXPECT_EQ(f.parse(), 0);
  EXPECT_EQ(aviMenuOps.SetMenuVersion(nullptr, 1), ZEP_E_NULL_ARG);
}

TEST(MenuParse, SkipsOtherChildrenAndLooksIntoLaterZpnuLists) {
  Bytes first_list =
      menu::zpnu(menu::concat({menu::chunk("JUNK", Bytes(3)), menu::menu_chunk(3, u"", {})}));
  Bytes second_list =
      menu::zpnu(menu::menu_chunk(1, u"Later", menu::mdia(menu::titl({}, menu::meds(42)))));
  MenuFixture f(menu::riff_menu(menu::concat({menu::chunk("JUNK", Bytes(5)), first_list,
                                              menu::list("LIST", "OTHR", Bytes(4)), second_list})));
  ASSERT_EQ(f.parse(), 0);
  ZEP_STATUS status;
  EXPECT_EQ(title_positions(f.reader(), &status), std::vector<uint64_t>{42});
}

TEST(MenuMedia, PositionsOfTheMenuTrackInOrder) {
  MenuFixture f(menu::build_menu_section(three_titles()));
  ASSERT_EQ(f.parse(), 0);
  uint64_t positions[4] = {};
  uint32_t count = 0;
  ASSERT_EQ(aviMenuOps.GetMenuMediaPositions(f.reader(), positions, 4, &count), 0);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(positions[0], 70000u);
  EXPECT_EQ(positions[1], 80000u);
  ASSERT_EQ(aviMenuOps.GetMenuMediaPositions(f.reader(), positions, 1, &count), 0);
  EXPECT_EQ(count, 1u);
}

TEST(MenuMedia, EmptyTrackCountsNoneAndMissingTrackFails) {
  MenuSpec empty = three_titles();
  empty.media.clear();
  MenuFixture with_empty(menu::build_menu_section(empty));
  ASSERT_EQ(with_empty.parse(), 0);
  uint64_t positions[4];
  uint32_t count = 7;
  EXPECT_EQ(aviMenuOps.GetMenuMediaPositions(with_empty.reader(), positions, 4, &count), 0);
  EXPECT_EQ(count, 0u);

  MenuSpec none = three_titles();
  none.withTrack = false;
  MenuFixture without(menu::build_menu_section(none));
  ASSERT_EQ(without.parse(), 0);
  EXPECT_EQ(aviMenuOps.GetMenuMediaPositions(without.reader(), positions, 4, &count),
            ZEP_E_NULL_ARG);
}

TEST(MenuPages, DirectPagesAndLanguageGroupsWithTheirMarks) {
  MenuSpec spec = three_titles();
  spec.pages = {{1, u"A"}, {2, u"B"}};
  spec.groups = {{{3, u"C"}, {4, u"D"}}, {}, {{5, u"E"}}};
  MenuFixture f(menu::build_menu_section(spec));
  ASSERT_EQ(f.parse(), 0);
  uint32_t pages = 0;
  ASSERT_EQ(aviMenuOps.GetPageCount(f.reader(), &pages), 0);
  ASSERT_EQ(pages, 5u);
  const uint32_t marks[] = {AVI_MENU_PAGE_FIRST, AVI_MENU_PAGE_PLAIN, AVI_MENU_PAGE_GROUP_FIRST,
                            AVI_MENU_PAGE_PLAIN, AVI_MENU_PAGE_GROUP_FIRST};
  for (uint32_t i = 0; i < 5; ++i) {
    EXPECT_EQ(f.reader()->pages[i].mark, marks[i]) << i;
    EXPECT_EQ(f.reader()->pages[i].mediaKey, i + 1) << i;
    EXPECT_EQ(f.reader()->pages[i].hasKey, 1u);
  }
  EXPECT_LT(f.reader()->pages[0].position, f.reader()->pages[1].position);
}

TEST(MenuPages, LinksBeyondTheLimitAreDropped) {
  ByteWriter links;
  links.bytes(menu::meds(1234));
  for (uint32_t key = 0; key <= AVI_MENU_MAX_LINKS; ++key) links.bytes(menu::medt(key + 100));
  const Bytes track = links.take();
  Bytes sub =
      menu::concat({menu::mdia(menu::concat({menu::titl({}, menu::meds(0)), menu::mntk(track)})),
                    menu::wmen(100), menu::wmen(100 + AVI_MENU_MAX_LINKS - 1),
                    menu::wmen(100 + AVI_MENU_MAX_LINKS)});
  MenuFixture f(menu::riff_menu(menu::zpnu(menu::menu_chunk(1, u"", sub))));
  ASSERT_EQ(f.parse(), 0);
  EXPECT_EQ(f.reader()->linkCount, AVI_MENU_MAX_LINKS);
  ZepQueryData q{};
  for (uint32_t page = 0; page < 3; ++page) {
    ASSERT_EQ(aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_MENUMEDIA_OFFSET, &q, page), 0);
    EXPECT_EQ(q.value.u64, page < 2 ? 1234u : 0u) << page;
  }
}

TEST(MenuDamage, TitleWithoutMedsEndsTheTitleList) {
  Bytes titles = menu::concat({menu::titl({}, menu::meds(10)), menu::titl({}, menu::chap(1)),
                               menu::titl({}, menu::meds(30))});
  MenuFixture f(menu::riff_menu(menu::zpnu(menu::menu_chunk(1, u"", menu::mdia(titles)))));
  ASSERT_EQ(f.parse(), 0);
  ZEP_STATUS status;
  EXPECT_EQ(title_positions(f.reader(), &status), std::vector<uint64_t>{10});
  EXPECT_EQ(status, 0);

  // The first title without MEDS, or a MEDS too short for its position.
  Bytes short_meds = menu::chunk("MEDS", ByteWriter().le32(0).le32(0).le32(5).take());
  for (const Bytes& first : {menu::titl({}, {}), menu::titl({}, short_meds)}) {
    MenuFixture g(menu::riff_menu(menu::zpnu(menu::menu_chunk(1, u"", menu::mdia(first)))));
    ASSERT_EQ(g.parse(), 0);
    EXPECT_TRUE(title_positions(g.reader(), &status).empty());
    EXPECT_EQ(status, ZEP_E_NO_MORE_BLOCKS);
  }
  // No MDIA at all.
  MenuFixture h(menu::riff_menu(menu::zpnu(menu::menu_chunk(1, u"", menu::wmen(1)))));
  ASSERT_EQ(h.parse(), 0);
  EXPECT_TRUE(title_positions(h.reader(), &status).empty());
  EXPECT_EQ(status, ZEP_E_NO_MORE_BLOCKS);
}

TEST(MenuDamage, CountsAndSizesBeyondTheirChunk) {
  // A name length far beyond the MENU chunk: the header is kept, nothing else.
  ByteWriter menu_data;
  menu_data.le64(0).u8(0).u8(0).u8(0).le32(1).le32(0).le32(0).le32(0xFFFFFFF0u).le16('N');
  MenuFixture long_name(menu::riff_menu(menu::zpnu(menu::chunk("MENU", menu_data.take()))));
  EXPECT_EQ(long_name.parse(), 0);
  EXPECT_EQ(long_name.reader()->header.nameChars, 1u);
  EXPECT_EQ(long_name.reader()->pageCount, 0u);

  // An MDIA whose size runs past everything: its TITLs are still found.
  Bytes media = menu::mdia(menu::titl({}, menu::meds(77)));
  Bytes grown = media;
  grown[4] = 0xF0, grown[5] = 0xFF, grown[6] = 0xFF, grown[7] = 0x7F;
  MenuFixture big(menu::riff_menu(menu::zpnu(menu::menu_chunk(1, u"", grown))));
  ASSERT_EQ(big.parse(), 0);
  ZEP_STATUS status;
  EXPECT_EQ(title_positions(big.reader(), &status), std::vector<uint64_t>{77});

  // A WMEN too short for its media key, a LGMN shorter than its header.
  Bytes sub = menu::concat({menu::chunk("WMEN", Bytes(2)), menu::chunk("LGMN", Bytes(8))});
  MenuFixture pages(menu::riff_menu(menu::zpnu(menu::menu_chunk(1, u"", sub))));
  ASSERT_EQ(pages.parse(), 0);
  ASSERT_EQ(pages.reader()->pageCount, 1u);
  EXPECT_EQ(pages.reader()->pages[0].hasKey, 0u);
  ZepQueryData q{};
  EXPECT_EQ(aviMenuOps.MenuGetInfo(pages.reader(), ZEP_QID_MENUMEDIA_OFFSET, &q, 0), 0);
  EXPECT_EQ(q.value.u64, 0u);

  // A MENU chunk too short for its header is no MENU chunk.
  MenuFixture short_menu(menu::riff_menu(menu::zpnu(menu::chunk("MENU", Bytes(20)))));
  EXPECT_EQ(short_menu.parse(), ZEP_FAIL);
}

TEST(MenuDamage, EveryTruncationAnswersWithAStatus) {
  MenuSpec spec = three_titles();
  spec.groups = {{{3, u"C"}, {4, u"D"}}};
  const Bytes section = menu::build_menu_section(spec);
  for (size_t length = 0; length < section.size(); ++length) {
    MenuFixture f(Bytes(section.begin(), section.begin() + long(length)));
    const ZEP_STATUS parsed = f.parse();
    EXPECT_TRUE(parsed == 0 || parsed == ZEP_FAIL) << length;
    uint64_t positions[100];
    uint32_t count = 0;
    aviMenuOps.GetTitlePositions(f.reader(), positions, 100, &count);
    EXPECT_LE(count, 3u);
    aviMenuOps.GetMenuMediaPositions(f.reader(), positions, 100, &count);
    EXPECT_LE(count, 2u);
    ZepQueryData q{};
    aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_MENUMEDIA_OFFSET, &q, 0);
    aviMenuOps.MenuGetInfo(f.reader(), ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 2);
    EXPECT_LE(f.reader()->pageCount, 4u);
  }
}

TEST(MenuDamage, GarbageNeverReadsOutsideTheFile) {
  uint32_t seed = 12345;
  for (int round = 0; round < 300; ++round) {
    Bytes section = menu::build_menu_section(three_titles());
    for (int flips = 0; flips < 6; ++flips) {
      seed = seed * 1103515245u + 12345u;
      section[(seed >> 8) % section.size()] = uint8_t(seed >> 24);
    }
    MenuFixture f(section);
    f.parse();
    uint64_t positions[100];
    uint32_t count = 0;
    aviMenuOps.GetTitlePositions(f.reader(), positions, 100, &count);
    EXPECT_LE(count, 100u);
    aviMenuOps.GetMenuMediaPositions(f.reader(), positions, 100, &count);
    EXPECT_LE(count, 100u);
  }
}

}  // namespace
}  // namespace zeptest
