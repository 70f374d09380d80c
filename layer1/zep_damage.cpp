#include "layer1/zep_damage.h"

#include <cstdarg>
#include <cstdio>

namespace {

thread_local ZepDamageSink tSink = nullptr;
thread_local void* tContext = nullptr;

}  // namespace

ZepDamageScope::ZepDamageScope(ZepDamageSink sink, void* context)
    : previousSink_(tSink), previousContext_(tContext) {
  tSink = sink;
  tContext = context;
}

ZepDamageScope::~ZepDamageScope() {
  tSink = previousSink_;
  tContext = previousContext_;
}

void zep_report_damage(uint64_t offset, const char* format, ...) {
  if (!tSink) return;
  char text[256];
  va_list args;
  va_start(args, format);
  std::vsnprintf(text, sizeof text, format, args);
  va_end(args);
  tSink(tContext, offset, text);
}
