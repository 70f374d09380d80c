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

// A read module's slots in the order of the operation table.
constexpr ZepModuleOps read_ops(
    decltype(ZepModuleOps::InitModule) init, decltype(ZepModuleOps::GetModuleInfo) info,
    decltype(ZepModuleOps::ProbeContainer) probe, decltype(ZepModuleOps::OpenContainer) open,
    decltype(ZepModuleOps::CloseContainer) close, decltype(ZepModuleOps::SetTitle) setTitle,
    decltype(ZepModuleOps::GetInfo) getInfo, decltype(ZepModuleOps::SetPosition) setPosition,
    decltype(ZepModuleOps::SetTitleActiveStream) setActive,
    decltype(ZepModuleOps::ReadNextBlock) readNext) {
  // clang-format off
  return {.InitModule = init, .GetModuleInfo = info, .ProbeContainer = probe, .OpenContainer = open,
          .CloseContainer = close, .SetTitle = setTitle, .GetInfo = getInfo,
          .SetPosition = setPosition, .SetTitleActiveStream = setActive, .ReadNextBlock = readNext};
  // clang-format on
}

}  // namespace fake
