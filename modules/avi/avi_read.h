// Block reading and seeking on a media set: the shared walk over the movi
// lists of a title and its AVIX segments (ReadNextBlock), a stream's own walk
// (ReadNextBlockByStream), positioning for a seek (SetPosition) and stream
// activation. A failed read leaves the read state as it was.
#pragma once

#include "modules/avi/avi_context.h"

namespace avi {

ZEP_STATUS read_next_block(AviContext& ctx, AviMediaSet& set, uint32_t* blockType,
                           uint32_t* streamIndex, ZepBlock* block);
ZEP_STATUS read_next_block_by_stream(AviContext& ctx, AviMediaSet& set, uint32_t blockType,
                                     uint32_t streamIndex, ZepBlock* block);
ZEP_STATUS set_position(AviContext& ctx, AviMediaSet& set, uint32_t blockType, uint32_t streamIndex,
                        int64_t* time);
ZEP_STATUS set_active_stream(AviMediaSet& set, uint32_t blockType, uint32_t streamIndex,
                             uint32_t active);

}  // namespace avi
