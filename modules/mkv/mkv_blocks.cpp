#include "modules/mkv/mkv_blocks.h"

namespace mkv {
ZEP_STATUS first_cluster(MkvContainer&, uint64_t, uint64_t) { return ZEP_OK; }
ZEP_STATUS set_active_stream(MkvContainer& c, uint32_t kind, uint32_t stream, uint32_t active) {
  MkvTrack* t = c.track(kind, stream);
  if (!t) return ZEP_FAIL;
  t->active = active != 0;
  return ZEP_OK;
}
ZEP_STATUS read_next_block(MkvContainer&, uint32_t*, uint32_t*, ZepBlock*) {
  return ZEP_ERR_END_OF_STREAM;
}
ZEP_STATUS read_next_block_by_stream(MkvContainer&, uint32_t, uint32_t, ZepBlock*) {
  return ZEP_ERR_END_OF_STREAM;
}
ZEP_STATUS set_position(MkvContainer&, uint32_t, uint32_t, int64_t* time) {
  *time = 0;
  return ZEP_OK;
}
ZEP_STATUS sync_time(MkvContainer&, uint32_t, uint32_t, int64_t, bool, int64_t*) {
  return ZEP_ERR_END_OF_STREAM;
}
ZEP_STATUS load_index(MkvContainer&) { return ZEP_OK; }
}  // namespace mkv
