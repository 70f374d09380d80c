#include "tools/zepdemux/container_query.h"

namespace zepcli {

std::optional<int64_t> query_scalar(ZepContainer* container, uint32_t qid, uint32_t index) {
  ZepQueryData data{};
  data.valueType = ZEP_QID_VALUE_TYPE(qid);
  data.size = 8;
  if (ZEP_FAILED(L1GetInfo(container, qid, &data, index))) return std::nullopt;
  const uint32_t type = data.valueType ? data.valueType : ZEP_QID_VALUE_TYPE(qid);
  switch (type) {
    case ZEP_QTYPE_FLAG8:
      return data.value.u8;
    case ZEP_QTYPE_COUNT16:
      return data.value.u16;
    case ZEP_QTYPE_SETTING32:
    case ZEP_QTYPE_SIZE32:
      return data.value.u32;
    case ZEP_QTYPE_VALUE32:
      return data.value.i32;
    default:
      return data.value.i64;
  }
}

bool query_record(ZepContainer* container, uint32_t qid, uint32_t index, void* record,
                  uint32_t size) {
  ZepQueryData data{};
  data.valueType = ZEP_QTYPE_BUFFER;
  data.size = size;
  data.value.ptr = record;
  return ZEP_SUCCEEDED(L1GetInfo(container, qid, &data, index));
}

std::optional<std::vector<uint8_t>> query_bytes(ZepContainer* container, uint32_t qid,
                                                uint32_t index, uint32_t size) {
  std::vector<uint8_t> bytes(size);
  if (!query_record(container, qid, index, bytes.data(), size)) return std::nullopt;
  return bytes;
}

ZEP_STATUS set_flag(ZepContainer* container, uint32_t qid, uint8_t value) {
  ZepQueryData data{};
  data.valueType = ZEP_QTYPE_FLAG8;
  data.size = 1;
  data.value.u8 = value;
  return L1SetInfo(container, qid, &data, 0, 0);
}

ZEP_STATUS set_record(ZepContainer* container, uint32_t qid, void* record, uint32_t size) {
  ZepQueryData data{};
  data.valueType = ZEP_QTYPE_BUFFER;
  data.size = size;
  data.value.ptr = record;
  return L1SetInfo(container, qid, &data, 0, 0);
}

ZEP_STATUS set_wide_string(ZepContainer* container, uint32_t qid, const std::u16string& text) {
  ZepQueryData data{};
  data.valueType = ZEP_QTYPE_WSTRING;
  data.size = uint32_t((text.size() + 1) * sizeof(char16_t));
  data.value.ptr = const_cast<char16_t*>(text.c_str());
  return L1SetInfo(container, qid, &data, 0, 0);
}

std::string short_text(const zep_wchar_t* chars) {
  std::u16string text;
  for (int i = 0; i < 4 && chars[i] != 0; ++i) text += chars[i];
  while (!text.empty() && text.back() == u' ') text.pop_back();
  return zep::u16_to_utf8(text);
}

}  // namespace zepcli
