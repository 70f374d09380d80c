// Shared set-up of the demuxer API tests: a C host (test_host.c), the fake
// read module and a scratch ".fake" file the module serves.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "api/zep_demux.h"
#include "fake_module.h"
#include "test_host.h"
#include "tests/support/byte_writer.h"

namespace zeptest {

class ApiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    register_fake_module();
    g_fake = &scenario;
    test_host_init(&host);
    path = dir.write("input.fake", std::string("FAKE container for the API tests"));
  }
  void TearDown() override {
    if (demux != nullptr) zepDemuxFree(demux);
    demux = nullptr;
    EXPECT_EQ(host.allocations, host.releases) << "host memory not balanced";
    g_fake = nullptr;
  }
  zepdmux_t* create() {
    demux = zepDemuxNew(test_host_get_rc, &host, nullptr);
    return demux;
  }
  // Creates the instance and opens the scenario's file; true on success.
  bool open() {
    if (demux == nullptr) create();
    return zepDemuxOpen(demux, nullptr, path.c_str()) == 0;
  }
  int32_t new_parser(int16_t title = 0, uint32_t buffer = 0) {
    zepdmux_parser_settings_t settings{};
    settings.title_num = title;
    settings.block_buffer_size = buffer;
    return zepDemuxNewParser(demux, &settings);
  }
  int32_t add_stream(int32_t parser, int16_t stream, test_output* out, bool addHeader = false) {
    zepdmux_stream_settings s{};
    s.output = out != nullptr ? &out->base : nullptr;
    s.stream_num = stream;
    s.add_header = addHeader ? 1 : 0;
    return zepDemuxAddStream(demux, parser, &s);
  }
  std::string last_message() const { return test_host_last_message(&host); }

  FakeScenario scenario;
  test_host host{};
  TempDir dir;
  std::string path;
  zepdmux_t* demux = nullptr;
};

// Reads a member of a packed record by value (gtest binds references, which a
// packed member cannot carry).
template <typename T>
T get(T value) {
  return value;
}

inline FakeBlock block(uint32_t type, uint32_t stream, std::vector<uint8_t> bytes, int64_t time,
                       int64_t duration = 400000, bool key = true) {
  FakeBlock b;
  b.type = type;
  b.stream = stream;
  b.bytes = std::move(bytes);
  b.time = time;
  b.duration = duration;
  b.key = key;
  return b;
}

inline std::vector<uint8_t> pattern(size_t size, uint8_t seed = 1) {
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i) v[i] = uint8_t(seed + i * 7);
  return v;
}

}  // namespace zeptest
