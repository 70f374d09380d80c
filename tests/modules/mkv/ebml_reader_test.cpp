// The EBML layer on its own: vints, value readers and their limits, the top-level walk.
#include <gtest/gtest.h>

#include <bit>
#include <memory>
#include <numbers>
#include <optional>

#include "modules/mkv/ebml_reader.h"
#include "tests/support/ebml_builder.h"

using namespace zeptest;

namespace {

class EbmlLayer : public ::testing::Test {
 protected:
  // `bytes` as a file behind a freshly opened byte source.
  mkv::MkvByteSource& source(const Bytes& bytes) {
    source_ = std::make_unique<mkv::MkvByteSource>();
    const std::u16string name = zep::utf8_to_u16(dir_.write("e" + std::to_string(++n_), bytes));
    EXPECT_GE(source_->open(0, name.c_str(), nullptr), 0);
    reader_ = mkv::EbmlReader{};
    reader_.source = source_.get();
    return *source_;
  }
  TempDir dir_;
  std::unique_ptr<mkv::MkvByteSource> source_;
  mkv::EbmlReader reader_;
  int n_ = 0;
};

// Byte source and in-memory reader: sizes lose the marker, IDs keep it, signed vints are
// biased, a first byte 0 takes the eight bytes after it.
TEST_F(EbmlLayer, VintsReadTheSameFromTheFileAndFromMemory) {
  // clang-format off
  const struct { Bytes bytes; bool isSigned, stripMarker; uint64_t value; uint32_t length; } cases[] = {
      {{0x40, 0x02}, false, true, 2, 2}, {{0x40, 0x02}, false, false, 0x4002, 2},
      {{0x80}, true, true, uint64_t(-63), 1}, {{0xFF}, true, true, 64, 1},
      {{0x5F, 0xFF}, true, true, 0, 2}, {{0xFF}, false, true, 127, 1},
      {{0x01, 0, 0, 0, 0, 0, 0, 5}, false, true, 5, 8},
      {{0x00, 1, 2, 3, 4, 5, 6, 7, 8}, false, true, 0x0102030405060708, 9}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.bytes));
    uint64_t value = 0;
    uint32_t length = 0;
    ASSERT_EQ(mkv::ReadVint(source(c.bytes), c.isSigned, c.stripMarker, &value, &length), 0);
    EXPECT_EQ(std::pair(value, length), std::pair(c.value, c.length));
    mkv::BeReader r(c.bytes.data(), c.bytes.size());
    length = 0;
    value = c.isSigned ? uint64_t(r.svint(&length)) : r.vint(c.stripMarker, &length);
    EXPECT_TRUE(r.ok() && r.remaining() == 0);
    EXPECT_EQ(std::pair(value, length), std::pair(c.value, c.length));
  }
}

TEST_F(EbmlLayer, UnknownSizesFlagsAndShortVints) {
  EXPECT_EQ(std::pair(mkv::unknown_size(1), mkv::unknown_size(8)),
            std::pair(uint64_t(127), (uint64_t(1) << 56) - 1));
  uint64_t flag = 7;  // any value but 0 is set
  EXPECT_EQ(mkv::ReadFlag(source({0x05}), 1, &flag) + flag, 1u);
  EXPECT_EQ(mkv::ReadFlag(source({0x05}), 1, nullptr), mkv::EBML_ERR_BAD_ARG);
  const Bytes cut = {0x21, 0x00}, nine = {0x00, 1, 2, 3, 4, 5, 6, 7, 8};  // 3-byte vint, 2 bytes
  uint64_t value = 0;
  EXPECT_EQ(mkv::ReadVint(source(cut), false, true, &value, nullptr), mkv::EBML_ERR_SHORT_READ);
  mkv::BeReader r(cut.data(), cut.size()), s(nine.data(), nine.size());
  EXPECT_EQ(r.vint(true), 0u);
  EXPECT_FALSE(r.ok());
  s.svint();  // a signed vint has no 9-byte form
  EXPECT_FALSE(s.ok());
}

