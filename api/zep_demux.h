/** @file
 * zepdemux: the demultiplexer's public C interface.
 *
 * A host creates an instance with zepDemuxNew (handing over a lookup function
 * for its memory and message callbacks), opens a file, reads the file, title
 * and stream records, creates up to eight parsers, adds streams with an output
 * object (bufstream) each and then pushes blocks (zepDemuxPush) or lets the
 * consumer behind an output pull them (pull mode, see bufstream below).
 *
 * Conventions of every export: 0 means success and 1 failure unless the
 * comment says otherwise; failures are described in English through the
 * host's "err_printf_ex" callback. Times in the records are in 100-nanosecond
 * units, except the block information and time records handed to outputs,
 * which count 27 MHz ticks. The library is single-threaded: one instance is
 * used from one thread at a time.
 *
 * Plain C: compiles as C99 and as C++. Every record is packed (byte-aligned);
 * the sizes are checked below. */
#ifndef ZEP_DEMUX_H
#define ZEP_DEMUX_H

#include <stddef.h> /* size_t, wchar_t, offsetof */
#include <stdint.h>

#if defined(_WIN32)
#define ZEPDEMUX_API __declspec(dllexport)
#elif defined(__GNUC__) || defined(__clang__)
#define ZEPDEMUX_API __attribute__((visibility("default")))
#else
#define ZEPDEMUX_API
#endif

/* Compile-time checks that work in C99, C11 and C++. */
#if defined(__cplusplus) && __cplusplus >= 201103L
#define ZEPDEMUX_STATIC_ASSERT(cond, name) static_assert(cond, #name)
#elif defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#define ZEPDEMUX_STATIC_ASSERT(cond, name) _Static_assert(cond, #name)
#else
#define ZEPDEMUX_STATIC_ASSERT(cond, name) typedef char zepdemux_assert_##name[(cond) ? 1 : -1]
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Constants ------------------------------------------------------------ */

/* zep_stream_info_t.media_type */
#define ZEP_MEDIA_AUDIO 1u
#define ZEP_MEDIA_VIDEO 2u
#define ZEP_MEDIA_SUBTITLE 3u

/* zep_file_info_t.container_type */
#define ZEP_CONTAINER_AVI 1u      /* AVI 1.0 */
#define ZEP_CONTAINER_AVI_ODML 2u /* AVI 2.0 (OpenDML index in use) */
#define ZEP_CONTAINER_MKV 3u      /* Matroska */

/* zep_stream_info_t.codec_id (0: unknown or unusable) */
#define ZEP_CODEC_UNKNOWN 0u
#define ZEP_CODEC_VIDEO_OTHER 1u
#define ZEP_CODEC_MPEG2_VIDEO 3u
#define ZEP_CODEC_MPEG4_VISUAL 4u
#define ZEP_CODEC_H264 10u
#define ZEP_CODEC_HEVC 13u
#define ZEP_CODEC_MJPEG 26u
#define ZEP_CODEC_MSMPEG4V3 35u /* "NOR3", "MP42" */
#define ZEP_CODEC_MPEG4_NOR4 36u
#define ZEP_CODEC_AUDIO_OTHER 130u
#define ZEP_CODEC_MPEG_AUDIO 131u
#define ZEP_CODEC_AAC 143u
#define ZEP_CODEC_AC3 150u
#define ZEP_CODEC_AC3_TAG39 151u
#define ZEP_CODEC_DTS 172u
#define ZEP_CODEC_PCM 201u
#define ZEP_CODEC_AUDIO_TAG17 232u
#define ZEP_CODEC_AUDIO_TAG2 233u
#define ZEP_CODEC_AUDIO_TAG6 241u
#define ZEP_CODEC_AUDIO_TAG7 242u
#define ZEP_CODEC_SUB_NRSB 281u
#define ZEP_CODEC_SUB_UTF8 282u
#define ZEP_CODEC_SUB_SSA 283u
#define ZEP_CODEC_SUB_ASS 284u
#define ZEP_CODEC_SUB_USF 285u
#define ZEP_CODEC_SUB_BMP 286u
#define ZEP_CODEC_SUB_VSUB 287u
#define ZEP_CODEC_SUB_NRSA 291u

