#include "tests/support/riff_builder.h"

#include <cstdio>
#include <cstring>
#include <map>
#include <stdexcept>

namespace zeptest {

RiffWriter& RiffWriter::begin_list(std::string_view id, std::string_view form) {
  begin_chunk(id).text(form);
  return *this;
}
RiffWriter& RiffWriter::chunk(std::string_view id, const Bytes& data) {
  text(id).le32(uint32_t(data.size())).bytes(data);
  if (data.size() & 1) u8(0);
  return *this;
}
RiffWriter& RiffWriter::begin_chunk(std::string_view id) {
  text(id);
  open_.push_back(size());
  le32(0);
  return *this;
}
RiffWriter& RiffWriter::end_chunk() {
  if (open_.empty()) throw std::logic_error("no open chunk");
  size_t at = open_.back();
  open_.pop_back();
  uint32_t n = uint32_t(size() - at - 4);
  patch_le32(at, n);
  if (n & 1) u8(0);
  return *this;
}

namespace {

std::string fcc4(std::string s) {
  s.resize(4, ' ');
  return s;
}

std::string chunk_id(const AviChunkSpec& c) {
  char id[8];
  std::snprintf(id, sizeof id, "%02u", c.stream % 100);
  return std::string(id) + c.suffix;
}

struct StdIx {
  uint32_t stream;
  uint32_t segment;
  std::vector<size_t> chunks;  // indexes into spec.chunks
  size_t position = 0;
};

void write_std_index(RiffWriter& w, const AviFileSpec& spec, StdIx& ix,
                     const std::vector<size_t>& chunkPos, uint64_t base) {
  char id[8];
  std::snprintf(id, sizeof id, "ix%02u", ix.stream % 100);
  ix.position = w.size();
  w.begin_chunk(id);
  w.le16(2).u8(0).u8(1).le32(uint32_t(ix.chunks.size()));
  w.text(chunk_id(spec.chunks[ix.chunks.front()]));
  w.le64(base).le32(0);
  for (size_t c : ix.chunks) {
    const AviChunkSpec& ch = spec.chunks[c];
    w.le32(uint32_t(chunkPos[c] + 8 - base));
    w.le32(uint32_t(ch.data.size()) | (ch.key ? 0u : 0x80000000u));
  }
  w.end_chunk();
}

}  // namespace

Bytes build_avi(const AviFileSpec& spec) {
  RiffWriter w;
  bool odml = spec.index == AviFileSpec::kOdml || spec.index == AviFileSpec::kOdmlType1;
  std::vector<size_t> chunkPos(spec.chunks.size(), 0);

  // Standard indexes per stream and segment, planned before writing so the
  // super indexes can reserve their room.
  std::vector<StdIx> stdIndexes;
  if (spec.index == AviFileSpec::kOdml) {
    for (uint32_t seg = 0; seg <= spec.segments; ++seg) {
      for (uint32_t s = 0; s < spec.streams.size(); ++s) {
        StdIx cur{s, seg, {}};
        for (size_t c = 0; c < spec.chunks.size(); ++c) {
          if (spec.chunks[c].stream != s || spec.chunks[c].segment != seg) continue;
          cur.chunks.push_back(c);
          if (spec.odmlChunksPerIx && cur.chunks.size() == spec.odmlChunksPerIx) {
            stdIndexes.push_back(cur);
            cur.chunks.clear();
          }
        }
        if (!cur.chunks.empty()) stdIndexes.push_back(cur);
      }
    }
  }
  std::map<uint32_t, size_t> indxPos;

  uint32_t videoFrames = 0;
  const AviStreamSpec* firstVideo = nullptr;
  for (auto& s : spec.streams)
    if (s.kind == AviStreamSpec::kVideo && !firstVideo) firstVideo = &s;
  for (auto& c : spec.chunks)
    if (firstVideo && c.suffix == "dc" && c.stream == 0) ++videoFrames;

  w.begin_list("RIFF", "AVI ");
  w.begin_list("LIST", "hdrl");
  w.begin_chunk("avih");
  w.le32(firstVideo && firstVideo->rate
             ? uint32_t(1000000ull * firstVideo->scale / firstVideo->rate)
             : 0);
  w.le32(0).le32(0).le32(spec.avihFlags).le32(videoFrames).le32(0);
  w.le32(uint32_t(spec.streams.size())).le32(0);
  w.le32(firstVideo ? uint32_t(firstVideo->width) : 0)
      .le32(firstVideo ? uint32_t(firstVideo->height) : 0);
  w.zeros(16);
  w.end_chunk();
  for (uint32_t s = 0; s < spec.streams.size(); ++s) {
    const AviStreamSpec& st = spec.streams[s];
    uint32_t count = 0;
    for (auto& c : spec.chunks)
      if (c.stream == s) ++count;
    w.begin_list("LIST", "strl");
    w.begin_chunk("strh");
    const char* type = st.kind == AviStreamSpec::kAudio   ? "auds"
                       : st.kind == AviStreamSpec::kOther ? "txts"
                                                          : "vids";
    w.text(type).text(
        fcc4(st.kind == AviStreamSpec::kAudio ? std::string("\1\0\0\0", 4) : st.handler));
    w.le32(0).le16(0).le16(0).le32(0).le32(st.scale).le32(st.rate).le32(0);
    w.le32(st.length ? st.length : count).le32(st.suggestedBufferSize).le32(0xFFFFFFFFu);
    w.le32(st.sampleSize).le16(0).le16(0).le16(uint16_t(st.width)).le16(uint16_t(st.height));
    w.end_chunk();
    w.begin_chunk("strf");
    if (st.kind == AviStreamSpec::kAudio) {
      w.le16(st.formatTag).le16(st.channels).le32(st.samplesPerSec).le32(st.avgBytesPerSec);
      w.le16(st.blockAlign).le16(st.bitsPerSample);
      if (!st.shortWave) {
        w.le16(uint16_t(st.waveExtra.size())).bytes(st.waveExtra);
      }
    } else if (st.kind == AviStreamSpec::kOther) {
      w.le32(0);
    } else {
      w.le32(40).le32(uint32_t(st.width)).le32(uint32_t(st.height)).le16(1).le16(24);
      w.text(fcc4(st.compression)).le32(uint32_t(st.width * st.height * 3)).le32(0).le32(0);
      w.le32(0).le32(0);
    }
    w.end_chunk();
    if (!st.name.empty()) w.chunk("strn", Bytes(st.name.begin(), st.name.end()));
    if (odml && st.kind != AviStreamSpec::kOther) {
      indxPos[s] = w.size();
      uint32_t entries = 0;
      if (spec.index == AviFileSpec::kOdml) {
        for (auto& ix : stdIndexes)
          if (ix.stream == s) ++entries;
      } else {
        entries = count;
      }
      w.begin_chunk("indx");
      bool type1 = spec.index == AviFileSpec::kOdmlType1;
      w.le16(type1 ? 2 : 4).u8(0).u8(type1 ? 1 : 0).le32(entries);
      char id[8];
      std::snprintf(id, sizeof id, "%02u%s", s, st.kind == AviStreamSpec::kAudio ? "wb" : "dc");
      w.text(id).le64(0).le32(0);
      w.zeros(size_t(entries) * (type1 ? 8 : 16));
      w.end_chunk();
    }
    w.end_list();
  }
  w.end_list();  // hdrl
  if (!spec.info.empty()) {
    w.begin_list("LIST", "INFO");
    for (auto& [id, data] : spec.info) w.chunk(id, data);
    w.end_list();
  }

  auto write_idx1 = [&](uint64_t moviPos) {
    w.begin_chunk("idx1");
    bool first = true;
    if (!spec.idx1Empty) {
      for (size_t c = 0; c < spec.chunks.size(); ++c) {
        const AviChunkSpec& ch = spec.chunks[c];
        if (ch.segment != 0) continue;
        if (spec.idx1OneEntry && !first) break;
        first = false;
        w.text(chunk_id(ch)).le32(ch.key ? 0x10 : 0);
        uint64_t off =
            spec.index == AviFileSpec::kIdx1Absolute ? chunkPos[c] : chunkPos[c] - (moviPos + 8);
        w.le32(uint32_t(off)).le32(uint32_t(ch.data.size()));
      }
    }
    w.end_chunk();
  };
  bool idx1 = spec.index == AviFileSpec::kIdx1Relative || spec.index == AviFileSpec::kIdx1Absolute;
  if (idx1 && spec.idx1BeforeMovi) write_idx1(0);

  auto write_movi = [&](uint32_t seg) {
    size_t moviPos = w.size();
    w.begin_list("LIST", "movi");
    for (size_t c = 0; c < spec.chunks.size(); ++c) {
      const AviChunkSpec& ch = spec.chunks[c];
      if (ch.segment != seg) continue;
      bool rec = spec.recLists && seg == 0;
      if (rec) w.begin_list("LIST", "rec ");
      chunkPos[c] = w.size();
      w.chunk(chunk_id(ch), ch.data);
      if (rec) w.end_list();
    }
    for (auto& ix : stdIndexes)
      if (ix.segment == seg) write_std_index(w, spec, ix, chunkPos, moviPos);
    w.end_list();
    return moviPos;
  };
  size_t movi0 = write_movi(0);
  if (idx1 && !spec.idx1BeforeMovi) write_idx1(movi0);
  w.end_list();  // RIFF AVI
  if (!spec.cover.empty() && spec.segments == 0) {
    w.begin_list("RIFF", "META");
    w.begin_list("LIST", "NRRL");
    w.chunk("dpic", spec.cover);
    w.end_list();
    w.end_list();
  }
  for (uint32_t seg = 1; seg <= spec.segments; ++seg) {
    w.begin_list("RIFF", "AVIX");
    write_movi(seg);
    w.end_list();
  }

  // Fill the OpenDML indexes now that every position is known.
  for (auto& [s, pos] : indxPos) {
    size_t at = pos + 8 + 24;
    if (spec.index == AviFileSpec::kOdml) {
      for (auto& ix : stdIndexes) {
        if (ix.stream != s) continue;
        w.patch_le64(at, ix.position);
        w.patch_le32(at + 8, uint32_t(32 + ix.chunks.size() * 8));
        w.patch_le32(at + 12, uint32_t(ix.chunks.size()));
        at += 16;
      }
    } else {
      for (size_t c = 0; c < spec.chunks.size(); ++c) {
        if (spec.chunks[c].stream != s) continue;
        w.patch_le32(at, uint32_t(chunkPos[c] + 8));
        w.patch_le32(
            at + 4, uint32_t(spec.chunks[c].data.size()) | (spec.chunks[c].key ? 0u : 0x80000000u));
        at += 8;
      }
    }
  }
  return w.take();
}

Bytes pattern_bytes(uint32_t tag, size_t size) {
  Bytes b(size);
  uint32_t x = tag * 2654435761u + 12345u;
  for (size_t i = 0; i < size; ++i) {
    x = x * 1103515245u + 12345u;
    b[i] = uint8_t(x >> 16);
  }
  return b;
}

namespace {
// Filler that contains no start code prefix.
Bytes filler(uint32_t tag, size_t size) {
  Bytes b = pattern_bytes(tag, size);
  for (auto& v : b) v |= 0x80;
  return b;
}
Bytes with_prefix(Bytes head, uint32_t tag, size_t size) {
  Bytes tail = filler(tag, size > head.size() ? size - head.size() : 0);
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}
}  // namespace

Bytes mpeg4_frame(bool key, uint32_t tag, size_t size) {
  return with_prefix({0, 0, 1, 0xB6, uint8_t(key ? 0x10 : 0x50)}, tag, size);
}
Bytes h264_frame(bool idr, uint32_t tag, size_t size) {
  if (idr)
    return with_prefix({0, 0, 0, 1, 0x67, 0x42, 0, 0, 0, 1, 0x68, 0xCE, 0, 0, 1, 0x65, 0x88}, tag,
                       size);
  return with_prefix({0, 0, 0, 1, 0x09, 0xF0, 0, 0, 1, 0x41, 0x9A}, tag, size);
}
Bytes mpeg2_frame(bool intra, uint32_t tag, size_t size) {
  // Picture header: temporal reference (10 bits), picture_coding_type (3).
  uint8_t type = intra ? 1 : 2;
  Bytes head = {0, 0, 1, 0x00, 0x00, uint8_t(type << 3), 0xFF, 0xF8};
  if (intra) head.insert(head.begin(), {0, 0, 1, 0xB3, 0x0A, 0x00, 0x78, 0x13});
  return with_prefix(head, tag, size);
}
Bytes subtitle_packet(const std::string& start, const std::string& end, size_t extra) {
  std::string header = "[" + start + "-" + end + "]";
  Bytes b(header.begin(), header.end());
  Bytes tail = pattern_bytes(uint32_t(extra), extra);
  b.insert(b.end(), tail.begin(), tail.end());
  return b;
}

Bytes strip_idx1(const Bytes& avi) {
  auto rd = [&](size_t at) {
    return uint32_t(avi[at]) | uint32_t(avi[at + 1]) << 8 | uint32_t(avi[at + 2]) << 16 |
           uint32_t(avi[at + 3]) << 24;
  };
  if (avi.size() < 12) return avi;
  uint32_t riffSize = rd(4);
  size_t end = std::min<size_t>(avi.size(), size_t(riffSize) + 8);
  size_t pos = 12;
  while (pos + 8 <= end) {
    uint32_t size = rd(pos + 4);
    size_t next = pos + 8 + size + (size & 1);
    if (std::memcmp(&avi[pos], "idx1", 4) == 0) {
      Bytes out(avi.begin(), avi.begin() + long(pos));
      out.insert(out.end(), avi.begin() + long(std::min(next, avi.size())), avi.end());
      uint32_t newSize = riffSize - uint32_t(next - pos);
      for (int i = 0; i < 4; ++i) out[4 + i] = uint8_t(newSize >> (8 * i));
      // avih dwFlags: clear AVIF_HASINDEX (0x10) and AVIF_MUSTUSEINDEX (0x20).
      for (size_t p = 12; p + 24 < out.size(); ++p) {
        if (std::memcmp(&out[p], "avih", 4) == 0) {
          out[p + 8 + 12] &= uint8_t(~0x30);
          break;
        }
      }
      return out;
    }
    pos = next;
  }
  return avi;
}

}  // namespace zeptest
