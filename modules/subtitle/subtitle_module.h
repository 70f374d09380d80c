/* The text subtitle read module (module id 14): opens an SRT, ASS or SSA file
 * as a container with one title holding one subtitle stream and delivers one
 * block per subtitle entry, either as the entry's UTF-8 text or rendered into
 * a QSUB bitmap subtitle packet (the default).
 *
 * Settings, all through SetInfo (L1SetInfo):
 *   ZEP_QID_SET_SRT_OUTPUT_TEXT  value.u8 = 1 text output, 0 bitmap output;
 *                                reading starts again at the first entry.
 *   ZEP_QID_SET_DSC_FONTFILE     value.ptr = wide (UTF-16) font file name.
 *   ZEP_QID_SUB_STREAM_FORMAT    value.ptr = a ZepTextSubtitleFormat, size 48;
 *                                its width and height choose the frame of the
 *                                bitmap packets (640 x 480, 960 x 720 or
 *                                1440 x 1080). Read the record first with
 *                                GetInfo and change width and height only. */
#ifndef ZEP_SUBTITLE_MODULE_H
#define ZEP_SUBTITLE_MODULE_H

#include <stddef.h>
#include <stdint.h>

#include "layer1/zep_module.h"

#ifdef __cplusplus
extern "C" {
#endif

/* The subtitle stream format record of this module: 48 bytes laid out as the
 * first 48 bytes of the video stream format record (ZepVideoStreamFormat). */
typedef struct ZepTextSubtitleFormat {
  uint32_t kind; /* first byte 0x21 for ASS and SSA, else 0 */
  uint32_t rate;
  uint32_t scale;
  uint32_t width;  /* offset 12: frame width of the bitmap packets */
  uint32_t height; /* offset 16 */
  uint16_t bitsPerPixel;
  uint16_t reserved0;
  uint32_t compression; /* offset 24: "NORV" or "NRTX" */
  uint32_t fourcc;      /* offset 28: "NRTX" (SRT), "ASS\0", "SSA\0", "NRSB" */
  uint32_t imageSize;
  uint32_t interlaced;
  uint32_t displayWidth;
  uint32_t displayHeight;
} ZepTextSubtitleFormat;

#ifdef __cplusplus
static_assert(sizeof(ZepTextSubtitleFormat) == 48, "subtitle format record");
static_assert(offsetof(ZepTextSubtitleFormat, width) == offsetof(ZepVideoStreamFormat, width),
              "laid out as the video format record");
static_assert(offsetof(ZepTextSubtitleFormat, fourcc) == 28, "FourCC of the codec");
#endif

extern const ZepModule zepSubtitleModule;

#ifdef __cplusplus
}
#endif

#endif /* ZEP_SUBTITLE_MODULE_H */
