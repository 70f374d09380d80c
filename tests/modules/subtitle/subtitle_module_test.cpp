// The text subtitle read module through the container layer: probing, the
// answers to queries, text blocks, bitmap blocks (decoded back into pictures),
// output form, frame size and positioning.
#include "modules/subtitle/subtitle_module.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "modules/subtitle/qsub_decode.h"
#include "tests/support/byte_writer.h"

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

bool HaveFont() { return !zeptest::read_file(kFont).empty(); }

class Container {
 public:
  Container(const std::string& name, const std::string& content) {
    EXPECT_EQ(L1Start(), ZEP_OK);
    path_ = dir_.write(name, content);
    status_ = L1OpenContainer(&container_, zep::utf8_to_u16(path_).c_str(), nullptr);
    zep_heap_block_init(&block_);
  }
  ~Container() {
    zep_heap_block_free(&block_);
    if (container_ != nullptr) L1CloseContainer(container_);
  }
  ZepContainer* get() { return container_; }
  ZEP_STATUS status() const { return status_; }
  ZepBlock& block() { return block_; }

  ZEP_STATUS SetTextOutput(uint8_t on) {
    ZepQueryData q{};
    q.value.u8 = on;
    return L1SetInfo(container_, ZEP_QID_SET_SRT_OUTPUT_TEXT, &q, 0, 0);
  }
  ZEP_STATUS SetFont(const char* path) {
    font_ = zep::utf8_to_u16(path);
    ZepQueryData q{};
    q.value.ptr = font_.data();
    return L1SetInfo(container_, ZEP_QID_SET_DSC_FONTFILE, &q, 0, 0);
  }
  ZepTextSubtitleFormat Format() {
    ZepTextSubtitleFormat f{};
    ZepQueryData q{};
    q.size = sizeof f;
    q.value.ptr = &f;
    EXPECT_EQ(L1GetInfo(container_, ZEP_QID_SUB_STREAM_FORMAT, &q, 0), ZEP_OK);
    EXPECT_EQ(q.size, 48u);
    return f;
  }
  ZEP_STATUS SetFrame(uint32_t width, uint32_t height) {
    ZepTextSubtitleFormat f = Format();
    f.width = width;
    f.height = height;
    ZepQueryData q{};
    q.size = sizeof f;
    q.value.ptr = &f;
    return L1SetInfo(container_, ZEP_QID_SUB_STREAM_FORMAT, &q, 0, 0);
  }

  struct Block {
    std::vector<uint8_t> data;
    int64_t time;
    int64_t duration;
  };
  // Reads blocks until the first failure; answers the blocks and that failure.
  std::vector<Block> ReadAll(ZEP_STATUS* last) {
    std::vector<Block> out;
    for (int guard = 0; guard < 1000; ++guard) {
      uint32_t type = 0, stream = 9;
      *last = L1ReadNextBlock(container_, &type, &stream, &block_, 0);
      if (*last != ZEP_OK) break;
      EXPECT_EQ(type, ZEP_BLOCK_SUBTITLE);
      EXPECT_EQ(stream, 0u);
      out.push_back({std::vector<uint8_t>(block_.data, block_.data + block_.size), block_.time,
                     block_.duration});
    }
    return out;
  }

 private:
  zeptest::TempDir dir_;
  std::string path_;
  std::u16string font_;
  ZepContainer* container_ = nullptr;
  ZEP_STATUS status_;
  ZepBlock block_;
};

std::string AsText(const std::vector<uint8_t>& data) {
  return std::string(data.begin(), data.end());
}

}  // namespace

