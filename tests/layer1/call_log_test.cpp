#include <gtest/gtest.h>
#include <unistd.h>
#include <zlib.h>

#include <filesystem>
#include <string>

#include "layer1/zep_call_log.h"
#include "tests/layer1/fake_modules.h"
#include "tests/support/byte_writer.h"

namespace {

// Runs each case in a scratch directory, since the log lives in the current one.
class CallLog : public ::testing::Test {
 protected:
  void SetUp() override {
    fake::reset();
    ASSERT_EQ(fake::register_modules({&fake::kModuleA}), ZEP_OK);
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  // Opens a container, reads one block, seeks, asks a query, calls an empty
  // slot and closes.
  void run_session() {
    ZepContainer* c = nullptr;
    ASSERT_EQ(L1OpenContainer(&c, u"clip.aaa", nullptr), ZEP_OK);
    ZepBlock block;
    zep_heap_block_init(&block);
    uint32_t type = 0, stream = 0;
    ASSERT_EQ(L1ReadNextBlock(c, &type, &stream, &block, 0), ZEP_OK);
    int64_t time = 15000000;
    L1SetPosition(c, ZEP_BLOCK_AUDIO, 2, &time);
    ZepQueryData q = {};
    L1GetInfo(c, ZEP_QID_TITLE_DURATION, &q, 1);
    EXPECT_EQ(L1ReadNextBlockByStream(c, 2, 0, &block), ZEP_ERR_NULL_MODULE_FUNC);
    L1CloseContainer(c);
    zep_heap_block_free(&block);
  }

  // The log as UTF-8 text, after checking its byte order mark.
  std::string log_text() {
    auto bytes = zeptest::read_file("L1log.txt");
    EXPECT_GE(bytes.size(), 2u);
    if (bytes.size() < 2) return {};
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(bytes.size() % 2, 0u);
    std::u16string units;
    for (size_t i = 2; i + 1 < bytes.size(); i += 2)
      units.push_back(char16_t(bytes[i] | (bytes[i + 1] << 8)));
    return zep::u16_to_utf8(units);
  }

  zeptest::TempDir dir_;
  std::filesystem::path previous_;
};

TEST_F(CallLog, WithoutAFileNothingIsCreated) {
  run_session();
  EXPECT_FALSE(std::filesystem::exists("L1log.txt"));
}

TEST_F(CallLog, PresentFileReceivesTheTraceInUtf16AndEmptySlotsLeaveNoRecord) {
  dir_.write("L1log.txt", std::string_view("old content that must go"));
  run_session();
  std::string text = log_text();
  ASSERT_EQ(text.rfind("OpenContainer:\nFile: clip.aaa\n\n", 0), 0u) << text;
  EXPECT_EQ(text.find("old content"), std::string::npos);

  const uint8_t bytes[] = {0xCA, 0xFE, 0xBA, 0xBE};
  int32_t crc = int32_t(uint32_t(crc32(0L, bytes, 4)));
  ASSERT_LT(crc, 0) << "the case must cover a CRC with its top bit set";
  std::string read =
      "ReadNextBlock Entry:\n\nReadNextBlock Exit:\n*pBlockType: 2\n*pnStream: 0\n"
      "Block Data CRC: " +
      std::to_string(crc) + "\nBlock Time: 400000\nNorvError: 0\n\n";
  EXPECT_NE(text.find(read), std::string::npos) << text;
  EXPECT_NE(text.find("SetPosition Entry:\nblockType: 1\nnStream: 2\nTime: 15000000\n\n"
                      "SetPosition Exit:\nTime: 10000000\nNorvError: 0\n\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("GetInfo Entry:\nQID: ZEP_QID_TITLE_DURATION\nIndex: 1\n\n"
                      "GetInfo Exit:\nNorvError: " +
                      std::to_string(int32_t(ZEP_ERR_INVALID_QUERY_ID)) + "\n\n"),
            std::string::npos)
      << text;
  EXPECT_EQ(text.find("ReadNextBlockByStream"), std::string::npos) << text;
  EXPECT_TRUE(text.ends_with("CloseContainer Entry:\n\nCloseContainer Exit:\nNorvError: 0\n\n"))
      << text;
}

TEST(CallLogWriter, ArgumentChecks) {
  EXPECT_EQ(zep_log_open(u"does-not-exist/L1log.txt", 1, 0, nullptr), ZEP_E_NULL_ARG);
  ZepLog* log = nullptr;
  EXPECT_EQ(zep_log_open(u"does-not-exist/L1log.txt", 1, 0, &log), ZEP_E_NO_SUCH_FILE);
  ASSERT_NE(log, nullptr);  // stored, without a file
  EXPECT_EQ(zep_log_write(log, u"x %d", 1), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_log_write(nullptr, u"x"), ZEP_E_NULL_ARG);
  EXPECT_EQ(zep_log_close(&log), ZEP_OK);
  EXPECT_EQ(log, nullptr);
  EXPECT_EQ(zep_log_close(&log), ZEP_E_NULL_ARG);
  EXPECT_FALSE(std::filesystem::exists("does-not-exist"));
}

TEST(CallLogWriter, AppendKeepsContentAndWritesNoSecondMark) {
  zeptest::TempDir dir;
  std::string path = dir.write("log.txt", std::string_view("AB"));
  std::u16string name = zep::utf8_to_u16(path);
  ZepLog* log = nullptr;
  ASSERT_EQ(zep_log_open(name.c_str(), 1, 1, &log), ZEP_OK);
  ASSERT_EQ(zep_log_write(log, u"%s=%lld", u"t\u00e9", -5ll), ZEP_OK);
  zep_log_close(&log);
  auto bytes = zeptest::read_file(path);
  zeptest::Bytes expected = {'A', 'B', 't', 0, 0xE9, 0, '=', 0, '-', 0, '5', 0, '\n', 0};
  EXPECT_EQ(bytes, expected);
}

}  // namespace