/* zep_audio_details_t.flags */
#define ZEP_AUDIO_FLAG_FLOAT 0x1u
#define ZEP_AUDIO_FLAG_WIDE_SAMPLES 0x4u /* more than 8 bits per sample */

/* Information ids of bufstream.auxinfo */
#define ZEP_INFO_BLOCK 0xD1000u  /* zep_block_info_t, 82 bytes */
#define ZEP_INFO_TIME 0xF001000u /* zep_time_info_t, 72 bytes */

/* zep_block_info_t.flags */
#define ZEP_BLOCK_INFO_FLAGS_KEY 13u /* 0x0D: decoding can start here */
#define ZEP_BLOCK_INFO_FLAGS_OTHER 5u

/* Queries of the version function returned by zepDemuxGetAPIExt(ZEP_API_EXT_VERSION). */
#define ZEP_API_EXT_VERSION 1u
#define ZEP_VERSION_QUERY_API 3u      /* stores the 32-bit value 1 */
#define ZEP_VERSION_QUERY_VERSION 4u  /* copies 12 characters "10.3.16.2760", no terminator */
#define ZEP_VERSION_QUERY_PLATFORM 5u /* copies 14 characters "RSPLATFORM_X64", no terminator */

#define ZEP_MAX_PARSERS 8
#define ZEP_MAX_FILENAME_CHARS 32767

/* ---- Host callbacks ------------------------------------------------------- */

/** The generic function pointer handed around by lookups; cast it to the
 * type that belongs to the name that was asked for. */
typedef void (*zepdmux_func_t)(void);

/** "malloc_ex": returns size bytes or null. */
typedef void* (*zepdmux_malloc_ex_t)(void* context, size_t size);
/** "free_ex": releases memory returned by malloc_ex. */
typedef void (*zepdmux_free_ex_t)(void* context, void* pointer);
/** "err_printf_ex", "wrn_printf_ex", "inf_printf_ex", "prg_printf_ex":
 * printf-style messages (8-bit format strings). */
typedef void (*zepdmux_printf_ex_t)(void* context, const char* format, ...);

/** The host's lookup function: returns the callback for a name or null. The
 * library asks for "malloc_ex", "free_ex", "err_printf_ex", "wrn_printf_ex",
 * "inf_printf_ex" and "prg_printf_ex". Without malloc_ex or free_ex (either
 * missing, or no lookup function) both fall back to the C heap; a missing
 * message callback is replaced by one that does nothing. */
typedef zepdmux_func_t (*zepdmux_get_rc_t)(void* context, const char* name);

/* ---- Output stream object ------------------------------------------------- */

typedef struct bufstream bufstream;

/** Hands over count bytes of payload; returns the number of bytes taken.
 * Anything other than count is a failure. */
typedef uint32_t (*bufstream_copybytes_t)(bufstream* self, const uint8_t* data, uint32_t count);
/** The largest number of bytes to hand over in one copy; 0 selects pull mode. */
typedef uint32_t (*bufstream_chunksize_t)(bufstream* self);
/** Auxiliary information: offset is 0, info_id ZEP_INFO_BLOCK or ZEP_INFO_TIME
 * with the record and its size. Returns 0 on success. */
typedef int32_t (*bufstream_auxinfo_t)(bufstream* self, uint32_t offset, uint32_t info_id,
                                       void* info_ptr, uint32_t info_size);

/* The host's output stream. The host owns it and everything in it; the
 * library calls only copybytes, chunksize and auxinfo, and in pull mode
 * (chunksize answers 0) it stores its parser in zep_parser and replaces
 * auxinfo with its own function. The consumer then calls
 *   self->auxinfo(self, 0, ZEP_INFO_BLOCK, &block_info, sizeof block_info)
 * to read the next block of the parser: on return block_info.data and
 * block_info.size describe the block, which lives in the parser's own buffer
 * (no copy) and stays valid until the parser reads its next block; at the end
 * block_info.end_of_stream is 1. ZEP_INFO_TIME then gives its time record.
 * A pull consumer receives only its own stream's blocks: blocks of the same
 * parser's push-mode streams are delivered to their outputs on the way, blocks
 * of its other pull-mode streams are passed over (use one parser per pulled
 * stream). After zepDemuxFreeParser or zepDemuxClose the installed auxinfo
 * must not be called again.
 * The member offsets below hold on 64-bit builds. */
