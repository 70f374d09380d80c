#include "tools/zepdemux/library_host.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "tools/zepdemux/model.h"

namespace zepcli {
namespace {

void* host_malloc(void*, size_t size) { return std::malloc(size); }
void host_free(void*, void* pointer) { std::free(pointer); }

// The library's formats are its own printf-style messages.
__attribute__((format(printf, 1, 0))) std::string format_message(const char* format, va_list args) {
  char buffer[1024];
  std::vsnprintf(buffer, sizeof buffer, format, args);
  std::string text = buffer;
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

__attribute__((format(printf, 2, 3))) void host_error(void*, const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = format_message(format, args);
  va_end(args);
  auto& messages = host_messages();
  ++messages.errors;
  if (messages.hold)
    messages.held.push_back(std::move(text));
  else
    std::fprintf(stderr, "zepdemux: %s\n", text.c_str());
}

// Warnings are the library's damage reports; the same report reaches the CLI
// twice when both the library and the container layer read the file.
void report_warning(const std::string& text) {
  auto& messages = host_messages();
  if (messages.hold) {
    messages.held_warnings.push_back(text);
    return;
  }
  if (!messages.warned.insert(text).second) return;
  std::fprintf(stderr, "zepdemux: warning: %s\n", text.c_str());
}

__attribute__((format(printf, 2, 3))) void host_warning(void*, const char* format, ...) {
  va_list args;
  va_start(args, format);
  const std::string text = format_message(format, args);
  va_end(args);
  report_warning(text);
}

// Information and progress only with --verbose.
__attribute__((format(printf, 2, 3))) void host_info(void*, const char* format, ...) {
  if (!host_messages().verbose) return;
  va_list args;
  va_start(args, format);
  const std::string text = format_message(format, args);
  va_end(args);
  std::fprintf(stderr, "zepdemux: %s\n", text.c_str());
}

template <typename F>
zepdmux_func_t as_func(F f) {
  return reinterpret_cast<zepdmux_func_t>(f);
}

}  // namespace

HostMessages& host_messages() {
  static HostMessages messages;
  return messages;
}

void library_failed(size_t errors_before, const std::string& what) {
  throw Failure(host_messages().errors > errors_before ? std::string() : what);
}

void container_damage_sink(void*, uint64_t offset, const char* text) {
  report_warning(std::string(text) + " at byte offset " + std::to_string(offset));
}

void HostMessages::release_warnings() {
  std::vector<std::string> texts;
  texts.swap(held_warnings);
  for (const auto& text : texts) report_warning(text);
}

void HostMessages::print_held() {
  for (const auto& text : held) std::fprintf(stderr, "zepdemux: %s\n", text.c_str());
  held.clear();
}

zepdmux_func_t host_get_rc(void*, const char* name) {
  if (std::strcmp(name, "malloc_ex") == 0) return as_func(&host_malloc);
  if (std::strcmp(name, "free_ex") == 0) return as_func(&host_free);
  if (std::strcmp(name, "err_printf_ex") == 0) return as_func(&host_error);
  if (std::strcmp(name, "wrn_printf_ex") == 0) return as_func(&host_warning);
  if (std::strcmp(name, "inf_printf_ex") == 0) return as_func(&host_info);
  if (std::strcmp(name, "prg_printf_ex") == 0) return as_func(&host_info);
  return nullptr;
}

Library::Library() {
  demux_ = zepDemuxNew(&host_get_rc, nullptr, nullptr);
  if (demux_ == nullptr) throw Failure("Unable to initialize ZEP demuxer");
}

Library::~Library() { zepDemuxFree(demux_); }

}  // namespace zepcli
