// Files the shared library opens (AVI): description from the public
// records, delivery through parsers in push or pull mode.
#pragma once

#include <memory>
#include <string>

#include "tools/zepdemux/library_host.h"
#include "tools/zepdemux/model.h"

namespace zepcli {

class ApiSource : public Source {
 public:
  // Null when the library refuses the file; its messages are then held in
  // host_messages() for the caller to print.
  static std::unique_ptr<ApiSource> open(const std::string& file);

  const FileDesc& desc() const override { return desc_; }
  std::unique_ptr<Session> open_session(const SessionOptions& options) override;
  zepdmux_t* demux() const { return library_.get(); }

 private:
  ApiSource() = default;
  void describe(const std::string& file);

  Library library_;
  FileDesc desc_;
};

// Sessions over one instance (api_session.cpp).
std::unique_ptr<Session> make_push_session(zepdmux_t* demux, const TitleDesc& title,
                                           const SessionOptions& options);
std::unique_ptr<Session> make_pull_session(zepdmux_t* demux, const TitleDesc& title,
                                           const SessionOptions& options);

}  // namespace zepcli