// Every reader at the sizes it takes and the sizes it refuses.
TEST_F(EbmlLayer, ValuesReadOrAreRefusedBySize) {
  constexpr auto f = [](double v) { return std::bit_cast<uint64_t>(v); };
  const ZEP_STATUS kNo = mkv::EBML_ERR_BAD_ARG;
  // clang-format off
  // The reader (u, s or f), the bytes, the status and the value's bits.
  const struct { char reader; Bytes bytes; ZEP_STATUS status; uint64_t expected; } cases[] = {
      {'u', {}, 0, 0}, {'u', {1, 2, 3, 4, 5, 6, 7, 8}, 0, 0x0102030405060708},
      {'u', Bytes(9, 0), kNo, 0}, {'s', {0xFF, 0xFE}, 0, uint64_t(-2)},
      {'s', {0x80}, 0, uint64_t(-128)}, {'s', {0x00, 0x80}, 0, 128},
      {'s', {0x80, 0, 0, 0, 0, 0, 0, 0}, 0, uint64_t(INT64_MIN)}, {'s', Bytes(9, 0xFF), kNo, 0},
      {'f', {}, 0, f(0.0)}, {'f', {0xC1, 0x20, 0, 0}, 0, f(-10.0)}, {'f', {0x3F, 0x80}, kNo, 0},
      {'f', {0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, 0, f(std::numbers::pi)},
      {'f', {0x3F, 0x80, 0, 0, 0, 0}, kNo, 0}};
  // clang-format on
  for (const auto& c : cases) {
    SCOPED_TRACE(c.reader + (" " + ::testing::PrintToString(c.bytes)));
    mkv::MkvByteSource& s = source(c.bytes);
    uint64_t u = 7;
    int64_t i = 7;
    double d = 7;
    const ZEP_STATUS status = c.reader == 'u'   ? mkv::ReadUInt(s, c.bytes.size(), &u)
                              : c.reader == 's' ? mkv::ReadSInt(s, c.bytes.size(), &i)
                                                : mkv::ReadFloat(s, c.bytes.size(), &d);
    ASSERT_EQ(status, c.status);
    EXPECT_EQ(status ? 0 : c.reader == 'u' ? u : c.reader == 's' ? uint64_t(i) : f(d), c.expected);
  }
}

// UTF-8 decodes (to at most 2000 units, zero padding dropped); ASCII widens (to kMaxAsciiBytes).
TEST_F(EbmlLayer, StringsDecodeAndKeepTheFirstBytes) {
  auto text = [](std::string_view s) { return Bytes(s.begin(), s.end()); };
  // clang-format off
  const struct { bool utf8; Bytes bytes; std::u16string expected; } cases[] = {
      {true, text("A\xF0\x9F\x8E\xB5\xC3\xA9"), u"A\U0001F3B5\u00E9"}, {true, {}, u""},
      {true, Bytes(2500, 'a'), std::u16string(2000, u'a')},
      {true, text(std::string("abc\0\0\0", 6)), u"abc"}, {false, {0x41, 0xE9, 0x7F}, u"A\u00E9\u007F"},
      {false, Bytes(5000, 'b'), std::u16string(5000, u'b')},
      {false, Bytes(70000, 'c'), std::u16string(mkv::kMaxAsciiBytes, u'c')}};
  // clang-format on
  for (const auto& c : cases) {
    std::u16string got = u"stale";
    mkv::MkvByteSource& s = source(c.bytes);
    ASSERT_EQ(c.utf8 ? mkv::ReadUtf8String(s, c.bytes.size(), &got)
                     : mkv::ReadAsciiString(s, c.bytes.size(), &got),
              0);
    EXPECT_TRUE(got == c.expected) << (c.utf8 ? "UTF-8 " : "ASCII ") << c.bytes.size();
  }
}

// Binary above the capacity is refused; a size the file cannot hold is not allocated.
TEST_F(EbmlLayer, BinaryAboveTheCapacityIsRefused) {
  const Bytes ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  uint8_t buffer[10] = {};
  std::vector<uint8_t> vec;
  EXPECT_EQ(mkv::ReadBinary(source(ten), 10, buffer, 9), mkv::EBML_ERR_NO_MEMORY);
  EXPECT_EQ(mkv::ReadBinary(source(ten), 10, &vec, 9), mkv::EBML_ERR_NO_MEMORY);
  ASSERT_EQ(
      mkv::ReadBinary(source(ten), 10, buffer, 10) | mkv::ReadBinary(source(ten), 10, &vec, 10), 0);
  EXPECT_EQ(std::pair(Bytes(buffer, buffer + 10), vec), std::pair(ten, ten));
  EXPECT_EQ(mkv::ReadBinary(source(ten), 1 << 20, &vec, 1 << 30), mkv::EBML_ERR_SHORT_READ);
}

struct Found {
  std::vector<std::pair<uint64_t, uint64_t>> segments;  // data position, size
  static ZEP_STATUS record(void* context, uint64_t, uint64_t dataPos, uint64_t size) {
    static_cast<Found*>(context)->segments.push_back({dataPos, size});
    return 0;
  }
};

// No EBML header is no EBML; a Segment of unknown size runs to the end of the file.
TEST_F(EbmlLayer, TopLevelNeedsTheEbmlHeaderAndEndsUnknownSizesAtTheFileEnd) {
  Bytes file = mkv_segment({mkv_info()}).bytes();
  file.resize(200, 0);
  source(file);
  Found none, found;
  EXPECT_EQ(mkv::WalkTopLevel(reader_, Found::record, &none), mkv::EBML_ERR_NOT_EBML);
  EXPECT_TRUE(none.segments.empty());
  file = mkv_file({mkv_segment({mkv_info(), mkv_cluster(0, {})}).unknown_size()});
  source(file);
  EXPECT_EQ(mkv::WalkTopLevel(reader_, Found::record, &found), 0);
  const uint64_t dataPos = mkv_ebml_header().byte_size() + 4 + 8;
  EXPECT_EQ(found.segments, (decltype(found.segments){{dataPos, file.size() - dataPos}}));
}

// Garbage after the EBML header: a Cluster within 1000 bytes is found, else the Segment is lost.
TEST_F(EbmlLayer, GarbageIsPassedOverOnlyUpToAClusterWithinAThousandBytes) {
  const uint64_t garbageAt = mkv_ebml_header().byte_size();
  const std::optional<size_t> gaps[] = {0, 500, 1500, std::nullopt};  // none: no Cluster
  for (const std::optional<size_t>& gap : gaps) {
    std::vector<E> top = {E::raw(Bytes(10 + gap.value_or(0), 0x42))};
    if (gap) top.push_back(mkv_cluster(0, {mkv_simple_block(1, 0, kBlockKey, {{1, 2}})}));
    top.push_back(mkv_segment({mkv_info()}));
    source(mkv_file(top));
    Found found;
    EXPECT_GE(mkv::WalkTopLevel(reader_, Found::record, &found), 0);
    const bool foundCluster = gap && *gap < 1000;
    EXPECT_EQ(found.segments.size(), foundCluster ? 1u : 0u) << gap.value_or(-1);
    EXPECT_EQ(reader_.firstClusterSeen, foundCluster);
    EXPECT_EQ(foundCluster ? reader_.firstClusterPos : 0, foundCluster ? garbageAt + 10 + *gap : 0);
  }
}

}  // namespace
