/* Query identifiers (QIDs) and the records that carry their values.
 *
 * A QID is an unsigned 32-bit value of which the low 24 bits are used:
 * bits 16-23 group, 8-15 number within the group, 4-7 media kind (0 none,
 * 1 video, 2 audio, 3 subtitle), 0-3 value type (ZEP_QTYPE_*). QIDs whose name
 * contains SET are written with SetInfo, the others read with GetInfo. */
#ifndef ZEP_QID_H
#define ZEP_QID_H

#include <stdint.h>

#include "platform/zep_platform.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZEP_QID_VALUE_TYPE(qid) ((uint32_t)(qid)&0xFu)
#define ZEP_QID_MEDIA_KIND(qid) (((uint32_t)(qid) >> 4) & 0xFu)

/* Value types (low nibble of a QID, and the valueType field of ZepQueryData). */
#define ZEP_QTYPE_FLAG8 1u
#define ZEP_QTYPE_SETTING32 2u
#define ZEP_QTYPE_COUNT16 3u
#define ZEP_QTYPE_VALUE32 5u
#define ZEP_QTYPE_SIZE32 6u
#define ZEP_QTYPE_TIME64 7u
#define ZEP_QTYPE_SIZE64 8u
#define ZEP_QTYPE_WSTRING 10u
#define ZEP_QTYPE_BUFFER 11u

/* The query data record handed to GetInfo and SetInfo. For records, strings
 * and buffers, size is the caller's capacity in bytes on the way in and the
 * bytes stored on the way out, and value.ptr addresses the caller's buffer.
 * Scalars sit in the low bytes of value (little-endian). */
typedef struct ZepQueryData {
  uint32_t valueType;
  uint32_t size;
  union {
    uint64_t u64;
    int64_t i64;
    uint32_t u32;
    int32_t i32;
    uint16_t u16;
    uint8_t u8;
    void* ptr;
  } value;
} ZepQueryData;

/* Video stream format record (ZEP_QID_VID_STREAM_FORMAT), 56 bytes. */
typedef struct ZepVideoStreamFormat {
  uint32_t kind;
  uint32_t rate;  /* frame rate numerator */
  uint32_t scale; /* frame rate denominator */
  uint32_t width;
  uint32_t height;
  uint16_t bitsPerPixel;
  uint16_t reserved0;
  uint32_t compression;
  uint32_t fourcc; /* four bytes in file order, read little-endian */
  uint32_t imageSize;
  uint32_t interlaced;
  uint32_t displayWidth;
  uint32_t displayHeight;
  uint64_t reserved1;
} ZepVideoStreamFormat;

/* Audio stream format record (ZEP_QID_AUD_STREAM_FORMAT), 288 bytes. */
typedef struct ZepAudioStreamFormat {
  uint16_t kind; /* 17 */
  uint16_t formatTag;
  uint16_t channels;
  uint16_t reserved0;
  uint32_t sampleRate;
  uint32_t avgBytesPerSec;
  uint16_t blockAlign;
  uint16_t bitsPerSample;
  uint16_t moduleWord;
  uint16_t extraSize; /* at most 255 */
  /* For tag 0xFFFE with extraSize 22: valid bits (2), channel mask (4),
   * sub-format identifier (16, at record offset 30). */
  uint8_t extra[256];
  uint8_t reserved1[8];
} ZepAudioStreamFormat;

/* Subtitle stream format record (ZEP_QID_SUB_STREAM_FORMAT), 48 bytes: laid
 * out like the first 48 bytes of the video format record. */
typedef struct ZepSubtitleStreamFormat {
  uint32_t kind;
  uint32_t rate;
  uint32_t scale;
  uint32_t width;  /* offset 12: the frame the subtitles are drawn for */
  uint32_t height; /* offset 16 */
  uint32_t reserved0;
  uint32_t compression; /* offset 24 */
  uint32_t fourcc;      /* offset 28 */
  uint32_t reserved1[4];
} ZepSubtitleStreamFormat;

#define ZEP_PROP_NAME_CHARS 512

/* Audio properties record (ZEP_QID_GET_AUDIO_MEDIA_PROP), 1060 bytes. The three
 * 4-character texts at 8, 16 and 24 are the ones the Demuxer API copies. */
