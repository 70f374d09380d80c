// The status table, the QID names and the block buffer of the framework.
#include <gtest/gtest.h>

#include "layer1/zep_module.h"
#include "layer1/zep_qid.h"
#include "layer1/zep_status.h"
#include "platform/zep_platform.h"

namespace {

TEST(Status, TextsOfStoredAndUnknownValuesAndClasses) {
  // The UTF-8 helpers answer every row as the UTF-16 table holds it.
  for (uint32_t i = 0; i < zepStatusTableCount; ++i) {
    const ZepStatusEntry& row = zepStatusTable[i];
    EXPECT_EQ(zep::u16_to_utf8(row.name), zep_status_name(ZEP_STATUS(row.code)));
    EXPECT_EQ(zep::u16_to_utf8(row.message), zep_status_message(ZEP_STATUS(row.code)));
  }
  EXPECT_EQ(zep_status_name(ZEP_STATUS(0xC0000044)), nullptr);  // the AVI reader's, without row
  EXPECT_EQ((std::vector<std::string>{zep_status_message(ZEP_STATUS(0xC0000044)),
                                      zep_status_message(ZEP_STATUS(0x40000077))}),
            (std::vector<std::string>{"Unknown error.", "Unknown warning."}));
  // Warnings pass the failure tests.
  EXPECT_EQ(
      (std::vector{ZEP_FAILED(ZEP_ERR_NO_INDEX_FOUND), ZEP_IS_WARNING(ZEP_ERR_INVALID_MENU_VERSION),
                   ZEP_FAILED(ZEP_E_NO_MORE_BLOCKS), ZEP_SUCCEEDED(ZEP_OK)}),
      (std::vector{false, true, true, true}));
}

TEST(QidNames, KnownValuesGiveTheirNamesOthersTheirDecimalText) {
  EXPECT_EQ(
      (std::vector{zep::u16_to_utf8(zep_qid_name(0xE1001B)),
                   zep::u16_to_utf8(zep_qid_name(0x801306))}),
      (std::vector<std::string>{"ZEP_QID_MASTERTRACK", std::to_string(0x801306)}));  // the last row
  // One shared buffer: the next lookup overwrites it.
  const zep_wchar_t* first = zep_qid_name(7);
  zep_qid_name(12);
  EXPECT_EQ(zep::u16_to_utf8(first), "12");
  const zep_wchar_t* name = nullptr;
  EXPECT_EQ(zep_qid_name(zep_qid_at(5, &name)), name);
  EXPECT_EQ(zep_qid_at(zep_qid_count(), &name), 0u);
  EXPECT_EQ(name, nullptr);
}

struct Owner {
  ZepBlock block{};
  int calls = 0;
  bool fail = false;
};

// An owner in the manner of the Demuxer API: the context is the owner, which
// keeps the block's capacity itself.
ZEP_STATUS grow(uint8_t** data, uint32_t needed, void* context) {
  auto* owner = static_cast<Owner*>(context);
  ++owner->calls;
  if (needed <= owner->block.capacity) return ZEP_OK;
  delete[] * data;
  *data = nullptr;
  owner->block.capacity = 0;
  if (owner->fail) return ZEP_E_NO_MEMORY;
  *data = new uint8_t[needed];
  owner->block.capacity = needed;
  return ZEP_OK;
}

TEST(Block, GrowsThroughTheOwnersCallbackOrFailsWithoutOne) {
  Owner owner;
  owner.block.EnsureBlockCapacity = grow;
  owner.block.callbackContext = &owner;
  EXPECT_EQ(zep_block_ensure_capacity(&owner.block, 100), ZEP_OK);
  EXPECT_EQ(owner.block.capacity, 100u);
  EXPECT_EQ(zep_block_ensure_capacity(&owner.block, 50), ZEP_OK);
  EXPECT_EQ(owner.calls, 1) << "no call when the buffer is large enough";
  owner.fail = true;
  EXPECT_EQ(zep_block_ensure_capacity(&owner.block, 1000), ZEP_E_NO_MEMORY);
  EXPECT_EQ(owner.block.data, nullptr);
  uint8_t buffer[8];
  ZepBlock block = {.data = buffer, .capacity = sizeof buffer};
  EXPECT_EQ((std::vector{zep_block_ensure_capacity(&block, 8), zep_block_ensure_capacity(&block, 9),
                         zep_block_ensure_capacity(nullptr, 1)}),
            (std::vector{ZEP_OK, ZEP_ERR_BLOCK_BUFFER_TOO_SMALL, ZEP_ERR_BLOCK_BUFFER_NULL}));
  zep_heap_block_init(&block);
  for (uint32_t size : {10u, 1u << 20}) {
    ASSERT_EQ(zep_block_ensure_capacity(&block, size), ZEP_OK);
    EXPECT_EQ(block.capacity, size);
    block.data[size - 1] = 1;
  }
  zep_heap_block_free(&block);
  EXPECT_EQ(block.data, nullptr);
}

}  // namespace
