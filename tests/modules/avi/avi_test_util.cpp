#include "tests/modules/avi/avi_test_util.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <sstream>

namespace avitest {

AviFile::AviFile(const std::string& path, bool setTitle) {
  L1Start();
  zep_heap_block_init(&block_);
  openStatus_ = L1OpenContainer(&container_, zep::utf8_to_u16(path).c_str(), nullptr);
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

std::string AviFile::text(uint32_t qid, uint32_t index) {
  ZepQueryData q{};
  if (L1GetInfo(container_, qid, &q, index) < 0) return "(failed)";
  if (!q.value.ptr) return "(null)";
  std::string s = zep::u16_to_utf8(static_cast<const char16_t*>(q.value.ptr));
  zep_wcsfree(static_cast<zep_wchar_t*>(q.value.ptr), nullptr);
  return s;
}

int64_t AviFile::value64(uint32_t qid, int64_t in, ZEP_STATUS* status, uint32_t index) {
  ZepQueryData q{};
  q.value.i64 = in;
  ZEP_STATUS s = L1GetInfo(container_, qid, &q, index);
  if (status) *status = s;
  return q.value.i64;
}

void AviFile::activate_all() {  // the first video stream, up to eight audio and subtitle ones
  for (auto [type, qid, most] : {std::tuple{ZEP_BLOCK_VIDEO, ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA, 1u},
                                 {ZEP_BLOCK_AUDIO, ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA, 8u},
                                 {ZEP_BLOCK_SUBTITLE, ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA, 8u}})
    for (uint32_t i = 0; i < std::min(count(qid), most); ++i)
      L1SetTitleActiveStream(container_, type, i, 1);
}

std::vector<Block> AviFile::read_all(ZEP_STATUS* last, size_t limit) {
  std::vector<Block> out;
  ZEP_STATUS s = ZEP_OK;
  for (Block b; out.size() < limit && (s = read(&b)) >= 0;) out.push_back(std::move(b));
  if (last) *last = s;
  return out;
}

zeptest::AviFileSpec basic_spec(uint32_t frames, uint32_t keyEvery, bool audio) {
  zeptest::AviFileSpec spec;
  spec.streams.emplace_back();
  if (audio) {
    spec.streams.push_back(zeptest::audio_stream(1, 1, 8000, 1, 1, 8000, 8000, 1));
    spec.streams.back().bitsPerSample = 8;
  }
  for (uint32_t f = 0; f < frames; ++f) {
    bool key = keyEvery && f % keyEvery == 0;
    spec.chunks.push_back({0, "dc", zeptest::mpeg4_frame(key, f, 40 + f % 7), key, 0});
    if (audio) spec.chunks.push_back({1, "wb", zeptest::pattern_bytes(1000 + f, 320), true, 0});
  }
  return spec;
}

std::map<std::pair<uint32_t, uint32_t>, Bytes> payloads(const std::vector<Block>& blocks) {
  std::map<std::pair<uint32_t, uint32_t>, Bytes> out;
  for (auto& b : blocks) {
    Bytes& p = out[{b.type, b.stream}];
    p.insert(p.end(), b.data.begin(), b.data.end());
  }
  return out;
}

size_t find_id(const Bytes& b, const char* id, size_t from) {
  for (size_t i = from; i + 4 <= b.size(); ++i)
    if (std::memcmp(&b[i], id, 4) == 0) return i;
  return 0;
}

void put_le32(Bytes& b, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.at(at + i) = uint8_t(v >> (8 * i));
}

std::unique_ptr<AviFile> AviTest::open(const Bytes& file, bool activate) {
  auto f = std::make_unique<AviFile>(dir_.write(std::to_string(++files_) + ".avi", file));
  if (activate && f->container()) f->activate_all();
  return f;
}

static double field(const std::string& line, const std::string& key) {
  size_t at = line.find(key + "=");
  if (at == std::string::npos) return NAN;
  double d = NAN;
  return std::istringstream(line.substr(at + key.size() + 1)) >> d ? d : NAN;  // "N/A": none
}

std::vector<Packet> probe_packets(const std::string& file, const std::string& stream) {
  std::istringstream in(zeptest::command_output(
      "ffprobe -v error -select_streams " + stream +
      " -show_entries packet=pts_time,dts_time,duration_time,flags -of compact=p=0 '" + file +
      "'"));
  std::vector<Packet> packets;
  for (std::string line; std::getline(in, line);)
    if (!line.empty())
      packets.push_back({field(line, "pts_time"), field(line, "dts_time"),
                         field(line, "duration_time"), line.find("flags=K") != std::string::npos});
  return packets;
}

Bytes ffmpeg_payload(const zeptest::TempDir& dir, const std::string& file, const std::string& map) {
  const std::string out = dir.path() + "/payload.bin", cmd = "ffmpeg -nostdin -v quiet -y -i '" +
                                                             file + "' -map " + map +
                                                             " -c copy -f data '" + out + "'";
  EXPECT_EQ(zeptest::run_command(cmd), 0) << cmd;
  return zeptest::read_file(out);
}

}  // namespace avitest
