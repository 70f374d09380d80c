/* Conversion of the raw H.264 module's output (and of any avcC-framed H.264)
 * to an Annex B byte stream that plays on its own: the parameter sets of the
 * decoder configuration record first, then each block with a 00 00 00 01 start
 * code in place of every NAL unit length.
 *
 * Both conversions size their output first: with a null `out` or a capacity
 * below the size needed they answer ZEP_ERR_BUFFER_TOO_SMALL and store the
 * size needed in *out_size. */
#ifndef ZEP_H264_ANNEXB_H
#define ZEP_H264_ANNEXB_H

#include <stdint.h>

#include "layer1/zep_status.h"

#ifdef __cplusplus
extern "C" {
#endif

/* NAL unit length size (1, 2 or 4) of an AVCDecoderConfigurationRecord, or 0
 * when the record is too short or not version 1. */
uint32_t zep_h264_avcc_length_size(const uint8_t* avcc, uint32_t avcc_size);

/* Every SPS and PPS of an AVCDecoderConfigurationRecord, each behind a
 * 4-byte start code. ZEP_FAIL for a record whose lengths run past its end. */
ZEP_STATUS zep_h264_avcc_to_annexb(const uint8_t* avcc, uint32_t avcc_size, uint8_t* out,
                                   uint32_t capacity, uint32_t* out_size);

/* One block of NAL units with big-endian length prefixes of `length_size`
 * bytes (1 to 4) as start-code-prefixed NAL units. ZEP_FAIL when a unit runs
 * past the end of the block or the length size is not 1 to 4. */
ZEP_STATUS zep_h264_block_to_annexb(const uint8_t* block, uint32_t size, uint32_t length_size,
                                    uint8_t* out, uint32_t capacity, uint32_t* out_size);

#ifdef __cplusplus
}
#endif

#endif /* ZEP_H264_ANNEXB_H */
