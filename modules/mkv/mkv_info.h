#pragma once

#include "modules/mkv/mkv_context.h"

namespace mkv {

ZEP_STATUS get_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index);
ZEP_STATUS set_info(MkvContainer& c, uint32_t qid, ZepQueryData* d, uint32_t index);

}  // namespace mkv
