// Parsers of the shared library as sessions: push mode (the library copies
// each block into our outputs) and pull mode (we call the auxiliary function
// that the library installed in our output and get its own buffer).
#include <optional>

#include "tools/zepdemux/api_source.h"
#include "tools/zepdemux/host_output.h"

namespace zepcli {
namespace {

// Push mode hands a block over in pieces of at most this many bytes; blocks
// are at most 10 MB, so most arrive in one piece.
constexpr uint32_t kPushChunkSize = 16u << 20;

// A parser with its outputs; the library's messages say why a call failed,
// so failures carry no text of their own.
class Parser {
 public:
  Parser(zepdmux_t* demux, const TitleDesc& title, const std::vector<int>& streams, bool add_header,
         uint32_t chunk_size)
      : demux_(demux) {
    const size_t errors = host_messages().errors;
    zepdmux_parser_settings_t settings{};
    settings.title_num = int16_t(title.index);
    number_ = zepDemuxNewParser(demux, &settings);
    if (number_ == 0) library_failed(errors, "Unable to create a parser");
    for (int index : streams) {
      const StreamDesc& stream = title.streams[size_t(index)];
      outputs_.push_back(std::make_unique<HostOutput>(index, stream.type, chunk_size));
      zepdmux_stream_settings add{};
      add.output = outputs_.back()->stream_object();
      add.stream_num = int16_t(index);
      add.add_header = add_header ? 1 : 0;
      if (zepDemuxAddStream(demux, number_, &add) != 0) {
        zepDemuxFreeParser(demux_, number_);
        library_failed(errors, "Unable to add stream " + std::to_string(index));
      }
    }
  }
  ~Parser() { zepDemuxFreeParser(demux_, number_); }
  Parser(const Parser&) = delete;
  Parser& operator=(const Parser&) = delete;

  int64_t seek(int64_t time, SyncMode sync) {
    const size_t errors = host_messages().errors;
    zepdmux_seek_info_t info{};
    info.parser_num = number_;
    info.seek_time = time;
    if (zepDemuxSeek(demux_, &info) != 0) library_failed(errors, "Unable to seek");
    if (sync != SyncMode::none) {
      // From the position reached, ask for the sync point next to it.
      info = zepdmux_seek_info_t{};
      info.parser_num = number_;
      info.seek_time = -1;
      info.next_sync = sync == SyncMode::next;
      info.prev_sync = sync == SyncMode::prev;
      if (zepDemuxSeek(demux_, &info) != 0)
        library_failed(errors, sync == SyncMode::next ? "No sync point after this time"
                                                      : "No sync point before this time");
    }
    return info.resolved_time;
  }

  void set_consumer(Consumer* consumer) {
    for (auto& output : outputs_) output->set_consumer(consumer);
  }
  uint64_t blocks() const {
    uint64_t total = 0;
    for (const auto& output : outputs_) total += output->blocks();
    return total;
  }
  bool stopped() const {
    for (const auto& output : outputs_)
      if (!output->wants_more()) return true;
    return false;
  }
  int32_t number() const { return number_; }
  HostOutput& output(size_t i) { return *outputs_[i]; }

 private:
  zepdmux_t* demux_;
  int32_t number_ = 0;
  std::vector<std::unique_ptr<HostOutput>> outputs_;
};

// Holds the one block a parser delivered until the merge takes it.
class PendingBlock : public Consumer {
 public:
  void bytes(int, const uint8_t* data, size_t size) override {
    payload.insert(payload.end(), data, data + size);
  }
  bool block(const BlockEvent& e) override {
    event = e;
    ready = true;
    return true;
  }
  std::vector<uint8_t> payload;
  BlockEvent event;
  bool ready = false;
  bool ended = false;
};

// Push mode. A seek of a parser positions its first stream only, so after a
// seek every stream gets a parser of its own, positioned at the time the
// first one reached, and their blocks are merged in time order.
class PushSession : public Session {
 public:
  PushSession(zepdmux_t* demux, const TitleDesc& title, const SessionOptions& options)
      : demux_(demux), title_(title), options_(options) {
    parsers_.push_back(make_parser(options.streams));
  }

  int64_t seek(int64_t time, SyncMode sync) override {
    const auto& streams = options_.streams;
    if (streams.size() < 2 || streams.size() > ZEP_MAX_PARSERS)
      return parsers_[0]->seek(time, sync);
    parsers_.clear();
    pending_.clear();
    int64_t reached = time;
    for (size_t i = 0; i < streams.size(); ++i) {
      parsers_.push_back(make_parser({streams[i]}));
      if (i == 0)
        reached = parsers_[0]->seek(time, sync);
      else
        parsers_[i]->seek(reached, SyncMode::none);
      pending_.push_back(std::make_unique<PendingBlock>());
      parsers_[i]->set_consumer(pending_[i].get());
    }
    return reached;
  }

