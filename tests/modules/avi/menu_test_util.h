// A crafted file opened through the platform layer, with a menu section at a
// known position, for the tests of the menu section reader.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "modules/avi/avi_menu.h"
#include "platform/zep_platform.h"
#include "tests/support/byte_writer.h"
#include "tests/support/menu_builder.h"

namespace zeptest {

// Something to stand in front of the menu section, as the first title would.
inline Bytes leading_riff(size_t data_bytes = 100) {
  return menu::list("RIFF", "AVI ", Bytes(data_bytes, 0xEE));
}

class OpenedFile {
 public:
  explicit OpenedFile(const Bytes& content) {
    path_ = dir_.write("menu.avi", content);
    std::u16string name = zep::utf8_to_u16(path_);
    status_ = zep_file_open(name.c_str(), ZEP_FILE_READ, &file_, nullptr);
  }
  ~OpenedFile() {
    if (file_ != nullptr) zep_file_close(file_);
  }
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;
  ZepFile* file() const { return file_; }
  ZEP_STATUS status() const { return status_; }
  const std::string& path() const { return path_; }

 private:
  TempDir dir_;
  std::string path_;
  ZepFile* file_ = nullptr;
  ZEP_STATUS status_ = 0;
};

// The reader over a file made of leading_riff() + section + tail.
class MenuFixture {
 public:
  explicit MenuFixture(const Bytes& section, const Bytes& tail = {})
      : menuPosition_(leading_riff().size()), file_(menu::concat({leading_riff(), section, tail})) {
    EXPECT_EQ(file_.status(), 0);
    EXPECT_EQ(
        aviMenuOps.OpenMenu(file_.file(), menuPosition_, &reader_, buffer_, sizeof buffer_, 1, 2),
        0);
  }
  ~MenuFixture() { aviMenuOps.CloseMenu(reader_); }
  MenuFixture(const MenuFixture&) = delete;
  MenuFixture& operator=(const MenuFixture&) = delete;

  AviMenuReader* reader() const { return reader_; }
  ZepFile* file() const { return file_.file(); }
  uint64_t menuPosition() const { return menuPosition_; }
  ZEP_STATUS parse() { return aviMenuOps.ParseMenu(reader_); }

 private:
  uint64_t menuPosition_;
  OpenedFile file_;
  AviMenuReader* reader_ = nullptr;
  uint8_t buffer_[AVI_MENU_BUFFER_SIZE] = {};
};

}  // namespace zeptest
