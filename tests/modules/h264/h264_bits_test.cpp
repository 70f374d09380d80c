// Bit reader, Exp-Golomb codes, start-code scanning and unescaping.
#include <gtest/gtest.h>

#include <vector>

#include "modules/h264/h264_bitstream.h"
#include "tests/support/nal_builder.h"

namespace {

using zeptest::Bytes;

TEST(H264Bits, ReadsMostSignificantBitFirstAndZerosPastTheEnd) {
  const uint8_t data[] = {0xA5, 0x3C, 0xFF, 0x01};
  const uint8_t ones[] = {0xFF, 0xFF};  // a size of 1: the second byte must never be read
  const struct {
    const uint8_t* data;
    uint32_t size;
    uint64_t position;
    uint32_t count;
    uint64_t value;
  } cases[] = {
      {data, 4, 0, 0, 0},
      {data, 4, 0, 1, 1},
      {data, 4, 1, 3, 0x2},   // 010
      {data, 4, 4, 8, 0x53},  // 0101 0011
      {data, 4, 0, 32, 0xA53CFF01},
      {data, 4, 3, 17, (0xA53CFFull >> 4) & 0x1FFFF},
      {ones, 1, 4, 8, 0xF0},
      {ones, 1, 8, 64, 0},
      {ones, 1, 0, 64, 0xFFull << 56},
      {nullptr, 8, 0, 8, 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(zep_bits_read(c.data, c.size, c.position, c.count), c.value)
        << "bit " << c.position << ", " << c.count << " bits of " << c.size << " bytes";
  }
}

TEST(H264Bits, ExpGolombCodesAndRefusedCodes) {
  Bytes long_code(4, 0);  // 32 zeros, a 1: no 32-bit value
  long_code.push_back(0x80);
  long_code.resize(16, 0xFF);
  const struct {
    Bytes data;
    uint32_t size;
    uint64_t position, ue;
    int64_t se;
    uint32_t used;  // 0: the code is refused
  } cases[] = {
      // 1 010 011 00100 1111: ue 0, 1, 2, 3 and se 0, 1, -1, 2.
      {{0xA6, 0x4F}, 2, 0, 0, 0, 1},
      {{0xA6, 0x4F}, 2, 1, 1, 1, 3},
      {{0xA6, 0x4F}, 2, 4, 2, -1, 3},
      {{0xA6, 0x4F}, 2, 7, 3, 2, 5},
      {zeptest::BitWriter().ue(0xFFFFFFFEull).bytes(), 8, 0, 0xFFFFFFFEull, -0x7FFFFFFF, 63},
      {Bytes(64, 0), 64, 0, 0, 0, 0},  // the reader stops at 32 zeros
      {long_code, 16, 0, 0, 0, 0},
      {{0x00, 0x01, 0xFF}, 2, 0, 0, 0, 0},  // 15 zeros, a 1, then 15 bits needed
      {{0x00, 0x01, 0xFF}, 3, 0, 0, 0, 0},
  };
  for (const auto& c : cases) {
    uint32_t ue_used = 99, se_used = 99;
    EXPECT_EQ(zep_bits_read_ue(c.data.data(), c.size, c.position, &ue_used), c.ue) << c.position;
    EXPECT_EQ(zep_bits_read_se(c.data.data(), c.size, c.position, &se_used), c.se) << c.position;
    EXPECT_EQ(ue_used, c.used) << c.position;
    EXPECT_EQ(se_used, c.used) << c.position;
  }
}

TEST(H264Bits, ReaderFailsOnceAndStaysPut) {
  const uint8_t data[] = {0x5F};  // 010 11111: ue 1, then 5 bits
  ZepBitReader r;
  zep_bit_reader_init(&r, data, 1);
  EXPECT_EQ(zep_bit_reader_ue(&r), 1u);
  EXPECT_EQ(zep_bit_reader_u(&r, 4), 0xFu);
  EXPECT_EQ(r.failed, 0u);
  EXPECT_EQ(zep_bit_reader_u(&r, 2), 0u);  // one bit left: refused
  EXPECT_EQ(r.failed, 1u);
  EXPECT_EQ(r.position, 7u);
  EXPECT_EQ(zep_bit_reader_u(&r, 1), 0u);  // even one bit after a failure
  EXPECT_EQ(zep_bit_reader_se(&r), 0);
  EXPECT_EQ(r.position, 7u);
}

TEST(H264Nal, StartCodeAtTheHeadOfARange) {
  const uint8_t three[] = {0, 0, 1, 0x67}, four[] = {0, 0, 0, 1, 0x67};
  const uint8_t many_zeros[] = {0, 0, 0, 0, 0, 0, 1, 0x65}, garbage[] = {1, 0, 0, 1};
  const uint8_t zeros[] = {0, 0, 0, 0};
  const struct {
    const uint8_t* data;
    uint32_t size;
    ZEP_STATUS status;
    uint32_t offset;
  } cases[] = {
      {four, 5, ZEP_OK, 4},      {three, 4, ZEP_OK, 3},   {many_zeros, 8, ZEP_OK, 7},
      {three, 3, ZEP_OK, 3},  // nothing behind: an empty unit
      {garbage, 4, ZEP_FAIL, 0}, {zeros, 4, ZEP_FAIL, 0}, {three, 2, ZEP_FAIL, 0},
  };
  for (const auto& c : cases) {
    uint32_t offset = 0;
    ASSERT_EQ(zep_nal_find_start(c.data, c.size, &offset), c.status) << c.size;
    EXPECT_EQ(c.status == ZEP_OK ? offset : 0u, c.offset) << c.size;
  }
}

TEST(H264Nal, EndOfANalUnit) {
  std::vector<std::pair<Bytes, uint32_t>> cases = {
      {{0x65, 0x88, 0x84, 0, 0, 0, 1, 0x41}, 3},  // ends at the zeros of the next start code
      {{0x65, 0x88, 0, 0, 1, 0x41}, 2},
      {{0x65, 0, 0, 3, 1, 0x22}, 6},  // 00 00 03 is escaped data, not an end
      {{0x65, 0x11, 0x22, 0, 0}, 5},  // the last unit runs to the end, even inside 00 00
  };
  for (uint32_t at = 1; at < 8; ++at) {  // zero pairs at odd and even offsets
    Bytes b(10, 0x55);
    b[at] = b[at + 1] = 0;
    b[at + 2] = 1;
    cases.push_back({b, at});
  }
  for (const auto& [data, expected] : cases) {
    uint32_t length = 0;
    EXPECT_EQ(zep_nal_find_end(data.data(), uint32_t(data.size()), &length), ZEP_OK);
    EXPECT_EQ(length, expected) << testing::PrintToString(data);
  }
}

TEST(H264Nal, UnescapeRemovesEmulationPreventionBytes) {
  const Bytes rbsp = {0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 7, 0, 0};
  const std::pair<Bytes, Bytes> cases[] = {
      {{0x67, 0x00, 0x00, 0x03, 0x00}, {0, 0, 0}},
      {{0x67, 0x00, 0x00, 0x03, 0x03}, {0, 0, 3}},
      {{0x67, 0x12, 0x00, 0x00}, {0x12, 0, 0}},  // the last two bytes are copied as they are
      {{0x67}, {}},
      {zeptest::make_nal(3, 7, rbsp), rbsp},  // round trip through the test writer's escaping
  };
  for (const auto& [nal, expected] : cases) {
    Bytes out(nal.size());
    out.resize(zep_avc_unescape(nal.data(), uint32_t(nal.size()), out.data()));
    EXPECT_EQ(out, expected) << testing::PrintToString(nal);
  }
}

}  // namespace
