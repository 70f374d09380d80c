// Block delivery and seeking on the current Segment (and its linked chain).
#pragma once

#include "modules/mkv/mkv_context.h"

namespace mkv {

// Called for the first Cluster of a Segment: frame-duration estimates from
// its first blocks.
ZEP_STATUS first_cluster(MkvContainer& c, uint64_t dataPos, uint64_t size);

ZEP_STATUS set_active_stream(MkvContainer& c, uint32_t kind, uint32_t stream, uint32_t active);
ZEP_STATUS read_next_block(MkvContainer& c, uint32_t* kind, uint32_t* stream, ZepBlock* block);
ZEP_STATUS read_next_block_by_stream(MkvContainer& c, uint32_t kind, uint32_t stream,
                                     ZepBlock* block);
ZEP_STATUS set_position(MkvContainer& c, uint32_t kind, uint32_t stream, int64_t* time);
// The time (100 ns) of the previous (strictly earlier) or next (strictly
// later) sync point of a stream.
ZEP_STATUS sync_time(MkvContainer& c, uint32_t kind, uint32_t stream, int64_t time, bool next,
                     int64_t* found);
// Loads the Cues (or the hierarchical index) when none is loaded.
ZEP_STATUS load_index(MkvContainer& c);

}  // namespace mkv
