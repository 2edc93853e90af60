#pragma once

// Internal to modrin_images: the per-format decoders behind DecodeImageBytes and the helpers
// they share.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "images/decoded_image.h"

namespace modrin::images::detail {

using Bytes = std::span<const std::uint8_t>;

// Each decoder fills `out` (8-bit RGB, top-down rows) and returns true, or returns false with
// a short reason in `error`. None of them throws except std::bad_alloc, and none allocates
// pixel memory before the size its header claims has passed CheckPictureSize.
bool DecodeJpeg(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error);
bool DecodePng(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error);
bool DecodeTiff(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error);
// Both the JP2 container and a bare J2K codestream, told apart by their signatures.
bool DecodeJpeg2000(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error);
// The first frame, drawn on the logical screen; pixels no frame covers are white.
bool DecodeGif(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error);
// PGX, the grey test format of the JPEG 2000 tool set.
bool DecodePgx(Bytes bytes, std::int64_t maxPixels, DecodedImage& out, std::string& error);
// GraphicsMagick with the named coder forced (one of the names MagickFormatFor returns).
bool DecodeWithMagick(Bytes bytes, const char* magick, std::int64_t maxPixels, DecodedImage& out,
                      std::string& error);

// The GraphicsMagick coder for content none of our own decoders claims: recognised from the
// signature, else from the extension for formats that have none, else null. Only the coders of
// plain raster formats are ever chosen, never those that run scripts or read other files.
const char* MagickFormatFor(Bytes bytes, const std::string& lowerExtension);

bool IsJpegSignature(Bytes bytes);
bool IsPngSignature(Bytes bytes);
bool IsTiffSignature(Bytes bytes);
bool IsJp2Signature(Bytes bytes);
bool IsJ2kSignature(Bytes bytes);
bool IsGifSignature(Bytes bytes);
bool IsPgxSignature(Bytes bytes);

// Refuses sizes that are not positive, that exceed maxPixels, or that a file of `fileBytes`
// bytes cannot plausibly hold (more than kPixelsPerFileByte pixels for each byte), with a
// reason in `error`. Every decoder calls it with the whole file's length before it allocates
// anything of the picture's size.
bool CheckPictureSize(std::int64_t width, std::int64_t height, std::size_t fileBytes,
                      std::int64_t maxPixels, std::string& error);

// Sets the size and reserves the whole pixel buffer without writing to it, so a header that
// lies about the size costs address space rather than memory until rows actually arrive.
// The size must have passed CheckPictureSize.
void BeginPixels(DecodedImage& image, int width, int height);

// Appends one row to a buffer set up by BeginPixels and returns it. Never reallocates.
inline std::uint8_t* AppendRow(DecodedImage& image) {
  const std::size_t used = image.pixels.size();
  image.pixels.resize(used + image.stride());
  return image.pixels.data() + used;
}

// Composites one channel value with coverage `alpha` (0..255, not premultiplied) on white.
inline std::uint8_t OnWhite(unsigned value, unsigned alpha) {
  return static_cast<std::uint8_t>((value * alpha + 255 * (255 - alpha) + 127) / 255);
}

// Copies `count` pixels of RGBA (straight alpha) to RGB, composited on white.
void RgbaToRgbOnWhite(const std::uint8_t* rgba, std::uint8_t* rgb, std::size_t count);

// Copies at most capacity - 1 bytes of a C string into a fixed buffer and terminates it; for
// error callbacks of C libraries that must not allocate before they jump out.
void CopyMessage(char* buffer, std::size_t capacity, const char* text);

}  // namespace modrin::images::detail
