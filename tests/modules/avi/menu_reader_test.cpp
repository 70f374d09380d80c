// The menu section reader on crafted sections: versions, titles, media, pages, queries, damage.
#include <gtest/gtest.h>

#include <tuple>

#include "modules/avi/avi_menu.h"
#include "platform/zep_platform.h"
#include "tests/support/menu_builder.h"

namespace zeptest {
namespace {

using menu::MenuSpec;
namespace m = menu;
using U64s = std::vector<uint64_t>;

// Stands in front of the menu section, as the first title would.
const Bytes kLeadingRiff = m::list("RIFF", "AVI ", Bytes(100, 0xEE));

// The reader over kLeadingRiff + section, parsed when `parse` is set.
class Menu {
 public:
  explicit Menu(const Bytes& section, bool parse = true) {
    std::u16string name =
        zep::utf8_to_u16(dir_.write("menu.avi", m::concat({kLeadingRiff, section})));
    EXPECT_EQ(zep_file_open(name.c_str(), ZEP_FILE_READ, &file_, nullptr), 0);
    EXPECT_EQ(aviMenuOps.OpenMenu(file_, position(), &r, buffer_, sizeof buffer_, 1, 2), 0);
    EXPECT_TRUE(!parse || aviMenuOps.ParseMenu(r) == 0);
  }
  ~Menu() { aviMenuOps.CloseMenu(r), zep_file_close(file_); }
  static uint64_t position() { return kLeadingRiff.size(); }
  ZEP_STATUS get(uint32_t qid, ZepQueryData* q, uint32_t index = 0) {
    return aviMenuOps.MenuGetInfo(r, qid, q, index);
  }
  // Title (or menu media) positions; beyond the capacity the size shows it.
  U64s titles(ZEP_STATUS* status = nullptr, uint32_t capacity = 100, bool media = false) {
    U64s out(capacity);
    uint32_t count = 0;
    auto op = media ? aviMenuOps.GetMenuMediaPositions : aviMenuOps.GetTitlePositions;
    ZEP_STATUS s = op(r, out.data(), capacity, &count);
    if (status) *status = s;
    out.resize(count);
    return out;
  }
  AviMenuReader* r = nullptr;

