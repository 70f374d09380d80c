/* The menu section reader of the AVI module.
 *
 * Files of the extended layout put several titles and an interactive menu into
 * one file: after the first title's RIFF (and its AVIX segments) comes a
 * RIFF MENU section. It lists the titles (each a RIFF AVI elsewhere in the
 * file), the media of the menu itself and the menu pages:
 *
 *   RIFF MENU
 *     LIST ZPNU               (one or more; other children are skipped)
 *       MENU                  (the first one whose version is 1 is used)
 *         MDIA                12-byte header, then
 *           TITL              one per title: 8-byte header, 40-byte title
 *                             record, then MEDS (first one counts), CHAP...
 *           MNTK              the menu's media track: 12-byte header, then
 *                             MEDS (one per menu media) and MEDT (links)
 *         TRTB                position and size kept
 *         WMEN                a menu page
 *         LGMN                a language group: 28-byte header, then WMEN pages
 *
 * The reader keeps positions only and reads records from the file when asked.
 * Every read is bounded by its parent chunk and by the end of the file, so a
 * damaged section answers with a status and never reads outside a buffer.
 *
 * The AVI module reaches the reader through the operation table aviMenuOps
 * (slot order fixed below). The usual sequence at open time is
 * AviMenuOpenSection, which runs OpenMenu, SetMenuVersion(1), ParseMenu,
 * GetTitlePositions and GetMenuMediaPositions; its result is the status
 * OpenContainer reports (see there). */
#ifndef ZEP_AVI_MENU_H
#define ZEP_AVI_MENU_H

#include <stdint.h>

#include "layer1/zep_qid.h"
#include "layer1/zep_status.h"
#include "platform/zep_platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The only MENU chunk version the reader accepts. */
#define AVI_MENU_VERSION 1u
/* Size of the work buffer the AVI module hands to OpenMenu. */
#define AVI_MENU_BUFFER_SIZE 8192u
/* Bytes of a TITL chunk's fixed part handed out by GetTitleRecord. */
#define AVI_MENU_TITLE_RECORD_SIZE 40u
/* Characters of the MENU name that are kept. */
#define AVI_MENU_NAME_CHARS 16u
/* Pages kept in the page list; further pages are dropped. */
#define AVI_MENU_MAX_PAGES 1000u
/* MEDT links kept; further ones are dropped. */
#define AVI_MENU_MAX_LINKS 3000u

/* Marks of the page list. */
#define AVI_MENU_PAGE_PLAIN 0u       /* any later page */
#define AVI_MENU_PAGE_FIRST 1u       /* the first page found directly in MENU */
#define AVI_MENU_PAGE_GROUP_FIRST 2u /* the first page of a language group */

/* The kept part of the MENU chunk header. The meaning of the values other than
 * the version and the name is not interpreted. */
typedef struct AviMenuHeader {
  uint64_t value0;   /* chunk offset 8 */
  uint8_t bytes3[3]; /* chunk offset 16 */
  uint8_t reserved0;
  uint32_t version;                          /* chunk offset 19 */
  uint32_t value1;                           /* chunk offset 23 */
  uint32_t value2;                           /* chunk offset 27 */
  uint32_t nameLength;                       /* chunk offset 31: name length in bytes as stored */
  uint32_t nameChars;                        /* characters kept in name (at most 16) */
  zep_wchar_t name[AVI_MENU_NAME_CHARS + 1]; /* zero-terminated */
} AviMenuHeader;

/* One entry of the page list: a WMEN chunk. */
typedef struct AviMenuPage {
  uint64_t position; /* the WMEN chunk header */
  uint32_t size;     /* its size field */
  uint32_t mark;     /* AVI_MENU_PAGE_* */
  uint32_t mediaKey; /* the u32 at chunk offset 12 (0 when the chunk is too short) */
  uint32_t hasKey;   /* 1 when the chunk holds the media key */
} AviMenuPage;

/* One MEDT link of the menu track: media key -> position of a media RIFF. */
typedef struct AviMenuLink {
  uint64_t position;
  uint32_t mediaKey;
  uint32_t reserved;
} AviMenuLink;

/* The 40 bytes that follow a TITL chunk's header. */
typedef struct AviMenuTitleRecord {
  uint8_t bytes[AVI_MENU_TITLE_RECORD_SIZE];
} AviMenuTitleRecord;

