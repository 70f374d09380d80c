#include "tests/support/byte_writer.h"

#include <array>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

#include <sys/wait.h>

namespace zeptest {

ByteWriter& ByteWriter::u8(uint8_t v) {
  data_.push_back(v);
  return *this;
}
ByteWriter& ByteWriter::le16(uint16_t v) { return u8(v & 0xFF).u8(v >> 8); }
ByteWriter& ByteWriter::le32(uint32_t v) { return le16(v & 0xFFFF).le16(v >> 16); }
ByteWriter& ByteWriter::le64(uint64_t v) { return le32(uint32_t(v)).le32(uint32_t(v >> 32)); }
ByteWriter& ByteWriter::be16(uint16_t v) { return u8(v >> 8).u8(v & 0xFF); }
ByteWriter& ByteWriter::be24(uint32_t v) { return u8((v >> 16) & 0xFF).be16(v & 0xFFFF); }
ByteWriter& ByteWriter::be32(uint32_t v) { return be16(v >> 16).be16(v & 0xFFFF); }
ByteWriter& ByteWriter::text(std::string_view s) { return bytes(s.data(), s.size()); }
ByteWriter& ByteWriter::bytes(const Bytes& b) { return bytes(b.data(), b.size()); }
ByteWriter& ByteWriter::bytes(const void* data, size_t size) {
  auto p = static_cast<const uint8_t*>(data);
  if (size) data_.insert(data_.end(), p, p + size);
  return *this;
}
ByteWriter& ByteWriter::zeros(size_t count) { return fill(0, count); }
ByteWriter& ByteWriter::fill(uint8_t value, size_t count) {
  data_.insert(data_.end(), count, value);
  return *this;
}
void ByteWriter::patch_le32(size_t offset, uint32_t v) {
  for (int i = 0; i < 4; ++i) data_.at(offset + i) = uint8_t(v >> (8 * i));
}
void ByteWriter::patch_le64(size_t offset, uint64_t v) {
  patch_le32(offset, uint32_t(v));
  patch_le32(offset + 4, uint32_t(v >> 32));
}

TempDir::TempDir() {
  std::string tmpl = (std::filesystem::temp_directory_path() / "zeptest-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}
TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}
std::string TempDir::write(const std::string& name, const Bytes& content) const {
  std::string full = path_ + "/" + name;
  std::ofstream out(full, std::ios::binary);
  out.write(reinterpret_cast<const char*>(content.data()), std::streamsize(content.size()));
  return full;
}
std::string TempDir::write(const std::string& name, std::string_view content) const {
  return write(name, Bytes(content.begin(), content.end()));
}

Bytes read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

int run_command(const std::string& command) {
  int rc = std::system(command.c_str());
  if (rc == -1) return -1;
  return WIFEXITED(rc) ? WEXITSTATUS(rc) : -1;
}

std::string command_output(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return out;
  std::array<char, 4096> buf;
  size_t n;
  while ((n = fread(buf.data(), 1, buf.size(), pipe)) > 0) out.append(buf.data(), n);
  pclose(pipe);
  return out;
}

bool have_tool(const std::string& tool) {
  return run_command("command -v " + tool + " >/dev/null 2>&1") == 0;
}

}  // namespace zeptest