TEST(SubtitleModule, ProbesByExtension) {
  ASSERT_EQ(L1Start(), ZEP_OK);
  const ZepModule* module = L1GetRegisteredModule(ZEP_MODULE_ID_SUBTITLE);
  ASSERT_NE(module, nullptr);
  EXPECT_EQ(module, &zepSubtitleModule);
  const ZepModuleInfo* info = module->ops->GetModuleInfo();
  EXPECT_EQ(std::u16string(info->extensions), u".srt, .ass, .ssa");
  EXPECT_EQ(std::u16string(info->description), u"SRT read module.");
  EXPECT_EQ(info->id, 14u);
  struct Case {
    const char16_t* name;
    uint32_t score;
  } cases[] = {{u"a.srt", 100}, {u"dir/b.ass", 100}, {u"c.ssa", 100},
               {u"D.SRT", 100}, {u"e.srt  ", 100},   {u"f.txt", 0},
               {u".srt", 0},    {u"nodot", 0},       {u"g.srt.bak", 0}};
  for (const Case& c : cases) {
    uint32_t score = 7;
    EXPECT_EQ(module->ops->ProbeContainer(&score, c.name, nullptr), ZEP_OK);
    EXPECT_EQ(score, c.score) << zep::u16_to_utf8(c.name);
  }
  uint32_t score = 7;
  EXPECT_EQ(module->ops->ProbeContainer(&score, nullptr, nullptr), ZEP_FAIL);
  EXPECT_EQ(score, 0u);
  EXPECT_EQ(module->ops->ProbeContainer(nullptr, u"a.srt", nullptr), ZEP_FAIL);
}

TEST(SubtitleModule, OpenFailures) {
  ASSERT_EQ(L1Start(), ZEP_OK);
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
  Container c("q.srt", kSrt);
  ASSERT_EQ(c.status(), ZEP_OK);
  ZepQueryData q{};
  for (uint32_t qid : {ZEP_QID_NUM_CONTAINER_TITLE, ZEP_QID_NUM_TITLE_STREAMS,
                       ZEP_QID_NUM_TITLEMEDIA_SUBTITLEMEDIA}) {
    q = {};
    ASSERT_EQ(L1GetInfo(c.get(), qid, &q, 0), ZEP_OK);
    EXPECT_EQ(q.value.u16, 1u);
  }
  q = {};
  ASSERT_EQ(L1GetInfo(c.get(), ZEP_QID_NUM_ACTIVE_TITLE_STREAMS, &q, 0), ZEP_OK);
  EXPECT_EQ(q.valueType, 3u);
  EXPECT_EQ(q.size, 2u);
  EXPECT_EQ(q.value.u16, 0u);
  ASSERT_EQ(L1SetTitleActiveStream(c.get(), ZEP_BLOCK_SUBTITLE, 0, 1), ZEP_OK);
  ASSERT_EQ(L1GetInfo(c.get(), ZEP_QID_NUM_ACTIVE_TITLE_STREAMS, &q, 0), ZEP_OK);
  EXPECT_EQ(q.value.u16, 1u);

  const ZepTextSubtitleFormat f = c.Format();
  EXPECT_EQ(f.width, 640u);
  EXPECT_EQ(f.height, 480u);
  EXPECT_EQ(std::memcmp(&f.compression, "NORV", 4), 0);
  EXPECT_EQ(std::memcmp(&f.fourcc, "NRTX", 4), 0);
  uint8_t small[47];
  q = {};
  q.size = sizeof small;
  q.value.ptr = small;
  EXPECT_EQ(L1GetInfo(c.get(), ZEP_QID_SUB_STREAM_FORMAT, &q, 0), -10);

  uint8_t record[1056];
  std::memset(record, 0xEE, sizeof record);
  q = {};
  q.size = sizeof record;
  q.value.ptr = record;
  ASSERT_EQ(L1GetInfo(c.get(), ZEP_QID_GET_SUBTITLE_MEDIA_PROP, &q, 0), ZEP_OK);
  EXPECT_EQ(record[0], 0x10);
  EXPECT_EQ(record[1055], 0);
  q.size = 1055;
  EXPECT_EQ(L1GetInfo(c.get(), ZEP_QID_GET_SUBTITLE_MEDIA_PROP, &q, 0), ZEP_ERR_BUFFER_TOO_SMALL);

  uint32_t words[6];
  std::memset(words, 0xEE, sizeof words);
  q = {};
  q.size = sizeof words;
  q.value.ptr = words;
  ASSERT_EQ(L1GetInfo(c.get(), ZEP_QID_GET_CONTAINER_PROP, &q, 0), ZEP_OK);
  EXPECT_EQ(reinterpret_cast<uint8_t*>(words)[0], 0x10);
  EXPECT_EQ(words[1], 1u);
  EXPECT_EQ(words[2], 0u);
  ASSERT_EQ(L1GetInfo(c.get(), ZEP_QID_GET_TITLE_PROP, &q, 0), ZEP_OK);
  EXPECT_EQ(words[0] | words[1] | words[2] | words[4] | words[5], 0u);
  EXPECT_EQ(words[3], 1u);
  uint16_t counts[4] = {9, 9, 9, 9};
  q.size = sizeof counts;
  q.value.ptr = counts;
  ASSERT_EQ(L1GetInfo(c.get(), ZEP_QID_GET_TITLE_MEDIA_PROP, &q, 0), ZEP_OK);
  EXPECT_EQ(counts[0] + counts[1] + counts[2], 0);
  EXPECT_EQ(counts[3], 1);

  // An SRT file has no codec private data: success without an answer.
  q = {};
  q.value.u64 = 77;
  EXPECT_EQ(L1GetInfo(c.get(), ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE, &q, 0), ZEP_OK);
  EXPECT_EQ(q.value.u64, 77u);
  q = {};
  EXPECT_EQ(L1GetInfo(c.get(), ZEP_QID_GET_SRT_OUTPUT_TEXT, &q, 0), ZEP_ERR_INVALID_QUERY_ID);
  EXPECT_EQ(L1GetInfo(c.get(), ZEP_QID_SET_SRT_OUTPUT_TEXT, &q, 0), ZEP_OK);
  EXPECT_EQ(q.value.u8, 0u);
  EXPECT_EQ(L1SetInfo(c.get(), ZEP_QID_SET_HTTP_AUTH, &q, 0, 0), ZEP_OK);
  EXPECT_EQ(L1SetInfo(c.get(), ZEP_QID_SET_INDX_TYPE, &q, 0, 0), ZEP_ERR_INVALID_QUERY_ID);
}

