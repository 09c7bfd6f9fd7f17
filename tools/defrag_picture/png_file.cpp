#include "tools/defrag_picture/png_file.h"

#include <png.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "common/scope_guard.h"

namespace kestrava::tools {

bool WritePng(const std::string& fileName, const RgbImage& image, const std::string& description) {
  if (image.width <= 0 || image.height <= 0 ||
      image.pixels.size() != static_cast<std::size_t>(image.width) * image.height * 3) {
    std::fprintf(stderr, "%s: the picture has no pixels or the wrong number\n", fileName.c_str());
    return false;
  }
  std::FILE* file = std::fopen(fileName.c_str(), "wb");
  if (file == nullptr) {
    std::fprintf(stderr, "%s: %s\n", fileName.c_str(), std::strerror(errno));
    return false;
  }
  bool closed = false;
  const auto closeFile = MakeScopeExit([&] {
    if (!closed) std::fclose(file);
  });
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  if (png == nullptr) return false;
  png_infop info = png_create_info_struct(png);
  const auto destroy = MakeScopeExit([&] { png_destroy_write_struct(&png, &info); });
  if (info == nullptr) return false;
  // libpng reports its errors by jumping back here; nothing below owns anything that a jump
  // would skip the release of (the guards above run on the return).
  if (setjmp(png_jmpbuf(png))) {
    std::fprintf(stderr, "%s: libpng could not write the picture\n", fileName.c_str());
    return false;
  }
  png_init_io(png, file);
  png_set_IHDR(png, info, static_cast<png_uint_32>(image.width),
               static_cast<png_uint_32>(image.height), 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_text text{};
  text.compression = PNG_TEXT_COMPRESSION_NONE;
  text.key = const_cast<char*>("Description");
  text.text = const_cast<char*>(description.c_str());
  png_set_text(png, info, &text, 1);
  png_write_info(png, info);
  for (int y = 0; y < image.height; ++y) {
    png_write_row(png, image.pixels.data() + static_cast<std::size_t>(y) * image.width * 3);
  }
  png_write_end(png, info);
  closed = true;
  if (std::fclose(file) != 0) {
    std::fprintf(stderr, "%s: %s\n", fileName.c_str(), std::strerror(errno));
    return false;
  }
  return true;
}

}  // namespace kestrava::tools
