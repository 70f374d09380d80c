#include "tests/support/ebml_writer.h"

#include <cstring>

namespace zeptest {

Bytes ebml_vint(uint64_t value, int length) {
  if (length == 0) {
    length = 1;
    while (length < 8 && value >= (uint64_t(1) << (7 * length)) - 1) ++length;
  }
  Bytes out(static_cast<size_t>(length), 0);
  for (int i = length - 1; i >= 0; --i) {
    out[size_t(i)] = uint8_t(value);
    value >>= 8;
  }
  out[0] |= uint8_t(0x80 >> (length - 1));
  return out;
}

Ebml Ebml::node(uint32_t id, std::initializer_list<Ebml> children) {
  return node(id, std::vector<Ebml>(children));
}

Ebml Ebml::node(uint32_t id, std::vector<Ebml> children) {
  Ebml e;
  e.id = id;
  e.master = true;
  e.children = std::move(children);
  return e;
}

Ebml Ebml::uint(uint32_t id, uint64_t value, int width) {
  if (width == 0) {
    width = 1;
    while (width < 8 && (value >> (8 * width)) != 0) ++width;
  }
  Ebml e;
  e.id = id;
  for (int i = width - 1; i >= 0; --i) e.payload.push_back(i >= 8 ? 0 : uint8_t(value >> (8 * i)));
  return e;
}

Ebml Ebml::sint(uint32_t id, int64_t value, int width) { return uint(id, uint64_t(value), width); }

Ebml Ebml::flt(uint32_t id, double value, int width) {
  uint64_t bits = 0;
  if (width == 4) {
    float f = float(value);
    uint32_t b32 = 0;
    std::memcpy(&b32, &f, 4);
    bits = b32;
  } else {
    std::memcpy(&bits, &value, 8);
  }
  return uint(id, bits, width);
}

Ebml Ebml::str(uint32_t id, const std::string& value) {
  return bin(id, Bytes(value.begin(), value.end()));
}

Ebml Ebml::bin(uint32_t id, Bytes value) {
  Ebml e;
  e.id = id;
  e.payload = std::move(value);
  return e;
}

Bytes Ebml::bytes() const {
  Bytes body = payload;
  for (const Ebml& c : children) {
    Bytes b = c.bytes();
    body.insert(body.end(), b.begin(), b.end());
  }
  ByteWriter w;
  for (int shift = 24; shift >= 0; shift -= 8)
    if ((id >> shift) != 0 || shift == 0) w.u8(uint8_t(id >> shift));
  if (unknownSize) {
    const int n = sizeLength ? sizeLength : 1;
    w.u8(uint8_t(0xFF >> (n - 1)));
    for (int i = 1; i < n; ++i) w.u8(0xFF);
  } else {
    w.bytes(ebml_vint(sizeOverride ? forcedSize : body.size(), sizeLength));
  }
  w.bytes(body);
  return w.take();
}

Ebml ebml_header() {
  return Ebml::node(0x1A45DFA3, {Ebml::uint(0x4286, 1), Ebml::str(0x4282, "matroska"),
                                 Ebml::uint(0x4287, 4), Ebml::uint(0x4285, 2)});
}

Ebml track_entry(uint64_t number, uint64_t uid, uint64_t type, const std::string& codec,
                 std::vector<Ebml> more) {
  std::vector<Ebml> children = {Ebml::uint(0xD7, number), Ebml::uint(0x73C5, uid),
                                Ebml::uint(0x83, type), Ebml::str(0x86, codec)};
  for (Ebml& e : more) children.push_back(std::move(e));
  return Ebml::node(0xAE, std::move(children));
}

Bytes block_payload(uint64_t track, int16_t relative, uint8_t flags, const Bytes& data) {
  ByteWriter w;
  w.bytes(ebml_vint(track));
  w.be16(uint16_t(relative));
  w.u8(flags);
  w.bytes(data);
  return w.take();
}

Bytes matroska_file(std::initializer_list<Ebml> topLevel) {
  Bytes out = ebml_header().bytes();
  for (const Ebml& e : topLevel) {
    Bytes b = e.bytes();
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

}  // namespace zeptest
