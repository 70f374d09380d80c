// Subtitle text with markup -> rendered picture -> QSUB packet -> decoded
// picture. The first byte chooses the frame size; the rest is the entry text.
// Input caps: 4096 bytes of text.
#include <sys/stat.h>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "modules/subtitle/qsub_decode.h"
#include "modules/subtitle/subtitle_render.h"

namespace {

constexpr const char* kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr size_t kMaxText = 4096;

struct Frame {
  uint32_t width;
  uint32_t height;
};
constexpr Frame kFrames[] = {{640, 480}, {960, 720}, {1440, 1080}, {960, 480},
                             {320, 240}, {0, 0},     {640, 100},   {64, 48}};

ZepSubtitleRenderer* renderer() {
  static ZepSubtitleRenderer* r = [] {
    ZepSubtitleRenderer* made = nullptr;
    if (zep_subtitle_renderer_create(&made) != ZEP_OK) std::abort();
    struct stat info;
    if (stat(kFontFile, &info) == 0) {
      const std::u16string name = zep::utf8_to_u16(kFontFile);
      zep_subtitle_renderer_set_font(made, name.c_str());
    }
    return made;
  }();
  return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1 || size > kMaxText) return 0;
  const Frame frame = kFrames[data[0] % (sizeof kFrames / sizeof kFrames[0])];
  const std::string text(reinterpret_cast<const char*>(data + 1),
                         size - 1);  // stops at a zero byte

  ZepSubtitlePicture picture;
  const int64_t start = static_cast<int64_t>(data[0]) * 123456789;
  if (zep_subtitle_render_entry(renderer(), frame.width, frame.height, text.c_str(), start,
                                start * 3, &picture) != ZEP_OK) {
    return 0;
  }
  if (picture.pixels.size() != static_cast<size_t>(picture.width) * picture.height) std::abort();
  for (uint8_t v : picture.pixels) {
    if (v > 2) std::abort();
  }

  std::vector<uint8_t> packet;
  if (zep_subtitle_build_packet(picture, frame.width, frame.height, &packet) != ZEP_OK) return 0;
  ZepQsubPacket decoded;
  if (zep_qsub_decode_packet(packet.data(), packet.size(), &decoded) != ZEP_OK) std::abort();
  if (decoded.right != decoded.left + decoded.width - 1 ||
      decoded.bottom != decoded.top + decoded.height - 1) {
    std::abort();
  }
  if (decoded.width % 2 != 0 || decoded.height % 2 != 0 || decoded.width < 6) std::abort();
  int64_t s = 0, e = 0;
  if (zep_subtitle_parse_time_string(packet.data(), packet.size(), &s, &e) != ZEP_OK) std::abort();
  return 0;
}
