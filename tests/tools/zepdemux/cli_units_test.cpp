// The CLI's own byte handling: Annex B conversion and the QSUB decoder of `subs --png`.
#include <gtest/gtest.h>

#include <optional>

#include "qsub_builder.h"
#include "tests/support/byte_writer.h"
#include "tools/zepdemux/annexb.h"
#include "tools/zepdemux/qsub_picture.h"

namespace {

using zeptest::Bytes;
using zeptest::ByteWriter;

// Slices of the given sizes, each after its length in `length_size` bytes,
// or after a start code for 0.
Bytes units_with_lengths(int length_size, const std::vector<size_t>& sizes) {
  ByteWriter w;
  uint8_t fill = 0x41;
  for (size_t size : sizes) {
    if (length_size == 0) w.be32(1);
    if (length_size == 4) w.be32(uint32_t(size));
    if (length_size == 2) w.be16(uint16_t(size));
    w.u8(0x65).fill(fill++, size - 1);
  }
  return w.take();
}

// The framer's output for a block, none when it refused the block.
std::optional<Bytes> framed(zepcli::AnnexBFramer& framer, const Bytes& block) {
  std::vector<uint8_t> out;
  if (!framer.convert(block.data(), block.size(), out)) return std::nullopt;
  return out;
}

TEST(CliAnnexB, LengthsBecomeStartCodesAndDamageFails) {
  zepcli::AnnexBFramer four({}, 4), two({}, 2);
  EXPECT_EQ(framed(four, units_with_lengths(4, {10, 20})), units_with_lengths(0, {10, 20}));
  // Stray bytes after the last whole unit are not delivered.
  Bytes stray = units_with_lengths(4, {10, 20});
  stray.insert(stray.end(), {7, 7, 7});
  EXPECT_EQ(framed(four, stray), units_with_lengths(0, {10, 20}));
  // Short lengths grow by the start codes.
  EXPECT_EQ(framed(two, units_with_lengths(2, {5, 6})), units_with_lengths(0, {5, 6}));
  // A first unit longer than the block.
  EXPECT_EQ(framed(four, Bytes{0, 0, 0, 50, 0x65, 1, 2}), std::nullopt);
  // Start codes already: unchanged.
  const Bytes annexb = {0, 0, 0, 1, 0x67, 1, 2, 3};
  EXPECT_EQ(framed(four, annexb), annexb);
}

// A 4 × 3 picture at 100,400. Rows 0 and 2: four pixels of 2 (two nibbles:
// 4 × 4 + 2), then a fill to the end of the row with 1 (0 0 0 1). Row 1: 1 × 0,
// 1 × 1, 2 × 2. Then damaged copies: a field offset past the end, data that
// end before the second field's row, a cut header, none.
TEST(CliQsub, DecodesBothFieldsAndRefusesDamage) {
  const Bytes packet = clitest::qsub_packet("[00:00:01.000-00:00:02.500]", 4, 3, 100, 400,
                                            {0x12, 0x00, 0x01}, {0x45, 0xA0});
  const auto picture = zepcli::decode_qsub(packet.data(), packet.size());
  ASSERT_TRUE(picture.has_value());
  EXPECT_EQ(picture->time_text + char(picture->palette[2][0]), "[00:00:01.000-00:00:02.500]\xFE");
  EXPECT_EQ(picture->pixels, (std::vector<uint8_t>{2, 2, 2, 2, 0, 1, 2, 2, 1, 1, 1, 1}));
  Bytes bad_offset = packet;
  bad_offset[39] = 0xFF;
  bad_offset[40] = 0x7F;
  const Bytes cut = clitest::qsub_packet("[00:00:01.000-00:00:02.500]", 4, 3, 100, 400,
                                         {0x12, 0x12, 0x12, 0x12}, {}, false);
  for (const Bytes& bad : {bad_offset, cut, Bytes(packet.begin(), packet.begin() + 20), Bytes{}})
    EXPECT_FALSE(zepcli::decode_qsub(bad.empty() ? nullptr : bad.data(), bad.size()).has_value())
        << bad.size();
}

}  // namespace
