// Parses arbitrary bytes as a JPEG file's EXIF block and converts what it finds to metres:
// no crash, and nothing but finite sizes and a model of at most 39 characters comes out.

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "images/exif_reader.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const auto exif = modrin::images::ParseExif(std::span<const std::uint8_t>(data, size));
  if (!exif) return 0;
  if (exif->model.size() > 39) __builtin_trap();
  const auto camera = modrin::images::ToMetres(*exif, 6000, 4000);
  if (!std::isfinite(camera.focal) || !std::isfinite(camera.cellWidth) ||
      !std::isfinite(camera.cellHeight)) {
    __builtin_trap();
  }
  return 0;
}