struct bufstream {
  void* host_context;              /**< 0: the host's own */
  void* host_reserved[2];          /**< 8, 16: the host's own */
  bufstream_copybytes_t copybytes; /**< 24 */
  bufstream_chunksize_t chunksize; /**< 32 */
  bufstream_auxinfo_t auxinfo;     /**< 40 */
  void* host_functions[3];         /**< 48, 56, 64: the host's own */
  void* zep_parser;                /**< 72: written by the library in pull mode */
  void* host_data[4];              /**< 80..111: the host's own */
};

#pragma pack(push, 1)

/* ---- Records -------------------------------------------------------------- */

/** The host's optional 64-byte settings block of zepDemuxNew; copied, not read. */
typedef struct zepdmux_settings {
  uint8_t reserved[64];
} zepdmux_settings_t;

/** zepDemuxGetFileInfo */
typedef struct zep_file_info {
  int16_t num_titles;
  int64_t file_size;      /**< bytes, from the file's directory entry */
  uint8_t container_type; /**< ZEP_CONTAINER_* */
  uint8_t reserved[64];
} zep_file_info_t;

/** zepDemuxGetTitleInfo */
typedef struct zep_title_info {
  int16_t num_audio_streams;
  int16_t num_video_streams;
  int16_t num_subtitle_streams;
  uint8_t reserved[64];
} zep_title_info_t;

/** Type-specific details of a stream (zep_stream_info_t.details). Text fields
 * are 4 UTF-16 units, not necessarily terminated. */
typedef struct zep_video_details {
  uint64_t reserved0;
  int64_t frame_duration; /**< 100 ns: 10000000 * scale / rate, truncated */
  uint32_t width;
  uint32_t height;
  uint32_t display_width;
  uint32_t display_height;
} zep_video_details_t;

typedef struct zep_audio_details {
  uint16_t mpeg_layer; /**< 2 for format tag 80, 3 for tag 85, else 0 */
  uint16_t channels;
  uint32_t sample_rate;
  uint32_t avg_bytes_per_sec;
  uint32_t bits_per_sample;
  uint32_t reserved0;
  uint16_t language[4]; /**< offset 20 */
  uint32_t flags;       /**< offset 28, ZEP_AUDIO_FLAG_* */
  uint16_t block_align; /**< offset 32 */
  uint16_t text2[4];    /**< offset 34 */
  uint16_t text3[4];    /**< offset 42 */
} zep_audio_details_t;

typedef struct zep_subtitle_details {
  uint8_t reserved0[24];
  uint16_t language[4]; /**< offset 24 */
  uint8_t reserved1[8];
  uint16_t text2[4]; /**< offset 40 */
  uint8_t reserved2[16];
  uint16_t text3[4]; /**< offset 64 */
} zep_subtitle_details_t;

/** zepDemuxGetStreamInfo. The pointers address memory of the instance and stay
 * valid until zepDemuxClose; the host must not free or change it. */
typedef struct zep_stream_info {
  uint32_t media_type; /**< ZEP_MEDIA_* */
  uint16_t title_num;
  uint16_t stream_index; /**< position in the title: video, then audio, then subtitles */
  uint32_t format_a;     /**< video: compression word; subtitle: the word at the same place */
  uint32_t format_b;     /**< video, subtitle: the FourCC, bytes in file order */
  uint32_t format_tag;   /**< audio format tag (extensible resolved); else 0 */
  int64_t duration;      /**< the title's duration, 100 ns */
  uint32_t reserved0;
  uint32_t codec_id; /**< ZEP_CODEC_* */
  void* details;     /**< zep_video_details_t, zep_audio_details_t or zep_subtitle_details_t */
  uint16_t codec_header_size;
  uint8_t* codec_header; /**< e.g. H.264 parameter sets with start codes, or an ADTS header */
  uint32_t private_data_size;
  uint8_t* private_data; /**< the library's copy of the codec private data */
  uint8_t reserved1[94];
} zep_stream_info_t;

