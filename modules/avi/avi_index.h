// The key-frame index of a media set (AviIndex): a table of key-frame entries
// from which every stream resumes after a seek, and the key flags of the video
// frames. It is filled from the file's idx1 (completely, or incrementally as
// far as a request needs), from OpenDML indx/ix## indexes (completely, or only
// their super indexes with lookups in the file), or, in files without any
// index, while the chunks are read (on-the-fly growth).
#pragma once

#include "modules/avi/avi_context.h"

namespace avi {

// Creates the media set's index when it has none, or clears it for a newly
// parsed title. -10 when the allocation fails.
ZEP_STATUS index_prepare(AviContext& ctx, AviMediaSet& set);
void index_destroy(AviIndex*& index);

// BuildIndex: fills the table as far as `targetTime` (incremental idx1 walk
// in on-the-fly mode) or completely.
ZEP_STATUS index_build(AviContext& ctx, AviMediaSet& set, int64_t targetTime);

// Key flag of video frame `frame`: 1 or 0 when the file's index (or what was
// learnt while reading) tells, -1 when it does not.
int index_key_flag(AviContext& ctx, AviMediaSet& set, uint32_t frame);

// On-the-fly growth for a chunk beyond the highest indexed position. For a
// video chunk, `data` holds (a prefix of) its payload when the caller has
// read it already; otherwise the chunk is read into a scratch buffer.
// *keyOut (may be null) receives the key flag decided for a video chunk.
ZEP_STATUS index_grow(AviContext& ctx, AviMediaSet& set, const ChunkHeader& chunk,
                      uint32_t blockType, uint32_t streamIndex, const uint8_t* data,
                      uint32_t dataSize, int* keyOut);
// True when a chunk at `position` lies beyond what the index covers.
bool index_needs_growth(const AviMediaSet& set, uint64_t position);

// Lookups in the table. Null when there is no such entry.
const AviKeyEntry* index_at_or_before(const AviIndex& index, uint32_t frame);
const AviKeyEntry* index_next_after(const AviIndex& index, uint32_t frame);
const AviKeyEntry* index_last_before(const AviIndex& index, uint32_t frame);

// OpenDML lookups in the file (cacheless mode): the sync point at or before
// (forward = false) or after (forward = true) `frame`. -1 when there is none.
bool index_is_cacheless(const AviContext& ctx, const AviMediaSet& set);
ZEP_STATUS odml_find_sync(AviContext& ctx, AviMediaSet& set, uint32_t frame, bool forward,
                          uint32_t* foundFrame, uint64_t* position);
// The audio chunk that holds `time` (cacheless mode): its position and start.
ZEP_STATUS odml_find_audio(AviContext& ctx, AviMediaSet& set, uint32_t stream, int64_t time,
                           uint64_t* position, int64_t* chunkTime);

// Segments: k = 0 is the movi of the title's first RIFF, k >= 1 AVIX k.
ZEP_STATUS segment_movi(const AviMediaSet& set, uint32_t k, uint64_t* position, uint32_t* size);
uint32_t segment_of(const AviMediaSet& set, uint64_t position);

// Entry table capacity for a title of `length` video frames.
uint32_t entry_capacity(uint32_t length);

}  // namespace avi
