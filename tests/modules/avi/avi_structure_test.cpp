// File structure: probe, open, the header lists of a title, stream limits and
// numbering, INFO texts, the cover picture, and the queries on them.
#include <gtest/gtest.h>

#include <cstring>

#include "modules/avi/avi_module.h"
#include "tests/modules/avi/avi_test_util.h"

using namespace avitest;
using namespace zeptest;

namespace {

uint32_t probe(const std::string& name) {
  uint32_t score = 7;
  std::u16string n = zep::utf8_to_u16(name);
  EXPECT_EQ(zepAviModule.ops->ProbeContainer(&score, n.c_str(), nullptr), 0);
  return score;
}

TEST(AviStructure, ProbeByContentOrByExtension) {
  TempDir dir;
  EXPECT_EQ(probe(write_avi(dir, "a.mkv", basic_spec(2, 1))), 100u);
  EXPECT_EQ(probe(dir.write("b.avi", std::string("RIFF\0\0\0\0WAVEfmt ", 16))), 0u);
  uint32_t score = 0;
  std::u16string shortFile = zep::utf8_to_u16(dir.write("c.avi", std::string("RIFF")));
  EXPECT_EQ(zepAviModule.ops->ProbeContainer(&score, shortFile.c_str(), nullptr), ZEP_FAIL);
  EXPECT_EQ(probe(dir.path() + "/missing.avi  "), 100u);
  EXPECT_EQ(probe(dir.path() + "/missing.AVI"), 100u);
  EXPECT_EQ(probe(dir.path() + "/missing.Avi"), 0u);
  EXPECT_EQ(probe(dir.path() + "/missing.qsub"), 100u);
  EXPECT_EQ(probe(dir.path() + "/missing"), 0u);
  EXPECT_EQ(zepAviModule.ops->ProbeContainer(nullptr, u"x.avi", nullptr), ZEP_FAIL);
  const ZepModuleInfo* info = zepAviModule.ops->GetModuleInfo();
  EXPECT_EQ(std::u16string(info->extensions), u".avi, .norv");
  EXPECT_EQ(info->id, 10u);
  EXPECT_EQ(zepAviModule.ops->CreateContainer, nullptr);
  EXPECT_EQ(zepAviModule.ops->WriteNextBlock, nullptr);
}

TEST(AviStructure, OpenFailures) {
  TempDir dir;
  ZepModuleHandle h = nullptr;
  auto open = [&](const std::string& path) {
    std::u16string n = zep::utf8_to_u16(path);
    ZEP_STATUS s = zepAviModule.ops->OpenContainer(&h, n.c_str(), nullptr);
    if (h) zepAviModule.ops->CloseContainer(h);
    h = nullptr;
    return s;
  };
  EXPECT_EQ(open(dir.path() + "/none.avi"), ZEP_E_CANNOT_OPEN);
  EXPECT_EQ(open("http://host/file.avi"), ZEP_ERR_REMOTE_FILE_UNSUPPORTED);
  EXPECT_EQ(open(dir.write("w.avi", std::string("RIFF\4\0\0\0WAVE", 12))), ZEP_ERR_INVALID_FILE);
  EXPECT_EQ(open(dir.write("s.avi", std::string("RIF"))), ZEP_ERR_FILE_CORRUPT);
  EXPECT_EQ(zepAviModule.ops->OpenContainer(&h, nullptr, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(zepAviModule.ops->SetMenu(nullptr, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(zepAviModule.ops->CloseContainer(nullptr), ZEP_E_NULL_ARG);
}

TEST(AviStructure, TitleIndexAndRepeatedSetTitle) {
  TempDir dir;
  AviFile f(write_avi(dir, "t.avi", basic_spec(4, 2)));
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(f.count(ZEP_QID_NUM_CONTAINER_TITLE), 1u);
  EXPECT_EQ(L1SetTitle(f.container(), 0), 0);
  EXPECT_EQ(L1SetTitle(f.container(), 1), ZEP_FAIL);
  EXPECT_EQ(f.value64(ZEP_QID_TITLEMEDIA_FILE_OFFSET, 0), 0);
}

TEST(AviStructure, NineAudioAndTwoVideoStreams) {
  TempDir dir;
  AviFileSpec spec = basic_spec(0, 1, false);
  AviStreamSpec second = spec.streams[0];
  spec.streams.push_back(second);  // strl 1: a second video stream, ignored
  for (int i = 0; i < 9; ++i) {
    AviStreamSpec a;
    a.kind = AviStreamSpec::kAudio;
    a.scale = 1;
    a.rate = 8000;
    a.sampleSize = 1;
    a.avgBytesPerSec = 8000;
    a.name = "audio " + std::to_string(i);
    spec.streams.push_back(a);
  }
  for (uint32_t s = 0; s < 11; ++s)
    spec.chunks.push_back({s, s < 2 ? "dc" : "wb", pattern_bytes(s, 16 + s), true, 0});
  spec.chunks.push_back({3, "wb", pattern_bytes(99, 8), true, 0});
  // The same stream as "wb03" is audio of stream number 3 as well.
  AviChunkSpec swapped{3, "wb", pattern_bytes(98, 8), true, 0};
  spec.chunks.push_back(swapped);
  Bytes file = build_avi(spec);
  // Rewrite the last chunk id from "03wb" to "wb03".
  for (size_t i = file.size(); i-- > 4;) {
    if (std::memcmp(&file[i], "03wb", 4) == 0) {
      std::memcpy(&file[i], "wb03", 4);
      break;
    }
  }
  AviFile f(dir.write("many.avi", file));
  ASSERT_TRUE(f.ok());
  EXPECT_EQ(f.count(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA), 1u);
  EXPECT_EQ(f.count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA), 8u);
  EXPECT_EQ(f.count(ZEP_QID_TOTAL_NUM_TITLEMEDIA_VIDEOMEDIA), 2u);
  EXPECT_EQ(f.count(ZEP_QID_TOTAL_NUM_TITLEMEDIA_AUDIOMEDIA), 9u);
  EXPECT_EQ(f.count(ZEP_QID_NUM_TITLE_STREAMS), 9u);
  EXPECT_EQ(f.count(ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM, 0), 2u);
  EXPECT_EQ(f.count(ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM, 7), 9u);
  EXPECT_EQ(f.count(ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM, 8), 0xFFFFFFFFu);
  f.activate_all();
  auto blocks = f.read_all();
  ASSERT_EQ(blocks.size(), 1u + 8u + 2u);
  EXPECT_EQ(blocks[0].data, spec.chunks[0].data);
  for (uint32_t i = 0; i < 8; ++i) {
    EXPECT_EQ(blocks[1 + i].type, ZEP_BLOCK_AUDIO);
    EXPECT_EQ(blocks[1 + i].stream, i);
    EXPECT_EQ(blocks[1 + i].data, spec.chunks[2 + i].data);
  }
  EXPECT_EQ(blocks[9].stream, 1u);
  EXPECT_EQ(blocks[10].stream, 1u);
  EXPECT_EQ(blocks[10].data, swapped.data);

  ZepAudioMediaProp prop{};
  ZepQueryData q{};
  q.size = sizeof prop;
  q.value.ptr = &prop;
  ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_GET_AUDIO_MEDIA_PROP, &q, 2), 0);
  EXPECT_EQ(zep::u16_to_utf8(prop.name), "audio 2");
  EXPECT_EQ(L1GetInfo(f.container(), ZEP_QID_GET_AUDIO_MEDIA_PROP, &q, 8),
            ZEP_ERR_INDEX_OUT_OF_RANGE);
}

TEST(AviStructure, InfoTextsOf255AndOf256Bytes) {
  TempDir dir;
  AviFileSpec spec = basic_spec(2, 1);
  spec.info.push_back({"ISFT", Bytes(255, 'a')});
  spec.info.push_back({"INFV", Bytes(256, 'b')});
  spec.info.push_back({"INPN", Bytes{'p', 'r', 'o'}});  // odd size: pad byte follows
  AviFile f(write_avi(dir, "info.avi", spec));
  ASSERT_TRUE(f.ok());
  auto text = [&](uint32_t qid) {
    ZepQueryData q{};
    EXPECT_EQ(L1GetInfo(f.container(), qid, &q, 0), 0);
    auto* s = static_cast<zep_wchar_t*>(q.value.ptr);
    std::string out = s ? zep::u16_to_utf8(s) : std::string("<null>");
    if (s) zep_wcsfree(s, nullptr);
    return out;
  };
  EXPECT_EQ(text(ZEP_QID_GET_TOOL_VERSION), std::string(255, 'a'));
  EXPECT_EQ(text(ZEP_QID_GET_FORMAT_VERSION), "<null>");
  EXPECT_EQ(text(ZEP_QID_PROFILE_NAME), "pro");
}

TEST(AviStructure, HeaderErrors) {
  TempDir dir;
  AviFileSpec before = basic_spec(3, 1);
  before.idx1BeforeMovi = true;
  AviFile a(write_avi(dir, "b.avi", before));
  EXPECT_EQ(a.title_status(), ZEP_ERR_MOVI_NOT_FOUND);

  // A stream of another kind (text) is passed over; numbering still counts it.
  AviFileSpec other = basic_spec(0, 1, false);
  AviStreamSpec text;
  text.kind = AviStreamSpec::kOther;
  other.streams.insert(other.streams.begin(), text);
  other.chunks.push_back({1, "dc", mpeg4_frame(true, 1), true, 0});
  AviFile b(write_avi(dir, "o.avi", other));
  ASSERT_TRUE(b.ok()) << std::hex << b.title_status();
  EXPECT_EQ(b.count(ZEP_QID_TITLEMEDIA_VID_ABSOLUTE_TRACK_NUM, 0), 1u);
  b.activate_all();
  EXPECT_EQ(b.read_all().size(), 1u);

  // strf before strh, two strh, a strl without strf.
  AviFileSpec named = basic_spec(2, 1);
  named.streams[0].name = "vids";  // a strn whose data reads like a strh of video
  Bytes good = build_avi(named);
  auto swap_ids = [&](const char* from, const char* to, bool all = false) {
    Bytes out = good;
    for (size_t i = 0; i + 4 <= out.size(); ++i)
      if (std::memcmp(&out[i], from, 4) == 0) {
        std::memcpy(&out[i], to, 4);
        if (!all) break;
      }
    return out;
  };
  AviFile c(dir.write("c.avi", swap_ids("strh", "JUNK")));
  EXPECT_EQ(c.title_status(), ZEP_ERR_STRH_NOT_FOUND);
  AviFile d(dir.write("d.avi", swap_ids("strn", "strh")));
  EXPECT_EQ(d.title_status(), ZEP_ERR_DUPLICATE_STRH_FOUND);
  AviFile e(dir.write("e.avi", swap_ids("strf", "JUNK")));
  EXPECT_EQ(e.title_status(), ZEP_ERR_STRF_NOT_FOUND_UNNAMED);
  AviFile g(dir.write("g.avi", swap_ids("hdrl", "hdrX")));
  EXPECT_EQ(g.title_status(), ZEP_ERR_HDRL_NOT_FOUND);
  AviFile h(dir.write("h.avi", swap_ids("strl", "strX", true)));
  EXPECT_EQ(h.title_status(), ZEP_ERR_STRL_NOT_FOUND);
}

TEST(AviStructure, WaveFormatWithoutCbSizeOrWithTooMuchExtra) {
  TempDir dir;
  AviFileSpec spec = basic_spec(1, 1);
  spec.streams[1].shortWave = true;
  AviStreamSpec big = spec.streams[1];
  big.shortWave = false;
  big.waveExtra = pattern_bytes(1, 30);
  AviStreamSpec small = big;
  small.waveExtra = {1, 2, 3, 4};
  spec.streams.push_back(big);
  spec.streams.push_back(small);
  AviFile f(write_avi(dir, "w.avi", spec));
  ASSERT_TRUE(f.ok());
  ZepAudioStreamFormat a{};
  ZepQueryData q{};
  q.size = sizeof a;
  q.value.ptr = &a;
  ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_AUD_STREAM_FORMAT, &q, 0), 0);
  EXPECT_EQ(a.extraSize, 0);
  ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_AUD_STREAM_FORMAT, &q, 1), 0);
  EXPECT_EQ(a.extraSize, 30);
  EXPECT_EQ(a.extra[0], 0);
  ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_AUD_STREAM_FORMAT, &q, 2), 0);
  EXPECT_EQ(a.extraSize, 4);
  EXPECT_EQ(a.extra[3], 4);
}

