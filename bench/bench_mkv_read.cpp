// Container-level read of every block of a Matroska file (about 110 MB:
// 6000 video frames of 16 KiB and 6000 audio frames of 2 KiB in SimpleBlocks,
// one Cluster a second, no Cues), and seeks over it, which build the Cluster
// table by scanning. The file is generated once under the temp folder.
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
constexpr uint32_t kFramesPerCluster = 25;

struct Ebml {
  std::vector<uint8_t> d;
  void id(uint32_t v) {
    int n = v > 0xFFFFFF ? 4 : v > 0xFFFF ? 3 : v > 0xFF ? 2 : 1;
    for (int i = n - 1; i >= 0; --i) d.push_back(uint8_t(v >> (8 * i)));
  }
  void size8(uint64_t v) {  // an 8-byte size: simple to patch
    d.push_back(0x01);
    for (int i = 6; i >= 0; --i) d.push_back(uint8_t(v >> (8 * i)));
  }
  size_t open(uint32_t element) {
    id(element);
    size_t at = d.size();
    size8(0);
    return at;
  }
  void close(size_t at) {
    uint64_t v = d.size() - at - 8;
    for (int i = 6; i >= 0; --i) d[at + 7 - i] = uint8_t(v >> (8 * i));
  }
  void uint(uint32_t element, uint64_t v) {
    id(element);
    d.push_back(0x88);
    for (int i = 7; i >= 0; --i) d.push_back(uint8_t(v >> (8 * i)));
  }
  void text(uint32_t element, const std::string& s) {
    id(element);
    d.push_back(uint8_t(0x80 | s.size()));
    d.insert(d.end(), s.begin(), s.end());
  }
  void block(uint8_t track, int16_t rel, bool key, uint32_t size, uint8_t fill) {
    id(0xA3);
    size8(size + 4);
    d.push_back(uint8_t(0x80 | track));
    d.push_back(uint8_t(uint16_t(rel) >> 8));
    d.push_back(uint8_t(rel));
    d.push_back(key ? 0x80 : 0x00);
    d.insert(d.end(), size, fill);
  }
};

void track(Ebml& w, uint8_t number, uint8_t type, const std::string& codec) {
  size_t entry = w.open(0xAE);
  w.uint(0xD7, number);
  w.uint(0x73C5, number);
  w.uint(0x83, type);
  w.text(0x86, codec);
  if (type == 1) {
    size_t video = w.open(0xE0);
    w.uint(0xB0, 320);
    w.uint(0xBA, 240);
    w.close(video);
    w.uint(0x23E383, 40000000);
  } else {
    size_t audio = w.open(0xE1);
    w.uint(0x9F, 2);
    w.close(audio);
  }
  w.close(entry);
}

std::string make_file() {
  const std::string path =
      (std::filesystem::temp_directory_path() / "zep_bench_read.mkv").string();
  if (std::filesystem::exists(path)) return path;
  Ebml w;
  size_t header = w.open(0x1A45DFA3);
  w.text(0x4282, "matroska");
  w.close(header);
  size_t segment = w.open(0x18538067);
  size_t info = w.open(0x1549A966);
  w.uint(0x2AD7B1, 1000000);
  w.close(info);
  size_t tracks = w.open(0x1654AE6B);
  track(w, 1, 1, "V_MPEG4/ISO/ASP");
  track(w, 2, 2, "A_AC3");
  w.close(tracks);
  for (uint32_t f = 0; f < kFrames; f += kFramesPerCluster) {
    size_t cluster = w.open(0x1F43B675);
    w.uint(0xE7, uint64_t(f) * 40);
    for (uint32_t i = 0; i < kFramesPerCluster; ++i) {
      w.block(1, int16_t(i * 40), i == 0, kVideoSize, uint8_t(f + i));
      w.block(2, int16_t(i * 40), true, kAudioSize, uint8_t(i));
    }
    w.close(cluster);
  }
  w.close(segment);
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return path;
  std::fwrite(w.d.data(), 1, w.d.size(), out);
  std::fclose(out);
  return path;
}

ZepContainer* open_file() {
  static const std::string path = make_file();
  static const std::u16string name(path.begin(), path.end());
  L1Start();
  ZepContainer* c = nullptr;
  if (L1OpenContainer(&c, name.c_str(), nullptr) < 0 || L1SetTitle(c, 0) < 0) return nullptr;
  L1SetTitleActiveStream(c, ZEP_BLOCK_VIDEO, 0, 1);
  L1SetTitleActiveStream(c, ZEP_BLOCK_AUDIO, 0, 1);
  return c;
}

void BM_MkvReadEveryBlock(benchmark::State& state) {
  uint64_t bytes = 0;
  for (auto _ : state) {
    ZepContainer* c = open_file();
    if (!c) {
      state.SkipWithError("cannot open the generated file");
      return;
    }
    ZepBlock block;
    zep_heap_block_init(&block);
    uint32_t type = 0, stream = 0;
    while (L1ReadNextBlock(c, &type, &stream, &block, 0) >= 0) bytes += block.size;
    zep_heap_block_free(&block);
    L1CloseContainer(c);
  }
  state.SetBytesProcessed(int64_t(bytes));
}
BENCHMARK(BM_MkvReadEveryBlock)->Unit(benchmark::kMillisecond);

// Seeks to 50 times across the file without Cues.
void BM_MkvSeekWithoutCues(benchmark::State& state) {
  for (auto _ : state) {
    ZepContainer* c = open_file();
    if (!c) {
      state.SkipWithError("cannot open the generated file");
      return;
    }
    ZepBlock block;
    zep_heap_block_init(&block);
    uint32_t type = 0, stream = 0;
    for (int i = 0; i < 50; ++i) {
      int64_t t = int64_t((i * 37) % 240) * ZEP_TIME_UNITS_PER_SECOND;
      L1SetPosition(c, ZEP_BLOCK_VIDEO, 0, &t);
      L1ReadNextBlock(c, &type, &stream, &block, 0);
    }
    zep_heap_block_free(&block);
    L1CloseContainer(c);
  }
}
BENCHMARK(BM_MkvSeekWithoutCues)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
