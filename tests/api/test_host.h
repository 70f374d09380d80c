/* A host of the demuxer API written in C, as a real host would be: the
 * lookup function with counting memory callbacks and recorded messages, and a
 * recording output stream (bufstream) for push and pull mode. */
#ifndef ZEP_TEST_HOST_H
#define ZEP_TEST_HOST_H

#include <stddef.h>
#include <stdint.h>

#include "api/zep_demux.h"

#ifdef __cplusplus
extern "C" {
#endif

#define TEST_HOST_MAX_MESSAGES 64
#define TEST_HOST_MAX_NAMES 16

typedef struct test_host {
  /* Which callbacks the lookup hands out (all 1 by default). */
  int offer_malloc, offer_free, offer_err, offer_wrn, offer_inf, offer_prg;
  /* Names asked for, in order. */
  const char* asked[TEST_HOST_MAX_NAMES];
  int asked_count;
  /* Memory through malloc_ex/free_ex. */
  long allocations, releases;
  long fail_allocations_larger_than; /* 0: never fail */
  /* Error messages, formatted. */
  char messages[TEST_HOST_MAX_MESSAGES][256];
  int message_count;
  int other_messages; /* warnings, information, progress */
} test_host;

void test_host_init(test_host* host);
zepdmux_func_t test_host_get_rc(void* context, const char* name);
/* The last error message, or "" when there is none. */
const char* test_host_last_message(const test_host* host);
void test_host_clear_messages(test_host* host);

/* One call the library made on an output. */
typedef struct test_output_event {
  uint32_t kind; /* 0 copy, else the information id */
  uint32_t size; /* bytes copied, or the record size */
} test_output_event;

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
  test_output_event* events;
  size_t event_count, event_capacity;
  test_output_block* blocks;
  size_t block_count, block_capacity;
  size_t pending_offset; /* where the block being copied starts */
} test_output;

void test_output_init(test_output* out, uint32_t chunk);
void test_output_free(test_output* out);

/* Pull mode: asks the library (through the auxinfo it installed) for the next
 * block of this output and records it like a push. Returns the auxinfo
 * answer; *end is set at the end of the stream; *data receives the block's
 * pointer when given. */
int32_t test_output_pull(test_output* out, int* end, const uint8_t** data);

#ifdef __cplusplus
}
#endif

#endif /* ZEP_TEST_HOST_H */
