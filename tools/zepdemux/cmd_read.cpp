#include <chrono>
#include <cstdio>
#include <iostream>

#include "tools/zepdemux/commands.h"
#include "tools/zepdemux/format.h"
#include "tools/zepdemux/model.h"

namespace zepcli {
namespace {

// Touches nothing: the benchmark path measures the library alone.
class NullSink : public Consumer {
 public:
  void bytes(int, const uint8_t*, size_t) override {}
  bool block(const BlockEvent& event) override {
    bytes_ += event.size;
    return true;
  }
  uint64_t total_bytes() const { return bytes_; }

 private:
  uint64_t bytes_ = 0;
};

}  // namespace

int run_read(const ReadOptions& options) {
  const auto started = std::chrono::steady_clock::now();
  const auto source = open_source(options.file);
  SessionOptions session_options;
  session_options.title = options.title;
  session_options.pull = options.pull;
  auto session = source->open_session(session_options);
  NullSink sink;
  const uint64_t blocks = session->run(sink, 0);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  const double mb_per_s = seconds > 0 ? double(sink.total_bytes()) / 1e6 / seconds : 0.0;
  if (options.json) {
    nlohmann::ordered_json j;
    j["blocks"] = blocks;
    j["bytes"] = sink.total_bytes();
    j["seconds"] = seconds;
    j["mb_per_s"] = mb_per_s;
    j["mode"] = options.pull ? "pull" : "push";
    std::cout << j.dump() << '\n';
  } else {
    std::printf("blocks:  %llu\nbytes:   %llu\nseconds: %.3f\nMB/s:    %.1f\nmode:    %s\n",
                static_cast<unsigned long long>(blocks),
                static_cast<unsigned long long>(sink.total_bytes()), seconds, mb_per_s,
                options.pull ? "pull" : "push");
  }
  return 0;
}

}  // namespace zepcli
