// Reading subtitle text with its HTML-like markup into styled characters.
#include <string>

#include "modules/subtitle/subtitle_render.h"

namespace {

constexpr char32_t kReplacement = 0xFFFD;

// Decodes one UTF-8 character at text[*pos]; invalid or cut sequences,
// overlong forms and surrogates give U+FFFD and consume one byte.
char32_t decode_utf8(const uint8_t* text, size_t size, size_t* pos) {
  const uint8_t lead = text[*pos];
  if (lead < 0x80) {
    ++*pos;
    return lead;
  }
  int extra = 0;
  char32_t code = 0;
  char32_t minimum = 0;
  if ((lead & 0xE0) == 0xC0) {
    extra = 1;
    code = lead & 0x1F;
    minimum = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    extra = 2;
    code = lead & 0x0F;
    minimum = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    extra = 3;
    code = lead & 0x07;
    minimum = 0x10000;
  } else {
    ++*pos;
    return kReplacement;
  }
  if (size - *pos <= static_cast<size_t>(extra)) {
    ++*pos;
    return kReplacement;
  }
  for (int i = 1; i <= extra; ++i) {
    const uint8_t next = text[*pos + i];
    if ((next & 0xC0) != 0x80) {
      ++*pos;
      return kReplacement;
    }
    code = (code << 6) | (next & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) {
    ++*pos;
    return kReplacement;
  }
  *pos += static_cast<size_t>(extra) + 1;
  return code;
}

int hex_value(char32_t c) {
  if (c >= '0' && c <= '9') return static_cast<int>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<int>(c - 'a' + 10);
  if (c >= 'A' && c <= 'F') return static_cast<int>(c - 'A' + 10);
  return -1;
}

// "#RRGGBB" in either case.
bool parse_color(const std::u32string& value, uint32_t* color) {
  if (value.size() != 7 || value[0] != U'#') return false;
  uint32_t rgb = 0;
  for (size_t i = 1; i < 7; ++i) {
    const int digit = hex_value(value[i]);
    if (digit < 0) return false;
    rgb = (rgb << 4) | static_cast<uint32_t>(digit);
  }
  *color = rgb;
  return true;
}

bool is_space(char32_t c) { return c == U' ' || c == U'\t'; }

// The attributes of a "font ..." tag, each of the form name="value". Only a
// valid color counts; face and size change nothing.
bool find_font_color(const std::u32string& tag, uint32_t* color) {
  size_t i = 5;  // behind "font "
  bool found = false;
  while (i < tag.size()) {
    while (i < tag.size() && is_space(tag[i])) ++i;
    const size_t nameStart = i;
    while (i < tag.size() && tag[i] != U'=' && !is_space(tag[i])) ++i;
    const std::u32string name = tag.substr(nameStart, i - nameStart);
    if (i >= tag.size() || tag[i] != U'=') {
      ++i;
      continue;
    }
    ++i;  // '='
    std::u32string value;
    bool quoted = false;
    if (i < tag.size() && tag[i] == U'"') {
      const size_t close = tag.find(U'"', i + 1);
      quoted = close != std::u32string::npos;
      const size_t stop = quoted ? close : tag.size();
      value = tag.substr(i + 1, stop - i - 1);
      i = stop + 1;
    } else {
      // Not of the form name="value": skipped.
      while (i < tag.size() && !is_space(tag[i])) ++i;
    }
    uint32_t parsed = 0;
    if (quoted && name == U"color" && parse_color(value, &parsed)) {
      *color = parsed;
      found = true;
    }
  }
  return found;
}

}  // namespace

std::vector<ZepSubtitleStyledChar> zep_subtitle_parse_markup(const char* utf8, size_t size) {
  std::vector<ZepSubtitleStyledChar> out;
  if (utf8 == nullptr) return out;
  const auto* text = reinterpret_cast<const uint8_t*>(utf8);
  std::vector<ZepSubtitleTextStyle> open;  // open styles, innermost last
  ZepSubtitleTextStyle current;
  size_t pos = 0;
  while (pos < size) {
    const char32_t c = decode_utf8(text, size, &pos);
    if (c != U'<') {
      out.push_back({c, current});
      continue;
    }
    // A tag: up to the next '>' that is not inside double quotes.
    std::u32string tag;
    bool quoted = false;
    bool closed = false;
    while (pos < size) {
      const char32_t t = decode_utf8(text, size, &pos);
      if (t == U'"') quoted = !quoted;
      if (t == U'>' && !quoted) {
        closed = true;
        break;
      }
      tag.push_back(t);
    }
    if (!closed) break;  // the text ends inside the tag

    if (!tag.empty() && (tag.front() == U'/' || tag.back() == U'/')) {
      if (!open.empty()) {
        current = open.back();
        open.pop_back();
      }
      continue;
    }
    ZepSubtitleTextStyle next = current;
    if (tag == U"i") {
      next.italic = true;
    } else if (tag == U"b") {
      next.bold = true;
    } else if (tag == U"u") {
      next.underline = true;
    } else if (tag == U"s") {
      next.strikeThrough = true;
    } else if (tag.rfind(U"font ", 0) == 0 && find_font_color(tag, &next.color)) {
      // colour taken
    } else {
      continue;  // not a style: passed over
    }
    open.push_back(current);
    current = next;
  }
  return out;
}
