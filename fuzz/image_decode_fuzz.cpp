// Decodes arbitrary bytes with every format hint. The pixel limit is lowered so that headers
// claiming large pictures stay within the fuzzer's memory limit; the size checks themselves
// are the same.

#include <cstddef>
#include <cstdint>
#include <span>

#include "images/image_codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using modrin::images::ImageFormat;
  const std::span<const std::uint8_t> bytes(data, size);
  modrin::images::DecodeOptions options;
  options.maxPixels = std::int64_t{1} << 22;
  // The first byte picks the extension consulted for formats without a signature.
  static constexpr const char* kExtensions[] = {"", "tga", "wbmp", "jbg", "ico", "pcx"};
  if (size > 0) options.extension = kExtensions[data[0] % std::size(kExtensions)];
  for (const ImageFormat hint :
       {ImageFormat::Unknown, ImageFormat::Jpeg, ImageFormat::Bmp, ImageFormat::Png,
        ImageFormat::Tiff, ImageFormat::Jpeg2000, ImageFormat::Gif}) {
    const modrin::images::DecodeResult result =
        modrin::images::DecodeImageBytes(bytes, hint, options);
    if (result.ok && result.image.pixels.size() !=
                         result.image.stride() * static_cast<std::size_t>(result.image.height)) {
      __builtin_trap();
    }
  }
  return 0;
}
