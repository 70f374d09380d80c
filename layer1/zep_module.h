/* The container framework ("Layer 1"): read modules, their operation table,
 * the block descriptor, the container handle and the framework calls.
 *
 * Every read module is one constant ZepModule with a table of 36 operation
 * slots. L1OpenContainer selects a module by the modules' probes and opens the
 * file behind the dispatch module (id 16), which forwards every later call to
 * the chosen module and writes the call log. */
#ifndef ZEP_MODULE_H
#define ZEP_MODULE_H

#include <stdint.h>

#include "layer1/zep_qid.h"
#include "layer1/zep_status.h"
#include "platform/zep_platform.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Module ids. The registry accepts 1..49; selection and dispatch 1..16. */
#define ZEP_MODULE_ID_AVI 10u
#define ZEP_MODULE_ID_MKV 12u
#define ZEP_MODULE_ID_SUBTITLE 14u
#define ZEP_MODULE_ID_H264 15u
#define ZEP_MODULE_ID_DISPATCH 16u
#define ZEP_REGISTRY_SIZE 50u
#define ZEP_MAX_SELECTABLE_MODULE_ID 16u

/* Block types; a stream is named by its block type and its number within
 * that type, counted from 0. */
#define ZEP_BLOCK_AUDIO 1u
#define ZEP_BLOCK_VIDEO 2u
#define ZEP_BLOCK_SUBTITLE 3u

/* ZepBlock.flags: a block at which decoding can start. */
#define ZEP_BLOCK_FLAG_KEYFRAME 0x10u

/* Times are counted in 100-nanosecond units everywhere inside the library. */
#define ZEP_TIME_UNITS_PER_SECOND 10000000LL

/* The module's own handle, created by its open operation. */
typedef void* ZepModuleHandle;

/* Called by a module before it copies a block that may not fit: when needed
 * exceeds the capacity, the owner releases the old buffer (contents are not
 * kept), allocates `needed` bytes, stores the pointer through `data` and the
 * new capacity in its block, and returns 0; -10 when the allocation fails. */
typedef ZEP_STATUS (*ZepEnsureBlockCapacityFn)(uint8_t** data, uint32_t needed, void* context);

/* Block descriptor, owned by the caller of ReadNextBlock, filled by the module. */
typedef struct ZepBlock {
  uint8_t* data;
  uint32_t size;     /* payload bytes in data */
  uint32_t capacity; /* bytes allocated for data */
  uint32_t flags;    /* ZEP_BLOCK_FLAG_KEYFRAME */
  int64_t time;      /* start, 100 ns */
  int64_t duration;  /* 100 ns */
  uint32_t kind;     /* module-specific frame kind */
  ZepEnsureBlockCapacityFn EnsureBlockCapacity;
  void* callbackContext;
  uint32_t fillCount; /* bytes already in data ahead of the next read's data */
} ZepBlock;

/* Makes sure block->data can hold `needed` bytes: calls the block's callback
 * when it has one (and keeps block->capacity at least `needed` on success),
 * otherwise answers ZEP_ERR_BLOCK_BUFFER_TOO_SMALL when the buffer is too
 * small. Modules use this rather than calling the callback themselves. */
ZEP_STATUS zep_block_ensure_capacity(ZepBlock* block, uint32_t needed);

/* A block whose buffer lives on the C heap and grows on demand: for hosts of
 * the container layer (tools, tests, benchmarks). */
void zep_heap_block_init(ZepBlock* block);
void zep_heap_block_free(ZepBlock* block);

typedef struct ZepModuleInfo {
  uint32_t canRead;
  uint32_t canWrite;
  uint32_t flag3;
  uint32_t flag4;
  uint32_t flag5;
  uint32_t flag6;
  const zep_wchar_t* extensions; /* "logging" marks the dispatch module */
  const zep_wchar_t* description;
  uint64_t id;
} ZepModuleInfo;

struct ZepModule;

