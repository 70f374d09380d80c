// The doubly linked list: order, pops, index walks and iteration.
#include <vector>

#include <gtest/gtest.h>

#include "platform/zep_platform.h"

namespace {

class ListTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(zep_list_create(&list_, nullptr), ZEP_OK); }
  void TearDown() override {
    ZepListNode* node = nullptr;
    while (zep_list_pop_front(list_, &node) == ZEP_OK) zep_list_node_destroy(node, nullptr);
    EXPECT_EQ(zep_list_destroy(list_), ZEP_OK);
  }
  ZepListNode* node_with(int* payload) {
    ZepListNode* node = nullptr;
    EXPECT_EQ(zep_list_node_create(&node, nullptr), ZEP_OK);
    EXPECT_EQ(zep_list_node_set_payload(node, payload), ZEP_OK);
    return node;
  }
  std::vector<int> forward() {
    std::vector<int> values;
    ZepListIter* iter = nullptr;
    EXPECT_EQ(zep_list_iter_create(list_, &iter, nullptr), ZEP_OK);
    for (ZEP_STATUS s = zep_list_iter_begin(iter); s == ZEP_OK; s = zep_list_iter_next(iter)) {
      void* payload = nullptr;
      EXPECT_EQ(zep_list_iter_get_payload(iter, &payload), ZEP_OK);
      values.push_back(*static_cast<int*>(payload));
    }
    EXPECT_EQ(zep_list_iter_destroy(iter, nullptr), ZEP_OK);
    return values;
  }
  ZepList* list_ = nullptr;
  int values_[4] = {10, 20, 30, 40};
};

TEST_F(ListTest, PushPopCountAndOrder) {
  uint32_t empty = 0;
  EXPECT_EQ(zep_list_is_empty(list_, &empty), ZEP_OK);
  EXPECT_EQ(empty, 1u);
  EXPECT_EQ(zep_list_push_back(list_, node_with(&values_[1])), ZEP_OK);
  EXPECT_EQ(zep_list_push_back(list_, node_with(&values_[2])), ZEP_OK);
  EXPECT_EQ(zep_list_push_front(list_, node_with(&values_[0])), ZEP_OK);
  EXPECT_EQ(zep_list_push_back(list_, node_with(&values_[3])), ZEP_OK);
  EXPECT_EQ(forward(), (std::vector<int>{10, 20, 30, 40}));
  uint32_t count = 0;
  EXPECT_EQ(zep_list_count(list_, &count), ZEP_OK);
  EXPECT_EQ(count, 4u);
  EXPECT_EQ(zep_list_is_empty(list_, &empty), ZEP_OK);
  EXPECT_EQ(empty, 0u);

  ZepListNode* node = nullptr;
  EXPECT_EQ(zep_list_node_at(list_, 2, &node), ZEP_OK);
  void* payload = nullptr;
  EXPECT_EQ(zep_list_node_get_payload(node, &payload), ZEP_OK);
  EXPECT_EQ(payload, &values_[2]);
  EXPECT_EQ(zep_list_node_at(list_, 4, &node), ZEP_FAIL);
  EXPECT_EQ(node, nullptr);

  EXPECT_EQ(zep_list_peek_front(list_, &node), ZEP_OK);
  EXPECT_EQ(node->payload, &values_[0]);
  EXPECT_EQ(zep_list_pop_front(list_, &node), ZEP_OK);
  EXPECT_EQ(node->payload, &values_[0]);
  EXPECT_EQ(node->next, nullptr);
  EXPECT_EQ(zep_list_node_destroy(node, nullptr), ZEP_OK);
  EXPECT_EQ(forward(), (std::vector<int>{20, 30, 40}));
  EXPECT_EQ(list_->head->prev, nullptr);
}

TEST_F(ListTest, EmptyListAndIteratorEnds) {
  ZepListNode* node = reinterpret_cast<ZepListNode*>(0x1);
  EXPECT_EQ(zep_list_pop_front(list_, &node), ZEP_FAIL);
  EXPECT_EQ(node, nullptr);
  EXPECT_EQ(zep_list_peek_front(list_, &node), ZEP_FAIL);
  EXPECT_TRUE(forward().empty());

  ZepListIter* iter = nullptr;
  ASSERT_EQ(zep_list_iter_create(list_, &iter, nullptr), ZEP_OK);
  void* payload = nullptr;
  EXPECT_EQ(zep_list_iter_to_last(iter), ZEP_FAIL);
  EXPECT_EQ(zep_list_iter_get_payload(iter, &payload), ZEP_FAIL);
  EXPECT_EQ(zep_list_iter_next(iter), ZEP_FAIL);

  EXPECT_EQ(zep_list_push_back(list_, node_with(&values_[0])), ZEP_OK);
  EXPECT_EQ(zep_list_push_back(list_, node_with(&values_[1])), ZEP_OK);
  EXPECT_EQ(zep_list_iter_to_last(iter), ZEP_OK);
  EXPECT_EQ(zep_list_iter_get_payload(iter, &payload), ZEP_OK);
  EXPECT_EQ(payload, &values_[1]);
  EXPECT_EQ(zep_list_iter_next(iter), ZEP_FAIL);
  EXPECT_EQ(zep_list_iter_get_payload(iter, &payload), ZEP_FAIL);
  EXPECT_EQ(zep_list_iter_destroy(iter, nullptr), ZEP_OK);

  // Popping the last node leaves head and tail empty.
  EXPECT_EQ(zep_list_pop_front(list_, &node), ZEP_OK);
  zep_list_node_destroy(node, nullptr);
  EXPECT_EQ(zep_list_pop_front(list_, &node), ZEP_OK);
  zep_list_node_destroy(node, nullptr);
  EXPECT_EQ(list_->head, nullptr);
  EXPECT_EQ(list_->tail, nullptr);
  EXPECT_EQ(zep_list_push_front(list_, node_with(&values_[2])), ZEP_OK);
  EXPECT_EQ(list_->head, list_->tail);
}

TEST(List, NullArguments) {
  uint32_t value = 0;
  void* payload = nullptr;
  ZepListNode* node = nullptr;
  EXPECT_EQ(zep_list_create(nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(zep_list_destroy(nullptr), ZEP_FAIL);
  EXPECT_EQ(zep_list_count(nullptr, &value), ZEP_FAIL);
  EXPECT_EQ(zep_list_push_back(nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(zep_list_push_front(nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(zep_list_pop_front(nullptr, &node), ZEP_FAIL);
  EXPECT_EQ(zep_list_node_at(nullptr, 0, &node), ZEP_FAIL);
  EXPECT_EQ(zep_list_is_empty(nullptr, &value), ZEP_FAIL);
  EXPECT_EQ(zep_list_node_create(nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(zep_list_node_destroy(nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(zep_list_node_set_payload(nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(zep_list_node_get_payload(nullptr, &payload), ZEP_FAIL);
  EXPECT_EQ(zep_list_iter_create(nullptr, nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(zep_list_iter_destroy(nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(zep_list_iter_begin(nullptr), ZEP_FAIL);
  EXPECT_EQ(zep_list_iter_next(nullptr), ZEP_FAIL);
}

}  // namespace
