#include "tools/zepdemux/png_writer.h"

#include <png.h>

#include <cstdio>
#include <vector>

#include "tools/zepdemux/model.h"

namespace zepcli {

void write_png(const std::string& path, const QsubPicture& picture) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) throw Failure("Unable to create " + path);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  std::vector<uint8_t> row(size_t(picture.width) * 4);
  // libpng reports errors by longjmp; nothing here needs unwinding past it.
  if (png == nullptr || info == nullptr || setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    std::fclose(file);
    throw Failure("Unable to write " + path);
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, picture.width, picture.height, 8, PNG_COLOR_TYPE_RGB_ALPHA,
               PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (uint32_t y = 0; y < picture.height; ++y) {
    const uint8_t* source = picture.pixels.data() + size_t(y) * picture.width;
    for (uint32_t x = 0; x < picture.width; ++x) {
      const auto& colour = picture.palette[source[x] & 3];
      row[x * 4 + 0] = colour[0];
      row[x * 4 + 1] = colour[1];
      row[x * 4 + 2] = colour[2];
      row[x * 4 + 3] = source[x] == 0 ? 0 : 255;
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fclose(file) != 0) throw Failure("Unable to write " + path);
}

}  // namespace zepcli
