#include "tools/zepdemux/container_source.h"

#include <filesystem>

#include "layer1/zep_module.h"
#include "tools/zepdemux/codec_tables.h"
#include "tools/zepdemux/container_query.h"

namespace zepcli {
namespace {

struct PrivateDataQids {
  uint32_t size;
  uint32_t data;
};
constexpr PrivateDataQids kVideoPrivate{ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE,
                                        ZEP_QID_VIDEO_CODEC_PRIVATE_DATA};
constexpr PrivateDataQids kAudioPrivate{ZEP_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE,
                                        ZEP_QID_AUDIO_CODEC_PRIVATE_DATA};
constexpr PrivateDataQids kSubtitlePrivate{ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE,
                                           ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA};

// Private data larger than this is not believed (a damaged size field).
constexpr int64_t kMaxPrivateData = 16 << 20;

void read_private_data(ZepContainer* c, const PrivateDataQids& qids, uint32_t index,
                       StreamDesc& stream) {
  const auto size = query_scalar(c, qids.size, index);
  if (!size || *size <= 0 || *size > kMaxPrivateData) return;
  if (auto bytes = query_bytes(c, qids.data, index, uint32_t(*size))) stream.private_data = *bytes;
}

// The codec header a host gets from the library: parameter sets with start
// codes for H.264, the private data itself for the other framed codecs.
void derive_codec_header(StreamDesc& stream) {
  if (stream.private_data.empty()) return;
  switch (stream.codec_id) {
    case 10:
      stream.codec_header = avc_codec_header(stream.private_data);
      break;
    case 3:
    case 4:
    case 131:
    case 141:
    case 143:
    case 150:
    case 151:
    case 172:
      stream.codec_header = stream.private_data;
      break;
    default:
      break;
  }
}

StreamDesc describe_video(ZepContainer* c, uint32_t v) {
  ZepVideoStreamFormat format{};
  if (!query_record(c, ZEP_QID_VID_STREAM_FORMAT, v, &format, sizeof format))
    throw Failure("Unable to get info for video stream " + std::to_string(v));
  StreamDesc s;
  s.type = kVideo;
  s.format_a = format.compression;
  s.format_b = format.fourcc;
  s.codec_id = video_codec_id(format.fourcc);
  s.width = format.width;
  s.height = format.height;
  s.display_width = format.displayWidth;
  s.display_height = format.displayHeight;
  if (format.rate != 0 && format.scale != 0)
    s.frame_duration = int64_t(1e7 / (double(format.rate) / double(format.scale)));
  read_private_data(c, kVideoPrivate, v, s);
  return s;
}

StreamDesc describe_audio(ZepContainer* c, uint32_t a) {
  ZepAudioStreamFormat format{};
  if (!query_record(c, ZEP_QID_AUD_STREAM_FORMAT, a, &format, sizeof format))
    throw Failure("Unable to get info for audio stream " + std::to_string(a));
  StreamDesc s;
  s.type = kAudio;
  const uint32_t extra = format.extraSize < sizeof format.extra ? format.extraSize : 0;
  s.format_tag = effective_format_tag(format.formatTag, format.extra, extra);
  s.codec_id = audio_codec_id(format.formatTag, format.extra, extra);
  s.channels = format.channels;
  s.sample_rate = format.sampleRate;
  s.avg_bytes_per_sec = format.avgBytesPerSec;
  s.block_align = format.blockAlign;
  s.bits_per_sample = format.bitsPerSample;
  const bool compressed = s.codec_id == 150 || s.codec_id == 172 || s.codec_id == 131 ||
                          s.codec_id == 141 || s.codec_id == 143 || s.format_tag == 39;
  if (s.bits_per_sample == 0 && compressed) s.bits_per_sample = 16;
  ZepAudioMediaProp prop{};
  if (query_record(c, ZEP_QID_GET_AUDIO_MEDIA_PROP, a, &prop, sizeof prop))
    s.language = short_text(prop.language);
  read_private_data(c, kAudioPrivate, a, s);
  return s;
}

StreamDesc describe_subtitle(ZepContainer* c, uint32_t n) {
  ZepSubtitleStreamFormat format{};
  if (!query_record(c, ZEP_QID_SUB_STREAM_FORMAT, n, &format, sizeof format))
    throw Failure("Unable to get info for subtitle stream " + std::to_string(n));
  StreamDesc s;
  s.type = kSubtitle;
  s.format_a = format.compression;
  s.format_b = format.fourcc;
  s.codec_id = subtitle_codec_id(format.fourcc);
  s.width = format.width;
  s.height = format.height;
  ZepSubtitleMediaProp prop{};
  if (query_record(c, ZEP_QID_GET_SUBTITLE_MEDIA_PROP, n, &prop, sizeof prop))
    s.language = short_text(prop.language);
  read_private_data(c, kSubtitlePrivate, n, s);
  return s;
}

struct ContainerCloser {
  void operator()(ZepContainer* c) const { L1CloseContainer(c); }
};
using ContainerPtr = std::unique_ptr<ZepContainer, ContainerCloser>;

}  // namespace

ZepContainer* open_container(const std::u16string& wide_name, const SubtitleSettings& settings) {
  ZepContainer* raw = nullptr;
  if (ZEP_FAILED(L1OpenContainer(&raw, wide_name.c_str(), nullptr)) || raw == nullptr)
    throw Failure("Unable to open input file with ZEP demuxer");
  ContainerPtr container(raw);
  // Font and frame first: the output form switch restarts the reader.
  if (!settings.font.empty() &&
      ZEP_FAILED(set_wide_string(raw, ZEP_QID_SET_DSC_FONTFILE, zep::utf8_to_u16(settings.font))))
    throw Failure("Unable to set the subtitle font " + settings.font);
  if (settings.frame_width != 0) {
    ZepSubtitleStreamFormat format{};
    if (!query_record(raw, ZEP_QID_SUB_STREAM_FORMAT, 0, &format, sizeof format))
      throw Failure("Unable to get info for subtitle stream 0");
    format.width = settings.frame_width;
    format.height = settings.frame_height;
    if (ZEP_FAILED(set_record(raw, ZEP_QID_SUB_STREAM_FORMAT, &format, sizeof format)))
      throw Failure("Unable to set the subtitle frame size");
  }
  if (settings.text_output && ZEP_FAILED(set_flag(raw, ZEP_QID_SET_SRT_OUTPUT_TEXT, 1)))
    throw Failure("Unable to switch the subtitle stream to text output");
  return container.release();
}

std::unique_ptr<ContainerSource> ContainerSource::open(const std::string& file) {
  if (ZEP_FAILED(L1Start())) return nullptr;
  std::unique_ptr<ContainerSource> source(new ContainerSource(file));
  source->wide_name_ = zep::utf8_to_u16(file);
  ZepContainer* raw = nullptr;
  if (ZEP_FAILED(L1OpenContainer(&raw, source->wide_name_.c_str(), nullptr)) || raw == nullptr)
    return nullptr;
  ContainerPtr container(raw);
  // A container type means the library itself reads this file.
  if (query_scalar(raw, ZEP_QID_GET_CONTAINER_TYPE, 0)) return nullptr;
  L1SelectModule(&source->module_id_, source->wide_name_.c_str(), 0, nullptr);
  source->describe(raw);
  return source;
}

ContainerSource::~ContainerSource() = default;

void ContainerSource::set_subtitle_settings(const SubtitleSettings& settings) {
  subtitle_ = settings;
  ContainerPtr container(open_container(wide_name_, subtitle_));
  describe(container.get());
}

void ContainerSource::describe(ZepContainer* c) {
  desc_ = FileDesc{};
  desc_.file = file_;
  desc_.layer = "container";
  desc_.container = module_id_ == ZEP_MODULE_ID_H264       ? "h264"
                    : module_id_ == ZEP_MODULE_ID_SUBTITLE ? "subtitle"
                                                           : "module " + std::to_string(module_id_);
  std::error_code error;
  desc_.size = std::filesystem::file_size(file_, error);
  if (error) throw Failure("Unable to get the size of input file");
  const auto titles = query_scalar(c, ZEP_QID_NUM_CONTAINER_TITLE, 0);
  if (!titles) throw Failure("Unable to get the number of titles");
  for (int t = 0; t < int(*titles); ++t) {
    if (ZEP_FAILED(L1SetTitle(c, uint32_t(t))))
      throw Failure("Unable to set title " + std::to_string(t));
    TitleDesc title;
    title.index = t;
    // Raw streams have no stated duration: unknown rather than a failure.
    title.duration = query_scalar(c, ZEP_QID_TITLE_DURATION, uint32_t(t)).value_or(-1);
    const auto count = [&](uint32_t qid) {
      return uint32_t(query_scalar(c, qid, uint32_t(t)).value_or(0));
    };
    const uint32_t videos = count(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA);
    const uint32_t audios = count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA);
    const uint32_t subtitles = count(ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA);
    for (uint32_t v = 0; v < videos; ++v) title.streams.push_back(describe_video(c, v));
    for (uint32_t a = 0; a < audios; ++a) title.streams.push_back(describe_audio(c, a));
    for (uint32_t s = 0; s < subtitles; ++s) title.streams.push_back(describe_subtitle(c, s));
    for (size_t i = 0; i < title.streams.size(); ++i) {
      title.streams[i].index = int(i);
      derive_codec_header(title.streams[i]);
    }
    desc_.titles.push_back(std::move(title));
  }
}

}  // namespace zepcli
