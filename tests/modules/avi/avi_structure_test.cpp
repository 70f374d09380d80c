// File structure: probe, open, stream limits, INFO, cover, queries, damaged headers.
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
    return zepAviModule.ops->ProbeContainer(score, zep::utf8_to_u16(name).c_str(), nullptr);
  }
  static ZEP_STATUS open_module(const std::string& path) {
    ZepModuleHandle h = nullptr;
    ZEP_STATUS s = zepAviModule.ops->OpenContainer(&h, zep::utf8_to_u16(path).c_str(), nullptr);
    if (h) zepAviModule.ops->CloseContainer(h);
    return s;
  }
};

// By content when the file is there, else by extension (case, trailing blanks).
TEST_F(AviStructure, ProbeAndOpenFailures) {
  const std::string d = dir_.path() + "/";
  for (auto [name, expected] : {std::pair{dir_.write("a.mkv", build_avi(basic_spec(2, 1))), 100u},
                                {dir_.write("b.avi", std::string("RIFF\0\0\0\0WAVEfmt ", 16)), 0u},
                                {d + "missing.avi  ", 100u},
                                {d + "missing.AVI", 100u},
                                {d + "missing.qsub", 100u},
                                {d + "missing.Avi", 0u},
                                {d + "missing", 0u}}) {
    uint32_t s = 7;
    EXPECT_EQ(std::pair(probe(name, &s), s), std::pair(0, expected)) << name;
  }
  uint32_t score = 0;
  EXPECT_EQ(probe(dir_.write("c.avi", std::string("RIFF")), &score), ZEP_FAIL);
  EXPECT_EQ(zepAviModule.ops->ProbeContainer(nullptr, u"x.avi", nullptr), ZEP_FAIL);
  EXPECT_EQ(open_module(d + "none.avi"), ZEP_E_CANNOT_OPEN);
  EXPECT_EQ(open_module("http://host/file.avi"), ZEP_ERR_REMOTE_FILE_UNSUPPORTED);
  EXPECT_EQ(open_module(dir_.write("w.avi", std::string("RIFF\4\0\0\0WAVE", 12))),
            ZEP_ERR_INVALID_FILE);
  EXPECT_EQ(open_module(dir_.write("s.avi", std::string("RIF"))), ZEP_ERR_FILE_CORRUPT);
  ZepModuleHandle h = nullptr;
  EXPECT_EQ((std::vector{zepAviModule.ops->OpenContainer(&h, nullptr, nullptr),
                         zepAviModule.ops->SetMenu(nullptr, 0),
                         zepAviModule.ops->CloseContainer(nullptr)}),
            std::vector(3, ZEP_E_NULL_ARG));
}

// The first of two video and eight of nine audio streams; "03wb" and "wb03" name stream 3.
TEST_F(AviStructure, NineAudioAndTwoVideoStreams) {
  AviFileSpec spec = basic_spec(0, 1, false);
  spec.streams.push_back(spec.streams[0]);
  for (int i = 0; i < 9; ++i) {
    spec.streams.push_back(audio_stream(1, 1, 8000, 1, 4, 8000));
    spec.streams.back().name = "audio " + std::to_string(i);
  }
  for (uint32_t s = 0; s < 11; ++s)
    spec.chunks.push_back({s, s < 2 ? "dc" : "wb", pattern_bytes(s, 16 + s), true, 0});
  for (uint32_t tag : {99u, 98u}) spec.chunks.push_back({3, "wb", pattern_bytes(tag, 8), true, 0});
  Bytes file = build_avi(spec);
  size_t last = 0;  // the last "03wb" in the file becomes "wb03"
  for (size_t at = find_id(file, "03wb"); at; at = find_id(file, "03wb", at + 1)) last = at;
  std::memcpy(&file[last], "wb03", 4);
  auto f = open(file);
  ASSERT_TRUE(f->ok());
  std::vector<uint32_t> counts;
  for (uint32_t qid : {ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA, ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA,
                       ZEP_QID_TOTAL_NUM_TITLEMEDIA_VIDEOMEDIA,
                       ZEP_QID_TOTAL_NUM_TITLEMEDIA_AUDIOMEDIA, ZEP_QID_NUM_TITLE_STREAMS})
    counts.push_back(f->count(qid));
  for (uint32_t i : {7, 8})
    counts.push_back(f->count(ZEP_QID_TITLEMEDIA_AUD_ABSOLUTE_TRACK_NUM, i));
  EXPECT_EQ(counts, (std::vector{1u, 8u, 2u, 9u, 9u, 9u, ~0u}));
  auto blocks = f->read_all();
  ASSERT_EQ(blocks.size(), 1u + 8u + 2u);
  EXPECT_EQ(blocks[0].data, spec.chunks[0].data);
  for (uint32_t i = 0; i < 10; ++i)
    EXPECT_EQ(std::pair(blocks[1 + i].stream, blocks[1 + i].data),
              std::pair(i < 8 ? i : 1u, spec.chunks[i < 8 ? 2 + i : 3 + i].data));
  ZepAudioMediaProp prop{};
  ASSERT_EQ(f->into(ZEP_QID_GET_AUDIO_MEDIA_PROP, 2, &prop, sizeof prop), 0);
  EXPECT_EQ(zep::u16_to_utf8(prop.name), "audio 2");
  EXPECT_EQ(f->into(ZEP_QID_GET_AUDIO_MEDIA_PROP, 8, &prop, sizeof prop),
            ZEP_ERR_INDEX_OUT_OF_RANGE);
}

