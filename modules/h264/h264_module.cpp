// The raw H.264 read module's record and operation table: argument checks at
// the module boundary, then the reader's operations.
#include "modules/h264/h264_module.h"

#include <new>

#include "modules/h264/h264_reader.h"

namespace {

using zep::h264::AvcReader;

const ZepModuleInfo kInfo = {
    1, 0, 1, 0, 0, 1, u".h264, .264, .avc", u"AVC read module.", ZEP_MODULE_ID_H264,
};

AvcReader* reader_of(ZepModuleHandle handle) { return static_cast<AvcReader*>(handle); }

char16_t ascii_lower(char16_t c) { return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c; }

// True when `extension` (from the dot on, trailing spaces removed) equals
// `wanted` ignoring ASCII case.
bool extension_is(const zep_wchar_t* extension, uint32_t length, const char16_t* wanted) {
  uint32_t i = 0;
  for (; i < length && wanted[i]; ++i) {
    if (ascii_lower(extension[i]) != wanted[i]) return false;
  }
  return i == length && wanted[i] == 0;
}

ZEP_STATUS init_module(const ZepModuleList*) { return ZEP_OK; }

const ZepModuleInfo* get_module_info() { return &kInfo; }

ZEP_STATUS probe_container(uint32_t* score, const zep_wchar_t* name, void*) {
  if (score) *score = 0;
  if (!score || !name) return ZEP_FAIL;
  uint32_t length = zep_wcslen(name);
  while (length > 0 && name[length - 1] == u' ') --length;
  uint32_t dot = length;
  for (uint32_t i = length; i-- > 0;) {
    if (name[i] == u'.') {
      dot = i;
      break;
    }
  }
  // No dot, or the only dot is the first character: no extension.
  if (dot == length || dot == 0) return ZEP_OK;
  const zep_wchar_t* extension = name + dot;
  const uint32_t extension_length = length - dot;
  if (extension_is(extension, extension_length, u".264") ||
      extension_is(extension, extension_length, u".h264") ||
      extension_is(extension, extension_length, u".avc")) {
    *score = 100;
  }
  return ZEP_OK;
}

ZEP_STATUS open_container(ZepModuleHandle* handle, const zep_wchar_t* name, void* context) {
  if (!handle || !name) return ZEP_E_NULL_ARG;
  *handle = nullptr;
  void* memory = zep_mem_alloc(sizeof(AvcReader), context);
  if (!memory) return ZEP_E_NO_MEMORY;
  auto* reader = new (memory) AvcReader();
  reader->context = context;
  const ZEP_STATUS status = reader->source.open(name, context);
  if (status < 0) {
    reader->~AvcReader();
    zep_mem_free(memory, context);
    return status;
  }
  *handle = reader;
  return ZEP_OK;
}

ZEP_STATUS close_container(ZepModuleHandle handle) {
  AvcReader* reader = reader_of(handle);
  if (!reader) return ZEP_E_NULL_ARG;
  void* context = reader->context;
  reader->~AvcReader();
  zep_mem_free(reader, context);
  return ZEP_OK;
}

ZEP_STATUS set_title(ZepModuleHandle handle, uint32_t title) {
  AvcReader* reader = reader_of(handle);
  if (!reader) return ZEP_E_NULL_ARG;
  return zep::h264::reader_set_title(*reader, title);
}

ZEP_STATUS get_info(ZepModuleHandle handle, uint32_t qid, ZepQueryData* data, uint32_t index) {
  AvcReader* reader = reader_of(handle);
  if (!reader || !data) return ZEP_E_NULL_ARG;
  return zep::h264::reader_get_info(*reader, qid, data, index);
}

ZEP_STATUS set_position(ZepModuleHandle handle, uint32_t, uint32_t, int64_t* time) {
  AvcReader* reader = reader_of(handle);
  if (!reader || !time) return ZEP_E_NULL_ARG;
  // Only the start can be reached: the stream has no index.
  if (*time != 0) return ZEP_FAIL;
  reader->access_units = 0;
  reader->order.restart_access_units();
  return ZEP_OK;
}

ZEP_STATUS set_title_active_stream(ZepModuleHandle handle, uint32_t block_type, uint32_t stream,
                                   uint32_t active) {
  AvcReader* reader = reader_of(handle);
  if (!reader) return ZEP_E_NULL_ARG;
  if (block_type != ZEP_BLOCK_VIDEO || stream != 0) return ZEP_FAIL;
  reader->active = active;
  return ZEP_OK;
}

ZEP_STATUS read_next_block_by_stream(ZepModuleHandle handle, uint32_t, uint32_t, ZepBlock* block) {
  AvcReader* reader = reader_of(handle);
  if (!reader || !block) return ZEP_E_NULL_ARG;
  return zep::h264::reader_read_access_unit(*reader, block);
}

ZEP_STATUS read_next_block(ZepModuleHandle handle, uint32_t* block_type, uint32_t* stream,
                           ZepBlock* block, uint64_t) {
  AvcReader* reader = reader_of(handle);
  if (!reader || !block_type || !stream || !block) return ZEP_E_NULL_ARG;
  if (!reader->active || !reader->title_set) {
    *block_type = 0;
    *stream = UINT32_MAX;
    return ZEP_WARN_NONFATAL;
  }
  *block_type = ZEP_BLOCK_VIDEO;
  *stream = 0;
  return zep::h264::reader_read_access_unit(*reader, block);
}

const ZepModuleOps kOps = {
    .InitModule = init_module,
    .GetModuleInfo = get_module_info,
    .ProbeContainer = probe_container,
    .OpenContainer = open_container,
    .CloseContainer = close_container,
    .SetTitle = set_title,
    .GetInfo = get_info,
    .SetPosition = set_position,
    .SetTitleActiveStream = set_title_active_stream,
    .ReadNextBlock = read_next_block,
    .ReadNextBlockByStream = read_next_block_by_stream,
};

}  // namespace

extern "C" const ZepModule zepH264Module = {ZEP_MODULE_ID_H264, &kInfo, &kOps};
