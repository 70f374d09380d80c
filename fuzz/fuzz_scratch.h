// The file-based fuzz targets hand their input to a module as a file: one
// scratch file per process, rewritten for every input.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/zep_platform.h"

namespace fuzzing {

// Writes the input to /tmp/fuzz_<stem>_<pid><extension> and answers its wide
// name, or an empty name when the file cannot be written.
inline std::u16string write_scratch(const char* stem, const char* extension, const uint8_t* data,
                                    size_t size) {
  static const std::string path =
      std::string("/tmp/fuzz_") + stem + "_" + std::to_string(getpid()) + extension;
  FILE* out = std::fopen(path.c_str(), "wb");
  if (!out) return std::u16string();
  std::fwrite(data, 1, size, out);
  std::fclose(out);
  return zep::utf8_to_u16(path);
}

}  // namespace fuzzing
