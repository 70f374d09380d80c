#include <gtest/gtest.h>

#include "layer1/zep_module.h"

namespace {

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

TEST(BlockCapacity, GrowsThroughTheOwnersCallback) {
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
}

TEST(BlockCapacity, WithoutCallbackTooSmallIsAnError) {
  uint8_t buffer[8];
  ZepBlock block = {};
  block.data = buffer;
  block.capacity = sizeof buffer;
  EXPECT_EQ(zep_block_ensure_capacity(&block, 8), ZEP_OK);
  EXPECT_EQ(zep_block_ensure_capacity(&block, 9), ZEP_ERR_BLOCK_BUFFER_TOO_SMALL);
  EXPECT_EQ(zep_block_ensure_capacity(nullptr, 1), ZEP_ERR_BLOCK_BUFFER_NULL);
}

TEST(HeapBlock, GrowsAndFrees) {
  ZepBlock block;
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
