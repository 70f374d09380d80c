// A one-line progress bar on stderr, drawn only when stderr is a terminal.
#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace zepcli {

class Progress {
 public:
  // total: the title's duration in 27 MHz units (0 or less: unknown).
  Progress(std::string label, int64_t total27);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(int64_t time27, uint64_t bytes);
  void finish();

 private:
  void draw(int64_t time27, uint64_t bytes);

  std::string label_;
  int64_t total27_;
  bool enabled_;
  bool drawn_ = false;
  int64_t last_time27_ = 0;
  uint64_t last_bytes_ = 0;
  std::chrono::steady_clock::time_point last_{};
};

}  // namespace zepcli
