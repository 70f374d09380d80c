// Drawing subtitle text with FreeType: every character is drawn as a glyph
// stroked with a round outline of a little over two pixels, with the plain
// glyph laid over it, and the drawing is reduced to the values 0 (background),
// 1 (outline) and 2 (text).
#include "modules/subtitle/subtitle_render.h"

#include <fontconfig/fontconfig.h>
#include <ft2build.h>
#include FT_FREETYPE_H
#include FT_GLYPH_H
#include FT_STROKER_H
#include FT_SYNTHESIS_H

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <new>
#include <string>

struct ZepSubtitleRenderer {
  std::u16string fontFile;  // empty: the default font
};

namespace {

constexpr const char* kDefaultFontFile = "C:/WINDOWS/Fonts/ARIALUNI.TTF";
constexpr uint32_t kOutlineColor = 0x0000FF;  // pure blue
constexpr int kLineGap = 32 / 5;              // between lines of 32 pixels
// Frame sizes beyond this are drawn as if this large: the canvas is 1.5 times
// the frame in each direction, and a frame size set by a caller must not
// decide an unbounded allocation.
constexpr uint32_t kMaxFrameSide = 4096;
// FreeType collections with more faces than this are searched only this far.
constexpr long kMaxFacesSearched = 64;
constexpr uint8_t kTextFlag = 0x80;  // canvas cell drawn by a glyph's body

bool file_exists(const char* path) {
  struct stat info;
  return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

// A bold sans-serif face through fontconfig, looked up once per process.
std::string fontconfig_bold_sans() {
  static const std::string found = [] {
    std::string path;
    FcConfig* config = FcInitLoadConfigAndFonts();
    if (config == nullptr) return path;
    FcPattern* pattern = FcNameParse(reinterpret_cast<const FcChar8*>("sans-serif:bold:slant=0"));
    if (pattern != nullptr) {
      FcConfigSubstitute(config, pattern, FcMatchPattern);
      FcDefaultSubstitute(pattern);
      FcResult result = FcResultNoMatch;
      FcPattern* match = FcFontMatch(config, pattern, &result);
      if (match != nullptr) {
        FcChar8* file = nullptr;
        if (FcPatternGetString(match, FC_FILE, 0, &file) == FcResultMatch && file != nullptr) {
          path = reinterpret_cast<const char*>(file);
        }
        FcPatternDestroy(match);
      }
      FcPatternDestroy(pattern);
    }
    FcConfigDestroy(config);
    return path;
  }();
  return found;
}

// The class of a colour by the sum S of its three bytes: compared with the
// references black, pure blue, white and black as unsigned 32-bit sums of
// byte differences, S = 0 gives 0, S up to 255 gives 1, anything above 2.
uint8_t color_class(uint32_t rgb) {
  const uint32_t sum = (rgb & 0xFF) + ((rgb >> 8) & 0xFF) + ((rgb >> 16) & 0xFF);
  if (sum == 0) return 0;
  return sum <= 255 ? 1 : 2;
}

// One byte per pixel: 0 empty, 1 outline, kTextFlag | class for glyph bodies.
// Outline never covers a glyph body drawn before it.
class Canvas {
 public:
  Canvas(uint32_t width, uint32_t height)
      : width_(width), height_(height), cells_(static_cast<size_t>(width) * height, 0) {}
  uint32_t width() const { return width_; }
  uint32_t height() const { return height_; }

  void outline(int64_t x, int64_t y) {
    if (!inside(x, y)) return;
    uint8_t& cell = at(x, y);
    if ((cell & kTextFlag) == 0) cell = color_class(kOutlineColor);
  }
  void text(int64_t x, int64_t y, uint32_t rgb) {
    if (inside(x, y)) at(x, y) = static_cast<uint8_t>(kTextFlag | color_class(rgb));
  }
  // Widens the bounding box of what was drawn by a rectangle (clipped).
  void include(int64_t x0, int64_t y0, int64_t x1, int64_t y1) {
    x0 = std::max<int64_t>(x0, 0);
    y0 = std::max<int64_t>(y0, 0);
    x1 = std::min<int64_t>(x1, width_);
    y1 = std::min<int64_t>(y1, height_);
    if (x0 >= x1 || y0 >= y1) return;
    if (!hasBox_) {
      box_ = {x0, y0, x1, y1};
      hasBox_ = true;
      return;
    }
    box_[0] = std::min(box_[0], x0);
    box_[1] = std::min(box_[1], y0);
    box_[2] = std::max(box_[2], x1);
    box_[3] = std::max(box_[3], y1);
  }
  // The bounding box as a picture of values 0..2.
  void cut(ZepSubtitlePicture* out) const {
    out->pixels.clear();
    out->width = out->height = 0;
    if (!hasBox_) return;
    out->width = static_cast<uint32_t>(box_[2] - box_[0]);
    out->height = static_cast<uint32_t>(box_[3] - box_[1]);
    out->pixels.resize(static_cast<size_t>(out->width) * out->height);
    for (uint32_t y = 0; y < out->height; ++y) {
      const uint8_t* src = cells_.data() + static_cast<size_t>(box_[1] + y) * width_ + box_[0];
      uint8_t* dst = out->pixels.data() + static_cast<size_t>(y) * out->width;
      for (uint32_t x = 0; x < out->width; ++x) dst[x] = src[x] & 3u;
    }
  }

 private:
  bool inside(int64_t x, int64_t y) const { return x >= 0 && y >= 0 && x < width_ && y < height_; }
  uint8_t& at(int64_t x, int64_t y) {
    return cells_[static_cast<size_t>(y) * width_ + static_cast<size_t>(x)];
  }

  uint32_t width_;
  uint32_t height_;
  std::vector<uint8_t> cells_;
  std::array<int64_t, 4> box_{};  // x0, y0, x1, y1 (exclusive ends)
  bool hasBox_ = false;
};

// Coverage 0..255 of a glyph bitmap pixel (grey or monochrome bitmaps).
uint8_t coverage(const FT_Bitmap& bitmap, unsigned x, unsigned y) {
  const int pitch = bitmap.pitch;
  const unsigned row = pitch >= 0 ? y : bitmap.rows - 1 - y;
  const unsigned char* line =
      bitmap.buffer + static_cast<size_t>(row) * static_cast<size_t>(pitch >= 0 ? pitch : -pitch);
  if (bitmap.pixel_mode == FT_PIXEL_MODE_GRAY) return line[x];
  if (bitmap.pixel_mode == FT_PIXEL_MODE_MONO) return (line[x / 8] & (0x80 >> (x % 8))) ? 255 : 0;
  return 0;
}

// The library, the stroker and the faces of one rendered entry; everything is
// released when the entry is done.
class FontSession {
 public:
  ~FontSession() {
    for (FT_Face face : faces_) {
      if (face != nullptr) FT_Done_Face(face);
    }
    if (stroker_ != nullptr) FT_Stroker_Done(stroker_);
    if (library_ != nullptr) FT_Done_FreeType(library_);
  }

  bool open(const std::string& path, uint32_t pixelSize) {
    path_ = path;
    pixelSize_ = pixelSize;
    if (FT_Init_FreeType(&library_) != 0) {
      library_ = nullptr;
      return false;
    }
    if (FT_Stroker_New(library_, &stroker_) != 0) {
      stroker_ = nullptr;
      return false;
    }
    // Radius: the pixel size + 100 in 1/64 pixels.
    FT_Stroker_Set(stroker_, static_cast<FT_Fixed>(pixelSize) + 100, FT_STROKER_LINECAP_ROUND,
                   FT_STROKER_LINEJOIN_ROUND, 0);
    return face(ZepSubtitleTextStyle{}) != nullptr;
  }

  FT_Stroker stroker() const { return stroker_; }

  // The face for a style's bold and italic request, opened at first use.
  FT_Face face(const ZepSubtitleTextStyle& style) {
    const size_t slot = (style.bold ? 2u : 0u) + (style.italic ? 1u : 0u);
    if (faces_[slot] == nullptr && !tried_[slot]) {
      tried_[slot] = true;
      faces_[slot] = open_face(style.bold, style.italic);
    }
    return faces_[slot];
  }

 private:
  static int style_score(FT_Face face, bool bold, bool italic) {
    const bool isBold = (face->style_flags & FT_STYLE_FLAG_BOLD) != 0;
    const bool isItalic = (face->style_flags & FT_STYLE_FLAG_ITALIC) != 0;
    return (isBold == bold ? 2 : 0) + (isItalic == italic ? 1 : 0);
  }

  // The face of the file that best matches the request; the first of equals.
  FT_Face open_face(bool bold, bool italic) {
    FT_Face best = nullptr;
    if (FT_New_Face(library_, path_.c_str(), 0, &best) != 0) return nullptr;
    const long count = std::min<long>(best->num_faces, kMaxFacesSearched);
    int bestScore = style_score(best, bold, italic);
    for (long i = 1; i < count && bestScore < 3; ++i) {
      FT_Face candidate = nullptr;
      if (FT_New_Face(library_, path_.c_str(), i, &candidate) != 0) continue;
      const int score = style_score(candidate, bold, italic);
      if (score > bestScore) {
        FT_Done_Face(best);
        best = candidate;
        bestScore = score;
      } else {
        FT_Done_Face(candidate);
      }
    }
    if (FT_Set_Pixel_Sizes(best, 0, pixelSize_) != 0) {
      FT_Done_Face(best);
      return nullptr;
    }
    return best;
  }

  std::string path_;
  uint32_t pixelSize_ = 32;
  FT_Library library_ = nullptr;
  FT_Stroker stroker_ = nullptr;
  std::array<FT_Face, 4> faces_{};
  std::array<bool, 4> tried_{};
};

// A glyph as two bitmaps: stroked (outline band) and plain.
class GlyphImages {
 public:
  GlyphImages() = default;
  GlyphImages(const GlyphImages&) = delete;
  GlyphImages& operator=(const GlyphImages&) = delete;
  ~GlyphImages() {
    if (stroked_ != nullptr) FT_Done_Glyph(stroked_);
    if (plain_ != nullptr) FT_Done_Glyph(plain_);
  }

  // Loads the glyph of `code` through the face's character map. An italic
  // request on a face without italic slants the outline.
  bool load(FT_Face face, FT_Stroker stroker, char32_t code, bool slant) {
    const FT_UInt index = FT_Get_Char_Index(face, code);
    if (FT_Load_Glyph(face, index, FT_LOAD_NO_BITMAP) != 0) return false;
    const bool isOutline = face->glyph->format == FT_GLYPH_FORMAT_OUTLINE;
    if (slant && isOutline) FT_GlyphSlot_Oblique(face->glyph);
    advance_ = static_cast<int>(face->glyph->advance.x >> 6) + 1;
    if (FT_Get_Glyph(face->glyph, &plain_) != 0) {
      plain_ = nullptr;
      return false;
    }
    if (isOutline && FT_Glyph_Copy(plain_, &stroked_) == 0) {
      if (FT_Glyph_Stroke(&stroked_, stroker, 1) != 0 ||
          FT_Glyph_To_Bitmap(&stroked_, FT_RENDER_MODE_NORMAL, nullptr, 1) != 0) {
        FT_Done_Glyph(stroked_);
        stroked_ = nullptr;
      }
    } else {
      stroked_ = nullptr;
    }
    if (FT_Glyph_To_Bitmap(&plain_, FT_RENDER_MODE_NORMAL, nullptr, 1) != 0) return false;
    return true;
  }

  int advance() const { return advance_; }
  FT_BitmapGlyph stroked() const { return reinterpret_cast<FT_BitmapGlyph>(stroked_); }
  FT_BitmapGlyph plain() const { return reinterpret_cast<FT_BitmapGlyph>(plain_); }

 private:
  FT_Glyph stroked_ = nullptr;
  FT_Glyph plain_ = nullptr;
  int advance_ = 0;
};

// Draws a glyph bitmap with its origin on the pen at (penX, baseline).
template <typename Put>
void draw_bitmap(Canvas& canvas, FT_BitmapGlyph glyph, int64_t penX, int64_t baseline, Put put) {
  const FT_Bitmap& bitmap = glyph->bitmap;
  const int64_t x0 = penX + glyph->left;
  const int64_t y0 = baseline - glyph->top;
  for (unsigned y = 0; y < bitmap.rows; ++y) {
    for (unsigned x = 0; x < bitmap.width; ++x) {
      const uint8_t c = coverage(bitmap, x, y);
      if (c != 0) put(x0 + x, y0 + y, c);
    }
  }
  if (bitmap.rows > 0 && bitmap.width > 0)
    canvas.include(x0, y0, x0 + bitmap.width, y0 + bitmap.rows);
}

// A horizontal bar (underline, strike-through) with its outline.
void draw_bar(Canvas& canvas, int64_t x0, int64_t x1, int64_t y0, int64_t y1, uint32_t color) {
  constexpr int64_t kBorder = 2;
  for (int64_t y = y0 - kBorder; y < y1 + kBorder; ++y) {
    for (int64_t x = x0 - kBorder; x < x1 + kBorder; ++x) canvas.outline(x, y);
  }
  for (int64_t y = y0; y < y1; ++y) {
    for (int64_t x = x0; x < x1; ++x) canvas.text(x, y, color);
  }
  canvas.include(x0 - kBorder, y0 - kBorder, x1 + kBorder, y1 + kBorder);
}

void draw_glyph(Canvas& canvas, const GlyphImages& glyph, int64_t penX, int64_t baseline,
                const ZepSubtitleTextStyle& style) {
  if (glyph.stroked() != nullptr) {
    draw_bitmap(canvas, glyph.stroked(), penX, baseline, [&](int64_t x, int64_t y, uint8_t c) {
      if (c >= 128) canvas.outline(x, y);
    });
  }
  draw_bitmap(canvas, glyph.plain(), penX, baseline, [&](int64_t x, int64_t y, uint8_t c) {
    if (c >= 128) {
      canvas.text(x, y, style.color);
    } else {
      canvas.outline(x, y);  // the soft edge belongs to the outline
    }
  });
  const int64_t end = penX + glyph.advance();
  if (style.underline) draw_bar(canvas, penX, end, baseline + 3, baseline + 5, style.color);
  if (style.strikeThrough) {
    const int64_t middle = baseline - static_cast<int64_t>(style.pixelSize) * 5 / 16;
    draw_bar(canvas, penX, end, middle - 1, middle + 1, style.color);
  }
}

ZEP_STATUS render(ZepSubtitleRenderer* renderer, uint32_t maxWidth, uint32_t maxHeight,
                  const char* utf8Text, ZepSubtitlePicture* out) {
  const std::string path = zep_subtitle_renderer_font_path(renderer);
  if (path.empty()) return ZEP_FAIL;
  const ZepSubtitleTextStyle firstStyle;
  FontSession session;
  if (!session.open(path, firstStyle.pixelSize)) return ZEP_FAIL;

  const std::vector<ZepSubtitleStyledChar> chars =
      zep_subtitle_parse_markup(utf8Text, std::strlen(utf8Text));

  const int64_t W = std::min(maxWidth, kMaxFrameSide);
  const int64_t H = std::min(maxHeight, kMaxFrameSide);
  Canvas canvas(static_cast<uint32_t>(W * 3 / 2), static_cast<uint32_t>(H * 3 / 2));
  const int64_t lineStart = W / 4;
  const int64_t rightLimit = static_cast<int64_t>(canvas.width()) - W / 4;
  const int64_t bottomLimit = static_cast<int64_t>(canvas.height()) - H / 4;
  const int64_t lineStep = static_cast<int64_t>(firstStyle.pixelSize) + kLineGap;
  int64_t x = lineStart;
  int64_t baseline = H / 4 + firstStyle.pixelSize;

  for (const ZepSubtitleStyledChar& ch : chars) {
    if (ch.code == U'\r') continue;
    if (ch.code == U'\n') {
      x = lineStart;
      baseline += lineStep;
      continue;
    }
    FT_Face face = session.face(ch.style);
    if (face == nullptr) face = session.face(firstStyle);
    const bool slant = ch.style.italic && (face->style_flags & FT_STYLE_FLAG_ITALIC) == 0;
    GlyphImages glyph;
    if (!glyph.load(face, session.stroker(), ch.code, slant)) return ZEP_FAIL;  // a damaged font
    if (x + glyph.advance() >= rightLimit) {
      x = lineStart;
      baseline += lineStep;
    }
    if (baseline >= bottomLimit) break;
    draw_glyph(canvas, glyph, x, baseline, ch.style);
    x += glyph.advance();
  }
  canvas.cut(out);
  return ZEP_OK;
}

}  // namespace

ZEP_STATUS zep_subtitle_renderer_create(ZepSubtitleRenderer** out) {
  if (out == nullptr) return ZEP_E_NULL_ARG;
  *out = new (std::nothrow) ZepSubtitleRenderer;
  return *out == nullptr ? ZEP_E_NO_MEMORY : ZEP_OK;
}

void zep_subtitle_renderer_destroy(ZepSubtitleRenderer* renderer) { delete renderer; }

ZEP_STATUS zep_subtitle_renderer_set_font(ZepSubtitleRenderer* renderer,
                                          const zep_wchar_t* fileName) {
  if (renderer == nullptr) return ZEP_E_NULL_ARG;
  try {
    renderer->fontFile = (fileName == nullptr) ? std::u16string() : std::u16string(fileName);
  } catch (const std::bad_alloc&) {
    return ZEP_FAIL;
  }
  return ZEP_OK;
}

std::string zep_subtitle_renderer_font_path(const ZepSubtitleRenderer* renderer) {
  // The name goes to the file system as UTF-8, like every other file name.
  if (renderer != nullptr && !renderer->fontFile.empty())
    return zep::u16_to_utf8(renderer->fontFile);
  if (file_exists(kDefaultFontFile)) return kDefaultFontFile;
  return fontconfig_bold_sans();
}

ZEP_STATUS zep_subtitle_render_entry(ZepSubtitleRenderer* renderer, uint32_t maxWidth,
                                     uint32_t maxHeight, const char* utf8Text, int64_t start,
                                     int64_t end, ZepSubtitlePicture* out) {
  if (renderer == nullptr || utf8Text == nullptr || out == nullptr) return ZEP_E_NULL_ARG;
  out->pixels.clear();
  out->width = out->height = 0;
  zep_subtitle_format_time_string(start, end, out->timeString);
  try {
    return render(renderer, maxWidth, maxHeight, utf8Text, out);
  } catch (const std::bad_alloc&) {
    out->pixels.clear();
    out->width = out->height = 0;
    return ZEP_E_NO_MEMORY;
  }
}
