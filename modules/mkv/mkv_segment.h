// Opening a Matroska file and reading the Segment chosen as the current
// title: its SeekHead, SegmentInfo and Tracks, its chapters, tags and
// attachments, and the linked Segments in other files of the folder.
#pragma once

#include "modules/mkv/mkv_context.h"

namespace mkv {

ZEP_STATUS open_container(MkvContainer& c, const zep_wchar_t* name, uint64_t extra1,
                          uint64_t extra2);
// Makes Segment `title` current; -1 for an index past the Segments.
ZEP_STATUS set_title(MkvContainer& c, uint32_t title);

// Handlers of the Segment's children (each walks the element's children).
ZEP_STATUS parse_seek_head(MkvContainer& c, uint64_t dataPos, uint64_t size);
ZEP_STATUS parse_info(MkvContainer& c, uint64_t dataPos, uint64_t size);
ZEP_STATUS parse_tracks(MkvContainer& c, uint64_t dataPos, uint64_t size);
ZEP_STATUS parse_chapters(MkvContainer& c, uint64_t dataPos, uint64_t size);
ZEP_STATUS parse_tags(MkvContainer& c, uint64_t dataPos, uint64_t size);
ZEP_STATUS parse_attachments(MkvContainer& c, uint64_t dataPos, uint64_t size);
// After the Chapters element: chapter ends, playlists, the current edition.
void finish_chapters(MkvSegmentState& seg);

// Follows the previous and next UIDs of the current Segment into the other
// Matroska files of the folder.
void follow_linked_segments(MkvContainer& c);

// A child walk's failure as the element's own code (ZEP_ERR_KILL kept).
inline ZEP_STATUS element_failure(ZEP_STATUS status, ZEP_STATUS code) {
  if (status >= 0) return status;
  return status == ZEP_ERR_KILL ? status : code;
}

// Durations: ticks × scale (ns) to 100 ns units, rounded down.
inline int64_t ticks_to_units(double ticks, uint64_t timecodeScale) {
  const double v = ticks * double(timecodeScale) / 100.0;
  return v > 0 ? to_int64(v) : 0;
}

}  // namespace mkv
