// The framework calls on a container handle. Every container is opened behind
// the dispatch module; each later call reads the handle's module id, finds the
// module in the registry and calls its slot with the stored module handle.
#include "layer1/zep_module.h"

namespace {

const zep_wchar_t kFilePrefix[] = u"file://";
constexpr size_t kFilePrefixLength = 7;

// Resolves the module behind a container. On failure *status holds the answer
// the caller returns.
const ZepModuleOps* container_ops(const ZepContainer* container, ZEP_STATUS* status) {
  if (!container) {
    *status = ZEP_ERR_INVALID_HANDLER;
    return nullptr;
  }
  uint32_t id = container->moduleId;
  if (id == 0 || id > ZEP_MAX_SELECTABLE_MODULE_ID) {
    *status = ZEP_ERR_GET_MODULE_ID;
    return nullptr;
  }
  const ZepModule* module = L1GetRegisteredModule(id);
  if (!module || !module->ops) {
    *status = ZEP_FAIL;
    return nullptr;
  }
  return module->ops;
}

}  // namespace

// Calls slot `op` of the container's module, or returns why it cannot.
#define ZEP_DISPATCH(container, op, ...)                           \
  do {                                                             \
    ZEP_STATUS status_ = ZEP_OK;                                   \
    const ZepModuleOps* ops_ = container_ops(container, &status_); \
    if (!ops_) return status_;                                     \
    if (!ops_->op) return ZEP_ERR_NULL_MODULE_FUNC;                \
    return ops_->op(container->moduleHandle, __VA_ARGS__);         \
  } while (0)

extern "C" ZEP_STATUS L1OpenContainerEx(ZepContainer** out, const zep_wchar_t* name, void* context,
                                        uint64_t extra1, uint64_t extra2) {
  if (!out) return ZEP_ERR_INVALID_HANDLER;
  *out = nullptr;
  if (!name) return ZEP_E_NULL_ARG;
  if (zep_wcsncmp(name, kFilePrefix, kFilePrefixLength) == 0) name += kFilePrefixLength;

  auto* container = static_cast<ZepContainer*>(zep_mem_alloc(sizeof(ZepContainer), context));
  if (!container) return ZEP_E_NO_MEMORY;
  container->allocContext = context;

  const ZepModuleOps* dispatch = zepDispatchModule.ops;
  ZepModuleHandle handle = nullptr;
  ZEP_STATUS status = (extra1 || extra2)
                          ? dispatch->OpenContainerEx(&handle, name, context, extra1, extra2)
                          : dispatch->OpenContainer(&handle, name, context);
  if (status < 0) {
    // The dispatch module has released everything of a failed open; an
    // unusable container is not handed out.
    zep_mem_free(container, context);
    return status;
  }
  container->interleaverIndex = 0;
  container->moduleHandle = handle;
  container->moduleId = ZEP_MODULE_ID_DISPATCH;
  *out = container;
  return status;
}

extern "C" ZEP_STATUS L1OpenContainer(ZepContainer** out, const zep_wchar_t* name, void* context) {
  return L1OpenContainerEx(out, name, context, 0, 0);
}

extern "C" ZEP_STATUS L1CloseContainer(ZepContainer* container) {
  if (!container) return ZEP_ERR_GET_MODULE_ID;
  ZEP_STATUS status = ZEP_OK;
  const ZepModuleOps* ops = container_ops(container, &status);
  if (ops && ops->CloseContainer) ops->CloseContainer(container->moduleHandle);
  return zep_mem_free(container, container->allocContext) < 0 ? ZEP_ERR_MEM_FREE : ZEP_OK;
}

extern "C" ZEP_STATUS L1SetTitle(ZepContainer* container, uint32_t title) {
  ZEP_DISPATCH(container, SetTitle, title);
}

extern "C" ZEP_STATUS L1SetTitleActiveStream(ZepContainer* container, uint32_t blockType,
                                             uint32_t stream, uint32_t active) {
  ZEP_DISPATCH(container, SetTitleActiveStream, blockType, stream, active);
}

extern "C" ZEP_STATUS L1ReadNextBlock(ZepContainer* container, uint32_t* blockType,
                                      uint32_t* stream, ZepBlock* block, uint64_t callerContext) {
  ZEP_DISPATCH(container, ReadNextBlock, blockType, stream, block, callerContext);
}

extern "C" ZEP_STATUS L1ReadNextBlockByStream(ZepContainer* container, uint32_t blockType,
                                              uint32_t stream, ZepBlock* block) {
  ZEP_DISPATCH(container, ReadNextBlockByStream, blockType, stream, block);
}

extern "C" ZEP_STATUS L1SetPosition(ZepContainer* container, uint32_t blockType, uint32_t stream,
                                    int64_t* time) {
  if (container && !time) return ZEP_E_NULL_ARG;
  ZEP_DISPATCH(container, SetPosition, blockType, stream, time);
}

extern "C" ZEP_STATUS L1GetInfo(ZepContainer* container, uint32_t qid, ZepQueryData* data,
                                uint32_t index) {
  if (!container || !data) return ZEP_ERR_INVALID_HANDLER;
  if (qid == ZEP_QID_INTERLEAVER_HANDLE) {
    uint32_t at = container->interleaverIndex;
    if (at < ZEP_INTERLEAVER_TABLE_SIZE) {
      data->value.u32 = uint32_t(container->interleaverTable[at]);
      return ZEP_OK;
    }
    data->value.u32 = 0;
    return ZEP_FAIL;
  }
  ZEP_DISPATCH(container, GetInfo, qid, data, index);
}

extern "C" ZEP_STATUS L1SetInfo(ZepContainer* container, uint32_t qid, ZepQueryData* data,
                                uint32_t index, uint64_t extra) {
  if (!container || !data) return ZEP_ERR_INVALID_HANDLER;
  ZEP_DISPATCH(container, SetInfo, qid, data, index, extra);
}