/** zepDemuxNewParser; the parser keeps a copy. */
typedef struct zepdmux_parser_settings {
  uint32_t block_buffer_size; /**< bytes; 0 selects 100000 */
  int16_t title_num;
  uint8_t reserved[64];
} zepdmux_parser_settings_t;

/** zepDemuxAddStream */
typedef struct zepdmux_stream_settings {
  bufstream* output;        /**< the host's; must stay valid while the parser lives */
  int16_t stream_num;       /**< as in zepDemuxGetStreamInfo */
  uint8_t add_header;       /**< deliver a self-contained elementary stream (ADTS, start codes) */
  uint8_t sample_transform; /**< PCM sample transform request; has no effect */
  uint8_t reserved[52];
} zepdmux_stream_settings;

/** zepDemuxSeek */
typedef struct zepdmux_seek_info {
  int32_t parser_num; /**< 1 to 8 */
  uint8_t reserved[4];
  int64_t seek_time;     /**< 100 ns; negative: go to a sync point (flags below) */
  uint8_t next_sync;     /**< with a negative seek_time: the next sync point */
  uint8_t prev_sync;     /**< with a negative seek_time: the previous sync point */
  int64_t resolved_time; /**< out: the time the container reached, 100 ns */
} zepdmux_seek_info_t;

/** Block information record (ZEP_INFO_BLOCK), zero-filled before each block. */
typedef struct zep_block_info {
  const uint8_t* data; /**< pull mode: the block's bytes */
  uint32_t size;       /**< push: bytes copied for this block; pull: bytes of the block */
  uint32_t flags;      /**< ZEP_BLOCK_INFO_FLAGS_KEY or ZEP_BLOCK_INFO_FLAGS_OTHER */
  uint8_t reserved0[16];
  int64_t start_time; /**< 27 MHz */
  uint8_t reserved1[33];
  uint8_t end_of_stream; /**< pull mode: 1 in the record returned after the last block */
  uint8_t reserved2[6];
  uint16_t tail;
} zep_block_info_t;

/** Time record (ZEP_INFO_TIME). */
typedef struct zep_time_info {
  int64_t start_time;       /**< 27 MHz */
  int64_t end_time;         /**< start + duration * 2.7, truncated */
  uint32_t size;            /**< bytes of the delivered block */
  uint8_t valid;            /**< 1 */
  uint8_t start_time_valid; /**< 1 when start_time >= 0 */
  uint8_t reserved[50];
} zep_time_info_t;

#pragma pack(pop)

ZEPDEMUX_STATIC_ASSERT(sizeof(zepdmux_settings_t) == 64, settings_size);
ZEPDEMUX_STATIC_ASSERT(sizeof(zep_file_info_t) == 75, file_info_size);
ZEPDEMUX_STATIC_ASSERT(sizeof(zep_title_info_t) == 70, title_info_size);
ZEPDEMUX_STATIC_ASSERT(sizeof(zep_video_details_t) == 32, video_details_size);
ZEPDEMUX_STATIC_ASSERT(sizeof(zep_audio_details_t) == 50, audio_details_size);
ZEPDEMUX_STATIC_ASSERT(sizeof(zep_subtitle_details_t) == 72, subtitle_details_size);
ZEPDEMUX_STATIC_ASSERT(sizeof(zepdmux_parser_settings_t) == 70, parser_settings_size);
ZEPDEMUX_STATIC_ASSERT(sizeof(zepdmux_seek_info_t) == 26, seek_info_size);
ZEPDEMUX_STATIC_ASSERT(sizeof(zep_time_info_t) == 72, time_info_size);
ZEPDEMUX_STATIC_ASSERT(offsetof(zep_time_info_t, valid) == 20, time_info_valid);
#if UINTPTR_MAX == 0xFFFFFFFFFFFFFFFFu
ZEPDEMUX_STATIC_ASSERT(sizeof(zep_stream_info_t) == 160, stream_info_size);
ZEPDEMUX_STATIC_ASSERT(offsetof(zep_stream_info_t, codec_id) == 32, stream_info_codec_id);
ZEPDEMUX_STATIC_ASSERT(offsetof(zep_stream_info_t, private_data) == 58, stream_info_private);
ZEPDEMUX_STATIC_ASSERT(sizeof(zepdmux_stream_settings) == 64, stream_settings_size);
ZEPDEMUX_STATIC_ASSERT(sizeof(zep_block_info_t) == 82, block_info_size);
ZEPDEMUX_STATIC_ASSERT(offsetof(zep_block_info_t, start_time) == 32, block_info_start);
ZEPDEMUX_STATIC_ASSERT(offsetof(zep_block_info_t, end_of_stream) == 73, block_info_eos);
ZEPDEMUX_STATIC_ASSERT(offsetof(zep_block_info_t, tail) == 80, block_info_tail);
ZEPDEMUX_STATIC_ASSERT(offsetof(bufstream, copybytes) == 24, bufstream_copybytes);
ZEPDEMUX_STATIC_ASSERT(offsetof(bufstream, chunksize) == 32, bufstream_chunksize);
ZEPDEMUX_STATIC_ASSERT(offsetof(bufstream, auxinfo) == 40, bufstream_auxinfo);
ZEPDEMUX_STATIC_ASSERT(offsetof(bufstream, zep_parser) == 72, bufstream_parser);
#endif

