#include "tests/modules/h264/h264_stream_fixture.h"

#include <cstring>

namespace h264test {

H264File::H264File(const std::string& path) {
  const std::u16string name = zep::utf8_to_u16(path);
  open_status_ = ops().OpenContainer(&handle_, name.c_str(), nullptr);
}

std::vector<AccessUnit> H264File::read_all(ZEP_STATUS* status, size_t limit) {
  std::vector<AccessUnit> units;
  ops().SetTitleActiveStream(handle_, ZEP_BLOCK_VIDEO, 0, 1);
  ZepBlock block;
  zep_heap_block_init(&block);
  ZEP_STATUS last = ZEP_OK;
  while (units.size() < limit) {
    uint32_t type = 0, stream = 0;
    block.size = 0;  // a read that ends without a block leaves no payload
    last = ops().ReadNextBlock(handle_, &type, &stream, &block, 0);
    if (last != ZEP_OK && block.size == 0) break;
    units.push_back(
        {Bytes(block.data, block.data + block.size), block.time, block.duration, block.flags});
    if (last != ZEP_OK) break;
  }
  zep_heap_block_free(&block);
  if (status) *status = last;
  return units;
}

ZEP_STATUS H264File::format(ZepVideoStreamFormat* format) {
  std::memset(format, 0, sizeof(*format));
  ZepQueryData q{};
  q.size = sizeof(*format);
  q.value.ptr = format;
  return ops().GetInfo(handle_, ZEP_QID_VID_STREAM_FORMAT, &q, 0);
}

Bytes H264File::query_bytes(uint32_t size_qid, uint32_t data_qid, ZEP_STATUS* status) {
  ZepQueryData q{};
  ZEP_STATUS s = ops().GetInfo(handle_, size_qid, &q, 0);
  Bytes out;
  if (s >= 0) {
    out.resize(q.value.u32);
    ZepQueryData d{};
    d.size = uint32_t(out.size());
    d.value.ptr = out.data();
    s = ops().GetInfo(handle_, data_qid, &d, 0);
    if (s >= 0) out.resize(d.size);
  }
  if (status) *status = s;
  return out;
}

std::vector<Bytes> split_units(const Bytes& block) {
  std::vector<Bytes> units;
  size_t pos = 0;
  while (pos + 4 <= block.size()) {
    const uint32_t length = uint32_t(block[pos]) << 24 | uint32_t(block[pos + 1]) << 16 |
                            uint32_t(block[pos + 2]) << 8 | block[pos + 3];
    pos += 4;
    if (pos + length > block.size()) return {};
    units.emplace_back(block.begin() + ptrdiff_t(pos), block.begin() + ptrdiff_t(pos + length));
    pos += length;
  }
  if (pos != block.size()) return {};
  return units;
}

std::vector<int> unit_types(const Bytes& block) {
  std::vector<int> types;
  for (const Bytes& unit : split_units(block)) types.push_back(unit.empty() ? -1 : unit[0] & 0x1F);
  return types;
}

}  // namespace h264test
