// Chapters, tags and attachments of the current Segment: their queries.
// Each answers ZEP_ERR_UNSUPPORTED_QID for a QID that is not its own.
#pragma once

#include "modules/mkv/mkv_context.h"

namespace mkv {

ZEP_STATUS chapters_get_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index);
ZEP_STATUS chapters_set_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index);
ZEP_STATUS tags_get_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index);
ZEP_STATUS tags_set_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index);
ZEP_STATUS attachments_get_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index);

// The chapter of the current ordered playlist that holds a Segment time (ns),
// or null when no ordered playlist is in use.
const MkvChapter* playlist_chapter_at(const MkvSegmentState& seg, uint64_t segmentTimeNs);
// Whether block times are shifted by an ordered playlist.
bool ordered_playlist_active(const MkvSegmentState& seg);

}  // namespace mkv
