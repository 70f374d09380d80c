// The stream format records of Matroska tracks.
#pragma once

#include "modules/mkv/mkv_context.h"

namespace mkv {

ZEP_STATUS video_format(const MkvTrack& t, ZepVideoStreamFormat* out);
ZEP_STATUS audio_format(const MkvTrack& t, ZepAudioStreamFormat* out);
void subtitle_format(const MkvTrack& t, ZepSubtitleStreamFormat* out);
// The frame duration of a video track as reported (ns): doubled while two
// fields are joined into one frame.
uint64_t reported_frame_duration(const MkvTrack& t);

}  // namespace mkv