/* ---- Exported functions --------------------------------------------------- */

/** The instance; opaque to the host. */
typedef struct zepdmux zepdmux_t;

/**
 * @brief Creates an instance.
 * @param get_rc   The host's lookup of memory and message callbacks; null
 *                 uses the C heap and prints no messages.
 * @param context  Handed back to every callback.
 * @param settings The host's 64-byte settings block, copied; may be null.
 * @return The instance, owned by the caller until zepDemuxFree, or null on
 *         failure.
 */
ZEPDEMUX_API zepdmux_t* zepDemuxNew(zepdmux_get_rc_t get_rc, void* context,
                                    const zepdmux_settings_t* settings);

/**
 * @brief Closes the instance (as zepDemuxClose) and releases it.
 * @param demux The instance; null does nothing.
 */
ZEPDEMUX_API void zepDemuxFree(zepdmux_t* demux);

/**
 * @brief Opens a file named in UTF-8 and reads its titles and streams.
 * @param demux    The instance.
 * @param reserved Not used.
 * @param filename The file's name; copied, the caller keeps its string.
 * @return 0, or 1 on failure (described through err_printf_ex).
 */
ZEPDEMUX_API int32_t zepDemuxOpen(zepdmux_t* demux, void* reserved, const char* filename);

/**
 * @brief Opens a file named in the platform's wchar_t (converted to UTF-16).
 * @param demux    The instance.
 * @param reserved Not used.
 * @param filename The file's name; copied.
 * @return 0, or 1 on failure (described through err_printf_ex).
 */
ZEPDEMUX_API int32_t zepDemuxOpenW(zepdmux_t* demux, void* reserved, const wchar_t* filename);

/**
 * @brief Frees every parser and every title and stream record.
 *
 * The pointers of earlier stream records become invalid; the instance can
 * open a file again.
 * @param demux The instance; null does nothing.
 */
ZEPDEMUX_API void zepDemuxClose(zepdmux_t* demux);

/**
 * @brief Copies the file record.
 * @param demux The instance, with a file open.
 * @param info  The caller's record, filled in.
 * @return 0, or 1 on failure.
 */
ZEPDEMUX_API int32_t zepDemuxGetFileInfo(zepdmux_t* demux, zep_file_info_t* info);

/**
 * @brief Copies the record of one title.
 * @param demux     The instance, with a file open.
 * @param title_num 0 .. num_titles - 1.
 * @param info      The caller's record, filled in.
 * @return 0, or 1 on failure.
 */
ZEPDEMUX_API int32_t zepDemuxGetTitleInfo(zepdmux_t* demux, int16_t title_num,
                                          zep_title_info_t* info);

