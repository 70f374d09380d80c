#include "test_host.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define COUNT(array) (sizeof(array) / sizeof((array)[0]))

static void* host_malloc(void* context, size_t size) {
  test_host* host = (test_host*)context;
  if (host->fail_allocations_larger_than > 0 && (long)size > host->fail_allocations_larger_than)
    return NULL;
  host->allocations++;
  return malloc(size);
}

static void host_free(void* context, void* pointer) {
  if (pointer != NULL) ((test_host*)context)->releases++;
  free(pointer);
}

#if defined(__GNUC__) || defined(__clang__)
#define PRINTF_LIKE __attribute__((format(printf, 2, 3)))
#define VPRINTF_LIKE __attribute__((format(printf, 4, 0)))
#else
#define PRINTF_LIKE
#define VPRINTF_LIKE
#endif

/* Appends a formatted message to `list` while it has room. */
VPRINTF_LIKE static void record(char (*list)[256], int capacity, int* count, const char* format,
                                va_list args) {
  if (*count >= capacity) return;
  vsnprintf(list[(*count)++], sizeof list[0], format, args);
}
PRINTF_LIKE static void host_err(void* context, const char* format, ...) {
  test_host* host = (test_host*)context;
  va_list args;
  va_start(args, format);
  record(host->messages, (int)COUNT(host->messages), &host->message_count, format, args);
  va_end(args);
}

PRINTF_LIKE static void host_wrn(void* context, const char* format, ...) {
  test_host* host = (test_host*)context;
  va_list args;
  va_start(args, format);
  record(host->warnings, (int)COUNT(host->warnings), &host->warning_count, format, args);
  va_end(args);
}

/* Information and progress. */
static void host_other(void* context, const char* format, ...) { (void)context, (void)format; }

void test_host_init(test_host* host) { memset(host, 0, sizeof *host); }

zepdmux_func_t test_host_get_rc(void* context, const char* name) {
  static const struct {
    const char* name;
    zepdmux_func_t callback;
  } callbacks[] = {
      {"malloc_ex", (zepdmux_func_t)host_malloc},    {"free_ex", (zepdmux_func_t)host_free},
      {"err_printf_ex", (zepdmux_func_t)host_err},   {"wrn_printf_ex", (zepdmux_func_t)host_wrn},
      {"inf_printf_ex", (zepdmux_func_t)host_other}, {"prg_printf_ex", (zepdmux_func_t)host_other}};
  test_host* host = (test_host*)context;
  size_t i;
  if (host->asked_count < (int)COUNT(host->asked)) host->asked[host->asked_count++] = name;
  if (host->withhold != NULL && strcmp(name, host->withhold) == 0) return NULL;
  for (i = 0; i < COUNT(callbacks); ++i)
    if (strcmp(name, callbacks[i].name) == 0) return callbacks[i].callback;
  return NULL;
}

const char* test_host_last_message(const test_host* host) {
  return host->message_count > 0 ? host->messages[host->message_count - 1] : "";
}

static void* grow(void* array, size_t* capacity, size_t needed, size_t item) {
  if (needed <= *capacity) return array;
  while (*capacity < needed) *capacity = *capacity ? *capacity * 2 : 64;
  array = realloc(array, *capacity * item);
  if (array == NULL) abort();
  return array;
}

static void append_bytes(test_output* out, const uint8_t* data, uint32_t count) {
  out->data = (uint8_t*)grow(out->data, &out->capacity, out->size + count, 1);
  if (count) memcpy(out->data + out->size, data, count);
  out->size += count;
}

static void add_event(test_output* out, uint32_t kind, uint32_t size) {
  if (out->event_count < COUNT(out->events)) {
    out->events[out->event_count].kind = kind;
    out->events[out->event_count].size = size;
  }
  out->event_count++;
}

static uint32_t output_copybytes(bufstream* self, const uint8_t* data, uint32_t count) {
  test_output* out = (test_output*)self->host_context;
  long room = out->refuse_after - (long)out->size;
  uint32_t take =
      out->refuse_after >= 0 && room < (long)count ? (room > 0 ? (uint32_t)room : 0) : count;
  add_event(out, 0, take);
  append_bytes(out, data, take);
  return take;
}

static uint32_t output_chunksize(bufstream* self) {
  return ((test_output*)self->host_context)->chunk;
}

static test_output_block* add_block(test_output* out, size_t offset, uint32_t size) {
  test_output_block* block;
  out->blocks = (test_output_block*)grow(out->blocks, &out->block_capacity, out->block_count + 1,
                                         sizeof *out->blocks);
  block = &out->blocks[out->block_count++];
  memset(block, 0, sizeof *block);
  block->offset = offset;
  block->size = size;
  return block;
}

static int32_t output_auxinfo(bufstream* self, uint32_t offset, uint32_t id, void* ptr,
                              uint32_t size) {
  test_output* out = (test_output*)self->host_context;
  (void)offset;
  add_event(out, id, size);
  if (id == ZEP_INFO_BLOCK && size == sizeof(zep_block_info_t)) {
    test_output_block* block =
        add_block(out, out->pending_offset, (uint32_t)(out->size - out->pending_offset));
    memcpy(&block->info, ptr, sizeof(zep_block_info_t));
    out->pending_offset = out->size;
  } else if (id == ZEP_INFO_TIME && size == sizeof(zep_time_info_t) && out->block_count > 0) {
    memcpy(&out->blocks[out->block_count - 1].time, ptr, sizeof(zep_time_info_t));
  }
  return out->info_answer;
}

void test_output_init(test_output* out, uint32_t chunk) {
  memset(out, 0, sizeof *out);
  out->base.host_context = out;
  out->base.copybytes = output_copybytes;
  out->base.chunksize = output_chunksize;
  out->base.auxinfo = output_auxinfo;
  out->chunk = chunk;
  out->refuse_after = -1;
}

void test_output_free(test_output* out) {
  free(out->data);
  free(out->blocks);
  memset(out, 0, sizeof *out);
}

int32_t test_output_pull(test_output* out, int* end, const uint8_t** data) {
  zep_block_info_t info;
  test_output_block* block;
  int32_t answer;
  memset(&info, 0, sizeof info);
  answer = out->base.auxinfo(&out->base, 0, ZEP_INFO_BLOCK, &info, sizeof info);
  *end = answer == 0 && info.end_of_stream;
  if (answer != 0 || *end) return answer;
  if (data != NULL) *data = info.data;
  block = add_block(out, out->size, info.size);
  append_bytes(out, info.data, info.size);
  block->info = info;
  return out->base.auxinfo(&out->base, 0, ZEP_INFO_TIME, &block->time, sizeof block->time);
}