/* The reader's state, created by OpenMenu and released by CloseMenu. */
typedef struct AviMenuReader {
  ZepFile* file;         /* not owned */
  uint64_t menuPosition; /* the RIFF MENU header */
  uint32_t acceptedVersion;
  uint32_t parsed;            /* 1 after a successful ParseMenu */
  uint64_t menuChunkPosition; /* the MENU chunk used */
  uint32_t menuChunkSize;
  uint32_t reserved0;
  AviMenuHeader header;
  uint64_t mdiaPosition; /* 0: none */
  uint32_t mdiaSize;
  uint32_t trtbSize;
  uint64_t trtbPosition; /* 0: none */
  uint32_t pageCount;
  uint32_t selectedPage; /* the page MENUMEDIA_OFFSET answered last */
  AviMenuPage pages[AVI_MENU_MAX_PAGES];
  /* The title located last, so repeated queries need not walk again. */
  uint32_t titleValid;
  uint32_t titleIndex;
  uint64_t titlePosition;
  uint32_t titleSize;
  uint32_t reserved1;
  uint8_t titleRecord[AVI_MENU_TITLE_RECORD_SIZE];
  /* The menu track and its links, collected by ParseMenu. */
  uint64_t mntkPosition; /* 0: none */
  uint32_t mntkSize;
  uint32_t linkCount;
  AviMenuLink links[AVI_MENU_MAX_LINKS];
  uint32_t largestPage; /* 8 + size of the largest WMEN chunk */
  uint32_t reserved2;
  uint64_t metadataOffset; /* RIFF META position once found; 0: not yet */
  /* The caller's work buffer (not owned, may be null). The reader keeps in it
   * a window of the file, so that walking many small chunks costs one file
   * read per window rather than one per chunk header. */
  uint8_t* buffer;
  uint32_t bufferSize;
  uint32_t windowLength; /* bytes of the file held; 0: none */
  uint64_t windowStart;  /* file position of buffer[0] */
  uint64_t userValueA;   /* kept, never interpreted */
  uint64_t userValueB;
  void* allocContext;
} AviMenuReader;

/* Operation table of the reader, in slot order. Every operation answers -2
 * for a null reader or a null out pointer unless its comment says otherwise. */
typedef struct AviMenuOps {
  /* Creates the reader for the RIFF MENU at menuPosition of an open file. The
   * buffer (AVI_MENU_BUFFER_SIZE bytes) stays the caller's; null is allowed.
   * -10 when the allocation fails. */
  ZEP_STATUS (*OpenMenu)
  (ZepFile* file, uint64_t menuPosition, AviMenuReader** reader, uint8_t* buffer,
   uint32_t bufferSize, uint64_t userValueA, uint64_t userValueB);
  /* Releases the reader (null: 0). */
  ZEP_STATUS (*CloseMenu)(AviMenuReader* reader);
  /* Only version 1 is accepted; any other value gives -1. */
  ZEP_STATUS (*SetMenuVersion)(AviMenuReader* reader, uint32_t version);
  /* 0 when a MENU chunk of the accepted version was found and parsed;
   * ZEP_ERR_INVALID_MENU_VERSION (a warning) when MENU chunks were found but
   * none of that version; -1 when none was found or the RIFF is shorter than
   * 13 bytes; ZEP_ERR_KILL passed on from the file. */
  ZEP_STATUS (*ParseMenu)(AviMenuReader* reader);
  /* MenuSetInfo with index 0. */
  ZEP_STATUS (*MenuSetInfoByQid)(AviMenuReader* reader, uint32_t qid, ZepQueryData* data);
  /* The 40-byte record of TITL `title` (from 0); -4 when there is no such TITL. */
  ZEP_STATUS (*GetTitleRecord)(AviMenuReader* reader, uint32_t title, AviMenuTitleRecord* record);
  /* The number of CHAP chunks of TITL `title`; -4 when there is no such TITL. */
  ZEP_STATUS (*GetChapterCount)(AviMenuReader* reader, uint32_t title, uint32_t* count);
  /* A copy of the kept MENU header; -1 before a successful ParseMenu. */
  ZEP_STATUS (*GetMenuHeader)(AviMenuReader* reader, AviMenuHeader* header);
  /* The number of pages in the page list. */
  ZEP_STATUS (*GetPageCount)(AviMenuReader* reader, uint32_t* count);
  /* The positions of the MNTK's MEDS chunks in order, at most `capacity` of
   * them; count 0 for an MNTK without content; -2 without MNTK in MDIA. */
  ZEP_STATUS (*GetMenuMediaPositions)
  (AviMenuReader* reader, uint64_t* positions, uint32_t capacity, uint32_t* count);
  /* Title position k from the first MEDS of the k-th TITL, k = 0, 1, ...; the
   * walk ends at the first TITL that is missing (or has no MEDS) or when
   * `capacity` positions are filled. No title at all (or no MDIA): -4. */
  ZEP_STATUS (*GetTitlePositions)
  (AviMenuReader* reader, uint64_t* positions, uint32_t capacity, uint32_t* count);
  /* Answers the queries the AVI module passes on (null reader:
   * ZEP_ERR_MENU_MODULE_NULL):
   * - ZEP_QID_MENUMEDIA_OFFSET (index: page): the position linked by MEDT to
   *   the page's media key, 0 when there is no link; an index beyond the page
   *   list answers for the page selected before; no pages at all: -4.
   * - ZEP_QID_METADATA_OFFSET: see AviMenuFindMetadataOffset.
   * - ZEP_QID_TITLEDATA_MENU_INFO: AviMenuInfoRecord.
   * - ZEP_QID_MENU_SUGGESTED_BUFFER_SIZE: bytes of the largest page chunk
   *   (header included), at least AVI_MENU_BUFFER_SIZE.
   * - ZEP_QID_CHAPTERS_CHAPTER_COUNT (index: title): CHAP chunks of the title.
   * - ZEP_QID_GET_STREAMS_PROP (index: title): AviMenuTitleProp.
   * - ZEP_QID_GET_OVERLAY_MEDIA_PROP (index: page): AviMenuPageProp.
   * - ZEP_QID_SET_TRACK_PROP (index: menu media): AviMenuTrackProp.
   * Records answer ZEP_ERR_BUFFER_TOO_SMALL when the caller's size is below
   * the record's; other QIDs: ZEP_ERR_UNSUPPORTED_QID. */
  ZEP_STATUS (*MenuGetInfo)
  (AviMenuReader* reader, uint32_t qid, ZepQueryData* data, uint32_t index);
  /* Without a reader ZEP_ERR_MENU_MODULE_NULL; the reader has no settings, so
   * every QID answers ZEP_ERR_UNSUPPORTED_QID. */
  ZEP_STATUS (*MenuSetInfo)
  (AviMenuReader* reader, uint32_t qid, ZepQueryData* data, uint32_t index);
} AviMenuOps;

