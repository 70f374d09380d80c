#include "tests/layer1/fake_modules.h"

#include <cstring>

namespace fake {

FakeState& state() {
  static FakeState s;
  return s;
}
void reset() { state() = FakeState{}; }

namespace {

bool ends_with(const zep_wchar_t* name, const char16_t* suffix) {
  std::u16string n(name), s(suffix);
  return n.size() >= s.size() && n.compare(n.size() - s.size(), s.size(), s) == 0;
}

ZEP_STATUS init(const ZepModuleList*) {
  ++state().initCalls;
  return ZEP_OK;
}
ZEP_STATUS failing_init(const ZepModuleList*) { return state().initStatus; }

const ZepModuleInfo kReadInfo = {1, 0, 1, 0, 1, 0, u".aaa", u"fake reader", 3};
const ZepModuleInfo kWriteInfo = {0, 1, 0, 0, 0, 0, u".ccc", u"fake writer", 9};
const ZepModuleInfo kLoggingInfo = {1, 1, 1, 1, 1, 1, u"logging", u"fake logging", 12};
const ZepModuleInfo* read_info() { return &kReadInfo; }
const ZepModuleInfo* write_info() { return &kWriteInfo; }
const ZepModuleInfo* logging_info() { return &kLoggingInfo; }

ZEP_STATUS probe_a(uint32_t* score, const zep_wchar_t* name, void*) {
  *score = ends_with(name, u".aaa") ? 100 : 0;
  return ZEP_OK;
}
ZEP_STATUS probe_b(uint32_t* score, const zep_wchar_t* name, void*) {
  *score = ends_with(name, u".aaa") ? 100 : ends_with(name, u".bbb") ? 50 : 0;
  return ZEP_OK;
}
ZEP_STATUS probe_c(uint32_t* score, const zep_wchar_t* name, void*) {
  *score = ends_with(name, u".bbb") ? 80 : 0;
  return ZEP_OK;
}
ZEP_STATUS probe_write(uint32_t* score, const zep_wchar_t* name, void*) {
  *score = ends_with(name, u".ccc") ? 200 : 0;
  return ZEP_OK;
}
ZEP_STATUS probe_all(uint32_t* score, const zep_wchar_t*, void*) {
  *score = 500;
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
  const auto& bytes = state().blockBytes;
  ZEP_STATUS status = zep_block_ensure_capacity(block, uint32_t(bytes.size()));
  if (status < 0) return status;
  std::memcpy(block->data, bytes.data(), bytes.size());
  block->size = uint32_t(bytes.size());
  block->time = state().blockTime;
  block->flags = ZEP_BLOCK_FLAG_KEYFRAME;
  *type = ZEP_BLOCK_VIDEO;
  *stream = 0;
  return ZEP_OK;
}

const ZepModuleOps kOpsA = {
    .InitModule = init,
    .GetModuleInfo = read_info,
    .ProbeContainer = probe_a,
    .OpenContainer = open,
    .CloseContainer = close,
    .SetTitle = set_title,
    .GetInfo = get_info,
    .SetPosition = set_position,
    .SetTitleActiveStream = set_active,
    .ReadNextBlock = read_next,
};
const ZepModuleOps kOpsB = {.InitModule = init,
                            .GetModuleInfo = read_info,
                            .ProbeContainer = probe_b,
                            .OpenContainer = open,
                            .CloseContainer = close};
const ZepModuleOps kOpsC = {.InitModule = init,
                            .GetModuleInfo = read_info,
                            .ProbeContainer = probe_c,
                            .OpenContainer = open,
                            .CloseContainer = close};
const ZepModuleOps kOpsWrite = {.InitModule = init,
                                .GetModuleInfo = write_info,
                                .ProbeContainer = probe_write,
                                .OpenContainer = open,
                                .CloseContainer = close};
const ZepModuleOps kOpsNoProbe = {.InitModule = init, .GetModuleInfo = read_info};
const ZepModuleOps kOpsLogging = {.InitModule = init,
                                  .GetModuleInfo = logging_info,
                                  .ProbeContainer = probe_all,
                                  .OpenContainer = open,
                                  .CloseContainer = close};
const ZepModuleOps kOpsFailingInit = {.InitModule = failing_init, .GetModuleInfo = read_info};
const ZepModuleOps kOpsNoInit = {.GetModuleInfo = read_info};

}  // namespace

const ZepModule kModuleA = {3, &kReadInfo, &kOpsA};
const ZepModule kModuleB = {5, &kReadInfo, &kOpsB};
const ZepModule kModuleC = {7, &kReadInfo, &kOpsC};
const ZepModule kWriteOnly = {9, &kWriteInfo, &kOpsWrite};
const ZepModule kNoProbe = {11, &kReadInfo, &kOpsNoProbe};
const ZepModule kFakeLogging = {12, &kLoggingInfo, &kOpsLogging};
const ZepModule kFailingInit = {13, &kReadInfo, &kOpsFailingInit};
const ZepModule kNoInit = {14, &kReadInfo, &kOpsNoInit};

ZEP_STATUS register_modules(std::initializer_list<const ZepModule*> modules) {
  std::vector<const ZepModule*> list(modules);
  list.push_back(&zepDispatchModule);
  ZepModuleList l = {0, list.data(), nullptr, list.size(), 0};
  return L1RegisterModules(&l);
}

}  // namespace fake
