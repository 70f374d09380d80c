// Whole files with a menu section, end to end through the container layer:
// every title opens with its own streams and payloads, the menu media are
// reached through the menu pages, and files whose section is not usable still
// open as one title.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "layer1/zep_module.h"
#include "modules/avi/avi_module.h"
#include "tests/modules/avi/menu_test_util.h"

namespace zeptest {
namespace {

using menu::MenuSpec;

struct TitleContent {
  std::vector<Bytes> video, audio;
  std::vector<uint32_t> videoFlags;
  std::vector<int64_t> videoTimes, audioTimes;
};

class Container {
 public:
  explicit Container(const std::string& path) {
    EXPECT_EQ(L1Start(), 0);
    const std::u16string name = zep::utf8_to_u16(path);
    status_ = L1OpenContainer(&container_, name.c_str(), nullptr);
  }
  ~Container() {
    if (container_ != nullptr) L1CloseContainer(container_);
  }
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;

  ZEP_STATUS status() const { return status_; }
  ZepContainer* get() const { return container_; }

  uint64_t scalar(uint32_t qid, uint32_t index, ZEP_STATUS* status = nullptr) const {
    ZepQueryData q{};
    const ZEP_STATUS s = L1GetInfo(container_, qid, &q, index);
    if (status != nullptr) {
      *status = s;
    } else {
      EXPECT_EQ(s, 0) << std::hex << qid;
    }
    switch (ZEP_QID_VALUE_TYPE(qid)) {
      case ZEP_QTYPE_COUNT16:
        return q.value.u16;
      case ZEP_QTYPE_VALUE32:
      case ZEP_QTYPE_SIZE32:
        return q.value.u32;
      default:
        return q.value.u64;
    }
  }

  // Reads the whole title with both streams active. A damaged file may refuse
  // any step, which only a well-formed one (strict) must not.
  TitleContent read_title(uint32_t title, bool strict = true) const {
    TitleContent content;
    const ZEP_STATUS set = L1SetTitle(container_, title);
    const ZEP_STATUS video = L1SetTitleActiveStream(container_, ZEP_BLOCK_VIDEO, 0, 1);
    const ZEP_STATUS audio = L1SetTitleActiveStream(container_, ZEP_BLOCK_AUDIO, 0, 1);
    if (strict) {
      EXPECT_EQ(set, 0);
      EXPECT_EQ(video, 0);
      EXPECT_EQ(audio, 0);
    }
    ZepBlock block;
    zep_heap_block_init(&block);
    for (int guard = 0; guard < 10000; ++guard) {
      uint32_t type = 0, stream = 0;
      const ZEP_STATUS s = L1ReadNextBlock(container_, &type, &stream, &block, 0);
      if (s != 0) {
        if (strict) {
          EXPECT_EQ(s, ZEP_ERR_END_OF_STREAM);
        }
        break;
      }
      Bytes payload(block.data, block.data + block.size);
      if (type == ZEP_BLOCK_VIDEO) {
        content.video.push_back(payload);
        content.videoFlags.push_back(block.flags);
        content.videoTimes.push_back(block.time);
      } else if (type == ZEP_BLOCK_AUDIO) {
        content.audio.push_back(payload);
        content.audioTimes.push_back(block.time);
      }
    }
    zep_heap_block_free(&block);
    return content;
  }

