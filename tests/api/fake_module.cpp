#include "fake_module.h"

#include <algorithm>
#include <cstring>

namespace zeptest {

FakeScenario* g_fake = nullptr;

namespace {

struct Handle {
  uint32_t title = 0;
  size_t next = 0;  // index of the next block of the title
  int delivered = 0;
  std::vector<std::pair<uint32_t, uint32_t>> active;
  // Where each stream positioned by the current seek starts again; like an AVI
  // walk, the shared cursor restarts at the earliest of them and blocks of a
  // positioned stream before its own start are passed over.
  std::vector<std::pair<std::pair<uint32_t, uint32_t>, size_t>> starts;
  bool readSincePosition = true;
};

bool before_own_start(const Handle* h, const FakeBlock& b, size_t index) {
  for (const auto& [key, start] : h->starts)
    if (key.first == b.type && key.second == b.stream) return index < start;
  return false;
}

bool ends_with(const zep_wchar_t* name, const char16_t* suffix) {
  const size_t n = std::char_traits<char16_t>::length(name);
  const size_t s = std::char_traits<char16_t>::length(suffix);
  return n >= s && std::char_traits<char16_t>::compare(name + n - s, suffix, s) == 0;
}

FakeTitle* title_of(Handle* h) {
  if (g_fake == nullptr || h->title >= g_fake->titles.size()) return nullptr;
  return &g_fake->titles[h->title];
}

ZEP_STATUS init_module(const ZepModuleList*) { return ZEP_OK; }

const ZepModuleInfo kInfo = {1, 0, 1, 0, 1, 0, u".fake", u"Test read module.", 3};
const ZepModuleInfo* module_info() { return &kInfo; }

ZEP_STATUS probe(uint32_t* score, const zep_wchar_t* name, void*) {
  if (score == nullptr || name == nullptr) return ZEP_FAIL;
  *score = ends_with(name, u".fake") ? 100 : 0;
  return ZEP_OK;
}

ZEP_STATUS fake_open(ZepModuleHandle* out, const zep_wchar_t*, void*) {
  if (g_fake == nullptr) return ZEP_E_CANNOT_OPEN;
  ++g_fake->opens;
  *out = new Handle();
  return ZEP_OK;
}

ZEP_STATUS fake_close(ZepModuleHandle handle) {
  if (g_fake != nullptr) ++g_fake->closes;
  delete static_cast<Handle*>(handle);
  return ZEP_OK;
}

ZEP_STATUS set_title(ZepModuleHandle handle, uint32_t title) {
  auto* h = static_cast<Handle*>(handle);
  h->title = title;
  h->next = 0;
  return g_fake != nullptr && title < g_fake->titles.size() ? ZEP_OK : ZEP_ERR_INVALID_TITLE_INDEX;
}

ZEP_STATUS copy_record(ZepQueryData* data, const void* record, uint32_t size) {
  if (data->size < size || data->value.ptr == nullptr) return ZEP_ERR_BUFFER_TOO_SMALL;
  std::memcpy(data->value.ptr, record, size);
  data->size = size;
  return ZEP_OK;
}

ZEP_STATUS private_data(ZepQueryData* data, const std::vector<uint8_t>& bytes, bool sizeOnly) {
  if (sizeOnly) {
    data->value.u32 = uint32_t(bytes.size());
    return ZEP_OK;
  }
  return copy_record(data, bytes.data(), uint32_t(bytes.size()));
}

ZEP_STATUS get_info(ZepModuleHandle handle, uint32_t qid, ZepQueryData* data, uint32_t index) {
  auto* h = static_cast<Handle*>(handle);
  FakeScenario& f = *g_fake;
  FakeTitle* t = title_of(h);
  switch (qid) {
    case ZEP_QID_GET_CONTAINER_TYPE:
      if (!f.answerContainerType) return ZEP_ERR_UNSUPPORTED_QID;
      data->value.u32 = f.containerType;
      return ZEP_OK;
    case ZEP_QID_NUM_CONTAINER_TITLE:
      data->value.u16 = uint16_t(f.titles.size());
      return ZEP_OK;
    case ZEP_QID_TITLE_DURATION:
      if (index >= f.titles.size()) return ZEP_ERR_INVALID_TITLE_INDEX;
      data->value.i64 = f.titles[index].duration;
      return ZEP_OK;
    case ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA:
      data->value.u16 = uint16_t(f.titles.at(index).video.size());
      return ZEP_OK;
    case ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA:
      data->value.u16 = uint16_t(f.titles.at(index).audio.size());
      return ZEP_OK;
    case ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA:
      data->value.u16 = uint16_t(f.titles.at(index).subtitle.size());
      return ZEP_OK;
    case ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME:
      f.syncQueries.push_back({qid, data->value.i64});
      data->value.i64 = f.nextSyncTime;
      return ZEP_OK;
    case ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME:
      f.syncQueries.push_back({qid, data->value.i64});
      data->value.i64 = f.prevSyncTime;
      return ZEP_OK;
    default:
      break;
  }
  if (t == nullptr) return ZEP_FAIL;
  switch (qid) {
    case ZEP_QID_VID_STREAM_FORMAT:
      if (index >= t->video.size()) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return copy_record(data, &t->video[index].format, sizeof(ZepVideoStreamFormat));
    case ZEP_QID_AUD_STREAM_FORMAT:
      if (index >= t->audio.size()) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return copy_record(data, &t->audio[index].format, sizeof(ZepAudioStreamFormat));
    case ZEP_QID_GET_AUDIO_MEDIA_PROP:
      if (index >= t->audio.size()) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return copy_record(data, &t->audio[index].prop, sizeof(ZepAudioMediaProp));
    case ZEP_QID_SUB_STREAM_FORMAT:
      if (index >= t->subtitle.size()) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return copy_record(data, &t->subtitle[index].format, sizeof(ZepSubtitleStreamFormat));
    case ZEP_QID_GET_SUBTITLE_MEDIA_PROP:
      if (index >= t->subtitle.size()) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return copy_record(data, &t->subtitle[index].prop, sizeof(ZepSubtitleMediaProp));
    case ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE:
    case ZEP_QID_VIDEO_CODEC_PRIVATE_DATA:
      if (index >= t->video.size()) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return private_data(data, t->video[index].privateData,
                          qid == ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE);
    case ZEP_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE:
    case ZEP_QID_AUDIO_CODEC_PRIVATE_DATA:
      if (index >= t->audio.size()) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return private_data(data, t->audio[index].privateData,
                          qid == ZEP_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE);
    case ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE:
    case ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA:
      if (index >= t->subtitle.size()) return ZEP_ERR_INDEX_OUT_OF_RANGE;
      return private_data(data, t->subtitle[index].privateData,
                          qid == ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE);
    default:
      return ZEP_ERR_UNSUPPORTED_QID;
  }
}

bool is_active(const Handle* h, uint32_t type, uint32_t stream) {
  for (const auto& a : h->active) {
    if (a.first == type && a.second == stream) return true;
  }
  return false;
}

ZEP_STATUS set_active(ZepModuleHandle handle, uint32_t type, uint32_t stream, uint32_t active) {
  auto* h = static_cast<Handle*>(handle);
  for (auto it = h->active.begin(); it != h->active.end(); ++it) {
    if (it->first == type && it->second == stream) {
      h->active.erase(it);
      break;
    }
  }
  if (active) h->active.emplace_back(type, stream);
  return ZEP_OK;
}

ZEP_STATUS set_position(ZepModuleHandle handle, uint32_t type, uint32_t stream, int64_t* time) {
  auto* h = static_cast<Handle*>(handle);
  FakeTitle* t = title_of(h);
  if (t == nullptr) return ZEP_FAIL;
  g_fake->positions.push_back({type, stream, *time});
  if (h->readSincePosition) h->starts.clear();  // a new seek
  h->readSincePosition = false;
  // The first key block of the stream at or after the time.
  size_t start = t->blocks.size();
  for (size_t i = 0; i < t->blocks.size(); ++i) {
    const FakeBlock& b = t->blocks[i];
    if (b.type == type && b.stream == stream && b.key && b.time >= *time) {
      start = i;
      *time = b.time;
      break;
    }
  }
  h->starts.push_back({{type, stream}, start});
  h->next = start;
  for (const auto& entry : h->starts) h->next = std::min(h->next, entry.second);
  return ZEP_OK;
}

ZEP_STATUS read_next(ZepModuleHandle handle, uint32_t* type, uint32_t* stream, ZepBlock* block,
                     uint64_t) {
  auto* h = static_cast<Handle*>(handle);
  FakeTitle* t = title_of(h);
  if (t == nullptr) return ZEP_FAIL;
  h->readSincePosition = true;
  while (h->next < t->blocks.size() &&
         (!is_active(h, t->blocks[h->next].type, t->blocks[h->next].stream) ||
          before_own_start(h, t->blocks[h->next], h->next))) {
    ++h->next;
  }
  if (h->next >= t->blocks.size()) return ZEP_ERR_END_OF_STREAM;
  if (g_fake->failAfterBlocks >= 0 && h->delivered >= g_fake->failAfterBlocks) {
    return g_fake->failStatus;
  }
  const FakeBlock& b = t->blocks[h->next];
  const auto size = uint32_t(b.bytes.size());
  if (g_fake->refuseSmallBuffers) {
    if (block->data == nullptr || block->capacity < size) return ZEP_ERR_BLOCK_BUFFER_TOO_SMALL;
  } else {
    ZEP_STATUS s = zep_block_ensure_capacity(block, size);
    if (s < 0) return s;
  }
  if (size != 0) std::memcpy(block->data, b.bytes.data(), size);
  block->size = size;
  block->time = b.time;
  block->duration = b.duration;
  block->flags = b.key ? ZEP_BLOCK_FLAG_KEYFRAME : 0;
  *type = b.type;
  *stream = b.stream;
  ++h->next;
  ++h->delivered;
  return ZEP_OK;
}

const ZepModuleOps kOps = {
    .InitModule = init_module,
    .GetModuleInfo = module_info,
    .ProbeContainer = probe,
    .OpenContainer = fake_open,
    .CloseContainer = fake_close,
    .SetTitle = set_title,
    .GetInfo = get_info,
    .SetPosition = set_position,
    .SetTitleActiveStream = set_active,
    .ReadNextBlock = read_next,
};

const ZepModule kFakeModule = {3, &kInfo, &kOps};

}  // namespace

void register_fake_module() {
  static bool done = false;
  if (done) return;
  done = true;
  L1Start();
  static const ZepModule* const modules[] = {&kFakeModule};
  static const ZepModuleList list = {0, modules, nullptr, 1, 0};
  L1RegisterModules(&list);
}

ZepVideoStreamFormat fake_video_format(const char* fourcc, uint32_t rate, uint32_t scale,
                                       uint32_t width, uint32_t height) {
  ZepVideoStreamFormat f{};
  f.rate = rate;
  f.scale = scale;
  f.width = width;
  f.height = height;
  f.displayWidth = width;
  f.displayHeight = height;
  f.compression = 0x1234;
  std::memcpy(&f.fourcc, fourcc, 4);
  return f;
}

ZepAudioStreamFormat fake_audio_format(uint16_t tag, uint16_t channels, uint32_t rate,
                                       uint16_t bits) {
  ZepAudioStreamFormat f{};
  f.kind = 17;
  f.formatTag = tag;
  f.channels = channels;
  f.sampleRate = rate;
  f.bitsPerSample = bits;
  f.avgBytesPerSec = rate * channels * 2;
  f.blockAlign = uint16_t(channels * 2);
  return f;
}

}  // namespace zeptest
