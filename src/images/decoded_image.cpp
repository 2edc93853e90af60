#include "images/decoded_image.h"

#include <sys/mman.h>

#include <cstdlib>
#include <new>

namespace modrin::images {

namespace {

constexpr std::size_t kHugePage = std::size_t{2} << 20;
// Buffers from this size on are worth huge pages: a picture of about 2.8 megapixels and up.
constexpr std::size_t kLargeBuffer = std::size_t{8} << 20;

}  // namespace

void* AllocatePixelMemory(std::size_t bytes) {
  if (bytes < kLargeBuffer) return ::operator new(bytes);
  const std::size_t size = (bytes + kHugePage - 1) / kHugePage * kHugePage;
  void* pixels = std::aligned_alloc(kHugePage, size);
  if (pixels == nullptr) throw std::bad_alloc();
  // Only advice: where huge pages are unavailable the buffer works with ordinary pages.
  ::madvise(pixels, size, MADV_HUGEPAGE);
  return pixels;
}

void FreePixelMemory(void* memory, std::size_t bytes) noexcept {
  if (bytes < kLargeBuffer) {
    ::operator delete(memory);
  } else {
    std::free(memory);
  }
}

}  // namespace modrin::images
