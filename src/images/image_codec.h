#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "images/decoded_image.h"

namespace modrin::images {

// Pictures with more pixels than this are refused before any pixel memory is allocated.
inline constexpr std::int64_t kMaxPixels = 250'000'000;

// A file is taken to hold at most this many pixels for each of its bytes; a header claiming
// more is refused before any pixel memory is allocated, so a file of a few hundred bytes cannot
// make the program take gigabytes. Real pictures stay far below it, even those with nothing in
// them: a flat-colour 4000 x 3000 picture takes 42 KB as PNG (284 pixels a byte), 70 KB as an
// optimised or progressive JPEG (170; Huffman-coded JPEG can never pass 512, one bit for each
// 8 x 8 block), 9 KB as GIF (1,300), 1.5 KB as a 1-bit PNG (7,700, near deflate's limit of
// 8,256 for 1-bit pixels), 400 bytes as lossless JPEG 2000 (30,000), 512 bytes as a blank CCITT
// G4 TIFF (23,000: one bit a row) and 214 bytes as an arithmetic-coded JPEG (56,000). Only
// coders that spend next to nothing on a run of equal data go further, and only on pictures
// without content: larger or grey flat arithmetic-coded JPEGs, and blank G4 or JBIG pages wider
// than 8,000 pixels, are refused.
inline constexpr std::int64_t kPixelsPerFileByte = std::int64_t{1} << 16;

struct DecodeResult {
  DecodedImage image;  // valid only when ok
  bool ok = false;
  std::string error;  // why decoding failed, for a user ("not a picture", "corrupt header", ...)
};

// The format hint taken from a path's extension: "bmp" gives Bmp, "jpg"/"jpeg" give Jpeg
// (compared lower-cased), any other extension Unknown (decode by content).
ImageFormat FormatHintForExtension(const std::string& lowerExtension);

// Decodes a whole file held in memory. With hint Unknown, or when the hinted decoder fails,
// the format is recognised by content: the file signatures of the formats with a decoder of
// our own (JPEG, PNG, TIFF, JPEG 2000, GIF, PGX), then GraphicsMagick for the rest (BMP, ICO,
// TGA, PCX, WBMP, PNM, Sun raster, JBIG, WMF). Grey, palette, 16-bit and CMYK pictures become 8-bit
// RGB; transparent pixels are composited on white. Of a GIF the first frame is decoded; the
// EXIF orientation of a JPEG is not applied (pixels stay as stored). The result's format names
// the decoder that succeeded: Jpeg only for a real JPEG decode, Bmp for BMP, Other for the
// remaining GraphicsMagick formats. A truncated file, a size beyond kMaxPixels, or one beyond
// kPixelsPerFileByte for each byte of the file is an error.
// Never throws; safe to call from several threads at once.
DecodeResult DecodeImageBytes(std::span<const std::uint8_t> bytes, ImageFormat hint);

// Knobs of a decode beyond the format hint.
struct DecodeOptions {
  // Pictures with more pixels are refused before their memory is allocated. The fuzz targets
  // lower it to keep every run small.
  std::int64_t maxPixels = kMaxPixels;
  // The file extension, if known. Only consulted for formats that carry no reliable
  // signature in their content (TGA, WBMP, JBIG, icons); empty when unknown.
  std::string extension;
};
DecodeResult DecodeImageBytes(std::span<const std::uint8_t> bytes, ImageFormat hint,
                              const DecodeOptions& options);

// Files larger than this are not read at all.
inline constexpr std::int64_t kMaxFileBytes = std::int64_t{2} << 30;

// Reads the file and decodes it as DecodeImageBytes does, with the file's extension as the
// extra hint for formats without a signature. The error says why the file could not be read.
DecodeResult DecodeImageFile(const std::string& path, ImageFormat hint);

// The file-type filter of the load-images dialog: for each entry its description, a NUL, its
// pattern list, a NUL. Every entry is included for both selector values.
std::string ImageFileFilter(bool selector);

}  // namespace modrin::images
