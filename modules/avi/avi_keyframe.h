// Key-frame test of a video chunk from its bitstream, for files whose index
// does not say (no idx1 and no OpenDML index): MPEG-4 part 2 (a VOP coded as
// I), H.264 in Annex B form (an IDR slice), MPEG-1/2 video (an I picture),
// the NOR3/NOR4 family (first byte below 0x40) and Motion JPEG, where every
// picture stands alone (any chunk with data).
#pragma once

#include <cstdint>

#include "modules/avi/avi_chunks.h"

namespace avi {

enum class VideoBitstream { kMpeg4, kH264, kMpeg2, kNor, kIntraOnly };

VideoBitstream video_bitstream(FourCC compression, FourCC handler);
bool is_key_frame(VideoBitstream kind, const uint8_t* data, uint32_t size);

// Bytes of a chunk that the test looks at: headers and parameter sets that
// precede the first picture fit well within them.
inline constexpr uint32_t kKeyFrameProbeSize = 64 * 1024;

}  // namespace avi
