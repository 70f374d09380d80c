// GetInfo and SetInfo of the AVI module: counts, formats, names, durations,
// sync points, index settings and the file-level texts, with everything the
// module does not answer itself passed on to the menu section reader.
#pragma once

#include "modules/avi/avi_context.h"

// Records of the property queries that the AVI module fills.
struct AviTitleMediaProp {  // ZEP_QID_GET_TITLE_MEDIA_PROP
  uint16_t kind;            // 16
  uint16_t videoCount;
  uint16_t audioCount;
  uint16_t subtitleCount;
};
struct AviVideoMediaProp {  // ZEP_QID_GET_VIDEO_MEDIA_PROP
  uint32_t kind;            // 16
  uint32_t streamIndex;
};
struct AviTitleProp {  // ZEP_QID_GET_TITLE_PROP
  uint32_t kind;       // 16
  uint32_t streamTotal;
  uint32_t chapterCount;
  uint32_t titleValue0;  // first two u32 of the menu's title record
  uint32_t titleValue1;
};
struct AviContainerProp {  // ZEP_QID_GET_CONTAINER_PROP
  uint32_t kind;           // 16
  uint32_t titleCount;
  uint32_t pageCount;
};

namespace avi {

ZEP_STATUS get_info(AviHandle* handle, uint32_t qid, ZepQueryData* data, uint32_t index);
ZEP_STATUS set_info(AviHandle* handle, uint32_t qid, ZepQueryData* data, uint32_t index);

}  // namespace avi
