#include <gtest/gtest.h>

#include "tests/layer1/fake_modules.h"

namespace {

class Container : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    ASSERT_EQ(fake::register_modules({&fake::kModuleA, &fake::kModuleC}), ZEP_OK);
  }
  ZepContainer* open(const char16_t* name, ZEP_STATUS expected = ZEP_OK) {
    ZepContainer* c = nullptr;
    EXPECT_EQ(L1OpenContainer(&c, name, nullptr), expected);
    return c;
  }
};

TEST_F(Container, OpenGoesThroughDispatchAndCloseReleasesEverything) {
  ZepContainer* c = open(u"/media/clip.aaa");
  ASSERT_NE(c, nullptr);
  EXPECT_EQ(c->moduleId, ZEP_MODULE_ID_DISPATCH);
  EXPECT_EQ(c->interleaverIndex, 0u);
  EXPECT_EQ(fake::state().openHandles, 1);
  EXPECT_EQ(L1CloseContainer(c), ZEP_OK);
  EXPECT_EQ(fake::state().openHandles, 0);
}

TEST_F(Container, FilePrefixIsDroppedOnlyInLowerCase) {
  L1CloseContainer(open(u"file:///media/clip.aaa"));
  EXPECT_EQ(fake::state().lastOpenedName, u"/media/clip.aaa");
  L1CloseContainer(open(u"FILE:///media/clip.aaa"));
  EXPECT_EQ(fake::state().lastOpenedName, u"FILE:///media/clip.aaa");
}

TEST_F(Container, UnknownFilesAndFailedOpensGiveNoContainerWarningsOpen) {
  ZepContainer* c = reinterpret_cast<ZepContainer*>(0x1);
  EXPECT_EQ(L1OpenContainer(&c, u"clip.zzz", nullptr), ZEP_ERR_UNSUPPORTED_CONTAINER);
  EXPECT_EQ(c, nullptr);
  fake::state().openStatus = ZEP_ERR_FILE_OPEN_FAILURE;
  EXPECT_EQ(open(u"clip.aaa", ZEP_ERR_FILE_OPEN_FAILURE), nullptr);
  EXPECT_EQ(L1OpenContainer(nullptr, u"clip.aaa", nullptr), ZEP_ERR_INVALID_HANDLER);
  EXPECT_EQ(L1OpenContainer(&c, nullptr, nullptr), ZEP_E_NULL_ARG);
  fake::state().openStatus = ZEP_ERR_NO_INDEX_FOUND;  // a warning still opens
  c = open(u"clip.aaa", ZEP_ERR_NO_INDEX_FOUND);
  ASSERT_NE(c, nullptr);
  L1CloseContainer(c);
}

TEST_F(Container, CallsReachTheModuleAndEmptySlotsAreReported) {
  ZepContainer* c = open(u"clip.aaa");
  EXPECT_EQ(L1SetTitle(c, 0), ZEP_OK);
  EXPECT_EQ(L1SetTitle(c, 1), ZEP_ERR_INVALID_TITLE_INDEX);
  EXPECT_EQ(L1SetTitleActiveStream(c, ZEP_BLOCK_VIDEO, 1, 1), ZEP_ERR_STREAM_DNE);
  int64_t time = 25000000;
  EXPECT_EQ(L1SetPosition(c, ZEP_BLOCK_VIDEO, 0, &time), ZEP_OK);
  EXPECT_EQ(time, 20000000);
  EXPECT_EQ(L1SetPosition(c, ZEP_BLOCK_VIDEO, 0, nullptr), ZEP_E_NULL_ARG);
  ZepBlock block;
  zep_heap_block_init(&block);
  uint32_t type = 0, stream = 9;
  EXPECT_EQ(L1ReadNextBlock(c, &type, &stream, &block, 0), ZEP_OK);
  EXPECT_EQ(type, ZEP_BLOCK_VIDEO);
  EXPECT_EQ(stream, 0u);
  EXPECT_EQ(block.size, 4u);
  EXPECT_EQ(L1ReadNextBlockByStream(c, ZEP_BLOCK_VIDEO, 0, &block), ZEP_ERR_NULL_MODULE_FUNC);
  zep_heap_block_free(&block);
  ZepQueryData q = {};
  EXPECT_EQ(L1SetInfo(c, ZEP_QID_SET_INDX_GAP, &q, 0, 0), ZEP_ERR_NULL_MODULE_FUNC);
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_GET_CONTAINER_TYPE, &q, 0), ZEP_OK);
  // The interleaver handle is answered by the framework, whatever the index.
  c->interleaverTable[0] = 77;
  q.value.u64 = ~0ull;
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_INTERLEAVER_HANDLE, &q, 5), ZEP_OK);
  EXPECT_EQ(q.value.u32, 77u);
  c->interleaverIndex = 100;
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_INTERLEAVER_HANDLE, &q, 0), ZEP_FAIL);
  EXPECT_EQ(q.value.u32, 0u);
  c->interleaverIndex = 0;
  L1CloseContainer(c);
}

TEST_F(Container, BadHandlesAndNoWritableModule) {
  ZepQueryData q = {};
  EXPECT_EQ(L1SetTitle(nullptr, 0), ZEP_ERR_INVALID_HANDLER);
  EXPECT_EQ(L1GetInfo(nullptr, ZEP_QID_GET_CONTAINER_TYPE, &q, 0), ZEP_ERR_INVALID_HANDLER);
  EXPECT_EQ(L1CloseContainer(nullptr), ZEP_ERR_GET_MODULE_ID);
  ZepContainer fakeContainer = {};
  EXPECT_EQ(L1GetInfo(&fakeContainer, ZEP_QID_GET_CONTAINER_TYPE, nullptr, 0),
            ZEP_ERR_INVALID_HANDLER);
  for (uint32_t id : {0u, 17u}) {  // no such module id
    fakeContainer.moduleId = id;
    EXPECT_EQ(L1SetTitle(&fakeContainer, 0), ZEP_ERR_GET_MODULE_ID) << id;
  }
  fakeContainer.moduleId = 2;  // nothing registered there
  EXPECT_EQ(L1SetTitle(&fakeContainer, 0), ZEP_FAIL);
  ZepModuleHandle h = nullptr;
  EXPECT_EQ(zepDispatchModule.ops->CreateContainer(&h, u"clip.aaa", nullptr),
            ZEP_ERR_UNSUPPORTED_CONTAINER);
  EXPECT_EQ(h, nullptr);
}

}  // namespace