TEST(SubtitleModule, AssCodecPrivateData) {
  Container c("p.ass", kAss);
  ASSERT_EQ(c.status(), ZEP_OK);
  const ZepTextSubtitleFormat f = c.Format();
  EXPECT_EQ(std::memcmp(&f.fourcc, "ASS\0", 4), 0);
  EXPECT_EQ(f.kind, 0x21u);
  ZepQueryData q{};
  ASSERT_EQ(L1GetInfo(c.get(), ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE, &q, 0), ZEP_OK);
  EXPECT_EQ(q.valueType, 6u);
  const std::string header = kAss.substr(0, kAss.find("Dialogue:"));
  ASSERT_EQ(q.value.u32, header.size());
  std::vector<uint8_t> buffer(header.size() + 1);
  q = {};
  EXPECT_EQ(L1GetInfo(c.get(), ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA, &q, 0), -8);
  q.size = static_cast<uint32_t>(buffer.size());
  q.value.ptr = buffer.data();
  EXPECT_EQ(L1GetInfo(c.get(), ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA, &q, 0), -2);
  q.size = static_cast<uint32_t>(header.size());
  ASSERT_EQ(L1GetInfo(c.get(), ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA, &q, 0), ZEP_OK);
  EXPECT_EQ(q.valueType, 11u);
  EXPECT_EQ(std::string(buffer.begin(), buffer.begin() + header.size()), header);
}

