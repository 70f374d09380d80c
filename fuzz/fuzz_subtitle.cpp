// The SRT and ASS/SSA readers and the text subtitle read module over arbitrary
// file content. The first byte chooses the file name's extension (bit 0), the
// output form (bits 1-3) and the frame size (bits 4-5); the rest is the file.
// Input caps: 256 KiB files; 5000 text entries, 2 rendered entries.
#include <sys/stat.h>
#include <unistd.h>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "modules/subtitle/ass_reader.h"
#include "modules/subtitle/srt_reader.h"
#include "modules/subtitle/subtitle_module.h"

namespace {

constexpr const char* kFontFile = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";
constexpr size_t kMaxFile = 256 * 1024;
constexpr int kMaxTextBlocks = 5000;
constexpr int kMaxBitmapBlocks = 2;  // every rendered entry opens the font anew

struct Frame {
  uint32_t width;
  uint32_t height;
};
constexpr Frame kFrames[] = {{640, 480}, {960, 720}, {1440, 1080}, {0, 0}};

void CheckEntry(const ZepTextSubtitleEntry& entry) {
  if (strnlen(entry.text, sizeof entry.text) >= sizeof entry.text) std::abort();
}

void DriveReader(ITextSubtitleRead* reader, const std::u16string& name) {
  reader->Open(name.c_str());
  ZepTextSubtitleEntry entry;
  int64_t lastStart = 0;
  for (int i = 0; i < kMaxTextBlocks && reader->ReadEntry(&entry) == ZEP_OK; ++i) {
    CheckEntry(entry);
    lastStart = static_cast<int64_t>(entry.start);
  }
  const int64_t afterLast = lastStart < INT64_MAX ? lastStart + 1 : lastStart;
  for (int64_t t : {int64_t{-5}, int64_t{0}, lastStart, afterLast, INT64_MAX}) {
    int64_t time = t;
    if (reader->SeekEntry(&time) == ZEP_OK && reader->ReadEntry(&entry) == ZEP_OK)
      CheckEntry(entry);
  }
  ZepTextSubtitleFormat format;
  reader->GetStreamFormat(&format);
  // Every byte of the codec private data must be readable.
  const uint8_t* priv = reader->GetCodecPrivate();
  const uint32_t size = reader->GetCodecPrivateSize();
  volatile uint32_t sum = 0;
  for (uint32_t i = 0; priv != nullptr && i < size; ++i) sum = sum + priv[i];
}

void DriveModule(const std::u16string& name, bool text, const Frame& frame) {
  ZepContainer* c = nullptr;
  if (L1OpenContainer(&c, name.c_str(), nullptr) < 0 || c == nullptr) return;
  ZepQueryData q{};
  uint8_t record[1056];
  for (uint32_t qid : {ZEP_QID_NUM_CONTAINER_TITLE, ZEP_QID_SUB_STREAM_FORMAT,
                       ZEP_QID_GET_SUBTITLE_MEDIA_PROP, ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE}) {
    q = {};
    q.size = sizeof record;
    q.value.ptr = record;
    L1GetInfo(c, qid, &q, 0);
  }
  q = {};
  if (L1GetInfo(c, ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE, &q, 0) == ZEP_OK &&
      q.valueType == ZEP_QTYPE_SIZE32) {
    std::string priv(q.value.u32, '\0');
    q.size = q.value.u32;
    q.value.ptr = priv.data();
    L1GetInfo(c, ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA, &q, 0);
  }
  L1SetTitleActiveStream(c, ZEP_BLOCK_SUBTITLE, 0, 1);
  ZepBlock block;
  zep_heap_block_init(&block);
  if (text) {
    q = {};
    q.value.u8 = 1;
    L1SetInfo(c, ZEP_QID_SET_SRT_OUTPUT_TEXT, &q, 0, 0);
  } else {
    struct stat info;
    if (stat(kFontFile, &info) == 0) {
      const std::u16string font = zep::utf8_to_u16(kFontFile);
      q = {};
      q.value.ptr = const_cast<char16_t*>(font.c_str());
      L1SetInfo(c, ZEP_QID_SET_DSC_FONTFILE, &q, 0, 0);
    }
    ZepTextSubtitleFormat format{};
    q = {};
    q.size = sizeof format;
    q.value.ptr = &format;
    if (L1GetInfo(c, ZEP_QID_SUB_STREAM_FORMAT, &q, 0) == ZEP_OK) {
      format.width = frame.width;
      format.height = frame.height;
      L1SetInfo(c, ZEP_QID_SUB_STREAM_FORMAT, &q, 0, 0);
    }
  }
  const int limit = text ? kMaxTextBlocks : kMaxBitmapBlocks;
  uint32_t type = 0, stream = 0;
  for (int i = 0; i < limit && L1ReadNextBlock(c, &type, &stream, &block, 0) == ZEP_OK; ++i) {
    if (block.size > block.capacity) std::abort();
  }
  int64_t t = 12345678;
  L1SetPosition(c, ZEP_BLOCK_SUBTITLE, 0, &t);
  if (text) L1ReadNextBlock(c, &type, &stream, &block, 0);
  zep_heap_block_free(&block);
  L1CloseContainer(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const bool started = L1Start() == ZEP_OK;
  if (!started || size < 1 || size > kMaxFile) return 0;
  const uint8_t choice = data[0];
  const char* extension = (choice & 1) ? ".ass" : ".srt";
  // Rendering is slow (the font is opened for every entry): one input in
  // eight takes the bitmap output.
  const bool text = (choice & 0x0E) != 0;
  const Frame frame = kFrames[(choice >> 4) % (sizeof kFrames / sizeof kFrames[0])];

  const std::string path = "/tmp/fuzz_subtitle_" + std::to_string(getpid()) + extension;
  FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return 0;
  std::fwrite(data + 1, 1, size - 1, f);
  std::fclose(f);
  const std::u16string name = zep::utf8_to_u16(path);

  {
    CSRTReader srt;
    DriveReader(&srt, name);
    CASSReader ass;
    DriveReader(&ass, name);
  }
  DriveModule(name, text, frame);
  std::remove(path.c_str());
  return 0;
}
