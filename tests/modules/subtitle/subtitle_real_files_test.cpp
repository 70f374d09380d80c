// Real files: SRT and ASS written by ffmpeg, read through the container layer
// in text output, compared with ffprobe's packet list (count, times, sizes),
// ffmpeg's own extraction of the packet payloads and the ASS header.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "modules/subtitle/subtitle_module.h"
#include "tests/support/byte_writer.h"

namespace {

const char kSource[] =
    "1\n00:00:00,500 --> 00:00:02,250\nFirst line\nsecond, with a comma\n\n"
    "2\n00:00:03,040 --> 00:00:04,000\n<i>Italic</i> and <b>bold</b>\n\n"
    "3\n00:00:04,500 --> 00:00:06,780\nÜmlaute – € 日本語\n\n"
    "4\n00:01:05,120 --> 00:01:07,000\nThree\nlines\nhere\n\n"
    "5\n01:00:00,010 --> 01:00:01,990\nLast\n";

struct Packet {
  int64_t time;      // 100 ns
  int64_t duration;  // 100 ns
  size_t size;
};

std::vector<Packet> ProbePackets(const std::string& path) {
  const auto json = nlohmann::json::parse(zeptest::command_output(
      "ffprobe -v error -show_packets -show_streams -of json '" + path + "'"));
  const std::string base = json["streams"][0]["time_base"];
  const int64_t num = std::stoll(base.substr(0, base.find('/')));
  const int64_t den = std::stoll(base.substr(base.find('/') + 1));
  std::vector<Packet> out;
  for (const auto& p : json["packets"]) {
    const int64_t pts = p["pts"];
    const int64_t duration = p["duration"];
    out.push_back({pts * num * 10000000 / den, duration * num * 10000000 / den,
                   static_cast<size_t>(std::stoull(p["size"].get<std::string>()))});
  }
  return out;
}

struct Read {
  std::vector<std::string> texts;
  std::vector<Packet> packets;
  std::string codecPrivate;
};

Read ReadThroughContainer(const std::string& path) {
  Read out;
  EXPECT_EQ(L1Start(), ZEP_OK);
  ZepContainer* c = nullptr;
  EXPECT_EQ(L1OpenContainer(&c, zep::utf8_to_u16(path).c_str(), nullptr), ZEP_OK);
  if (c == nullptr) return out;
  ZepQueryData q{};
  q.value.u8 = 1;
  EXPECT_EQ(L1SetInfo(c, ZEP_QID_SET_SRT_OUTPUT_TEXT, &q, 0, 0), ZEP_OK);
  q = {};
  if (L1GetInfo(c, ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA_SIZE, &q, 0) == ZEP_OK &&
      q.valueType == ZEP_QTYPE_SIZE32) {
    out.codecPrivate.resize(q.value.u32);
    q.size = q.value.u32;
    q.value.ptr = out.codecPrivate.data();
    EXPECT_EQ(L1GetInfo(c, ZEP_QID_SUBTITLE_CODEC_PRIVATE_DATA, &q, 0), ZEP_OK);
  }
  ZepBlock block;
  zep_heap_block_init(&block);
  EXPECT_EQ(L1SetTitleActiveStream(c, ZEP_BLOCK_SUBTITLE, 0, 1), ZEP_OK);
  uint32_t type = 0, stream = 0;
  ZEP_STATUS status = ZEP_OK;
  while ((status = L1ReadNextBlock(c, &type, &stream, &block, 0)) == ZEP_OK) {
    out.texts.emplace_back(reinterpret_cast<char*>(block.data), block.size);
    out.packets.push_back({block.time, block.duration, block.size});
  }
  EXPECT_EQ(status, ZEP_ERR_END_OF_STREAM);
  zep_heap_block_free(&block);
  L1CloseContainer(c);
  return out;
}

void CompareWithFfmpeg(const std::string& path) {
  const std::vector<Packet> expected = ProbePackets(path);
  const Read read = ReadThroughContainer(path);
  ASSERT_EQ(read.packets.size(), expected.size()) << path;
  ASSERT_EQ(expected.size(), 5u);
  for (size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(read.packets[i].time, expected[i].time) << path << " entry " << i;
    EXPECT_EQ(read.packets[i].duration, expected[i].duration) << path << " entry " << i;
    EXPECT_EQ(read.packets[i].size, expected[i].size)
        << path << " entry " << i << ": " << read.texts[i];
  }
  // ffmpeg's extraction writes the payloads one after the other.
  std::string joined;
  for (const auto& text : read.texts) joined += text;
  EXPECT_EQ(joined, zeptest::command_output("ffmpeg -v error -i '" + path +
                                            "' -map 0:0 -c copy -f data -"));
}

class RealSubtitleFiles : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!zeptest::have_tool("ffmpeg") || !zeptest::have_tool("ffprobe"))
      GTEST_SKIP() << "ffmpeg missing";
    source_ = dir_.write("source.srt", std::string_view(kSource));
  }
  std::string Convert(const std::string& name) {
    const std::string out = dir_.path() + "/" + name;
    EXPECT_EQ(zeptest::run_command("ffmpeg -v error -y -i '" + source_ + "' '" + out + "'"), 0);
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
  // The codec private data is the header up to the event Format line, as
  // ffmpeg's extradata, with each line ended by a line feed alone.
  const auto json = nlohmann::json::parse(
      zeptest::command_output("ffprobe -v error -show_streams -of json '" + path + "'"));
  const size_t extradataSize = json["streams"][0]["extradata_size"].get<size_t>();
  const zeptest::Bytes file = zeptest::read_file(path);
  ASSERT_LE(extradataSize, file.size());
  std::string header;
  for (size_t i = 0; i < extradataSize; ++i) {
    if (file[i] != '\r') header.push_back(static_cast<char>(file[i]));
  }
  const Read read = ReadThroughContainer(path);
  EXPECT_EQ(read.codecPrivate, header);
  EXPECT_EQ(read.codecPrivate.rfind("[Script Info]\n", 0), 0u);
}

TEST_F(RealSubtitleFiles, Utf16CrLfSourceEqualsFfmpegsUtf8Srt) {
  // The source as UTF-16 with CR LF line ends gives the entries of ffmpeg's
  // UTF-8 rewrite of it.
  std::string crlf;
  for (const char* p = kSource; *p; ++p)
    crlf += (*p == '\n') ? std::string("\r\n") : std::string(1, *p);
  const std::u16string units = zep::utf8_to_u16(crlf);
  zeptest::ByteWriter w;
  w.le16(0xFEFF);
  for (char16_t u : units) w.le16(u);
  const std::string path = dir_.write("utf16.srt", w.take());
  const Read utf16 = ReadThroughContainer(path);
  const Read plain = ReadThroughContainer(Convert("plain.srt"));
  EXPECT_EQ(utf16.texts, plain.texts);
  ASSERT_EQ(utf16.packets.size(), plain.packets.size());
  for (size_t i = 0; i < plain.packets.size(); ++i)
    EXPECT_EQ(utf16.packets[i].time, plain.packets[i].time);
}