extern const AviMenuOps aviMenuOps;

/* Records of the menu queries (little-endian, unlisted bytes zero). */
typedef struct AviMenuInfoRecord { /* ZEP_QID_TITLEDATA_MENU_INFO */
  uint32_t kind;                   /* 16 */
  uint32_t titleCount;
  uint32_t pageCount;
  uint32_t menuMediaCount;
  AviMenuHeader header;
  uint64_t trtbPosition;
  uint32_t trtbSize;
  uint32_t reserved;
} AviMenuInfoRecord;

typedef struct AviMenuTitleProp { /* ZEP_QID_GET_STREAMS_PROP */
  uint32_t kind;                  /* 16 */
  uint32_t title;
  uint64_t titlePosition; /* from the first MEDS; 0 without MEDS */
  uint32_t chapterCount;
  uint32_t reserved;
  uint8_t record[AVI_MENU_TITLE_RECORD_SIZE];
} AviMenuTitleProp;

typedef struct AviMenuPageProp { /* ZEP_QID_GET_OVERLAY_MEDIA_PROP */
  uint32_t kind;                 /* 16 */
  uint32_t page;
  uint64_t position;      /* the WMEN chunk */
  uint64_t mediaPosition; /* linked by MEDT, 0 without link */
  uint32_t mark;
  uint32_t mediaKey;
  uint32_t values[6]; /* the six u32 at chunk offsets 8..31 */
  uint32_t nameChars; /* characters kept in name */
  zep_wchar_t name[AVI_MENU_NAME_CHARS * 4 + 1];
  uint16_t reserved;
} AviMenuPageProp;

typedef struct AviMenuTrackProp { /* ZEP_QID_SET_TRACK_PROP */
  uint32_t kind;                  /* 16 */
  uint32_t media;
  uint64_t position;  /* the MEDS position */
  uint32_t values[2]; /* the two u32 of the MEDS record */
} AviMenuTrackProp;

/* The position of the first top-level chunk whose form type is "META",
 * walking from position 0 (each step size + 8). *cache holds the position once
 * found and is answered again without walking; 0 when there is none (a failed
 * read or the end of the file ends the walk). Usable without a menu section. */
ZEP_STATUS AviMenuFindMetadataOffset(ZepFile* file, uint64_t* cache, uint64_t* offset);

/* The open-time sequence of the AVI module for a file with a menu section at
 * menuPosition: OpenMenu, SetMenuVersion(1), ParseMenu, GetTitlePositions
 * (into titlePositions, at most titleCapacity) and GetMenuMediaPositions (at
 * most mediaCapacity).
 * - 0: *reader holds the reader; the counts are set.
 * - ZEP_ERR_INVALID_MENU_VERSION: no MENU of version 1; *reader is null and the
 *   file is to be used as one title at position 0 (counts set to 1 and 0).
 * - negative: *reader is null (the reader is closed); the caller fails the open.
 * The caller's buffer is never released here. */
ZEP_STATUS AviMenuOpenSection(ZepFile* file, uint64_t menuPosition, uint8_t* buffer,
                              uint64_t userValueA, uint64_t userValueB, AviMenuReader** reader,
                              uint64_t* titlePositions, uint32_t titleCapacity,
                              uint32_t* titleCount, uint64_t* mediaPositions,
                              uint32_t mediaCapacity, uint32_t* mediaCount);

#ifdef __cplusplus
}
#endif

#endif /* ZEP_AVI_MENU_H */
