// Shared set-up of the demuxer API tests: a C host (test_host.c) with an
// instance; for ApiTest a fake read module (fake_module.cpp) taking ".fake"
// names that serves the scenario the test describes and records the calls.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <tuple>
#include <vector>

#include "api/zep_demux.h"
#include "layer1/zep_module.h"
#include "test_host.h"
#include "tests/support/byte_writer.h"

namespace zeptest {

struct FakeBlock {
  uint32_t type, stream;  // ZEP_BLOCK_*
  std::vector<uint8_t> bytes;
  int64_t time = 0, duration = 0;
  bool key = true;
};
struct FakeVideo {
  ZepVideoStreamFormat format{};
  std::vector<uint8_t> privateData;
};
template <typename Format, typename Prop>
struct FakeMedia {
  Format format{};
  Prop prop{};
  std::vector<uint8_t> privateData;
};
using FakeAudio = FakeMedia<ZepAudioStreamFormat, ZepAudioMediaProp>;
using FakeSubtitle = FakeMedia<ZepSubtitleStreamFormat, ZepSubtitleMediaProp>;
struct FakeTitle {
  int64_t duration = 100000000;  // 10 s
  std::vector<FakeVideo> video;
  std::vector<FakeAudio> audio;
  std::vector<FakeSubtitle> subtitle;
  std::vector<FakeBlock> blocks;
};

struct FakeScenario {
  bool answerContainerType = true;
  uint32_t containerType = 0;
  std::vector<FakeTitle> titles;
  bool refuseSmallBuffers = false;  // ZEP_ERR_BLOCK_BUFFER_TOO_SMALL, not EnsureBlockCapacity
  int failAfterBlocks = -1;         // the read after this many blocks fails (-1: never)
  int64_t nextSyncTime = 0, prevSyncTime = 0;  // answers of the sync-time queries
  // Recorded: containers opened and closed, positions (type, time) and sync
  // queries (qid, time asked from).
  int opens = 0, closes = 0;
  std::vector<std::pair<uint32_t, int64_t>> positions, syncQueries;
};

extern FakeScenario* g_fake;  // the scenario served; the test owns it
void register_fake_module();  // once; safe to call from every test

ZepVideoStreamFormat fake_video_format(const char* fourcc, uint32_t rate, uint32_t scale,
                                       uint32_t width, uint32_t height);
ZepAudioStreamFormat fake_audio_format(uint16_t tag, uint16_t channels, uint32_t rate,
                                       uint16_t bits);

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
  int32_t new_parser(int16_t title = 0) {
    zepdmux_parser_settings_t settings{.title_num = title};
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
    std::tie(seek.parser_num, seek.seek_time, seek.next_sync, seek.prev_sync) =
        std::tuple(parser, time, next_sync, prev_sync);
    const int32_t result = zepDemuxSeek(demux, &seek);
    if (resolved != nullptr) *resolved = seek.resolved_time;
    return result;
  }
  std::string last_message() const { return test_host_last_message(&host); }
  // The message of a call that must fail with this result.
  std::string failed(int64_t result, int64_t failure = 1) const {
    return result == failure ? last_message() : "no failure: " + std::to_string(result);
  }
  void push_all(int32_t p) {
    int64_t got = 1;
    while (got > 0) got = zepDemuxPush(demux, p);
    EXPECT_EQ(got, 0) << last_message();
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
  bool open() { return HostTest::open(path); }
  // The stream record, asserting that the call succeeds.
  zep_stream_info_t stream_info(int16_t stream) {
    zep_stream_info_t s{};
    EXPECT_EQ(zepDemuxGetStreamInfo(demux, 0, stream, &s), 0) << last_message();
    return s;
  }

  FakeScenario scenario;
  TempDir dir;
  std::string path;
};

// A member of a packed record by value (gtest binds references, which a
// packed member cannot carry).
template <typename T>
T get(T value) {
  return value;
}
template <typename T>
Bytes bytes(const T* data, int32_t size) {
  return Bytes(data, data + size);
}

inline FakeBlock block(uint32_t type, uint32_t stream, std::vector<uint8_t> bytes, int64_t time,
                       int64_t duration = 400000, bool key = true) {
  return {type, stream, std::move(bytes), time, duration, key};
}

inline std::vector<uint8_t> pattern(size_t size, uint8_t seed = 1) {
  std::vector<uint8_t> v(size);
  for (size_t i = 0; i < size; ++i) v[i] = uint8_t(seed + i * 7);
  return v;
}

inline Bytes bytes_of(const test_output& out) { return Bytes(out.data, out.data + out.size); }

}  // namespace zeptest
