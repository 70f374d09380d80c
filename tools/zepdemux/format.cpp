#include "tools/zepdemux/format.h"

#include <cinttypes>
#include <cstdio>

#include "tools/zepdemux/codec_tables.h"

namespace zepcli {

const char* media_type_name(uint32_t type) {
  switch (type) {
    case kAudio:
      return "audio";
    case kVideo:
      return "video";
    case kSubtitle:
      return "subtitle";
    default:
      return "unknown";
  }
}

int64_t time_to_27mhz(int64_t time) { return int64_t(double(time) / 1e7 * 2.7e7 + 0.5); }

int64_t end_27mhz(int64_t start27, int64_t duration) {
  return start27 + int64_t(double(duration) * 2.7);
}

double seconds_27mhz(int64_t t27) { return double(t27) / 27e6; }
double seconds_100ns(int64_t time) { return double(time) / 1e7; }

std::string seconds_text(double seconds) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.6f", seconds);
  return buffer;
}

std::string hex32(uint32_t value) {
  char buffer[16];
  std::snprintf(buffer, sizeof buffer, "%08" PRIx32, value);
  return buffer;
}

nlohmann::ordered_json stream_json(const StreamDesc& s) {
  nlohmann::ordered_json j;
  j["index"] = s.index;
  j["type"] = media_type_name(s.type);
  j["codec_id"] = s.codec_id;
  j["codec"] = codec_name(s.codec_id);
  if (s.type == kAudio) {
    j["format_tag"] = s.format_tag;
    j["channels"] = s.channels;
    j["sample_rate"] = s.sample_rate;
    j["bits_per_sample"] = s.bits_per_sample;
    j["avg_bytes_per_sec"] = s.avg_bytes_per_sec;
    j["block_align"] = s.block_align;
  } else {
    j["fourcc"] = fourcc_text(s.format_b);
    j["compression"] = fourcc_text(s.format_a);
  }
  if (s.type == kVideo) {
    j["width"] = s.width;
    j["height"] = s.height;
    j["display_width"] = s.display_width;
    j["display_height"] = s.display_height;
    j["frame_duration"] = seconds_100ns(s.frame_duration);
  }
  if (!s.language.empty()) j["language"] = s.language;
  j["codec_header_size"] = s.codec_header.size();
  j["private_data_size"] = s.private_data.size();
  return j;
}

std::string stream_line(const StreamDesc& s) {
  char buffer[512];
  std::string line = "  stream " + std::to_string(s.index) + ": " + media_type_name(s.type) + ", " +
                     codec_name(s.codec_id) + " (codec " + std::to_string(s.codec_id) + ")";
  if (s.type == kAudio) {
    std::snprintf(buffer, sizeof buffer, ", tag 0x%04X, %u ch, %u Hz, %u bits, %u bytes/s",
                  s.format_tag, s.channels, s.sample_rate, s.bits_per_sample, s.avg_bytes_per_sec);
    line += buffer;
  } else {
    line += ", FourCC " + fourcc_text(s.format_b) + "/" + fourcc_text(s.format_a);
  }
  if (s.type == kVideo) {
    std::snprintf(buffer, sizeof buffer, ", %ux%u", s.width, s.height);
    line += buffer;
    if (s.display_width != 0 && s.display_height != 0) {
      std::snprintf(buffer, sizeof buffer, " (display %ux%u)", s.display_width, s.display_height);
      line += buffer;
    }
    if (s.frame_duration > 0) {
      std::snprintf(buffer, sizeof buffer, ", frame %.6f s (%.3f fps)",
                    seconds_100ns(s.frame_duration), 1e7 / double(s.frame_duration));
      line += buffer;
    }
  }
  if (s.type == kSubtitle && (s.width || s.height)) {
    std::snprintf(buffer, sizeof buffer, ", frame %ux%u", s.width, s.height);
    line += buffer;
  }
  if (!s.language.empty()) line += ", language " + s.language;
  line += ", codec header " + std::to_string(s.codec_header.size()) + " bytes, private data " +
          std::to_string(s.private_data.size()) + " bytes";
  return line;
}

nlohmann::ordered_json packet_json(const BlockEvent& e, uint32_t crc) {
  nlohmann::ordered_json j;
  j["stream"] = e.stream;
  j["type"] = media_type_name(e.type);
  j["time"] = seconds_27mhz(e.start27);
  j["duration"] = seconds_27mhz(e.end27 - e.start27);
  j["size"] = e.size;
  j["key"] = e.key;
  j["crc32"] = hex32(crc);
  return j;
}

std::string packet_header_line() {
  return "stream type            time      duration       size key crc32";
}

std::string packet_line(const BlockEvent& e, uint32_t crc) {
  char buffer[160];
  std::snprintf(buffer, sizeof buffer, "%6d %-8s %12.6f %12.6f %10" PRIu64 " %3s %s", e.stream,
                media_type_name(e.type), seconds_27mhz(e.start27),
                seconds_27mhz(e.end27 - e.start27), e.size, e.key ? "K" : "-", hex32(crc).c_str());
  return buffer;
}

}  // namespace zepcli
