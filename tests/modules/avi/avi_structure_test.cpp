// File structure: probe, open, the header lists of a title, stream limits and
// numbering, INFO texts, the cover picture, the queries on them, and damaged
// or cut headers.
#include <gtest/gtest.h>

#include <cstring>

#include "modules/avi/avi_module.h"
#include "tests/modules/avi/avi_test_util.h"

using namespace avitest;
using namespace zeptest;

namespace {

class AviStructure : public AviTest {
 protected:
  static ZEP_STATUS probe(const std::string& name, uint32_t* score) {
    std::u16string n = zep::utf8_to_u16(name);
    return zepAviModule.ops->ProbeContainer(score, n.c_str(), nullptr);
  }
  static uint32_t score(const std::string& name) {
    uint32_t s = 7;
    EXPECT_EQ(probe(name, &s), 0) << name;
    return s;
  }
  static ZEP_STATUS open_module(const std::string& path) {
    ZepModuleHandle h = nullptr;
    std::u16string n = zep::utf8_to_u16(path);
    ZEP_STATUS s = zepAviModule.ops->OpenContainer(&h, n.c_str(), nullptr);
    if (h) zepAviModule.ops->CloseContainer(h);
    return s;
  }
};

TEST_F(AviStructure, ProbeByContentOrByExtension) {
  const std::string d = dir_.path();
  EXPECT_EQ(score(dir_.write("a.mkv", build_avi(basic_spec(2, 1)))), 100u);
  EXPECT_EQ(score(dir_.write("b.avi", std::string("RIFF\0\0\0\0WAVEfmt ", 16))), 0u);
  uint32_t s = 0;
  EXPECT_EQ(probe(dir_.write("c.avi", std::string("RIFF")), &s), ZEP_FAIL);
  // Files that are not there: the extension decides (case and trailing blanks).
  for (const char* name : {"missing.avi  ", "missing.AVI", "missing.qsub"})
    EXPECT_EQ(score(d + "/" + name), 100u) << name;
  for (const char* name : {"missing.Avi", "missing"}) EXPECT_EQ(score(d + "/" + name), 0u) << name;
  EXPECT_EQ(zepAviModule.ops->ProbeContainer(nullptr, u"x.avi", nullptr), ZEP_FAIL);
  EXPECT_EQ(std::u16string(zepAviModule.ops->GetModuleInfo()->extensions), u".avi, .norv");
  EXPECT_EQ(zepAviModule.ops->CreateContainer, nullptr);  // a reader only
  EXPECT_EQ(zepAviModule.ops->WriteNextBlock, nullptr);
}

TEST_F(AviStructure, OpenFailures) {
  EXPECT_EQ(open_module(dir_.path() + "/none.avi"), ZEP_E_CANNOT_OPEN);
  EXPECT_EQ(open_module("http://host/file.avi"), ZEP_ERR_REMOTE_FILE_UNSUPPORTED);
  EXPECT_EQ(open_module(dir_.write("w.avi", std::string("RIFF\4\0\0\0WAVE", 12))),
            ZEP_ERR_INVALID_FILE);
  EXPECT_EQ(open_module(dir_.write("s.avi", std::string("RIF"))), ZEP_ERR_FILE_CORRUPT);
  ZepModuleHandle h = nullptr;
  EXPECT_EQ(zepAviModule.ops->OpenContainer(&h, nullptr, nullptr), ZEP_E_NULL_ARG);
  EXPECT_EQ(zepAviModule.ops->SetMenu(nullptr, 0), ZEP_E_NULL_ARG);
  EXPECT_EQ(zepAviModule.ops->CloseContainer(nullptr), ZEP_E_NULL_ARG);
}

TEST_F(AviStructure, OneTitleAtOffsetZeroThatCanBeSetAgain) {
  auto f = open(basic_spec(4, 2));
  ASSERT_TRUE(f->ok());
  EXPECT_EQ(f->count(ZEP_QID_NUM_CONTAINER_TITLE), 1u);
  EXPECT_EQ(L1SetTitle(f->container(), 0), 0);
  EXPECT_EQ(L1SetTitle(f->container(), 1), ZEP_FAIL);
  EXPECT_EQ(f->value64(ZEP_QID_TITLEMEDIA_FILE_OFFSET, 0), 0);
}

// Of two video streams the first is used, of nine audio streams the first
// eight; chunk ids "03wb" and "wb03" both name stream 3.
TEST_F(AviStructure, NineAudioAndTwoVideoStreams) {
  AviFileSpec spec = basic_spec(0, 1, false);
  spec.streams.push_back(spec.streams[0]);
  for (int i = 0; i < 9; ++i) {
    spec.streams.push_back(audio_stream(1, 1, 8000, 1, 4, 8000));
    spec.streams.back().name = "audio " + std::to_string(i);
  }
  for (uint32_t s = 0; s < 11; ++s)
    spec.chunks.push_back({s, s < 2 ? "dc" : "wb", pattern_bytes(s, 16 + s), true, 0});
  spec.chunks.push_back({3, "wb", pattern_bytes(99, 8), true, 0});
  spec.chunks.push_back({3, "wb", pattern_bytes(98, 8), true, 0});
  Bytes file = build_avi(spec);
  for (size_t i = file.size(); i-- > 4;) {  // the last chunk's id becomes "wb03"
    if (std::memcmp(&file[i], "03wb", 4) == 0) {
      std::memcpy(&file[i], "wb03", 4);
      break;
    }
  }
  auto f = open(file);
  ASSERT_TRUE(f->ok());
  EXPECT_EQ(f->count(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA), 1u);
  EXPECT_EQ(f->count(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA), 8u);
  EXPECT_EQ(f->count(ZEP_QID_TOTAL_NUM_TITLEMEDIA_VIDEOMEDIA), 2u);
  EXPECT_EQ(f->count(ZEP_QID_TOTAL_NUM_TITLEMEDIA_AUDIOMEDIA), 9u);
  EXPECT_EQ(f->count(ZEP_QID_NUM_TITLE_STREAMS), 9u);
  EXPECT_EQ(f->count(ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM, 0), 2u);
  EXPECT_EQ(f->count(ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM, 7), 9u);
  EXPECT_EQ(f->count(ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM, 8), 0xFFFFFFFFu);
  auto blocks = f->read_all();
  ASSERT_EQ(blocks.size(), 1u + 8u + 2u);
  EXPECT_EQ(blocks[0].data, spec.chunks[0].data);
  for (uint32_t i = 0; i < 10; ++i) {
    EXPECT_EQ(blocks[1 + i].type, ZEP_BLOCK_AUDIO);
    EXPECT_EQ(blocks[1 + i].stream, i < 8 ? i : 1u);
    EXPECT_EQ(blocks[1 + i].data, spec.chunks[i < 8 ? 2 + i : 3 + i].data);
  }
  ZepAudioMediaProp prop{};
  ZepQueryData q{};
  q.size = sizeof prop;
  q.value.ptr = &prop;
  ASSERT_EQ(L1GetInfo(f->container(), ZEP_QID_GET_AUDIO_MEDIA_PROP, &q, 2), 0);
  EXPECT_EQ(zep::u16_to_utf8(prop.name), "audio 2");
  EXPECT_EQ(L1GetInfo(f->container(), ZEP_QID_GET_AUDIO_MEDIA_PROP, &q, 8),
            ZEP_ERR_INDEX_OUT_OF_RANGE);
}

TEST_F(AviStructure, InfoTextsOf255AndOf256Bytes) {
  AviFileSpec spec = basic_spec(2, 1);
  spec.info = {{"ISFT", Bytes(255, 'a')}, {"INFV", Bytes(256, 'b')}, {"INPN", {'p', 'r', 'o'}}};
  auto f = open(spec);  // INPN has an odd size: a pad byte follows
  ASSERT_TRUE(f->ok());
  for (auto [qid, expected] : {std::pair{ZEP_QID_GET_TOOL_VERSION, std::string(255, 'a')},
                               {ZEP_QID_GET_FORMAT_VERSION, "<null>"},
                               {ZEP_QID_PROFILE_NAME, "pro"}}) {
    ZepQueryData q{};
    EXPECT_EQ(L1GetInfo(f->container(), qid, &q, 0), 0);
    auto* s = static_cast<zep_wchar_t*>(q.value.ptr);
    EXPECT_EQ(s ? zep::u16_to_utf8(s) : "<null>", expected);
    if (s) zep_wcsfree(s, nullptr);
  }
}

TEST_F(AviStructure, HeaderErrors) {
  AviFileSpec before = basic_spec(3, 1);
  before.idx1BeforeMovi = true;
  EXPECT_EQ(open(before)->title_status(), ZEP_ERR_MOVI_NOT_FOUND);

  // A stream of another kind (text) is passed over; numbering still counts it.
  AviFileSpec other = basic_spec(0, 1, false);
  other.streams.insert(other.streams.begin(), AviStreamSpec{.kind = AviStreamSpec::kOther});
  other.chunks.push_back({1, "dc", mpeg4_frame(true, 1), true, 0});
  auto b = open(other);
  ASSERT_TRUE(b->ok()) << std::hex << b->title_status();
  EXPECT_EQ(b->count(ZEP_QID_TITLEMEDIA_VID_ABSOLUTE_TRACK_NUM, 0), 1u);
  EXPECT_EQ(b->read_all().size(), 1u);

  // No strh, strn read as a second strh, no strf, no hdrl, no strl.
  AviFileSpec named = basic_spec(2, 1);
  named.streams[0].name = "vids";  // a strn whose data reads like a strh of video
  const Bytes good = build_avi(named);
  struct Case {
    const char *from, *to;
    bool all;
    ZEP_STATUS expected;
  };
  for (const Case& c : {Case{"strh", "JUNK", false, ZEP_ERR_STRH_NOT_FOUND},
                        {"strn", "strh", false, ZEP_ERR_DUPLICATE_STRH_FOUND},
                        {"strf", "JUNK", false, ZEP_ERR_STRF_NOT_FOUND_UNNAMED},
                        {"hdrl", "hdrX", false, ZEP_ERR_HDRL_NOT_FOUND},
                        {"strl", "strX", true, ZEP_ERR_STRL_NOT_FOUND}}) {
    Bytes file = good;
    for (size_t at = find_id(file, c.from); at; at = c.all ? find_id(file, c.from, at) : 0)
      std::memcpy(&file[at], c.to, 4);
    EXPECT_EQ(open(file)->title_status(), c.expected) << c.from << " -> " << c.to;
  }
}

TEST_F(AviStructure, WaveFormatWithoutCbSizeOrWithTooMuchExtra) {
  AviFileSpec spec = basic_spec(1, 1);
  spec.streams.push_back(spec.streams[1]);
  spec.streams.push_back(spec.streams[1]);
  spec.streams[1].shortWave = true;
  spec.streams[2].waveExtra = pattern_bytes(1, 30);
  spec.streams[3].waveExtra = {1, 2, 3, 4};
  auto f = open(spec);
  ASSERT_TRUE(f->ok());
  ZepAudioStreamFormat a{};
  ZepQueryData q{};
  q.size = sizeof a;
  q.value.ptr = &a;
  // Up to 22 extra bytes are kept; of a larger cbSize only the size is told.
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_EQ(L1GetInfo(f->container(), ZEP_QID_AUD_STREAM_FORMAT, &q, i), 0);
    EXPECT_EQ(a.extraSize, Bytes({0, 30, 4})[i]) << i;
    EXPECT_EQ(Bytes(a.extra, a.extra + 4), (i == 2 ? Bytes{1, 2, 3, 4} : Bytes(4, 0))) << i;
  }
}

