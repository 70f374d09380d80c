// Doubly linked list. The list never owns payloads: destroying a list or a
// node releases only the record itself. Every function answers 0, or -1 for a
// null argument or a step that cannot be taken.
#include "platform/zep_platform.h"

ZEP_STATUS zep_list_create(ZepList** out, void* context) {
  if (out == nullptr) return ZEP_FAIL;
  auto* list = static_cast<ZepList*>(zep_mem_alloc(sizeof(ZepList), context));
  *out = list;
  if (list == nullptr) return ZEP_FAIL;
  list->allocContext = context;
  return ZEP_OK;
}

ZEP_STATUS zep_list_destroy(ZepList* list) {
  if (list == nullptr) return ZEP_FAIL;
  return zep_mem_free(list, list->allocContext) < 0 ? ZEP_FAIL : ZEP_OK;
}

ZEP_STATUS zep_list_count(const ZepList* list, uint32_t* count) {
  if (list == nullptr || count == nullptr) return ZEP_FAIL;
  uint32_t n = 0;
  for (const ZepListNode* node = list->head; node != nullptr; node = node->next) ++n;
  *count = n;
  return ZEP_OK;
}

ZEP_STATUS zep_list_push_front(ZepList* list, ZepListNode* node) {
  if (list == nullptr || node == nullptr) return ZEP_FAIL;
  node->prev = nullptr;
  node->next = list->head;
  if (list->head != nullptr) {
    list->head->prev = node;
  } else {
    list->tail = node;
  }
  list->head = node;
  return ZEP_OK;
}

ZEP_STATUS zep_list_push_back(ZepList* list, ZepListNode* node) {
  if (list == nullptr || node == nullptr) return ZEP_FAIL;
  node->next = nullptr;
  node->prev = list->tail;
  if (list->tail != nullptr) {
    list->tail->next = node;
  } else {
    list->head = node;
  }
  list->tail = node;
  return ZEP_OK;
}

ZEP_STATUS zep_list_pop_front(ZepList* list, ZepListNode** node) {
  if (list == nullptr || node == nullptr) return ZEP_FAIL;
  ZepListNode* first = list->head;
  *node = first;
  if (first == nullptr) return ZEP_FAIL;
  list->head = first->next;
  if (list->head != nullptr) {
    list->head->prev = nullptr;
  } else {
    list->tail = nullptr;
  }
  first->prev = nullptr;
  first->next = nullptr;
  return ZEP_OK;
}

ZEP_STATUS zep_list_peek_front(const ZepList* list, ZepListNode** node) {
  if (list == nullptr || node == nullptr) return ZEP_FAIL;
  *node = list->head;
  return list->head != nullptr ? ZEP_OK : ZEP_FAIL;
}

ZEP_STATUS zep_list_node_at(const ZepList* list, uint32_t index, ZepListNode** node) {
  if (list == nullptr || node == nullptr) return ZEP_FAIL;
  ZepListNode* current = list->head;
  for (uint32_t i = 0; i < index && current != nullptr; ++i) current = current->next;
  *node = current;
  return current != nullptr ? ZEP_OK : ZEP_FAIL;
}

ZEP_STATUS zep_list_is_empty(const ZepList* list, uint32_t* empty) {
  if (list == nullptr || empty == nullptr) return ZEP_FAIL;
  *empty = list->head == nullptr ? 1u : 0u;
  return ZEP_OK;
}

ZEP_STATUS zep_list_node_create(ZepListNode** out, void* context) {
  if (out == nullptr) return ZEP_FAIL;
  *out = static_cast<ZepListNode*>(zep_mem_alloc(sizeof(ZepListNode), context));
  return *out != nullptr ? ZEP_OK : ZEP_FAIL;
}

ZEP_STATUS zep_list_node_destroy(ZepListNode* node, void* context) {
  if (node == nullptr) return ZEP_FAIL;
  return zep_mem_free(node, context) < 0 ? ZEP_FAIL : ZEP_OK;
}

ZEP_STATUS zep_list_node_set_payload(ZepListNode* node, void* payload) {
  if (node == nullptr) return ZEP_FAIL;
  node->payload = payload;
  return ZEP_OK;
}

ZEP_STATUS zep_list_node_get_payload(const ZepListNode* node, void** payload) {
  if (node == nullptr || payload == nullptr) return ZEP_FAIL;
  *payload = node->payload;
  return ZEP_OK;
}

ZEP_STATUS zep_list_iter_create(ZepList* list, ZepListIter** out, void* context) {
  if (list == nullptr || out == nullptr) return ZEP_FAIL;
  auto* iter = static_cast<ZepListIter*>(zep_mem_alloc(sizeof(ZepListIter), context));
  *out = iter;
  if (iter == nullptr) return ZEP_FAIL;
  iter->list = list;
  iter->current = list->head;
  return ZEP_OK;
}

ZEP_STATUS zep_list_iter_destroy(ZepListIter* iter, void* context) {
  if (iter == nullptr) return ZEP_FAIL;
  return zep_mem_free(iter, context) < 0 ? ZEP_FAIL : ZEP_OK;
}

ZEP_STATUS zep_list_iter_begin(ZepListIter* iter) {
  if (iter == nullptr || iter->list == nullptr) return ZEP_FAIL;
  iter->current = iter->list->head;
  return iter->current != nullptr ? ZEP_OK : ZEP_FAIL;
}

ZEP_STATUS zep_list_iter_to_last(ZepListIter* iter) {
  if (iter == nullptr || iter->list == nullptr) return ZEP_FAIL;
  iter->current = iter->list->tail;
  return iter->current != nullptr ? ZEP_OK : ZEP_FAIL;
}

ZEP_STATUS zep_list_iter_get_payload(const ZepListIter* iter, void** payload) {
  if (iter == nullptr || payload == nullptr || iter->current == nullptr) return ZEP_FAIL;
  *payload = iter->current->payload;
  return ZEP_OK;
}

ZEP_STATUS zep_list_iter_next(ZepListIter* iter) {
  if (iter == nullptr || iter->current == nullptr) return ZEP_FAIL;
  iter->current = iter->current->next;
  return iter->current != nullptr ? ZEP_OK : ZEP_FAIL;
}
