// Opens a raw H.264 file with the module's operation table and reads its
// access units, for the module tests and the real-stream tests.
#pragma once

#include <cstdint>
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
  explicit H264File(const std::string& path);
  ~H264File() { ops().CloseContainer(handle_); }
  H264File(const H264File&) = delete;
  H264File& operator=(const H264File&) = delete;

  static const ZepModuleOps& ops() { return *zepH264Module.ops; }
  ZEP_STATUS open_status() const { return open_status_; }
  ZepModuleHandle handle() const { return handle_; }
  ZEP_STATUS set_title(uint32_t title = 0) { return ops().SetTitle(handle_, title); }
  // Reads with a growing heap block; `status` receives the status that ended
  // the reading (ZEP_ERR_END_OF_STREAM at a clean end).
  std::vector<AccessUnit> read_all(ZEP_STATUS* status, size_t limit = 100000);
  ZEP_STATUS format(ZepVideoStreamFormat* format);
  Bytes query_bytes(uint32_t size_qid, uint32_t data_qid, ZEP_STATUS* status = nullptr);

 private:
  ZEP_STATUS open_status_ = ZEP_FAIL;
  ZepModuleHandle handle_ = nullptr;
};

// Splits a block of 4-byte length-prefixed units; empty on a malformed block.
std::vector<Bytes> split_units(const Bytes& block);
// nal_unit_type of each unit of a block.
std::vector<int> unit_types(const Bytes& block);

}  // namespace h264test
