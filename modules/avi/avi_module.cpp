// The module record of the AVI read module and its operation slots: argument
// checks at the boundary, then the work of the avi_* files.
#include "modules/avi/avi_module.h"

#include <cstring>

#include "modules/avi/avi_context.h"
#include "modules/avi/avi_headers.h"
#include "modules/avi/avi_info.h"
#include "modules/avi/avi_read.h"

namespace {

using namespace avi;

// The five words of the module list handed to InitModule.
ZepModuleList gModuleList{};

const ZepModuleInfo kInfo = {
    1, 0, 1, 0, 1, 0, u".avi, .norv", u"AVI 1.0 and AVI 2.0 read module.", ZEP_MODULE_ID_AVI};

ZEP_STATUS InitModule(const ZepModuleList* list) {
  if (list) gModuleList = *list;
  return ZEP_OK;
}

const ZepModuleInfo* GetModuleInfo() { return &kInfo; }

// The name's extension: the text after its last "." without trailing blanks.
bool extension_matches(const zep_wchar_t* name) {
  static const char16_t* const kExtensions[] = {u".norv", u".avi",  u".AVI",
                                                u".NORV", u".qsub", u".QSUB"};
  std::u16string s(name);
  size_t dot = s.rfind(u'.');
  if (dot == std::u16string::npos || dot == 0) return false;
  std::u16string ext = s.substr(dot);
  while (!ext.empty() && (ext.back() == u' ' || ext.back() == u'\t')) ext.pop_back();
  for (const char16_t* e : kExtensions)
    if (ext == e) return true;
  return false;
}

ZEP_STATUS ProbeContainer(uint32_t* score, const zep_wchar_t* name, void* context) {
  if (!score || !name) return ZEP_FAIL;
  *score = 0;
  ZepFile* file = nullptr;
  if (zep_file_open(name, ZEP_FILE_READ, &file, context) == ZEP_OK && file) {
    uint8_t head[12];
    uint32_t got = 0;
    ZEP_STATUS status = zep_file_read(file, head, sizeof head, &got);
    zep_file_close(file);
    if (status < 0 || got < 12) return ZEP_FAIL;
    if (std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "AVI ", 4) == 0) *score = 100;
    return ZEP_OK;
  }
  if (extension_matches(name)) *score = 100;
  return ZEP_OK;
}

void release_handle(AviHandle* handle) {
  if (!handle) return;
  AviContext* ctx = handle->context;
  if (ctx) {
    void* mem = ctx->memoryContext;
    if (ctx->menu && aviMenuOps.CloseMenu) aviMenuOps.CloseMenu(ctx->menu);
    ctx->menu = nullptr;
    release_media_set(ctx->titles, mem);
    release_media_set(ctx->menuMedia, mem);
    if (ctx->file.file) zep_file_close(ctx->file.file);
    if (ctx->fileName) zep_wcsfree(ctx->fileName, mem);
    if (ctx->menuBuffer) zep_mem_free(ctx->menuBuffer, mem);
    if (ctx->httpAuth) zep_mem_free(ctx->httpAuth, mem);
    zep_mem_free(ctx, mem);
    zep_mem_free(handle, mem);
    return;
  }
  zep_mem_free(handle, nullptr);
}

ZEP_STATUS OpenContainerEx(ZepModuleHandle* out, const zep_wchar_t* name, void* context,
                           uint64_t userValueA, uint64_t userValueB) {
  if (!out) return ZEP_E_NULL_ARG;
  *out = nullptr;
  if (!name) return ZEP_E_NULL_ARG;
  auto* handle = static_cast<AviHandle*>(zep_mem_alloc(sizeof(AviHandle), context));
  auto* ctx = static_cast<AviContext*>(zep_mem_alloc(sizeof(AviContext), context));
  auto* menuBuffer = static_cast<uint8_t*>(zep_mem_alloc(AVI_MENU_BUFFER_SIZE, context));
  if (!handle || !ctx || !menuBuffer) {
    if (handle) zep_mem_free(handle, context);
    if (ctx) zep_mem_free(ctx, context);
    if (menuBuffer) zep_mem_free(menuBuffer, context);
    return ZEP_E_NO_MEMORY;
  }
  handle->context = ctx;
  ctx->userValueA = userValueA;
  ctx->userValueB = userValueB;
  ctx->memoryContext = context;
  ctx->menuBuffer = menuBuffer;
  ctx->menuPosition = kNoPosition;
  ctx->titles.currentTitle = kNoTitle;
  ctx->titles.offsets = ctx->titlePositions;
  ctx->menuMedia.currentTitle = kNoTitle;
  ctx->menuMedia.offsets = ctx->menuMediaPositions;
  ctx->menuMedia.isMenu = true;
  ctx->titles.onTheFly = true;

  ZEP_STATUS status = ZEP_OK;
  if (zep_wcslen(name) >= 6 && zep_wcsncmp(name, u"http:", 5) == 0) {
    status = ZEP_ERR_REMOTE_FILE_UNSUPPORTED;
  } else if (zep_file_open(name, ZEP_FILE_READ, &ctx->file.file, context) < 0 || !ctx->file.file) {
    ctx->file.file = nullptr;
    status = ZEP_E_CANNOT_OPEN;
  } else {
    uint64_t size = 0;
    if (zep_file_seek(ctx->file.file, 0, 2, &size) == ZEP_OK) ctx->file.size = size;
    status = scan_top_level(handle);
  }
  if (status >= 0) {
    ctx->fileName = zep_wcsdup(name, context);
    if (!ctx->fileName) status = ZEP_E_NO_MEMORY;
  }
  if (status < 0) {
    release_handle(handle);
    return status;
  }
  *out = handle;
  return status;
}

