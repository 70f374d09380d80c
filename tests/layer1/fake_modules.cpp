#include "tests/layer1/fake_modules.h"

#include "tests/layer1/fake_common.h"

namespace fake {

FakeState& state() {
  static FakeState s;
  return s;
}
void reset() { state() = FakeState{}; }

namespace {

ZEP_STATUS init(const ZepModuleList*) {
  ++state().initCalls;
  return ZEP_OK;
}
ZEP_STATUS failing_init(const ZepModuleList*) { return state().initStatus; }

const ZepModuleInfo kReadInfo = {1, 0, 1, 0, 1, 0, u".aaa", u"fake reader", 3};
const ZepModuleInfo kWriteInfo = {0, 1, 0, 0, 0, 0, u".ccc", u"fake writer", 9};
const ZepModuleInfo kLoggingInfo = {1, 1, 1, 1, 1, 1, u"logging", u"fake logging", 12};
template <const ZepModuleInfo* kInfo>
const ZepModuleInfo* info() {
  return kInfo;
}

// The score of each probe: the first suffix the name ends in ("" takes all).
struct Score {
  const char16_t* suffix;
  uint32_t score;
};
enum Probe { kProbeA, kProbeB, kProbeC, kProbeWrite, kProbeAll };
const Score kScores[][2] = {{{u".aaa", 100}},
                            {{u".aaa", 100}, {u".bbb", 50}},
                            {{u".bbb", 80}},
                            {{u".ccc", 200}},
                            {{u"", 500}}};
template <Probe kProbe>
ZEP_STATUS probe(uint32_t* score, const zep_wchar_t* name, void*) {
  *score = 0;
  for (const Score& s : kScores[kProbe]) {
    if (s.suffix != nullptr && ends_with(name, s.suffix)) {
      *score = s.score;
      break;
    }
  }
  return ZEP_OK;
}

ZEP_STATUS open(ZepModuleHandle* handle, const zep_wchar_t* name, void*) {
  state().lastOpenedName = name;
  if (state().openStatus < 0) return state().openStatus;
  *handle = new int(0);
  ++state().openHandles;
  return state().openStatus;
}
ZEP_STATUS close(ZepModuleHandle handle) {
  delete static_cast<int*>(handle);
  --state().openHandles;
  return ZEP_OK;
}
ZEP_STATUS set_title(ZepModuleHandle, uint32_t title) {
  return title == 0 ? ZEP_OK : ZEP_ERR_INVALID_TITLE_INDEX;
}
ZEP_STATUS get_info(ZepModuleHandle, uint32_t qid, ZepQueryData* data, uint32_t) {
  if (qid != ZEP_QID_GET_CONTAINER_TYPE) return ZEP_ERR_INVALID_QUERY_ID;
  data->valueType = ZEP_QTYPE_VALUE32;
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
  return fill_block(block, state().blockBytes, state().blockTime, 0, true);
}

// A module that only probes, opens and closes.
template <Probe kProbe, const ZepModuleInfo* kInfo>
constexpr ZepModuleOps kOpener = read_ops(init, info<kInfo>, probe<kProbe>, open, close, nullptr,
                                          nullptr, nullptr, nullptr, nullptr);

const ZepModuleOps kOpsA = read_ops(init, info<&kReadInfo>, probe<kProbeA>, open, close, set_title,
                                    get_info, set_position, set_active, read_next);
const ZepModuleOps kOpsNoProbe = {.InitModule = init, .GetModuleInfo = info<&kReadInfo>};
const ZepModuleOps kOpsFailingInit = {.InitModule = failing_init,
                                      .GetModuleInfo = info<&kReadInfo>};
const ZepModuleOps kOpsNoInit = {.GetModuleInfo = info<&kReadInfo>};

}  // namespace

const ZepModule kModuleA = {3, &kReadInfo, &kOpsA};
const ZepModule kModuleB = {5, &kReadInfo, &kOpener<kProbeB, &kReadInfo>};
const ZepModule kModuleC = {7, &kReadInfo, &kOpener<kProbeC, &kReadInfo>};
const ZepModule kWriteOnly = {9, &kWriteInfo, &kOpener<kProbeWrite, &kWriteInfo>};
const ZepModule kNoProbe = {11, &kReadInfo, &kOpsNoProbe};
const ZepModule kFakeLogging = {12, &kLoggingInfo, &kOpener<kProbeAll, &kLoggingInfo>};
const ZepModule kFailingInit = {13, &kReadInfo, &kOpsFailingInit};
const ZepModule kNoInit = {14, &kReadInfo, &kOpsNoInit};

ZEP_STATUS register_modules(std::initializer_list<const ZepModule*> modules) {
  std::vector<const ZepModule*> list(modules);
  list.push_back(&zepDispatchModule);
  ZepModuleList l = {0, list.data(), nullptr, list.size(), 0};
  return L1RegisterModules(&l);
}

}  // namespace fake
