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

// id 3: takes names ending in ".aaa" (score 100); fills most slots.
extern const ZepModule kModuleA;
// id 5: ".aaa" 100 (ties with A, which has the lower id), ".bbb" 50.
extern const ZepModule kModuleB;
// id 7: ".bbb" 80.
extern const ZepModule kModuleC;
// id 9: write-only, ".ccc" 200.
extern const ZepModule kWriteOnly;
// id 11: no probe slot at all.
extern const ZepModule kNoProbe;
// id 12: calls itself "logging" and scores 500 on everything.
extern const ZepModule kFakeLogging;
// id 13: init fails with state().initStatus.
extern const ZepModule kFailingInit;
// id 14: no init slot.
extern const ZepModule kNoInit;

// Registers the given modules and the dispatch module. The registry is
// process-wide and never emptied; CTest runs every case in its own process.
ZEP_STATUS register_modules(std::initializer_list<const ZepModule*> modules);

}  // namespace fake
