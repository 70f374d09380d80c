// The menu section reader on crafted sections: the version rule, title and
// menu media positions, the page list, the queries and their records, the
// metadata position, the open-time sequence used by the AVI module, and
// damaged sections.
#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "modules/avi/avi_menu.h"
#include "platform/zep_platform.h"
#include "tests/support/menu_builder.h"

namespace zeptest {
namespace {

using menu::MenuSpec;

// Something to stand in front of the menu section, as the first title would.
const Bytes kLeadingRiff = menu::list("RIFF", "AVI ", Bytes(100, 0xEE));

class OpenedFile {
 public:
  explicit OpenedFile(const Bytes& content) {
    std::u16string name = zep::utf8_to_u16(dir_.write("menu.avi", content));
    EXPECT_EQ(zep_file_open(name.c_str(), ZEP_FILE_READ, &file_, nullptr), 0);
  }
  ~OpenedFile() {
    if (file_ != nullptr) zep_file_close(file_);
  }
  ZepFile* file() const { return file_; }

 private:
  TempDir dir_;
  ZepFile* file_ = nullptr;
};

// The reader over a file made of kLeadingRiff + section + tail.
class Menu : public OpenedFile {
 public:
  explicit Menu(const Bytes& section, const Bytes& tail = {})
      : OpenedFile(menu::concat({kLeadingRiff, section, tail})) {
    EXPECT_EQ(aviMenuOps.OpenMenu(file(), position(), &reader_, buffer_, sizeof buffer_, 1, 2), 0);
  }
  ~Menu() { aviMenuOps.CloseMenu(reader_); }
  static uint64_t position() { return kLeadingRiff.size(); }
  AviMenuReader* reader() const { return reader_; }
  ZEP_STATUS parse() { return aviMenuOps.ParseMenu(reader_); }
  ZEP_STATUS get(uint32_t qid, ZepQueryData* q, uint32_t index = 0) {
    return aviMenuOps.MenuGetInfo(reader_, qid, q, index);
  }
  std::vector<uint64_t> titles(ZEP_STATUS* status = nullptr, uint32_t capacity = 100) {
    return positions(aviMenuOps.GetTitlePositions, status, capacity);
  }
  std::vector<uint64_t> media(ZEP_STATUS* status = nullptr, uint32_t capacity = 100) {
    return positions(aviMenuOps.GetMenuMediaPositions, status, capacity);
  }
  // Runs every query once; a damaged section may refuse any of them.
  void query_everything() {
    EXPECT_LE(titles().size(), 100u);
    EXPECT_LE(media().size(), 100u);
    ZepQueryData q{};
    get(ZEP_QID_MENUMEDIA_OFFSET, &q, 0);
    get(ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 2);
  }