ZEP_STATUS OpenContainer(ZepModuleHandle* out, const zep_wchar_t* name, void* context) {
  return OpenContainerEx(out, name, context, 0, 0);
}

AviHandle* checked(ZepModuleHandle h) {
  auto* handle = static_cast<AviHandle*>(h);
  return handle && handle->context ? handle : nullptr;
}

ZEP_STATUS CloseContainer(ZepModuleHandle h) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  release_handle(handle);
  return ZEP_OK;
}

ZEP_STATUS SetTitle(ZepModuleHandle h, uint32_t title) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  AviMediaSet& set = handle->context->titles;
  if (set.currentTitle != kNoTitle && title == set.currentTitle) return ZEP_OK;
  if (title >= set.titleCount || title >= kMaxTitles) return ZEP_FAIL;
  return parse_title(handle, set, set.offsets[title], uint16_t(title));
}

ZEP_STATUS SetMenu(ZepModuleHandle h, uint32_t) { return checked(h) ? ZEP_OK : ZEP_E_NULL_ARG; }

ZEP_STATUS GetInfo(ZepModuleHandle h, uint32_t qid, ZepQueryData* data, uint32_t index) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  return get_info(handle, qid, data, index);
}

ZEP_STATUS SetInfo(ZepModuleHandle h, uint32_t qid, ZepQueryData* data, uint32_t index, uint64_t) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  return set_info(handle, qid, data, index);
}

ZEP_STATUS SetPosition(ZepModuleHandle h, uint32_t blockType, uint32_t stream, int64_t* time) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  return set_position(*handle->context, handle->context->titles, blockType, stream, time);
}

ZEP_STATUS SetTitleActiveStream(ZepModuleHandle h, uint32_t blockType, uint32_t stream,
                                uint32_t active) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  return set_active_stream(handle->context->titles, blockType, stream, active);
}

ZEP_STATUS ReadNextBlock(ZepModuleHandle h, uint32_t* blockType, uint32_t* stream, ZepBlock* block,
                         uint64_t) {
  AviHandle* handle = checked(h);
  if (!handle || !blockType || !stream) return ZEP_E_NULL_ARG;
  if (!block) return ZEP_ERR_BLOCK_BUFFER_NULL;
  return read_next_block(*handle->context, handle->context->titles, blockType, stream, block);
}

ZEP_STATUS ReadNextBlockByStream(ZepModuleHandle h, uint32_t blockType, uint32_t stream,
                                 ZepBlock* block) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  if (!block) return ZEP_ERR_BLOCK_BUFFER_NULL;
  return read_next_block_by_stream(*handle->context, handle->context->titles, blockType, stream,
                                   block);
}

// ---- The menu media set ---------------------------------------------------

ZEP_STATUS AuxSetTitle(ZepModuleHandle h, uint32_t index) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  AviContext& ctx = *handle->context;
  if (!ctx.menu || !aviMenuOps.MenuGetInfo) return ZEP_ERR_SCAN_RIFF_FAILURE;
  ZepQueryData q{};
  q.valueType = ZEP_QTYPE_TIME64;
  if (aviMenuOps.MenuGetInfo(ctx.menu, ZEP_QID_MENUMEDIA_OFFSET, &q, index) < 0)
    return ZEP_ERR_SCAN_RIFF_FAILURE;
  // A page without linked media answers position 0: that is the first title,
  // never a menu media, so there is nothing to load.
  if (q.value.u64 == 0) return ZEP_ERR_SCAN_RIFF_FAILURE;
  uint16_t title = uint16_t(index < kNoTitle ? index : kNoTitle - 1);
  ZEP_STATUS status = parse_title(handle, ctx.menuMedia, q.value.u64, title);
  return status < 0 ? ZEP_ERR_SCAN_RIFF_FAILURE : status;
}

ZEP_STATUS AuxSetPosition(ZepModuleHandle h, uint32_t blockType, uint32_t stream, int64_t* time) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  return set_position(*handle->context, handle->context->menuMedia, blockType, stream, time);
}

ZEP_STATUS AuxSetActiveStream(ZepModuleHandle h, uint32_t blockType, uint32_t stream,
                              uint32_t active) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  return set_active_stream(handle->context->menuMedia, blockType, stream, active);
}

ZEP_STATUS AuxReadNextBlock(ZepModuleHandle h, uint32_t* blockType, uint32_t* stream,
                            ZepBlock* block, uint64_t) {
  AviHandle* handle = checked(h);
  if (!handle || !blockType || !stream) return ZEP_E_NULL_ARG;
  if (!block) return ZEP_ERR_BLOCK_BUFFER_NULL;
  return read_next_block(*handle->context, handle->context->menuMedia, blockType, stream, block);
}

ZEP_STATUS AuxReadNextBlockByStream(ZepModuleHandle h, uint32_t blockType, uint32_t stream,
                                    ZepBlock* block) {
  AviHandle* handle = checked(h);
  if (!handle) return ZEP_E_NULL_ARG;
  if (!block) return ZEP_ERR_BLOCK_BUFFER_NULL;
  ZEP_STATUS status = read_next_block_by_stream(*handle->context, handle->context->menuMedia,
                                                blockType, stream, block);
  if (status >= 0 || status == ZEP_ERR_END_OF_STREAM || status == ZEP_ERR_BLOCK_BUFFER_TOO_SMALL)
    return status;
  return ZEP_ERR_BLOCK_READ_FAILURE;
}

const ZepModuleOps kOps = {
    .InitModule = InitModule,
    .GetModuleInfo = GetModuleInfo,
    .ProbeContainer = ProbeContainer,
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

const ZepModule zepAviModule = {ZEP_MODULE_ID_AVI, &kInfo, &kOps};
