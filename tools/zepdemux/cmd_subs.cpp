#include <cstdio>
#include <filesystem>
#include <iostream>

#include "tools/zepdemux/commands.h"
#include "tools/zepdemux/container_source.h"
#include "tools/zepdemux/format.h"
#include "tools/zepdemux/model.h"
#include "tools/zepdemux/png_writer.h"
#include "tools/zepdemux/qsub_picture.h"

namespace zepcli {
namespace {

bool is_bitmap_codec(uint32_t codec_id) { return codec_id == 281 || codec_id == 291; }

// Collects each entry's bytes, then lists it and writes its picture.
class EntryLister : public Consumer {
 public:
  // text_file: an SRT/ASS/SSA file, whose entries come as QSUB packets
  // unless --text asked for their text.
  EntryLister(const TitleDesc& title, const SubsOptions& options, bool text_file)
      : title_(title), options_(options), text_file_(text_file) {}

  void bytes(int, const uint8_t* data, size_t size) override {
    payload_.insert(payload_.end(), data, data + size);
  }

  bool block(const BlockEvent& event) override {
    ++entries_;
    const StreamDesc& stream = title_.streams[size_t(event.stream)];
    nlohmann::ordered_json j;
    j["entry"] = entries_;
    j["stream"] = event.stream;
    j["start"] = seconds_27mhz(event.start27);
    j["end"] = seconds_27mhz(event.end27);
    const size_t size = payload_.size();
    j["size"] = size;
    std::string detail;
    const bool bitmap = text_file_ ? !options_.text : is_bitmap_codec(stream.codec_id);
    if (bitmap) {
      if (auto picture = decode_qsub(payload_.data(), payload_.size())) {
        j["width"] = picture->width;
        j["height"] = picture->height;
        j["x"] = picture->left;
        j["y"] = picture->top;
        detail = std::to_string(picture->width) + "x" + std::to_string(picture->height) + " at " +
                 std::to_string(picture->left) + "," + std::to_string(picture->top);
        if (!options_.png_dir.empty()) {
          char name[32];
          std::snprintf(name, sizeof name, "entry-%04llu.png",
                        static_cast<unsigned long long>(entries_));
          const std::string path = (std::filesystem::path(options_.png_dir) / name).string();
          write_png(path, *picture);
          j["png"] = path;
          detail += "  " + path;
        }
      } else {
        j["damaged"] = true;
        detail = "(packet does not decode)";
      }
    } else {
      std::string text(payload_.begin(), payload_.end());
      j["text"] = text;
      for (auto& c : text)
        if (c == '\n' || c == '\r') c = '|';
      detail = text;
    }
    payload_.clear();
    if (options_.json) return std::printf("%s\n", j.dump().c_str()) >= 0;
    return std::printf("%4llu  %s --> %s  %6zu bytes  %s\n",
                       static_cast<unsigned long long>(entries_),
                       seconds_text(seconds_27mhz(event.start27)).c_str(),
                       seconds_text(seconds_27mhz(event.end27)).c_str(), size, detail.c_str()) >= 0;
  }

  uint64_t entries() const { return entries_; }

 private:
  const TitleDesc& title_;
  const SubsOptions& options_;
  bool text_file_;
  std::vector<uint8_t> payload_;
  uint64_t entries_ = 0;
};

SubtitleSettings settings_from(const SubsOptions& options) {
  SubtitleSettings settings;
  settings.text_output = options.text;
  settings.font = options.font;
  if (!options.frame.empty()) {
    const auto x = options.frame.find('x');
    settings.frame_width = uint32_t(std::stoul(options.frame.substr(0, x)));
    settings.frame_height = uint32_t(std::stoul(options.frame.substr(x + 1)));
  }
  return settings;
}

}  // namespace

int run_subs(const SubsOptions& options) {
  auto source = open_source(options.file);
  const bool text_settings = options.text || !options.frame.empty() || !options.font.empty();
  auto* container = dynamic_cast<ContainerSource*>(source.get());
  const bool text_file = container != nullptr && container->desc().container == "subtitle";
  if (text_file) {
    if (text_settings) container->set_subtitle_settings(settings_from(options));
  } else if (text_settings) {
    throw UsageError("--text, --frame and --font apply to SRT, ASS and SSA files");
  }
  const auto& titles = source->desc().titles;
  if (options.title < 0 || size_t(options.title) >= titles.size())
    throw Failure("Invalid title number " + std::to_string(options.title));
  const TitleDesc& title = titles[size_t(options.title)];
  SessionOptions session_options;
  session_options.title = options.title;
  for (const auto& stream : title.streams)
    if (stream.type == kSubtitle) session_options.streams.push_back(stream.index);
  if (session_options.streams.empty()) throw Failure(options.file + " has no subtitle stream");
  if (!options.png_dir.empty()) {
    std::error_code error;
    std::filesystem::create_directories(options.png_dir, error);
    if (error) throw Failure("Unable to create " + options.png_dir + ": " + error.message());
  }
  auto session = source->open_session(session_options);
  EntryLister lister(title, options, text_file);
  session->run(lister, 0);
  if (!options.json)
    std::printf("%llu entries\n", static_cast<unsigned long long>(lister.entries()));
  return 0;
}

}  // namespace zepcli
