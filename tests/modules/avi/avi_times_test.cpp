// Stream headers whose scale, rate and length multiply to times beyond what
// 64 bits hold (damaged or hostile files): every time the module computes is
// held at the end of the range instead of wrapping, and the sanitizer build
// sees no overflow on the way.
#include <gtest/gtest.h>

#include <cstdint>

#include "tests/modules/avi/avi_test_util.h"

namespace {

using namespace avitest;
using zeptest::AviFileSpec;
using zeptest::AviStreamSpec;

class AviHugeTimes : public AviTest {};

TEST_F(AviHugeTimes, VideoTimesAndSyncQueriesStayInRange) {
  AviFileSpec spec = basic_spec(6, 3, false);
  spec.streams[0].scale = 0xFFFFFFFFu;
  spec.streams[0].rate = 1;
  spec.streams[0].length = 0xFFFFFFFFu;
  spec.index = AviFileSpec::kIdx1Relative;
  auto f = open(spec);
  ASSERT_TRUE(f->ok());
  EXPECT_EQ(f->value64(ZEP_QID_TITLE_DURATION, 0), INT64_MAX);
  const auto blocks = f->read_all();
  ASSERT_EQ(blocks.size(), 6u);
  for (size_t i = 1; i < blocks.size(); ++i) {
    EXPECT_GE(blocks[i].time, blocks[i - 1].time) << i;
    EXPECT_GE(blocks[i].duration, 0) << i;
  }
  ZEP_STATUS status = ZEP_OK;
  f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, INT64_MAX - 1, &status);
  f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_POINT, 5, &status);
  f->value64(ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME, INT64_MAX, &status);
}

TEST_F(AviHugeTimes, AudioOnlyDurationIsHeldAtTheEndOfTheRange) {
  AviFileSpec spec;
  AviStreamSpec audio = zeptest::audio_stream(0x55, 0xFFFFFFFFu, 1, 0, 1152);
  audio.length = 0xFFFFFFFFu;
  spec.streams.push_back(audio);
  for (int i = 0; i < 4; ++i)
    spec.chunks.push_back({0, "wb", zeptest::pattern_bytes(i, 64), true, 0});
  auto f = open(spec);
  ASSERT_TRUE(f->ok());
  EXPECT_EQ(f->value64(ZEP_QID_TITLE_DURATION, 0), INT64_MAX);
  const auto blocks = f->read_all();
  ASSERT_EQ(blocks.size(), 4u);
  for (size_t i = 1; i < blocks.size(); ++i) EXPECT_GE(blocks[i].time, blocks[i - 1].time) << i;
}

}  // namespace
