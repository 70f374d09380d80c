// Files that the shared library refuses because their module reports no
// container type (raw H.264, SRT/ASS/SSA) are read here through the
// container layer, with the same description and delivery as the library's.
#pragma once

#include <memory>
#include <string>

#include "tools/zepdemux/model.h"

struct ZepContainer;

namespace zepcli {

// Settings of the text subtitle module, applied to every container opened.
struct SubtitleSettings {
  bool text_output = false;
  uint32_t frame_width = 0;  // 0: the module's default frame
  uint32_t frame_height = 0;
  std::string font;  // empty: the module's default font
};

class ContainerSource : public Source {
 public:
  // Null when the container layer cannot open the file or the file has a
  // container type (then the shared library is the right reader).
  static std::unique_ptr<ContainerSource> open(const std::string& file);
  ~ContainerSource() override;

  const FileDesc& desc() const override { return desc_; }
  std::unique_ptr<Session> open_session(const SessionOptions& options) override;

  // Reconfigures the subtitle module (output form, frame, font) and reads
  // the description again.
  void set_subtitle_settings(const SubtitleSettings& settings);
  uint32_t module_id() const { return module_id_; }

 private:
  explicit ContainerSource(std::string file) : file_(std::move(file)) {}
  void describe(ZepContainer* container);

  std::string file_;
  std::u16string wide_name_;
  uint32_t module_id_ = 0;
  SubtitleSettings subtitle_;
  FileDesc desc_;
};

// Opens a container on `wide_name` and applies the subtitle settings;
// throws Failure with `what` on failure.
ZepContainer* open_container(const std::u16string& wide_name, const SubtitleSettings& settings);

}  // namespace zepcli