TEST(SubtitleModule, TextOutputDeliversEveryEntry) {
  Container c("t.srt", kSrt);
  ASSERT_EQ(c.status(), ZEP_OK);
  ZEP_STATUS last = 0;
  EXPECT_TRUE(c.ReadAll(&last).empty());  // the stream is not active yet
  EXPECT_EQ(last, ZEP_WARN_NONFATAL);
  ASSERT_EQ(L1SetTitleActiveStream(c.get(), ZEP_BLOCK_SUBTITLE, 0, 1), ZEP_OK);
  ASSERT_EQ(c.SetTextOutput(1), ZEP_OK);
  auto blocks = c.ReadAll(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(AsText(blocks[0].data), "First\nline two");
  EXPECT_EQ(blocks[0].time, 10000000);
  EXPECT_EQ(blocks[0].duration, 15000000);
  EXPECT_EQ(AsText(blocks[1].data), "Second");
  EXPECT_EQ(blocks[1].time, 32500000);
  EXPECT_EQ(blocks[1].duration, 7500000);
  EXPECT_EQ(AsText(blocks[2].data), "<i>Third</i>");
  EXPECT_EQ(c.block().data[c.block().size], 0);  // the rest of the buffer is cleared

  // Positioning, then switching again starts over at the first entry.
  int64_t t = 45000000;  // between the second and the third entry
  EXPECT_EQ(L1SetPosition(c.get(), ZEP_BLOCK_SUBTITLE, 0, &t), ZEP_OK);
  EXPECT_EQ(t, 50000000);
  blocks = c.ReadAll(&last);
  ASSERT_EQ(blocks.size(), 1u);
  EXPECT_EQ(AsText(blocks[0].data), "<i>Third</i>");
  EXPECT_EQ(L1SetPosition(c.get(), ZEP_BLOCK_SUBTITLE, 0, nullptr), -2);
  ASSERT_EQ(c.SetTextOutput(1), ZEP_OK);
  EXPECT_EQ(c.ReadAll(&last).size(), 3u);
}

TEST(SubtitleModule, TextReadIntoASmallFixedBufferKeepsTheEntry) {
  Container c("s.srt", kSrt);
  ASSERT_EQ(c.SetTextOutput(1), ZEP_OK);
  std::vector<uint8_t> storage(999, 0xAA);
  ZepBlock fixed{};
  fixed.data = storage.data();
  fixed.capacity = static_cast<uint32_t>(storage.size());
  EXPECT_EQ(L1ReadNextBlockByStream(c.get(), ZEP_BLOCK_SUBTITLE, 0, &fixed),
            ZEP_ERR_BLOCK_BUFFER_TOO_SMALL);
  EXPECT_EQ(fixed.size, 0u);
  EXPECT_EQ(storage[0], 0xAA);
  // The entry was not consumed: a large enough buffer gets it.
  storage.resize(1000);
  fixed.data = storage.data();
  fixed.capacity = 1000;
  ASSERT_EQ(L1ReadNextBlockByStream(c.get(), ZEP_BLOCK_SUBTITLE, 0, &fixed), ZEP_OK);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(fixed.data), fixed.size), "First\nline two");
}

TEST(SubtitleModule, BitmapOutputDeliversQsubPackets) {
  if (!HaveFont()) GTEST_SKIP() << "no font file " << kFont;
  Container c("b.srt", kSrt);
  ASSERT_EQ(c.status(), ZEP_OK);
  ASSERT_EQ(c.SetFont(kFont), ZEP_OK);
  ASSERT_EQ(L1SetTitleActiveStream(c.get(), ZEP_BLOCK_SUBTITLE, 0, 1), ZEP_OK);
  ZEP_STATUS last = 0;
  const auto blocks = c.ReadAll(&last);
  EXPECT_EQ(last, ZEP_ERR_END_OF_STREAM);
  ASSERT_EQ(blocks.size(), 3u);
  const int64_t times[3][2] = {{10000000, 15000000}, {32500000, 7500000}, {50000000, 10000000}};
  for (size_t i = 0; i < blocks.size(); ++i) {
    ZepQsubPacket packet;
    ASSERT_EQ(zep_qsub_decode_packet(blocks[i].data.data(), blocks[i].data.size(), &packet),
              ZEP_OK);
    EXPECT_FALSE(packet.extraHeader);  // 640 x 480 form
    EXPECT_EQ(blocks[i].time, times[i][0]);
    EXPECT_EQ(blocks[i].duration, times[i][1]);
    // Some text and some outline were drawn, inside the 640 x 480 placement area.
    size_t text = 0, outline = 0;
    for (uint8_t p : packet.pixels) {
      text += p == 2;
      outline += p == 1;
    }
    EXPECT_GT(text, 50u);
    EXPECT_GT(outline, 50u);
    EXPECT_GE(packet.left, 44);
    EXPECT_LE(packet.right, 595);
    EXPECT_LE(packet.bottom, 455);
  }
  EXPECT_EQ(AsText(std::vector<uint8_t>(blocks[0].data.begin(), blocks[0].data.begin() + 27)),
            "[00:00:01.000-00:00:02.500]");
  // Two text lines are taller than one.
  ZepQsubPacket twoLines, oneLine;
  ASSERT_EQ(zep_qsub_decode_packet(blocks[0].data.data(), blocks[0].data.size(), &twoLines),
            ZEP_OK);
  ASSERT_EQ(zep_qsub_decode_packet(blocks[1].data.data(), blocks[1].data.size(), &oneLine), ZEP_OK);
  EXPECT_GT(twoLines.height, oneLine.height + 20);

  // Positioning works in bitmap output as well.
  int64_t t = 33000000;
  EXPECT_EQ(L1SetPosition(c.get(), ZEP_BLOCK_SUBTITLE, 0, &t), ZEP_OK);
  EXPECT_EQ(t, 32500000);
  EXPECT_EQ(c.ReadAll(&last).size(), 2u);
}

