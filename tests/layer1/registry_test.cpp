#include <gtest/gtest.h>

#include <cstdlib>

#include "tests/layer1/fake_modules.h"

namespace {

uint32_t select(const char16_t* name, uint32_t mode = 0) {
  uint32_t id = 99;
  EXPECT_EQ(L1SelectModule(&id, name, mode, nullptr), ZEP_OK);
  return id;
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { fake::reset(); }
};

TEST_F(Registry, HighestScoreWinsAndTiesGoToTheLowestId) {
  ASSERT_EQ(fake::register_modules({&fake::kModuleA, &fake::kModuleB, &fake::kModuleC}), ZEP_OK);
  EXPECT_EQ(select(u"clip.aaa"), 3u);  // A and B both score 100
  EXPECT_EQ(select(u"clip.bbb"), 7u);  // C's 80 beats B's 50
  EXPECT_EQ(select(u"clip.zzz"), 0u);  // nobody
  EXPECT_EQ(fake::state().initCalls, 3);
}

TEST_F(Registry, ModeSkipsModulesThatCannotReadOrWriteAndLoggingIsNeverChosen) {
  ASSERT_EQ(fake::register_modules({&fake::kModuleA, &fake::kWriteOnly, &fake::kFakeLogging}),
            ZEP_OK);
  EXPECT_EQ(select(u"x.qqq"), 0u);  // the logging module scores 500, yet is skipped
  EXPECT_EQ(select(u"x.ccc", 0), 0u);
  EXPECT_EQ(select(u"x.ccc", 1), 9u);
  EXPECT_EQ(select(u"x.aaa", 1), 0u);  // A cannot write
  EXPECT_EQ(select(u"x.ccc", 7), 9u);  // other modes skip nothing
}

// Cases that leave a module without a probe in the registry run in a child
// process, so that the rest of the binary keeps a usable registry.
TEST_F(Registry, MissingProbeStopsSelection) {
  EXPECT_EXIT(
      {
        fake::register_modules({&fake::kModuleA, &fake::kNoProbe});
        uint32_t id = 1;
        std::exit(L1SelectModule(&id, u"x.aaa", 0, nullptr) == ZEP_ERR_NULL_MODULE_FUNC ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(Registry, NullArgumentsAndRegistrationFailures) {
  uint32_t id = 0;
  EXPECT_EQ(L1SelectModule(nullptr, u"x", 0, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(L1SelectModule(&id, nullptr, 0, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(L1RegisterModules(nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(fake::register_modules({&fake::kNoInit}), ZEP_ERR_LAYER1_FUNC_ERR);
  fake::state().initStatus = ZEP_ERR_KILL;
  EXPECT_EQ(fake::register_modules({&fake::kFailingInit}), ZEP_ERR_LAYER1_MODULE_INIT);
  EXPECT_EXIT(
      {
        fake::state().initStatus = ZEP_WARN_NONFATAL;  // a warning is no failure
        std::exit(fake::register_modules({&fake::kFailingInit}) == ZEP_OK ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(Registry, OutOfRangeIdsAndNullEntriesAreSkipped) {
  static const ZepModule kHighId = {50, fake::kModuleA.info, fake::kModuleA.ops};
  static const ZepModule kZeroId = {0, fake::kModuleA.info, fake::kModuleA.ops};
  const ZepModule* modules[] = {nullptr, &kHighId, &kZeroId, &fake::kModuleB};
  void* extras[] = {nullptr, nullptr, nullptr, reinterpret_cast<void*>(0x1234)};
  ZepModuleList list = {0, modules, extras, 4, 0};
  ASSERT_EQ(L1RegisterModules(&list), ZEP_OK);
  EXPECT_EQ(L1GetRegisteredModule(50), nullptr);
  EXPECT_EQ(L1GetRegisteredModule(5), &fake::kModuleB);
  EXPECT_EQ(fake::state().initCalls, 1);
}

TEST_F(Registry, StartRegistersTheStaticListWithDispatchLast) {
  ASSERT_EQ(L1Start(), ZEP_OK);
  EXPECT_EQ(L1GetRegisteredModule(ZEP_MODULE_ID_DISPATCH), &zepDispatchModule);
  ASSERT_EQ(L1Start(), ZEP_OK);  // again: same modules, no failure
  const ZepModuleInfo* info = zepDispatchModule.ops->GetModuleInfo();
  EXPECT_EQ(zep::u16_to_utf8(info->extensions), "logging");
  EXPECT_EQ(zep::u16_to_utf8(info->description), "logging module.");
  EXPECT_EQ(info->canWrite, 1u);
}

}  // namespace
