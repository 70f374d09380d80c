#include "tools/zepdemux/host_output.h"

#include <cstring>

#include "tools/zepdemux/library_host.h"

namespace zepcli {

HostOutput::HostOutput(int stream, uint32_t type, uint32_t chunk_size)
    : stream_(stream), type_(type), chunk_size_(chunk_size) {
  object_.host_context = this;
  object_.copybytes = &HostOutput::copy_bytes;
  object_.chunksize = &HostOutput::chunk_size;
  object_.auxinfo = &HostOutput::aux_info;
}

uint32_t HostOutput::copy_bytes(bufstream* self, const uint8_t* data, uint32_t count) {
  HostOutput* out = from(self);
  if (out->consumer_ != nullptr && count != 0) out->consumer_->bytes(out->stream_, data, count);
  return count;
}

uint32_t HostOutput::chunk_size(bufstream* self) { return from(self)->chunk_size_; }

// Push mode: the block record comes first (key flag), then the time record,
// which completes the block.
int32_t HostOutput::aux_info(bufstream* self, uint32_t, uint32_t id, void* record, uint32_t size) {
  HostOutput* out = from(self);
  if (id == ZEP_INFO_BLOCK && size >= sizeof(zep_block_info_t)) {
    zep_block_info_t info;
    std::memcpy(&info, record, sizeof info);
    out->key_ = info.flags == ZEP_BLOCK_INFO_FLAGS_KEY;
    return 0;
  }
  if (id == ZEP_INFO_TIME && size >= sizeof(zep_time_info_t)) {
    zep_time_info_t time;
    std::memcpy(&time, record, sizeof time);
    BlockEvent event;
    event.stream = out->stream_;
    event.type = out->type_;
    event.start27 = time.start_time;
    event.end27 = time.end_time;
    event.size = time.size;
    event.key = out->key_;
    ++out->blocks_;
    if (out->consumer_ != nullptr && !out->consumer_->block(event)) out->stop_ = true;
    return 0;
  }
  return 0;
}

int HostOutput::pull_one() {
  const size_t errors = host_messages().errors;
  zep_block_info_t info{};
  if (object_.auxinfo(&object_, 0, ZEP_INFO_BLOCK, &info, sizeof info) != 0)
    library_failed(errors, "Unable to read the next block");
  if (info.end_of_stream) return 0;
  zep_time_info_t time{};
  if (object_.auxinfo(&object_, 0, ZEP_INFO_TIME, &time, sizeof time) != 0)
    throw Failure("Unable to read the time of a block");
  if (consumer_ != nullptr && info.size != 0) consumer_->bytes(stream_, info.data, info.size);
  BlockEvent event;
  event.stream = stream_;
  event.type = type_;
  event.start27 = time.start_time;
  event.end27 = time.end_time;
  event.size = info.size;
  event.key = info.flags == ZEP_BLOCK_INFO_FLAGS_KEY;
  ++blocks_;
  if (consumer_ != nullptr && !consumer_->block(event)) stop_ = true;
  return 1;
}

}  // namespace zepcli
