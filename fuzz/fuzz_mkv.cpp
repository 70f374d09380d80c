// Fuzz target for the Matroska read module: the input is written to a file
// and opened as Matroska; every title is set, every query asked (chapters,
// tags and attachments included), every stream read to the end (at most
// 4000 blocks), delaced or whole as the last byte says, then seeks and
// stream-by-stream reads follow. Inputs of any size are taken; the module's
// own limits bound what they allocate.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "fuzz/fuzz_scratch.h"
#include "layer1/zep_mkv_records.h"
#include "modules/mkv/mkv_module.h"

namespace {

constexpr int kMaxBlocks = 4000;

uint32_t scalar(const ZepModuleOps* ops, ZepModuleHandle h, uint32_t qid, uint32_t index = 0) {
  ZepQueryData q{};
  return ops->GetInfo(h, qid, &q, index) == 0 ? q.value.u32 : 0;
}

// Asks a query into a buffer, frees a returned string.
void ask(const ZepModuleOps* ops, ZepModuleHandle h, uint32_t qid, uint32_t index) {
  static std::vector<uint8_t> buffer(8192);
  ZepQueryData q{};
  q.size = uint32_t(buffer.size());
  q.value.ptr = buffer.data();
  // A string the module allocated comes back in place of the buffer.
  if (ops->GetInfo(h, qid, &q, index) == 0 && q.valueType == ZEP_QTYPE_WSTRING && q.value.ptr &&
      q.value.ptr != buffer.data())
    zep_wcsfree(static_cast<zep_wchar_t*>(q.value.ptr), nullptr);
}

void ask_metadata(const ZepModuleOps* ops, ZepModuleHandle h) {
  static const uint32_t kTitleQids[] = {
      ZEP_QID_CONTAINER_TITLE_NAME, ZEP_QID_CONTAINER_FILE_NAME, ZEP_QID_CONTAINER_PREV_NAME,
      ZEP_QID_CONTAINER_NEXT_NAME,  ZEP_QID_CONTAINER_MUX_APP,   ZEP_QID_CONTAINER_WRITE_APP,
      ZEP_QID_TITLE_DURATION,       ZEP_QID_MKV_CHAIN_COUNT,     ZEP_QID_PLAYLISTS_GET_PROP,
      ZEP_QID_GET_TITLE_PROP,       ZEP_QID_GET_TITLE_MEDIA_PROP};
  for (uint32_t qid : kTitleQids) ask(ops, h, qid, 0);
  const uint32_t tracks = scalar(ops, h, ZEP_QID_NUM_TITLE_STREAMS) & 0xFFFF;
  for (uint32_t i = 0; i < tracks && i < 64; ++i) ask(ops, h, ZEP_QID_GET_TRACK_PROP, i);
  const uint32_t editions = scalar(ops, h, ZEP_QID_EDITIONENTRY_GET_COUNT);
  for (uint32_t e = 0; e < editions && e < 8; ++e) {
    ZepQueryData set{};
    set.value.u32 = e;
    ops->SetInfo(h, ZEP_QID_EDITIONENTRY_SET_PLAYLIST_IDX, &set, 0, 0);
    ask(ops, h, ZEP_QID_EDITIONENTRY_GET_PROP, e);
    const uint32_t chapters = scalar(ops, h, ZEP_QID_CHAPTERS_CHAPTER_COUNT) & 0xFFFF;
    for (uint32_t i = 0; i < chapters && i < 64; ++i) {
      ask(ops, h, ZEP_QID_CHAPTERS_GET_CHAPTER_PROP, i);
      ask(ops, h, ZEP_QID_CHAPTERS_CHAPTER_NAME, i);
      ask(ops, h, ZEP_QID_CHAPTERS_CHAPTER_LANG, i);
    }
  }
  const uint32_t tags = scalar(ops, h, ZEP_QID_TAGS_GET_NUMTAGS);
  for (uint32_t t = 0; t < tags && t < 16; ++t) {
    ZepQueryData set{};
    set.value.u32 = t;
    ops->SetInfo(h, ZEP_QID_TAGS_SET_CURRENTTAGIDX, &set, 0, 0);
    ask(ops, h, ZEP_QID_TAGS_GET_INFO, t);
    ask(ops, h, ZEP_QID_TAGS_GET_TAG_TARGET_TRACK, 0);
    ask(ops, h, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYINDEX, 0);
  }
  for (uint32_t id = 0; id < 32; ++id) {
    ZepQueryData set{};
    set.value.u32 = id;
    if (ops->SetInfo(h, ZEP_QID_TAGS_SET_SIMPLETAGID, &set, 0, 0) < 0) break;
    for (uint32_t qid : {ZEP_QID_TAGS_GET_SIMPLETAG_NAME, ZEP_QID_TAGS_GET_SIMPLETAG_STRING,
                         ZEP_QID_TAGS_GET_SIMPLETAG_LANGUAGE, ZEP_QID_TAGS_GET_SIMPLETAG_BINARY,
                         ZEP_QID_TAGS_GET_SIMPLETAG_CHILDID, ZEP_QID_TAGS_GET_SIMPLETAGINFO_BYID})
      ask(ops, h, qid, id);
  }
  const uint32_t attachments = scalar(ops, h, ZEP_QID_GET_ATTACHMENT_COUNT);
  for (uint32_t a = 0; a < attachments && a < 8; ++a) {
    static std::vector<uint8_t> data(1 << 16);
    ZepAttachmentInfo info{};
    info.data = data.data();
    info.dataCapacity = data.size();
    ZepQueryData q{};
    q.size = sizeof info;
    q.value.ptr = &info;
    ops->GetInfo(h, ZEP_QID_GET_ATTACHMENTINFO, &q, a);
  }
}

void ask_streams(const ZepModuleOps* ops, ZepModuleHandle h, uint32_t kind, uint32_t count) {
  static const uint32_t kVideo[] = {ZEP_QID_VID_STREAM_FORMAT, ZEP_QID_VID_CODEC_ID,
                                    ZEP_QID_VIDEO_CODEC_PRIVATE_DATA, ZEP_QID_GET_VIDEO_MEDIA_PROP};
  static const uint32_t kAudio[] = {ZEP_QID_AUD_STREAM_FORMAT, ZEP_QID_AUD_CODEC_ID,
                                    ZEP_QID_AUDIO_CODEC_PRIVATE_DATA, ZEP_QID_GET_AUDIO_MEDIA_PROP};
  static const uint32_t kSub[] = {ZEP_QID_SUB_STREAM_FORMAT, ZEP_QID_SUB_CODEC_ID,
                                  ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA,
                                  ZEP_QID_GET_SUBTITLE_MEDIA_PROP};
  const uint32_t* qids = kind == ZEP_BLOCK_VIDEO ? kVideo : kind == ZEP_BLOCK_AUDIO ? kAudio : kSub;
  for (uint32_t i = 0; i < count && i < 16; ++i) {
    for (int q = 0; q < 4; ++q) ask(ops, h, qids[q], i);
    ops->SetTitleActiveStream(h, kind, i, 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::u16string name = fuzzing::write_scratch("mkv", ".mkv", data, size);
  if (name.empty()) return 0;
  const ZepModuleOps* ops = zepMkvModule.ops;
  ZepModuleHandle h = nullptr;
  if (ops->OpenContainer(&h, name.c_str(), nullptr) < 0 || !h) return 0;
  const uint8_t mode = size ? data[size - 1] : 0;
  ZepQueryData setting{};
  setting.value.u32 = mode & 1;
  ops->SetInfo(h, ZEP_QID_DELACE_BLOCKS, &setting, 0, 0);
  ZepBlock block;
  zep_heap_block_init(&block);
  const uint32_t titles = scalar(ops, h, ZEP_QID_NUM_CONTAINER_TITLE) & 0xFFFF;
  for (uint32_t title = 0; title < titles && title < 4; ++title) {
    if (ops->SetTitle(h, title) < 0) continue;
    if (mode & 2) {
      setting.value.u32 = 1;
      ops->SetInfo(h, ZEP_QID_MKV_COMBINE_FIELDS, &setting, 0, 0);
    }
    ask_metadata(ops, h);
    const uint32_t video = scalar(ops, h, ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA) & 0xFFFF;
    const uint32_t audio = scalar(ops, h, ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA) & 0xFFFF;
    const uint32_t subs = scalar(ops, h, ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA) & 0xFFFF;
    ask_streams(ops, h, ZEP_BLOCK_VIDEO, video);
    ask_streams(ops, h, ZEP_BLOCK_AUDIO, audio);
    ask_streams(ops, h, ZEP_BLOCK_SUBTITLE, subs);
    uint32_t type = 0, stream = 0;
    for (int n = 0; n < kMaxBlocks; ++n)
      if (ops->ReadNextBlock(h, &type, &stream, &block, 0) < 0) break;
    const uint32_t kind = video ? ZEP_BLOCK_VIDEO : audio ? ZEP_BLOCK_AUDIO : ZEP_BLOCK_SUBTITLE;
    for (int64_t target : {int64_t(0), int64_t(12000000), int64_t(4000000), int64_t(900000000)}) {
      int64_t t = target;
      if (ops->SetPosition(h, kind, 0, &t) < 0) continue;
      for (int n = 0; n < 50; ++n)
        if (ops->ReadNextBlock(h, &type, &stream, &block, 0) < 0) break;
      ZepQueryData sync{};
      sync.value.i64 = target;
      ops->GetInfo(h, ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, &sync, 0);
      sync.value.i64 = target;
      ops->GetInfo(h, ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME, &sync, 0);
    }
    for (int n = 0; n < 200; ++n)
      if (ops->ReadNextBlockByStream(h, kind, 0, &block) < 0) break;
  }
  zep_heap_block_free(&block);
  ops->CloseContainer(h);
  return 0;
}
