// Bit reader, Exp-Golomb codes, start-code scanning and unescaping.
#include <gtest/gtest.h>

#include <vector>

#include "modules/h264/h264_bitstream.h"
#include "tests/support/nal_builder.h"

namespace {

using zeptest::BitWriter;
using zeptest::Bytes;

TEST(H264Bits, ReadsMostSignificantBitFirstAcrossBytes) {
  const uint8_t data[] = {0xA5, 0x3C, 0xFF, 0x01};
  EXPECT_EQ(zep_bits_read(data, 4, 0, 0), 0u);
  EXPECT_EQ(zep_bits_read(data, 4, 0, 1), 1u);
  EXPECT_EQ(zep_bits_read(data, 4, 1, 3), 0x2u);   // 010
  EXPECT_EQ(zep_bits_read(data, 4, 4, 8), 0x53u);  // 0101 0011
  EXPECT_EQ(zep_bits_read(data, 4, 0, 32), 0xA53CFF01u);
  EXPECT_EQ(zep_bits_read(data, 4, 3, 17), (0xA53CFFull >> 4) & 0x1FFFF);
}

TEST(H264Bits, BitsPastTheEndReadAsZeroWithoutTouchingMemory) {
  // Only the first byte is in range; the second must never be read.
  const uint8_t data[] = {0xFF, 0xFF};
  EXPECT_EQ(zep_bits_read(data, 1, 4, 8), 0xF0u);
  EXPECT_EQ(zep_bits_read(data, 1, 8, 64), 0u);
  EXPECT_EQ(zep_bits_read(data, 1, 0, 64), 0xFFull << 56);
  EXPECT_EQ(zep_bits_read(nullptr, 8, 0, 8), 0u);
}

TEST(H264Bits, ExpGolombCodesOfTheStandard) {
  // 1, 010, 011, 00100: ue 0, 1, 2, 3 and se 0, 1, -1, 2.
  BitWriter w;
  w.u(1, 1).u(3, 2).u(3, 3).u(5, 4).u(4, 0xF);
  const Bytes& b = w.bytes();
  const uint32_t size = uint32_t(b.size());
  const uint64_t positions[] = {0, 1, 4, 7};
  const uint64_t ue[] = {0, 1, 2, 3};
  const int64_t se[] = {0, 1, -1, 2};
  const uint32_t lengths[] = {1, 3, 3, 5};
  for (int i = 0; i < 4; ++i) {
    uint32_t used = 99;
    EXPECT_EQ(zep_bits_read_ue(b.data(), size, positions[i], &used), ue[i]) << i;
    EXPECT_EQ(used, lengths[i]) << i;
    EXPECT_EQ(zep_bits_read_se(b.data(), size, positions[i], &used), se[i]) << i;
    EXPECT_EQ(used, lengths[i]) << i;
  }
}

TEST(H264Bits, LargestUeValueAndLongerCodesRefused) {
  BitWriter w;
  w.ue(0xFFFFFFFEull);  // 31 leading zeros: the largest 32-bit code
  uint32_t used = 0;
  EXPECT_EQ(zep_bits_read_ue(w.bytes().data(), uint32_t(w.bytes().size()), 0, &used),
            0xFFFFFFFEull);
  EXPECT_EQ(used, 63u);

  // 32 zero bits and more: no valid code; the reader stops at 32 zeros even
  // when the buffer goes on.
  const std::vector<uint8_t> zeros(64, 0);
  used = 7;
  EXPECT_EQ(zep_bits_read_ue(zeros.data(), uint32_t(zeros.size()), 0, &used), 0u);
  EXPECT_EQ(used, 0u);
  Bytes long_code(4, 0);
  long_code.push_back(0x80);
  long_code.resize(16, 0xFF);
  EXPECT_EQ(zep_bits_read_ue(long_code.data(), uint32_t(long_code.size()), 0, &used), 0u);
  EXPECT_EQ(used, 0u);
}

TEST(H264Bits, UeCodeCutByTheEndOfTheBufferIsRefused) {
  const uint8_t data[] = {0x00, 0x01, 0xFF};  // 15 zeros, a 1, then 15 more bits needed
  uint32_t used = 5;
  EXPECT_EQ(zep_bits_read_ue(data, 2, 0, &used), 0u);
  EXPECT_EQ(used, 0u);
  EXPECT_EQ(zep_bits_read_ue(data, 3, 0, &used), 0u);
  EXPECT_EQ(used, 0u);
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
  uint32_t offset = 0;
  const uint8_t four[] = {0, 0, 0, 1, 0x67};
  ASSERT_EQ(zep_nal_find_start(four, 5, &offset), ZEP_OK);
  EXPECT_EQ(offset, 4u);
  const uint8_t three[] = {0, 0, 1, 0x67};
  ASSERT_EQ(zep_nal_find_start(three, 4, &offset), ZEP_OK);
  EXPECT_EQ(offset, 3u);
  const uint8_t many_zeros[] = {0, 0, 0, 0, 0, 0, 1, 0x65};
  ASSERT_EQ(zep_nal_find_start(many_zeros, 8, &offset), ZEP_OK);
  EXPECT_EQ(offset, 7u);

  const uint8_t garbage[] = {1, 0, 0, 1};
  EXPECT_EQ(zep_nal_find_start(garbage, 4, &offset), ZEP_FAIL);
  const uint8_t only_zeros[] = {0, 0, 0, 0};
  EXPECT_EQ(zep_nal_find_start(only_zeros, 4, &offset), ZEP_FAIL);
  EXPECT_EQ(zep_nal_find_start(three, 2, &offset), ZEP_FAIL);
  // 00 00 01 with nothing behind it: an empty unit at offset 3.
  ASSERT_EQ(zep_nal_find_start(three, 3, &offset), ZEP_OK);
  EXPECT_EQ(offset, 3u);
}

TEST(H264Nal, EndOfANalUnit) {
  uint32_t length = 0;
  // A unit followed by 00 00 00 01: it ends at the first of the zero bytes.
  const uint8_t next_four[] = {0x65, 0x88, 0x84, 0, 0, 0, 1, 0x41};
  EXPECT_EQ(zep_nal_find_end(next_four, 8, &length), ZEP_OK);
  EXPECT_EQ(length, 3u);
  const uint8_t next_three[] = {0x65, 0x88, 0, 0, 1, 0x41};
  zep_nal_find_end(next_three, 6, &length);
  EXPECT_EQ(length, 2u);
  // 00 00 03 is an escaped sequence inside the unit, not an end.
  const uint8_t escaped[] = {0x65, 0, 0, 3, 1, 0x22};
  zep_nal_find_end(escaped, 6, &length);
  EXPECT_EQ(length, 6u);
  // The last unit of a range runs to its end; so does one cut inside 00 00.
  const uint8_t last[] = {0x65, 0x11, 0x22, 0, 0};
  zep_nal_find_end(last, 5, &length);
  EXPECT_EQ(length, 5u);
  // Every zero pair position is found, at odd and even offsets.
  for (uint32_t at = 1; at < 8; ++at) {
    Bytes b(10, 0x55);
    b[at] = 0;
    b[at + 1] = 0;
    b[at + 2] = 1;
    zep_nal_find_end(b.data(), 10, &length);
    EXPECT_EQ(length, at) << at;
  }
}

TEST(H264Nal, UnescapeRemovesEmulationPreventionBytes) {
  uint8_t out[16];
  const uint8_t a[] = {0x67, 0x00, 0x00, 0x03, 0x00};
  ASSERT_EQ(zep_avc_unescape(a, 5, out), 3u);
  EXPECT_EQ(Bytes(out, out + 3), (Bytes{0, 0, 0}));
  const uint8_t b[] = {0x67, 0x00, 0x00, 0x03, 0x03};
  ASSERT_EQ(zep_avc_unescape(b, 5, out), 3u);
  EXPECT_EQ(Bytes(out, out + 3), (Bytes{0, 0, 3}));
  // The last one or two bytes are copied as they are.
  const uint8_t c[] = {0x67, 0x12, 0x00, 0x00};
  ASSERT_EQ(zep_avc_unescape(c, 4, out), 3u);
  EXPECT_EQ(Bytes(out, out + 3), (Bytes{0x12, 0, 0}));
  EXPECT_EQ(zep_avc_unescape(c, 1, out), 0u);

  // Round trip through the test writer's escaping.
  const Bytes rbsp = {0, 0, 0, 0, 0, 1, 0, 0, 2, 0, 0, 3, 7, 0, 0};
  const Bytes nal = zeptest::make_nal(3, 7, rbsp);
  std::vector<uint8_t> back(nal.size());
  const uint32_t n = zep_avc_unescape(nal.data(), uint32_t(nal.size()), back.data());
  back.resize(n);
  EXPECT_EQ(back, rbsp);
}

TEST(H264Nal, TypeNames) {
  EXPECT_STREQ(zep_avc_nal_type_names[0], "unspec");
  EXPECT_STREQ(zep_avc_nal_type_names[5], "idr slice");
  EXPECT_STREQ(zep_avc_nal_type_names[9], "aud");
  EXPECT_STREQ(zep_avc_nal_type_names[13], "sps ext");
  EXPECT_STREQ(zep_avc_nal_type_names[14], "14");
  EXPECT_STREQ(zep_avc_nal_type_names[31], "31");
}

}  // namespace