// INFO texts up to 255 bytes are kept, longer ones dropped; INPN has a pad byte.
TEST_F(AviStructure, InfoTextsOf255AndOf256Bytes) {
  AviFileSpec spec = basic_spec(2, 1);
  spec.info = {{"ISFT", Bytes(255, 'a')}, {"INFV", Bytes(256, 'b')}, {"INPN", {'p', 'r', 'o'}}};
  auto f = open(spec);
  ASSERT_TRUE(f->ok());
  for (auto [qid, expected] : {std::pair{ZEP_QID_GET_TOOL_VERSION, std::string(255, 'a')},
                               {ZEP_QID_GET_FORMAT_VERSION, "(null)"},
                               {ZEP_QID_PROFILE_NAME, "pro"}})
    EXPECT_EQ(f->text(qid), expected) << qid;
}

// idx1 before movi; a text stream counted; no strh, strn as strh, no strf, hdrl, strl.
TEST_F(AviStructure, HeaderErrors) {
  AviFileSpec before = basic_spec(3, 1);
  before.idx1BeforeMovi = true;
  EXPECT_EQ(open(before)->title_status(), ZEP_ERR_MOVI_NOT_FOUND);
  AviFileSpec other = basic_spec(0, 1, false);
  other.streams.insert(other.streams.begin(), AviStreamSpec{.kind = AviStreamSpec::kOther});
  other.chunks.push_back({1, "dc", mpeg4_frame(true, 1), true, 0});
  auto b = open(other);
  ASSERT_TRUE(b->ok()) << std::hex << b->title_status();
  EXPECT_EQ(b->count(ZEP_QID_TITLEMEDIA_VID_ABSOLUTE_TRACK_NUM, 0), 1u);
  EXPECT_EQ(b->read_all().size(), 1u);
  AviFileSpec named = basic_spec(2, 1);
  named.streams[0].name = "vids";  // a strn whose data reads like a strh of video
  const Bytes good = build_avi(named);
  for (auto [from, to, all, expected] : {std::tuple{"strh", "JUNK", false, ZEP_ERR_STRH_NOT_FOUND},
                                         {"strn", "strh", false, ZEP_ERR_DUPLICATE_STRH_FOUND},
                                         {"strf", "JUNK", false, ZEP_ERR_STRF_NOT_FOUND_UNNAMED},
                                         {"hdrl", "hdrX", false, ZEP_ERR_HDRL_NOT_FOUND},
                                         {"strl", "strX", true, ZEP_ERR_STRL_NOT_FOUND}}) {
    Bytes file = good;
    for (size_t at = find_id(file, from); at; at = all ? find_id(file, from, at) : 0)
      std::memcpy(&file[at], to, 4);
    EXPECT_EQ(open(file)->title_status(), expected) << from << " -> " << to;
  }
}

// A second hdrl without strl fails the title after the first one found video:
// sync queries and reads then answer a status instead of using an index that was never made.
TEST_F(AviStructure, SecondHdrlWithoutStreamsFailsTheTitleSafely) {
  Bytes file = build_avi(basic_spec(3, 1, false));
  const size_t movi = find_id(file, "movi") - 8;
  RiffWriter hdrl;
  hdrl.begin_list("LIST", "hdrl").chunk("avih", Bytes(56, 0)).end_list();
  file.insert(file.begin() + long(movi), hdrl.data().begin(), hdrl.data().end());
  put_le32(file, 4, uint32_t(file.size() - 8));
  auto f = open(file);
  EXPECT_EQ(f->title_status(), ZEP_ERR_STRL_NOT_FOUND);
  for (uint32_t qid : {ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME,
                       ZEP_QID_TITLEMEDIA_NEXT_SYNC_POINT}) {
    ZEP_STATUS status = ZEP_OK;
    f->value64(qid, 10000000, &status);
    EXPECT_LT(status, 0) << std::hex << qid;
  }
  Block block;
  EXPECT_LT(f->read(&block), 0);
}

