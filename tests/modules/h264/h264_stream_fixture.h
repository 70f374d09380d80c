// A raw H.264 file opened with the module's operation table, for the module and real-stream tests.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "modules/h264/h264_module.h"
#include "tests/support/byte_writer.h"

namespace h264test {

using zeptest::Bytes;

struct AccessUnit {
  Bytes data;  // 4-byte length-prefixed NAL units
  int64_t time = 0, duration = 0;
  uint32_t flags = 0;
};

class H264File {
 public:
  explicit H264File(const std::string& path) {
    open_status_ = ops().OpenContainer(&handle_, zep::utf8_to_u16(path).c_str(), nullptr);
  }
  ~H264File() { ops().CloseContainer(handle_); }

  static const ZepModuleOps& ops() { return *zepH264Module.ops; }
  ZEP_STATUS open_status() const { return open_status_; }
  ZepModuleHandle handle() const { return handle_; }
  ZEP_STATUS set_title(uint32_t title = 0) { return ops().SetTitle(handle_, title); }
  // Reads into a growing heap block; `status` gets the status that ended the reading.
  std::vector<AccessUnit> read_all(ZEP_STATUS* status) {
    std::vector<AccessUnit> units;
    ops().SetTitleActiveStream(handle_, ZEP_BLOCK_VIDEO, 0, 1);
    ZepBlock block;
    zep_heap_block_init(&block);
    ZEP_STATUS last = ZEP_OK;
    for (uint32_t type = 0, stream = 0; units.size() < 100000;) {
      block.size = 0;  // a read that ends without a block leaves no payload
      last = ops().ReadNextBlock(handle_, &type, &stream, &block, 0);
      if (last == ZEP_OK || block.size)
        units.push_back(
            {Bytes(block.data, block.data + block.size), block.time, block.duration, block.flags});
      if (last != ZEP_OK) break;
    }
    zep_heap_block_free(&block);
    if (status) *status = last;
    return units;
  }
  ZEP_STATUS format(ZepVideoStreamFormat* format) {
    *format = {};
    ZepQueryData q{.size = sizeof(*format)};
    q.value.ptr = format;
    return ops().GetInfo(handle_, ZEP_QID_VID_STREAM_FORMAT, &q, 0);
  }
  // The size query, then the data query into a buffer of that size.
  Bytes query_bytes(uint32_t size_qid, uint32_t data_qid, ZEP_STATUS* status = nullptr) {
    ZepQueryData q{};
    ZEP_STATUS s = ops().GetInfo(handle_, size_qid, &q, 0);
    Bytes out(s >= 0 ? q.value.u32 : 0);
    ZepQueryData d{.size = uint32_t(out.size())};
    d.value.ptr = out.data();
    if (s >= 0 && (s = ops().GetInfo(handle_, data_qid, &d, 0)) >= 0) out.resize(d.size);
    if (status) *status = s;
    return out;
  }

 private:
  ZEP_STATUS open_status_ = ZEP_FAIL;
  ZepModuleHandle handle_ = nullptr;
};

// The units of a block of 4-byte length-prefixed units; empty when malformed.
inline std::vector<Bytes> split_units(const Bytes& block) {
  std::vector<Bytes> units;
  size_t pos = 0;
  while (pos + 4 <= block.size()) {
    const size_t length = size_t(block[pos]) << 24 | size_t(block[pos + 1]) << 16 |
                          size_t(block[pos + 2]) << 8 | block[pos + 3];
    if ((pos += 4) + length > block.size()) return {};
    units.emplace_back(block.begin() + ptrdiff_t(pos), block.begin() + ptrdiff_t(pos + length));
    pos += length;
  }
  return pos == block.size() ? units : std::vector<Bytes>{};
}
// nal_unit_type of each unit of a block.
inline std::vector<int> unit_types(const Bytes& block) {
  std::vector<int> types;
  for (const Bytes& unit : split_units(block)) types.push_back(unit.empty() ? -1 : unit[0] & 0x1F);
  return types;
}

}  // namespace h264test