typedef struct ZepAudioMediaProp {
  uint8_t kind; /* 16 */
  uint8_t reserved0[3];
  uint32_t streamIndex;
  zep_wchar_t language[4]; /* offset 8 */
  zep_wchar_t text2[4];    /* offset 16 */
  zep_wchar_t text3[4];    /* offset 24 */
  uint32_t nameLength;     /* characters in name, without terminator */
  zep_wchar_t name[ZEP_PROP_NAME_CHARS];
} ZepAudioMediaProp;

/* Subtitle properties record (ZEP_QID_GET_SUBTITLE_MEDIA_PROP), 1056 bytes. */
typedef struct ZepSubtitleMediaProp {
  uint8_t kind; /* 16 */
  uint8_t reserved0[3];
  zep_wchar_t language[4]; /* offset 4 */
  zep_wchar_t text2[4];    /* offset 12 */
  zep_wchar_t text3[4];    /* offset 20 */
  uint32_t nameLength;
  zep_wchar_t name[ZEP_PROP_NAME_CHARS];
} ZepSubtitleMediaProp;

#ifdef __cplusplus
static_assert(sizeof(ZepQueryData) == 16, "query data record");
static_assert(sizeof(ZepVideoStreamFormat) == 56, "video format record");
static_assert(sizeof(ZepAudioStreamFormat) == 288, "audio format record");
static_assert(offsetof(ZepAudioStreamFormat, extra) == 24, "audio extra bytes");
static_assert(sizeof(ZepSubtitleStreamFormat) == 48, "subtitle format record");
static_assert(offsetof(ZepSubtitleStreamFormat, fourcc) == 28, "subtitle fourcc");
static_assert(offsetof(ZepSubtitleStreamFormat, width) == 12, "subtitle frame width");
static_assert(sizeof(ZepAudioMediaProp) == 1060, "audio properties record");
static_assert(offsetof(ZepAudioMediaProp, text3) == 24, "audio property texts");
static_assert(sizeof(ZepSubtitleMediaProp) == 1056, "subtitle properties record");
static_assert(offsetof(ZepSubtitleMediaProp, text3) == 20, "subtitle property texts");
#endif

/* The name of a QID, or for a value not in the list its decimal number
 * formatted into one static buffer (overwritten by the next such lookup). */
const zep_wchar_t* zep_qid_name(uint32_t qid);

/* Number of QIDs in the list (236) and the i-th (value, name) in ascending
 * order of value, for tools that list them. */
uint32_t zep_qid_count(void);
uint32_t zep_qid_at(uint32_t i, const zep_wchar_t** name);

