/* Status codes of the container framework, the platform layer and every read
 * module. 0 is success, a negative value a failure, a positive value a warning:
 * callers test `status < 0`. Plain C so the public header and C hosts can use it. */
#ifndef ZEP_STATUS_H
#define ZEP_STATUS_H

#include <stdint.h>
#ifndef __cplusplus
#include <uchar.h>
#endif

#ifdef __cplusplus
extern "C" {
#endif

typedef int32_t ZEP_STATUS;

#define ZEP_OK ((ZEP_STATUS)0)

/* Named statuses. Two names carry ERR although their values are warnings. */
#define ZEP_ERR_NO_INDEX_FOUND ((ZEP_STATUS)0x40000002)
#define ZEP_ERR_INVALID_MENU_VERSION ((ZEP_STATUS)0x40000003)
#define ZEP_WARN_NONFATAL ((ZEP_STATUS)0x40000004)
#define ZEP_ERR_UNEXPECTED_ERROR ((ZEP_STATUS)0xC0000005)
#define ZEP_ERR_INVALID_HANDLER ((ZEP_STATUS)0xC0000006)
#define ZEP_ERR_INVALID_STREAM_HANDLE ((ZEP_STATUS)0xC0000007)
#define ZEP_ERR_INVALID_STREAM ((ZEP_STATUS)0xC0000008)
#define ZEP_ERR_BLOCK_READ_FAILURE ((ZEP_STATUS)0xC0000009)
#define ZEP_ERR_BLOCK_BUFFER_TOO_SMALL ((ZEP_STATUS)0xC000000A)
#define ZEP_ERR_SEEK_FAILURE ((ZEP_STATUS)0xC000000B)
#define ZEP_ERR_CREATE_INSTANCE ((ZEP_STATUS)0xC000000C)
#define ZEP_ERR_CREATE_READ_BUFFER ((ZEP_STATUS)0xC000000D)
#define ZEP_ERR_INVALID_FILE ((ZEP_STATUS)0xC000000E)
#define ZEP_ERR_HDRL_NOT_FOUND ((ZEP_STATUS)0xC000000F)
#define ZEP_ERR_DUPLICATE_STRH_FOUND ((ZEP_STATUS)0xC0000010)
#define ZEP_ERR_TOO_MANY_VID_STREAMS ((ZEP_STATUS)0xC0000011)
#define ZEP_ERR_TOO_MANY_AUD_STREAMS ((ZEP_STATUS)0xC0000012)
#define ZEP_ERR_TOO_MANY_SUB_STREAMS ((ZEP_STATUS)0xC0000013)
#define ZEP_ERR_BAD_STRUCTURE ((ZEP_STATUS)0xC0000014)
#define ZEP_ERR_INDEX_OUT_OF_RANGE ((ZEP_STATUS)0xC0000015)
#define ZEP_ERR_GET_BLOCK_FAILED ((ZEP_STATUS)0xC0000016)
#define ZEP_ERR_SET_BLOCK_FAILED ((ZEP_STATUS)0xC0000017)
#define ZEP_ERR_SET_BY_TIME_FAILED ((ZEP_STATUS)0xC0000018)
#define ZEP_ERR_SET_BY_BLOCK_FAILED ((ZEP_STATUS)0xC0000019)
#define ZEP_ERR_END_OF_STREAM ((ZEP_STATUS)0xC000001A)
#define ZEP_ERR_SET_TITLE_FAILED ((ZEP_STATUS)0xC000001B)
#define ZEP_ERR_PROCESS_INDEX_FAILED ((ZEP_STATUS)0xC000001C)
#define ZEP_ERR_INVALID_BLOCK_AND_TIME ((ZEP_STATUS)0xC000001D)
#define ZEP_ERR_SCAN_RIFF_FAILURE ((ZEP_STATUS)0xC000001E)
#define ZEP_ERR_NO_METADATA_PRESENT ((ZEP_STATUS)0xC000001F)
#define ZEP_ERR_BUFFER_TOO_SMALL ((ZEP_STATUS)0xC0000021)
#define ZEP_ERR_MENU_FUNC_NULL ((ZEP_STATUS)0xC0000022)
#define ZEP_ERR_MENU_MODULE_NULL ((ZEP_STATUS)0xC0000023)
#define ZEP_ERR_NO_MENU_FOUND ((ZEP_STATUS)0xC0000024)
#define ZEP_ERR_UNSUPPORTED_QID ((ZEP_STATUS)0xC0000025)
#define ZEP_ERR_REMOTE_FILE_UNSUPPORTED ((ZEP_STATUS)0xC0000026)
#define ZEP_ERR_INVALID_QUERY_ID ((ZEP_STATUS)0xC0000027)
#define ZEP_ERR_INVALID_QUERY_DTYPE ((ZEP_STATUS)0xC0000028)
#define ZEP_ERR_INVALID_SUBTITLE ((ZEP_STATUS)0xC0000029)
#define ZEP_ERR_AUDIO_FORMAT_BAD ((ZEP_STATUS)0xC000002A)
#define ZEP_ERR_INVALID_HTTP_SERVER ((ZEP_STATUS)0xC000002B)
#define ZEP_ERR_NO_DATA_STAT_FILES ((ZEP_STATUS)0xC000002C)
#define ZEP_ERR_DATA_NOT_READY ((ZEP_STATUS)0xC000002D)
#define ZEP_ERR_GET_MODULE_ID ((ZEP_STATUS)0xC000002E)
#define ZEP_ERR_CODEC_UNSUPPORTED ((ZEP_STATUS)0xC000002F)
#define ZEP_ERR_NULL_MODULE_FUNC ((ZEP_STATUS)0xC0000030)
#define ZEP_ERR_UNSUPPORTED_CONTAINER ((ZEP_STATUS)0xC0000031)
#define ZEP_ERR_OPEN_CONTAINER ((ZEP_STATUS)0xC0000032)
#define ZEP_ERR_LAYER1_FUNC_ERR ((ZEP_STATUS)0xC0000033)
#define ZEP_ERR_BAD_MODULE_ID ((ZEP_STATUS)0xC0000034)
#define ZEP_ERR_MEM_FREE ((ZEP_STATUS)0xC0000035)
#define ZEP_ERR_LAYER1_MODULE_INIT ((ZEP_STATUS)0xC0000036)
#define ZEP_ERR_UNDEFINED_ENTRY ((ZEP_STATUS)0xC0000037)
#define ZEP_ERR_NULL_MODULE_ID ((ZEP_STATUS)0xC0000038)
#define ZEP_ERR_BLOCK_BUFFER_NULL ((ZEP_STATUS)0xC0000039)
#define ZEP_ERR_ATTACHMENT_LINK_INVALID ((ZEP_STATUS)0xC000003B)
#define ZEP_ERR_UNSUPPORTED_SPS_DATA ((ZEP_STATUS)0xC000003C)
#define ZEP_ERR_OUTSIDE_RANGE ((ZEP_STATUS)0xC000003D)
#define ZEP_ERR_LACING_AUD_TYPE_INVALID ((ZEP_STATUS)0xC000003E)
#define ZEP_ERR_AR_IDC_INVALID ((ZEP_STATUS)0xC000003F)
#define ZEP_ERR_AR_EXTENDED_UNSUPPORTED ((ZEP_STATUS)0xC0000040)
#define ZEP_ERR_STRH_NOT_FOUND ((ZEP_STATUS)0xC0000043)
#define ZEP_ERR_DUPLICATE_STRF_FOUND ((ZEP_STATUS)0xC0000045)
#define ZEP_ERR_STRL_NOT_FOUND ((ZEP_STATUS)0xC0000046)
#define ZEP_ERR_MOVI_NOT_FOUND ((ZEP_STATUS)0xC0000047)
#define ZEP_ERR_FILE_CORRUPT ((ZEP_STATUS)0xC0000048)
#define ZEP_ERR_FILE_OPEN_FAILURE ((ZEP_STATUS)0xC0000049)
#define ZEP_ERR_STREAM_DNE ((ZEP_STATUS)0xC000004A)
#define ZEP_ERR_INVALID_TITLE_INDEX ((ZEP_STATUS)0xC000004B)
#define ZEP_ERR_QR7_PARSE_TRACKS ((ZEP_STATUS)0xC000004C)
#define ZEP_ERR_QR7_PARSE_SEGMENTINFO ((ZEP_STATUS)0xC000004D)
#define ZEP_ERR_QR7_PARSE_CUES ((ZEP_STATUS)0xC000004E)
#define ZEP_ERR_QR7_PARSE_SEEKHEAD ((ZEP_STATUS)0xC000004F)
#define ZEP_ERR_QR7_PARSE_HIERARCHICAL ((ZEP_STATUS)0xC0000050)
#define ZEP_ERR_QR7_PARSE_TAGS ((ZEP_STATUS)0xC0000051)
#define ZEP_ERR_QR7_PARSE_ATTACHMENTS ((ZEP_STATUS)0xC0000052)
#define ZEP_ERR_QR7_PARSE_CHAPTERS ((ZEP_STATUS)0xC0000053)
#define ZEP_ERR_FONT_NOT_FOUND ((ZEP_STATUS)0xC0000054)
#define ZEP_ERR_RESOLUTION_UNSUPPORTED ((ZEP_STATUS)0xC0000055)
#define ZEP_ERR_FRAMERATE_UNSUPPORTED ((ZEP_STATUS)0xC0000056)
#define ZEP_ERR_DECODING_FAILURE ((ZEP_STATUS)0xC0000057)
#define ZEP_ERR_COMBINE_FIELDS_UNSUPPORTED ((ZEP_STATUS)0xC0000058)
#define ZEP_ERR_FONT_OPTIMIZATION_FAILURE ((ZEP_STATUS)0xC000005B)
#define ZEP_ERR_INDEX_INCOMPLETE ((ZEP_STATUS)0xC000005C)
#define ZEP_ERR_BAD_SUB_ENCODING ((ZEP_STATUS)0xC000005D)
#define ZEP_ERR_AVC_STREAM_NOT_SUPPORTED ((ZEP_STATUS)0xC000005E)
#define ZEP_ERR_KILL ((ZEP_STATUS)0xC0000064)

/* The AVI reader answers a strl list without strf with this value; it has no
 * row in the table, so it has no name and no message. */
#define ZEP_ERR_STRF_NOT_FOUND_UNNAMED ((ZEP_STATUS)0xC0000044)

/* Small plain codes used beside the named ones. */
#define ZEP_FAIL ((ZEP_STATUS)-1)              /* general failure */
#define ZEP_E_NULL_ARG ((ZEP_STATUS)-2)        /* required pointer is null */
#define ZEP_E_CANNOT_OPEN ((ZEP_STATUS)-3)     /* module cannot open the file */
#define ZEP_E_NO_MORE_BLOCKS ((ZEP_STATUS)-4)  /* no further block / search ran out */
#define ZEP_E_CONSOLE ((ZEP_STATUS)-8)         /* seek/tell on a console stream */
#define ZEP_E_INPUT_ENDED ((ZEP_STATUS)-9)     /* stdin ended / no entry left */
#define ZEP_E_NO_MEMORY ((ZEP_STATUS)-10)      /* allocation failed */
#define ZEP_E_NO_NAME ((ZEP_STATUS)-11)        /* no file name given */
#define ZEP_E_TRUNC_READONLY ((ZEP_STATUS)-21) /* truncate with read-only access */
#define ZEP_E_ACCESS ((ZEP_STATUS)-23)         /* access denied */
#define ZEP_E_EXISTS ((ZEP_STATUS)-24)         /* file exists */
#define ZEP_E_INVALID_ARG ((ZEP_STATUS)-25)    /* invalid argument to the open */
#define ZEP_E_TOO_MANY_FILES ((ZEP_STATUS)-26) /* too many open files */
#define ZEP_E_NO_SUCH_FILE ((ZEP_STATUS)-27)   /* no such file */
#define ZEP_E_OPEN_OTHER ((ZEP_STATUS)-28)     /* any other open failure */
#define ZEP_E_SEEK_ORIGIN ((ZEP_STATUS)-31)    /* seek origin not 0, 1 or 2 */
#define ZEP_E_SEEK ((ZEP_STATUS)-32)           /* the seek failed */
#define ZEP_E_SEEK_INVALID ((ZEP_STATUS)-33)   /* the seek failed with EINVAL */
#define ZEP_E_READ_NULL_FILE ((ZEP_STATUS)-41) /* read on a null file object */
#define ZEP_E_CLOSE ((ZEP_STATUS)-61)          /* close of nothing, or close failed */

#define ZEP_FAILED(s) ((ZEP_STATUS)(s) < 0)
#define ZEP_SUCCEEDED(s) ((ZEP_STATUS)(s) >= 0)
#define ZEP_IS_WARNING(s) ((ZEP_STATUS)(s) > 0)

/* One row of the constant table: the 32-bit value in a 64-bit field, the
 * constant's name and its reference message, both UTF-16. */
typedef struct ZepStatusEntry {
  uint64_t code;
  const char16_t* name;
  const char16_t* message;
} ZepStatusEntry;

/* The table in its stored order (87 rows). */
extern const ZepStatusEntry zepStatusTable[];
extern const uint32_t zepStatusTableCount;

/* Name and message of a status as UTF-8 text (static storage). A value
 * without a row gives "Unknown error." or "Unknown warning." as its message
 * and null as its name; 0 gives "Success." with the name "ZEP_OK". */
const char* zep_status_name(ZEP_STATUS status);
const char* zep_status_message(ZEP_STATUS status);

#ifdef __cplusplus
}
#endif

#endif /* ZEP_STATUS_H */
