#include <gtest/gtest.h>

#include "layer1/zep_qid.h"

namespace {

std::string name_of(uint32_t qid) { return zep::u16_to_utf8(zep_qid_name(qid)); }

TEST(QidNames, KnownValuesGiveTheirNamesOthersTheirDecimalText) {
  EXPECT_EQ(name_of(0x801305), "ZEP_QID_GET_CONTAINER_TYPE");
  EXPECT_EQ(name_of(ZEP_QID_INTERLEAVER_HANDLE), "ZEP_QID_INTERLEAVER_HANDLE");
  EXPECT_EQ(name_of(0xE1001B), "ZEP_QID_MASTERTRACK");
  EXPECT_EQ(name_of(0x100003), "ZEP_QID_NUM_CONTAINER_TITLE");
  EXPECT_EQ(name_of(5), "5");
  EXPECT_EQ(name_of(0x801306), std::to_string(0x801306));
  // One shared buffer: the next lookup overwrites it.
  const zep_wchar_t* first = zep_qid_name(7);
  zep_qid_name(12);
  EXPECT_EQ(zep::u16_to_utf8(first), "12");
}

TEST(QidNames, ListHas236AscendingEntriesWhoseTypesMatchTheirNames) {
  ASSERT_EQ(zep_qid_count(), 236u);
  uint32_t previous = 0;
  for (uint32_t i = 0; i < zep_qid_count(); ++i) {
    const zep_wchar_t* name = nullptr;
    uint32_t value = zep_qid_at(i, &name);
    EXPECT_GT(value, previous);
    previous = value;
    EXPECT_EQ(zep_qid_name(value), name);
    EXPECT_LT(value, 1u << 24);
  }
  EXPECT_EQ(ZEP_QID_VALUE_TYPE(ZEP_QID_VID_STREAM_FORMAT), ZEP_QTYPE_BUFFER);
  EXPECT_EQ(ZEP_QID_MEDIA_KIND(ZEP_QID_VID_STREAM_FORMAT), 1u);
  EXPECT_EQ(ZEP_QID_MEDIA_KIND(ZEP_QID_AUD_STREAM_FORMAT), 2u);
  EXPECT_EQ(ZEP_QID_VALUE_TYPE(ZEP_QID_TITLE_DURATION), ZEP_QTYPE_TIME64);
}

// The field offsets the modules write at, beyond the sizes zep_qid.h fixes.
static_assert(offsetof(ZepQueryData, value) == 8 &&
              offsetof(ZepAudioStreamFormat, sampleRate) == 8);
static_assert(offsetof(ZepVideoStreamFormat, compression) == 24 &&
              offsetof(ZepVideoStreamFormat, displayHeight) == 44);
static_assert(offsetof(ZepAudioStreamFormat, extraSize) == 22 &&
              offsetof(ZepSubtitleStreamFormat, compression) == 24);
static_assert(offsetof(ZepAudioMediaProp, language) == 8 &&
              offsetof(ZepAudioMediaProp, text2) == 16);
static_assert(offsetof(ZepSubtitleMediaProp, language) == 4 &&
              offsetof(ZepSubtitleMediaProp, text2) == 12);

}  // namespace