/* ---- The QIDs ---------------------------------------------------------- */
#define ZEP_QID_NUM_CONTAINER_TITLE 0x100003u
#define ZEP_QID_CONTAINER_TITLE_NAME 0x10010Au
#define ZEP_QID_CONTAINER_FILE_NAME 0x10020Au
#define ZEP_QID_CONTAINER_PREV_NAME 0x10030Au
#define ZEP_QID_CONTAINER_TITLE_ID 0x100405u
#define ZEP_QID_CONTAINER_NEXT_NAME 0x10050Au
#define ZEP_QID_CONTAINER_MUX_APP 0x10060Au
#define ZEP_QID_CONTAINER_WRITE_APP 0x10070Au
#define ZEP_QID_CONTAINER_TITLE_RIFF_OFFSET 0x100907u
#define ZEP_QID_NUM_TITLE_STREAMS 0x105003u
#define ZEP_QID_NUM_TITLE_STREAMS_PROP 0x105103u
#define ZEP_QID_NUM_ACTIVE_TITLE_STREAMS 0x105203u
#define ZEP_QID_TITLEMEDIA_PREV_SYNC_POINT 0x105E05u
#define ZEP_QID_TITLEMEDIA_NEXT_SYNC_POINT 0x105F05u
#define ZEP_QID_TITLEMEDIA_FILE_OFFSET 0x106008u
#define ZEP_QID_TITLEMEDIA_VID_ABSOLUTE_TRACK_NUM 0x106015u
#define ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM 0x106125u
#define ZEP_QID_TITLEMEDIA_SUB_ABSOLUTE_TRACK_NUM 0x106235u
#define ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME 0x106308u
#define ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME 0x106408u
#define ZEP_QID_TITLEDATA_METADATA 0x11230Bu
#define ZEP_QID_TITLEDATA_MENU_INFO 0x11250Bu
#define ZEP_QID_TITLEDATA_STREAM_BLOCKTYPE 0x112905u
#define ZEP_QID_SET_HTTP_AUTH 0x21010Bu
#define ZEP_QID_GET_HTTP_AUTH 0x21020Bu
#define ZEP_QID_GET_PROGRESS 0x230101u
#define ZEP_QID_GET_BITRATE 0x240105u
#define ZEP_QID_GET_FILE_SIZE 0x240208u
#define ZEP_QID_GET_WAIT_TIME 0x240307u
#define ZEP_QID_GET_CACHE_FILEPATH 0x24040Au
#define ZEP_QID_GET_CACHE_FILEPATH_LENGTH 0x240506u
#define ZEP_QID_GET_FILE_DOWNLOADED_SIZE 0x240608u
#define ZEP_QID_BLOCK_ON_READ 0x250101u
#define ZEP_QID_BYTES_AVAILABLE_AHEAD 0x250208u
#define ZEP_QID_FILE_POSITION 0x250308u
#define ZEP_QID_IDLE_DOWNLOAD 0x250406u
#define ZEP_QID_IDLE_DOWNLOAD_AND_RESUME 0x250506u
#define ZEP_QID_CHAPTERS_BEGIN 0x404B01u
#define ZEP_QID_CHAPTERS_CHAPTER_NAME 0x404B0Bu
#define ZEP_QID_CHAPTERS_CHAPTER_COUNT 0x404C03u
#define ZEP_QID_GET_AVI_RIFF_SIZE 0x410106u
#define ZEP_QID_SET_AVI_RIFF_SIZE 0x410206u
#define ZEP_QID_GET_AVIX_STEP_SIZE 0x410306u
#define ZEP_QID_SET_AVIX_STEP_SIZE 0x410406u
#define ZEP_QID_GET_INDX_TYPE 0x410506u
#define ZEP_QID_SET_INDX_TYPE 0x410606u
#define ZEP_QID_GET_STD_INDEX_NUM_ENTRIES 0x410706u
#define ZEP_QID_SET_STD_INDEX_NUM_ENTRIES 0x410806u
#define ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA 0x410823u
#define ZEP_QID_GET_INDX_GAP 0x410906u
#define ZEP_QID_SET_INDX_GAP 0x410A06u
#define ZEP_QID_GET_INDEX_POS 0x410B06u
#define ZEP_QID_SET_INDEX_POS 0x410C06u
#define ZEP_QID_GET_SUPER_INDEX_NUM_ENTRIES 0x410D06u
#define ZEP_QID_SET_SUPER_INDEX_NUM_ENTRIES 0x410E06u
#define ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA 0x411233u
#define ZEP_QID_GET_KEYFRAME_GAP 0x420106u
#define ZEP_QID_SET_KEYFRAME_GAP 0x420206u
#define ZEP_QID_USE_INDEX 0x420302u
#define ZEP_QID_USE_CACHELESS_INDEX 0x420402u
#define ZEP_QID_GET_MIN_MEM_USAGE 0x420502u
#define ZEP_QID_SET_MIN_MEM_USAGE 0x420602u
#define ZEP_QID_USE_HIERARCHICAL_INDEX 0x420702u
#define ZEP_QID_ON_THE_FLY_INDEX 0x420802u
#define ZEP_QID_SET_SRT_OUTPUT_TEXT 0x430002u
#define ZEP_QID_GET_SRT_OUTPUT_TEXT 0x430102u
#define ZEP_QID_SET_ADVANCED_INDEX_GAP 0x440006u
#define ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA 0x450513u
#define ZEP_QID_TITLEDATA_VIDEOFRAMECOUNT 0x450B15u
#define ZEP_QID_TITLEDATA_VIDEO_FRAME_FROM_TIME 0x450C15u
#define ZEP_QID_TITLE_DURATION 0x450E07u
#define ZEP_QID_LACEINFO 0x50002Bu
#define ZEP_QID_DELACE_BLOCKS 0x500106u
#define ZEP_QID_CHAPTERS_CHAPTER_STARTTIME 0x504C07u
#define ZEP_QID_CHAPTERS_CHAPTER_ENDTIME 0x504D07u
#define ZEP_QID_EDITION_ORDERED 0x504E01u
#define ZEP_QID_CHAPTERS_CHAPTER_HIDDEN 0x504F01u
#define ZEP_QID_CHAPTERS_CHAPTER_LANG 0x505001u
#define ZEP_QID_CHAPTERS_CHAPTER_COUNTRY 0x505101u
#define ZEP_QID_PLAYLISTS_GET_COUNT 0x50A006u
#define ZEP_QID_PLAYLISTS_GET_PROP 0x50A10Bu
#define ZEP_QID_PLAYLISTS_SET_PLAYLIST_IDX 0x50A206u
#define ZEP_QID_PLAYLISTS_SET_ALLOW_ORDERED_FLAG 0x50A302u
#define ZEP_QID_EDITIONENTRY_GET_COUNT 0x50A406u
#define ZEP_QID_EDITIONENTRY_GET_PROP 0x50A50Bu
#define ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX 0x50A606u
#define ZEP_QID_TAGS_SET_CURRENTTAGIDX 0x50B005u
#define ZEP_QID_TAGS_SET_SIMPLETAGID 0x50B105u
#define ZEP_QID_TAGS_GET_INFO 0x50B202u
#define ZEP_QID_TAGS_GET_TAG_TARGET_TRACK 0x50B306u
#define ZEP_QID_TAGS_GET_TAG_TARGET_EDITION 0x50B406u
#define ZEP_QID_TAGS_GET_TAG_TARGET_CHAPTER 0x50B506u
#define ZEP_QID_TAGS_GET_TAG_TARGET_ATTACHMENT 0x50B606u
#define ZEP_QID_SET_FILE_NAME 0x50B70Au
#define ZEP_QID_MKV_SET_WRITE_BLOCK_DURATIONS 0x50B80Au
#define ZEP_QID_MKV_SET_WRITE_HIERARCHICAL_INDEX 0x50B90Au
#define ZEP_QID_MKV_SET_INTERLACED 0x50BA02u
#define ZEP_QID_TAGS_GET_SIMPLETAG_NAME_SIZE 0x50BB06u
#define ZEP_QID_TAGS_GET_SIMPLETAG_NAME 0x50BC0Au
#define ZEP_QID_TAGS_GET_SIMPLETAG_STRING_SIZE 0x50BD06u
#define ZEP_QID_TAGS_GET_SIMPLETAG_STRING 0x50BE0Au
#define ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE_SIZE 0x50BF06u
#define ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE 0x50C00Au
#define ZEP_QID_TAGS_GET_SIMPLETAG_BINARY_SIZE 0x50C106u
#define ZEP_QID_TAGS_GET_SIMPLETAG_BINARY 0x50C20Bu
#define ZEP_QID_TAGS_GET_SIMPLETAG_CHILDID 0x50C308u
#define ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX 0x50C40Bu
#define ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYID 0x50C50Bu
#define ZEP_QID_TAGS_GET_NUMTAGS 0x50C606u
#define ZEP_QID_MKV_SET_DSAS_MODE 0x50C701u
#define ZEP_QID_MKV_SET_CLUSTER_DURATION_NORVTIME 0x50C807u
#define ZEP_QID_MKV_SET_CLUSTER_DURATION_FRAMES 0x50C907u
#define ZEP_QID_MKV_SET_WRITE_BLOCK_GROUP_POSITIONS 0x50D001u
#define ZEP_QID_LOG_FILE 0x50D10Bu
#define ZEP_QID_MKV_IS_INTERLACED 0x510012u
#define ZEP_QID_MKV_COMBINE_FIELDS 0x510112u
#define ZEP_QID_SET_DSC_FONTFILE 0x52003Au
#define ZEP_QID_TAGS_SET_TAG 0x550106u
#define ZEP_QID_TAGS_SET_TAG_TARGET 0x550206u
#define ZEP_QID_TAGS_SET_SIMPLE_TAG 0x550306u
#define ZEP_QID_GET_TRICK_TRACK_PROP 0x55110Bu
#define ZEP_QID_SET_TRICK_TRACK_PROP 0x55120Bu
#define ZEP_QID_GET_MASTER_TRACK_PROP 0x55130Bu
#define ZEP_QID_SET_MASTER_TRACK_PROP 0x55140Bu
#define ZEP_QID_EDTD 0x60000Bu
#define ZEP_QID_GET_VID_ATTACHMENT_LINK_COUNT 0x700006u
#define ZEP_QID_GET_AUD_ATTACHMENT_LINK_COUNT 0x700106u
#define ZEP_QID_GET_SUB_ATTACHMENT_LINK_COUNT 0x700206u
#define ZEP_QID_GET_VID_ATTACHMENT_LINKS 0x700308u
#define ZEP_QID_GET_AUD_ATTACHMENT_LINKS 0x700408u
#define ZEP_QID_GET_SUB_ATTACHMENT_LINKS 0x700508u
#define ZEP_QID_GET_ATTACHMENT_COUNT 0x710006u
#define ZEP_QID_GET_ATTACHMENT_SIZE 0x710106u
#define ZEP_QID_GET_ATTACHMENTINFO 0x71020Bu
#define ZEP_QID_SET_ATTACHMENT 0x71030Bu
#define ZEP_QID_SET_SUB_ATTACHMENT_LINK 0x710408u
#define ZEP_QID_GET_SUB_ATTACHMENT_LINK 0x710508u
#define ZEP_QID_INTERLEAVER_HANDLE 0x800005u
#define ZEP_QID_INTERLEAVE_INTERVAL 0x800105u
#define ZEP_QID_MAX_SUPPORTED_VID_STREAMS 0x800213u
#define ZEP_QID_INTERLEAVE_AUD_STREAM_FIXED 0x800221u
#define ZEP_QID_INTERLEAVE_VID_INFO 0x800311u
#define ZEP_QID_INTERLEAVE_AUD_INFO 0x800321u
#define ZEP_QID_MAX_SUPPORTED_AUD_STREAMS 0x800323u
#define ZEP_QID_INTERLEAVE_SUB_INFO 0x800331u
#define ZEP_QID_MAX_SUPPORTED_SUB_STREAMS 0x800433u
#define ZEP_QID_TOTAL_NUM_TITLEMEDIA_VIDEOMEDIA 0x800513u
#define ZEP_QID_TOTAL_NUM_TITLEMEDIA_AUDIOMEDIA 0x800623u
#define ZEP_QID_TOTAL_NUM_TITLEMEDIA_SUBTITLEMEDIA 0x800733u
#define ZEP_QID_VID_STREAM_FORMAT 0x80101Bu
#define ZEP_QID_AUD_STREAM_FORMAT 0x80112Bu
#define ZEP_QID_SUB_STREAM_FORMAT 0x80123Bu
#define ZEP_QID_GET_CONTAINER_TYPE 0x801305u
#define ZEP_QID_TITLE_SUGGESTED_BUFFER_SIZE 0x801405u
#define ZEP_QID_MENU_SUGGESTED_BUFFER_SIZE 0x801505u
#define ZEP_QID_VID_STREAM_NAME 0x80160Au
#define ZEP_QID_VID_MIME_TYPE 0x80161Au
#define ZEP_QID_AUD_STREAM_NAME 0x80170Au
#define ZEP_QID_AUD_MIME_TYPE 0x80172Au
#define ZEP_QID_SUB_STREAM_NAME 0x80180Au
#define ZEP_QID_SUB_MIME_TYPE 0x80183Au
#define ZEP_QID_STREAM_NAME 0x80190Au
#define ZEP_QID_VID_CODEC_ID 0x801A0Au
#define ZEP_QID_AUD_CODEC_ID 0x801B0Au
#define ZEP_QID_SUB_CODEC_ID 0x801C0Au
#define ZEP_QID_VID_CODEC_NAME 0x801D0Au
#define ZEP_QID_AUD_CODEC_NAME 0x801E0Au
#define ZEP_QID_SUB_CODEC_NAME 0x801F0Au
#define ZEP_QID_GET_SUBTITLE_MEDIA_PROP 0x85003Bu
#define ZEP_QID_SET_SUBTITLE_MEDIA_PROP 0x85023Bu
#define ZEP_QID_GET_HDSUBTITLE_MEDIA_PROP 0x85033Bu
#define ZEP_QID_SET_HDSUBTITLE_MEDIA_PROP 0x85043Bu
#define ZEP_QID_GET_OVERLAY_MEDIA_PROP 0x85140Bu
#define ZEP_QID_SET_OVERLAY_MEDIA_PROP 0x85160Bu
#define ZEP_QID_GET_AUDIO_MEDIA_PROP 0x85282Bu
#define ZEP_QID_SET_AUDIO_MEDIA_PROP 0x852A2Bu
#define ZEP_QID_GET_VIDEO_MEDIA_PROP 0x852C1Bu
#define ZEP_QID_SET_VIDEO_MEDIA_PROP 0x852E1Bu
#define ZEP_QID_GET_TITLE_MEDIA_PROP 0x85300Bu
#define ZEP_QID_SET_TITLE_MEDIA_PROP 0x85320Bu
#define ZEP_QID_GET_STREAMS_PROP 0x854C0Bu
#define ZEP_QID_SET_STREAMS_PROP 0x854E0Bu
#define ZEP_QID_GET_TITLE_PROP 0x85600Bu
#define ZEP_QID_SET_TITLE_PROP 0x85620Bu
#define ZEP_QID_GET_CONTAINER_PROP 0x85640Bu
#define ZEP_QID_SET_CONTAINER_PROP 0x85660Bu
#define ZEP_QID_GET_TITLE_VIDEO_INDEX 0x85671Bu
#define ZEP_QID_GET_VID_STREAMNAME_PROP 0x85691Bu
#define ZEP_QID_SET_VID_STREAMNAME_PROP 0x85701Bu
#define ZEP_QID_GET_AUD_STREAMNAME_PROP 0x85712Bu
#define ZEP_QID_SET_AUD_STREAMNAME_PROP 0x85722Bu
#define ZEP_QID_GET_SUB_STREAMNAME_PROP 0x85733Bu
#define ZEP_QID_SET_SUB_STREAMNAME_PROP 0x85743Bu
#define ZEP_QID_SET_TOOL_VERSION 0x85750Au
#define ZEP_QID_GET_TOOL_VERSION 0x85760Au
#define ZEP_QID_GET_FORMAT_VERSION 0x85770Au
#define ZEP_QID_PROFILE_NAME 0x85780Au
#define ZEP_QID_SET_STREAM_EOS 0x85790Bu
#define ZEP_QID_GET_TRACK_PROP 0x85800Bu
#define ZEP_QID_SET_TRACK_PROP 0x85820Bu
#define ZEP_QID_METADATA_TITLE_INFO 0x90010Bu
#define ZEP_QID_METADATA_BITSTREAM 0x90020Bu
#define ZEP_QID_METADATA_OFFSET 0x900307u
#define ZEP_QID_MENUMEDIA_OFFSET 0x900407u
#define ZEP_QID_INPUTSTREAM_SET_HTTP_AUTH 0xA0000Bu
#define ZEP_QID_INPUTSTREAM_GET_HTTP_AUTH 0xA0010Bu
#define ZEP_QID_STREAM_GET_STREAMTYPE 0xA00206u
#define ZEP_QID_STREAM_GET_FILENAME_LENGTH 0xA00306u
#define ZEP_QID_STREAM_GET_FILENAME 0xA0040Au
#define ZEP_QID_STREAM_SET_FILESIZE 0xA00508u
#define ZEP_QID_STREAM_SET_BUFFER_MEM 0xA0060Bu
#define ZEP_QID_STREAM_GET_BUFFER_MEM 0xA0070Bu
#define ZEP_QID_STREAM_SET_BUFFER_MEM_SIZE 0xA00808u
#define ZEP_QID_STREAM_GET_BUFFER_MEM_SIZE 0xA00908u
#define ZEP_QID_STREAM_BYTE_RANGE_REQUESTS 0xA00A06u
#define ZEP_QID_STREAM_GET_FILESIZE 0xA00B08u
#define ZEP_QID_TRACK_VITALS 0xAE001Bu
#define ZEP_QID_TRACK_VITALS_SIZE 0xAE0116u
#define ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE 0xB00006u
#define ZEP_QID_VIDEO_CODEC_PRIVATE_DATA 0xB0010Bu
#define ZEP_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE 0xB00206u
#define ZEP_QID_AUDIO_CODEC_PRIVATE_DATA 0xB0030Bu
#define ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE 0xB00406u
#define ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA 0xB0050Bu
#define ZEP_QID_AUDIO_CONTENT_COMPRESSION_ALGO 0xB00606u
#define ZEP_QID_AUDIO_CONTENT_COMPRESSION_SETTING 0xB0070Bu
#define ZEP_QID_AUDIO_CONTENT_COMPRESSION_SETTING_SIZE 0xB00806u
#define ZEP_QID_SPS_SIZE 0xB30006u
#define ZEP_QID_SPS_DATA 0xB3010Bu
#define ZEP_QID_PPS_SIZE 0xB30206u
#define ZEP_QID_PPS_DATA 0xB3030Bu
#define ZEP_QID_VIDEO_MEDIA_DESCRIPTION 0xB50006u
#define ZEP_QID_AUDIO_MEDIA_DESCRIPTION 0xB50106u
#define ZEP_QID_SUBTITLE_MEDIA_DESCRIPTION 0xB50206u
#define ZEP_QID_ENHANCEDTRACK 0xE0001Bu
#define ZEP_QID_MASTERTRACK 0xE1001Bu

#ifdef __cplusplus
}
#endif

#endif /* ZEP_QID_H */
