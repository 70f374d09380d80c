#include "tests/modules/avi/avi_test_util.h"

namespace avitest {

AviFile::AviFile(const std::string& path, bool setTitle) {
  L1Start();
  zep_heap_block_init(&block_);
  std::u16string name = zep::utf8_to_u16(path);
  openStatus_ = L1OpenContainer(&container_, name.c_str(), nullptr);
  if (openStatus_ < 0) container_ = nullptr;
  if (container_ && setTitle) titleStatus_ = L1SetTitle(container_, 0);
}

AviFile::~AviFile() {
  if (container_) L1CloseContainer(container_);
  zep_heap_block_free(&block_);
}

uint32_t AviFile::count(uint32_t qid, uint32_t index) {
  ZepQueryData q{};
  if (L1GetInfo(container_, qid, &q, index) < 0) return 0xFFFFFFFFu;
  return ZEP_QID_VALUE_TYPE(qid) == ZEP_QTYPE_COUNT16 ? q.value.u16 : q.value.u32;
}

int64_t AviFile::value64(uint32_t qid, int64_t in, ZEP_STATUS* status) {
  ZepQueryData q{};
  q.value.i64 = in;
  ZEP_STATUS s = L1GetInfo(container_, qid, &q, 0);
  if (status) *status = s;
  return q.value.i64;
}

ZEP_STATUS AviFile::set(uint32_t qid, uint32_t value) {
  ZepQueryData q{};
  q.value.u32 = value;
  return L1SetInfo(container_, qid, &q, 0, 0);
}

void AviFile::activate_all() {
  uint32_t v = count(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA);
  uint32_t a = count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA);
  uint32_t s = count(ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA);
  for (uint32_t i = 0; i < v && i < 1; ++i)
    L1SetTitleActiveStream(container_, ZEP_BLOCK_VIDEO, i, 1);
  for (uint32_t i = 0; i < a && i < 8; ++i)
    L1SetTitleActiveStream(container_, ZEP_BLOCK_AUDIO, i, 1);
  for (uint32_t i = 0; i < s && i < 8; ++i)
    L1SetTitleActiveStream(container_, ZEP_BLOCK_SUBTITLE, i, 1);
}

static void fill(const ZepBlock& b, uint32_t type, uint32_t stream, Block* out) {
  out->type = type;
  out->stream = stream;
  out->data.assign(b.data, b.data + b.size);
  out->time = b.time;
  out->duration = b.duration;
  out->flags = b.flags;
}

ZEP_STATUS AviFile::read(Block* out) {
  uint32_t type = 0, stream = 0;
  ZEP_STATUS s = L1ReadNextBlock(container_, &type, &stream, &block_, 0);
  if (s >= 0) fill(block_, type, stream, out);
  return s;
}

ZEP_STATUS AviFile::read_stream(uint32_t type, uint32_t stream, Block* out) {
  ZEP_STATUS s = L1ReadNextBlockByStream(container_, type, stream, &block_);
  if (s >= 0) fill(block_, type, stream, out);
  return s;
}

std::vector<Block> AviFile::read_all(ZEP_STATUS* last, size_t limit) {
  std::vector<Block> out;
  ZEP_STATUS s = ZEP_OK;
  while (out.size() < limit) {
    Block b;
    s = read(&b);
    if (s < 0) break;
    out.push_back(std::move(b));
  }
  if (last) *last = s;
  return out;
}

ZEP_STATUS AviFile::seek(uint32_t type, uint32_t stream, int64_t* time) {
  return L1SetPosition(container_, type, stream, time);
}

zeptest::AviFileSpec basic_spec(uint32_t frames, uint32_t keyEvery, bool audio) {
  zeptest::AviFileSpec spec;
  zeptest::AviStreamSpec v;
  spec.streams.push_back(v);
  if (audio) {
    zeptest::AviStreamSpec a;
    a.kind = zeptest::AviStreamSpec::kAudio;
    a.scale = 1;
    a.rate = 8000;
    a.sampleSize = 1;
    a.channels = 1;
    a.samplesPerSec = 8000;
    a.avgBytesPerSec = 8000;
    a.blockAlign = 1;
    a.bitsPerSample = 8;
    spec.streams.push_back(a);
  }
  for (uint32_t f = 0; f < frames; ++f) {
    zeptest::AviChunkSpec c;
    c.stream = 0;
    c.suffix = "dc";
    c.key = keyEvery && f % keyEvery == 0;
    c.data = zeptest::mpeg4_frame(c.key, f, 40 + f % 7);
    spec.chunks.push_back(c);
    if (audio) {
      zeptest::AviChunkSpec a;
      a.stream = 1;
      a.suffix = "wb";
      a.data = zeptest::pattern_bytes(1000 + f, 320);
      spec.chunks.push_back(a);
    }
  }
  return spec;
}

std::string write_avi(const zeptest::TempDir& dir, const std::string& name,
                      const zeptest::AviFileSpec& spec) {
  return dir.write(name, zeptest::build_avi(spec));
}

std::map<std::pair<uint32_t, uint32_t>, Bytes> payloads(const std::vector<Block>& blocks) {
  std::map<std::pair<uint32_t, uint32_t>, Bytes> out;
  for (auto& b : blocks) {
    Bytes& p = out[{b.type, b.stream}];
    p.insert(p.end(), b.data.begin(), b.data.end());
  }
  return out;
}

}  // namespace avitest
