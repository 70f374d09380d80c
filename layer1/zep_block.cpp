// Block buffer growth shared by every read module, and a heap-backed block
// for hosts of the container layer.
#include <cstdlib>

#include "layer1/zep_module.h"

extern "C" ZEP_STATUS zep_block_ensure_capacity(ZepBlock* block, uint32_t needed) {
  if (!block) return ZEP_ERR_BLOCK_BUFFER_NULL;
  if (block->data && needed <= block->capacity) return ZEP_OK;
  if (!block->EnsureBlockCapacity) return ZEP_ERR_BLOCK_BUFFER_TOO_SMALL;
  ZEP_STATUS status = block->EnsureBlockCapacity(&block->data, needed, block->callbackContext);
  if (status < 0) return status;
  if (!block->data) return ZEP_ERR_BLOCK_BUFFER_NULL;
  // An owner that keeps its capacity elsewhere still leaves the block usable.
  if (block->capacity < needed) block->capacity = needed;
  return ZEP_OK;
}

namespace {

// The context of a heap block is the block itself.
ZEP_STATUS heap_block_grow(uint8_t** data, uint32_t needed, void* context) {
  auto* block = static_cast<ZepBlock*>(context);
  if (needed <= block->capacity && *data) return ZEP_OK;
  std::free(*data);
  *data = static_cast<uint8_t*>(std::malloc(needed ? needed : 1));
  block->capacity = *data ? needed : 0;
  return *data ? ZEP_OK : ZEP_E_NO_MEMORY;
}

}  // namespace

extern "C" void zep_heap_block_init(ZepBlock* block) {
  *block = ZepBlock{};
  block->EnsureBlockCapacity = heap_block_grow;
  block->callbackContext = block;
}

extern "C" void zep_heap_block_free(ZepBlock* block) {
  std::free(block->data);
  block->data = nullptr;
  block->capacity = 0;
  block->size = 0;
}