/**
 * @brief Copies the record of one stream of a title.
 * @param demux      The instance, with a file open.
 * @param title_num  0 .. num_titles - 1.
 * @param stream_num Video streams first, then audio, then subtitles.
 * @param info       The caller's record, filled in; its pointers stay owned
 *                   by the instance until zepDemuxClose.
 * @return 0, or 1 on failure.
 */
ZEPDEMUX_API int32_t zepDemuxGetStreamInfo(zepdmux_t* demux, int16_t title_num, int16_t stream_num,
                                           zep_stream_info_t* info);

/** Version function: for a null out 1; query 3 stores the 32-bit value 1,
 * query 4 copies "10.3.16.2760" (12 characters), query 5 "RSPLATFORM_X64"
 * (14 characters), without terminator, and return 0; any other query 1. */
typedef int32_t (*zepdmux_version_fn_t)(uint32_t query, void* out);

/**
 * @brief Hands out the library's extension functions.
 * @param which ZEP_API_EXT_VERSION (1) for the version function.
 * @return The version function (cast it to zepdmux_version_fn_t) for 1,
 *         null for any other value.
 */
ZEPDEMUX_API zepdmux_func_t zepDemuxGetAPIExt(uint32_t which);

/**
 * @brief Creates a parser for one title, with its own open of the file and
 *        its own block buffer.
 * @param demux    The instance, with a file open.
 * @param settings The parser's settings; copied.
 * @return The parser number 1 to 8, or 0 on failure.
 */
ZEPDEMUX_API int32_t zepDemuxNewParser(zepdmux_t* demux, const zepdmux_parser_settings_t* settings);

/**
 * @brief Releases a parser: its file, buffers and stream entries.
 * @param demux      The instance.
 * @param parser_num The parser; an invalid number does nothing. The
 *                   outputs stay the host's.
 */
ZEPDEMUX_API void zepDemuxFreeParser(zepdmux_t* demux, int32_t parser_num);

/**
 * @brief Adds a stream of the parser's title with its output.
 *
 * Asks the output's chunk size; 0 selects pull mode (see bufstream).
 * @param demux      The instance.
 * @param parser_num The parser.
 * @param settings   The stream and its output, which must stay valid while
 *                   the parser lives.
 * @return 0, or 1 on failure.
 */
ZEPDEMUX_API int32_t zepDemuxAddStream(zepdmux_t* demux, int32_t parser_num,
                                       const zepdmux_stream_settings* settings);

/**
 * @brief Reads one block and delivers it to its stream's output.
 * @param demux      The instance.
 * @param parser_num The parser.
 * @return The number of block bytes read in this call (more than 0), 0 at
 *         the end of the data (again until a seek), or -1 on failure (again
 *         until a seek).
 */
ZEPDEMUX_API int64_t zepDemuxPush(zepdmux_t* demux, int32_t parser_num);

/**
 * @brief Moves a parser to a time or to the next or previous sync point.
 *
 * With a seek_time below the title's duration the parser moves there; with
 * a negative time to the next (next_sync) or previous (prev_sync) sync point
 * after or before the block the parser delivered last. The first H.264/HEVC
 * block after a seek is preceded by the codec header when add_header is set.
 * @param demux The instance.
 * @param info  parser_num and the target in; resolved_time, the time
 *              reached, out.
 * @return 0, or 1 on failure.
 */
ZEPDEMUX_API int32_t zepDemuxSeek(zepdmux_t* demux, zepdmux_seek_info_t* info);

/**
 * @brief Closes the parser's file and releases its buffers; its streams stay.
 *
 * Push and seek refuse a sleeping parser.
 * @param demux      The instance.
 * @param parser_num The parser.
 * @return 0, or 1 on failure.
 */
ZEPDEMUX_API int32_t zepDemuxSleepParser(zepdmux_t* demux, int32_t parser_num);

/**
 * @brief Opens the parser's file again; the parser restarts at the beginning
 *        of its title with the same streams.
 * @param demux      The instance.
 * @param parser_num The parser.
 * @return 0, or 1 on failure.
 */
ZEPDEMUX_API int32_t zepDemuxWakeParser(zepdmux_t* demux, int32_t parser_num);

#ifdef __cplusplus
}
#endif

#endif /* ZEP_DEMUX_H */
