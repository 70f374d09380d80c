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

Bytes mdia(const Bytes& children) {
  return chunk("MDIA", ByteWriter().le32(0x4D).bytes(children).take());
}
Bytes mntk(const Bytes& children) {
  return chunk("MNTK", ByteWriter().le32(0x4E).bytes(children).take());
}

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

Bytes tiny_video_payload(uint32_t seed, uint32_t frame) {
  Bytes payload(40 + (frame * 7 + seed * 3) % 23);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(seed * 31 + frame * 5 + i);
  return payload;
}

Bytes tiny_audio_payload(uint32_t seed, uint32_t chunk) {
  Bytes payload(1600);
  for (size_t i = 0; i < payload.size(); ++i) payload[i] = uint8_t(seed * 17 + chunk + i * 3);
  return payload;
}

Bytes tiny_title(uint32_t seed, uint32_t frames, uint32_t width, uint32_t height) {
  ByteWriter avih;
  avih.le32(100000).le32(20000).le32(0).le32(0x10).le32(frames).le32(0).le32(2).le32(4096);
  avih.le32(width).le32(height).zeros(16);
  ByteWriter video_strh;
  video_strh.text("vids").text("FMP4").le32(0).le16(0).le16(0).le32(0).le32(1).le32(10).le32(0);
  video_strh.le32(frames).le32(4096).le32(0xFFFFFFFFu).le32(0);
  video_strh.le16(0).le16(0).le16(uint16_t(width)).le16(uint16_t(height));
  ByteWriter bitmap;
  bitmap.le32(40).le32(width).le32(height).le16(1).le16(24).text("FMP4").le32(width * height * 3);
  bitmap.le32(0).le32(0).le32(0).le32(0);
  ByteWriter audio_strh;
  audio_strh.text("auds").le32(0).le32(0).le16(0).le16(0).le32(0).le32(2).le32(16000).le32(0);
  audio_strh.le32(frames * 800).le32(1600).le32(0xFFFFFFFFu).le32(2).zeros(8);
  ByteWriter wave;
  wave.le16(1).le16(1).le32(8000).le32(16000).le16(2).le16(16).le16(0);
  const Bytes hdrl =
      list("LIST", "hdrl",
           concat({chunk("avih", avih.data()),
                   list("LIST", "strl",
                        concat({chunk("strh", video_strh.data()), chunk("strf", bitmap.data())})),
                   list("LIST", "strl",
                        concat({chunk("strh", audio_strh.data()), chunk("strf", wave.data())}))}));

  ByteWriter movi_data;
  ByteWriter index;
  for (uint32_t f = 0; f < frames; ++f) {
    const Bytes video = tiny_video_payload(seed, f);
    index.text("00dc")
        .le32(f % 5 == 0 ? 0x10 : 0)
        .le32(uint32_t(movi_data.size() + 4))
        .le32(uint32_t(video.size()));
    movi_data.bytes(chunk("00dc", video));
    const Bytes audio = tiny_audio_payload(seed, f);
    index.text("01wb").le32(0x10).le32(uint32_t(movi_data.size() + 4)).le32(uint32_t(audio.size()));
    movi_data.bytes(chunk("01wb", audio));
  }
  return list("RIFF", "AVI ",
              concat({hdrl, list("LIST", "movi", movi_data.data()), chunk("idx1", index.data())}));
}

Bytes build_menu_file(MenuSpec spec, const std::vector<Bytes>& titles,
                      const std::vector<Bytes>& menu_media) {
  spec.titles.assign(titles.size(), 0);
  spec.media.resize(menu_media.size());
  // The section's size does not depend on the positions it carries.
  const size_t section_size = build_menu_section(spec).size();
  uint64_t position = titles.empty() ? 0 : titles[0].size() + section_size;
  for (size_t t = 1; t < titles.size(); ++t) {
    spec.titles[t] = position;
    position += titles[t].size();
  }
  for (size_t m = 0; m < menu_media.size(); ++m) {
    spec.media[m].position = position;
    position += menu_media[m].size();
  }
  ByteWriter file;
  if (!titles.empty()) file.bytes(titles[0]);
  file.bytes(build_menu_section(spec));
  for (size_t t = 1; t < titles.size(); ++t) file.bytes(titles[t]);
  for (const Bytes& media : menu_media) file.bytes(media);
  return file.take();
}

}  // namespace zeptest::menu