typedef struct ZepModuleList {
  uint64_t flags; /* bit 0: the static list */
  const struct ZepModule* const* modules;
  void* const* extras;
  uint64_t count;
  uint64_t reserved;
} ZepModuleList;

#define ZEP_MODULE_LIST_STATIC 1u

/* Signature of the reserved slots, which only the dispatch module forwards. */
typedef ZEP_STATUS (*ZepReservedOp)(ZepModuleHandle handle, uint64_t a, uint64_t b, uint64_t c,
                                    uint64_t d);

/* The 36 operation slots in slot order; an empty slot is a null pointer. */
typedef struct ZepModuleOps {
  /* 0 */ ZEP_STATUS (*InitModule)(const ZepModuleList* list);
  /* 1 */ const ZepModuleInfo* (*GetModuleInfo)(void);
  /* 2 */ ZEP_STATUS (*ProbeContainer)(uint32_t* score, const zep_wchar_t* name, void* context);
  /* 3 */ ZEP_STATUS (*OpenContainer)(ZepModuleHandle* handle, const zep_wchar_t* name,
                                      void* context);
  /* 4 */ ZEP_STATUS (*CreateContainer)(ZepModuleHandle* handle, const zep_wchar_t* name,
                                        void* context);
  /* 5 */ ZEP_STATUS (*OpenContainerEx)(ZepModuleHandle* handle, const zep_wchar_t* name,
                                        void* context, uint64_t extra1, uint64_t extra2);
  /* 6 */ void* slot6;
  /* 7 */ ZEP_STATUS (*Reserved7)(ZepModuleHandle* handle);
  /* 8 */ ZEP_STATUS (*CloseContainer)(ZepModuleHandle handle);
  /* 9 */ ZEP_STATUS (*SetTitle)(ZepModuleHandle handle, uint32_t title);
  /* 10 */ ZEP_STATUS (*SetMenu)(ZepModuleHandle handle, uint32_t menu);
  /* 11 */ ZEP_STATUS (*GetInfo)(ZepModuleHandle handle, uint32_t qid, ZepQueryData* data,
                                 uint32_t index);
  /* 12 */ ZEP_STATUS (*SetPosition)(ZepModuleHandle handle, uint32_t blockType, uint32_t stream,
                                     int64_t* time);
  /* 13 */ ZEP_STATUS (*SetTitleActiveStream)(ZepModuleHandle handle, uint32_t blockType,
                                              uint32_t stream, uint32_t active);
  /* 14 */ ZEP_STATUS (*ReadNextBlock)(ZepModuleHandle handle, uint32_t* blockType,
                                       uint32_t* stream, ZepBlock* block, uint64_t callerContext);
  /* 15 */ ZEP_STATUS (*ReadNextBlockByStream)(ZepModuleHandle handle, uint32_t blockType,
                                               uint32_t stream, ZepBlock* block);
  /* 16 */ ZEP_STATUS (*WriteNextBlock)(ZepModuleHandle handle, uint32_t blockType, uint32_t stream,
                                        ZepBlock* block);
  /* 17 */ ZEP_STATUS (*AddStream)(ZepModuleHandle handle, uint32_t blockType, uint64_t description,
                                   uint32_t* streamOfType);
  /* 18 */ ZEP_STATUS (*SetInfo)(ZepModuleHandle handle, uint32_t qid, ZepQueryData* data,
                                 uint32_t index, uint64_t extra);
  /* 19 */ ZEP_STATUS (*AddTitle)(ZepModuleHandle handle, uint32_t* titleId);
  /* 20 */ ZepReservedOp Reserved20;
  /* 21 */ ZepReservedOp Reserved21;
  /* 22 */ ZEP_STATUS (*AuxSetTitle)(ZepModuleHandle handle, uint32_t index);
  /* 23 */ ZEP_STATUS (*AuxSetPosition)(ZepModuleHandle handle, uint32_t blockType, uint32_t stream,
                                        int64_t* time);
  /* 24 */ ZEP_STATUS (*AuxSetActiveStream)(ZepModuleHandle handle, uint32_t blockType,
                                            uint32_t stream, uint32_t active);
  /* 25 */ ZEP_STATUS (*AuxReadNextBlock)(ZepModuleHandle handle, uint32_t* blockType,
                                          uint32_t* stream, ZepBlock* block,
                                          uint64_t callerContext);
  /* 26 */ ZEP_STATUS (*AuxReadNextBlockByStream)(ZepModuleHandle handle, uint32_t blockType,
                                                  uint32_t stream, ZepBlock* block);
  /* 27 */ ZepReservedOp Reserved27;
  /* 28 */ ZepReservedOp Reserved28;
  /* 29 */ void* slot29;
  /* 30 */ void* slot30;
  /* 31 */ void* slot31;
  /* 32 */ ZEP_STATUS (*FinishTitle)(ZepModuleHandle handle);
  /* 33 */ ZepReservedOp Reserved33;
  /* 34 */ ZepReservedOp Reserved34;
  /* 35 */ void* slot35;
} ZepModuleOps;

