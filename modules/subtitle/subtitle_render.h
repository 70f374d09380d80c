// Subtitle rendering: subtitle text with its markup (i, b, u, s, font color)
// is drawn with FreeType into a four-value picture (0 background, 1 outline,
// 2 text) and packed into a QSUB bitmap subtitle packet for one of the three
// reference frame sizes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "layer1/zep_status.h"
#include "platform/zep_platform.h"

// Length of the time string "[HH:MM:SS.mmm-HH:MM:SS.mmm]" without terminator.
inline constexpr size_t kZepSubtitleTimeStringLength = 27;

// The renderer keeps the font file name (none at first). Nothing else is kept
// between entries: every rendered entry opens the font anew.
struct ZepSubtitleRenderer;

// -10 when memory runs out, -2 for a null out pointer.
ZEP_STATUS zep_subtitle_renderer_create(ZepSubtitleRenderer** out);
void zep_subtitle_renderer_destroy(ZepSubtitleRenderer* renderer);  // null is fine

// Keeps a copy of the wide font file name; null clears it (back to the default
// font). 0, or -1 when the name cannot be copied.
ZEP_STATUS zep_subtitle_renderer_set_font(ZepSubtitleRenderer* renderer,
                                          const zep_wchar_t* fileName);

// The font file used for the next entry: the name given with set_font, else
// the default font file when it exists, else a bold sans-serif face found
// through fontconfig. Empty when none can be found.
std::string zep_subtitle_renderer_font_path(const ZepSubtitleRenderer* renderer);

// A picture with one value (0..3) per pixel, rows from top to bottom.
struct ZepSubtitlePicture {
  std::vector<uint8_t> pixels;  // width * height values
  uint32_t width = 0;
  uint32_t height = 0;
  char timeString[kZepSubtitleTimeStringLength + 1] = {};  // zero-terminated
};

// Renders one entry. maxWidth/maxHeight are the frame size (the largest
// picture); utf8Text is zero-terminated; start/end in 100 ns units. On success
// `out` holds the picture cut to the bounding box of everything drawn (may be
// 0 x 0 when nothing was drawn) and the time string.
// -1 when the font cannot be opened or drawn, -2 for null arguments,
// -10 when memory runs out or the frame size is absurd.
ZEP_STATUS zep_subtitle_render_entry(ZepSubtitleRenderer* renderer, uint32_t maxWidth,
                                     uint32_t maxHeight, const char* utf8Text, int64_t start,
                                     int64_t end, ZepSubtitlePicture* out);

// Writes "[HH:MM:SS.mmm-HH:MM:SS.mmm]" plus a terminator into out (28 bytes).
void zep_subtitle_format_time_string(int64_t start, int64_t end,
                                     char out[kZepSubtitleTimeStringLength + 1]);

// Reads the time string at the start of a packet (at least 27 bytes) back into
// 100 ns units at millisecond precision. ZEP_ERR_INVALID_SUBTITLE when the text
// is not a time string.
ZEP_STATUS zep_subtitle_parse_time_string(const uint8_t* text, size_t size, int64_t* start,
                                          int64_t* end);

// ---- Markup ---------------------------------------------------------------

// The style in force for a character. The first face is asked bold, not
// italic; tags i, b, u, s and font color open styles, a closing tag restores
// the style before the innermost open one.
struct ZepSubtitleTextStyle {
  bool bold = true;
  bool italic = false;
  bool underline = false;
  bool strikeThrough = false;
  uint32_t color = 0xFFFFFF;  // 0xRRGGBB, white at first
  uint32_t pixelSize = 32;
  bool operator==(const ZepSubtitleTextStyle&) const = default;
};

struct ZepSubtitleStyledChar {
  char32_t code = 0;  // any character outside tags, line feeds included
  ZepSubtitleTextStyle style;
};

// Decodes UTF-8 text (invalid bytes become U+FFFD) and reads its markup: tags
// run from "<" to the next ">" outside double quotes and are never drawn; a
// text ending inside a tag ends there.
std::vector<ZepSubtitleStyledChar> zep_subtitle_parse_markup(const char* utf8, size_t size);

// ---- Packets --------------------------------------------------------------

// Builds the QSUB packet of a picture for a frame size: crop, pad, fit, run-
// length code, place. ZEP_ERR_INVALID_SUBTITLE (and no packet) when the frame
// size selects none of 640 x 480, 960 x 720, 1440 x 1080; -2 for a null packet.
ZEP_STATUS zep_subtitle_build_packet(const ZepSubtitlePicture& picture, uint32_t frameWidth,
                                     uint32_t frameHeight, std::vector<uint8_t>* packet);
