// Fuzz target over the whole demuxer API: the input becomes a file that is
// opened, every stream of every title (up to 2) is added to a push parser and
// read to the end, then seeks, sleep, wake and a pull consumer run over it.
// Input caps: any size; 2 titles, 200,000 pushes a parser, 4096-byte blocks.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "api/zep_demux.h"

namespace {

uint32_t take_bytes(bufstream*, const uint8_t*, uint32_t count) { return count; }
uint32_t chunk_4k(bufstream*) { return 4096; }
uint32_t chunk_pull(bufstream*) { return 0; }
int32_t ignore_info(bufstream*, uint32_t, uint32_t, void*, uint32_t) { return 0; }

bufstream make_output(bool pull) {
  bufstream out;
  std::memset(&out, 0, sizeof out);
  out.copybytes = take_bytes;
  out.chunksize = pull ? chunk_pull : chunk_4k;
  out.auxinfo = ignore_info;
  return out;
}

// Pushes until the end, a failure, or a bound that no small input reaches.
void drain(zepdmux_t* demux, int32_t parser) {
  for (int i = 0; i < 200000; ++i) {
    if (zepDemuxPush(demux, parser) <= 0) return;
  }
}

void exercise_title(zepdmux_t* demux, int16_t title, bool addHeader) {
  zep_title_info_t info;
  if (zepDemuxGetTitleInfo(demux, title, &info) != 0) return;
  const int count = info.num_video_streams + info.num_audio_streams + info.num_subtitle_streams;
  zepdmux_parser_settings_t ps;
  std::memset(&ps, 0, sizeof ps);
  ps.title_num = title;
  ps.block_buffer_size = 4096;
  const int32_t parser = zepDemuxNewParser(demux, &ps);
  if (parser == 0) return;
  bufstream outputs[16];
  for (int s = 0; s < count && s < 16; ++s) {
    zep_stream_info_t stream;
    zepDemuxGetStreamInfo(demux, title, int16_t(s), &stream);
    outputs[s] = make_output(false);
    zepdmux_stream_settings ss;
    std::memset(&ss, 0, sizeof ss);
    ss.output = &outputs[s];
    ss.stream_num = int16_t(s);
    ss.add_header = addHeader ? 1 : 0;
    zepDemuxAddStream(demux, parser, &ss);
  }
  drain(demux, parser);
  zepdmux_seek_info_t seek;
  std::memset(&seek, 0, sizeof seek);
  seek.parser_num = parser;
  seek.seek_time = 10000000;
  if (zepDemuxSeek(demux, &seek) == 0) drain(demux, parser);
  seek.seek_time = -1;
  seek.prev_sync = 1;
  if (zepDemuxSeek(demux, &seek) == 0) zepDemuxPush(demux, parser);
  zepDemuxSleepParser(demux, parser);
  zepDemuxPush(demux, parser);
  if (zepDemuxWakeParser(demux, parser) == 0) {
    for (int i = 0; i < 8; ++i) zepDemuxPush(demux, parser);
  }
  zepDemuxFreeParser(demux, parser);

  if (count == 0) return;
  const int32_t puller = zepDemuxNewParser(demux, &ps);
  if (puller == 0) return;
  bufstream pulled = make_output(true);
  zepdmux_stream_settings ss;
  std::memset(&ss, 0, sizeof ss);
  ss.output = &pulled;
  ss.add_header = addHeader ? 1 : 0;
  if (zepDemuxAddStream(demux, puller, &ss) == 0) {
    zep_block_info_t block;
    for (int i = 0; i < 200000; ++i) {
      std::memset(&block, 0, sizeof block);
      if (pulled.auxinfo(&pulled, 0, ZEP_INFO_BLOCK, &block, sizeof block) != 0) break;
      if (block.end_of_stream) break;
      volatile uint8_t sink = 0;
      for (uint32_t b = 0; b < block.size; b += 997) sink = sink ^ block.data[b];
      (void)sink;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string path = "/tmp/fuzz_api_" + std::to_string(getpid()) + ".avi";
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);
  zepdmux_t* demux = zepDemuxNew(nullptr, nullptr, nullptr);
  if (demux == nullptr) return 0;
  if (zepDemuxOpen(demux, nullptr, path.c_str()) == 0) {
    zep_file_info_t file;
    zepDemuxGetFileInfo(demux, &file);
    const bool addHeader = size > 0 && (data[size - 1] & 1) != 0;
    for (int16_t t = 0; t < file.num_titles && t < 2; ++t) exercise_title(demux, t, addHeader);
  }
  zepDemuxFree(demux);
  return 0;
}