TEST_F(AviStructure, QueriesWithoutTitleAndUnknownQids) {
  auto f = std::make_unique<AviFile>(dir_.write("q.avi", build_avi(basic_spec(2, 1))), false);
  ASSERT_GE(f->open_status(), 0);
  ZepContainer* c = f->container();
  ZepQueryData q{};
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA, &q, 0), ZEP_FAIL);
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_NUM_CONTAINER_TITLE, &q, 0), 0);
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 0), ZEP_ERR_UNSUPPORTED_QID);
  EXPECT_EQ(L1SetInfo(c, ZEP_QID_SET_TRACK_PROP, &q, 0, 0), ZEP_ERR_MENU_MODULE_NULL);
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_GET_WAIT_TIME, &q, 0), 0);
  EXPECT_EQ(q.value.i64, 50000000);
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_VIDEO_CODEC_PRIVATE_DATA_SIZE, &q, 0), 0);
  EXPECT_EQ(q.value.u32, 0u);
  char auth[] = "user:pw", back[16] = {};
  q.size = sizeof auth;
  q.value.ptr = auth;
  EXPECT_EQ(L1SetInfo(c, ZEP_QID_SET_HTTP_AUTH, &q, 0, 0), ZEP_ERR_REMOTE_FILE_UNSUPPORTED);
  q.size = sizeof back;
  q.value.ptr = back;
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_GET_HTTP_AUTH, &q, 0), 0);
  EXPECT_STREQ(back, "user:pw");
  ASSERT_EQ(L1SetTitle(c, 0), 0);
  EXPECT_EQ(f->count(ZEP_QID_TITLEDATA_VIDEOFRAMECOUNT), 2u);
  q.value.i64 = 10000000;
  ASSERT_EQ(L1GetInfo(c, ZEP_QID_TITLEDATA_VIDEO_FRAME_FROM_TIME, &q, 0), 0);
  EXPECT_EQ(q.value.u32, 25u);
  uint16_t rec[4] = {};
  q.size = sizeof rec;
  q.value.ptr = rec;
  ASSERT_EQ(L1GetInfo(c, ZEP_QID_GET_TITLE_MEDIA_PROP, &q, 0), 0);
  EXPECT_EQ(rec[0], 16);
  EXPECT_EQ(rec[1], 1);
  EXPECT_EQ(rec[2], 1);
}