 private:
  ZepContainer* container_ = nullptr;
  ZEP_STATUS status_ = 0;
};

void expect_tiny_title(const TitleContent& content, uint32_t seed, uint32_t frames) {
  ASSERT_EQ(content.video.size(), frames) << "seed " << seed;
  ASSERT_EQ(content.audio.size(), frames) << "seed " << seed;
  for (uint32_t f = 0; f < frames; ++f) {
    EXPECT_EQ(content.video[f], menu::tiny_video_payload(seed, f))
        << "seed " << seed << " frame " << f;
    EXPECT_EQ(content.audio[f], menu::tiny_audio_payload(seed, f))
        << "seed " << seed << " chunk " << f;
    EXPECT_EQ(content.videoFlags[f] & ZEP_BLOCK_FLAG_KEYFRAME,
              f % 5 == 0 ? ZEP_BLOCK_FLAG_KEYFRAME : 0u);
    EXPECT_EQ(content.videoTimes[f], int64_t(f) * 1000000);
    EXPECT_EQ(content.audioTimes[f], int64_t(f) * 1000000);
  }
}

// Title seeds and frame counts of the file below; the menu media has seed 9.
const uint32_t kSeeds[] = {1, 2, 3};
const uint32_t kFrames[] = {4, 7, 5};

MenuSpec linked_pages() {
  MenuSpec spec;
  spec.chapters = {1, 2, 3};
  spec.media.resize(1);
  spec.media[0].keys = {77};
  spec.pages = {{77, u"Root"}, {5, u"Unlinked"}};
  return spec;
}

Bytes three_title_file(const MenuSpec& spec, const Bytes& tail = {}) {
  std::vector<Bytes> titles;
  for (size_t t = 0; t < 3; ++t) titles.push_back(menu::tiny_title(kSeeds[t], kFrames[t]));
  return menu::concat(
      {menu::build_menu_file(spec, titles, {menu::tiny_title(9, 3, 16, 16)}), tail});
}

TEST(MenuFile, ThreeTitlesEachWithItsStreamsAndPayloads) {
  TempDir dir;
  const std::string path = dir.write("three.avi", three_title_file(linked_pages()));
  Container c(path);
  ASSERT_EQ(c.status(), 0);
  ASSERT_EQ(c.scalar(ZEP_QID_NUM_CONTAINER_TITLE, 0), 3u);
  // Read out of order: the last title first, then the others.
  for (uint32_t t : {2u, 0u, 1u}) {
    SCOPED_TRACE("title " + std::to_string(t));
    const TitleContent content = c.read_title(t);
    expect_tiny_title(content, kSeeds[t], kFrames[t]);
    EXPECT_EQ(c.scalar(ZEP_QID_NUM_TITLEMEDIA_VIDEOMEDIA, t), 1u);
    EXPECT_EQ(c.scalar(ZEP_QID_NUM_TITLEMEDIA_AUDIOMEDIA, t), 1u);
    EXPECT_EQ(c.scalar(ZEP_QID_TITLE_DURATION, t), uint64_t(kFrames[t]) * 1000000);
    // Queries the module passes to the menu reader.
    EXPECT_EQ(c.scalar(ZEP_QID_CHAPTERS_CHAPTER_COUNT, t), t + 1);
  }
  EXPECT_EQ(L1SetTitle(c.get(), 3), ZEP_FAIL);
}

TEST(MenuFile, MenuMediaThroughThePagesAndTheAuxOperations) {
  TempDir dir;
  const Bytes file = three_title_file(linked_pages());
  const std::string path = dir.write("menu.avi", file);
  const uint64_t media_position = file.size() - menu::tiny_title(9, 3, 16, 16).size();
  Container c(path);
  ASSERT_EQ(c.status(), 0);
  EXPECT_EQ(c.scalar(ZEP_QID_MENUMEDIA_OFFSET, 0), media_position);
  EXPECT_EQ(c.scalar(ZEP_QID_MENUMEDIA_OFFSET, 1), 0u);
  EXPECT_EQ(c.scalar(ZEP_QID_MENUMEDIA_OFFSET, 0), media_position);
  EXPECT_EQ(c.scalar(ZEP_QID_MENUMEDIA_OFFSET, 9), media_position);  // beyond: page 0 again

  // The menu media set through the module's own Aux operations.
  const ZepModuleOps* ops = zepAviModule.ops;
  ZepModuleHandle handle = nullptr;
  const std::u16string name = zep::utf8_to_u16(path);
  ASSERT_EQ(ops->OpenContainer(&handle, name.c_str(), nullptr), 0);
  ASSERT_GE(ops->AuxSetTitle(handle, 0), 0);
  ASSERT_EQ(ops->AuxSetActiveStream(handle, ZEP_BLOCK_VIDEO, 0, 1), 0);
  ZepBlock block;
  zep_heap_block_init(&block);
  std::vector<Bytes> video;
  for (int guard = 0; guard < 100; ++guard) {
    uint32_t type = 0, stream = 0;
    if (ops->AuxReadNextBlock(handle, &type, &stream, &block, 0) != 0) break;
    if (type == ZEP_BLOCK_VIDEO) video.emplace_back(block.data, block.data + block.size);
  }
  zep_heap_block_free(&block);
  ASSERT_EQ(video.size(), 3u);
  for (uint32_t f = 0; f < 3; ++f) EXPECT_EQ(video[f], menu::tiny_video_payload(9, f));
  // Page 1 has no linked media: nothing is loaded in place of it.
  EXPECT_EQ(ops->AuxSetTitle(handle, 1), ZEP_ERR_SCAN_RIFF_FAILURE);
  EXPECT_EQ(ops->CloseContainer(handle), 0);
}

TEST(MenuFile, CoverPictureSectionAndMetadataOffset) {
  TempDir dir;
  const Bytes meta = menu::riff_meta(Bytes{0x89, 'P', 'N', 'G', 1, 2});
  const Bytes file = three_title_file(linked_pages(), meta);
  Container with(dir.write("meta.avi", file));
  ASSERT_EQ(with.status(), 0);
  EXPECT_EQ(with.scalar(ZEP_QID_METADATA_OFFSET, 0), file.size() - meta.size());
  EXPECT_EQ(with.scalar(ZEP_QID_METADATA_OFFSET, 0), file.size() - meta.size());

  Container without(dir.write("plain.avi", three_title_file(linked_pages())));
  ASSERT_EQ(without.status(), 0);
  EXPECT_EQ(without.scalar(ZEP_QID_METADATA_OFFSET, 0), 0u);
}

TEST(MenuFile, OnlyVersionTwoOpensAsOneTitle) {
  MenuSpec spec = linked_pages();
  std::vector<Bytes> titles = {menu::tiny_title(1, 4), menu::tiny_title(2, 3)};
  Bytes file = menu::build_menu_file(spec, titles, {});
  // Turn the only MENU chunk into version 2: its version sits 19 bytes into
  // the chunk, which follows the RIFF MENU and LIST ZPNU headers.
  const size_t version_at = titles[0].size() + 12 + 12 + 19;
  ASSERT_EQ(file[version_at], 1);
  file[version_at] = 2;
  TempDir dir;
  Container c(dir.write("v2.avi", file));
  EXPECT_EQ(c.status(), ZEP_ERR_INVALID_MENU_VERSION);
  ASSERT_NE(c.get(), nullptr);
  EXPECT_EQ(c.scalar(ZEP_QID_NUM_CONTAINER_TITLE, 0), 1u);
  expect_tiny_title(c.read_title(0), 1, 4);
}

TEST(MenuFile, DamagedSectionsGiveAStatusNeverACrash) {
  const Bytes file = three_title_file(linked_pages());
  const size_t menu_at = menu::tiny_title(kSeeds[0], kFrames[0]).size();
  TempDir dir;
  uint32_t seed = 99;
  for (int round = 0; round < 60; ++round) {
    Bytes damaged = file;
    if (round < 20) {
      damaged.resize(menu_at + size_t(round) * 23);  // cut inside or after the section
    } else {
      for (int flips = 0; flips < 4; ++flips) {
        seed = seed * 1103515245u + 12345u;
        damaged[menu_at + (seed >> 8) % 700] = uint8_t(seed >> 24);
      }
    }
    Container c(dir.write("damaged.avi", damaged));
    if (ZEP_FAILED(c.status())) continue;
    ZEP_STATUS s = 0;
    const uint64_t titles = c.scalar(ZEP_QID_NUM_CONTAINER_TITLE, 0, &s);
    for (uint32_t t = 0; t < titles && t < 4; ++t) {
      c.read_title(t, false);
    }
  }
}

}  // namespace
}  // namespace zeptest
