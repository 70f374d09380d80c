// The EBML layer on its own: vints from a file and from memory, the value
// readers and their size limits, the walk over the children of a master
// and over the top level of a file, and the probe.
#include <gtest/gtest.h>

#include <memory>
#include <numbers>
#include <optional>

#include "modules/mkv/ebml_reader.h"
#include "tests/support/ebml_builder.h"

using namespace zeptest;
using E = zeptest::EbmlElement;

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

// ---- Vints -------------------------------------------------------------------

struct VintCase {
  Bytes bytes;
  bool isSigned, stripMarker;
  uint64_t value;
  uint32_t length;
};

class EbmlVint : public EbmlLayer, public ::testing::WithParamInterface<VintCase> {};

// The same bytes through the byte source and through the in-memory reader.
TEST_P(EbmlVint, ReadsTheSameFromTheFileAndFromMemory) {
  const VintCase& c = GetParam();
  uint64_t value = 0;
  uint32_t length = 0;
  ASSERT_EQ(mkv::ReadVint(source(c.bytes), c.isSigned, c.stripMarker, &value, &length), 0);
  EXPECT_EQ(value, c.value);
  EXPECT_EQ(length, c.length);
  mkv::BeReader r(c.bytes.data(), c.bytes.size());
  length = 0;
  const uint64_t fromMemory =
      c.isSigned ? uint64_t(r.svint(&length)) : r.vint(c.stripMarker, &length);
  EXPECT_TRUE(r.ok());
  EXPECT_EQ(fromMemory, c.value);
  EXPECT_EQ(length, c.length);
  EXPECT_EQ(r.remaining(), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Examples, EbmlVint,
    ::testing::Values(VintCase{{0x40, 0x02}, false, true, 2, 2},        // as a size
                      VintCase{{0x40, 0x02}, false, false, 0x4002, 2},  // as an ID
                      VintCase{{0x1A, 0x45, 0xDF, 0xA3}, false, false, 0x1A45DFA3, 4},
                      VintCase{{0x80}, true, true, uint64_t(-63), 1},
                      VintCase{{0xBF}, true, true, 0, 1}, VintCase{{0xFF}, true, true, 64, 1},
                      VintCase{{0x5F, 0xFF}, true, true, 0, 2},
                      VintCase{{0xFF}, false, true, 127, 1},  // the 1-byte unknown size
                      VintCase{{0x01, 0, 0, 0, 0, 0, 0, 0x05}, false, true, 5, 8},
                      // A first byte 0: the eight bytes after it.
                      VintCase{
                          {0x00, 1, 2, 3, 4, 5, 6, 7, 8}, false, true, 0x0102030405060708, 9}));

TEST_F(EbmlLayer, UnknownSizesAndShortVints) {
  EXPECT_EQ(mkv::unknown_size(1), 127u);
  EXPECT_EQ(mkv::unknown_size(8), (uint64_t(1) << 56) - 1);
  const Bytes cut = {0x21, 0x00};  // a 3-byte vint with 2 bytes left
  uint64_t value = 0;
  EXPECT_EQ(mkv::ReadVint(source(cut), false, true, &value, nullptr), mkv::EBML_ERR_SHORT_READ);
  mkv::BeReader r(cut.data(), cut.size());
  EXPECT_EQ(r.vint(true), 0u);
  EXPECT_FALSE(r.ok());
  const Bytes nine = {0x00, 1, 2, 3, 4, 5, 6, 7, 8};
  mkv::BeReader s(nine.data(), nine.size());
  s.svint();  // a signed vint has no 9-byte form
  EXPECT_FALSE(s.ok());
}

// ---- Values ------------------------------------------------------------------

enum class Reader { kUInt, kSInt, kFloat };

struct ValueCase {
  Reader reader;
  Bytes bytes;
  ZEP_STATUS status;
  uint64_t u = 0;
  int64_t i = 0;
  double f = 0;
};

class EbmlValue : public EbmlLayer, public ::testing::WithParamInterface<ValueCase> {};

TEST_P(EbmlValue, ReadsOrRefusesBySize) {
  const ValueCase& c = GetParam();
  mkv::MkvByteSource& s = source(c.bytes);
  uint64_t u = 7;
  int64_t i = 7;
  double f = 7;
  switch (c.reader) {
    case Reader::kUInt:
      ASSERT_EQ(mkv::ReadUInt(s, c.bytes.size(), &u), c.status);
      if (c.status == 0) {
        EXPECT_EQ(u, c.u);
      }
      break;
    case Reader::kSInt:
      ASSERT_EQ(mkv::ReadSInt(s, c.bytes.size(), &i), c.status);
      if (c.status == 0) {
        EXPECT_EQ(i, c.i);
      }
      break;
    case Reader::kFloat:
      ASSERT_EQ(mkv::ReadFloat(s, c.bytes.size(), &f), c.status);
      if (c.status == 0) {
        EXPECT_EQ(f, c.f);
      }
      break;
  }
}

ValueCase as_uint(Bytes b, uint64_t v) { return {Reader::kUInt, std::move(b), 0, v}; }
ValueCase as_sint(Bytes b, int64_t v) { return {Reader::kSInt, std::move(b), 0, 0, v}; }
ValueCase as_float(Bytes b, double v) { return {Reader::kFloat, std::move(b), 0, 0, 0, v}; }
ValueCase refused(Reader r, Bytes b) { return {r, std::move(b), mkv::EBML_ERR_BAD_ARG}; }

INSTANTIATE_TEST_SUITE_P(
    Sizes, EbmlValue,
    ::testing::Values(
        as_uint({}, 0), as_uint({0x2A}, 42), as_uint({1, 2, 3, 4, 5, 6, 7, 8}, 0x0102030405060708),
        as_uint(Bytes(8, 0xFF), ~uint64_t(0)), refused(Reader::kUInt, Bytes(9, 0)),
        as_sint({0xFF, 0xFE}, -2), as_sint({0x80}, -128), as_sint({0x7F}, 127),
        as_sint({0x00, 0x80}, 128), as_sint({0x80, 0, 0}, -8388608), as_sint(Bytes(8, 0xFF), -1),
        as_sint({0x80, 0, 0, 0, 0, 0, 0, 0}, INT64_MIN), refused(Reader::kSInt, Bytes(9, 0xFF)),
        as_float({}, 0.0), as_float({0x3F, 0x80, 0, 0}, 1.0), as_float({0xC1, 0x20, 0, 0}, -10.0),
        as_float({0x40, 0x09, 0x21, 0xFB, 0x54, 0x44, 0x2D, 0x18}, std::numbers::pi),
        refused(Reader::kFloat, {0x3F, 0x80}), refused(Reader::kFloat, {0x3F, 0x80, 0, 0, 0, 0})));

struct StringCase {
  bool utf8;
  Bytes bytes;
  std::u16string expected;
};

class EbmlString : public EbmlLayer, public ::testing::WithParamInterface<StringCase> {};

TEST_P(EbmlString, DecodesAndKeepsTheFirstBytes) {
  const StringCase& c = GetParam();
  std::u16string got = u"stale";
  mkv::MkvByteSource& s = source(c.bytes);
  ASSERT_EQ(c.utf8 ? mkv::ReadUtf8String(s, c.bytes.size(), &got)
                   : mkv::ReadAsciiString(s, c.bytes.size(), &got),
            0);
  EXPECT_EQ(got, c.expected);
}

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

INSTANTIATE_TEST_SUITE_P(
    Texts, EbmlString,
    ::testing::Values(
        StringCase{true, text("A\xF0\x9F\x8E\xB5\xC3\xA9"), u"A\U0001F3B5\u00E9"},
        StringCase{true, Bytes(2500, 'a'), std::u16string(2000, u'a')},
        StringCase{true, text(std::string("abc\0\0\0", 6)), u"abc"},  // zero padding
        StringCase{true, {}, u""},
        StringCase{false, {0x41, 0xE9, 0x7F}, u"A\u00E9\u007F"},  // widened, not decoded
        StringCase{false, Bytes(5000, 'b'), std::u16string(5000, u'b')},
        StringCase{false, Bytes(70000, 'c'), std::u16string(mkv::kMaxAsciiBytes, u'c')}));

TEST_F(EbmlLayer, BinaryAboveTheCapacityIsRefused) {
  const Bytes ten = {0, 1, 2, 3, 4, 5, 6, 7, 8, 9};
  uint8_t buffer[10] = {};
  std::vector<uint8_t> vec;
  EXPECT_EQ(mkv::ReadBinary(source(ten), 10, buffer, 9), mkv::EBML_ERR_NO_MEMORY);
  EXPECT_EQ(mkv::ReadBinary(source(ten), 10, &vec, 9), mkv::EBML_ERR_NO_MEMORY);
  ASSERT_EQ(mkv::ReadBinary(source(ten), 10, buffer, 10), 0);
  EXPECT_EQ(Bytes(buffer, buffer + 10), ten);
  ASSERT_EQ(mkv::ReadBinary(source(ten), 10, &vec, 10), 0);
  EXPECT_EQ(vec, ten);
  // A size the file cannot hold is not allocated.
  EXPECT_EQ(mkv::ReadBinary(source(ten), 1 << 20, &vec, 1 << 30), mkv::EBML_ERR_SHORT_READ);
}

// ---- The walk over children --------------------------------------------------

struct Seen {
  uint32_t id;
  uint64_t size;
  bool operator==(const Seen& o) const { return id == o.id && size == o.size; }
};
std::ostream& operator<<(std::ostream& os, const Seen& s) {
  return os << std::hex << s.id << std::dec << ":" << s.size;
}

// A parent master at `parentPos` of a file that goes on after it.
struct Parent {
  Bytes file;
  uint64_t dataPos, size;
};
Parent parent_file(std::vector<E> children) {
  const E head = mkv_ebml_header();
  const E parent(mkvid::kTracks, std::move(children));
  Parent p{mkv_file({parent, E::uint(mkvid::kTrackNumber, 9)}), 0, 0};
  p.dataPos = head.byte_size() + parent.header_size();
  p.size = parent.byte_size() - parent.header_size();
  return p;
}

struct WalkCase {
  const char* name;
  std::vector<E> children;
  std::vector<Seen> seen;
};

class EbmlWalk : public EbmlLayer, public ::testing::WithParamInterface<WalkCase> {};

TEST_P(EbmlWalk, VisitsTheChildrenWithinTheParent) {
  const Parent p = parent_file(GetParam().children);
  source(p.file);
  std::vector<Seen> seen;
  auto handler = [&](mkv::EbmlReader&, uint32_t id, uint64_t, uint64_t, uint64_t& size) {
    seen.push_back({id, size});
    return ZEP_STATUS(0);
  };
  EXPECT_EQ(mkv::WalkChildren(reader_, p.dataPos, p.size, handler), 0);
  EXPECT_EQ(seen, GetParam().seen);
  EXPECT_TRUE(reader_.keepGoing);
}

INSTANTIATE_TEST_SUITE_P(
    Layouts, EbmlWalk,
    ::testing::Values(WalkCase{"VoidAndCrc",
                               {E::uint(0xD7, 1), ebml_void(10), ebml_crc32(0xDEADBEEF),
                                E::uint(0x83, 2)},
                               {{0xD7, 1}, {0xEC, 8}, {0xBF, 4}, {0x83, 1}}},
                      WalkCase{"SizePastTheParent",
                               {E::uint(0xD7, 1), E::bin(0x63A2, {1, 2, 3}).wrong_size(50)},
                               {{0xD7, 1}, {0x63A2, 3}}},
                      WalkCase{"UnknownSize",
                               {E::uint(0xD7, 1), E(0xE0, {E::uint(0xB0, 64)}).unknown_size()},
                               {{0xD7, 1}, {0xE0, 3}}},
                      WalkCase{"ZeroFilling",
                               {E::uint(0xD7, 1), E::raw(Bytes(32, 0)), E::uint(0x83, 2)},
                               {{0xD7, 1}}}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(EbmlLayer, HandlerThatClaimsNoDataStepsIntoTheElement) {
  const Parent p = parent_file({E(0xE0, {E::uint(0xB0, 64), E::uint(0xBA, 48)}), E::uint(0xD7, 1)});
  source(p.file);
  std::vector<uint32_t> ids;
  auto handler = [&](mkv::EbmlReader&, uint32_t id, uint64_t, uint64_t, uint64_t& size) {
    ids.push_back(id);
    if (id == 0xE0) size = 0;
    return ZEP_STATUS(0);
  };
  EXPECT_EQ(mkv::WalkChildren(reader_, p.dataPos, p.size, handler), 0);
  EXPECT_EQ(ids, (std::vector<uint32_t>{0xE0, 0xB0, 0xBA, 0xD7}));
}

TEST_F(EbmlLayer, CorruptFromTheHandlerStopsQuietlyOtherFailuresLoudly) {
  const Parent p = parent_file({E::uint(0xD7, 1), E::uint(0x83, 2), E::uint(0x88, 1)});
  for (ZEP_STATUS failure : {ZEP_ERR_FILE_CORRUPT, ZEP_ERR_QR7_PARSE_TRACKS}) {
    source(p.file);
    std::vector<uint32_t> ids;
    auto handler = [&](mkv::EbmlReader&, uint32_t id, uint64_t, uint64_t, uint64_t&) {
      ids.push_back(id);
      return id == 0x83 ? failure : ZEP_STATUS(0);
    };
    const bool quiet = failure == ZEP_ERR_FILE_CORRUPT;
    EXPECT_EQ(mkv::WalkChildren(reader_, p.dataPos, p.size, handler), quiet ? 0 : failure);
    EXPECT_EQ(ids, (std::vector<uint32_t>{0xD7, 0x83}));
    EXPECT_EQ(reader_.keepGoing, !quiet);
  }
}

// ---- The top level -----------------------------------------------------------

struct Found {
  std::vector<std::pair<uint64_t, uint64_t>> segments;  // data position, size
  static ZEP_STATUS record(void* context, uint64_t, uint64_t dataPos, uint64_t size) {
    static_cast<Found*>(context)->segments.push_back({dataPos, size});
    return 0;
  }
};

const E kSmallSegment = mkv_segment({MkvInfo{}.element()});

TEST_F(EbmlLayer, FileThatDoesNotStartWithTheEbmlHeaderIsNotEbml) {
  Bytes file = kSmallSegment.bytes();
  file.resize(200, 0);
  source(file);
  Found found;
  EXPECT_EQ(mkv::WalkTopLevel(reader_, Found::record, &found), mkv::EBML_ERR_NOT_EBML);
  EXPECT_TRUE(found.segments.empty());
}

TEST_F(EbmlLayer, UnknownSizeSegmentRunsToTheEndOfTheFile) {
  const Bytes file =
      mkv_file({mkv_segment({MkvInfo{}.element(), mkv_cluster(0, {})}).unknown_size()});
  source(file);
  Found found;
  EXPECT_EQ(mkv::WalkTopLevel(reader_, Found::record, &found), 0);
  const uint64_t dataPos = mkv_ebml_header().byte_size() + 4 + 8;
  ASSERT_EQ(found.segments.size(), 1u);
  EXPECT_EQ(found.segments[0], std::make_pair(dataPos, file.size() - dataPos));
}

// Ten bytes of garbage after the EBML header: the walk looks for a Cluster
// in the next 1000 bytes and goes on from there; without one it gives up,
// and the Segment behind is not found.
TEST_F(EbmlLayer, GarbageIsPassedOverOnlyUpToAClusterWithinAThousandBytes) {
  const uint64_t garbageAt = mkv_ebml_header().byte_size();
  const std::optional<size_t> gaps[] = {0, 500, 1500, std::nullopt};  // none: no Cluster
  for (const std::optional<size_t>& gap : gaps) {
    std::vector<E> top = {E::raw(Bytes(10 + gap.value_or(0), 0x42))};
    if (gap) top.push_back(mkv_cluster(0, {mkv_simple_block(1, 0, kBlockKey, {{1, 2}})}));
    top.push_back(kSmallSegment);
    source(mkv_file(top));
    Found found;
    EXPECT_GE(mkv::WalkTopLevel(reader_, Found::record, &found), 0);
    const bool foundCluster = gap && *gap < 1000;
    EXPECT_EQ(found.segments.size(), foundCluster ? 1u : 0u) << gap.value_or(-1);
    EXPECT_EQ(reader_.firstClusterSeen, foundCluster);
    if (foundCluster) {
      EXPECT_EQ(reader_.firstClusterPos, garbageAt + 10 + *gap);
    }
  }
}

// ---- Probe -------------------------------------------------------------------

struct ProbeCase {
  const char* name;
  std::optional<Bytes> content;  // none: the file does not exist
  bool ok;
  uint32_t score;
};

Bytes ebml_start(size_t size) {
  Bytes b = mkv_ebml_header().bytes();
  b.resize(size, 0);
  return b;
}

class MkvProbe : public EbmlLayer, public ::testing::WithParamInterface<ProbeCase> {};

TEST_P(MkvProbe, ScoresByContentOrByNameWhenUnreadable) {
  const ProbeCase& c = GetParam();
  const std::string path = c.content ? dir_.write(c.name, *c.content) : dir_.path() + "/" + c.name;
  uint32_t score = 7;
  const ZEP_STATUS status = mkv::ProbeMatroska(&score, zep::utf8_to_u16(path).c_str(), nullptr);
  EXPECT_EQ(status >= 0, c.ok) << status;
  if (c.ok) {
    EXPECT_EQ(score, c.score);
  }
}

INSTANTIATE_TEST_SUITE_P(Files, MkvProbe,
                         ::testing::Values(ProbeCase{"x.avi", ebml_start(83), true, 100},
                                           ProbeCase{"noext", ebml_start(4000), true, 100},
                                           ProbeCase{"short.mkv", ebml_start(82), false, 0},
                                           ProbeCase{"other.mkv", Bytes(100, 0x01), true, 0},
                                           ProbeCase{"x.qr7", std::nullopt, true, 100},
                                           ProbeCase{"x.mkv", std::nullopt, true, 100},
                                           ProbeCase{"x.avi", std::nullopt, true, 0}));

}  // namespace