TEST_F(AviStructure, CoverPictureOfAMetaSection) {
  AviFileSpec spec = basic_spec(2, 1);
  spec.cover = pattern_bytes(5, 333);
  auto f = open(spec);
  ASSERT_TRUE(f->ok());
  EXPECT_GT(f->value64(ZEP_QID_METADATA_OFFSET, 0), 0);
  EXPECT_EQ(f->read_all().size(), 4u);
}

// Sizes from the file are checked against their parent and the file before
// anything is read or allocated from them.
TEST_F(AviStructure, OversizedAndTruncatedChunks) {
  AviFileSpec spec = basic_spec(6, 2);
  spec.streams[0].name = "video";
  spec.cover = pattern_bytes(1, 64);
  const Bytes good = build_avi(spec);
  std::vector<Bytes> files;
  for (auto [id, offset, size] : {std::tuple{"strn", 4, 0xFFFFFFF0u},  // name past the file
                                  {"dpic", 4, 0xFFFFFFF0u},            // cover past the file
                                  {"00dc", 4, 0xFFFFFFFFu},   // first chunk runs past the end
                                  {"hdrl", -4, 0xFFFFFFF0u},  // hdrl past the end
                                  {"AVI ", -4, 0xFFFFFFFFu},  // RIFF size past the end
                                  {"movi", -4, 0u}}) {        // empty movi
    files.push_back(good);
    put_le32(files.back(), find_id(good, id) + offset, size);
  }
  for (size_t n = 0; n < good.size(); n += 97)
    files.push_back(Bytes(good.begin(), good.begin() + long(n)));
  for (const Bytes& file : files) {
    auto f = open(file);
    if (!f->container()) continue;
    ZEP_STATUS last = 0;
    EXPECT_LE(f->read_all(&last, 100).size(), 12u);
    EXPECT_LT(last, 0);
    int64_t t = 4 * 400000;
    f->seek(ZEP_BLOCK_VIDEO, 0, &t);
    f->value64(ZEP_QID_TITLE_DURATION, 0);
  }
}

}  // namespace
