#include "tests/support/menu_builder.h"

#include "tests/support/riff_builder.h"

namespace zeptest::menu {

Bytes chunk(std::string_view id, const Bytes& data) { return RiffWriter().chunk(id, data).take(); }

Bytes list(std::string_view id, std::string_view form, const Bytes& children) {
  ByteWriter w;
  w.text(id).le32(uint32_t(4 + children.size())).text(form).bytes(children);
  return w.zeros(children.size() & 1).take();
}

Bytes concat(std::initializer_list<Bytes> parts) {
  ByteWriter w;
  for (const Bytes& part : parts) w.bytes(part);
  return w.take();
}

Bytes titl(const Bytes& record, const Bytes& children) {
  Bytes fixed = record;
  fixed.resize(40, 0);
  return chunk("TITL", concat({fixed, children}));
}

static ByteWriter& name16(ByteWriter& w, std::u16string_view name) {
  w.le32(uint32_t(name.size() * 2));
  for (char16_t c : name) w.le16(c);
  return w;
}

Bytes wmen(uint32_t key, std::u16string_view name) {
  ByteWriter w;
  w.le32(7).le32(key).le32(0x11).le32(0x22).le32(0x33).le32(0x44);
  return chunk("WMEN", name16(w, name).take());
}

Bytes menu_chunk(uint32_t version, std::u16string_view name, const Bytes& subchunks) {
  ByteWriter w;
  w.le64(0x0102030405060708ull).u8(0xA1).u8(0xA2).u8(0xA3).le32(version).le32(0x1111).le32(0x2222);
  return chunk("MENU", name16(w, name).bytes(subchunks).take());
}

Bytes title_record(uint32_t index) {
  Bytes record(40);
  for (uint32_t i = 0; i < 40; ++i) record[i] = uint8_t(index * 40 + i);
  return record;
}

// LGMN language group: a 28-byte header, then its pages.
static Bytes lgmn(const Bytes& pages) {
  return chunk("LGMN",
               ByteWriter().le32(1).le32(2).le16(3).le16(4).le32(5).le32(6).bytes(pages).take());
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
  sub.bytes(chunk("TRTB", ByteWriter().le32(0xBEEF).le32(0xCAFE).take()));
  auto pages = [](const std::vector<MenuPage>& list) {
    ByteWriter w;
    for (const MenuPage& page : list) w.bytes(wmen(page.key, page.name));
    return w.take();
  };
  sub.bytes(pages(spec.pages));
  for (const auto& group : spec.groups) sub.bytes(lgmn(pages(group)));
  ByteWriter menus;
  for (uint32_t version : spec.versionsBefore) menus.bytes(menu_chunk(version, u"Old", sub.data()));
  menus.bytes(menu_chunk(1, spec.name, sub.data()));
  return riff_menu(zpnu(menus.data()));
}

Bytes tiny_video_payload(uint32_t seed, uint32_t frame) {
  return pattern_bytes(seed * 1000 + frame, 40 + (frame * 7 + seed * 3) % 23);
}
Bytes tiny_audio_payload(uint32_t seed, uint32_t chunk) {
  return pattern_bytes(seed * 1000 + 500 + chunk, 1600);
}

Bytes tiny_title(uint32_t seed, uint32_t frames, uint32_t width, uint32_t height) {
  AviStreamSpec video{.handler = "FMP4", .compression = "FMP4", .rate = 10,
                      .suggestedBufferSize = 4096, .width = int(width), .height = int(height)};
  // 16-bit mono PCM timed by the byte rate: 1600 bytes are 100 ms.
  AviStreamSpec audio = audio_stream(1, 2, 16000, 2, 2, 16000, 8000, 1);
  audio.length = frames * 800, audio.suggestedBufferSize = 1600, audio.width = audio.height = 0;
  AviFileSpec spec{.streams = {video, audio}};
  for (uint32_t f = 0; f < frames; ++f) {
    spec.chunks.push_back({0, "dc", tiny_video_payload(seed, f), f % 5 == 0, 0});
    spec.chunks.push_back({1, "wb", tiny_audio_payload(seed, f), true, 0});
  }
  return build_avi(spec);
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
