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
#define ZEP_FILE_DENY_SHARE                                                  \
  0x40u                        /* advisory: POSIX has no share modes, so the \
                                  flag is accepted and has no effect */
#define ZEP_FILE_CONSOLE 0x80u /* standard input / standard output */

typedef struct ZepFile {
  uint32_t openFlags;
  FILE* stream;
  void* allocContext;
  zep_wchar_t* name;
  uint64_t position; /* tracked by every read, write and seek */
  uint32_t console;
} ZepFile;

/* -2 null out; -11 null name; -21 truncate + read-only; -23/-24/-25/-26/-27/-28
 * from errno (ENOENT -27, EACCES/EPERM -23, EEXIST -24, EINVAL -25,
 * EMFILE/ENFILE -26, else -28; a directory gives -23); -10 out of memory;
 * 0 with *out set. On failure *out is null. The UTF-16 name is opened as
 * UTF-8. A missing file is never created, whatever the flags. The console
 * flag ignores the name: reads take standard input, writes go to standard
 * output, and closing leaves both open. */
ZEP_STATUS zep_file_open(const zep_wchar_t* name, uint32_t flags, ZepFile** out, void* context);
/* -61 for a null object or one without a stream, or when fclose failed; else 0. */
ZEP_STATUS zep_file_close(ZepFile* file);
/* -41 for a null object; -2 for a null buffer with count > 0; otherwise 0
 * (a short read at the end is no failure). Console: -9 when standard input
 * ends early, *countRead counting the bytes that came. */
ZEP_STATUS zep_file_read(ZepFile* file, void* buffer, uint32_t count, uint32_t* countRead);
/* count 0 stores 0 and gives 0; -2 for a null object or buffer; otherwise 0,
 * a short write showing only in *countWritten. */
ZEP_STATUS zep_file_write(ZepFile* file, const void* buffer, uint32_t count,
                          uint32_t* countWritten);
/* origin 0 start, 1 current, 2 end. Origin 0 to the tracked position returns 0
 * at once without touching the stream or *newPosition. -2 null object, -8
 * console, -31 origin, -33 EINVAL, -32 other failure (the tracked position and
 * the stream are then at 0). */
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
 * backslash gets only "*.*"). -2 for a null argument or a pattern longer than
 * ZEP_MAX_PATH units (cutting it would name another directory); -10 out of
 * memory. */
ZEP_STATUS zep_dir_open(const zep_wchar_t* directory, ZepDirSearch** out, void* context);
/* 0 with the next entry ("." and ".." included, in the order the file system
 * gives); 0 with an empty name at the end; -2 on another failure (e.g. the
 * directory cannot be opened) or a null argument. The directory is the
 * pattern without its "\*.*" ("\*.*" alone: "/"); names are UTF-8 on disk
 * and come back as UTF-16. isDirectory follows links. */
ZEP_STATUS zep_dir_next(ZepDirSearch* search, ZepDirEntry* entry);
/* Closes and releases; a null search gives 0. */
ZEP_STATUS zep_dir_close(ZepDirSearch* search);

/* ---- Wide strings (UTF-16, zero-terminated) ------------------------------ */
/* A string of 512000 or more units (bytes for narrow strings) counts as
 * length 0, as does a null or empty one. */
#define ZEP_MAX_STRING_LENGTH 512000u

uint32_t zep_wcslen(const zep_wchar_t* s);
uint32_t zep_strlen(const char* s);
/* count units, zero-filled; count 0 gives null. */
zep_wchar_t* zep_wcsalloc(uint32_t count, void* context);
/* -1 for null, else 0. */
ZEP_STATUS zep_wcsfree(zep_wchar_t* s, void* context);
/* A copy of the (bounded) string; null for a null source. */
zep_wchar_t* zep_wcsdup(const zep_wchar_t* s, void* context);
/* Comparisons answer -1, 0 or 1 and take a null string as empty. */
int zep_wcscmp(const zep_wchar_t* a, const zep_wchar_t* b);
/* At most n units, stopping after a terminator, like wcsncmp. */
int zep_wcsncmp(const zep_wchar_t* a, const zep_wchar_t* b, size_t n);
/* Case-insensitive: A-Z fold to a-z (the "C" locale's folding); other units
 * compare as they are. */
