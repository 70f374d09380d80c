#include "tests/support/menu_builder.h"

namespace zeptest::menu {

Bytes chunk(std::string_view id, const Bytes& data) {
  ByteWriter w;
  w.text(id).le32(uint32_t(data.size())).bytes(data);
  if (data.size() & 1) w.u8(0);
  return w.take();
}

Bytes list(std::string_view id, std::string_view form, const Bytes& children) {
  ByteWriter w;
  w.text(id).le32(uint32_t(children.size() + 4)).text(form).bytes(children);
  if (children.size() & 1) w.u8(0);
  return w.take();
}

Bytes concat(std::initializer_list<Bytes> parts) {
  ByteWriter w;
  for (const Bytes& part : parts) w.bytes(part);
  return w.take();
}

Bytes meds(uint64_t position, uint32_t value1, uint32_t value2) {
  return chunk("MEDS", ByteWriter().le32(value1).le32(value2).le64(position).take());
}

Bytes medt(uint32_t key) {
  return chunk("MEDT", ByteWriter().le32(key).le32(1).le32(2).le32(3).le32(4).take());
}

Bytes chap(uint32_t number) { return chunk("CHAP", ByteWriter().le32(number).le32(0).take()); }

Bytes titl(const Bytes& record, const Bytes& children) {
  Bytes fixed = record;
  fixed.resize(40, 0);
  return chunk("TITL", ByteWriter().bytes(fixed).bytes(children).take());
}

Bytes mdia(const Bytes& children) { return chunk("MDIA", ByteWriter().le32(0x4D).bytes(children).take()); }
Bytes mntk(const Bytes& children) { return chunk("MNTK", ByteWriter().le32(0x4E).bytes(children).take()); }

Bytes wmen(uint32_t key, std::u16string_view name) {
  ByteWriter w;
  w.le32(7).le32(key).le32(0x11).le32(0x22).le32(0x33).le32(0x44).le32(uint32_t(name.size() * 2));
  for (char16_t c : name) w.le16(c);
  return chunk("WMEN", w.take());
}

Bytes lgmn(const Bytes& pages) {
  ByteWriter w;
  w.le32(1).le32(2).le16(3).le16(4).le32(5).le32(6).bytes(pages);
  return chunk("LGMN", w.take());
}

Bytes trtb(const Bytes& data) { return chunk("TRTB", data); }

Bytes menu_chunk(uint32_t version, std::u16string_view name, const Bytes& subchunks) {
  ByteWriter w;
  w.le64(0x0102030405060708ull).u8(0xA1).u8(0xA2).u8(0xA3).le32(version).le32(0x1111).le32(0x2222);
  w.le32(uint32_t(name.size() * 2));
  for (char16_t c : name) w.le16(c);
  w.bytes(subchunks);
  return chunk("MENU", w.take());
}

Bytes zpnu(const Bytes& children) { return list("LIST", "ZPNU", children); }
Bytes riff_menu(const Bytes& children) { return list("RIFF", "MENU", children); }

Bytes riff_meta(const Bytes& picture) {
  return list("RIFF", "META", list("LIST", "NRRL", chunk("dpic", picture)));
}

Bytes title_record(uint32_t index) {
  Bytes record(40);
  for (uint32_t i = 0; i < 40; ++i) record[i] = uint8_t(index * 40 + i);
  return record;
}

Bytes build_menu_section(const MenuSpec& spec) {
  ByteWriter media_list;
  for (size_t t = 0; t < spec.titles.size(); ++t) {
    ByteWriter children;
    children.bytes(meds(spec.titles[t], uint32_t(t), 0x5A));
    const uint32_t chapters = t < spec.chapters.size() ? spec.chapters[t] : 0;
    for (uint32_t c = 0; c < chapters; ++c) children.bytes(chap(c));
    media_list.bytes(titl(title_record(uint32_t(t)), children.data()));
  }
  if (spec.withTrack) {
    ByteWriter track;
    for (size_t m = 0; m < spec.media.size(); ++m) {
      track.bytes(meds(spec.media[m].position, uint32_t(m), 0x6B));
      for (uint32_t key : spec.media[m].keys) track.bytes(medt(key));
    }
    media_list.bytes(mntk(track.data()));
  }
  ByteWriter sub;
  sub.bytes(mdia(media_list.data()));
  sub.bytes(trtb(ByteWriter().le32(0xBEEF).le32(0xCAFE).take()));
  for (const MenuPage& page : spec.pages) sub.bytes(wmen(page.key, page.name));
  for (const auto& group : spec.groups) {
    ByteWriter pages;
    for (const MenuPage& page : group) pages.bytes(wmen(page.key, page.name));
    sub.bytes(lgmn(pages.data()));
  }
  ByteWriter menus;
  for (uint32_t version : spec.versionsBefore) {
    menus.bytes(menu_chunk(version, u"Old", sub.data()));
  }
  menus.bytes(menu_chunk(1, spec.name, sub.data()));
  return riff_menu(zpnu(menus.data()));
}

}  // namespace zeptest::menu
