// The text subtitle read module through the container layer: probing, queries,
// text and bitmap blocks, frame sizes and positioning; and SRT and ASS files
// written by ffmpeg against ffprobe's packets and ffmpeg's extraction.
#include "modules/subtitle/subtitle_module.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "modules/subtitle/qsub_decode.h"
#include "tests/modules/avi/avi_test_util.h"
#include "tests/support/text_encoding.h"

namespace {

constexpr const char* kFont = "/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf";

const std::string kSrt =
    "1\n00:00:01,000 --> 00:00:02,500\nFirst\nline two\n\n"
    "2\n00:00:03,250 --> 00:00:04,000\nSecond\n\n"
    "3\n00:00:05,000 --> 00:00:06,000\n<i>Third</i>\n";

const std::string kAss =
    "[Script Info]\nScriptType: v4.00+\n\n[V4+ Styles]\n"
    "Format: Name, Fontname, Fontsize\nStyle: Default,Arial,20\n\n[Events]\n"
    "Format: Layer, Start, End, Style, Name, MarginL, MarginR, MarginV, Effect, Text\n"
    "Dialogue: 0,0:00:01.50,0:00:03.00,Default,,0,0,0,,Hello\n"
    "Dialogue: 0,0:00:04.00,0:00:05.25,Default,,0,0,0,,World, again\n";

using avitest::AviFile;
using avitest::Block;

// A subtitle file in a scratch folder (or at `path`), opened through the container layer.
struct SubtitleFile {
  explicit SubtitleFile(const std::string& name, const std::string* content = nullptr)
      : file(content != nullptr ? dir.write(name, *content) : name, false) {}
  ZEP_STATUS get(uint32_t qid, ZepQueryData* q) { return L1GetInfo(file.container(), qid, q, 0); }
  ZEP_STATUS set(uint32_t qid, ZepQueryData q) {
    return L1SetInfo(file.container(), qid, &q, 0, 0);
  }
  ZEP_STATUS set_font(const char* path) {
    font = zep::utf8_to_u16(path);
    return set(ZEP_QID_SET_DSC_FONTFILE, {.value = {.ptr = font.data()}});
  }
  ZEP_STATUS activate() {
    return L1SetTitleActiveStream(file.container(), ZEP_BLOCK_SUBTITLE, 0, 1);
  }
  ZepTextSubtitleFormat format() {
    ZepTextSubtitleFormat f{};
    EXPECT_EQ(file.into(ZEP_QID_SUB_STREAM_FORMAT, 0, &f, sizeof f), ZEP_OK);
    return f;
  }
  ZEP_STATUS set_frame(uint32_t width, uint32_t height) {
    ZepTextSubtitleFormat f = format();
    f.width = width;
    f.height = height;
    return set(ZEP_QID_SUB_STREAM_FORMAT, {.size = sizeof f, .value = {.ptr = &f}});
  }
  // The next block into `last`, its QSUB packet decoded into `packet`.
  ZEP_STATUS read_packet() {
    const ZEP_STATUS s = file.read_stream(ZEP_BLOCK_SUBTITLE, 0, &last);
    if (s != ZEP_OK) return s;
    EXPECT_EQ(zep_qsub_decode_packet(last.data.data(), last.data.size(), &packet), ZEP_OK);
    return s;
  }
  zeptest::TempDir dir;
  AviFile file;
  std::u16string font;
  Block last;
  ZepQsubPacket packet;
};

bool HaveFont() { return !zeptest::read_file(kFont).empty(); }

}  // namespace

