// The instance and the host's callbacks: creation, release, the version
// query, and the memory helpers every other part of the API uses.
#include <cstdlib>
#include <cstring>

#include "api/zep_demux_internal.h"

namespace zep::api {
namespace {

void* heap_malloc(void* /*context*/, size_t size) { return std::malloc(size); }
void heap_free(void* /*context*/, void* pointer) { std::free(pointer); }
void silent_printf(void* /*context*/, const char* /*format*/, ...) {}

zepdmux_printf_ex_t lookup_printf(zepdmux_get_rc_t getRc, void* context, const char* name) {
  zepdmux_func_t fn = getRc(context, name);
  return fn != nullptr ? reinterpret_cast<zepdmux_printf_ex_t>(fn) : &silent_printf;
}

int32_t version_function(uint32_t query, void* out) {
  if (out == nullptr) return 1;
  switch (query) {
    case ZEP_VERSION_QUERY_API: {
      const uint32_t one = 1;
      std::memcpy(out, &one, sizeof one);
      return 0;
    }
    case ZEP_VERSION_QUERY_VERSION:
      std::memcpy(out, "10.3.16.2760", 12);
      return 0;
    case ZEP_VERSION_QUERY_PLATFORM:
      std::memcpy(out, "RSPLATFORM_X64", 14);
      return 0;
    default:
      return 1;
  }
}

}  // namespace

void* host_alloc(Instance* demux, uint64_t size) {
  if (size == 0 || size > SIZE_MAX) return nullptr;
  void* p = demux->mallocEx(demux->context, static_cast<size_t>(size));
  if (p != nullptr) std::memset(p, 0, static_cast<size_t>(size));
  return p;
}

void host_free(Instance* demux, void* pointer) {
  if (pointer != nullptr) demux->freeEx(demux->context, pointer);
}

namespace {

uint32_t text_hash(const char* text) {
  uint32_t h = 2166136261u;  // FNV-1a
  for (; *text; ++text) h = (h ^ uint8_t(*text)) * 16777619u;
  return h;
}

void damage_to_host(void* context, uint64_t offset, const char* text) {
  auto* demux = static_cast<Instance*>(context);
  DamageLog& log = demux->damage;
  const uint32_t hash = text_hash(text);
  for (uint32_t i = 0; i < log.count; ++i)
    if (log.offsets[i] == offset && log.hashes[i] == hash) return;
  if (log.count == kMaxDamageReports) {
    if (!log.silenced) demux->wrn(demux->context, "Further damage in the file is not reported");
    log.silenced = 1;
    return;
  }
  log.offsets[log.count] = offset;
  log.hashes[log.count] = hash;
  ++log.count;
  demux->wrn(demux->context, "%s at byte offset %llu", text,
             static_cast<unsigned long long>(offset));
}

}  // namespace

DamageToHost::DamageToHost(Instance* demux) : scope_(&damage_to_host, demux) {}

}  // namespace zep::api

using namespace zep::api;

extern "C" ZEPDEMUX_API zepdmux_t* zepDemuxNew(zepdmux_get_rc_t getRc, void* context,
                                               const zepdmux_settings_t* settings) {
  zepdmux_malloc_ex_t mallocEx = nullptr;
  zepdmux_free_ex_t freeEx = nullptr;
  if (getRc != nullptr) {
    mallocEx = reinterpret_cast<zepdmux_malloc_ex_t>(getRc(context, "malloc_ex"));
    freeEx = reinterpret_cast<zepdmux_free_ex_t>(getRc(context, "free_ex"));
  }
  // Memory comes from the host only when it offers both halves.
  if (mallocEx == nullptr || freeEx == nullptr) {
    mallocEx = &heap_malloc;
    freeEx = &heap_free;
  }
  auto* demux = static_cast<zepdmux_t*>(mallocEx(context, sizeof(zepdmux_t)));
  if (demux == nullptr) return nullptr;
  std::memset(static_cast<void*>(demux), 0, sizeof(zepdmux_t));
  demux->mallocEx = mallocEx;
  demux->freeEx = freeEx;
  demux->getRc = getRc;
  if (getRc != nullptr) {
    demux->err = lookup_printf(getRc, context, "err_printf_ex");
    demux->wrn = lookup_printf(getRc, context, "wrn_printf_ex");
    demux->inf = lookup_printf(getRc, context, "inf_printf_ex");
    demux->prg = lookup_printf(getRc, context, "prg_printf_ex");
  } else {
    demux->err = demux->wrn = demux->inf = demux->prg = &silent_printf;
  }
  demux->context = context;
  if (settings != nullptr) std::memcpy(demux->settings, settings, sizeof demux->settings);
  if (L1Start() < 0) {
    demux->err(context, "Unable to initialize ZEP demuxer");
    freeEx(context, demux);
    return nullptr;
  }
  return demux;
}

extern "C" ZEPDEMUX_API void zepDemuxFree(zepdmux_t* demux) {
  if (demux == nullptr) return;
  zepDemuxClose(demux);
  demux->freeEx(demux->context, demux);
}

extern "C" ZEPDEMUX_API zepdmux_func_t zepDemuxGetAPIExt(uint32_t which) {
  if (which != ZEP_API_EXT_VERSION) return nullptr;
  return reinterpret_cast<zepdmux_func_t>(&version_function);
}
