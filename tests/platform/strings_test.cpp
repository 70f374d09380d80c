// UTF-16 and narrow string helpers, the memory functions under them, and the
// doubly linked list.
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"

namespace {

TEST(Memory, AllocationReleaseAndTime) {
  EXPECT_EQ(zep_mem_alloc(0, nullptr), nullptr);
  EXPECT_EQ(zep_mem_alloc(SIZE_MAX, nullptr), nullptr);
  auto* block = static_cast<unsigned char*>(zep_mem_alloc(64, nullptr));
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(std::vector<unsigned char>(block, block + 64), std::vector<unsigned char>(64, 0));
  void* menu = zep_mem_alloc_menu_buffer(nullptr);
  ASSERT_NE(menu, nullptr);
  static_cast<unsigned char*>(menu)[ZEP_MENU_BUFFER_SIZE - 1] = 1;
  EXPECT_EQ((std::vector{zep_mem_free(block, nullptr), zep_mem_free(nullptr, nullptr),
                         zep_mem_free_menu_buffer(menu, nullptr)}),
            (std::vector{ZEP_OK, ZEP_E_NULL_ARG, ZEP_OK}));
  // Milliseconds to 100 ns units, held at the ends of the range.
  EXPECT_EQ((std::vector{zep_ms_to_time(-2), zep_ms_to_time(INT64_MAX / 1000),
                         zep_ms_to_time(INT64_MIN / 1000)}),
            (std::vector<int64_t>{-20000, INT64_MAX, INT64_MIN}));
}

TEST(WideLength, BoundedAtHalfAMillionUnits) {
  std::u16string longest(ZEP_MAX_STRING_LENGTH - 1, u'a');
  std::string narrow(ZEP_MAX_STRING_LENGTH - 1, 'a');
  const size_t below[] = {zep_wcslen(longest.c_str()), zep_strlen(narrow.c_str())};
  longest.push_back(u'a');
  narrow.push_back('a');
  EXPECT_EQ(
      (std::vector<size_t>{below[0], below[1], zep_wcslen(longest.c_str()), zep_wcslen(nullptr),
                           zep_strlen(narrow.c_str()), zep_strlen(nullptr)}),
      (std::vector<size_t>{ZEP_MAX_STRING_LENGTH - 1, ZEP_MAX_STRING_LENGTH - 1, 0, 0, 0, 0}));
  zep_wchar_t* copy = zep_wcsdup(longest.c_str(), nullptr);  // over-long: an empty copy
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy[0], 0);
  zep_wchar_t* s = zep_wcsalloc(4, nullptr);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(std::u16string(s, 4), std::u16string(4, u'\0'));
  EXPECT_EQ((std::vector{zep_wcsfree(copy, nullptr), zep_wcsfree(s, nullptr),
                         zep_wcsfree(nullptr, nullptr)}),
            (std::vector{ZEP_OK, ZEP_OK, ZEP_FAIL}));
  copy = zep_wcsdup(u"name\u00E9", nullptr);
  EXPECT_EQ(std::u16string(copy), u"name\u00E9");
  zep_wcsfree(copy, nullptr);
  EXPECT_EQ(zep_wcsdup(nullptr, nullptr), nullptr);
}

// Signs of exact, bounded and case-folding comparisons; units compare
// unsigned and folding goes to lower case ('_' before letters).
int sign(int value) { return (value > 0) - (value < 0); }
TEST(WideCompare, ExactPrefixAndCaseInsensitive) {
  EXPECT_EQ((std::vector{
                zep_wcscmp(u"abc", u"abc"), zep_wcscmp(u"abc", u"abd"), zep_wcscmp(u"abcd", u"abc"),
                zep_wcscmp(u"\uFFFF", u"z"), zep_wcscmp(nullptr, u""), zep_wcscmp(nullptr, u"a"),
                sign(zep_wcsncmp(u"abcX", u"abcY", 3)), sign(zep_wcsncmp(u"abcX", u"abcY", 4)),
                sign(zep_wcsncmp(u"ab", u"ab", 10)), sign(zep_wcsncmp(u"ab", u"a", 10)),
                sign(zep_wcsncmp(u"a", u"b", 0)), sign(zep_wcsicmp(u"Movie.MKV", u"movie.mkv")),
                sign(zep_wcsicmp(u"_", u"A")), sign(zep_wcsicmp(u"\u00C9", u"\u00E9")),
                sign(zep_wcsicmp(u"ab", u"A"))}),
            (std::vector{0, -1, 1, 1, 0, -1, 0, -1, 0, 1, 0, 0, -1, -1, 1}));
}

