// Small helpers that store answers into the caller's query data record.
#pragma once

#include <cstring>
#include <string>

#include "layer1/zep_qid.h"
#include "layer1/zep_status.h"

namespace mkv {

inline ZEP_STATUS put_scalar(ZepQueryData* d, uint32_t qid, uint64_t v) {
  d->valueType = ZEP_QID_VALUE_TYPE(qid);
  d->value.u64 = v;
  return ZEP_OK;
}

// Copies a record into the caller's buffer (value.ptr, capacity in size).
inline ZEP_STATUS put_record(ZepQueryData* d, const void* record, uint32_t size,
                             uint32_t minimum = 0) {
  if (!d->value.ptr) return ZEP_E_NULL_ARG;
  if (d->size < (minimum ? minimum : size)) return ZEP_ERR_BUFFER_TOO_SMALL;
  std::memcpy(d->value.ptr, record, size < d->size ? size : d->size);
  d->valueType = ZEP_QTYPE_BUFFER;
  d->size = size < d->size ? size : d->size;
  return ZEP_OK;
}

// A newly allocated copy of a string (freed by the caller); no value when
// the string is absent.
inline ZEP_STATUS put_new_string(ZepQueryData* d, const std::u16string& s, bool present,
                                 void* alloc) {
  d->valueType = ZEP_QTYPE_WSTRING;
  d->value.ptr = nullptr;
  d->size = 0;
  if (!present) return ZEP_OK;
  zep_wchar_t* copy = zep_wcsalloc(uint32_t(s.size() + 1), alloc);
  if (!copy) return ZEP_E_NO_MEMORY;
  std::memcpy(copy, s.data(), s.size() * sizeof(zep_wchar_t));
  copy[s.size()] = 0;
  d->value.ptr = copy;
  d->size = uint32_t((s.size() + 1) * sizeof(zep_wchar_t));
  return ZEP_OK;
}

// A string written into the caller's buffer with its terminator.
inline ZEP_STATUS put_string_into(ZepQueryData* d, const std::u16string& s) {
  const uint32_t bytes = uint32_t((s.size() + 1) * sizeof(zep_wchar_t));
  if (!d->value.ptr) return ZEP_E_NULL_ARG;
  if (d->size < bytes) return ZEP_ERR_BUFFER_TOO_SMALL;
  auto* out = static_cast<zep_wchar_t*>(d->value.ptr);
  std::memcpy(out, s.data(), s.size() * sizeof(zep_wchar_t));
  out[s.size()] = 0;
  d->size = bytes;
  d->valueType = ZEP_QTYPE_WSTRING;
  return ZEP_OK;
}

// Copies up to `chars - 1` characters and a terminator into a fixed field.
inline void copy_text(zep_wchar_t* out, size_t chars, const std::u16string& s) {
  size_t n = s.size() < chars - 1 ? s.size() : chars - 1;
  std::memcpy(out, s.data(), n * sizeof(zep_wchar_t));
  out[n] = 0;
}

}  // namespace mkv