TEST(SubtitleModule, BitmapFrameSizes) {
  if (!HaveFont()) GTEST_SKIP() << "no font file " << kFont;
  Container c("f.ass", kAss);
  ASSERT_EQ(c.status(), ZEP_OK);
  ASSERT_EQ(c.SetFont(kFont), ZEP_OK);
  // An ASS file names no frame size: its packets are made for 640 x 480.
  ZepBlock& block = c.block();
  ASSERT_EQ(L1ReadNextBlockByStream(c.get(), ZEP_BLOCK_SUBTITLE, 0, &block), ZEP_OK);
  ZepQsubPacket packet;
  ASSERT_EQ(zep_qsub_decode_packet(block.data, block.size, &packet), ZEP_OK);
  EXPECT_FALSE(packet.extraHeader);
  EXPECT_EQ(std::string(packet.timeString), "[00:00:01.500-00:00:03.000]");

  ASSERT_EQ(c.SetFrame(960, 720), ZEP_OK);
  EXPECT_EQ(c.Format().imageSize, 960u * 720 / 2);
  ASSERT_EQ(L1ReadNextBlockByStream(c.get(), ZEP_BLOCK_SUBTITLE, 0, &block), ZEP_OK);
  ASSERT_EQ(zep_qsub_decode_packet(block.data, block.size, &packet), ZEP_OK);
  EXPECT_TRUE(packet.extraHeader);
  EXPECT_EQ(std::memcmp(block.data + 53, "\x00\xFF\xFF\xFF", 4), 0);
  EXPECT_EQ(block.time, 40000000);
  EXPECT_EQ(block.duration, 12500000);
  EXPECT_EQ(L1ReadNextBlockByStream(c.get(), ZEP_BLOCK_SUBTITLE, 0, &block), ZEP_ERR_END_OF_STREAM);

  // A frame size without a packet form fails the read.
  ASSERT_EQ(c.SetTextOutput(0), ZEP_OK);  // a new reader: back to the first entry
  ASSERT_EQ(c.SetFrame(720, 576), ZEP_OK);
  EXPECT_EQ(L1ReadNextBlockByStream(c.get(), ZEP_BLOCK_SUBTITLE, 0, &block),
            ZEP_ERR_BLOCK_READ_FAILURE);
}

TEST(SubtitleModule, MissingFontFailsTheRead) {
  Container c("m.srt", kSrt);
  ASSERT_EQ(c.SetFont("/nonexistent/font.ttf"), ZEP_OK);
  EXPECT_EQ(L1ReadNextBlockByStream(c.get(), ZEP_BLOCK_SUBTITLE, 0, &c.block()), ZEP_FAIL);
}
