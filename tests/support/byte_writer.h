// Byte-exact writers for crafted test files. ByteWriter appends integers in
// either byte order and can patch a size field once the content after it is
// known; the RIFF, EBML and NAL builders are written on top of it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zeptest {

using Bytes = std::vector<uint8_t>;

class ByteWriter {
 public:
  ByteWriter& u8(uint8_t v);
  ByteWriter& le16(uint16_t v);
  ByteWriter& le32(uint32_t v);
  ByteWriter& le64(uint64_t v);
  ByteWriter& be16(uint16_t v);
  ByteWriter& be24(uint32_t v);
  ByteWriter& be32(uint32_t v);
  // Four characters (a FourCC) or any text, without terminator.
  ByteWriter& text(std::string_view s);
  ByteWriter& bytes(const Bytes& b);
  ByteWriter& bytes(const void* data, size_t size);
  ByteWriter& zeros(size_t count);
  ByteWriter& fill(uint8_t value, size_t count);

  // Overwrite an already written field.
  void patch_le32(size_t offset, uint32_t v);
  void patch_le64(size_t offset, uint64_t v);

  size_t size() const { return data_.size(); }
  const Bytes& data() const { return data_; }
  Bytes take() { return std::move(data_); }

 private:
  Bytes data_;
};

// A scratch directory under the system's temp folder, removed with its
// contents when the object goes away.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes `content` to path()/name and returns the full path.
  std::string write(const std::string& name, const Bytes& content) const;
  std::string write(const std::string& name, std::string_view content) const;

 private:
  std::string path_;
};

Bytes read_file(const std::string& path);
// Runs a shell command; returns its exit status (-1 when it could not start).
int run_command(const std::string& command);
// Runs a shell command and returns what it printed on standard output.
std::string command_output(const std::string& command);
// True when `tool` (e.g. "ffmpeg") is on PATH.
bool have_tool(const std::string& tool);

}  // namespace zeptest
