/* The raw H.264 read module (module id 15): an Annex B elementary stream
 * opened as a container with one title and one video stream. Each block is
 * one access unit whose NAL units carry 4-byte big-endian length prefixes. */
#ifndef ZEP_H264_MODULE_H
#define ZEP_H264_MODULE_H

#include "layer1/zep_module.h"

#ifdef __cplusplus
extern "C" {
#endif

extern const ZepModule zepH264Module;

#ifdef __cplusplus
}
#endif

#endif /* ZEP_H264_MODULE_H */
