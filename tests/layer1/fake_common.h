// What the fake read modules of the framework tests and of the demuxer API
// tests share: the name test of their probes and how a block is filled.
#pragma once

#include <cstring>
#include <string_view>
#include <vector>

#include "layer1/zep_module.h"

namespace fake {

inline bool ends_with(const zep_wchar_t* name, std::u16string_view suffix) {
  return std::u16string_view(name).ends_with(suffix);
}

// Grows the block through its owner as a real module does, then copies.
inline ZEP_STATUS fill_block(ZepBlock* block, const std::vector<uint8_t>& bytes, int64_t time,
                             int64_t duration, bool key) {
  ZEP_STATUS status = zep_block_ensure_capacity(block, uint32_t(bytes.size()));
  if (status < 0) return status;
  if (!bytes.empty()) std::memcpy(block->data, bytes.data(), bytes.size());
  block->size = uint32_t(bytes.size());
  block->time = time;
  block->duration = duration;
  block->flags = key ? ZEP_BLOCK_FLAG_KEYFRAME : 0;
  return ZEP_OK;
}

}  // namespace fake