TEST(SubtitleModule, ProbesByExtensionAndRefusesOtherFiles) {
  ASSERT_EQ(L1Start(), ZEP_OK);
  const ZepModule* module = L1GetRegisteredModule(ZEP_MODULE_ID_SUBTITLE);
  ASSERT_EQ(module, &zepSubtitleModule);
  uint32_t score = 7;
  std::string scores;
  for (auto name :
       {u"dir/b.ass", u"c.ssa", u"D.SRT", u"e.srt  ", u"f.txt", u".srt", u"nodot", u"g.srt.bak"}) {
    EXPECT_EQ(module->ops->ProbeContainer(&score, name, nullptr), ZEP_OK);
    scores += std::to_string(score) + " ";
  }
  EXPECT_EQ(scores, "100 100 100 100 0 0 0 0 ");
  EXPECT_EQ(module->ops->ProbeContainer(&score, nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(score, 0u);
  EXPECT_EQ(module->ops->ProbeContainer(nullptr, u"a.srt", nullptr), ZEP_FAIL);
  ZepModuleHandle handle = reinterpret_cast<ZepModuleHandle>(1);
  EXPECT_EQ(zepSubtitleModule.ops->OpenContainer(&handle, u"/nonexistent/x.srt", nullptr), -3);
  EXPECT_EQ(handle, nullptr);
  zeptest::TempDir dir;
  const std::string other = dir.write("x.txt", std::string_view("1\n"));
  EXPECT_EQ(zepSubtitleModule.ops->OpenContainer(&handle, zep::utf8_to_u16(other).c_str(), nullptr),
            -10);
  EXPECT_EQ(handle, nullptr);  // nothing is left behind
}

TEST(SubtitleModule, AnswersQueries) {
  SubtitleFile c("q.srt", &kSrt);
  ASSERT_EQ(c.file.open_status(), ZEP_OK);
  ZepQueryData q{};
  for (uint16_t active : {0, 1}) {
    ASSERT_EQ(c.get(ZEP_QID_NUM_ACTIVE_TITLE_STREAMS, &q), ZEP_OK);
    EXPECT_EQ(q.value.u16 + q.size * 10 + q.valueType * 100, active + 320);
    ASSERT_EQ(c.activate(), ZEP_OK);
  }
  for (uint32_t qid : {ZEP_QID_NUM_CONTAINER_TITLE, ZEP_QID_NUM_TITLE_STREAMS,
                       ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA})
    EXPECT_EQ(c.get(qid, &q) * 10 + q.value.u16, 1) << qid;
  EXPECT_EQ(c.format().width * 1000 + c.format().height, 640480u);
  // Query answers by buffer size: the format record, the media record of 1056 bytes.
  uint8_t record[1056] = {};
  std::string answers;
  for (auto [qid, size] : {std::pair{ZEP_QID_SUB_STREAM_FORMAT, 47u},
                           {ZEP_QID_GET_CONTAINER_PROP, 24u},
                           {ZEP_QID_GET_TITLE_PROP, 24u},
                           {ZEP_QID_GET_TITLE_MEDIA_PROP, 24u},
                           {ZEP_QID_GET_SUBTITLE_MEDIA_PROP, 1055u},
                           {ZEP_QID_GET_SUBTITLE_MEDIA_PROP, 1056u}})
    answers += std::to_string(c.file.into(qid, 0, record, size)) + " ";
  EXPECT_EQ(answers, "-10 0 0 0 " + std::to_string(ZEP_ERR_BUFFER_TOO_SMALL) + " 0 ");
  EXPECT_EQ(record[0], 0x10);
  // An SRT file has no codec private data: success without an answer.
  q.value.u64 = 77;
  EXPECT_EQ(c.get(ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE, &q), ZEP_OK);
  EXPECT_EQ(q.value.u64, 77u);
  EXPECT_EQ(c.get(ZEP_QID_GET_SRT_OUTPUT_TEXT, &q), ZEP_ERR_INVALID_QUERY_ID);
  EXPECT_EQ(c.get(ZEP_QID_SET_SRT_OUTPUT_TEXT, &q), ZEP_OK);
  EXPECT_EQ(c.set(ZEP_QID_SET_HTTP_AUTH, q), ZEP_OK);
  EXPECT_EQ(c.set(ZEP_QID_SET_INDX_TYPE, q), ZEP_ERR_INVALID_QUERY_ID);
}

TEST(SubtitleModule, BitmapFrameSizes) {
  if (!HaveFont()) GTEST_SKIP() << "no font file " << kFont;
  // Positioning works in bitmap output (the packets' bytes are pinned by the
  // golden lists of the SRT files).
  SubtitleFile srt("b.srt", &kSrt);
  ASSERT_EQ(srt.set_font(kFont), ZEP_OK);
  int64_t t = 33000000;
  EXPECT_EQ(L1SetPosition(srt.file.container(), ZEP_BLOCK_SUBTITLE, 0, &t), ZEP_OK);
  EXPECT_EQ(t, 32500000);
  ASSERT_EQ(srt.read_packet(), ZEP_OK);
  EXPECT_EQ(std::string(srt.packet.timeString), "[00:00:03.250-00:00:04.000]");
  SubtitleFile c("f.ass", &kAss);
  ASSERT_EQ(c.set_font(kFont), ZEP_OK);
  // An ASS file names no frame size: its packets are made for 640 x 480.
  ASSERT_EQ(c.read_packet(), ZEP_OK);
  EXPECT_FALSE(c.packet.extraHeader);
  EXPECT_EQ(std::string(c.packet.timeString), "[00:00:01.500-00:00:03.000]");
  ASSERT_EQ(c.set_frame(960, 720), ZEP_OK);
  EXPECT_EQ(c.format().imageSize, 960u * 720 / 2);
  ASSERT_EQ(c.read_packet(), ZEP_OK);
  EXPECT_TRUE(c.packet.extraHeader);
  EXPECT_EQ(std::memcmp(c.last.data.data() + 53, "\x00\xFF\xFF\xFF", 4), 0);
  EXPECT_EQ(c.last.time * 100 + c.last.duration, 4000000000LL + 12500000);
  EXPECT_EQ(c.read_packet(), ZEP_ERR_END_OF_STREAM);
  // A frame size without a packet form fails the read.
  ASSERT_EQ(c.file.set(ZEP_QID_SET_SRT_OUTPUT_TEXT, 0),
            ZEP_OK);  // a new reader: back to the first entry
  ASSERT_EQ(c.set_frame(720, 576), ZEP_OK);
  EXPECT_EQ(c.read_packet(), ZEP_ERR_BLOCK_READ_FAILURE);
  SubtitleFile missing("m.srt", &kSrt);
  ASSERT_EQ(missing.set_font("/nonexistent/font.ttf"), ZEP_OK);
  EXPECT_EQ(missing.read_packet(), ZEP_FAIL);
}

namespace {

// Entries in text output with the codec private text.
std::vector<Block> ReadText(const std::string& path, std::string* codecPrivate = nullptr) {
  SubtitleFile c(path);
  EXPECT_EQ(c.file.open_status(), ZEP_OK) << path;
  EXPECT_EQ(c.file.set(ZEP_QID_SET_SRT_OUTPUT_TEXT, 1), ZEP_OK);
  ZepQueryData q{};
  if (codecPrivate != nullptr && c.get(ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE, &q) == ZEP_OK &&
      q.valueType == ZEP_QTYPE_SIZE32) {
    codecPrivate->assign(q.value.u32, '\0');
    EXPECT_EQ(
        c.file.into(ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA, 0, codecPrivate->data(), q.value.u32),
        ZEP_OK);
  }
  EXPECT_EQ(c.activate(), ZEP_OK);
  ZEP_STATUS last = 0;
  auto blocks = c.file.read_all(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  return blocks;
}

// Times and durations in 100 ns, sizes of ffprobe's packets; ffmpeg's
// extraction writes the payloads one after the other.
void CompareWithFfmpeg(const std::string& path) {
  const auto json = nlohmann::json::parse(zeptest::command_output(
      "ffprobe -v error -show_packets -show_streams -of json '" + path + "'"));
  const std::string base = json["streams"][0]["time_base"];
  const int64_t num = std::stoll(base), den = std::stoll(base.substr(base.find('/') + 1));
  const auto blocks = ReadText(path);
  ASSERT_EQ(blocks.size(), json["packets"].size());
  ASSERT_EQ(blocks.size(), 5u);
  std::string joined;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const auto& p = json["packets"][i];
    EXPECT_EQ(blocks[i].time, p["pts"].get<int64_t>() * num * 10000000 / den) << i;
    EXPECT_EQ(blocks[i].duration, p["duration"].get<int64_t>() * num * 10000000 / den) << i;
    EXPECT_EQ(blocks[i].data.size(), std::stoull(p["size"].get<std::string>())) << i;
    EXPECT_EQ(blocks[i].type * 10 + blocks[i].stream, ZEP_BLOCK_SUBTITLE * 10u) << i;
    joined.append(blocks[i].data.begin(), blocks[i].data.end());
  }
  EXPECT_EQ(joined, zeptest::command_output("ffmpeg -nostdin -v error -i '" + path +
                                            "' -map 0:0 -c copy -f data -"));
}

class RealSubtitleFiles : public ::testing::Test {
 protected:
  static constexpr const char* kSource =
      "1\n00:00:00,500 --> 00:00:02,250\nFirst line\nsecond, with a comma\n\n"
      "2\n00:00:03,040 --> 00:00:04,000\n<i>Italic</i> and <b>bold</b>\n\n"
      "3\n00:00:04,500 --> 00:00:06,780\nÜmlaute – € 日本語\n\n"
      "4\n00:01:05,120 --> 00:01:07,000\nThree\nlines\nhere\n\n"
      "5\n01:00:00,010 --> 01:00:01,990\nLast\n";
  void SetUp() override {
    if (!zeptest::have_tool("ffmpeg") || !zeptest::have_tool("ffprobe"))
      GTEST_SKIP() << "ffmpeg missing";
    source_ = dir_.write("source.srt", std::string_view(kSource));
  }
  std::string Convert(const std::string& name) {
    const std::string out = dir_.path() + "/" + name;
    EXPECT_EQ(
        zeptest::run_command("ffmpeg -nostdin -v error -y -i '" + source_ + "' '" + out + "'"), 0);
    return out;
  }
  zeptest::TempDir dir_;
  std::string source_;
};

}  // namespace

TEST_F(RealSubtitleFiles, SrtWrittenByFfmpeg) { CompareWithFfmpeg(Convert("ff.srt")); }

TEST_F(RealSubtitleFiles, AssWrittenByFfmpeg) {
  const std::string path = Convert("ff.ass");
  CompareWithFfmpeg(path);
  // The codec private data is ffmpeg's extradata, each line ended by a line feed alone.
  const auto json = nlohmann::json::parse(
      zeptest::command_output("ffprobe -v error -show_streams -of json '" + path + "'"));
  const size_t extradataSize = json["streams"][0]["extradata_size"].get<size_t>();
  const zeptest::Bytes file = zeptest::read_file(path);
  ASSERT_LE(extradataSize, file.size());
  std::string header;
  for (size_t i = 0; i < extradataSize; ++i)
    if (file[i] != '\r') header.push_back(static_cast<char>(file[i]));
  std::string codecPrivate;
  ReadText(path, &codecPrivate);
  EXPECT_EQ(codecPrivate, header);
  EXPECT_EQ(codecPrivate.rfind("[Script Info]\n", 0), 0u);
}