  uint64_t run(Consumer& consumer, uint64_t limit) override {
    return pending_.empty() ? run_single(consumer, limit) : run_merged(consumer, limit);
  }

 private:
  std::unique_ptr<Parser> make_parser(const std::vector<int>& streams) {
    return std::make_unique<Parser>(demux_, title_, streams, options_.add_header, kPushChunkSize);
  }

  // One push, one block: false at the end.
  bool push(Parser& parser) {
    const size_t errors = host_messages().errors;
    const int64_t result = zepDemuxPush(demux_, parser.number());
    if (result < 0) library_failed(errors, "Unable to read the next block");
    return result > 0;
  }

  uint64_t run_single(Consumer& consumer, uint64_t limit) {
    Parser& parser = *parsers_[0];
    parser.set_consumer(&consumer);
    const uint64_t before = parser.blocks();
    while ((limit == 0 || parser.blocks() - before < limit) && push(parser) && !parser.stopped()) {
    }
    parser.set_consumer(nullptr);
    return parser.blocks() - before;
  }

  uint64_t run_merged(Consumer& consumer, uint64_t limit) {
    uint64_t delivered = 0;
    while (limit == 0 || delivered < limit) {
      PendingBlock* next = nullptr;
      for (size_t i = 0; i < parsers_.size(); ++i) {
        PendingBlock& p = *pending_[i];
        if (!p.ready && !p.ended && !push(*parsers_[i])) p.ended = true;
        if (p.ready && (next == nullptr || p.event.start27 < next->event.start27)) next = &p;
      }
      if (next == nullptr) break;
      if (!next->payload.empty())
        consumer.bytes(next->event.stream, next->payload.data(), next->payload.size());
      next->payload.clear();
      next->ready = false;
      ++delivered;
      if (!consumer.block(next->event)) break;
    }
    return delivered;
  }

  zepdmux_t* demux_;
  const TitleDesc& title_;
  SessionOptions options_;
  std::vector<std::unique_ptr<Parser>> parsers_;
  std::vector<std::unique_ptr<PendingBlock>> pending_;  // one per parser after a seek
};

// Pull mode. A pull consumer gets the blocks of its own stream only (the
// library passes over the others), so each stream has its own parser, and
// the streams are read one after the other.
class PullSession : public Session {
 public:
  PullSession(zepdmux_t* demux, const TitleDesc& title, const SessionOptions& options)
      : demux_(demux), title_(title), options_(options) {}

  int64_t seek(int64_t time, SyncMode sync) override {
    open_current();
    seek_ = parser_->seek(time, sync);
    return *seek_;
  }

  uint64_t run(Consumer& consumer, uint64_t limit) override {
    uint64_t delivered = 0;
    while (open_current()) {
      HostOutput& output = parser_->output(0);
      output.set_consumer(&consumer);
      bool ended = false;
      while (limit == 0 || delivered < limit) {
        if (output.pull_one() == 0) {
          ended = true;
          break;
        }
        ++delivered;
        if (!output.wants_more()) return delivered;
      }
      output.set_consumer(nullptr);
      if (!ended) break;
      parser_.reset();
      ++current_;
    }
    return delivered;
  }

 private:
  // The parser of the stream in turn; false when every stream is done.
  bool open_current() {
    if (parser_) return true;
    if (current_ >= options_.streams.size()) return false;
    const std::vector<int> streams{options_.streams[current_]};
    parser_ = std::make_unique<Parser>(demux_, title_, streams, options_.add_header, 0);
    if (seek_) parser_->seek(*seek_, SyncMode::none);
    return true;
  }

  zepdmux_t* demux_;
  const TitleDesc& title_;
  SessionOptions options_;
  size_t current_ = 0;
  std::unique_ptr<Parser> parser_;
  std::optional<int64_t> seek_;
};

}  // namespace

std::unique_ptr<Session> make_push_session(zepdmux_t* demux, const TitleDesc& title,
                                           const SessionOptions& options) {
  return std::make_unique<PushSession>(demux, title, options);
}

std::unique_ptr<Session> make_pull_session(zepdmux_t* demux, const TitleDesc& title,
                                           const SessionOptions& options) {
  return std::make_unique<PullSession>(demux, title, options);
}

}  // namespace zepcli
