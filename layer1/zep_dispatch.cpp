// The dispatch module (id 16, "logging"). Every container is opened through
// it: it selects the read module for the file, forwards every later call to
// that module's slot and traces the container calls into the call log.
#include <zlib.h>

#include "layer1/zep_call_log.h"
#include "layer1/zep_module.h"

namespace {

struct ZepDispatchHandle {
  ZepModuleHandle innerHandle;
  uint32_t innerModuleId;
  ZepLog* log;  // null when no log is written
  void* allocContext;
};

const ZepModuleInfo kDispatchInfo = {
    1, 1, 1, 1, 1, 1, u"logging", u"logging module.", ZEP_MODULE_ID_DISPATCH,
};

const ZepModuleOps* inner_ops(const ZepDispatchHandle* handle) {
  const ZepModule* module = handle ? L1GetRegisteredModule(handle->innerModuleId) : nullptr;
  return module ? module->ops : nullptr;
}

// The standard CRC-32 of a block's payload, as the log prints it (signed).
int32_t block_crc(const ZepBlock* block) {
  if (!block || !block->data || block->size == 0) return 0;
  return int32_t(uint32_t(crc32(0L, block->data, block->size)));
}

int64_t block_time(const ZepBlock* block) { return block ? block->time : 0; }

// Looks up the inner module's slot; an empty slot (or a handle without a
// module) answers ZEP_ERR_NULL_MODULE_FUNC before anything is logged.
#define ZEP_INNER_SLOT(handle, op)                      \
  auto* self = static_cast<ZepDispatchHandle*>(handle); \
  const ZepModuleOps* inner = inner_ops(self);          \
  if (!inner || !inner->op) return ZEP_ERR_NULL_MODULE_FUNC

ZEP_STATUS InitModule(const ZepModuleList*) { return ZEP_OK; }

const ZepModuleInfo* GetModuleInfo() { return &kDispatchInfo; }

ZEP_STATUS ProbeContainer(uint32_t* score, const zep_wchar_t*, void*) {
  if (score) *score = 100;
  return ZEP_OK;
}

// Selects the read module and allocates the dispatch handle.
ZEP_STATUS select_inner(const zep_wchar_t* name, void* context, uint32_t mode,
                        ZepDispatchHandle** out) {
  uint32_t id = 0;
  if (L1SelectModule(&id, name, mode, context) < 0 || id == 0) return ZEP_ERR_UNSUPPORTED_CONTAINER;
  auto* handle = static_cast<ZepDispatchHandle*>(zep_mem_alloc(sizeof(ZepDispatchHandle), context));
  if (!handle) return ZEP_E_NO_MEMORY;
  handle->innerModuleId = id;
  *out = handle;
  return ZEP_OK;
}

ZEP_STATUS OpenContainer(ZepModuleHandle* out, const zep_wchar_t* name, void* context) {
  if (!out) return ZEP_E_NULL_ARG;
  *out = nullptr;
  ZepDispatchHandle* handle = nullptr;
  ZEP_STATUS status = select_inner(name, context, 0, &handle);
  if (status < 0) return status;
  const ZepModuleOps* inner = inner_ops(handle);
  status = inner && inner->OpenContainer ? inner->OpenContainer(&handle->innerHandle, name, context)
                                         : ZEP_ERR_NULL_MODULE_FUNC;

  ZepLog* log = nullptr;
  if (zep_log_open(kZepCallLogName, 1, 0, &log) < 0) zep_log_close(&log);
  handle->log = log;
  zep_log_write(handle->log, u"OpenContainer:\nFile: %s\n", name);
  if (status < 0) {
    // A failed open leaves nothing behind: the read module has released its
    // own state, and the caller receives no handle.
    zep_log_close(&handle->log);
    zep_mem_free(handle, context);
    return status;
  }
  *out = handle;
  return status;
}

ZEP_STATUS OpenContainerEx(ZepModuleHandle* out, const zep_wchar_t* name, void* context,
                           uint64_t extra1, uint64_t extra2) {
  if (!out) return ZEP_E_NULL_ARG;
  *out = nullptr;
  ZepDispatchHandle* handle = nullptr;
  ZEP_STATUS status = select_inner(name, context, 0, &handle);
  if (status < 0) return status;
  handle->allocContext = context;
  const ZepModuleOps* inner = inner_ops(handle);
  status = inner && inner->OpenContainerEx
               ? inner->OpenContainerEx(&handle->innerHandle, name, context, extra1, extra2)
               : ZEP_ERR_NULL_MODULE_FUNC;
  if (status < 0) {
    zep_mem_free(handle, context);
    return status;
  }
  *out = handle;
  return status;
}

ZEP_STATUS CreateContainer(ZepModuleHandle* out, const zep_wchar_t* name, void* context) {
  if (!out) return ZEP_E_NULL_ARG;
  *out = nullptr;
  ZepDispatchHandle* handle = nullptr;
  ZEP_STATUS status = select_inner(name, context, 1, &handle);
  if (status < 0) return status;
  const ZepModuleOps* inner = inner_ops(handle);
  status = inner && inner->CreateContainer
               ? inner->CreateContainer(&handle->innerHandle, name, context)
               : ZEP_ERR_NULL_MODULE_FUNC;
  if (status < 0) {
    zep_mem_free(handle, context);
    return status;
  }
  *out = handle;
  return status;
}

ZEP_STATUS Reserved7(ZepModuleHandle* handle) {
  auto* self = handle ? static_cast<ZepDispatchHandle*>(*handle) : nullptr;
  const ZepModuleOps* inner = inner_ops(self);
  if (!inner || !inner->Reserved7) return ZEP_ERR_NULL_MODULE_FUNC;
  return inner->Reserved7(&self->innerHandle);
}

ZEP_STATUS CloseContainer(ZepModuleHandle handle) {
  ZEP_INNER_SLOT(handle, CloseContainer);
  zep_log_write(self->log, u"CloseContainer Entry:\n");
  ZEP_STATUS status = inner->CloseContainer(self->innerHandle);
  zep_log_write(self->log, u"CloseContainer Exit:\nNorvError: %d\n", status);
  zep_log_close(&self->log);
  zep_mem_free(self, self->allocContext);
  return status;
}

ZEP_STATUS SetTitle(ZepModuleHandle handle, uint32_t title) {
  ZEP_INNER_SLOT(handle, SetTitle);
  zep_log_write(self->log, u"SetTitle Entry:\nTitleIndex %d\n", int32_t(title));
  ZEP_STATUS status = inner->SetTitle(self->innerHandle, title);
  zep_log_write(self->log, u"SetTitle Exit:\nNorvError: %d\n", status);
  return status;
}

ZEP_STATUS SetMenu(ZepModuleHandle handle, uint32_t menu) {
  ZEP_INNER_SLOT(handle, SetMenu);
  zep_log_write(self->log, u"SetMenu Entry:\nMenuIndex %d\n", int32_t(menu));
  ZEP_STATUS status = inner->SetMenu(self->innerHandle, menu);
  zep_log_write(self->log, u"SetMenu Exit:\nNorvError: %d\n", status);
  return status;
}

ZEP_STATUS GetInfo(ZepModuleHandle handle, uint32_t qid, ZepQueryData* data, uint32_t index) {
  ZEP_INNER_SLOT(handle, GetInfo);
  if (self->log)
    zep_log_write(self->log, u"GetInfo Entry:\nQID: %s\nIndex: %d\n", zep_qid_name(qid),
                  int32_t(index));
  ZEP_STATUS status = inner->GetInfo(self->innerHandle, qid, data, index);
  zep_log_write(self->log, u"GetInfo Exit:\nNorvError: %d\n", status);
  return status;
}

ZEP_STATUS SetPosition(ZepModuleHandle handle, uint32_t blockType, uint32_t stream, int64_t* time) {
  ZEP_INNER_SLOT(handle, SetPosition);
  zep_log_write(self->log, u"SetPosition Entry:\nblockType: %d\nnStream: %d\nTime: %lld\n",
                int32_t(blockType), int32_t(stream), (long long)(time ? *time : 0));
  ZEP_STATUS status = inner->SetPosition(self->innerHandle, blockType, stream, time);
  zep_log_write(self->log, u"SetPosition Exit:\nTime: %lld\nNorvError: %d\n",
                (long long)(time ? *time : 0), status);
  return status;
}

ZEP_STATUS SetTitleActiveStream(ZepModuleHandle handle, uint32_t blockType, uint32_t stream,
                                uint32_t active) {
  ZEP_INNER_SLOT(handle, SetTitleActiveStream);
  zep_log_write(self->log,
                u"SetTitleActiveStream Entry:\nblockType: %d\nnStream: %d\nbActive: %d\n",
                int32_t(blockType), int32_t(stream), int32_t(active));
  ZEP_STATUS status = inner->SetTitleActiveStream(self->innerHandle, blockType, stream, active);
  zep_log_write(self->log, u"SetTitleActiveStream Exit:\nNorvError: %d\n", status);
  return status;
}

ZEP_STATUS ReadNextBlock(ZepModuleHandle handle, uint32_t* blockType, uint32_t* stream,
                         ZepBlock* block, uint64_t callerContext) {
  ZEP_INNER_SLOT(handle, ReadNextBlock);
  zep_log_write(self->log, u"ReadNextBlock Entry:\n");
  ZEP_STATUS status =
      inner->ReadNextBlock(self->innerHandle, blockType, stream, block, callerContext);
  if (self->log)
    zep_log_write(self->log,
                  u"ReadNextBlock Exit:\n*pBlockType: %d\n*pnStream: %d\nBlock Data CRC: "
                  u"%d\nBlock Time: %lld\nNorvError: %d\n",
                  int32_t(blockType ? *blockType : 0), int32_t(stream ? *stream : 0),
                  block_crc(block), (long long)block_time(block), status);
  return status;
}

ZEP_STATUS ReadNextBlockByStream(ZepModuleHandle handle, uint32_t blockType, uint32_t stream,
                                 ZepBlock* block) {
  ZEP_INNER_SLOT(handle, ReadNextBlockByStream);
  zep_log_write(self->log, u"ReadNextBlockByStream Entry:\nblockType: %d\nnStream: %d\n",
                int32_t(blockType), int32_t(stream));
  ZEP_STATUS status = inner->ReadNextBlockByStream(self->innerHandle, blockType, stream, block);
  zep_log_write(self->log,
                u"ReadNextBlockByStream Exit:\nBlock Data CRC: %d\nBlock Time: %lld\nNorvError: "
                u"%d\n",
                0, (long long)block_time(block), status);
  return status;
}

ZEP_STATUS WriteNextBlock(ZepModuleHandle handle, uint32_t blockType, uint32_t stream,
                          ZepBlock* block) {
  ZEP_INNER_SLOT(handle, WriteNextBlock);
  zep_log_write(self->log, u"WriteNextBlock Entry:\nblockType: %d\nBlock Time: %lld\nnStream: %d\n",
                int32_t(blockType), (long long)block_time(block), int32_t(stream));
  ZEP_STATUS status = inner->WriteNextBlock(self->innerHandle, blockType, stream, block);
  zep_log_write(self->log, u"WriteNextBlock Exit:\nNorvError: %d\n", status);
  return status;
}

ZEP_STATUS AddStream(ZepModuleHandle handle, uint32_t blockType, uint64_t description,
                     uint32_t* streamOfType) {
  ZEP_INNER_SLOT(handle, AddStream);
  zep_log_write(self->log, u"AddStream Entry:\nblockType: %d\n", int32_t(blockType));
  ZEP_STATUS status = inner->AddStream(self->innerHandle, blockType, description, streamOfType);
  zep_log_write(self->log, u"AddStream Exit:\n*nStreamOfType: %d\nNorvError: %d\n",
                int32_t(streamOfType ? *streamOfType : 0), status);
  return status;
}

ZEP_STATUS SetInfo(ZepModuleHandle handle, uint32_t qid, ZepQueryData* data, uint32_t index,
                   uint64_t extra) {
  ZEP_INNER_SLOT(handle, SetInfo);
  if (self->log)
    zep_log_write(self->log, u"SetInfo Entry:\nQID: %s\nIndex: %d\n", zep_qid_name(qid),
                  int32_t(index));
  ZEP_STATUS status = inner->SetInfo(self->innerHandle, qid, data, index, extra);
  zep_log_write(self->log, u"SetInfo Exit:\nNorvError: %d\n", status);
  return status;
}

ZEP_STATUS AddTitle(ZepModuleHandle handle, uint32_t* titleId) {
  ZEP_INNER_SLOT(handle, AddTitle);
  zep_log_write(self->log, u"AddTitle Entry:\n");
  ZEP_STATUS status = inner->AddTitle(self->innerHandle, titleId);
  zep_log_write(self->log, u"AddTitle Exit:\n*TitleID: %d\nNorvError: %d\n",
                int32_t(titleId ? *titleId : 0), status);
  return status;
}

ZEP_STATUS FinishTitle(ZepModuleHandle handle) {
  ZEP_INNER_SLOT(handle, FinishTitle);
  zep_log_write(self->log, u"FinishTitle Entry:\n");
  ZEP_STATUS status = inner->FinishTitle(self->innerHandle);
  zep_log_write(self->log, u"FinishTitle Exit:\nNorvError: %d\n", status);
  return status;
}

// Slots forwarded without records.
ZEP_STATUS AuxSetTitle(ZepModuleHandle handle, uint32_t index) {
  ZEP_INNER_SLOT(handle, AuxSetTitle);
  return inner->AuxSetTitle(self->innerHandle, index);
}

ZEP_STATUS AuxSetPosition(ZepModuleHandle handle, uint32_t blockType, uint32_t stream,
                          int64_t* time) {
  ZEP_INNER_SLOT(handle, AuxSetPosition);
  return inner->AuxSetPosition(self->innerHandle, blockType, stream, time);
}

ZEP_STATUS AuxSetActiveStream(ZepModuleHandle handle, uint32_t blockType, uint32_t stream,
                              uint32_t active) {
  ZEP_INNER_SLOT(handle, AuxSetActiveStream);
  return inner->AuxSetActiveStream(self->innerHandle, blockType, stream, active);
}

ZEP_STATUS AuxReadNextBlock(ZepModuleHandle handle, uint32_t* blockType, uint32_t* stream,
                            ZepBlock* block, uint64_t callerContext) {
  ZEP_INNER_SLOT(handle, AuxReadNextBlock);
  return inner->AuxReadNextBlock(self->innerHandle, blockType, stream, block, callerContext);
}

ZEP_STATUS AuxReadNextBlockByStream(ZepModuleHandle handle, uint32_t blockType, uint32_t stream,
                                    ZepBlock* block) {
  ZEP_INNER_SLOT(handle, AuxReadNextBlockByStream);
  return inner->AuxReadNextBlockByStream(self->innerHandle, blockType, stream, block);
}

// The reserved slots: no module implements them; they are only passed on.
template <ZepReservedOp ZepModuleOps::*Slot>
ZEP_STATUS forward_reserved(ZepModuleHandle handle, uint64_t a, uint64_t b, uint64_t c,
                            uint64_t d) {
  auto* self = static_cast<ZepDispatchHandle*>(handle);
  const ZepModuleOps* inner = inner_ops(self);
  if (!inner || !(inner->*Slot)) return ZEP_ERR_NULL_MODULE_FUNC;
  return (inner->*Slot)(self->innerHandle, a, b, c, d);
}

const ZepModuleOps kDispatchOps = {
    .InitModule = InitModule,
    .GetModuleInfo = GetModuleInfo,
    .ProbeContainer = ProbeContainer,
    .OpenContainer = OpenContainer,
    .CreateContainer = CreateContainer,
    .OpenContainerEx = OpenContainerEx,
    .slot6 = nullptr,
    .Reserved7 = Reserved7,
    .CloseContainer = CloseContainer,
    .SetTitle = SetTitle,
    .SetMenu = SetMenu,
    .GetInfo = GetInfo,
    .SetPosition = SetPosition,
    .SetTitleActiveStream = SetTitleActiveStream,
    .ReadNextBlock = ReadNextBlock,
    .ReadNextBlockByStream = ReadNextBlockByStream,
    .WriteNextBlock = WriteNextBlock,
    .AddStream = AddStream,
    .SetInfo = SetInfo,
    .AddTitle = AddTitle,
    .Reserved20 = forward_reserved<&ZepModuleOps::Reserved20>,
    .Reserved21 = forward_reserved<&ZepModuleOps::Reserved21>,
    .AuxSetTitle = AuxSetTitle,
    .AuxSetPosition = AuxSetPosition,
    .AuxSetActiveStream = AuxSetActiveStream,
    .AuxReadNextBlock = AuxReadNextBlock,
    .AuxReadNextBlockByStream = AuxReadNextBlockByStream,
    .Reserved27 = forward_reserved<&ZepModuleOps::Reserved27>,
    .Reserved28 = forward_reserved<&ZepModuleOps::Reserved28>,
    .slot29 = nullptr,
    .slot30 = nullptr,
    .slot31 = nullptr,
    .FinishTitle = FinishTitle,
    .Reserved33 = forward_reserved<&ZepModuleOps::Reserved33>,
    .Reserved34 = forward_reserved<&ZepModuleOps::Reserved34>,
    .slot35 = nullptr,
};

}  // namespace

extern "C" const ZepModule zepDispatchModule = {ZEP_MODULE_ID_DISPATCH, &kDispatchInfo,
                                                &kDispatchOps};