#ifdef __cplusplus
static_assert(sizeof(ZepModuleOps) == 36 * sizeof(void*), "36 operation slots");
#endif

typedef struct ZepModule {
  uint32_t id;
  const ZepModuleInfo* info;
  const ZepModuleOps* ops;
} ZepModule;

/* Container handle created by L1OpenContainer. */
#define ZEP_INTERLEAVER_TABLE_SIZE 100u
typedef struct ZepContainer {
  uint32_t moduleId; /* 16 after a successful open */
  ZepModuleHandle moduleHandle;
  uint32_t interleaverIndex;
  uint64_t interleaverTable[ZEP_INTERLEAVER_TABLE_SIZE];
  void* allocContext;
} ZepContainer;

/* ---- Registry ----------------------------------------------------------- */

ZEP_STATUS L1RegisterModules(const ZepModuleList* list);
/* mode 0 read, 1 write; ties go to the lowest id; no match leaves *id 0. */
ZEP_STATUS L1SelectModule(uint32_t* id, const zep_wchar_t* name, uint32_t mode, void* context);
/* The registered module under an id, or null. */
const ZepModule* L1GetRegisteredModule(uint32_t id);

/* ---- Framework calls ---------------------------------------------------- */

/* Registers the static module list (AVI, the other read modules as they are
 * built, and the dispatch module). 0, or ZEP_ERR_LAYER1_MODULE_INIT. */
ZEP_STATUS L1Start(void);
ZEP_STATUS L1OpenContainer(ZepContainer** out, const zep_wchar_t* name, void* context);
/* The same with the two extra arguments of OpenContainerEx (zero: none). */
ZEP_STATUS L1OpenContainerEx(ZepContainer** out, const zep_wchar_t* name, void* context,
                             uint64_t extra1, uint64_t extra2);
ZEP_STATUS L1CloseContainer(ZepContainer* container);
ZEP_STATUS L1SetTitle(ZepContainer* container, uint32_t title);
ZEP_STATUS L1SetTitleActiveStream(ZepContainer* container, uint32_t blockType, uint32_t stream,
                                  uint32_t active);
ZEP_STATUS L1ReadNextBlock(ZepContainer* container, uint32_t* blockType, uint32_t* stream,
                           ZepBlock* block, uint64_t callerContext);
ZEP_STATUS L1ReadNextBlockByStream(ZepContainer* container, uint32_t blockType, uint32_t stream,
                                   ZepBlock* block);
ZEP_STATUS L1SetPosition(ZepContainer* container, uint32_t blockType, uint32_t stream,
                         int64_t* time);
ZEP_STATUS L1GetInfo(ZepContainer* container, uint32_t qid, ZepQueryData* data, uint32_t index);
ZEP_STATUS L1SetInfo(ZepContainer* container, uint32_t qid, ZepQueryData* data, uint32_t index,
                     uint64_t extra);

/* The dispatch module (id 16, "logging"). */
extern const ZepModule zepDispatchModule;

#ifdef __cplusplus
}
#endif

#endif /* ZEP_MODULE_H */
