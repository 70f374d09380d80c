/* A minimal host of libzepdemux: lists the streams of a file and, when asked,
 * writes one stream's payloads to a file in push mode.
 *   zep_list_and_extract FILE [STREAM OUTPUT] */
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "zep_demux.h"

#if defined(__GNUC__)
__attribute__((format(printf, 2, 3)))
#endif
static void
print_error(void* context, const char* format, ...) {
  va_list args;
  (void)context;
  va_start(args, format);
  vfprintf(stderr, format, args);
  va_end(args);
  fputc('\n', stderr);
}

static zepdmux_func_t get_rc(void* context, const char* name) {
  (void)context;
  return strcmp(name, "err_printf_ex") == 0 ? (zepdmux_func_t)print_error : NULL;
}

/* The output: copies go to a FILE*, kept in the object's host context. */
static uint32_t write_bytes(bufstream* self, const uint8_t* data, uint32_t count) {
  return (uint32_t)fwrite(data, 1, count, (FILE*)self->host_context);
}
static uint32_t chunk_size(bufstream* self) {
  (void)self;
  return 65536;
}
static int32_t block_info(bufstream* self, uint32_t offset, uint32_t id, void* info,
                          uint32_t size) {
  (void)self;
  (void)offset;
  (void)id;
  (void)info;
  (void)size;
  return 0;
}

int main(int argc, char** argv) {
  zep_file_info_t file;
  zep_title_info_t title;
  zep_stream_info_t stream;
  int16_t i, count;
  zepdmux_t* demux;
  if (argc != 2 && argc != 4) {
    fprintf(stderr, "usage: %s FILE [STREAM OUTPUT]\n", argv[0]);
    return 2;
  }
  demux = zepDemuxNew(get_rc, NULL, NULL);
  if (demux == NULL || zepDemuxOpen(demux, NULL, argv[1]) != 0) return 1;
  zepDemuxGetFileInfo(demux, &file);
  printf("titles %d, %lld bytes, container type %d\n", file.num_titles, (long long)file.file_size,
         file.container_type);
  if (file.num_titles > 0 && zepDemuxGetTitleInfo(demux, 0, &title) == 0) {
    count =
        (int16_t)(title.num_video_streams + title.num_audio_streams + title.num_subtitle_streams);
    for (i = 0; i < count; ++i) {
      if (zepDemuxGetStreamInfo(demux, 0, i, &stream) != 0) continue;
      printf("stream %d: type %u codec %u header %u bytes\n", i, stream.media_type, stream.codec_id,
             stream.codec_header_size);
    }
  }
  if (argc == 4) {
    zepdmux_parser_settings_t ps;
    zepdmux_stream_settings ss;
    bufstream out;
    int64_t got;
    int32_t parser;
    FILE* f = fopen(argv[3], "wb");
    if (f == NULL) return 1;
    memset(&ps, 0, sizeof ps);
    memset(&ss, 0, sizeof ss);
    memset(&out, 0, sizeof out);
    out.host_context = f;
    out.copybytes = write_bytes;
    out.chunksize = chunk_size;
    out.auxinfo = block_info;
    ss.output = &out;
    ss.stream_num = (int16_t)atoi(argv[2]);
    parser = zepDemuxNewParser(demux, &ps);
    if (parser == 0 || zepDemuxAddStream(demux, parser, &ss) != 0) return 1;
    while ((got = zepDemuxPush(demux, parser)) > 0) {
    }
    fclose(f);
    if (got < 0) return 1;
  }
  zepDemuxFree(demux);
  return 0;
}
