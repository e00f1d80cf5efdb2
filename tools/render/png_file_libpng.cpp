// PNG files through libpng.
#include "tools/render/panel_picture.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

namespace brvst::render {

bool CanWritePng() {
  return true;
}

bool WritePng(const std::string& path, const uint32_t* pixels, int width, int height,
              std::string& error) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "wb"), std::fclose);
  if (!file) {
    error = path + ": cannot write the file: " + std::strerror(errno);
    return false;
  }
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  if (info == nullptr) {
    png_destroy_write_struct(&png, nullptr);
    error = path + ": out of memory";
    return false;
  }
  std::vector<png_byte> row(static_cast<size_t>(width) * 3);
  // libpng reports its failures by jumping back here; nothing with a destructor lives between
  // the two points but `row` and `file`, made before.
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    error = path + ": the PNG file could not be written";
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, static_cast<png_uint_32>(width), static_cast<png_uint_32>(height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT,
               PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int y = 0; y < height; ++y) {
    const uint32_t* in = pixels + static_cast<size_t>(y) * width;
    for (int x = 0; x < width; ++x) {
      row[3 * x] = static_cast<png_byte>(in[x] >> 16);
      row[3 * x + 1] = static_cast<png_byte>(in[x] >> 8);
      row[3 * x + 2] = static_cast<png_byte>(in[x]);
    }
    png_write_row(png, row.data());
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  if (std::fflush(file.get()) != 0) {
    error = path + ": cannot write the file: " + std::strerror(errno);
    return false;
  }
  return true;
}

}  // namespace brvst::render
