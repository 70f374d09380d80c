// The text subtitle read module: one title, one subtitle stream, one block per
// subtitle entry, as text or as a rendered QSUB bitmap subtitle packet.
#include "modules/subtitle/subtitle_module.h"

#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "modules/subtitle/ass_reader.h"
#include "modules/subtitle/srt_reader.h"
#include "modules/subtitle/subtitle_render.h"

namespace {

constexpr size_t kMaxExtensionLength = ZEP_MAX_PATH;
// Answer of the codec private query when the caller offers no buffer.
constexpr ZEP_STATUS kNoBufferOffered = -8;

// The frame that bitmap packets are made for when the stream format names no
// frame size (an ASS or SSA file's format record carries none).
constexpr uint32_t kDefaultFrameWidth = 640;
constexpr uint32_t kDefaultFrameHeight = 480;

enum class ReaderKind { kSrt, kAss };

struct ZepSubtitleContainer {
  ZepSubtitleRenderer* renderer = nullptr;
  std::u16string fileName;
  uint32_t textOutput = 0;  // 1 text output, 0 bitmap output
  std::unique_ptr<ITextSubtitleRead> reader;
  ReaderKind readerKind = ReaderKind::kSrt;
  uint32_t active = 0;
  ZepTextSubtitleFormat format{};
  ZepTextSubtitleEntry entry{};  // the entry of the current read
  std::vector<uint8_t> packet;

