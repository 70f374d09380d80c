// Small read modules registered with the dispatch module: selection, failures,
// container calls, the call log. CTest runs every case in its own process.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdlib>
#include <filesystem>

#include "layer1/zep_call_log.h"
#include "tests/layer1/fake_common.h"
#include "tests/support/byte_writer.h"

namespace {

// Steers the fakes; reset by every fixture.
struct FakeState {
  std::u16string lastOpenedName;
  ZEP_STATUS openStatus = ZEP_OK, initStatus = ZEP_OK;
  int openHandles = 0, initCalls = 0;  // open minus closed; calls of init
} g_state;

constexpr char16_t kAaa[] = u".aaa", kBbb[] = u".bbb", kCcc[] = u".ccc", kAll[] = u"";
ZEP_STATUS init(const ZepModuleList*) { return ++g_state.initCalls, ZEP_OK; }
ZEP_STATUS failing_init(const ZepModuleList*) { return g_state.initStatus; }
template <const ZepModuleInfo* kInfo>
const ZepModuleInfo* info() {
  return kInfo;
}
// Scores the first suffix the name ends in ("" takes all).
template <const char16_t* kSuffix, uint32_t kScore, const char16_t* kOther = kSuffix,
          uint32_t kOtherScore = kScore>
ZEP_STATUS probe(uint32_t* score, const zep_wchar_t* name, void*) {
  *score = fake::ends_with(name, kSuffix)  ? kScore
           : fake::ends_with(name, kOther) ? kOtherScore
                                           : 0;
  return ZEP_OK;
}
ZEP_STATUS open(ZepModuleHandle* handle, const zep_wchar_t* name, void*) {
  g_state.lastOpenedName = name;
  if (g_state.openStatus < 0) return g_state.openStatus;
  *handle = new int(0);
  ++g_state.openHandles;
  return g_state.openStatus;
}
ZEP_STATUS close(ZepModuleHandle handle) {
  delete static_cast<int*>(handle);
  return --g_state.openHandles, ZEP_OK;
}
ZEP_STATUS set_title(ZepModuleHandle, uint32_t title) {
  return title == 0 ? ZEP_OK : ZEP_ERR_INVALID_TITLE_INDEX;
}
ZEP_STATUS get_info(ZepModuleHandle, uint32_t qid, ZepQueryData* data, uint32_t) {
  if (qid != ZEP_QID_GET_CONTAINER_TYPE) return ZEP_ERR_INVALID_QUERY_ID;
  data->value.u32 = 0;
  return ZEP_OK;
}
ZEP_STATUS set_position(ZepModuleHandle, uint32_t, uint32_t, int64_t* time) {
  *time = (*time / 10000000) * 10000000;  // back to the whole second
  return ZEP_OK;
}
ZEP_STATUS set_active(ZepModuleHandle, uint32_t, uint32_t stream, uint32_t) {
  return stream == 0 ? ZEP_OK : ZEP_ERR_STREAM_DNE;
}
ZEP_STATUS read_next(ZepModuleHandle, uint32_t* type, uint32_t* stream, ZepBlock* block, uint64_t) {
  *type = ZEP_BLOCK_VIDEO;
  *stream = 0;
  return fake::fill_block(block, {0xCA, 0xFE, 0xBA, 0xBE}, 400000, 0, true);
}

const ZepModuleInfo kReadInfo = {1, 0, 1, 0, 1, 0, u".aaa", u"fake reader", 3};
const ZepModuleInfo kWriteInfo = {0, 1, 0, 0, 0, 0, u".ccc", u"fake writer", 9};
const ZepModuleInfo kLoggingInfo = {1, 1, 1, 1, 1, 1, u"logging", u"fake logging", 12};
// A module that only probes, opens and closes.
template <auto kProbe, const ZepModuleInfo* kInfo = &kReadInfo>
constexpr ZepModuleOps kOpener = fake::read_ops(init, info<kInfo>, kProbe, open, close, nullptr,
                                                nullptr, nullptr, nullptr, nullptr);
const ZepModuleOps kOpsA = fake::read_ops(init, info<&kReadInfo>, probe<kAaa, 100>, open, close,
                                          set_title, get_info, set_position, set_active, read_next);
const ZepModuleOps kOpsNoProbe = {.InitModule = init, .GetModuleInfo = info<&kReadInfo>};
const ZepModuleOps kOpsFailingInit = {.InitModule = failing_init,
                                      .GetModuleInfo = info<&kReadInfo>};
const ZepModuleOps kOpsNoInit = {.GetModuleInfo = info<&kReadInfo>};
// A wins ties on ".aaa" with B by its lower id; C's 80 beats B's 50 on ".bbb".
const ZepModule kModuleA = {3, &kReadInfo, &kOpsA};
const ZepModule kModuleB = {5, &kReadInfo, &kOpener<probe<kAaa, 100, kBbb, 50>>};
const ZepModule kModuleC = {7, &kReadInfo, &kOpener<probe<kBbb, 80>>};
const ZepModule kWriteOnly = {9, &kWriteInfo, &kOpener<probe<kCcc, 200>, &kWriteInfo>};
const ZepModule kNoProbe = {11, &kReadInfo, &kOpsNoProbe};
const ZepModule kFakeLogging = {12, &kLoggingInfo, &kOpener<probe<kAll, 500>, &kLoggingInfo>};
const ZepModule kFailingInit = {13, &kReadInfo, &kOpsFailingInit};
const ZepModule kNoInit = {14, &kReadInfo, &kOpsNoInit};

// Registers the given modules and the dispatch module.
ZEP_STATUS register_modules(std::initializer_list<const ZepModule*> modules) {
  std::vector<const ZepModule*> list(modules);
  list.push_back(&zepDispatchModule);
  ZepModuleList l = {0, list.data(), nullptr, list.size(), 0};
  return L1RegisterModules(&l);
}
uint32_t select(const char16_t* name, uint32_t mode = 0) {
  uint32_t id = 99;
  EXPECT_EQ(L1SelectModule(&id, name, mode, nullptr), ZEP_OK);
  return id;
}

class Registry : public ::testing::Test {
 protected:
  void SetUp() override { g_state = {}; }
};

TEST_F(Registry, HighestScoreWinsTiesGoToTheLowestIdAndModeSkipsModules) {
  ASSERT_EQ(register_modules({&kModuleA, &kModuleB, &kModuleC, &kWriteOnly, &kFakeLogging}),
            ZEP_OK);
  EXPECT_EQ(g_state.initCalls, 5);
  // The logging module scores 500, yet is never chosen; mode 0 reads, 1 writes,
  // others skip nothing.
  EXPECT_EQ((std::vector<uint32_t>{select(u"clip.aaa"), select(u"clip.bbb"), select(u"clip.zzz"),
                                   select(u"x.ccc", 0), select(u"x.ccc", 1), select(u"x.aaa", 1),
                                   select(u"x.ccc", 7)}),
            (std::vector<uint32_t>{3, 7, 0, 0, 9, 0, 9}));
}

// Cases that leave a broken module in the registry run in a child process, so
// that the rest of the binary keeps a usable registry.
TEST_F(Registry, MissingProbeStopsSelectionAndRegistrationFailures) {
  EXPECT_EXIT(
      {
        register_modules({&kModuleA, &kNoProbe});
        uint32_t id = 1;
        std::exit(L1SelectModule(&id, u"x.aaa", 0, nullptr) == ZEP_ERR_NULL_MODULE_FUNC ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
  uint32_t id = 0;
  EXPECT_EQ((std::vector<ZEP_STATUS>{L1SelectModule(nullptr, u"x", 0, nullptr),
                                     L1SelectModule(&id, nullptr, 0, nullptr),
                                     L1RegisterModules(nullptr), register_modules({&kNoInit})}),
            (std::vector<ZEP_STATUS>{ZEP_E_NULL_ARG, ZEP_E_NULL_ARG, ZEP_E_NULL_ARG,
                                     ZEP_ERR_LAYER1_FUNC_ERR}));
  g_state.initStatus = ZEP_ERR_KILL;
  EXPECT_EQ(register_modules({&kFailingInit}), ZEP_ERR_LAYER1_MODULE_INIT);
  EXPECT_EXIT(
      {
        g_state.initStatus = ZEP_WARN_NONFATAL;  // a warning is no failure
        std::exit(register_modules({&kFailingInit}) == ZEP_OK ? 0 : 1);
      },
      ::testing::ExitedWithCode(0), "");
}

TEST_F(Registry, OutOfRangeIdsAndNullEntriesAreSkipped) {
  static const ZepModule kHighId = {50, kModuleA.info, kModuleA.ops};
  static const ZepModule kZeroId = {0, kModuleA.info, kModuleA.ops};
  const ZepModule* modules[] = {nullptr, &kHighId, &kZeroId, &kModuleB};
  void* extras[] = {nullptr, nullptr, nullptr, reinterpret_cast<void*>(0x1234)};
  ZepModuleList list = {0, modules, extras, 4, 0};
  ASSERT_EQ(L1RegisterModules(&list), ZEP_OK);
  EXPECT_EQ(L1GetRegisteredModule(50), nullptr);
  EXPECT_EQ(L1GetRegisteredModule(5), &kModuleB);
  EXPECT_EQ(g_state.initCalls, 1);
}

class Container : public Registry {
 protected:
  void SetUp() override {
    Registry::SetUp();
    ASSERT_EQ(register_modules({&kModuleA, &kModuleC}), ZEP_OK);
  }
  ZepContainer* open(const char16_t* name, ZEP_STATUS expected = ZEP_OK) {
    ZepContainer* c = reinterpret_cast<ZepContainer*>(0x1);
    EXPECT_EQ(L1OpenContainer(&c, name, nullptr), expected) << zep::u16_to_utf8(name);
    return c;
  }
};

TEST_F(Container, OpenGoesThroughDispatchAndTheFilePrefixGoesInLowerCaseOnly) {
  ZepContainer* c = open(u"file:///media/clip.aaa");
  EXPECT_EQ(std::tuple(g_state.lastOpenedName, c->moduleId, g_state.openHandles),
            std::tuple(std::u16string(u"/media/clip.aaa"), uint32_t(ZEP_MODULE_ID_DISPATCH), 1));
  EXPECT_EQ((std::pair{L1CloseContainer(c), g_state.openHandles}), std::pair(ZEP_OK, 0));
  L1CloseContainer(open(u"FILE:///media/clip.aaa"));
  EXPECT_EQ(g_state.lastOpenedName, u"FILE:///media/clip.aaa");
}

TEST_F(Container, UnknownFilesAndFailedOpensGiveNoContainerWarningsOpen) {
  EXPECT_EQ(open(u"clip.zzz", ZEP_ERR_UNSUPPORTED_CONTAINER), nullptr);
  g_state.openStatus = ZEP_ERR_FILE_OPEN_FAILURE;
  EXPECT_EQ(open(u"clip.aaa", ZEP_ERR_FILE_OPEN_FAILURE), nullptr);
  ZepContainer* c = nullptr;
  EXPECT_EQ(L1OpenContainer(nullptr, u"clip.aaa", nullptr), ZEP_ERR_INVALID_HANDLER);
  EXPECT_EQ(L1OpenContainer(&c, nullptr, nullptr), ZEP_E_NULL_ARG);
  g_state.openStatus = ZEP_ERR_NO_INDEX_FOUND;
  c = open(u"clip.aaa", ZEP_ERR_NO_INDEX_FOUND);
  ASSERT_NE(c, nullptr);
  L1CloseContainer(c);
  ZepModuleHandle h = nullptr;
  EXPECT_EQ(zepDispatchModule.ops->CreateContainer(&h, u"clip.aaa", nullptr),
            ZEP_ERR_UNSUPPORTED_CONTAINER);
  EXPECT_EQ(h, nullptr);
}

TEST_F(Container, CallsReachTheModuleAndEmptySlotsAreReported) {
  ZepContainer* c = open(u"clip.aaa");
  int64_t time = 25000000;
  EXPECT_EQ((std::vector{L1SetPosition(c, ZEP_BLOCK_VIDEO, 0, &time),
                         L1SetPosition(c, ZEP_BLOCK_VIDEO, 0, nullptr)}),
            (std::vector{ZEP_OK, ZEP_E_NULL_ARG}));
  EXPECT_EQ(time, 20000000);
  ZepBlock block;
  zep_heap_block_init(&block);
  uint32_t type = 0, stream = 9;
  EXPECT_EQ(L1ReadNextBlock(c, &type, &stream, &block, 0), ZEP_OK);
  EXPECT_EQ(std::tuple(type, stream, block.size), std::tuple(ZEP_BLOCK_VIDEO, 0u, 4u));
  ZepQueryData q = {};
  EXPECT_EQ(
      (std::vector<ZEP_STATUS>{L1ReadNextBlockByStream(c, ZEP_BLOCK_VIDEO, 0, &block),
                               L1SetInfo(c, ZEP_QID_SET_INDX_GAP, &q, 0, 0),
                               L1GetInfo(c, ZEP_QID_GET_CONTAINER_TYPE, &q, 0), L1SetTitle(c, 1),
                               L1SetTitleActiveStream(c, ZEP_BLOCK_VIDEO, 1, 1)}),
      (std::vector<ZEP_STATUS>{ZEP_ERR_NULL_MODULE_FUNC, ZEP_ERR_NULL_MODULE_FUNC, ZEP_OK,
                               ZEP_ERR_INVALID_TITLE_INDEX, ZEP_ERR_STREAM_DNE}));
  zep_heap_block_free(&block);
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
  ZepContainer fakeContainer = {};  // bad handles
  EXPECT_EQ((std::vector<ZEP_STATUS>{
                L1SetTitle(nullptr, 0), L1GetInfo(nullptr, ZEP_QID_GET_CONTAINER_TYPE, &q, 0),
                L1CloseContainer(nullptr),
                L1GetInfo(&fakeContainer, ZEP_QID_GET_CONTAINER_TYPE, nullptr, 0)}),
            (std::vector<ZEP_STATUS>{ZEP_ERR_INVALID_HANDLER, ZEP_ERR_INVALID_HANDLER,
                                     ZEP_ERR_GET_MODULE_ID, ZEP_ERR_INVALID_HANDLER}));
  for (uint32_t id : {0u, 17u}) {  // no such module id
    fakeContainer.moduleId = id;
    EXPECT_EQ(L1SetTitle(&fakeContainer, 0), ZEP_ERR_GET_MODULE_ID) << id;
  }
  fakeContainer.moduleId = 2;  // nothing registered there
  EXPECT_EQ(L1SetTitle(&fakeContainer, 0), ZEP_FAIL);
}

// A session in a scratch directory, since the log lives in the current one:
// open, one block, a seek, a query, an empty slot, close; the log as UTF-8.
std::string logged_session(bool withLog) {
  zeptest::TempDir dir;
  const auto previous = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  if (withLog) dir.write("L1log.txt", std::string_view("old content that must go"));
  ZepContainer* c = nullptr;
  EXPECT_EQ(L1OpenContainer(&c, u"clip.aaa", nullptr), ZEP_OK);
  ZepBlock block;
  zep_heap_block_init(&block);
  uint32_t type = 0, stream = 0;
  EXPECT_EQ(L1ReadNextBlock(c, &type, &stream, &block, 0), ZEP_OK);
  int64_t time = 15000000;
  L1SetPosition(c, ZEP_BLOCK_AUDIO, 2, &time);
  ZepQueryData q = {};
  L1GetInfo(c, ZEP_QID_TITLE_DURATION, &q, 1);
  EXPECT_EQ(L1ReadNextBlockByStream(c, 2, 0, &block), ZEP_ERR_NULL_MODULE_FUNC);
  L1CloseContainer(c);
  zep_heap_block_free(&block);
  const bool exists = std::filesystem::exists("L1log.txt");
  const auto bytes = exists ? zeptest::read_file("L1log.txt") : zeptest::Bytes();
  std::filesystem::current_path(previous);
  if (!exists) return "<no log>";
  if (bytes.size() < 2 || bytes[0] != 0xFF || bytes[1] != 0xFE || bytes.size() % 2 != 0)
    return "<no UTF-16LE with byte order mark>";
  std::u16string units;
  for (size_t i = 2; i + 1 < bytes.size(); i += 2)
    units.push_back(char16_t(bytes[i] | (bytes[i + 1] << 8)));
  return zep::u16_to_utf8(units);
}

TEST_F(Container, CallLogOnlyIntoAPresentFileWithoutRecordsOfEmptySlots) {
  EXPECT_EQ(logged_session(false), "<no log>");
  const std::string text = logged_session(true);
  ASSERT_EQ(text.rfind("OpenContainer:\nFile: clip.aaa\n\n", 0), 0u) << text;
  EXPECT_EQ(text.find("old content"), std::string::npos);
  // The CRC has its top bit set: it is printed signed.
  const uint8_t bytes[] = {0xCA, 0xFE, 0xBA, 0xBE};
  const int32_t crc = int32_t(uint32_t(crc32(0L, bytes, 4)));
  ASSERT_LT(crc, 0);
  for (const std::string& record :
       {"ReadNextBlock Entry:\n\nReadNextBlock Exit:\n*pBlockType: 2\n*pnStream: 0\n"
        "Block Data CRC: " +
            std::to_string(crc) + "\nBlock Time: 400000\nNorvError: 0\n\n",
        std::string("SetPosition Entry:\nblockType: 1\nnStream: 2\nTime: 15000000\n\n"
                    "SetPosition Exit:\nTime: 10000000\nNorvError: 0\n\n"),
        "GetInfo Entry:\nQID: ZEP_QID_TITLE_DURATION\nIndex: 1\n\nGetInfo Exit:\nNorvError: " +
            std::to_string(int32_t(ZEP_ERR_INVALID_QUERY_ID)) + "\n\n"})
    EXPECT_NE(text.find(record), std::string::npos) << record << "\nin\n" << text;
  EXPECT_EQ(text.find("ReadNextBlockByStream"), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with("CloseContainer Entry:\n\nCloseContainer Exit:\nNorvError: 0\n\n"));
}

}  // namespace
