// Fuzz target for the raw H.264 read module: the input is written to a file
// and opened as a raw stream; the title is set, every access unit read (into a
// growing block, or, by the input's last byte, into a small fixed one that
// cannot grow), and the stream queries are asked.
// Input caps: any size; 20,000 access units.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_scratch.h"
#include "modules/h264/h264_module.h"

namespace {

constexpr int kMaxBlocks = 20000;

void ask(const ZepModuleOps* ops, ZepModuleHandle h, uint32_t size_qid, uint32_t data_qid) {
  ZepQueryData q{};
  if (ops->GetInfo(h, size_qid, &q, 0) < 0) return;
  std::vector<uint8_t> buffer(q.value.u32);
  ZepQueryData d{};
  d.size = uint32_t(buffer.size());
  d.value.ptr = buffer.data();
  ops->GetInfo(h, data_qid, &d, 0);
}

// Reads every access unit, into a growing heap block or into a fixed buffer
// that is doubled (up to 4 KiB) whenever the module asks for more room.
void read_all(const ZepModuleOps* ops, ZepModuleHandle h, bool fixed) {
  std::vector<uint8_t> small(64);
  ZepBlock block{};
  if (fixed) {
    block.data = small.data();
    block.capacity = uint32_t(small.size());
  } else {
    zep_heap_block_init(&block);
  }
  uint32_t type = 0, stream = 0;
  for (int n = 0; n < kMaxBlocks; ++n) {
    const ZEP_STATUS status = ops->ReadNextBlock(h, &type, &stream, &block, 0);
    if (status == ZEP_ERR_BLOCK_BUFFER_TOO_SMALL && fixed && small.size() < 4096) {
      small.resize(small.size() * 2);
      block.data = small.data();
      block.capacity = uint32_t(small.size());
      continue;
    }
    if (status != ZEP_OK) break;
  }
  if (!fixed) zep_heap_block_free(&block);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string name = fuzzing::write_scratch("h264", ".h264", data, size);
  if (name.empty()) return 0;
  const ZepModuleOps* ops = zepH264Module.ops;
  ZepModuleHandle h = nullptr;
  if (ops->OpenContainer(&h, name.c_str(), nullptr) < 0 || !h) return 0;
  // Blocks are read even when SetTitle fails: the module must refuse them.
  ops->SetTitle(h, 0);
  ops->SetTitleActiveStream(h, ZEP_BLOCK_VIDEO, 0, 1);
  read_all(ops, h, size > 0 && (data[size - 1] & 1));
  int64_t time = 0;
  ops->SetPosition(h, ZEP_BLOCK_VIDEO, 0, &time);
  ZepVideoStreamFormat format{};
  ZepQueryData q{};
  q.size = sizeof(format);
  q.value.ptr = &format;
  ops->GetInfo(h, ZEP_QID_VID_STREAM_FORMAT, &q, 0);
  ask(ops, h, ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, ZEP_QID_VIDEO_CODEC_PRIVATE_DATA);
  ask(ops, h, ZEP_QID_SPS_SIZE, ZEP_QID_SPS_DATA);
  ask(ops, h, ZEP_QID_PPS_SIZE, ZEP_QID_PPS_DATA);
  ops->CloseContainer(h);
  return 0;
}
