/* Records of the Matroska module's chapter, tag and attachment queries.
 *
 * These queries answer what a Matroska Segment carries beyond its tracks:
 * editions and their chapters, tags with their targets and nested SimpleTags,
 * attached files. Times are in 100 ns units, UIDs as they stand in the file.
 * Strings are UTF-16, zero-terminated. */
#ifndef ZEP_MKV_RECORDS_H
#define ZEP_MKV_RECORDS_H

#include <stddef.h>
#include <stdint.h>

#include "layer1/zep_qid.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The module's own query for one chapter of the current edition: index n is
 * the n-th chapter in depth-first order (a chapter, then its nested ones).
 * The chapter's name, language and country are read with
 * ZEP_QID_CHAPTERS_CHAPTER_NAME, _LANG and _COUNTRY under the same index. */
#define ZEP_QID_CHAPTERS_GET_CHAPTER_PROP 0x50D20Bu

/* Bits of ZepEditionProp.flags and ZepChapterProp.flags. */
#define ZEP_EDITION_FLAG_HIDDEN 0x1u
#define ZEP_EDITION_FLAG_DEFAULT 0x4u
#define ZEP_EDITION_FLAG_ORDERED 0x8u
#define ZEP_CHAPTER_FLAG_HIDDEN 0x1u
#define ZEP_CHAPTER_FLAG_ENABLED 0x2u

/* ZEP_QID_EDITIONENTRY_GET_PROP, index = edition. */
typedef struct ZepEditionProp {
  uint64_t uid;
  uint32_t flags;
  uint32_t chapterCount; /* all chapters, nested ones included */
  int64_t orderedLength; /* 100 ns: playlist length of an ordered edition */
  uint32_t isCurrent;
  uint32_t topLevelCount;
} ZepEditionProp;

/* ZEP_QID_CHAPTERS_GET_CHAPTER_PROP. */
typedef struct ZepChapterProp {
  uint64_t uid;
  int64_t start; /* 100 ns */
  int64_t end;   /* 100 ns, completed from the next chapter when absent */
  int64_t playlistOffset;
  uint64_t segmentEditionUid;
  uint32_t flags;
  uint32_t depth; /* 0 for a top-level chapter */
  uint32_t displayCount;
  uint32_t trackCount;
  uint32_t childCount;
  uint32_t segmentUidSize; /* 0 when the chapter names no other Segment */
  uint8_t segmentUid[16];
} ZepChapterProp;

/* ZEP_QID_PLAYLISTS_GET_PROP (24 bytes). */
typedef struct ZepPlaylistProp {
  uint32_t index;
  uint32_t chapterCount;
  uint64_t editionUid;
  int64_t duration; /* 100 ns */
} ZepPlaylistProp;

/* ZEP_QID_TAGS_GET_INFO for tag n: five 32-bit values. */
typedef struct ZepTagInfo {
  uint32_t simpleTagCount; /* top-level SimpleTags of the tag */
  uint32_t trackTargets;
  uint32_t editionTargets;
  uint32_t chapterTargets;
  uint32_t attachmentTargets;
} ZepTagInfo;

/* ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX (index n: the n-th top-level
 * SimpleTag of the current tag) and _BYID (index: a SimpleTag id). Ids count
 * the Segment's SimpleTags from 0 in file order. Sizes are those the value
 * queries answer: bytes of the UTF-16 string with its terminator, or of the
 * binary value. */
typedef struct ZepSimpleTagInfo {
  uint32_t id;
  uint32_t parentId; /* 0xFFFFFFFF for a SimpleTag of the tag itself */
  uint32_t tagIndex;
  uint32_t childCount;
  uint32_t nameSize;
  uint32_t stringSize;
  uint32_t languageSize;
  uint32_t binarySize;
  uint32_t depth;
  uint32_t reserved;
} ZepSimpleTagInfo;

#define ZEP_SIMPLETAG_NO_PARENT 0xFFFFFFFFu

/* ZEP_QID_GET_ATTACHMENTINFO for attachment n (at least 3080 bytes). The
 * caller sets data and dataCapacity; the FileData is read into data when it
 * is not null (the first dataCapacity bytes at most). */
#define ZEP_ATTACHMENT_TEXT_CHARS 500u
typedef struct ZepAttachmentInfo {
  zep_wchar_t fileName[ZEP_ATTACHMENT_TEXT_CHARS];
  zep_wchar_t mimeType[ZEP_ATTACHMENT_TEXT_CHARS];
  zep_wchar_t description[ZEP_ATTACHMENT_TEXT_CHARS];
  uint64_t fileUid;
  int64_t startTime;
  int64_t endTime;
  uint64_t dataSize; /* bytes of FileData in the file */
  uint8_t* data;
  uint64_t dataCapacity;
  uint64_t dataRead;
  uint8_t reserved[24];
} ZepAttachmentInfo;

/* The enhanced-track and master-track fields of a stream
 * (ZEP_QID_GET_TRICK_TRACK_PROP, ZEP_QID_GET_MASTER_TRACK_PROP). */
typedef struct ZepLinkedTrackProp {
  uint64_t trackUid;
  uint8_t segmentUid[16];
  zep_wchar_t fileName[256];
} ZepLinkedTrackProp;

/* The module's own queries for the chain of linked Segments of the current
 * title (the opened file's Segment included, in playing order). */
#define ZEP_QID_MKV_CHAIN_COUNT 0x50D306u
#define ZEP_QID_MKV_CHAIN_ENTRY 0x50D40Bu

typedef struct ZepMkvChainEntry {
  uint32_t index;
  uint32_t isOpenedFile; /* 1 for the Segment of the file that was opened */
  int64_t duration;      /* 100 ns */
  uint8_t segmentUid[16];
  uint32_t segmentUidSize;
  zep_wchar_t fileName[ZEP_MAX_PATH];
} ZepMkvChainEntry;

/* ZEP_QID_GET_TRACK_PROP, index = the track's place among all tracks of the
 * Segment in file order (ZEP_QID_NUM_TITLE_STREAMS counts them). */
#define ZEP_TRACK_FLAG_DEFAULT 0x1u
#define ZEP_TRACK_FLAG_FORCED 0x2u
#define ZEP_TRACK_FLAG_ENABLED 0x4u
typedef struct ZepMkvTrackProp {
  uint32_t kind; /* 0 none (no stream), ZEP_BLOCK_AUDIO, _VIDEO, _SUBTITLE */
  uint32_t streamIndex;
  uint64_t number;
  uint64_t uid;
  uint32_t codecCode;
  uint32_t flags;
  uint64_t defaultDuration; /* ns, 0 when absent */
  uint32_t compression;     /* ContentCompAlgo + 1, 0 none */
  uint32_t codecPrivateSize;
  zep_wchar_t language[32];
  zep_wchar_t codecId[64];
} ZepMkvTrackProp;

#ifdef __cplusplus
static_assert(sizeof(ZepPlaylistProp) == 24, "playlist record");
static_assert(sizeof(ZepTagInfo) == 20, "tag information record");
static_assert(sizeof(ZepAttachmentInfo) == 3080, "attachment record");
static_assert(offsetof(ZepAttachmentInfo, fileUid) == 3000, "attachment values");
#endif

#ifdef __cplusplus
}
#endif

#endif /* ZEP_MKV_RECORDS_H */
