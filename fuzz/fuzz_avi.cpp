// Fuzz target for the AVI read module: the input is written to a file and
// opened as AVI; title 0 is set, every stream activated and every block read,
// then a few seeks and stream-by-stream reads follow, and the queries that
// walk the index are asked.
// Input caps: any size; 4000 blocks a read.
#include <cstdint>
#include <cstdio>
#include <string>

#include "fuzz/fuzz_scratch.h"
#include "modules/avi/avi_module.h"

namespace {

constexpr int kMaxBlocks = 4000;

void read_blocks(const ZepModuleOps* ops, ZepModuleHandle h, ZepBlock* block, int limit) {
  uint32_t type = 0, stream = 0;
  for (int n = 0; n < limit; ++n)
    if (ops->ReadNextBlock(h, &type, &stream, block, 0) < 0) break;
}

uint32_t count(const ZepModuleOps* ops, ZepModuleHandle h, uint32_t qid) {
  ZepQueryData q{};
  return ops->GetInfo(h, qid, &q, 0) == 0 ? q.value.u16 : 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string name = fuzzing::write_scratch("avi", ".avi", data, size);
  if (name.empty()) return 0;
  const ZepModuleOps* ops = zepAviModule.ops;
  ZepModuleHandle h = nullptr;
  if (ops->OpenContainer(&h, name.c_str(), nullptr) < 0 || !h) return 0;
  // The low bits of the last byte choose the index settings.
  uint8_t mode = size ? data[size - 1] : 0;
  ZepQueryData setting{};
  setting.value.u32 = mode & 1;
  ops->SetInfo(h, ZEP_QID_USE_CACHELESS_INDEX, &setting, 0, 0);
  setting.value.u32 = (mode >> 1) & 1;
  ops->SetInfo(h, ZEP_QID_SET_MIN_MEM_USAGE, &setting, 0, 0);
  setting.value.u32 = (mode >> 2) & 7;
  ops->SetInfo(h, ZEP_QID_SET_KEYFRAME_GAP, &setting, 0, 0);
  if (ops->SetTitle(h, 0) >= 0) {
    if (mode & 0x20) {
      setting.value.u32 = 0;
      ops->SetInfo(h, ZEP_QID_ON_THE_FLY_INDEX, &setting, 0, 0);
    }
    uint32_t video = count(ops, h, ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA);
    uint32_t audio = count(ops, h, ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA);
    uint32_t subs = count(ops, h, ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA);
    for (uint32_t i = 0; i < video; ++i) ops->SetTitleActiveStream(h, ZEP_BLOCK_VIDEO, i, 1);
    for (uint32_t i = 0; i < audio; ++i) ops->SetTitleActiveStream(h, ZEP_BLOCK_AUDIO, i, 1);
    for (uint32_t i = 0; i < subs; ++i) ops->SetTitleActiveStream(h, ZEP_BLOCK_SUBTITLE, i, 1);
    ZepBlock block;
    zep_heap_block_init(&block);
    read_blocks(ops, h, &block, kMaxBlocks);
    for (int64_t target : {int64_t(0), int64_t(12000000), int64_t(4000000), int64_t(900000000)}) {
      int64_t t = target;
      if (ops->SetPosition(h, ZEP_BLOCK_VIDEO, 0, &t) < 0) continue;
      for (uint32_t i = 0; i < audio; ++i) {
        int64_t at = t;
        ops->SetPosition(h, ZEP_BLOCK_AUDIO, i, &at);
      }
      for (uint32_t i = 0; i < subs; ++i) {
        int64_t st = t;
        ops->SetPosition(h, ZEP_BLOCK_SUBTITLE, i, &st);
      }
      read_blocks(ops, h, &block, 50);
    }
    for (uint32_t i = 0; i < audio; ++i) ops->ReadNextBlockByStream(h, ZEP_BLOCK_AUDIO, i, &block);
    for (int n = 0; n < 20; ++n) ops->ReadNextBlockByStream(h, ZEP_BLOCK_VIDEO, 0, &block);
    for (uint32_t qid : {ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME,
                         ZEP_QID_TITLEMEDIA_NEXT_SYNC_POINT, ZEP_QID_TITLEMEDIA_PREV_SYNC_POINT,
                         ZEP_QID_TITLE_DURATION}) {
      ZepQueryData q{};
      q.value.u64 = 20000000;
      ops->GetInfo(h, qid, &q, 0);
    }
    zep_heap_block_free(&block);
  }
  ops->CloseContainer(h);
  return 0;
}