 private:
  TempDir dir_;
  ZepFile* file_ = nullptr;
  uint8_t buffer_[AVI_MENU_BUFFER_SIZE] = {};
};

MenuSpec three_titles() {
  return {.titles = {0, 5000, 90000},
          .chapters = {2, 0, 5},
          .media = {{70000, {11, 12}}, {80000, {13}}},
          .pages = {{11, u"Start"}, {99, u"Lost"}}};
}
// Pages Root(21) Extras(23) Unlinked(50) Deutsch(22) Anglais(21).
MenuSpec paged_menu() {
  return {.titles = {0, 4000},
          .chapters = {3, 1},
          .media = {{60000, {21}}, {61000, {22, 23}}},
          .pages = {{21, u"Root"}, {23, u"Extras"}, {50, u"Unlinked"}},
          .groups = {{{22, u"Deutsch"}, {21, u"Anglais"}}}};
}

template <typename T>
ZepQueryData record_query(T* buffer, uint32_t size = sizeof(T)) {
  return {.size = size, .value = {.ptr = buffer}};
}

// A MENU of version 2 before the version 1 one: the second is used, name cut to 16 chars.
TEST(MenuParse, TitlesRecordsChaptersMediaAndTheHeaderOfVersionOne) {
  MenuSpec spec = three_titles();
  spec.versionsBefore = {2};
  spec.name = u"A name longer than sixteen characters";
  Menu f(m::build_menu_section(spec));
  ZEP_STATUS status;
  EXPECT_EQ(f.titles(&status), (U64s{0, 5000, 90000}));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(f.titles(&status, 2).size(), 2u);
  AviMenuTitleRecord record;
  for (uint32_t t = 0; t < 3; ++t) {
    ASSERT_EQ(aviMenuOps.GetTitleRecord(f.r, t, &record), 0);
    EXPECT_EQ(Bytes(record.bytes, record.bytes + 40), m::title_record(t)) << t;
  }
  EXPECT_EQ(aviMenuOps.GetTitleRecord(f.r, 3, &record), ZEP_E_NO_MORE_BLOCKS);
  uint32_t chapters = 99;
  EXPECT_EQ(aviMenuOps.GetChapterCount(f.r, 2, &chapters), 0);
  EXPECT_EQ(chapters, 5u);
  EXPECT_EQ(aviMenuOps.GetChapterCount(f.r, 3, &chapters), ZEP_E_NO_MORE_BLOCKS);
  AviMenuHeader header;
  ASSERT_EQ(aviMenuOps.GetMenuHeader(f.r, &header), 0);
  EXPECT_EQ(std::tuple(header.version, header.nameLength, std::u16string(header.name)),
            std::tuple(1u, uint32_t(spec.name.size() * 2), spec.name.substr(0, 16)));
  EXPECT_GT(f.r->menuChunkPosition, f.position() + 24);
  EXPECT_EQ(f.r->trtbSize, 8u);
  // Menu media in order; an empty or a missing track.
  EXPECT_EQ(f.titles(nullptr, 100, true), (U64s{70000, 80000}));
  EXPECT_EQ(f.titles(nullptr, 1, true).size(), 1u);
  MenuSpec empty = three_titles(), none = three_titles();
  empty.media.clear();
  none.withTrack = false;
  EXPECT_TRUE(Menu(m::build_menu_section(empty)).titles(&status, 4, true).empty());
  EXPECT_EQ(status, 0);
  Menu(m::build_menu_section(none)).titles(&status, 4, true);
  EXPECT_EQ(status, ZEP_E_NULL_ARG);
}

// Other versions warn; no usable MENU (none, ZPNU in RIFF, RIFF size < 5, short MENU) fails.
TEST(MenuParse, OtherVersionsWarnAndSectionsWithoutMenuFail) {
  Menu two(m::riff_menu(m::zpnu(m::menu_chunk(2, u"x", {}))), false);
  EXPECT_EQ(aviMenuOps.ParseMenu(two.r), ZEP_ERR_INVALID_MENU_VERSION);
  AviMenuHeader header;
  EXPECT_EQ(aviMenuOps.GetMenuHeader(two.r, &header), ZEP_FAIL);
  for (const Bytes& section : {m::riff_menu(m::zpnu(m::chunk("JUNK", Bytes(10)))),
                               m::riff_menu(m::list("RIFF", "ZPNU", m::menu_chunk(1, u"", {}))),
                               ByteWriter().text("RIFF").le32(4).text("MENU").take(),
                               m::riff_menu(m::zpnu(m::chunk("MENU", Bytes(20))))})
    EXPECT_EQ(aviMenuOps.ParseMenu(Menu(section, false).r), ZEP_FAIL) << section.size();
  Menu f(m::build_menu_section(three_titles()), false);
  EXPECT_EQ(aviMenuOps.SetMenuVersion(f.r, 2), ZEP_FAIL);
  EXPECT_EQ(aviMenuOps.SetMenuVersion(f.r, 1), 0);
  EXPECT_EQ(aviMenuOps.SetMenuVersion(nullptr, 1), ZEP_E_NULL_ARG);
  // Other children are skipped, later ZPNU lists looked into.
  Bytes first = m::zpnu(m::concat({m::chunk("JUNK", Bytes(3)), m::menu_chunk(3, u"", {})}));
  Bytes second = m::zpnu(m::menu_chunk(1, u"Later", m::mdia(m::titl({}, m::meds(42)))));
  EXPECT_EQ(Menu(m::riff_menu(m::concat({m::chunk("JUNK", Bytes(5)), first,
                                         m::list("LIST", "OTHR", Bytes(4)), second})))
                .titles(),
            U64s{42});
}

TEST(MenuPages, DirectPagesLanguageGroupsAndTheLinkLimit) {
  MenuSpec spec = three_titles();
  spec.pages = {{1, u"A"}, {2, u"B"}};
  spec.groups = {{{3, u"C"}, {4, u"D"}}, {}, {{5, u"E"}}};
  Menu f(m::build_menu_section(spec));
  uint32_t pages = 0;
  ASSERT_EQ(aviMenuOps.GetPageCount(f.r, &pages), 0);
  ASSERT_EQ(pages, 5u);
  const uint32_t marks[] = {AVI_MENU_PAGE_FIRST, AVI_MENU_PAGE_PLAIN, AVI_MENU_PAGE_GROUP_FIRST,
                            AVI_MENU_PAGE_PLAIN, AVI_MENU_PAGE_GROUP_FIRST};
  for (uint32_t i = 0; i < 5; ++i)
    EXPECT_EQ(std::tuple(f.r->pages[i].mark, f.r->pages[i].mediaKey), std::tuple(marks[i], i + 1));
  // Links beyond AVI_MENU_MAX_LINKS are dropped.
  ByteWriter links;
  links.bytes(m::meds(1234));
  for (uint32_t key = 0; key <= AVI_MENU_MAX_LINKS; ++key) links.bytes(m::medt(key + 100));
  Menu g(m::section(
      m::concat({m::mdia(m::concat({m::titl({}, m::meds(0)), m::mntk(links.take())})), m::wmen(100),
                 m::wmen(100 + AVI_MENU_MAX_LINKS - 1), m::wmen(100 + AVI_MENU_MAX_LINKS)})));
  EXPECT_EQ(g.r->linkCount, AVI_MENU_MAX_LINKS);
  ZepQueryData q{};
  for (uint32_t page = 0; page < 3; ++page) {
    ASSERT_EQ(g.get(ZEP_QID_MENUMEDIA_OFFSET, &q, page), 0);
    EXPECT_EQ(q.value.u64, page < 2 ? 1234u : 0u) << page;
  }
}

// A title without (or with a short) MEDS ends the title list; no MDIA: no titles.
TEST(MenuDamage, TitleWithoutMedsEndsTheTitleList) {
  const Bytes short_meds = m::chunk("MEDS", ByteWriter().le32(0).le32(0).le32(5).take());
  for (auto [subchunks, titles] :
       {std::pair{m::mdia(m::concat({m::titl({}, m::meds(10)), m::titl({}, m::chap(1)),
                                     m::titl({}, m::meds(30))})),
                  U64s{10}},
        {m::mdia(m::titl({}, {})), {}},
        {m::mdia(m::titl({}, short_meds)), {}},
        {m::wmen(1), {}}}) {
    ZEP_STATUS status;
    EXPECT_EQ(Menu(m::section(subchunks)).titles(&status), titles);
    EXPECT_EQ(status, titles.empty() ? ZEP_E_NO_MORE_BLOCKS : 0);
  }
}

TEST(MenuDamage, CountsAndSizesBeyondTheirChunk) {
  // A name length far beyond the MENU chunk: the header is kept, nothing else.
  ByteWriter menu_data;
  menu_data.le64(0).u8(0).u8(0).u8(0).le32(1).le32(0).le32(0).le32(0xFFFFFFF0u).le16('N');
  Menu long_name(m::riff_menu(m::zpnu(m::chunk("MENU", menu_data.take()))));
  EXPECT_EQ(std::tuple(long_name.r->header.nameChars, long_name.r->pageCount), std::tuple(1u, 0u));
  // An MDIA whose size runs past everything: its TITLs are still found.
  Bytes grown = m::mdia(m::titl({}, m::meds(77)));
  grown[4] = 0xF0, grown[5] = 0xFF, grown[6] = 0xFF, grown[7] = 0x7F;
  EXPECT_EQ(Menu(m::section(grown)).titles(), U64s{77});
  // A WMEN too short for its media key, a LGMN shorter than its header.
  Menu pages(m::section(m::concat({m::chunk("WMEN", Bytes(2)), m::chunk("LGMN", Bytes(8))})));
  ASSERT_EQ(pages.r->pageCount, 1u);
  EXPECT_EQ(pages.r->pages[0].hasKey, 0u);
  ZepQueryData q{};
  EXPECT_EQ(pages.get(ZEP_QID_MENUMEDIA_OFFSET, &q, 0), 0);
  EXPECT_EQ(q.value.u64, 0u);
}

// Every truncation, then 300 sections with six random bytes: every query gives a status.
TEST(MenuDamage, TruncationsAndGarbageAnswerWithAStatus) {
  MenuSpec spec = three_titles();
  spec.groups = {{{3, u"C"}, {4, u"D"}}};
  const Bytes section = m::build_menu_section(spec);
  uint32_t seed = 12345;
  for (size_t round = 0; round < section.size() + 300; ++round) {
    Bytes input(section.begin(), section.begin() + long(std::min(round, section.size())));
    for (int flips = 0; round >= section.size() && flips < 6; ++flips) {
      seed = seed * 1103515245u + 12345u;
      input[(seed >> 8) % input.size()] = uint8_t(seed >> 24);
    }
    Menu f(input, false);
    const ZEP_STATUS parsed = aviMenuOps.ParseMenu(f.r);
    ZepQueryData q{};
    f.get(ZEP_QID_MENUMEDIA_OFFSET, &q, 0);
    f.get(ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 2);
    const size_t titles = f.titles().size(), media = f.titles(nullptr, 100, true).size();
    if (round >= section.size()) continue;
    EXPECT_TRUE(parsed == 0 || parsed == ZEP_FAIL) << round;
    EXPECT_TRUE(titles <= 3 && media <= 2 && f.r->pageCount <= 4) << round;
  }
}

TEST(MenuQuery, CountsRecordsAndRefusals) {
  Menu f(m::build_menu_section(paged_menu()));
  ZepQueryData q{};
  ASSERT_EQ(f.get(ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 0), 0);
  EXPECT_EQ(std::tuple(q.valueType, q.value.u16), std::tuple(ZEP_QTYPE_COUNT16, uint16_t(3)));
  EXPECT_EQ(f.get(ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 2), ZEP_E_NO_MORE_BLOCKS);
  ASSERT_EQ(f.get(ZEP_QID_MENU_SUGGESTED_BUFFER_SIZE, &q), 0);
  EXPECT_EQ(q.value.u32, AVI_MENU_BUFFER_SIZE);
  AviMenuInfoRecord info;
  ASSERT_EQ(f.get(ZEP_QID_TITLEDATA_MENU_INFO, &(q = record_query(&info))), 0);
  EXPECT_EQ(std::tuple(info.titleCount, info.pageCount, info.menuMediaCount, info.trtbSize),
            std::tuple(2u, 5u, 2u, 8u));
  q = record_query(&info, sizeof info - 1);
  EXPECT_EQ(f.get(ZEP_QID_TITLEDATA_MENU_INFO, &q), ZEP_ERR_BUFFER_TOO_SMALL);
  AviMenuTitleProp title;
  ASSERT_EQ(f.get(ZEP_QID_GET_STREAMS_PROP, &(q = record_query(&title)), 1), 0);
  EXPECT_EQ(std::tuple(title.titlePosition, title.chapterCount), std::tuple(uint64_t(4000), 1u));
  AviMenuPageProp page;
  ASSERT_EQ(f.get(ZEP_QID_GET_OVERLAY_MEDIA_PROP, &(q = record_query(&page)), 3), 0);
  EXPECT_EQ(std::tuple(page.mediaPosition, std::u16string(page.name, page.nameChars)),
            std::tuple(uint64_t(61000), std::u16string(u"Deutsch")));
  EXPECT_EQ(f.get(ZEP_QID_GET_OVERLAY_MEDIA_PROP, &(q = record_query(&page)), 5),
            ZEP_ERR_INDEX_OUT_OF_RANGE);
  AviMenuTrackProp track;
  ASSERT_EQ(f.get(ZEP_QID_SET_TRACK_PROP, &(q = record_query(&track)), 1), 0);
  EXPECT_EQ(track.position, 61000u);
  EXPECT_EQ(f.get(ZEP_QID_SET_TRACK_PROP, &(q = record_query(&track)), 2), ZEP_E_NO_MORE_BLOCKS);
  // Without reader, unknown queries, null arguments.
  EXPECT_EQ((std::vector{aviMenuOps.MenuGetInfo(nullptr, ZEP_QID_MENUMEDIA_OFFSET, &q, 0),
                         aviMenuOps.MenuSetInfo(nullptr, ZEP_QID_SET_TRACK_PROP, &q, 0),
                         aviMenuOps.MenuSetInfoByQid(nullptr, ZEP_QID_SET_TRACK_PROP, &q)}),
            std::vector(3, ZEP_ERR_MENU_MODULE_NULL));
  EXPECT_EQ(f.get(ZEP_QID_VID_STREAM_FORMAT, &q), ZEP_ERR_UNSUPPORTED_QID);
  EXPECT_EQ(aviMenuOps.MenuSetInfo(f.r, ZEP_QID_SET_TRACK_PROP, &q, 0), ZEP_ERR_UNSUPPORTED_QID);
  EXPECT_EQ(f.get(ZEP_QID_MENUMEDIA_OFFSET, nullptr), ZEP_E_NULL_ARG);
  q = record_query<AviMenuInfoRecord>(nullptr);
  EXPECT_EQ(f.get(ZEP_QID_TITLEDATA_MENU_INFO, &q), ZEP_E_NULL_ARG);
}

}  // namespace
}  // namespace zeptest
