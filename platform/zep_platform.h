/* Platform layer: memory, UTF-16 ("wide") strings, UTF-8/UTF-16 conversion,
 * files with 64-bit positions, directory search and a doubly linked list,
 * implemented over POSIX. Every function answers with a ZEP_STATUS (mostly the
 * small plain codes of zep_status.h) or with the value its comment names. */
#ifndef ZEP_PLATFORM_H
#define ZEP_PLATFORM_H

#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

#include "layer1/zep_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One UTF-16 code unit: the library's "wide" character on every platform. */
typedef char16_t zep_wchar_t;

/* ---- Memory ------------------------------------------------------------ */
/* A null allocation context selects the C heap; the system always passes null. */

/* size 0 gives null; otherwise a zero-filled block, or null. */
void* zep_mem_alloc(size_t size, void* context);
/* -2 for a null pointer, else 0. */
ZEP_STATUS zep_mem_free(void* pointer, void* context);

/* The fixed-size work buffer of the AVI menu reader. */
#define ZEP_MENU_BUFFER_SIZE 54184u
void* zep_mem_alloc_menu_buffer(void* context);
ZEP_STATUS zep_mem_free_menu_buffer(void* pointer, void* context);

/* ---- Files ------------------------------------------------------------- */

/* Open flags of zep_file_open; no flag ever creates a file. */
#define ZEP_FILE_READ 0x01u       /* with bit 1 clear: read, "rb" */
#define ZEP_FILE_WRITE 0x02u      /* alone: write, "wb"; with 0x01: "r+b" */
#define ZEP_FILE_TEXT 0x04u       /* accepted; POSIX has no text mode */
#define ZEP_FILE_SEQUENTIAL 0x08u /* access hint (posix_fadvise) */
#define ZEP_FILE_TRUNCATE 0x10u   /* truncate to 0; not with read-only access */
#define ZEP_FILE_DENY_SHARE 0x40u /* advisory only: POSIX has no share modes */
#define ZEP_FILE_CONSOLE 0x80u    /* standard input / standard output */

typedef struct ZepFile {
  uint32_t openFlags;
  FILE* stream;
  void* allocContext;
  zep_wchar_t* name;
  uint64_t position; /* tracked by every read, write and seek */
  uint32_t console;
} ZepFile;

/* -2 null out; -11 null name; -21 truncate + read-only; -23/-24/-25/-26/-27/-28
 * from errno; 0 with *out set. On failure *out is null. */
ZEP_STATUS zep_file_open(const zep_wchar_t* name, uint32_t flags, ZepFile** out, void* context);
/* -61 for a null object or one without a stream, or when fclose failed; else 0. */
ZEP_STATUS zep_file_close(ZepFile* file);
/* -41 for a null object; otherwise 0 (a short read at the end is no failure).
 * Console: -9 when standard input ends early. */
ZEP_STATUS zep_file_read(ZepFile* file, void* buffer, uint32_t count, uint32_t* countRead);
ZEP_STATUS zep_file_write(ZepFile* file, const void* buffer, uint32_t count, uint32_t* countWritten);
/* origin 0 start, 1 current, 2 end. Origin 0 to the tracked position returns 0
 * at once without touching the stream or *newPosition. -8 console, -31 origin,
 * -33 EINVAL, -32 other failure (the tracked position is then 0). */
ZEP_STATUS zep_file_seek(ZepFile* file, int64_t offset, int origin, uint64_t* newPosition);
/* -2 null argument, -8 console, else the tracked position. */
ZEP_STATUS zep_file_tell(ZepFile* file, uint64_t* position);
/* Size from the directory entry; -2 for a null name or a failed stat. */
ZEP_STATUS zep_file_size(const zep_wchar_t* name, uint64_t* size);

/* ---- Directory search -------------------------------------------------- */

#define ZEP_MAX_PATH 260

typedef struct ZepDirSearch {
  intptr_t handle; /* -1 ("none") until the first entry is asked for */
  void* allocContext;
  zep_wchar_t pattern[ZEP_MAX_PATH + 1];
} ZepDirSearch;

typedef struct ZepDirEntry {
  zep_wchar_t name[ZEP_MAX_PATH]; /* empty at the end of the search */
  uint32_t isDirectory;
} ZepDirEntry;

/* Builds the pattern "dir\*.*" (a trailing "/" is dropped first; a trailing
 * backslash gets only "*.*"). -2 for a null argument. */
ZEP_STATUS zep_dir_open(const zep_wchar_t* directory, ZepDirSearch** out, void* context);
/* 0 with the next entry ("." and ".." included); 0 with an empty name at the
 * end; -2 on another failure or a null argument. */
ZEP_STATUS zep_dir_next(ZepDirSearch* search, ZepDirEntry* entry);
/* Closes and releases; a null search gives 0. */
ZEP_STATUS zep_dir_close(ZepDirSearch* search);

/* ---- Wide strings (UTF-16, zero-terminated) ------------------------------ */
/* A string of 512000 or more units (bytes for narrow strings) counts as
 * length 0, as does a null or empty one. */
#define ZEP_MAX_STRING_LENGTH 512000u

