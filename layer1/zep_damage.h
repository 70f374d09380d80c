// Damage reports. A read module that meets damage in a file — a file cut
// short, a chunk or element that runs past its parent, bytes it had to skip to
// find its way again, a block it refused — plays on past it as well as it can
// and says what and where through zep_report_damage. The report goes to the
// sink that the caller of the container layer installed on its thread for the
// duration of its calls (the Demuxer API hands it to the host's
// "wrn_printf_ex"); without a sink nothing happens.
#pragma once

#include <cstdint>

using ZepDamageSink = void (*)(void* context, uint64_t offset, const char* text);

// Installs a sink on the calling thread while the object lives; the sink that
// was there before comes back when it goes.
class ZepDamageScope {
 public:
  ZepDamageScope(ZepDamageSink sink, void* context);
  ~ZepDamageScope();
  ZepDamageScope(const ZepDamageScope&) = delete;
  ZepDamageScope& operator=(const ZepDamageScope&) = delete;

 private:
  ZepDamageSink previousSink_;
  void* previousContext_;
};

// Formats one report (printf style, at most 255 characters) about the byte
// at `offset` of the file and hands it to the thread's sink.
void zep_report_damage(uint64_t offset, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
