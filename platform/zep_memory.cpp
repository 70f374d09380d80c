// Memory of the platform layer. A null allocation context selects the C heap;
// the library never passes any other context, so no other allocator exists.
#include <stddef.h>
#include <stdint.h>
#include <stdlib.h>

#include "platform/zep_platform.h"

void* zep_mem_alloc(size_t size, void* context) {
  (void)context;
  // No object can be larger than PTRDIFF_MAX; such a size is a wrapped
  // computation, refused before it reaches the heap.
  if (size == 0 || size > static_cast<size_t>(PTRDIFF_MAX)) return nullptr;
  // calloc gives the zero-filled block every caller relies on.
  return calloc(1, size);
}

ZEP_STATUS zep_mem_free(void* pointer, void* context) {
  (void)context;
  if (pointer == nullptr) return ZEP_E_NULL_ARG;
  free(pointer);
  return ZEP_OK;
}

void* zep_mem_alloc_menu_buffer(void* context) {
  return zep_mem_alloc(ZEP_MENU_BUFFER_SIZE, context);
}

ZEP_STATUS zep_mem_free_menu_buffer(void* pointer, void* context) {
  return zep_mem_free(pointer, context);
}

int64_t zep_ms_to_time(int64_t milliseconds) {
  // Saturate instead of overflowing: a duration from a damaged file must not
  // turn into undefined behaviour.
  const int64_t kUnitsPerMs = 10000;
  if (milliseconds > INT64_MAX / kUnitsPerMs) return INT64_MAX;
  if (milliseconds < INT64_MIN / kUnitsPerMs) return INT64_MIN;
  return milliseconds * kUnitsPerMs;
}
