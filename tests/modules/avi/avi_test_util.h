// A container file through layer 1, and the ffmpeg and ffprobe views of a real file.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "layer1/zep_module.h"
#include "tests/support/byte_writer.h"
#include "tests/support/riff_builder.h"

namespace avitest {

using zeptest::Bytes;

struct Block {
  uint32_t type = 0, stream = 0;
  Bytes data;
  int64_t time = 0, duration = 0;
  uint32_t flags = 0;
  bool key() const { return (flags & ZEP_BLOCK_FLAG_KEYFRAME) != 0; }
};

class AviFile {
 public:
  explicit AviFile(const std::string& path, bool setTitle = true);
  ~AviFile();
  AviFile(const AviFile&) = delete;

  ZepContainer* container() const { return container_; }
  ZEP_STATUS open_status() const { return openStatus_; }
  ZEP_STATUS title_status() const { return titleStatus_; }
  bool ok() const { return container_ && openStatus_ >= 0 && titleStatus_ >= 0; }

  uint32_t count(uint32_t qid, uint32_t index = 0);
  // A text query as UTF-8: "(null)" for a null string, "(failed)" for a failure.
  std::string text(uint32_t qid, uint32_t index = 0);
  // A record or buffer query into `out` of `size` bytes; the size stored into *stored.
  ZEP_STATUS into(uint32_t qid, uint32_t index, void* out, uint32_t size,
                  uint32_t* stored = nullptr) {
    ZepQueryData q{.size = size, .value = {.ptr = out}};
    const ZEP_STATUS s = L1GetInfo(container_, qid, &q, index);
    if (stored) *stored = q.size;
    return s;
  }
  int64_t value64(uint32_t qid, int64_t in, ZEP_STATUS* status = nullptr, uint32_t index = 0);
  ZEP_STATUS set(uint32_t qid, uint32_t value) {
    ZepQueryData q{};
    q.value.u32 = value;
    return L1SetInfo(container_, qid, &q, 0, 0);
  }
  void activate_all();
  ZEP_STATUS read(Block* out) {
    uint32_t type = 0, stream = 0;
    ZEP_STATUS s = L1ReadNextBlock(container_, &type, &stream, &block_, 0);
    return fill(s, type, stream, out);
  }
  ZEP_STATUS read_stream(uint32_t type, uint32_t stream, Block* out) {
    return fill(L1ReadNextBlockByStream(container_, type, stream, &block_), type, stream, out);
  }
  // Reads until the end or a failure (returned in *last).
  std::vector<Block> read_all(ZEP_STATUS* last = nullptr, size_t limit = 1000000);
  ZEP_STATUS seek(uint32_t type, uint32_t stream, int64_t* t) {
    return L1SetPosition(container_, type, stream, t);
  }

 private:
  ZEP_STATUS fill(ZEP_STATUS s, uint32_t type, uint32_t stream, Block* out) const {
    const ZepBlock& b = block_;
    if (s >= 0) *out = {type, stream, Bytes(b.data, b.data + b.size), b.time, b.duration, b.flags};
    return s;
  }
  ZepContainer* container_ = nullptr;
  ZEP_STATUS openStatus_ = ZEP_FAIL, titleStatus_ = ZEP_FAIL;
  ZepBlock block_{};
};

// `frames` MPEG-4 frames at 25 fps (key every `keyEvery`), 40 ms of 8 kHz PCM after each.
zeptest::AviFileSpec basic_spec(uint32_t frames, uint32_t keyEvery, bool audio = true);

// Concatenated payload per (type, stream).
std::map<std::pair<uint32_t, uint32_t>, Bytes> payloads(const std::vector<Block>& blocks);

// For damaging built files: the first `id` at or after `from` (0: none), an overwrite.
size_t find_id(const Bytes& b, const char* id, size_t from = 0);
void put_le32(Bytes& b, size_t at, uint32_t v);

// Crafted files opened from one scratch folder, title 0 set, streams active.
class AviTest : public ::testing::Test {
 protected:
  std::unique_ptr<AviFile> open(const Bytes& file, bool activate = true);
  std::unique_ptr<AviFile> open(const zeptest::AviFileSpec& spec, bool activate = true) {
    return open(zeptest::build_avi(spec), activate);
  }
  zeptest::TempDir dir_;
  int files_ = 0;
};

// ffprobe's packets of one stream (`stream` as for -select_streams).
struct Packet {
  double pts = 0, dts = 0, duration = 0;  // NaN where ffprobe gives none
  bool key = false;
};
std::vector<Packet> probe_packets(const std::string& file, const std::string& stream);
// ffmpeg's own extraction of the stream `map` (as for -map, e.g. "0:1").
Bytes ffmpeg_payload(const zeptest::TempDir& dir, const std::string& file, const std::string& map);

}  // namespace avitest
