// The file structure of an AVI title: the top-level RIFF chain scanned at
// open, and the header lists of a title (hdrl with its strl lists, INFO, the
// positions of movi and idx1, the AVIX continuation segments and the cover
// picture of a following RIFF META).
#pragma once

#include "modules/avi/avi_context.h"

namespace avi {

// Top-level scan at open: checks RIFF AVI, walks the AVIX segments of the
// first title and finds a RIFF MENU section after them.
ZEP_STATUS scan_top_level(AviHandle* handle);

// Parses the headers of the title whose first RIFF is at `position` into
// `set` and resets its read state and index. 0, ZEP_ERR_NO_INDEX_FOUND (a
// warning: usable, indexed while read) or a failure.
ZEP_STATUS parse_title(AviHandle* handle, AviMediaSet& set, uint64_t position, uint16_t title);

// Resets every stream's read state (SetTitle).
void reset_stream_states(AviMediaSet& set);

// Releases what a media set owns (names, super indexes, cover, index).
void release_media_set(AviMediaSet& set, void* memoryContext);

// The accepted stream of a block type and index, or null.
AviStream* find_stream(AviMediaSet& set, uint32_t blockType, uint32_t index);
// The accepted stream that carries a stream number of movi chunk ids, or null.
AviStream* stream_by_number(AviMediaSet& set, uint32_t blockType, uint32_t number, uint32_t* index);

}  // namespace avi
