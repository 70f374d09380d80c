#include "tools/zepdemux/progress.h"

#include <unistd.h>

#include <cstdio>

namespace zepcli {

Progress::Progress(std::string label, int64_t total27)
    : label_(std::move(label)), total27_(total27), enabled_(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() { finish(); }

void Progress::update(int64_t time27, uint64_t bytes) {
  if (!enabled_) return;
  last_time27_ = time27;
  last_bytes_ = bytes;
  const auto now = std::chrono::steady_clock::now();
  if (drawn_ && now - last_ < std::chrono::milliseconds(100)) return;
  last_ = now;
  draw(time27, bytes);
}

void Progress::draw(int64_t time27, uint64_t bytes) {
  constexpr int kWidth = 30;
  double fraction = total27_ > 0 ? double(time27) / double(total27_) : 0.0;
  if (fraction < 0) fraction = 0;
  if (fraction > 1) fraction = 1;
  const int filled = int(fraction * kWidth + 0.5);
  std::string bar(size_t(filled), '#');
  bar.resize(kWidth, '.');
  std::fprintf(stderr, "\r%s [%s] %3d%%  %.1f s  %.1f MB ", label_.c_str(), bar.c_str(),
               int(fraction * 100 + 0.5), double(time27) / 27e6, double(bytes) / 1e6);
  drawn_ = true;
}

void Progress::finish() {
  if (!enabled_ || !drawn_) return;
  // The state at the end, which the rate limit may have skipped.
  draw(last_time27_, last_bytes_);
  std::fputc('\n', stderr);
  drawn_ = false;
}

}  // namespace zepcli