TEST(WideCopy, CopyFillAppendTrim) {
  zep_wchar_t buffer[8];
  std::fill(std::begin(buffer), std::end(buffer), u'#');
  EXPECT_EQ(zep_wcsncpy(buffer, u"abc", 6), ZEP_OK);
  EXPECT_EQ(std::u16string(buffer, 8), std::u16string(u"abc\0\0\0##", 8));
  EXPECT_EQ(zep_wcsncpy(buffer, u"xyzdefgh", 2), ZEP_OK);
  EXPECT_EQ(std::u16string(buffer, 3), u"xyc");  // untouched beyond n
  EXPECT_EQ((std::vector{zep_wcsncpy(nullptr, u"a", 1), zep_wcscpy(buffer, u"ab"),
                         zep_wcscat(buffer, u"cd"), zep_wcscat(buffer, u""),
                         zep_wcscat(buffer, nullptr), zep_wcscpy(buffer, nullptr)}),
            (std::vector{ZEP_E_NULL_ARG, ZEP_OK, ZEP_OK, ZEP_FAIL, ZEP_FAIL, ZEP_E_NULL_ARG}));
  EXPECT_EQ(std::u16string(buffer), u"abcd");
  zep_wchar_t text[] = u"title \t  ", spaces[] = u"   ";  // only spaces go
  EXPECT_EQ((std::vector{zep_wcsrtrim(text), zep_wcsrtrim(spaces), zep_wcsrtrim(nullptr)}),
            (std::vector{ZEP_OK, ZEP_OK, ZEP_E_NULL_ARG}));
  EXPECT_EQ(std::u16string(text) + u"|" + spaces, u"title \t|");
}

TEST(WideSearch, FindAndReverseFind) {
  EXPECT_EQ((std::vector{zep_wcsfind(u"bc", u"abcabc", 0), zep_wcsfind(u"bc", u"abcabc", 2),
                         zep_wcsfind(u"bc", u"abcabc", 5), zep_wcsfind(u"bc", u"abcabc", 6),
                         zep_wcsfind(u"x", u"abc", 0), zep_wcsfind(u"", u"abc", 0),
                         zep_wcsfind(u"abcd", u"abc", 0), zep_wcsfind(u"a", nullptr, 0),
                         zep_wcsrfind(u".", u"name"), zep_wcsrfind(u".", u"a.b.mkv"),
                         zep_wcsrfind(u"ab", u"ab"), zep_wcsrfind(u".", nullptr),
                         zep_wcsrfind(u".", u"")}),
            (std::vector<int32_t>{1, 4, -1, -1, -1, -1, -1, -1, -1, 3, 0, -1, -1}));
}

TEST(NarrowWide, SignExtensionAndLowBytes) {
  zep_wchar_t buffer[8];
  EXPECT_EQ(zep_str_to_wcs_copy(buffer, "a\xE9\x80"), ZEP_OK);
  EXPECT_EQ(std::u16string(buffer), (std::u16string{u'a', 0xFFE9, 0xFF80}));
  zep_wchar_t* wide = zep_str_to_wcs("x\xE9", nullptr);
  zep_wchar_t* empty = zep_str_to_wcs(nullptr, nullptr);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(std::u16string(wide) + u"|" + empty, u"x\uFFE9|");
  zep_wcsfree(wide, nullptr);
  zep_wcsfree(empty, nullptr);
  EXPECT_EQ(zep_str_to_wcs("", nullptr), nullptr);
  char* narrow = zep_wcs_to_str(u"A\u20AC\uFFE9", nullptr);
  EXPECT_EQ(std::string(narrow), "A\xAC\xE9");
  zep_mem_free(narrow, nullptr);
  EXPECT_EQ(zep_wcs_to_str(nullptr, nullptr), nullptr);
}

// The payloads of the list front to back through an iterator.
std::vector<int> forward(ZepList* list) {
  std::vector<int> values;
  ZepListIter* iter = nullptr;
  EXPECT_EQ(zep_list_iter_create(list, &iter, nullptr), ZEP_OK);
  for (ZEP_STATUS s = zep_list_iter_begin(iter); s == ZEP_OK; s = zep_list_iter_next(iter)) {
    void* payload = nullptr;
    EXPECT_EQ(zep_list_iter_get_payload(iter, &payload), ZEP_OK);
    values.push_back(*static_cast<int*>(payload));
  }
  EXPECT_EQ(zep_list_iter_destroy(iter, nullptr), ZEP_OK);
  return values;
}
ZepListNode* node_with(int* payload) {
  ZepListNode* node = nullptr;
  EXPECT_EQ(zep_list_node_create(&node, nullptr), ZEP_OK);
  EXPECT_EQ(zep_list_node_set_payload(node, payload), ZEP_OK);
  return node;
}