TEST(AviStructure, QueriesWithoutTitleAndUnknownQids) {
  TempDir dir;
  AviFile f(write_avi(dir, "q.avi", basic_spec(2, 1)), false);
  ASSERT_GE(f.open_status(), 0);
  ZepQueryData q{};
  EXPECT_EQ(L1GetInfo(f.container(), ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA, &q, 0), ZEP_FAIL);
  EXPECT_EQ(L1GetInfo(f.container(), ZEP_QID_NUM_CONTAINER_TITLE, &q, 0), 0);
  EXPECT_EQ(L1GetInfo(f.container(), ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 0),
            ZEP_ERR_UNSUPPORTED_QID);
  EXPECT_EQ(L1SetInfo(f.container(), ZEP_QID_SET_TRACK_PROP, &q, 0, 0), ZEP_ERR_MENU_MODULE_NULL);
  EXPECT_EQ(L1GetInfo(f.container(), ZEP_QID_GET_WAIT_TIME, &q, 0), 0);
  EXPECT_EQ(q.value.i64, 50000000);
  EXPECT_EQ(L1GetInfo(f.container(), ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, &q, 0), 0);
  EXPECT_EQ(q.value.u32, 0u);
  char auth[] = "user:pw";
  q.size = sizeof auth;
  q.value.ptr = auth;
  EXPECT_EQ(L1SetInfo(f.container(), ZEP_QID_SET_HTTP_AUTH, &q, 0, 0),
            ZEP_ERR_REMOTE_FILE_UNSUPPORTED);
  char back[16] = {};
  q.size = sizeof back;
  q.value.ptr = back;
  EXPECT_EQ(L1GetInfo(f.container(), ZEP_QID_GET_HTTP_AUTH, &q, 0), 0);
  EXPECT_STREQ(back, "user:pw");
  ASSERT_EQ(L1SetTitle(f.container(), 0), 0);
  EXPECT_EQ(f.count(ZEP_QID_TITLEDATA_VIDEOFRAMECOUNT), 2u);
  q.value.i64 = 10000000;
  ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_TITLEDATA_VIDEO_FRAME_FROM_TIME, &q, 0), 0);
  EXPECT_EQ(q.value.u32, 25u);
  {
    uint16_t rec[4] = {};
    q.size = sizeof rec;
    q.value.ptr = rec;
    ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_GET_TITLE_MEDIA_PROP, &q, 0), 0);
    EXPECT_EQ(rec[0], 16);
    EXPECT_EQ(rec[1], 1);
    EXPECT_EQ(rec[2], 1);
  }
}

