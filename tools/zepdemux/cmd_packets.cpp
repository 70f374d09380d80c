#include <cstdio>

#include <zlib.h>

#include "tools/zepdemux/commands.h"
#include "tools/zepdemux/format.h"
#include "tools/zepdemux/model.h"

namespace zepcli {
namespace {

// Prints each block with the CRC-32 of its payload.
class PacketPrinter : public Consumer {
 public:
  explicit PacketPrinter(bool json) : json_(json) {}
  void bytes(int, const uint8_t* data, size_t size) override {
    while (size > 0) {
      const auto piece = static_cast<uInt>(size > (1u << 30) ? (1u << 30) : size);
      crc_ = crc32(crc_, data, piece);
      data += piece;
      size -= piece;
    }
  }
  bool block(const BlockEvent& event) override {
    const auto crc = uint32_t(crc_);
    const std::string line = json_ ? packet_json(event, crc).dump() : packet_line(event, crc);
    crc_ = crc32(0, nullptr, 0);
    return std::printf("%s\n", line.c_str()) >= 0;
  }

 private:
  bool json_;
  uLong crc_ = crc32(0, nullptr, 0);
};

}  // namespace

int run_packets(const PacketsOptions& options) {
  const auto source = open_source(options.file);
  SessionOptions session_options;
  session_options.title = options.title;
  auto session = source->open_session(session_options);
  if (!options.json) std::printf("%s\n", packet_header_line().c_str());
  PacketPrinter printer(options.json);
  session->run(printer, 0);
  return 0;
}

}  // namespace zepcli