// Queries around the title; WAVEFORMAT without cbSize, with 30 (size only) or 4 extra bytes.
TEST_F(AviStructure, QueriesBeforeAndAfterTheTitle) {
  AviFileSpec spec = basic_spec(2, 1);
  for (int i = 0; i < 2; ++i) spec.streams.push_back(spec.streams[1]);
  spec.streams[1].shortWave = true;
  spec.streams[2].waveExtra = pattern_bytes(1, 30);
  spec.streams[3].waveExtra = {1, 2, 3, 4};
  AviFile f(dir_.write("q.avi", build_avi(spec)), false);
  ASSERT_GE(f.open_status(), 0);
  ZepContainer* c = f.container();
  ZepQueryData q{};
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA, &q, 0), ZEP_FAIL);
  EXPECT_EQ(L1GetInfo(c, ZEP_QID_CHAPTERS_CHAPTER_COUNT, &q, 0), ZEP_ERR_UNSUPPORTED_QID);
  EXPECT_EQ(L1SetInfo(c, ZEP_QID_SET_TRACK_PROP, &q, 0, 0), ZEP_ERR_MENU_MODULE_NULL);
  char auth[] = "user:pw", back[16] = {};
  q = {.size = sizeof auth, .value = {.ptr = auth}};
  EXPECT_EQ(L1SetInfo(c, ZEP_QID_SET_HTTP_AUTH, &q, 0, 0), ZEP_ERR_REMOTE_FILE_UNSUPPORTED);
  EXPECT_EQ(f.into(ZEP_QID_GET_HTTP_AUTH, 0, back, sizeof back), 0);
  EXPECT_STREQ(back, "user:pw");
  EXPECT_EQ(f.count(ZEP_QID_NUM_CONTAINER_TITLE), 1u);
  EXPECT_EQ((std::vector{L1SetTitle(c, 0), L1SetTitle(c, 0), L1SetTitle(c, 1)}),
            (std::vector{0, 0, ZEP_FAIL}));
  EXPECT_EQ(f.value64(ZEP_QID_TITLEMEDIA_FILE_OFFSET, 0), 0);
  ZepVideoStreamFormat v{};
  ASSERT_EQ(f.into(ZEP_QID_VID_STREAM_FORMAT, 0, &v, sizeof v), 0);
  EXPECT_EQ(std::tuple(v.width, v.height, v.rate, v.scale), std::tuple(160u, 120u, 25u, 1u));
  ZepAudioStreamFormat a{};
  EXPECT_EQ(f.into(ZEP_QID_AUD_STREAM_FORMAT, 0, &a, 10), ZEP_ERR_BUFFER_TOO_SMALL);
  EXPECT_EQ(f.into(ZEP_QID_AUD_STREAM_FORMAT, 3, &a, sizeof a), ZEP_ERR_INDEX_OUT_OF_RANGE);
  for (uint32_t i = 0; i < 3; ++i) {
    ASSERT_EQ(f.into(ZEP_QID_AUD_STREAM_FORMAT, i, &a, sizeof a), 0);
    EXPECT_EQ(std::pair(a.extraSize, Bytes(a.extra, a.extra + 4)),
              std::pair(uint16_t(Bytes{0, 30, 4}[i]), i == 2 ? Bytes{1, 2, 3, 4} : Bytes(4, 0)));
  }
  EXPECT_EQ(f.count(ZEP_QID_TITLEDATA_VIDEOFRAMECOUNT), 2u);
  EXPECT_EQ(f.value64(ZEP_QID_TITLEDATA_VIDEO_FRAME_FROM_TIME, 10000000) & 0xFFFFFFFF, 25);
  uint16_t rec[4] = {};
  ASSERT_EQ(f.into(ZEP_QID_GET_TITLE_MEDIA_PROP, 0, rec, sizeof rec), 0);
  EXPECT_EQ(std::vector<uint16_t>(rec, rec + 3), (std::vector<uint16_t>{16, 1, 3}));
}

// Sizes are checked against parent and file before use; a cover section is found.
TEST_F(AviStructure, CoverAndOversizedOrTruncatedChunks) {
  AviFileSpec spec = basic_spec(6, 2);
  spec.streams[0].name = "video";
  spec.cover = pattern_bytes(1, 64);
  const Bytes good = build_avi(spec);
  auto cover = open(good);
  ASSERT_TRUE(cover->ok());
  EXPECT_GT(cover->value64(ZEP_QID_METADATA_OFFSET, 0), 0);
  EXPECT_EQ(cover->read_all().size(), 12u);
  std::vector<Bytes> files;
  // Name, cover, first chunk, hdrl and RIFF past the end of the file; an empty movi.
  for (auto [id, offset, size] : {std::tuple{"strn", 4, 0xFFFFFFF0u},
                                  {"dpic", 4, 0xFFFFFFF0u},
                                  {"00dc", 4, 0xFFFFFFFFu},
                                  {"hdrl", -4, 0xFFFFFFF0u},
                                  {"AVI ", -4, 0xFFFFFFFFu},
                                  {"movi", -4, 0u}}) {
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
