#pragma once
// Writes an RGB picture as a PNG file with libpng.
#include <cstdint>
#include <string>
#include <vector>

namespace kestrava::tools {

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<std::uint8_t> pixels;  // rows top to bottom, 3 bytes a pixel
};

// Writes image to fileName with a "Description" text chunk. False, with a message on standard
// error, when the file cannot be written.
bool WritePng(const std::string& fileName, const RgbImage& image, const std::string& description);

}  // namespace kestrava::tools
