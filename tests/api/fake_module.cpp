#include "api_fixture.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "tests/layer1/fake_common.h"

namespace zeptest {

FakeScenario* g_fake = nullptr;

namespace {

using Key = std::pair<uint32_t, uint32_t>;  // block type, stream

struct Handle {
  uint32_t title = 0;
  size_t next = 0;  // index of the next block of the title
  int delivered = 0;
  std::vector<Key> active;
  // Where each stream positioned by the current seek starts again; like an AVI
  // walk, the shared cursor restarts at the earliest of them and blocks of a
  // positioned stream before its own start are passed over.
  std::vector<std::pair<Key, size_t>> starts;
  bool readSincePosition = true;
};

bool passed_over(const Handle* h, const FakeBlock& b, size_t index) {
  const Key key{b.type, b.stream};
  if (std::find(h->active.begin(), h->active.end(), key) == h->active.end()) return true;
  for (const auto& [k, start] : h->starts)
    if (k == key) return index < start;
  return false;
}

FakeTitle* title_of(Handle* h) {
  if (g_fake == nullptr || h->title >= g_fake->titles.size()) return nullptr;
  return &g_fake->titles[h->title];
}

ZEP_STATUS init_module(const ZepModuleList*) { return ZEP_OK; }
const ZepModuleInfo kInfo = {1, 0, 1, 0, 1, 0, u".fake", u"Test read module.", 3};
const ZepModuleInfo* module_info() { return &kInfo; }

ZEP_STATUS probe(uint32_t* score, const zep_wchar_t* name, void*) {
  *score = fake::ends_with(name, u".fake") ? 100 : 0;
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

enum What { kFormat, kProp, kPrivateSize, kPrivate };

// A stream's record, properties, private data or its size.
template <typename Stream>
ZEP_STATUS answer(const std::vector<Stream>& streams, uint32_t index, What what,
                  ZepQueryData* data) {
  if (index >= streams.size()) return ZEP_ERR_INDEX_OUT_OF_RANGE;
  const Stream& s = streams[index];
  if (what == kPrivateSize) {
    data->value.u32 = uint32_t(s.privateData.size());
    return ZEP_OK;
  }
  if (what == kPrivate)
    return copy_record(data, s.privateData.data(), uint32_t(s.privateData.size()));
  if constexpr (!std::is_same_v<Stream, FakeVideo>) {
    if (what == kProp) return copy_record(data, &s.prop, sizeof s.prop);
  }
  return copy_record(data, &s.format, sizeof s.format);
}

ZEP_STATUS get_info(ZepModuleHandle handle, uint32_t qid, ZepQueryData* data, uint32_t index) {
  FakeScenario& f = *g_fake;
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
    case ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA:
    case ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA: {
      const FakeTitle& t = f.titles.at(index);
      data->value.u16 = uint16_t(qid == ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA   ? t.video.size()
                                 : qid == ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA ? t.audio.size()
                                                                            : t.subtitle.size());
      return ZEP_OK;
    }
    case ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME:
    case ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME:
      f.syncQueries.emplace_back(qid, data->value.i64);
      data->value.i64 = qid == ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME ? f.nextSyncTime : f.prevSyncTime;
      return ZEP_OK;
  }
  const FakeTitle* t = title_of(static_cast<Handle*>(handle));
  if (t == nullptr) return ZEP_FAIL;
  // The queries of each kind: format, properties, private data size and data.
  const uint32_t kRecords[3][4] = {
      {ZEP_QID_VID_STREAM_FORMAT, 0, ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE,
       ZEP_QID_VIDEO_CODEC_PRIVATE_DATA},
      {ZEP_QID_AUD_STREAM_FORMAT, ZEP_QID_GET_AUDIO_MEDIA_PROP,
       ZEP_QID_AUDIO_CODEC_PRIVATE_DATA_SIZE, ZEP_QID_AUDIO_CODEC_PRIVATE_DATA},
      {ZEP_QID_SUB_STREAM_FORMAT, ZEP_QID_GET_SUBTITLE_MEDIA_PROP,
       ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE, ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA}};
  for (int kind = 0; kind < 3; ++kind) {
    for (int what = 0; what < 4; ++what) {
      if (kRecords[kind][what] != qid) continue;
      if (kind == 0) return answer(t->video, index, What(what), data);
      if (kind == 1) return answer(t->audio, index, What(what), data);
      return answer(t->subtitle, index, What(what), data);
    }
  }
  return ZEP_ERR_UNSUPPORTED_QID;
}

ZEP_STATUS set_active(ZepModuleHandle handle, uint32_t type, uint32_t stream, uint32_t active) {
  auto* h = static_cast<Handle*>(handle);
  std::erase(h->active, Key{type, stream});
  if (active) h->active.emplace_back(type, stream);
  return ZEP_OK;
}

ZEP_STATUS set_position(ZepModuleHandle handle, uint32_t type, uint32_t stream, int64_t* time) {
  auto* h = static_cast<Handle*>(handle);
  FakeTitle* t = title_of(h);
  if (t == nullptr) return ZEP_FAIL;
  g_fake->positions.emplace_back(type, *time);
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
  while (h->next < t->blocks.size() && passed_over(h, t->blocks[h->next], h->next)) ++h->next;
  if (h->next >= t->blocks.size()) return ZEP_ERR_END_OF_STREAM;
  if (g_fake->failAfterBlocks >= 0 && h->delivered >= g_fake->failAfterBlocks)
    return ZEP_ERR_BLOCK_READ_FAILURE;
  const FakeBlock& b = t->blocks[h->next];
  if (g_fake->refuseSmallBuffers && (block->data == nullptr || block->capacity < b.bytes.size()))
    return ZEP_ERR_BLOCK_BUFFER_TOO_SMALL;
  ZEP_STATUS s = fake::fill_block(block, b.bytes, b.time, b.duration, b.key);
  if (s < 0) return s;
  *type = b.type;
  *stream = b.stream;
  ++h->next;
  ++h->delivered;
  return ZEP_OK;
}

const ZepModuleOps kOps = fake::read_ops(init_module, module_info, probe, fake_open, fake_close,
                                         set_title, get_info, set_position, set_active, read_next);

const ZepModule kFakeModule = {3, &kInfo, &kOps};

}  // namespace

void register_fake_module() {
  static const bool done = [] {
    L1Start();
    static const ZepModule* const modules[] = {&kFakeModule};
    static const ZepModuleList list = {0, modules, nullptr, 1, 0};
    return L1RegisterModules(&list) == ZEP_OK;
  }();
  (void)done;
}

ZepVideoStreamFormat fake_video_format(const char* fourcc, uint32_t rate, uint32_t scale,
                                       uint32_t width, uint32_t height) {
  ZepVideoStreamFormat f{};
  f.rate = rate;
  f.scale = scale;
  f.width = f.displayWidth = width;
  f.height = f.displayHeight = height;
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
