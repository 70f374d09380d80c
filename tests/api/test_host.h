/* A host of the demuxer API written in C, as a real host would be: the lookup
 * with counting memory callbacks and recorded errors and warnings, and a recording
 * output stream (bufstream) for push and pull mode. */
#ifndef ZEP_TEST_HOST_H
#define ZEP_TEST_HOST_H

#include <stddef.h>
#include <stdint.h>

#include "api/zep_demux.h"

#ifdef __cplusplus
extern "C" {
#endif

typedef struct test_host {
  const char* withhold;  /* a callback name the lookup answers with null */
  const char* asked[16]; /* names asked for, in order */
  int asked_count;
  long allocations, releases, fail_allocations_larger_than; /* 0: never fail */
  char messages[64][256];                                   /* error messages, formatted */
  int message_count;
  char warnings[64][256]; /* warnings, formatted */
  int warning_count;
} test_host;

void test_host_init(test_host* host);
zepdmux_func_t test_host_get_rc(void* context, const char* name);
const char* test_host_last_message(const test_host* host); /* "" when there is none */

typedef struct test_output_block {
  size_t offset; /* into data */
  uint32_t size;
  zep_block_info_t info;
  zep_time_info_t time;
} test_output_block;

typedef struct test_output {
  bufstream base;      /* first: the library sees a bufstream */
  uint32_t chunk;      /* answer of chunksize; 0 selects pull mode */
  long refuse_after;   /* >= 0: copybytes takes at most this many bytes in total */
  int32_t info_answer; /* answer of auxinfo */
  uint8_t* data;       /* every payload byte, concatenated */
  size_t size, capacity;
  struct {
    uint32_t kind, size;
  } events[16]; /* the first calls: 0 copied bytes, else info id */
  size_t event_count;
  test_output_block* blocks;
  size_t block_count, block_capacity, pending_offset; /* where the block being copied starts */
} test_output;

void test_output_init(test_output* out, uint32_t chunk);
void test_output_free(test_output* out);
/* Pull mode: asks auxinfo for the next block and records it like a push; *end
 * is set at the end, *data gets the block's pointer. */
int32_t test_output_pull(test_output* out, int* end, const uint8_t** data);

#ifdef __cplusplus
}
#endif

#endif /* ZEP_TEST_HOST_H */
