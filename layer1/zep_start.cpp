// L1Start: the static module list. Each read module that is part of the build
// is listed in the fixed order AVI, Matroska, H.264, text subtitles, followed
// by the dispatch module that carries the call log.
#include "layer1/zep_module.h"

#if ZEP_WITH_AVI
#include "modules/avi/avi_module.h"
#endif
#if ZEP_WITH_MKV
#include "modules/mkv/mkv_module.h"
#endif
#if ZEP_WITH_H264
#include "modules/h264/h264_module.h"
#endif
#if ZEP_WITH_SUBTITLE
#include "modules/subtitle/subtitle_module.h"
#endif

namespace {

const ZepModule* const kStaticModules[] = {
#if ZEP_WITH_AVI
    &zepAviModule,
#endif
#if ZEP_WITH_MKV
    &zepMkvModule,
#endif
#if ZEP_WITH_H264
    &zepH264Module,
#endif
#if ZEP_WITH_SUBTITLE
    &zepSubtitleModule,
#endif
    &zepDispatchModule,
};

}  // namespace

extern "C" ZEP_STATUS L1Start(void) {
  static const ZepModuleList list = {ZEP_MODULE_LIST_STATIC, kStaticModules, nullptr,
                                     sizeof(kStaticModules) / sizeof(kStaticModules[0]), 0};
  return L1RegisterModules(&list) < 0 ? ZEP_ERR_LAYER1_MODULE_INIT : ZEP_OK;
}