  ~ZepSubtitleContainer() { zep_subtitle_renderer_destroy(renderer); }
};

ZepModuleList gRegisteredList{};

// The text from the last "." of the name to its end, lower case, trailing
// spaces removed. Answers 0 with an empty extension when the name has no dot
// or its only dot is its first character; -1 when the extension is too long
// to be turned to lower case.
ZEP_STATUS LowerExtension(const zep_wchar_t* name, std::u16string* extension) {
  extension->clear();
  size_t length = 0;
  while (length < ZEP_MAX_STRING_LENGTH && name[length] != 0) ++length;
  size_t dot = length;
  for (size_t i = length; i > 0; --i) {
    if (name[i - 1] == u'.') {
      dot = i - 1;
      break;
    }
  }
  if (dot == length || dot == 0) return ZEP_OK;
  size_t end = length;
  while (end > dot && name[end - 1] == u' ') --end;
  if (end - dot > kMaxExtensionLength) return ZEP_FAIL;
  for (size_t i = dot; i < end; ++i) {
    zep_wchar_t c = name[i];
    if (c >= u'A' && c <= u'Z') c = static_cast<zep_wchar_t>(c - u'A' + u'a');
    extension->push_back(c);
  }
  return ZEP_OK;
}

bool IsSrtExtension(const std::u16string& e) { return e == u".srt"; }
bool IsAssExtension(const std::u16string& e) { return e == u".ass" || e == u".ssa"; }

bool IsAssFourCC(uint32_t fourcc) {
  return fourcc == ZepFourCC("ASS\0") || fourcc == ZepFourCC("SSA\0");
}

void SetBitmapForm(ZepTextSubtitleFormat* format) {
  std::memset(format, 0, sizeof *format);
  format->width = 640;
  format->height = 480;
  format->bitsPerPixel = 4;
  format->compression = ZepFourCC("NORV");
  format->fourcc = ZepFourCC("NRSB");
  format->imageSize = 153600;
}

void SetTextForm(ZepTextSubtitleFormat* format) {
  std::memset(format, 0, sizeof *format);
  format->width = 640;
  format->height = 480;
  format->bitsPerPixel = 4;
  format->imageSize = 153600;
  format->compression = ZepFourCC("NORV");
  format->fourcc = ZepFourCC("NRTX");
}

std::unique_ptr<ITextSubtitleRead> MakeReader(ReaderKind kind) {
  if (kind == ReaderKind::kAss)
    return std::unique_ptr<ITextSubtitleRead>(new (std::nothrow) CASSReader);
  return std::unique_ptr<ITextSubtitleRead>(new (std::nothrow) CSRTReader);
}

ZepSubtitleContainer* AsContainer(ZepModuleHandle handle) {
  return static_cast<ZepSubtitleContainer*>(handle);
}

// ---- Slots ------------------------------------------------------------------

ZEP_STATUS InitModule(const ZepModuleList* list) {
  if (list != nullptr) gRegisteredList = *list;
  return ZEP_OK;
}

const ZepModuleInfo kModuleInfo = {
    1, 0, 1, 0, 0, 1, u".srt, .ass, .ssa", u"SRT read module.", ZEP_MODULE_ID_SUBTITLE,
};

const ZepModuleInfo* GetModuleInfo() { return &kModuleInfo; }

ZEP_STATUS ProbeContainer(uint32_t* score, const zep_wchar_t* name, void* /*context*/) {
  if (score == nullptr) return ZEP_FAIL;
  *score = 0;
  if (name == nullptr) return ZEP_FAIL;
  std::u16string extension;
  try {
    if (LowerExtension(name, &extension) < 0) return ZEP_FAIL;
  } catch (const std::bad_alloc&) {
    return ZEP_FAIL;
  }
  if (IsSrtExtension(extension) || IsAssExtension(extension)) *score = 100;
  return ZEP_OK;
}

ZEP_STATUS OpenContainer(ZepModuleHandle* handle, const zep_wchar_t* name, void* context) {
  if (handle == nullptr || name == nullptr) return ZEP_E_NULL_ARG;
  *handle = nullptr;
  std::unique_ptr<ZepSubtitleContainer> state(new (std::nothrow) ZepSubtitleContainer);
  if (!state) return ZEP_E_NO_MEMORY;
  if (zep_subtitle_renderer_create(&state->renderer) < 0) return ZEP_E_NO_MEMORY;

  ZepFile* probe = nullptr;
  if (zep_file_open(name, ZEP_FILE_READ, &probe, context) < 0) return ZEP_E_CANNOT_OPEN;
  zep_file_close(probe);

  SetBitmapForm(&state->format);
  std::u16string extension;
  try {
    state->fileName.assign(name);
    if (LowerExtension(name, &extension) < 0) extension.clear();
  } catch (const std::bad_alloc&) {
    return ZEP_E_NO_MEMORY;
  }
  // A name with none of the three extensions has no reader; the state is
  // released rather than handed out, so nothing is left behind.
  if (IsSrtExtension(extension)) {
    state->readerKind = ReaderKind::kSrt;
  } else if (IsAssExtension(extension)) {
    state->readerKind = ReaderKind::kAss;
  } else {
    return ZEP_E_NO_MEMORY;
  }
  state->reader = MakeReader(state->readerKind);
  if (!state->reader) return ZEP_E_NO_MEMORY;
  // A file that holds no entry (or stops early) still opens; its reads end.
  state->reader->Open(state->fileName.c_str());
  state->reader->GetStreamFormat(&state->format);
  *handle = state.release();
  return ZEP_OK;
}

ZEP_STATUS CloseContainer(ZepModuleHandle handle) {
  if (handle == nullptr) return ZEP_E_NULL_ARG;
  delete AsContainer(handle);
  return ZEP_OK;
}

ZEP_STATUS SetTitle(ZepModuleHandle handle, uint32_t /*title*/) {
  return handle == nullptr ? ZEP_E_NULL_ARG : ZEP_OK;
}

ZEP_STATUS SetTitleActiveStream(ZepModuleHandle handle, uint32_t /*blockType*/, uint32_t /*stream*/,
                                uint32_t active) {
  if (handle == nullptr) return ZEP_E_NULL_ARG;
  AsContainer(handle)->active = active;
  return ZEP_OK;
}

ZEP_STATUS ReadTextBlock(ZepSubtitleContainer* c, ZepBlock* block) {
  // Room for the longest entry text is made before the entry is taken, so
  // that no entry is consumed without being delivered.
  ZEP_STATUS status = zep_block_ensure_capacity(block, zep::subtitle::kEntryTextSize);
  if (status < 0) return status;
  if (block->data == nullptr || block->capacity < zep::subtitle::kEntryTextSize)
    return ZEP_ERR_BLOCK_BUFFER_TOO_SMALL;
  status = c->reader->ReadEntry(&c->entry);
  if (status == kZepNoEntryLeft) return ZEP_ERR_END_OF_STREAM;
  if (status != ZEP_OK) return ZEP_FAIL;
  const size_t length = strnlen(c->entry.text, sizeof c->entry.text);
  std::memset(block->data, 0, block->capacity);
  std::memcpy(block->data, c->entry.text, length);
  block->size = static_cast<uint32_t>(length);
  block->flags = ZEP_BLOCK_FLAG_KEYFRAME;
  block->time = static_cast<int64_t>(c->entry.start);
  block->duration = static_cast<int64_t>(c->entry.end - c->entry.start);
  return ZEP_OK;
}

ZEP_STATUS ReadBitmapBlock(ZepSubtitleContainer* c, ZepBlock* block) {
  ZEP_STATUS status = c->reader->ReadEntry(&c->entry);
  if (status == kZepNoEntryLeft) return ZEP_ERR_END_OF_STREAM;
  if (status < 0) return status;
  uint32_t width = c->format.width;
  uint32_t height = c->format.height;
  if (width == 0 && height == 0) {
    width = kDefaultFrameWidth;
    height = kDefaultFrameHeight;
  }
  try {
    ZepSubtitlePicture picture;
    status = zep_subtitle_render_entry(c->renderer, width, height, c->entry.text,
                                       static_cast<int64_t>(c->entry.start),
                                       static_cast<int64_t>(c->entry.end), &picture);
    if (status < 0) return status;
    c->packet.clear();
    if (zep_subtitle_build_packet(picture, width, height, &c->packet) < 0)
      return ZEP_ERR_BLOCK_READ_FAILURE;
  } catch (const std::bad_alloc&) {
    return ZEP_E_NO_MEMORY;
  }
  int64_t start = 0;
  int64_t end = 0;
  if (c->packet.size() > UINT32_MAX ||
      zep_subtitle_parse_time_string(c->packet.data(), c->packet.size(), &start, &end) < 0) {
    return ZEP_ERR_BLOCK_READ_FAILURE;
  }
  const auto size = static_cast<uint32_t>(c->packet.size());
  if (zep_block_ensure_capacity(block, size) < 0 || block->data == nullptr ||
      block->capacity < size) {
    return ZEP_ERR_BLOCK_READ_FAILURE;
  }
  std::memcpy(block->data, c->packet.data(), size);
  block->size = size;
  block->flags = ZEP_BLOCK_FLAG_KEYFRAME;
  block->time = start;
  block->duration = end - start;
  return ZEP_OK;
}

ZEP_STATUS ReadNextBlockByStream(ZepModuleHandle handle, uint32_t /*blockType*/,
                                 uint32_t /*stream*/, ZepBlock* block) {
  if (handle == nullptr || block == nullptr) return ZEP_E_NULL_ARG;
  ZepSubtitleContainer* c = AsContainer(handle);
  if (!c->reader) return ZEP_ERR_END_OF_STREAM;
  return c->textOutput ? ReadTextBlock(c, block) : ReadBitmapBlock(c, block);
}

ZEP_STATUS ReadNextBlock(ZepModuleHandle handle, uint32_t* blockType, uint32_t* stream,
                         ZepBlock* block, uint64_t /*callerContext*/) {
  if (handle == nullptr || block == nullptr) return ZEP_E_NULL_ARG;
  if (blockType != nullptr) *blockType = ZEP_BLOCK_SUBTITLE;
  if (stream != nullptr) *stream = 0;
  if (AsContainer(handle)->active != 1) return ZEP_WARN_NONFATAL;
  return ReadNextBlockByStream(handle, ZEP_BLOCK_SUBTITLE, 0, block);
}

ZEP_STATUS SetPosition(ZepModuleHandle handle, uint32_t /*blockType*/, uint32_t /*stream*/,
                       int64_t* time) {
  if (handle == nullptr || time == nullptr) return ZEP_E_NULL_ARG;
  ZepSubtitleContainer* c = AsContainer(handle);
  if (!c->reader) return ZEP_FAIL;
  // Both output forms read the same entries, so both are positioned.
  return c->reader->SeekEntry(time);
}

// Writes a record of `size` bytes into the caller's buffer of a query.
uint8_t* RecordBuffer(ZepQueryData* data, uint32_t size, ZEP_STATUS* status) {
  if (data->value.ptr == nullptr) {
    *status = ZEP_E_NULL_ARG;
    return nullptr;
  }
  if (data->size < size) {
    *status = ZEP_ERR_BUFFER_TOO_SMALL;
    return nullptr;
  }
  *status = ZEP_OK;
  data->valueType = ZEP_QTYPE_BUFFER;
  return static_cast<uint8_t*>(data->value.ptr);
}

void PutU32(uint8_t* at, uint32_t v) { std::memcpy(at, &v, sizeof v); }
void PutU16(uint8_t* at, uint16_t v) { std::memcpy(at, &v, sizeof v); }

ZEP_STATUS GetInfo(ZepModuleHandle handle, uint32_t qid, ZepQueryData* data, uint32_t /*index*/) {
  if (handle == nullptr || data == nullptr) return ZEP_E_NULL_ARG;
  ZepSubtitleContainer* c = AsContainer(handle);
  ZEP_STATUS status = ZEP_OK;
  switch (qid) {
    case ZEP_QID_NUM_CONTAINER_TITLE:
    case ZEP_QID_NUM_TITLE_STREAMS:
    case ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA:
      data->valueType = ZEP_QTYPE_COUNT16;
      data->size = 2;
      data->value.u64 = 1;
      return ZEP_OK;
    case ZEP_QID_NUM_ACTIVE_TITLE_STREAMS:
      data->valueType = ZEP_QTYPE_COUNT16;
      data->size = 2;
      data->value.u64 = static_cast<uint16_t>(c->active);
      return ZEP_OK;
    case ZEP_QID_SUB_STREAM_FORMAT: {
      if (data->size < sizeof c->format) return ZEP_E_NO_MEMORY;
      if (data->value.ptr == nullptr) return ZEP_E_NULL_ARG;
      std::memcpy(data->value.ptr, &c->format, sizeof c->format);
      data->valueType = ZEP_QTYPE_BUFFER;
      data->size = sizeof c->format;
      return ZEP_OK;
    }
    case ZEP_QID_GET_CONTAINER_PROP: {
      uint8_t* out = RecordBuffer(data, 12, &status);
      if (out == nullptr) return status;
      out[0] = 0x10;
      PutU32(out + 4, 1);  // one title
      PutU32(out + 8, 0);  // no menu pages
      return ZEP_OK;
    }
    case ZEP_QID_GET_TITLE_PROP: {
      uint8_t* out = RecordBuffer(data, 24, &status);
      if (out == nullptr) return status;
      std::memset(out, 0, 24);
      PutU32(out + 12, 1);  // one stream in the title
      return ZEP_OK;
    }
    case ZEP_QID_GET_TITLE_MEDIA_PROP: {
      uint8_t* out = RecordBuffer(data, 8, &status);
      if (out == nullptr) return status;
      PutU16(out + 0, 0);
      PutU16(out + 2, 0);  // no video
      PutU16(out + 4, 0);  // no audio
      PutU16(out + 6, 1);  // one subtitle stream
      return ZEP_OK;
    }
    case ZEP_QID_GET_SUBTITLE_MEDIA_PROP: {
      uint8_t* out = RecordBuffer(data, sizeof(ZepSubtitleMediaProp), &status);
      if (out == nullptr) return status;
      std::memset(out, 0, sizeof(ZepSubtitleMediaProp));
      out[0] = 0x10;
      return ZEP_OK;
    }
    case ZEP_QID_SET_SRT_OUTPUT_TEXT:
      data->valueType = ZEP_QTYPE_SETTING32;
      data->value.u64 = static_cast<uint8_t>(c->textOutput);
      return ZEP_OK;
    case ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE:
      if (!IsAssFourCC(c->format.fourcc) || !c->reader) return ZEP_OK;
      data->valueType = ZEP_QTYPE_SIZE32;
      data->value.u64 = c->reader->GetCodecPrivateSize();
      return ZEP_OK;
    case ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA: {
      if (!IsAssFourCC(c->format.fourcc) || !c->reader) return ZEP_OK;
      if (data->size == 0) return kNoBufferOffered;
      const uint32_t size = c->reader->GetCodecPrivateSize();
      if (data->size != size || data->value.ptr == nullptr) return ZEP_E_NULL_ARG;
      std::memcpy(data->value.ptr, c->reader->GetCodecPrivate(), size);
      data->valueType = ZEP_QTYPE_BUFFER;
      return ZEP_OK;
    }
    default:
      return ZEP_ERR_INVALID_QUERY_ID;
  }
}

ZEP_STATUS SetOutputText(ZepSubtitleContainer* c, ZepQueryData* data) {
  c->textOutput = data->value.u8 != 0 ? 1 : 0;
  // A new reader of the kind chosen at open reads the file again, so that
  // reading starts over at the first entry.
  std::unique_ptr<ITextSubtitleRead> reader = MakeReader(c->readerKind);
  if (!reader) {
    c->textOutput = 0;
    return ZEP_E_NO_MEMORY;
  }
  c->reader = std::move(reader);
  if (c->reader->Open(c->fileName.c_str()) == ZEP_OK && c->format.compression == 0 &&
      c->format.fourcc == 0) {
    SetTextForm(&c->format);
  }
  return ZEP_OK;
}

ZEP_STATUS SetInfo(ZepModuleHandle handle, uint32_t qid, ZepQueryData* data, uint32_t /*index*/,
                   uint64_t /*extra*/) {
  if (handle == nullptr || data == nullptr) return ZEP_E_NULL_ARG;
  ZepSubtitleContainer* c = AsContainer(handle);
  switch (qid) {
    case ZEP_QID_SET_HTTP_AUTH:
      return ZEP_OK;
    case ZEP_QID_SET_SRT_OUTPUT_TEXT:
      return SetOutputText(c, data);
    case ZEP_QID_SET_DSC_FONTFILE:
      return zep_subtitle_renderer_set_font(c->renderer,
                                            static_cast<const zep_wchar_t*>(data->value.ptr)) < 0
                 ? ZEP_FAIL
                 : ZEP_OK;
    case ZEP_QID_SUB_STREAM_FORMAT: {
      if (data->size < sizeof c->format) return ZEP_E_NO_MEMORY;
      if (data->value.ptr == nullptr) return ZEP_E_NULL_ARG;
      std::memcpy(&c->format, data->value.ptr, sizeof c->format);
      const uint64_t imageSize = static_cast<uint64_t>(c->format.width) * c->format.height / 2;
      c->format.imageSize = imageSize > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(imageSize);
      data->valueType = ZEP_QTYPE_BUFFER;
      data->size = sizeof c->format;
      return ZEP_OK;
    }
    default:
      return ZEP_ERR_INVALID_QUERY_ID;
  }
}

const ZepModuleOps kModuleOps = {
    .InitModule = InitModule,
    .GetModuleInfo = GetModuleInfo,
    .ProbeContainer = ProbeContainer,
    .OpenContainer = OpenContainer,
    .CloseContainer = CloseContainer,
    .SetTitle = SetTitle,
    .GetInfo = GetInfo,
    .SetPosition = SetPosition,
    .SetTitleActiveStream = SetTitleActiveStream,
    .ReadNextBlock = ReadNextBlock,
    .ReadNextBlockByStream = ReadNextBlockByStream,
    .SetInfo = SetInfo,
};

}  // namespace

extern "C" const ZepModule zepSubtitleModule = {ZEP_MODULE_ID_SUBTITLE, &kModuleInfo, &kModuleOps};
