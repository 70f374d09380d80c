// Shared set-up of the demuxer API tests: a C host (test_host.c) with an
// instance, and for ApiTest the fake read module and a scratch ".fake" file
// it serves.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "api/zep_demux.h"
#include "fake_module.h"
#include "test_host.h"
#include "tests/support/byte_writer.h"

namespace zeptest {

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override { test_host_init(&host); }
  void TearDown() override {
    if (demux != nullptr) zepDemuxFree(demux);
    demux = nullptr;
    EXPECT_EQ(host.allocations, host.releases) << "host memory not balanced";
  }
  zepdmux_t* create() { return demux = zepDemuxNew(test_host_get_rc, &host, nullptr); }
  // Creates the instance when needed and opens the file; true on success.
  bool open(const std::string& file) {
    if (demux == nullptr) create();
    return zepDemuxOpen(demux, nullptr, file.c_str()) == 0;
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
  int32_t seek(int32_t parser, int64_t time, uint8_t next_sync = 0, uint8_t prev_sync = 0,
               int64_t* resolved = nullptr) {
    zepdmux_seek_info_t seek{};
    seek.parser_num = parser;
    seek.seek_time = time;
    seek.next_sync = next_sync;
    seek.prev_sync = prev_sync;
    const int32_t result = zepDemuxSeek(demux, &seek);
    if (resolved != nullptr) *resolved = seek.resolved_time;
    return result;
  }
  std::string last_message() const { return test_host_last_message(&host); }
  // The message of a call that must fail with this result.
  std::string failed(int64_t result, int64_t failure = 1) const {
    return result == failure ? last_message() : "no failure: " + std::to_string(result);
  }

  test_host host{};
  zepdmux_t* demux = nullptr;
};

class ApiTest : public HostTest {
 protected:
  void SetUp() override {
    HostTest::SetUp();
    register_fake_module();
    g_fake = &scenario;
    path = dir.write("input.fake", std::string("FAKE container for the API tests"));
  }
  void TearDown() override {
    HostTest::TearDown();
    g_fake = nullptr;
  }
  bool open() { return HostTest::open(path); }

  FakeScenario scenario;
  TempDir dir;
  std::string path;
};

// Reads a member of a packed record by value (gtest binds references, which a
// packed member cannot carry).
template <typename T>
T get(T value) {
  return value;
}

inline FakeBlock block(uint32_t type, uint32_t stream, std::vector<uint8_t> bytes, int64_t time,
                       int64_t duration = 400000, bool key = true) {
  return FakeBlock{type, stream, std::move(bytes), time, duration, key};
}

inline std::vector<uint8_t> pattern(size_t size, uint8_t seed = 1) {
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i) v[i] = uint8_t(seed + i * 7);
  return v;
}

inline Bytes bytes_of(const test_output& out) { return Bytes(out.data, out.data + out.size); }

}  // namespace zeptest