 private:
  template <typename Op>
  std::vector<uint64_t> positions(Op op, ZEP_STATUS* status, uint32_t capacity) {
    std::vector<uint64_t> out(capacity);
    uint32_t count = 0;
    ZEP_STATUS s = op(reader_, out.data(), capacity, &count);
    if (status) *status = s;
    out.resize(count);  // beyond the capacity: a fault the size shows
    return out;
  }
  AviMenuReader* reader_ = nullptr;
  uint8_t buffer_[AVI_MENU_BUFFER_SIZE] = {};
};

// A reader whose section parsed without failure.
struct Parsed : Menu {
  explicit Parsed(const Bytes& section, const Bytes& tail = {}) : Menu(section, tail) {
    EXPECT_EQ(parse(), 0);
  }
};

MenuSpec three_titles() {
  MenuSpec spec;
  spec.titles = {0, 5000, 90000};
  spec.chapters = {2, 0, 5};
  spec.media = {{70000, {11, 12}}, {80000, {13}}};
  spec.pages = {{11, u"Start"}, {99, u"Lost"}};
  return spec;
}

TEST(MenuParse, ThreeTitlesGiveTheirPositionsRecordsAndChapters) {
  Parsed f(menu::build_menu_section(three_titles()));
  ZEP_STATUS status;
  EXPECT_EQ(f.titles(&status), (std::vector<uint64_t>{0, 5000, 90000}));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(f.titles(&status, 2).size(), 2u);  // a smaller table takes as many as it holds
  AviMenuTitleRecord record;
  for (uint32_t t = 0; t < 3; ++t) {
    ASSERT_EQ(aviMenuOps.GetTitleRecord(f.reader(), t, &record), 0);
    EXPECT_EQ(Bytes(record.bytes, record.bytes + 40), menu::title_record(t)) << t;
  }
  EXPECT_EQ(aviMenuOps.GetTitleRecord(f.reader(), 3, &record), ZEP_E_NO_MORE_BLOCKS);
  uint32_t chapters = 99;
  for (auto [title, expected] : {std::pair{2u, 5u}, {0u, 2u}}) {
    EXPECT_EQ(aviMenuOps.GetChapterCount(f.reader(), title, &chapters), 0);
    EXPECT_EQ(chapters, expected);
  }
  EXPECT_EQ(aviMenuOps.GetChapterCount(f.reader(), 3, &chapters), ZEP_E_NO_MORE_BLOCKS);
}

TEST(MenuParse, KeepsTheHeaderOfTheMenuChunkUsed) {
  MenuSpec spec = three_titles();
  spec.name = u"A name longer than sixteen characters";
  Parsed f(menu::build_menu_section(spec));
  AviMenuHeader header;
  ASSERT_EQ(aviMenuOps.GetMenuHeader(f.reader(), &header), 0);
  // version, value0, bytes3[2], value1, value2, nameLength, name (cut to 16)
  EXPECT_EQ(std::tuple(header.version, header.value0, header.bytes3[2], header.value1,
                       header.value2, header.nameLength, std::u16string(header.name)),
            std::tuple(1u, 0x0102030405060708ull, uint8_t(0xA3), 0x1111u, 0x2222u,
                       uint32_t(spec.name.size() * 2), spec.name.substr(0, 16)));
  EXPECT_NE(f.reader()->trtbPosition, 0u);
  EXPECT_EQ(f.reader()->trtbSize, 8u);
}

TEST(MenuParse, VersionTwoBeforeVersionOneUsesTheSecond) {
  MenuSpec spec = three_titles();
  spec.versionsBefore = {2};
  spec.name = u"Second";
  Parsed f(menu::build_menu_section(spec));
  AviMenuHeader header;
  ASSERT_EQ(aviMenuOps.GetMenuHeader(f.reader(), &header), 0);
  EXPECT_EQ(std::u16string(header.name), u"Second");
  EXPECT_GT(f.reader()->menuChunkPosition, f.position() + 24);
}

TEST(MenuParse, OnlyOtherVersionsGiveTheWarningAndNoMenuGivesFailure) {
  Menu two(menu::riff_menu(menu::zpnu(menu::menu_chunk(2, u"x", {}))));
  EXPECT_EQ(two.parse(), ZEP_ERR_INVALID_MENU_VERSION);
  AviMenuHeader header;
  EXPECT_EQ(aviMenuOps.GetMenuHeader(two.reader(), &header), ZEP_FAIL);
  // No MENU chunk at all, a ZPNU list in something else than LIST, a RIFF
  // whose size + 8 is below 13 bytes, a MENU chunk too short for its header.
  for (const Bytes& section :
       {menu::riff_menu(menu::zpnu(menu::chunk("JUNK", Bytes(10)))),
        menu::riff_menu(menu::list("RIFF", "ZPNU", menu::menu_chunk(1, u"", {}))),
        ByteWriter().text("RIFF").le32(4).text("MENU").take(),
        menu::riff_menu(menu::zpnu(menu::chunk("MENU", Bytes(20))))}) {
    Menu f(section);
    EXPECT_EQ(f.parse(), ZEP_FAIL) << section.size();
  }
}

TEST(MenuParse, SetMenuVersionAcceptsOnlyOne) {
  Menu f(menu::build_menu_section(three_titles()));
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
  Parsed f(menu::riff_menu(menu::concat({menu::chunk("JUNK", Bytes(5)), first_list,
                                         menu::list("LIST", "OTHR", Bytes(4)), second_list})));
  EXPECT_EQ(f.titles(), std::vector<uint64_t>{42});
}

TEST(MenuMedia, PositionsOfTheMenuTrackInOrderEmptyOrMissingTrack) {
  Parsed f(menu::build_menu_section(three_titles()));
  EXPECT_EQ(f.media(), (std::vector<uint64_t>{70000, 80000}));
  EXPECT_EQ(f.media(nullptr, 1).size(), 1u);

  MenuSpec empty = three_titles(), none = three_titles();
  empty.media.clear();
  none.withTrack = false;
  Parsed with_empty(menu::build_menu_section(empty)), without(menu::build_menu_section(none));
  uint64_t positions[4];
  uint32_t count = 7;
  EXPECT_EQ(aviMenuOps.GetMenuMediaPositions(with_empty.reader(), positions, 4, &count), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(aviMenuOps.GetMenuMediaPositions(without.reader(), positions, 4, &count),
            ZEP_E_NULL_ARG);
}

TEST(MenuPages, DirectPagesAndLanguageGroupsWithTheirMarks) {
  MenuSpec spec = three_titles();
  spec.pages = {{1, u"A"}, {2, u"B"}};
  spec.groups = {{{3, u"C"}, {4, u"D"}}, {}, {{5, u"E"}}};
  Parsed f(menu::build_menu_section(spec));
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
  Parsed f(menu::section(menu::concat(
      {menu::mdia(menu::concat({menu::titl({}, menu::meds(0)), menu::mntk(links.take())})),
       menu::wmen(100), menu::wmen(100 + AVI_MENU_MAX_LINKS - 1),
       menu::wmen(100 + AVI_MENU_MAX_LINKS)})));
  EXPECT_EQ(f.reader()->linkCount, AVI_MENU_MAX_LINKS);
  ZepQueryData q{};
  for (uint32_t page = 0; page < 3; ++page) {
    ASSERT_EQ(f.get(ZEP_QID_MENUMEDIA_OFFSET, &q, page), 0);
    EXPECT_EQ(q.value.u64, page < 2 ? 1234u : 0u) << page;
  }
}

// A title without MEDS ends the title list; so does a MEDS too short for its
// position. Without any MDIA there are no titles.
TEST(MenuDamage, TitleWithoutMedsEndsTheTitleList) {
  const Bytes short_meds = menu::chunk("MEDS", ByteWriter().le32(0).le32(0).le32(5).take());
  struct Case {
    Bytes subchunks;
    std::vector<uint64_t> titles;
  };
  for (const Case& c :
       {Case{menu::mdia(menu::concat({menu::titl({}, menu::meds(10)), menu::titl({}, menu::chap(1)),
                                      menu::titl({}, menu::meds(30))})),
             {10}},
        Case{menu::mdia(menu::titl({}, {})), {}}, Case{menu::mdia(menu::titl({}, short_meds)), {}},
        Case{menu::wmen(1), {}}}) {
    Parsed f(menu::section(c.subchunks));
    ZEP_STATUS status;
    EXPECT_EQ(f.titles(&status), c.titles);
    EXPECT_EQ(status, c.titles.empty() ? ZEP_E_NO_MORE_BLOCKS : 0);
  }
}

TEST(MenuDamage, CountsAndSizesBeyondTheirChunk) {
  // A name length far beyond the MENU chunk: the header is kept, nothing else.
  ByteWriter menu_data;
  menu_data.le64(0).u8(0).u8(0).u8(0).le32(1).le32(0).le32(0).le32(0xFFFFFFF0u).le16('N');
  Parsed long_name(menu::riff_menu(menu::zpnu(menu::chunk("MENU", menu_data.take()))));
  EXPECT_EQ(long_name.reader()->header.nameChars, 1u);
  EXPECT_EQ(long_name.reader()->pageCount, 0u);

  // An MDIA whose size runs past everything: its TITLs are still found.
  Bytes grown = menu::mdia(menu::titl({}, menu::meds(77)));
  grown[4] = 0xF0, grown[5] = 0xFF, grown[6] = 0xFF, grown[7] = 0x7F;
  Parsed big(menu::section(grown));
  EXPECT_EQ(big.titles(), std::vector<uint64_t>{77});

  // A WMEN too short for its media key, a LGMN shorter than its header.
  Parsed pages(
      menu::section(menu::concat({menu::chunk("WMEN", Bytes(2)), menu::chunk("LGMN", Bytes(8))})));
  ASSERT_EQ(pages.reader()->pageCount, 1u);
  EXPECT_EQ(pages.reader()->pages[0].hasKey, 0u);
  ZepQueryData q{};
  EXPECT_EQ(pages.get(ZEP_QID_MENUMEDIA_OFFSET, &q, 0), 0);
  EXPECT_EQ(q.value.u64, 0u);
}

TEST(MenuDamage, EveryTruncationAnswersWithAStatus) {
  MenuSpec spec = three_titles();
  spec.groups = {{{3, u"C"}, {4, u"D"}}};
  const Bytes section = menu::build_menu_section(spec);
  for (size_t length = 0; length < section.size(); ++length) {
    Menu f(Bytes(section.begin(), section.begin() + long(length)));
    const ZEP_STATUS parsed = f.parse();
    EXPECT_TRUE(parsed == 0 || parsed == ZEP_FAIL) << length;
    EXPECT_LE(f.titles().size(), 3u) << length;
    EXPECT_LE(f.media().size(), 2u) << length;
    f.query_everything();
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
    Menu f(section);
    f.parse();
    f.query_everything();
  }
}

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
  Parsed f(menu::build_menu_section(paged_menu()));
  ZepQueryData q{};
  // Pages: Root(21) Extras(23) Unlinked(50) Deutsch(22) Anglais(21); beyond
  // the pages the page answered last is taken again.
  const uint32_t pages[] = {0, 1, 3, 4, 2, 5, 1, 1000};
  const uint64_t expected[] = {60000, 61000, 61000, 60000, 0, 0, 61000, 61000};
  for (size_t i = 0; i < std::size(pages); ++i) {
    const uint32_t page = pages[i];
    ASSERT_EQ(f.get(ZEP_QID_MENUMEDIA_OFFSET, &q, page), 0);
    EXPECT_EQ(q.valueType, ZEP_QTYPE_TIME64);
    EXPECT_EQ(q.value.u64, expected[i]) << "page " << page;
  }
  MenuSpec spec = paged_menu();
  spec.pages.clear();
  spec.groups.clear();
  Parsed without(menu::build_menu_section(spec));
  EXPECT_EQ(without.get(ZEP_QID_MENUMEDIA_OFFSET, &q, 0), ZEP_E_NO_MORE_BLOCKS);
}

TEST(MenuQuery, ChapterCountSuggestedBufferAndMenuInfo) {
  Parsed f(menu::build_menu_section(paged_menu()));
  ZepQueryData q{};
  for (auto [title, expected] : {std::pair{0u, 3u}, {1u, 1u}}) {
    ASSERT_EQ(f.get(ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, title), 0);
    EXPECT_EQ(q.valueType, ZEP_QTYPE_COUNT16);
    EXPECT_EQ(q.value.u16, expected);
  }
  EXPECT_EQ(f.get(ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 2), ZEP_E_NO_MORE_BLOCKS);
  ASSERT_EQ(f.get(ZEP_QID_MENU_SUGGESTED_BUFFER_SIZE, &q), 0);
  EXPECT_EQ(q.value.u32, AVI_MENU_BUFFER_SIZE);

  AviMenuInfoRecord info;
  q = record_query(&info, sizeof info);
  ASSERT_EQ(f.get(ZEP_QID_TITLEDATA_MENU_INFO, &q), 0);
  EXPECT_EQ(q.size, sizeof info);
  EXPECT_EQ(q.valueType, ZEP_QTYPE_BUFFER);
  // kind, titleCount, pageCount, menuMediaCount, the name, trtbSize
  EXPECT_EQ(std::tuple(info.kind, info.titleCount, info.pageCount, info.menuMediaCount,
                       std::u16string(info.header.name), info.trtbSize),
            std::tuple(16u, 2u, 5u, 2u, std::u16string(u"Main menu"), 8u));
  q = record_query(&info, sizeof info - 1);
  EXPECT_EQ(f.get(ZEP_QID_TITLEDATA_MENU_INFO, &q), ZEP_ERR_BUFFER_TOO_SMALL);
}

TEST(MenuQuery, TitlePageAndTrackRecords) {
  Parsed f(menu::build_menu_section(paged_menu()));
  AviMenuTitleProp title;
  ZepQueryData q = record_query(&title, sizeof title);
  ASSERT_EQ(f.get(ZEP_QID_GET_STREAMS_PROP, &q, 1), 0);
  EXPECT_EQ(std::tuple(title.title, title.titlePosition, title.chapterCount),
            std::tuple(1u, uint64_t(4000), 1u));  // title, titlePosition, chapterCount
  EXPECT_EQ(Bytes(title.record, title.record + 40), menu::title_record(1));

  AviMenuPageProp page;
  q = record_query(&page, sizeof page);
  ASSERT_EQ(f.get(ZEP_QID_GET_OVERLAY_MEDIA_PROP, &q, 3), 0);
  // mark, mediaKey, mediaPosition, values[0], values[5], name
  EXPECT_EQ(std::tuple(page.mark, page.mediaKey, page.mediaPosition, page.values[0], page.values[5],
                       std::u16string(page.name, page.nameChars)),
            std::tuple(AVI_MENU_PAGE_GROUP_FIRST, 22u, uint64_t(61000), 7u, 0x44u,
                       std::u16string(u"Deutsch")));
  q = record_query(&page, sizeof page);
  EXPECT_EQ(f.get(ZEP_QID_GET_OVERLAY_MEDIA_PROP, &q, 5), ZEP_ERR_INDEX_OUT_OF_RANGE);

  AviMenuTrackProp track;
  q = record_query(&track, sizeof track);
  ASSERT_EQ(f.get(ZEP_QID_SET_TRACK_PROP, &q, 1), 0);
  EXPECT_EQ(std::tuple(track.position, track.values[0], track.values[1]),
            std::tuple(uint64_t(61000), 1u, 0x6Bu));  // position, values[0], values[1]
  q = record_query(&track, sizeof track);
  EXPECT_EQ(f.get(ZEP_QID_SET_TRACK_PROP, &q, 2), ZEP_E_NO_MORE_BLOCKS);
}

TEST(MenuQuery, WithoutReaderAndUnknownQueries) {
  ZepQueryData q{};
  EXPECT_EQ(aviMenuOps.MenuGetInfo(nullptr, ZEP_QID_MENUMEDIA_OFFSET, &q, 0),
            ZEP_ERR_MENU_MODULE_NULL);
  EXPECT_EQ(aviMenuOps.MenuSetInfo(nullptr, ZEP_QID_SET_TRACK_PROP, &q, 0),
            ZEP_ERR_MENU_MODULE_NULL);
  EXPECT_EQ(aviMenuOps.MenuSetInfoByQid(nullptr, ZEP_QID_SET_TRACK_PROP, &q),
            ZEP_ERR_MENU_MODULE_NULL);
  Parsed f(menu::build_menu_section(paged_menu()));
  EXPECT_EQ(f.get(ZEP_QID_VID_STREAM_FORMAT, &q), ZEP_ERR_UNSUPPORTED_QID);
  EXPECT_EQ(aviMenuOps.MenuSetInfo(f.reader(), ZEP_QID_SET_TRACK_PROP, &q, 0),
            ZEP_ERR_UNSUPPORTED_QID);
  EXPECT_EQ(f.get(ZEP_QID_MENUMEDIA_OFFSET, nullptr), ZEP_E_NULL_ARG);
  q = record_query(nullptr, sizeof(AviMenuInfoRecord));
  EXPECT_EQ(f.get(ZEP_QID_TITLEDATA_MENU_INFO, &q), ZEP_E_NULL_ARG);
}

TEST(MetadataOffset, FindsTheFirstMetaSectionAndKeepsIt) {
  const Bytes section = menu::build_menu_section(paged_menu());
  const Bytes second_title = menu::list("RIFF", "AVI ", Bytes(64, 1));
  Menu f(section, menu::concat({second_title, menu::riff_meta(Bytes{0x89, 'P', 'N', 'G'})}));
  const uint64_t expected = f.position() + section.size() + second_title.size();
  ZepQueryData q{};
  for (int asked = 0; asked < 2; ++asked) {  // the second answer is the kept one
    ASSERT_EQ(f.get(ZEP_QID_METADATA_OFFSET, &q), 0);
    EXPECT_EQ(q.value.u64, expected);
    EXPECT_EQ(f.reader()->metadataOffset, expected);
  }
  // Without a reader, and a file without META (or one ending in the middle).
  uint64_t offset = 1;
  EXPECT_EQ(AviMenuFindMetadataOffset(f.file(), nullptr, &offset), 0);
  EXPECT_EQ(offset, expected);
  for (const Bytes& file : {menu::concat({kLeadingRiff, second_title, Bytes(5, 0)}),
                            ByteWriter().text("RIFF").le32(0xFFFFFFFFu).text("AVI ").take()}) {
    OpenedFile plain(file);
    EXPECT_EQ(AviMenuFindMetadataOffset(plain.file(), nullptr, &offset), 0);
    EXPECT_EQ(offset, 0u);
  }
  EXPECT_EQ(AviMenuFindMetadataOffset(nullptr, nullptr, &offset), ZEP_E_NULL_ARG);
}

// AviMenuOpenSection as the AVI module runs it: the reader with the titles
// and menu media, or on failure no reader.
struct OpenSectionResult {
  ZEP_STATUS status;
  AviMenuReader* reader = reinterpret_cast<AviMenuReader*>(1);
  uint64_t titles[100] = {}, media[1000] = {};
  uint32_t titleCount = 0, mediaCount = 9;
};

OpenSectionResult open_section(const Menu& f, uint8_t* buffer = nullptr) {
  OpenSectionResult r;
  r.status = AviMenuOpenSection(f.file(), f.position(), buffer, 0, 0, &r.reader, r.titles, 100,
                                &r.titleCount, r.media, 1000, &r.mediaCount);
  return r;
}

TEST(OpenSection, FillsTitlesAndMenuMedia) {
  uint8_t buffer[AVI_MENU_BUFFER_SIZE];
  OpenSectionResult r = open_section(Menu(menu::build_menu_section(paged_menu())), buffer);
  ASSERT_EQ(r.status, 0);
  ASSERT_NE(r.reader, nullptr);
  EXPECT_EQ(std::tuple(r.titleCount, r.titles[1], r.mediaCount, r.media[0]),
            std::tuple(2u, uint64_t(4000), 2u, uint64_t(60000)));
  EXPECT_EQ(r.reader->buffer, buffer);
  aviMenuOps.CloseMenu(r.reader);
}

TEST(OpenSection, OtherVersionLeavesOneTitleAndFailuresCloseTheReader) {
  OpenSectionResult two =
      open_section(Menu(menu::riff_menu(menu::zpnu(menu::menu_chunk(2, u"", {})))));
  EXPECT_EQ(two.status, ZEP_ERR_INVALID_MENU_VERSION);
  EXPECT_EQ(two.reader, nullptr);
  // One title at the start of the file, no menu media.
  EXPECT_EQ(std::tuple(two.titleCount, two.titles[0], two.mediaCount), std::tuple(1u, 0u, 0u));
  MenuSpec no_track = paged_menu();
  no_track.withTrack = false;
  for (auto [section, expected] : {std::pair{menu::build_menu_section(no_track), ZEP_E_NULL_ARG},
                                   {menu::section(menu::mdia({})), ZEP_E_NO_MORE_BLOCKS}}) {
    OpenSectionResult r = open_section(Menu(section));
    EXPECT_EQ(r.status, expected);
    EXPECT_EQ(r.reader, nullptr);
  }
}

}  // namespace
}  // namespace zeptest
