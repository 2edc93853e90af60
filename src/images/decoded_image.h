#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace modrin::images {

// The file format a picture was decoded from.
enum class ImageFormat { Unknown, Bmp, Jpeg, Png, Tiff, Jpeg2000, Gif, Other };

// A decoded picture, always 8-bit RGB whatever the source. Rows are stored top-down and
// tightly packed (stride() == 3 * width), so a GUI can wrap `pixels` without copying.
// Coordinates handed to Pixel() count y from the bottom row, as every pixel coordinate of
// the system does.
struct DecodedImage {
  int width = 0;
  int height = 0;
  ImageFormat format = ImageFormat::Unknown;
  std::vector<std::uint8_t> pixels;  // height rows of 3 * width bytes, top row first

  // A picture of one grey level, for generated photos and tests.
  static DecodedImage Filled(int width, int height, std::uint8_t value) {
    DecodedImage image;
    image.width = width;
    image.height = height;
    image.pixels.assign(image.stride() * static_cast<std::size_t>(height), value);
    return image;
  }

  bool IsValid() const { return width > 0 && height > 0; }
  std::size_t stride() const { return static_cast<std::size_t>(width) * 3; }

  // The three bytes of pixel (x, y), y counted from the bottom row. No bounds check.
  const std::uint8_t* Pixel(int x, int y) const {
    return pixels.data() + static_cast<std::size_t>(height - 1 - y) * stride() +
           static_cast<std::size_t>(x) * 3;
  }
};

}  // namespace modrin::images
