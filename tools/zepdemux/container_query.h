// Small typed wrappers over L1GetInfo / L1SetInfo.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "layer1/zep_module.h"

namespace zepcli {

// A scalar answer (flag, count, 32- or 64-bit value), or nothing on failure.
std::optional<int64_t> query_scalar(ZepContainer* container, uint32_t qid, uint32_t index);
// A record or byte buffer of `size` bytes; false on failure.
bool query_record(ZepContainer* container, uint32_t qid, uint32_t index, void* record,
                  uint32_t size);
std::optional<std::vector<uint8_t>> query_bytes(ZepContainer* container, uint32_t qid,
                                                uint32_t index, uint32_t size);
ZEP_STATUS set_flag(ZepContainer* container, uint32_t qid, uint8_t value);
ZEP_STATUS set_record(ZepContainer* container, uint32_t qid, void* record, uint32_t size);
ZEP_STATUS set_wide_string(ZepContainer* container, uint32_t qid, const std::u16string& text);

// Up to four wide characters of a properties record as UTF-8, trailing
// zeros and spaces dropped.
std::string short_text(const zep_wchar_t* chars);

}  // namespace zepcli
