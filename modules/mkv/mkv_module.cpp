// The module record of the Matroska read module and its operation slots:
// arguments are checked here, the work is done by the mkv_* files.
#include "modules/mkv/mkv_module.h"

#include <new>

#include "modules/mkv/mkv_blocks.h"
#include "modules/mkv/mkv_info.h"
#include "modules/mkv/mkv_segment.h"

namespace {

using mkv::MkvContainer;

const ZepModuleInfo kInfo = {1, 0, 1, 0, 1, 0, u".mkv, .qr7", u"Matroska read module.",
                             ZEP_MODULE_ID_MKV};

ZEP_STATUS InitModule(const ZepModuleList*) { return ZEP_OK; }
const ZepModuleInfo* GetModuleInfo() { return &kInfo; }

// A handle is a container whose reader carries the tag word.
MkvContainer* checked(ZepModuleHandle h) {
  auto* c = static_cast<MkvContainer*>(h);
  return c && c->reader.tag == mkv::kReaderTag ? c : nullptr;
}

void destroy(MkvContainer* c) {
  void* alloc = c->alloc;
  c->~MkvContainer();
  zep_mem_free(c, alloc);
}

ZEP_STATUS OpenContainerEx(ZepModuleHandle* out, const zep_wchar_t* name, void* context,
                           uint64_t extra1, uint64_t extra2) {
  if (!out) return mkv::EBML_ERR_BAD_ARG;
  *out = nullptr;
  if (!name) return mkv::EBML_ERR_BAD_ARG;
  void* memory = zep_mem_alloc(sizeof(MkvContainer), context);
  if (!memory) return mkv::EBML_ERR_NO_MEMORY;
  MkvContainer* c = nullptr;
  try {
    c = new (memory) MkvContainer(context);
    ZEP_STATUS status = mkv::open_container(*c, name, extra1, extra2);
    if (status < 0) {
      destroy(c);
      return status;
    }
  } catch (const std::bad_alloc&) {
    if (c) destroy(c);
    else zep_mem_free(memory, context);
    return mkv::EBML_ERR_NO_MEMORY;
  }
  *out = c;
  return ZEP_OK;
}

ZEP_STATUS OpenContainer(ZepModuleHandle* out, const zep_wchar_t* name, void* context) {
  return OpenContainerEx(out, name, context, 0, 0);
}

ZEP_STATUS CloseContainer(ZepModuleHandle h) {
  MkvContainer* c = checked(h);
  if (!c) return mkv::EBML_ERR_BAD_ARG;
  destroy(c);
  return ZEP_OK;
}

// Memory exhaustion inside the module's containers becomes a status.
template <typename F>
ZEP_STATUS guarded(F&& f) {
  try {
    return f();
  } catch (const std::bad_alloc&) {
    return mkv::EBML_ERR_NO_MEMORY;
  }
}

ZEP_STATUS SetTitle(ZepModuleHandle h, uint32_t title) {
  MkvContainer* c = checked(h);
  if (!c) return mkv::EBML_ERR_BAD_ARG;
  return guarded([&] { return mkv::set_title(*c, title); });
}

ZEP_STATUS SetMenu(ZepModuleHandle h, uint32_t) { return checked(h) ? ZEP_OK : ZEP_E_NULL_ARG; }

ZEP_STATUS GetInfo(ZepModuleHandle h, uint32_t qid, ZepQueryData* data, uint32_t index) {
  MkvContainer* c = checked(h);
  if (!c) return mkv::EBML_ERR_BAD_ARG;
  return guarded([&] { return mkv::get_info(*c, qid, data, index); });
}

ZEP_STATUS SetInfo(ZepModuleHandle h, uint32_t qid, ZepQueryData* data, uint32_t index,
                   uint64_t) {
  MkvContainer* c = checked(h);
  if (!c) return mkv::EBML_ERR_BAD_ARG;
  return guarded([&] { return mkv::set_info(*c, qid, data, index); });
}

ZEP_STATUS SetPosition(ZepModuleHandle h, uint32_t blockType, uint32_t stream, int64_t* time) {
  MkvContainer* c = checked(h);
  if (!c || !time) return mkv::EBML_ERR_BAD_ARG;
  return guarded([&] { return mkv::set_position(*c, blockType, stream, time); });
}

ZEP_STATUS SetTitleActiveStream(ZepModuleHandle h, uint32_t blockType, uint32_t stream,
                                uint32_t active) {
  MkvContainer* c = checked(h);
  if (!c) return mkv::EBML_ERR_BAD_ARG;
  return guarded([&] { return mkv::set_active_stream(*c, blockType, stream, active); });
}

ZEP_STATUS ReadNextBlock(ZepModuleHandle h, uint32_t* blockType, uint32_t* stream,
                         ZepBlock* block, uint64_t) {
  MkvContainer* c = checked(h);
  if (!c || !blockType || !stream) return mkv::EBML_ERR_BAD_ARG;
  if (!block) return ZEP_ERR_BLOCK_BUFFER_NULL;
  return guarded([&] { return mkv::read_next_block(*c, blockType, stream, block); });
}

ZEP_STATUS ReadNextBlockByStream(ZepModuleHandle h, uint32_t blockType, uint32_t stream,
                                 ZepBlock* block) {
  MkvContainer* c = checked(h);
  if (!c) return mkv::EBML_ERR_BAD_ARG;
  if (!block) return ZEP_ERR_BLOCK_BUFFER_NULL;
  return guarded([&] { return mkv::read_next_block_by_stream(*c, blockType, stream, block); });
}

// The second media set (menus) does not exist in Matroska files.
ZEP_STATUS AuxSetTitle(ZepModuleHandle, uint32_t) { return ZEP_OK; }
ZEP_STATUS AuxSetPosition(ZepModuleHandle, uint32_t, uint32_t, int64_t*) { return ZEP_OK; }
ZEP_STATUS AuxSetActiveStream(ZepModuleHandle, uint32_t, uint32_t, uint32_t) { return ZEP_OK; }
ZEP_STATUS AuxReadNextBlock(ZepModuleHandle, uint32_t*, uint32_t*, ZepBlock*, uint64_t) {
  return ZEP_OK;
}
ZEP_STATUS AuxReadNextBlockByStream(ZepModuleHandle, uint32_t, uint32_t, ZepBlock*) {
  return ZEP_OK;
}

const ZepModuleOps kOps = {
    .InitModule = InitModule,
    .GetModuleInfo = GetModuleInfo,
    .ProbeContainer = mkv::ProbeMatroska,
    .OpenContainer = OpenContainer,
    .OpenContainerEx = OpenContainerEx,
    .CloseContainer = CloseContainer,
    .SetTitle = SetTitle,
    .SetMenu = SetMenu,
    .GetInfo = GetInfo,
    .SetPosition = SetPosition,
    .SetTitleActiveStream = SetTitleActiveStream,
    .ReadNextBlock = ReadNextBlock,
    .ReadNextBlockByStream = ReadNextBlockByStream,
    .SetInfo = SetInfo,
    .AuxSetTitle = AuxSetTitle,
    .AuxSetPosition = AuxSetPosition,
    .AuxSetActiveStream = AuxSetActiveStream,
    .AuxReadNextBlock = AuxReadNextBlock,
    .AuxReadNextBlockByStream = AuxReadNextBlockByStream,
};

}  // namespace

const ZepModule zepMkvModule = {ZEP_MODULE_ID_MKV, &kInfo, &kOps};
