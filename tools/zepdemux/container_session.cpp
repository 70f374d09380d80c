// Delivery over the container layer: one container per session, a heap
// block that grows on demand, and the same block events as the library's.
#include <map>
#include <optional>

#include "layer1/zep_module.h"
#include "tools/zepdemux/annexb.h"
#include "tools/zepdemux/codec_tables.h"
#include "tools/zepdemux/container_query.h"
#include "tools/zepdemux/container_source.h"

namespace zepcli {
namespace {

// Text output of the subtitle module needs a buffer of at least 1000 bytes
// before the read; start every block buffer comfortably above that.
constexpr uint32_t kInitialBlockCapacity = 1 << 20;

struct StreamSlot {
  int index = 0;
  uint32_t type = 0;
  uint32_t number = 0;  // within its block type
  std::optional<AnnexBFramer> framer;
};

class ContainerSession : public Session {
 public:
  ContainerSession(ZepContainer* container, const TitleDesc& title, const SessionOptions& options,
                   bool subtitle_file)
      : container_(container), subtitle_file_(subtitle_file) {
    zep_heap_block_init(&block_);
    try {
      prepare(title, options);
    } catch (...) {
      zep_heap_block_free(&block_);
      L1CloseContainer(container_);
      throw;
    }
  }

  ~ContainerSession() override {
    zep_heap_block_free(&block_);
    L1CloseContainer(container_);
  }

  ContainerSession(const ContainerSession&) = delete;
  ContainerSession& operator=(const ContainerSession&) = delete;

 private:
  void prepare(const TitleDesc& title, const SessionOptions& options) {
    if (ZEP_FAILED(zep_block_ensure_capacity(&block_, kInitialBlockCapacity)))
      throw Failure("Unable to allocate a block buffer");
    L1SetTitle(container_, uint32_t(title.index));
    uint32_t per_type[4] = {0, 0, 0, 0};
    std::map<int, StreamSlot> all;
    for (const auto& s : title.streams) {
      StreamSlot slot{s.index, s.type, per_type[s.type & 3]++, std::nullopt};
      if (options.add_header && s.codec_id == 10)
        slot.framer.emplace(s.codec_header, avc_length_size(s.private_data));
      all.emplace(s.index, std::move(slot));
    }
    for (int index : options.streams) {
      auto it = all.find(index);
      if (it == all.end()) throw Failure("Stream number out of range");
      slots_.push_back(std::move(it->second));
    }
    for (auto& slot : slots_)
      if (ZEP_FAILED(L1SetTitleActiveStream(container_, slot.type, slot.number, 1)))
        throw Failure("Unable to set stream as active in ZEP demuxer");
  }

 public:
  int64_t seek(int64_t time, SyncMode sync) override {
    int64_t reached = position(time);
    if (sync != SyncMode::none) {
      // The key frame after (or before) the position reached.
      ZepQueryData data{};
      const uint32_t qid = sync == SyncMode::next ? ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME
                                                  : ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME;
      data.valueType = ZEP_QID_VALUE_TYPE(qid);
      data.value.i64 = reached;
      if (ZEP_FAILED(L1GetInfo(container_, qid, &data, 0)))
        throw Failure("This file has no sync point to go to");
      reached = position(data.value.i64);
    }
    return reached;
  }

  uint64_t run(Consumer& consumer, uint64_t limit) override {
    uint64_t delivered = 0;
    while (!ended_ && (limit == 0 || delivered < limit)) {
      uint32_t type = 0, number = 0;
      block_.size = 0;
      const ZEP_STATUS status = L1ReadNextBlock(container_, &type, &number, &block_, 0);
      if (is_end(status)) {
        ended_ = true;
        break;
      }
      if (ZEP_FAILED(status)) throw Failure("Unable to read the next block");
      StreamSlot* slot = find(type, number);
      if (slot == nullptr || block_.data == nullptr) continue;
      if (!deliver(*slot, consumer, delivered)) break;
    }
    return delivered;
  }

 private:
  // Positions the first stream at `time` and the others where it arrived.
  int64_t position(int64_t time) {
    if (slots_.empty()) throw Failure("No stream to seek");
    int64_t reached = time;
    for (size_t i = 0; i < slots_.size(); ++i) {
      int64_t t = reached;
      if (ZEP_FAILED(L1SetPosition(container_, slots_[i].type, slots_[i].number, &t)))
        throw Failure("Unable to seek to the requested time");
      if (i == 0) reached = t;
      if (slots_[i].framer) slots_[i].framer->restart();
    }
    ended_ = false;
    return reached;
  }

  bool is_end(ZEP_STATUS status) const {
    if (status == ZEP_ERR_END_OF_STREAM || status == ZEP_E_NO_MORE_BLOCKS) return true;
    // The subtitle module says "no entry left" with -9 (bitmap) or -1 (text).
    return subtitle_file_ && (status == ZEP_E_INPUT_ENDED || status == ZEP_FAIL);
  }

  StreamSlot* find(uint32_t type, uint32_t number) {
    for (auto& slot : slots_)
      if (slot.type == type && slot.number == number) return &slot;
    return nullptr;
  }

  bool emit(const StreamSlot& slot, Consumer& consumer, const uint8_t* data, size_t size,
            uint64_t& delivered) {
    BlockEvent event;
    event.stream = slot.index;
    event.type = slot.type;
    event.start27 = time_to_27mhz(block_.time);
    event.end27 = end_27mhz(event.start27, block_.duration);
    event.size = size;
    event.key = (block_.flags & ZEP_BLOCK_FLAG_KEYFRAME) != 0;
    if (size) consumer.bytes(slot.index, data, size);
    ++delivered;
    return consumer.block(event);
  }

  bool deliver(StreamSlot& slot, Consumer& consumer, uint64_t& delivered) {
    const uint8_t* data = block_.data;
    size_t size = block_.size;
    if (slot.framer) {
      if (slot.framer->header_first(data, size)) {
        const auto& header = slot.framer->header();
        if (!emit(slot, consumer, header.data(), header.size(), delivered)) return false;
      }
      if (!slot.framer->convert(data, size, converted_))
        throw Failure("Unable to convert a block to start codes");
      data = converted_.data();
      size = converted_.size();
    }
    return emit(slot, consumer, data, size, delivered);
  }

  ZepContainer* container_;
  bool subtitle_file_;
  ZepBlock block_{};
  std::vector<StreamSlot> slots_;
  std::vector<uint8_t> converted_;
  bool ended_ = false;
};

}  // namespace

std::unique_ptr<Session> ContainerSource::open_session(const SessionOptions& options) {
  if (options.title < 0 || size_t(options.title) >= desc_.titles.size())
    throw Failure("Invalid title number " + std::to_string(options.title));
  const TitleDesc& title = desc_.titles[size_t(options.title)];
  SessionOptions resolved = options;
  if (resolved.streams.empty())
    for (const auto& s : title.streams) resolved.streams.push_back(s.index);
  ZepContainer* container = open_container(wide_name_, subtitle_);
  return std::make_unique<ContainerSession>(container, title, resolved,
                                            module_id_ == ZEP_MODULE_ID_SUBTITLE);
}

}  // namespace zepcli