TEST(AviStructure, CoverPictureOfAMetaSection) {
  TempDir dir;
  AviFileSpec spec = basic_spec(2, 1);
  spec.cover = pattern_bytes(5, 333);
  AviFile f(write_avi(dir, "cover.avi", spec));
  ASSERT_TRUE(f.ok());
  ZepQueryData q{};
  ASSERT_EQ(L1GetInfo(f.container(), ZEP_QID_METADATA_OFFSET, &q, 0), 0);
  EXPECT_GT(q.value.i64, 0);
  f.activate_all();
  EXPECT_EQ(f.read_all().size(), 4u);
}

}  // namespace

namespace {

// Sizes from the file are checked against their parent and the file before
// anything is read or allocated from them.
TEST(AviStructureDamage, OversizedAndTruncatedChunks) {
  TempDir dir;
  AviFileSpec spec = basic_spec(6, 2);
  spec.streams[0].name = "video";
  spec.cover = pattern_bytes(1, 64);
  Bytes good = build_avi(spec);
  auto at = [&](const Bytes& b, const char* id) {
    for (size_t i = 0; i + 4 <= b.size(); ++i)
      if (std::memcmp(&b[i], id, 4) == 0) return i;
    return size_t(0);
  };
  auto patch32 = [](Bytes& b, size_t pos, uint32_t v) {
    for (int i = 0; i < 4; ++i) b[pos + i] = uint8_t(v >> (8 * i));
  };
  std::vector<Bytes> files;
  Bytes b = good;
  patch32(b, at(b, "strn") + 4, 0xFFFFFFF0u);  // name larger than the file
  files.push_back(b);
  b = good;
  patch32(b, at(b, "dpic") + 4, 0xFFFFFFF0u);  // cover larger than the file
  files.push_back(b);
  b = good;
  patch32(b, at(b, "00dc") + 4, 0xFFFFFFFFu);  // first chunk runs past the end
  files.push_back(b);
  b = good;
  patch32(b, at(b, "hdrl") - 4, 0xFFFFFFF0u);  // hdrl past the end
  files.push_back(b);
  b = good;
  patch32(b, 4, 0xFFFFFFFFu);  // RIFF size past the end
  files.push_back(b);
  b = good;
  patch32(b, at(b, "movi") - 4, 0);  // empty movi
  files.push_back(b);
  for (size_t n = 0; n < good.size(); n += 97)
    files.push_back(Bytes(good.begin(), good.begin() + long(n)));
  for (const Bytes& file : files) {
    AviFile f(dir.write("d.avi", file));
    if (!f.container()) continue;
    f.activate_all();
    ZEP_STATUS last = 0;
    auto blocks = f.read_all(&last, 100);
    EXPECT_LT(last, 0);
    EXPECT_LE(blocks.size(), 12u);
    int64_t t = 4 * 400000;
    f.seek(ZEP_BLOCK_VIDEO, 0, &t);
    ZepQueryData q{};
    L1GetInfo(f.container(), ZEP_QID_TITLE_DURATION, &q, 0);
  }
}

}  // namespace