TEST(List, PushPopWalkAndIterate) {
  int values[4] = {10, 20, 30, 40};
  ZepList* list = nullptr;
  ASSERT_EQ(zep_list_create(&list, nullptr), ZEP_OK);
  ZepListNode* node = reinterpret_cast<ZepListNode*>(0x1);
  ZepListIter* iter = nullptr;
  ASSERT_EQ(zep_list_iter_create(list, &iter, nullptr), ZEP_OK);
  uint32_t count = 9, empty = 0;
  void* payload = nullptr;
  // An empty list: nothing to pop, peek, walk or iterate.
  EXPECT_EQ((std::vector{zep_list_pop_front(list, &node), zep_list_peek_front(list, &node),
                         zep_list_is_empty(list, &empty), zep_list_iter_to_last(iter),
                         zep_list_iter_get_payload(iter, &payload), zep_list_iter_next(iter)}),
            (std::vector{ZEP_FAIL, ZEP_FAIL, ZEP_OK, ZEP_FAIL, ZEP_FAIL, ZEP_FAIL}));
  EXPECT_EQ(std::pair(node, empty), std::pair((ZepListNode*)nullptr, 1u));
  EXPECT_TRUE(forward(list).empty());
  EXPECT_EQ(zep_list_push_front(list, node_with(&values[1])), ZEP_OK);  // into an empty list
  EXPECT_EQ(list->head, list->tail);
  EXPECT_EQ((std::vector{zep_list_push_back(list, node_with(&values[2])),
                         zep_list_push_front(list, node_with(&values[0])),
                         zep_list_push_back(list, node_with(&values[3])),
                         zep_list_count(list, &count), zep_list_is_empty(list, &empty)}),
            std::vector(5, ZEP_OK));
  EXPECT_EQ(forward(list), (std::vector{10, 20, 30, 40}));
  EXPECT_EQ(count * 10 + empty, 40u);
  EXPECT_EQ(zep_list_node_at(list, 2, &node), ZEP_OK);
  EXPECT_EQ(zep_list_node_get_payload(node, &payload), ZEP_OK);
  EXPECT_EQ(payload, &values[2]);
  EXPECT_EQ(zep_list_node_at(list, 4, &node), ZEP_FAIL);
  EXPECT_EQ(node, nullptr);
  EXPECT_EQ(zep_list_iter_to_last(iter), ZEP_OK);
  EXPECT_EQ(zep_list_iter_get_payload(iter, &payload), ZEP_OK);
  EXPECT_EQ(payload, &values[3]);
  EXPECT_EQ((std::vector{zep_list_iter_next(iter), zep_list_iter_get_payload(iter, &payload),
                         zep_list_iter_destroy(iter, nullptr), zep_list_peek_front(list, &node)}),
            (std::vector{ZEP_FAIL, ZEP_FAIL, ZEP_OK, ZEP_OK}));
  EXPECT_EQ(node->payload, &values[0]);
  for (const std::vector<int>& rest : {std::vector{20, 30, 40}, {30, 40}, {40}, {}}) {
    ASSERT_EQ(zep_list_pop_front(list, &node), ZEP_OK);
    EXPECT_EQ(node->next, nullptr);
    EXPECT_EQ(zep_list_node_destroy(node, nullptr), ZEP_OK);
    EXPECT_EQ(forward(list), rest);
    EXPECT_TRUE(list->head == nullptr || list->head->prev == nullptr);
  }
  EXPECT_EQ(list->tail, nullptr);  // the last pop leaves head and tail empty
  EXPECT_EQ(zep_list_destroy(list), ZEP_OK);
  uint32_t value = 0;
  for (ZEP_STATUS status :
       {zep_list_create(nullptr, nullptr), zep_list_destroy(nullptr),
        zep_list_count(nullptr, &value), zep_list_push_back(nullptr, nullptr),
        zep_list_push_front(nullptr, nullptr), zep_list_pop_front(nullptr, &node),
        zep_list_node_at(nullptr, 0, &node), zep_list_is_empty(nullptr, &value),
        zep_list_node_create(nullptr, nullptr), zep_list_node_destroy(nullptr, nullptr),
        zep_list_node_set_payload(nullptr, nullptr), zep_list_node_get_payload(nullptr, &payload),
        zep_list_iter_create(nullptr, nullptr, nullptr), zep_list_iter_destroy(nullptr, nullptr),
        zep_list_iter_begin(nullptr), zep_list_iter_next(nullptr)})
    EXPECT_EQ(status, ZEP_FAIL);
}

}  // namespace
