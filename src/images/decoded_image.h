#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace modrin::images {

// Allocates pixel memory. A full-size photo takes tens of megabytes, and on a fresh
// allocation the kernel's first touch of every 4 KiB page costs more than decoding the JPEG
// into it; large buffers are therefore aligned to 2 MiB and marked for transparent huge pages,
// which makes that first touch several times cheaper. Small buffers come from operator new.
void* AllocatePixelMemory(std::size_t bytes);
void FreePixelMemory(void* memory, std::size_t bytes) noexcept;

template <typename T>
class PixelAllocator {
 public:
  using value_type = T;

  PixelAllocator() = default;
  template <typename U>
  PixelAllocator(const PixelAllocator<U>&) {}  // NOLINT: allocators convert implicitly

  T* allocate(std::size_t count) { return static_cast<T*>(AllocatePixelMemory(count * sizeof(T))); }
  void deallocate(T* memory, std::size_t count) noexcept {
    FreePixelMemory(memory, count * sizeof(T));
  }
  template <typename U>
  bool operator==(const PixelAllocator<U>&) const {
    return true;
  }
};

using PixelBuffer = std::vector<std::uint8_t, PixelAllocator<std::uint8_t>>;

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
  PixelBuffer pixels;  // height rows of 3 * width bytes, top row first

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
