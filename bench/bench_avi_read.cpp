// Container-level read of every block of a large AVI file (about 110 MB,
// 6000 video frames of 16 KiB interleaved with 2 KiB audio chunks, idx1).
// The file is generated once under the temp folder.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "layer1/zep_module.h"

namespace {

constexpr uint32_t kFrames = 6000;
constexpr uint32_t kVideoSize = 16384;
constexpr uint32_t kAudioSize = 2048;

struct Writer {
  std::vector<uint8_t> d;
  void u32(uint32_t v) {
    for (int i = 0; i < 4; ++i) d.push_back(uint8_t(v >> (8 * i)));
  }
  void u16(uint16_t v) {
    d.push_back(uint8_t(v));
    d.push_back(uint8_t(v >> 8));
  }
  void id(const char* s) { d.insert(d.end(), s, s + 4); }
  void patch(size_t at, uint32_t v) {
    for (int i = 0; i < 4; ++i) d[at + i] = uint8_t(v >> (8 * i));
  }
  size_t open(const char* list, const char* form) {
    id(list);
    size_t at = d.size();
    u32(0);
    id(form);
    return at;
  }
  void close(size_t at) { patch(at, uint32_t(d.size() - at - 4)); }
};

void stream_header(Writer& w, const char* type, const char* handler, uint32_t scale, uint32_t rate,
                   uint32_t sampleSize) {
  w.id("strh");
  w.u32(56);
  w.id(type);
  w.id(handler);
  for (int i = 0; i < 3; ++i) w.u32(0);
  w.u32(scale);
  w.u32(rate);
  w.u32(0);
  w.u32(kFrames);
  w.u32(0);
  w.u32(0xFFFFFFFFu);
  w.u32(sampleSize);
  w.u32(0);
  w.u32(0);
}

std::string make_file() {
  std::string path = (std::filesystem::temp_directory_path() / "zep_bench_avi_read.avi").string();
  if (std::filesystem::exists(path)) return path;
  Writer w;
  size_t riff = w.open("RIFF", "AVI ");
  size_t hdrl = w.open("LIST", "hdrl");
  w.id("avih");
  w.u32(56);
  w.u32(40000);
  for (int i = 0; i < 3; ++i) w.u32(0);
  w.u32(kFrames);
  w.u32(0);
  w.u32(2);
  for (int i = 0; i < 7; ++i) w.u32(0);
  size_t strl = w.open("LIST", "strl");
  stream_header(w, "vids", "XVID", 1, 25, 0);
  w.id("strf");
  w.u32(40);
  w.u32(40);
  w.u32(640);
  w.u32(480);
  w.u16(1);
  w.u16(24);
  w.id("XVID");
  for (int i = 0; i < 5; ++i) w.u32(0);
  w.close(strl);
  strl = w.open("LIST", "strl");
  stream_header(w, "auds", "\1\0\0\0", 1, 51200, 1);
  w.id("strf");
  w.u32(18);
  w.u16(1);
  w.u16(2);
  w.u32(12800);
  w.u32(51200);
  w.u16(4);
  w.u16(16);
  w.u16(0);
  w.close(strl);
  w.close(hdrl);
  size_t movi = w.open("LIST", "movi");
  std::vector<uint32_t> index;
  for (uint32_t f = 0; f < kFrames; ++f) {
    for (int s = 0; s < 2; ++s) {
      uint32_t size = s == 0 ? kVideoSize : kAudioSize;
      index.push_back(s == 0 ? 0x63643030u : 0x62773130u);  // "00dc", "01wb"
      index.push_back(s == 0 && f % 25 == 0 ? 0x10 : 0);
      index.push_back(uint32_t(w.d.size() - movi - 8));
      index.push_back(size);
      w.id(s == 0 ? "00dc" : "01wb");
      w.u32(size);
      size_t at = w.d.size();
      w.d.resize(at + size);
      if (s == 0) {
        w.d[at + 2] = 1;
        w.d[at + 3] = 0xB6;
        w.d[at + 4] = f % 25 == 0 ? 0x00 : 0x40;
      }
    }
  }
  w.close(movi);
  w.id("idx1");
  w.u32(uint32_t(index.size() * 4));
  for (uint32_t v : index) w.u32(v);
  w.close(riff);
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return {};
  std::fwrite(w.d.data(), 1, w.d.size(), out);
  std::fclose(out);
  return path;
}

void BM_AviReadEveryBlock(benchmark::State& state) {
  static const std::string path = make_file();
  L1Start();
  std::u16string name = zep::utf8_to_u16(path);
  ZepBlock block;
  zep_heap_block_init(&block);
  uint64_t bytes = 0, blocks = 0;
  for (auto _ : state) {
    ZepContainer* c = nullptr;
    if (L1OpenContainer(&c, name.c_str(), nullptr) < 0 || L1SetTitle(c, 0) < 0) {
      state.SkipWithError("cannot open the generated file");
      break;
    }
    L1SetTitleActiveStream(c, ZEP_BLOCK_VIDEO, 0, 1);
    L1SetTitleActiveStream(c, ZEP_BLOCK_AUDIO, 0, 1);
    uint32_t type = 0, stream = 0;
    while (L1ReadNextBlock(c, &type, &stream, &block, 0) >= 0) {
      bytes += block.size;
      ++blocks;
    }
    L1CloseContainer(c);
  }
  zep_heap_block_free(&block);
  state.SetBytesProcessed(int64_t(bytes));
  state.counters["blocks/s"] = benchmark::Counter(double(blocks), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_AviReadEveryBlock)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