uint32_t zep_wcslen(const zep_wchar_t* s);
uint32_t zep_strlen(const char* s);
zep_wchar_t* zep_wcsalloc(uint32_t count, void* context);
ZEP_STATUS zep_wcsfree(zep_wchar_t* s, void* context);
zep_wchar_t* zep_wcsdup(const zep_wchar_t* s, void* context);
int zep_wcscmp(const zep_wchar_t* a, const zep_wchar_t* b);            /* -1, 0, 1 */
int zep_wcsncmp(const zep_wchar_t* a, const zep_wchar_t* b, size_t n);  /* like wcsncmp */
int zep_wcsicmp(const zep_wchar_t* a, const zep_wchar_t* b);           /* ASCII case folded */
ZEP_STATUS zep_wcsncpy(zep_wchar_t* dest, const zep_wchar_t* src, size_t n);
ZEP_STATUS zep_wcscpy(zep_wchar_t* dest, const zep_wchar_t* src);
ZEP_STATUS zep_wcscat(zep_wchar_t* dest, const zep_wchar_t* src);
int32_t zep_wcsfind(const zep_wchar_t* pattern, const zep_wchar_t* s, uint32_t start);
int32_t zep_wcsrfind(const zep_wchar_t* pattern, const zep_wchar_t* s);
ZEP_STATUS zep_wcsrtrim(zep_wchar_t* s);
/* Widening with sign extension: byte 0xE9 becomes 0xFFE9. */
ZEP_STATUS zep_str_to_wcs_copy(zep_wchar_t* dest, const char* src);
zep_wchar_t* zep_str_to_wcs(const char* src, void* context);
char* zep_wcs_to_str(const zep_wchar_t* src, void* context);
/* Wide printf: the format is UTF-16, %s takes a UTF-16 string. */
int32_t zep_vscwprintf(const zep_wchar_t* format, va_list args);
ZEP_STATUS zep_vsnwprintf(zep_wchar_t* buffer, size_t n, const zep_wchar_t* format, va_list args);

/* ---- Unicode conversion ------------------------------------------------ */

int32_t zep_utf8_decode(const uint8_t* bytes, uint32_t index, uint32_t* codePoint);
int32_t zep_utf8_encode(uint32_t codePoint, uint8_t* out);
int32_t zep_utf16_decode(const zep_wchar_t* units, uint32_t index, uint32_t* codePoint);
int32_t zep_utf16_encode(uint32_t codePoint, zep_wchar_t* out);
int32_t zep_utf8_to_codepoints(const uint8_t* bytes, uint32_t* out);
int32_t zep_utf16_to_codepoints(const zep_wchar_t* units, uint32_t* out);
/* The caller's buffer must hold one unit per input byte plus the terminator. */
int32_t zep_utf8_to_utf16(const uint8_t* bytes, zep_wchar_t* out);

/* ---- Doubly linked list (never owns payloads) --------------------------- */

typedef struct ZepListNode {
  void* payload;
  struct ZepListNode* prev;
  struct ZepListNode* next;
} ZepListNode;

typedef struct ZepList {
  ZepListNode* head;
  ZepListNode* tail;
  void* allocContext;
} ZepList;

typedef struct ZepListIter {
  ZepListNode* current;
  ZepList* list;
} ZepListIter;

ZEP_STATUS zep_list_create(ZepList** out, void* context);
ZEP_STATUS zep_list_destroy(ZepList* list);
ZEP_STATUS zep_list_count(const ZepList* list, uint32_t* count);
ZEP_STATUS zep_list_push_front(ZepList* list, ZepListNode* node);
ZEP_STATUS zep_list_push_back(ZepList* list, ZepListNode* node);
ZEP_STATUS zep_list_pop_front(ZepList* list, ZepListNode** node);
ZEP_STATUS zep_list_peek_front(const ZepList* list, ZepListNode** node);
ZEP_STATUS zep_list_node_at(const ZepList* list, uint32_t index, ZepListNode** node);
ZEP_STATUS zep_list_is_empty(const ZepList* list, uint32_t* empty);
ZEP_STATUS zep_list_node_create(ZepListNode** out, void* context);
ZEP_STATUS zep_list_node_destroy(ZepListNode* node, void* context);
ZEP_STATUS zep_list_node_set_payload(ZepListNode* node, void* payload);
ZEP_STATUS zep_list_node_get_payload(const ZepListNode* node, void** payload);
ZEP_STATUS zep_list_iter_create(ZepList* list, ZepListIter** out, void* context);
ZEP_STATUS zep_list_iter_destroy(ZepListIter* iter, void* context);
ZEP_STATUS zep_list_iter_begin(ZepListIter* iter);
ZEP_STATUS zep_list_iter_to_last(ZepListIter* iter);
ZEP_STATUS zep_list_iter_get_payload(const ZepListIter* iter, void** payload);
ZEP_STATUS zep_list_iter_next(ZepListIter* iter);

/* ---- Time -------------------------------------------------------------- */
/* Milliseconds to the library's 100-nanosecond unit. */
int64_t zep_ms_to_time(int64_t milliseconds);

#ifdef __cplusplus
}

#include <string>
#include <string_view>

/* C++ conveniences for file names and messages. Invalid sequences become
 * U+FFFD; unpaired surrogates likewise. */
namespace zep {
std::u16string utf8_to_u16(std::string_view utf8);
std::string u16_to_utf8(const zep_wchar_t* utf16);
std::string u16_to_utf8(std::u16string_view utf16);
}  // namespace zep
#endif

#endif /* ZEP_PLATFORM_H */
