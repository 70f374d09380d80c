#include <gtest/gtest.h>

#include <set>
#include <string>

#include "layer1/zep_status.h"
#include "platform/zep_platform.h"

namespace {

TEST(StatusTable, HoldsEveryRowInStoredOrder) {
  ASSERT_EQ(zepStatusTableCount, 87u);
  std::set<uint64_t> codes;
  for (uint32_t i = 0; i < zepStatusTableCount; ++i) codes.insert(zepStatusTable[i].code);
  EXPECT_EQ(codes.size(), 87u) << "codes must be unique";
  // Ascending, except that the kill row stands before the AVC row at the end.
  const uint32_t last = zepStatusTableCount - 1;
  EXPECT_EQ(zepStatusTable[last - 1].code, 0xC0000064u);
  EXPECT_EQ(zepStatusTable[last].code, 0xC000005Eu);
  for (uint32_t i = 1; i < last - 1; ++i)
    EXPECT_LT(zepStatusTable[i - 1].code, zepStatusTable[i].code) << "row " << i;
  EXPECT_LT(zepStatusTable[last - 2].code, zepStatusTable[last].code);
  // Nothing between 0x5E and 0x64 has a row.
  for (uint64_t c = 0xC000005F; c < 0xC0000064; ++c) EXPECT_EQ(codes.count(c), 0u);
  // Every row's UTF-16 name and message match the UTF-8 helpers.
  for (uint32_t i = 0; i < zepStatusTableCount; ++i) {
    const ZepStatusEntry& row = zepStatusTable[i];
    EXPECT_EQ(zep::u16_to_utf8(row.name), zep_status_name(ZEP_STATUS(row.code)));
    EXPECT_EQ(zep::u16_to_utf8(row.message), zep_status_message(ZEP_STATUS(row.code)));
  }
}

// A stored row's texts; values without a row fall back by class.
TEST(StatusTable, StoredAndUnknownTexts) {
  EXPECT_STREQ(zep_status_name(ZEP_ERR_KILL), "ZEP_ERR_KILL");
  EXPECT_STREQ(zep_status_message(ZEP_ERR_KILL), "Kill command received.");
  EXPECT_EQ(zep_status_name(ZEP_STATUS(0xC0000044)), nullptr);  // the AVI reader's, without row
  EXPECT_STREQ(zep_status_message(ZEP_STATUS(0xC0000044)), "Unknown error.");
  EXPECT_STREQ(zep_status_message(ZEP_E_NO_SUCH_FILE), "Unknown error.");
  EXPECT_STREQ(zep_status_message(ZEP_STATUS(0x40000077)), "Unknown warning.");
  EXPECT_STREQ(zep_status_message(ZEP_OK), "Success.");
}

TEST(StatusClassification, WarningsPassFailureTests) {
  EXPECT_FALSE(ZEP_FAILED(ZEP_ERR_NO_INDEX_FOUND));
  EXPECT_TRUE(ZEP_IS_WARNING(ZEP_ERR_NO_INDEX_FOUND));
  EXPECT_TRUE(ZEP_IS_WARNING(ZEP_ERR_INVALID_MENU_VERSION));
  EXPECT_TRUE(ZEP_FAILED(ZEP_ERR_UNEXPECTED_ERROR));
  EXPECT_TRUE(ZEP_FAILED(ZEP_E_NO_MORE_BLOCKS));
  EXPECT_TRUE(ZEP_SUCCEEDED(ZEP_OK));
  EXPECT_LT(ZEP_ERR_END_OF_STREAM, 0);
}

}  // namespace
