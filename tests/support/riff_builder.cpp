#include "tests/support/riff_builder.h"

#include <algorithm>
#include <cstring>

namespace zeptest {

RiffWriter& RiffWriter::begin_list(std::string_view id, std::string_view form) {
  return static_cast<RiffWriter&>(begin_chunk(id).text(form));
}
RiffWriter& RiffWriter::chunk(std::string_view id, const Bytes& data) {
  return begin_chunk(id).bytes(data), end_chunk();
}
RiffWriter& RiffWriter::begin_chunk(std::string_view id) {
  open_.push_back(text(id).size());
  return static_cast<RiffWriter&>(le32(0));
}
RiffWriter& RiffWriter::end_chunk() {
  const size_t at = open_.back(), n = size() - at - 4;
  open_.pop_back();
  patch_le32(at, uint32_t(n));
  return static_cast<RiffWriter&>(n & 1 ? u8(0) : *this);
}

namespace {

std::string fcc4(std::string s) { return s.resize(4, ' '), s; }
std::string two_digits(uint32_t n) { return {char('0' + n / 10 % 10), char('0' + n % 10)}; }
std::string chunk_id(const AviChunkSpec& c) { return two_digits(c.stream) + c.suffix; }
// An index entry's size field: bit 31 set for a frame that is not a key frame.
uint32_t flagged_size(const AviChunkSpec& c) { return uint32_t(c.data.size()) | !c.key << 31; }

// An OpenDML standard index (ix##): chunks of one stream in one segment.
struct StdIx {
  uint32_t stream, segment;
  std::vector<size_t> chunks;  // indexes into spec.chunks
  size_t position = 0;
};

}  // namespace

Bytes build_avi(const AviFileSpec& spec) {
  const bool type1 = spec.index == AviFileSpec::kOdmlType1;
  const bool odml = spec.index == AviFileSpec::kOdml || type1;
  const bool idx1 = spec.index != AviFileSpec::kNone && !odml;
  auto count = [&](uint32_t s, const char* suffix = nullptr) {
    return uint32_t(std::count_if(spec.chunks.begin(), spec.chunks.end(), [&](auto& c) {
      return c.stream == s && (!suffix || c.suffix == suffix);
    }));
  };
  // Standard indexes per stream and segment, planned first for the super indexes' room.
  std::vector<StdIx> ixs;
  for (uint32_t seg = 0; spec.index == AviFileSpec::kOdml && seg <= spec.segments; ++seg) {
    for (uint32_t s = 0; s < spec.streams.size(); ++s) {
      StdIx cur{s, seg, {}};
      for (size_t c = 0; c < spec.chunks.size(); ++c) {
        if (spec.chunks[c].stream != s || spec.chunks[c].segment != seg) continue;
        cur.chunks.push_back(c);
        if (cur.chunks.size() == spec.odmlChunksPerIx) ixs.push_back(cur), cur.chunks.clear();
      }
      if (!cur.chunks.empty()) ixs.push_back(cur);
    }
  }
  std::vector<size_t> chunkPos(spec.chunks.size()), indxPos(spec.streams.size());
  auto video = std::ranges::find(spec.streams, AviStreamSpec::kVideo, &AviStreamSpec::kind);
  const bool hasVideo = video != spec.streams.end();

  RiffWriter w;
  w.begin_list("RIFF", "AVI ").begin_list("LIST", "hdrl").begin_chunk("avih");
  // avih: the frame time, the has-index flag (0x10), the frame count, streams, size.
  w.le32(hasVideo && video->rate ? uint32_t(1000000ull * video->scale / video->rate) : 0);
  w.le32(0).le32(0).le32(0x10).le32(hasVideo ? count(0, "dc") : 0).le32(0);
  w.le32(uint32_t(spec.streams.size())).le32(0);
  w.le32(hasVideo ? uint32_t(video->width) : 0).le32(hasVideo ? uint32_t(video->height) : 0);
  w.zeros(16), w.end_chunk();
  for (uint32_t s = 0; s < spec.streams.size(); ++s) {
    const AviStreamSpec& st = spec.streams[s];
    const bool audio = st.kind == AviStreamSpec::kAudio, other = st.kind == AviStreamSpec::kOther;
    w.begin_list("LIST", "strl").begin_chunk("strh");
    w.text(audio ? "auds" : other ? "txts" : "vids");
    w.text(audio ? std::string("\1\0\0\0", 4) : fcc4(st.handler));
    w.le32(0).le16(0).le16(0).le32(0).le32(st.scale).le32(st.rate).le32(0);
    w.le32(st.length ? st.length : count(s)).le32(st.suggestedBufferSize).le32(0xFFFFFFFFu);
    w.le32(st.sampleSize).le16(0).le16(0).le16(uint16_t(st.width)).le16(uint16_t(st.height));
    w.end_chunk().begin_chunk("strf");
    if (audio) {
      w.le16(st.formatTag).le16(st.channels).le32(st.samplesPerSec).le32(st.avgBytesPerSec);
      w.le16(st.blockAlign).le16(st.bitsPerSample);
      if (!st.shortWave) w.le16(uint16_t(st.waveExtra.size())).bytes(st.waveExtra);
    } else if (other) w.le32(0);
    else {
      w.le32(40).le32(uint32_t(st.width)).le32(uint32_t(st.height)).le16(1).le16(24);
      w.text(fcc4(st.compression)).le32(uint32_t(st.width * st.height * 3)).zeros(16);
    }
    w.end_chunk();
    if (!st.name.empty()) w.chunk("strn", Bytes(st.name.begin(), st.name.end()));
    if (odml && !other) {
      // The super index; its entries are filled in at the end.
      uint32_t entries = type1 ? count(s)
                               : uint32_t(std::count_if(ixs.begin(), ixs.end(),
                                                        [&](auto& ix) { return ix.stream == s; }));
      indxPos[s] = w.size();
      w.begin_chunk("indx").le16(type1 ? 2 : 4).u8(0).u8(type1 ? 1 : 0).le32(entries);
      w.text(two_digits(s) + (audio ? "wb" : "dc")).le64(0).le32(0);
      w.zeros(entries << (type1 ? 3 : 4));
      w.end_chunk();
    }
    w.end_list();
  }
  w.end_list();  // hdrl
  if (!spec.info.empty()) w.begin_list("LIST", "INFO");
  for (auto& [id, data] : spec.info) w.chunk(id, data);
  if (!spec.info.empty()) w.end_list();

  auto write_idx1 = [&](size_t moviPos) {
    w.begin_chunk("idx1");
    for (size_t c = 0; c < spec.chunks.size() && !spec.idx1Empty; ++c) {
      const AviChunkSpec& ch = spec.chunks[c];
      if (ch.segment != 0) continue;
      const bool absolute = spec.index == AviFileSpec::kIdx1Absolute;
      w.text(chunk_id(ch)).le32(ch.key ? 0x10 : 0);
      w.le32(uint32_t(chunkPos[c] - (absolute ? 0 : moviPos + 8))).le32(uint32_t(ch.data.size()));
      if (spec.idx1OneEntry) break;
    }
    w.end_chunk();
  };
  auto write_movi = [&](uint32_t seg) {
    const size_t moviPos = w.begin_list("LIST", "movi").size() - 12;
    for (size_t c = 0; c < spec.chunks.size(); ++c) {
      if (spec.chunks[c].segment != seg) continue;
      const bool rec = spec.recLists && seg == 0;
      if (rec) w.begin_list("LIST", "rec ");
      chunkPos[c] = w.size();
      w.chunk(chunk_id(spec.chunks[c]), spec.chunks[c].data);
      if (rec) w.end_list();
    }
    for (StdIx& ix : ixs) {
      if (ix.segment != seg) continue;
      ix.position = w.begin_chunk("ix" + two_digits(ix.stream)).size() - 8;
      w.le16(2).u8(0).u8(1).le32(uint32_t(ix.chunks.size()));
      w.text(chunk_id(spec.chunks[ix.chunks.front()])).le64(moviPos).le32(0);
      for (size_t c : ix.chunks)
        w.le32(uint32_t(chunkPos[c] + 8 - moviPos)).le32(flagged_size(spec.chunks[c]));
      w.end_chunk();
    }
    w.end_list();
    return moviPos;
  };
  if (idx1 && spec.idx1BeforeMovi) write_idx1(0);
  size_t movi0 = write_movi(0);
  if (idx1 && !spec.idx1BeforeMovi) write_idx1(movi0);
  w.end_list();  // RIFF AVI
  if (!spec.cover.empty() && spec.segments == 0)
    w.begin_list("RIFF", "META")
        .begin_list("LIST", "NRRL").chunk("dpic", spec.cover).end_list().end_list();
  for (uint32_t seg = 1; seg <= spec.segments; ++seg)
    w.begin_list("RIFF", "AVIX"), write_movi(seg), w.end_list();

  // The super indexes: per ix## its position, size and count, or (type 1) per chunk.
  for (uint32_t s = 0; s < spec.streams.size(); ++s) {
    size_t at = indxPos[s] + 8 + 24;
    for (const StdIx& ix : ixs) {
      if (ix.stream != s || !indxPos[s]) continue;
      w.patch_le64(at, ix.position);
      w.patch_le32(at + 8, uint32_t(32 + ix.chunks.size() * 8));
      w.patch_le32((at += 16) - 4, uint32_t(ix.chunks.size()));
    }
    for (size_t c = 0; type1 && c < spec.chunks.size(); ++c) {
      if (spec.chunks[c].stream != s || !indxPos[s]) continue;
      w.patch_le32(at, uint32_t(chunkPos[c] + 8));
      w.patch_le32((at += 8) - 4, flagged_size(spec.chunks[c]));
    }
  }
  return w.take();
}

Bytes pattern_bytes(uint32_t tag, size_t size) {
  Bytes b(size);
  uint32_t x = tag * 2654435761u + 12345u;
  for (uint8_t& v : b) v = uint8_t((x = x * 1103515245u + 12345u) >> 16);
  return b;
}

// `head`, then filler up to `size` bytes that contains no start code prefix.
static Bytes with_prefix(Bytes head, uint32_t tag, size_t size) {
  for (uint8_t v : pattern_bytes(tag, size > head.size() ? size - head.size() : 0))
    head.push_back(v | 0x80);
  return head;
}

Bytes mpeg4_frame(bool key, uint32_t tag, size_t size) {
  return with_prefix({0, 0, 1, 0xB6, uint8_t(key ? 0x10 : 0x50)}, tag, size);
}
Bytes h264_frame(bool idr, uint32_t tag, size_t size) {
  // SPS, PPS and an IDR slice, or an access unit delimiter and a P slice.
  return with_prefix(idr ? Bytes{0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x65,
                                 0x88}
                         : Bytes{0, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x41, 0x9A},
                     tag, size);
}
Bytes mpeg2_frame(bool intra, uint32_t tag, size_t size) {
  // Picture header: temporal reference (10 bits), picture_coding_type (3).
  Bytes head = {0, 0, 1, 0x00, 0x00, uint8_t((intra ? 1 : 2) << 3), 0xFF, 0xF8};
  if (intra) head.insert(head.begin(), {0, 0, 1, 0xB3, 0x0A, 0x00, 0x78, 0x13});
  return with_prefix(head, tag, size);
}
Bytes subtitle_packet(const std::string& start, const std::string& end, size_t extra) {
  return ByteWriter().text("[" + start + "-" + end + "]").bytes(pattern_bytes(extra, extra)).take();
}

Bytes strip_idx1(const Bytes& avi) {
  auto rd = [&](size_t at) {
    return uint32_t(avi[at] | avi[at + 1] << 8 | avi[at + 2] << 16) | uint32_t(avi[at + 3]) << 24;
  };
  for (size_t pos = 12, next; pos + 8 <= std::min<size_t>(avi.size(), rd(4) + 8ull); pos = next) {
    next = std::min(avi.size(), pos + 8 + rd(pos + 4) + (rd(pos + 4) & 1));
    if (std::memcmp(&avi[pos], "idx1", 4) != 0) continue;
    ByteWriter out;
    out.bytes(avi.data(), pos).bytes(avi.data() + next, avi.size() - next);
    out.patch_le32(4, rd(4) - uint32_t(next - pos));
    Bytes b = out.take();
    b[44] &= uint8_t(~0x30);  // avih (first in hdrl) dwFlags: AVIF_HASINDEX, AVIF_MUSTUSEINDEX
    return b;
  }
  return avi;
}

}  // namespace zeptest
