#include "tools/zepdemux/api_source.h"

#include <cstring>

#include "platform/zep_platform.h"
#include "tools/zepdemux/container_source.h"

namespace zepcli {
namespace {

std::string text4(const uint16_t* chars) {
  std::u16string text;
  for (int i = 0; i < 4 && chars[i] != 0; ++i) text += char16_t(chars[i]);
  while (!text.empty() && text.back() == u' ') text.pop_back();
  return zep::u16_to_utf8(text);
}

StreamDesc describe_stream(const zep_stream_info_t& info) {
  StreamDesc s;
  s.index = info.stream_index;
  s.type = info.media_type;
  s.codec_id = info.codec_id;
  s.format_a = info.format_a;
  s.format_b = info.format_b;
  s.format_tag = info.format_tag;
  if (info.details != nullptr) {
    if (info.media_type == ZEP_MEDIA_VIDEO) {
      const auto* v = static_cast<const zep_video_details_t*>(info.details);
      s.frame_duration = v->frame_duration;
      s.width = v->width;
      s.height = v->height;
      s.display_width = v->display_width;
      s.display_height = v->display_height;
    } else if (info.media_type == ZEP_MEDIA_AUDIO) {
      const auto* a = static_cast<const zep_audio_details_t*>(info.details);
      s.channels = a->channels;
      s.sample_rate = a->sample_rate;
      s.avg_bytes_per_sec = a->avg_bytes_per_sec;
      s.bits_per_sample = a->bits_per_sample;
      s.block_align = a->block_align;
      uint16_t language[4];
      std::memcpy(language, a->language, sizeof language);
      s.language = text4(language);
    } else if (info.media_type == ZEP_MEDIA_SUBTITLE) {
      const auto* t = static_cast<const zep_subtitle_details_t*>(info.details);
      uint16_t language[4];
      std::memcpy(language, t->language, sizeof language);
      s.language = text4(language);
    }
  }
  if (info.codec_header != nullptr)
    s.codec_header.assign(info.codec_header, info.codec_header + info.codec_header_size);
  if (info.private_data != nullptr)
    s.private_data.assign(info.private_data, info.private_data + info.private_data_size);
  return s;
}

const char* container_name(uint8_t type) {
  switch (type) {
    case ZEP_CONTAINER_AVI:
      return "avi";
    case ZEP_CONTAINER_AVI_ODML:
      return "avi-opendml";
    case ZEP_CONTAINER_MKV:
      return "matroska";
    default:
      return "unknown";
  }
}

}  // namespace

std::unique_ptr<ApiSource> ApiSource::open(const std::string& file) {
  std::unique_ptr<ApiSource> source(new ApiSource());
  auto& messages = host_messages();
  messages.hold = true;
  messages.held.clear();
  const int32_t result = zepDemuxOpen(source->library_.get(), nullptr, file.c_str());
  messages.hold = false;
  if (result != 0) return nullptr;
  messages.release_warnings();
  messages.held.clear();
  source->describe(file);
  return source;
}

void ApiSource::describe(const std::string& file) {
  zepdmux_t* demux = library_.get();
  zep_file_info_t file_info{};
  if (zepDemuxGetFileInfo(demux, &file_info) != 0)
    throw Failure("Unable to read the file information");
  desc_.file = file;
  desc_.size = uint64_t(file_info.file_size);
  desc_.container = container_name(file_info.container_type);
  desc_.layer = "api";
  for (int16_t t = 0; t < file_info.num_titles; ++t) {
    zep_title_info_t title_info{};
    if (zepDemuxGetTitleInfo(demux, t, &title_info) != 0) throw Failure("Unable to read a title");
    TitleDesc title;
    title.index = t;
    const int total = title_info.num_video_streams + title_info.num_audio_streams +
                      title_info.num_subtitle_streams;
    for (int16_t s = 0; s < total; ++s) {
      zep_stream_info_t info{};
      if (zepDemuxGetStreamInfo(demux, t, s, &info) != 0) throw Failure("Unable to read a stream");
      title.duration = info.duration;
      title.streams.push_back(describe_stream(info));
    }
    if (total == 0) title.duration = 0;
    desc_.titles.push_back(std::move(title));
  }
}

std::unique_ptr<Session> ApiSource::open_session(const SessionOptions& options) {
  if (options.title < 0 || size_t(options.title) >= desc_.titles.size())
    throw Failure("Invalid title number " + std::to_string(options.title));
  const TitleDesc& title = desc_.titles[size_t(options.title)];
  SessionOptions resolved = options;
  if (resolved.streams.empty())
    for (const auto& s : title.streams) resolved.streams.push_back(s.index);
  for (int index : resolved.streams)
    if (index < 0 || size_t(index) >= title.streams.size())
      throw Failure("Stream number " + std::to_string(index) + " is out of range 0 .. " +
                    std::to_string(int(title.streams.size()) - 1));
  if (!options.pull) return make_push_session(library_.get(), title, resolved);
  return make_pull_session(library_.get(), title, resolved);
}

std::unique_ptr<Source> open_source(const std::string& file) {
  if (auto api = ApiSource::open(file)) return api;
  if (auto container = ContainerSource::open(file)) {
    host_messages().held.clear();
    host_messages().held_warnings.clear();
    return container;
  }
  auto& messages = host_messages();
  const bool said = !messages.held.empty();
  messages.print_held();
  messages.release_warnings();
  throw Failure(said ? "" : "Unable to open " + file);
}

}  // namespace zepcli
