// The module registry: a process-wide table of read modules indexed by module
// id, filled by L1RegisterModules and never emptied, and the selection of a
// module for a file name by the modules' probes.
#include "layer1/zep_module.h"

namespace {

const ZepModule* g_modules[ZEP_REGISTRY_SIZE];
void* g_extras[ZEP_REGISTRY_SIZE];
bool g_initialised = false;

const zep_wchar_t kDispatchExtensions[] = u"logging";

const ZepModuleInfo* module_info(const ZepModule* module) {
  if (module->ops && module->ops->GetModuleInfo) return module->ops->GetModuleInfo();
  return module->info;
}

}  // namespace

extern "C" ZEP_STATUS L1RegisterModules(const ZepModuleList* list) {
  if (!list) return ZEP_E_NULL_ARG;
  if (list->count && !list->modules) return ZEP_E_NULL_ARG;
  if (!g_initialised) {
    for (uint32_t i = 0; i < ZEP_REGISTRY_SIZE; ++i) {
      g_modules[i] = nullptr;
      g_extras[i] = nullptr;
    }
  }
  for (uint64_t i = 0; i < list->count; ++i) {
    const ZepModule* module = list->modules[i];
    if (!module || module->id < 1 || module->id >= ZEP_REGISTRY_SIZE) continue;
    if (!module->ops || !module->ops->InitModule) return ZEP_ERR_LAYER1_FUNC_ERR;
    if (module->ops->InitModule(list) < 0) return ZEP_ERR_LAYER1_MODULE_INIT;
    g_modules[module->id] = module;
    if (list->extras) g_extras[module->id] = list->extras[i];
  }
  g_initialised = true;
  return ZEP_OK;
}

extern "C" const ZepModule* L1GetRegisteredModule(uint32_t id) {
  return id < ZEP_REGISTRY_SIZE ? g_modules[id] : nullptr;
}

extern "C" ZEP_STATUS L1SelectModule(uint32_t* id, const zep_wchar_t* name, uint32_t mode,
                                     void* context) {
  if (!id || !name) return ZEP_E_NULL_ARG;
  *id = 0;
  int32_t best = 0;
  for (uint32_t candidate = 1; candidate <= ZEP_MAX_SELECTABLE_MODULE_ID; ++candidate) {
    const ZepModule* module = g_modules[candidate];
    if (!module) continue;
    if (!module->ops || !module->ops->ProbeContainer) return ZEP_ERR_NULL_MODULE_FUNC;
    uint32_t score = 0;
    if (module->ops->ProbeContainer(&score, name, context) != ZEP_OK) continue;
    const ZepModuleInfo* info = module_info(module);
    if (!info) continue;
    // The dispatch module accepts every file but is never chosen itself.
    if (info->extensions && zep_wcscmp(info->extensions, kDispatchExtensions) == 0) continue;
    if (mode == 0 && !info->canRead) continue;
    if (mode == 1 && !info->canWrite) continue;
    if (int32_t(score) > best) {
      best = int32_t(score);
      *id = candidate;
    }
  }
  return ZEP_OK;
}
