// Small read modules defined for the framework's tests. Their behaviour is
// steered by the globals in FakeState; each test resets it and registers the
// modules it needs together with the dispatch module.
#pragma once

#include <string>
#include <vector>

#include "layer1/zep_module.h"

namespace fake {

struct FakeState {
  std::u16string lastOpenedName;
  std::vector<uint8_t> blockBytes{0xCA, 0xFE, 0xBA, 0xBE};
  int64_t blockTime = 400000;
  ZEP_STATUS openStatus = ZEP_OK;
  int openHandles = 0;  // open minus closed
  int initCalls = 0;
  ZEP_STATUS initStatus = ZEP_OK;
};
FakeState& state();
void reset();

// By id: A 3 takes ".aaa" (100); B 5 ".aaa" 100 (a tie A wins with its lower
// id) and ".bbb" 50; C 7 ".bbb" 80; WriteOnly 9 ".ccc" 200, writes only;
// NoProbe 11 has no probe slot; FakeLogging 12 calls itself "logging" and
// scores 500 on everything; FailingInit 13 fails init with
// state().initStatus; NoInit 14 has no init slot. A fills most slots.
extern const ZepModule kModuleA, kModuleB, kModuleC, kWriteOnly, kNoProbe, kFakeLogging,
    kFailingInit, kNoInit;

// Registers the given modules and the dispatch module. The registry is
// process-wide and never emptied; CTest runs every case in its own process.
ZEP_STATUS register_modules(std::initializer_list<const ZepModule*> modules);

}  // namespace fake
