// The menu section (RIFF MENU > LIST ZPNU > MENU > MDIA (TITL > MEDS, CHAP; MNTK > MEDS, MEDT),
// TRTB, WMEN pages, LGMN groups) and the cover's RIFF META, one chunk per function.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tests/support/byte_writer.h"

namespace zeptest::menu {

Bytes chunk(std::string_view id, const Bytes& data);  // with the pad byte of an odd size
Bytes list(std::string_view id, std::string_view form, const Bytes& children);
Bytes concat(std::initializer_list<Bytes> parts);

// MEDS: two u32 values and the position of a media RIFF; MEDT: the media key and four u32s.
inline Bytes meds(uint64_t position, uint32_t value1 = 0, uint32_t value2 = 0) {
  return chunk("MEDS", ByteWriter().le32(value1).le32(value2).le64(position).take());
}
inline Bytes medt(uint32_t key) {
  return chunk("MEDT", ByteWriter().le32(key).le32(1).le32(2).le32(3).le32(4).take());
}
inline Bytes chap(uint32_t n) { return chunk("CHAP", ByteWriter().le32(n).le32(0).take()); }
// TITL: the 40-byte title record (padded/cut to 40), then its sub-chunks.
Bytes titl(const Bytes& record, const Bytes& children);
// MDIA and MNTK: a 4-byte field, then the children.
inline Bytes mdia(const Bytes& c) { return chunk("MDIA", concat({{0x4D, 0, 0, 0}, c})); }
inline Bytes mntk(const Bytes& c) { return chunk("MNTK", concat({{0x4E, 0, 0, 0}, c})); }
// WMEN page: six u32 values (the second, at chunk offset 12, the media key), the name.
Bytes wmen(uint32_t key, std::u16string_view name = u"");
// MENU chunk of a version with its name and sub-chunks.
Bytes menu_chunk(uint32_t version, std::u16string_view name, const Bytes& subchunks);
inline Bytes riff_menu(const Bytes& children) { return list("RIFF", "MENU", children); }
inline Bytes zpnu(const Bytes& children) { return list("LIST", "ZPNU", children); }
// RIFF MENU > LIST ZPNU > one MENU chunk of version 1 without name.
inline Bytes section(const Bytes& subchunks) {
  return riff_menu(zpnu(menu_chunk(1, u"", subchunks)));
}
// RIFF META > LIST NRRL > dpic with the picture bytes.
inline Bytes riff_meta(const Bytes& picture) {
  return list("RIFF", "META", list("LIST", "NRRL", chunk("dpic", picture)));
}

struct MenuPage { uint32_t key = 0; std::u16string name; };
struct MenuMedia { uint64_t position = 0; std::vector<uint32_t> keys; };  // a MEDT per key
struct MenuSpec {
  std::vector<uint64_t> titles;               // one TITL each, with one MEDS
  std::vector<uint32_t> chapters;             // CHAP chunks per title (missing: 0)
  std::vector<MenuMedia> media;               // MNTK content
  bool withTrack = true;                      // write MNTK at all
  std::vector<MenuPage> pages;                // WMEN pages directly in MENU
  std::vector<std::vector<MenuPage>> groups;  // LGMN groups after the pages
  std::u16string name = u"Main menu";
  std::vector<uint32_t> versionsBefore;  // MENU chunks of these versions first
};
Bytes build_menu_section(const MenuSpec& spec);

// The 40-byte record of title `index`: bytes index*40 + i.
Bytes title_record(uint32_t index);

// FMP4 at 10 fps (every fifth frame key), each frame with 100 ms of 8 kHz 16-bit mono PCM.
Bytes tiny_title(uint32_t seed, uint32_t frames, uint32_t width = 32, uint32_t height = 24);
Bytes tiny_video_payload(uint32_t seed, uint32_t frame);
Bytes tiny_audio_payload(uint32_t seed, uint32_t chunk);

// Title 0, the section, the other titles, the menu media (positions filled in).
Bytes build_menu_file(MenuSpec spec, const std::vector<Bytes>& titles,
                      const std::vector<Bytes>& menu_media);

}  // namespace zeptest::menu
