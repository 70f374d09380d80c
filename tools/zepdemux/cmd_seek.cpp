#include <cmath>
#include <cstdio>
#include <iostream>
#include <vector>

#include <zlib.h>

#include "tools/zepdemux/commands.h"
#include "tools/zepdemux/format.h"
#include "tools/zepdemux/model.h"

namespace zepcli {
namespace {

class Collector : public Consumer {
 public:
  void bytes(int, const uint8_t* data, size_t size) override {
    crc_ = crc32(crc_, data, static_cast<uInt>(size));
  }
  bool block(const BlockEvent& event) override {
    packets.emplace_back(event, uint32_t(crc_));
    crc_ = crc32(0, nullptr, 0);
    return true;
  }
  std::vector<std::pair<BlockEvent, uint32_t>> packets;

 private:
  uLong crc_ = crc32(0, nullptr, 0);
};

}  // namespace

int run_seek(const SeekOptions& options) {
  const auto source = open_source(options.file);
  SessionOptions session_options;
  session_options.title = options.title;
  auto session = source->open_session(session_options);
  const SyncMode sync = options.sync == "next"   ? SyncMode::next
                        : options.sync == "prev" ? SyncMode::prev
                                                 : SyncMode::none;
  const int64_t requested = int64_t(std::llround(options.time * 1e7));
  const int64_t reached = session->seek(requested, sync);
  Collector collector;
  if (options.count > 0) session->run(collector, uint64_t(options.count));
  if (options.json) {
    nlohmann::ordered_json j;
    j["requested"] = seconds_100ns(requested);
    j["reached"] = seconds_100ns(reached);
    j["packets"] = nlohmann::ordered_json::array();
    for (const auto& [event, crc] : collector.packets)
      j["packets"].push_back(packet_json(event, crc));
    std::cout << j.dump() << '\n';
    return 0;
  }
  std::printf("requested: %s s\nreached:   %s s\n", seconds_text(seconds_100ns(requested)).c_str(),
              seconds_text(seconds_100ns(reached)).c_str());
  if (!collector.packets.empty()) std::printf("%s\n", packet_header_line().c_str());
  for (const auto& [event, crc] : collector.packets)
    std::printf("%s\n", packet_line(event, crc).c_str());
  return 0;
}

}  // namespace zepcli
