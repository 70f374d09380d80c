// The CLI as a host of libzepdemux: the lookup function with the memory and
// message callbacks, and an owning handle of a library instance.
#pragma once

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "api/zep_demux.h"

namespace zepcli {

// Receives the library's messages. While `hold` is set, errors are kept
// rather than printed, so that a refused open can fall back quietly.
struct HostMessages {
  bool hold = false;
  bool verbose = false;
  size_t errors = 0;  // errors reported so far
  std::vector<std::string> held;
  std::set<std::string> warned;  // the damage reports printed, each once
  std::vector<std::string> held_warnings;
  void print_held();
  // Prints the warnings held during an open: after it succeeded, or when no
  // way of reading the file did (a fallback that reads the file clears them).
  void release_warnings();
};

// The process-wide message sink (one instance of the CLI, one thread).
HostMessages& host_messages();

// Throws Failure after a library call failed: without text of its own when
// the library reported an error since `errors_before` (it said why), else
// with `what`.
[[noreturn]] void library_failed(size_t errors_before, const std::string& what);

// Damage met by the container layer that the CLI drives itself (raw H.264,
// text subtitles, Matroska details), printed like the library's warnings.
void container_damage_sink(void* context, uint64_t offset, const char* text);

// The lookup function handed to zepDemuxNew; its context is unused.
zepdmux_func_t host_get_rc(void* context, const char* name);

class Library {
 public:
  Library();  // throws Failure when the library cannot start
  ~Library();
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
  zepdmux_t* get() const { return demux_; }

 private:
  zepdmux_t* demux_ = nullptr;
};

}  // namespace zepcli
