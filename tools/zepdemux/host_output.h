// The CLI's output stream object (bufstream). In push mode the library
// copies each block's payload into it in chunks and then announces the
// block's information and times; in pull mode the library installs its own
// auxiliary function and the CLI, as the consumer, pulls blocks through it.
#pragma once

#include <cstdint>

#include "api/zep_demux.h"
#include "tools/zepdemux/model.h"

namespace zepcli {

class HostOutput {
 public:
  // chunk_size 0 selects pull mode.
  HostOutput(int stream, uint32_t type, uint32_t chunk_size);
  HostOutput(const HostOutput&) = delete;
  HostOutput& operator=(const HostOutput&) = delete;

  bufstream* stream_object() { return &object_; }
  void set_consumer(Consumer* consumer) { consumer_ = consumer; }
  // Push mode: false once the consumer asked to stop.
  bool wants_more() const { return !stop_; }
  uint64_t blocks() const { return blocks_; }

  // Pull mode: the next block through the library's auxiliary function.
  // 1 delivered, 0 end of stream; throws Failure when the library fails.
  int pull_one();

 private:
  static uint32_t copy_bytes(bufstream* self, const uint8_t* data, uint32_t count);
  static uint32_t chunk_size(bufstream* self);
  static int32_t aux_info(bufstream* self, uint32_t offset, uint32_t id, void* record,
                          uint32_t size);
  static HostOutput* from(bufstream* self) { return static_cast<HostOutput*>(self->host_context); }

  bufstream object_{};
  int stream_;
  uint32_t type_;
  uint32_t chunk_size_;
  Consumer* consumer_ = nullptr;
  bool key_ = false;
  bool stop_ = false;
  uint64_t blocks_ = 0;
};

}  // namespace zepcli