int zep_wcsicmp(const zep_wchar_t* a, const zep_wchar_t* b);
/* The copy functions give -2 for a null pointer. */
/* Copies at most n units and zero-fills the rest of the n units. */
ZEP_STATUS zep_wcsncpy(zep_wchar_t* dest, const zep_wchar_t* src, size_t n);
ZEP_STATUS zep_wcscpy(zep_wchar_t* dest, const zep_wchar_t* src);
/* An empty (or null) source gives -1 and changes nothing. */
ZEP_STATUS zep_wcscat(zep_wchar_t* dest, const zep_wchar_t* src);
/* Index of the first occurrence at or after start, or -1 (also for an empty
 * pattern and for start at or beyond the length). */
int32_t zep_wcsfind(const zep_wchar_t* pattern, const zep_wchar_t* s, uint32_t start);
/* Index of the last occurrence, or -1. */
int32_t zep_wcsrfind(const zep_wchar_t* pattern, const zep_wchar_t* s);
/* Removes trailing spaces (0x20 only, not tabs) in place. */
ZEP_STATUS zep_wcsrtrim(zep_wchar_t* s);
/* Widening with sign extension: byte 0xE9 becomes 0xFFE9. */
ZEP_STATUS zep_str_to_wcs_copy(zep_wchar_t* dest, const char* src);
/* A null source gives a new empty string, an empty one null. */
zep_wchar_t* zep_str_to_wcs(const char* src, void* context);
/* Keeps the low byte of each unit; null for a null source. */
char* zep_wcs_to_str(const zep_wchar_t* src, void* context);
/* Wide printf: the format is UTF-16, %s (also %ls, %ws) takes a UTF-16 string
 * and %c a UTF-16 unit; %hs and %S take a narrow (UTF-8) string. Everything
 * else is C printf: flags, width, precision, '*', the lengths hh h l ll j z t
 * L and I64/I32/I, d i u o x X f F e E g G a A p c s %%. "%n" and unknown
 * conversions make the format invalid. The caller's args are not consumed
 * (they are copied). */
/* Units the text needs: 0 for a null format, -1 for an invalid one. */
int32_t zep_vscwprintf(const zep_wchar_t* format, va_list args);
/* Clears n units and writes at most n - 1 (always terminated). -2 for a null
 * argument or n = 0; -1 when the text did not fit (the buffer then holds its
 * beginning) or the format is invalid; else 0. */
ZEP_STATUS zep_vsnwprintf(zep_wchar_t* buffer, size_t n, const zep_wchar_t* format, va_list args);

/* ---- Unicode conversion ------------------------------------------------ */

/* Inputs are zero-terminated; nothing is read past the terminator. */
/* One sequence at bytes[index]: its length 1-4 by the lead byte, continuation
 * bytes taken as they are (their low 6 bits). Any other lead byte, or a
 * sequence cut short by the terminator, gives 0 and stores nothing. */
int32_t zep_utf8_decode(const uint8_t* bytes, uint32_t index, uint32_t* codePoint);
/* 1 to 4 bytes into out[4]; above 0x10FFFF -1. */
int32_t zep_utf8_encode(uint32_t codePoint, uint8_t* out);
/* 1 for a unit outside 0xD800-0xDFFF, 2 for a surrogate pair; -1 for a low
 * surrogate first or a high surrogate not followed by a low one. */
int32_t zep_utf16_decode(const zep_wchar_t* units, uint32_t index, uint32_t* codePoint);
/* 1 unit below 0x10000, a surrogate pair up to 0x10FFFF, above: -1. */
int32_t zep_utf16_encode(uint32_t codePoint, zep_wchar_t* out);
/* Code points of the whole string; out needs one entry per input byte (null
 * out: count only). An invalid lead byte consumes one byte and repeats the
 * previous code point (0 at the start). -1 for null bytes. */
int32_t zep_utf8_to_codepoints(const uint8_t* bytes, uint32_t* out);
/* Count of code points (out: one entry per unit; null: count only), or -1 at
 * an unpaired surrogate or for null units. */
int32_t zep_utf16_to_codepoints(const zep_wchar_t* units, uint32_t* out);
/* The caller's buffer must hold one unit per input byte plus the terminator;
 * the output never goes beyond that (a code point that would is dropped with
 * the rest), code points above 0x10FFFF add nothing. Returns the units
 * written, or -1 for a null argument or a failed allocation. */
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

/* Every list function answers 0, or -1 for a null argument or a step that
 * cannot be taken: pop/peek of an empty list (node set to null), node_at past
 * the end (null), iter_begin/iter_to_last on an empty list, iter_get_payload
 * with no current node, and iter_next from the last node (current becomes
 * null) or from none. A new iterator starts at the head. */
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
