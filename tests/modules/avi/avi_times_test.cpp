// Stream headers whose scale, rate and length multiply beyond 64 bits
// (damaged or hostile files): every time is held at the end of the range
// instead of wrapping, and the sanitizer build sees no overflow on the way.
#include <gtest/gtest.h>

#include "tests/modules/avi/avi_test_util.h"

namespace {

using namespace avitest;
using namespace zeptest;

class AviHugeTimes : public AviTest {
 protected:
  // Opens the file; the duration is INT64_MAX and block times never go back.
  std::unique_ptr<AviFile> expect_held(const AviFileSpec& spec, size_t count) {
    auto f = open(spec);
    EXPECT_TRUE(f->ok());
    EXPECT_EQ(f->value64(ZEP_QID_TITLE_DURATION, 0), INT64_MAX);
    const auto blocks = f->read_all();
    EXPECT_EQ(blocks.size(), count);
    for (size_t i = 1; i < blocks.size(); ++i) {
      EXPECT_GE(blocks[i].time, blocks[i - 1].time) << i;
      EXPECT_GE(blocks[i].duration, 0) << i;
    }
    return f;
  }
};

TEST_F(AviHugeTimes, VideoTimesAndSyncQueriesStayInRange) {
  AviFileSpec spec = basic_spec(6, 3, false);
  spec.streams[0].scale = spec.streams[0].length = 0xFFFFFFFFu;
  spec.streams[0].rate = 1;
  auto f = expect_held(spec, 6);
  ZEP_STATUS status = ZEP_OK;  // any status, no overflow
  f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_TIME, INT64_MAX - 1, &status);
  f->value64(ZEP_QID_TITLEMEDIA_NEXT_SYNC_POINT, 5, &status);
  f->value64(ZEP_QID_TITLEMEDIA_PREV_SYNC_TIME, INT64_MAX, &status);
}

TEST_F(AviHugeTimes, AudioOnlyDurationIsHeldAtTheEndOfTheRange) {
  AviFileSpec spec;
  spec.streams.push_back(audio_stream(0x55, 0xFFFFFFFFu, 1, 0, 1152));
  spec.streams[0].length = 0xFFFFFFFFu;
  for (uint32_t i = 0; i < 4; ++i) spec.chunks.push_back({0, "wb", pattern_bytes(i, 64), true, 0});
  expect_held(spec, 4);
}

}  // namespace
