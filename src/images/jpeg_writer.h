#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "images/decoded_image.h"
#include "images/exif_reader.h"

namespace modrin::images {

// Encodes a picture as JPEG, with an EXIF block carrying `exif` when given (make, model,
// focal length, focal-plane resolution and unit). Used by the sample generator and the tests.
std::vector<std::uint8_t> EncodeJpeg(const DecodedImage& image, int quality,
                                     const std::optional<ExifCamera>& exif,
                                     const std::string& make = "Modrin");
// The JPEG file `jpeg` without its APP1 segments (EXIF and XMP), so that no reader turns the
// picture by an EXIF orientation: the pixels stay as stored, as the decoder gives them. False,
// `out` untouched, unless `jpeg` is a JPEG whose segments run well-formed up to its scan.
bool StripJpegMetadata(std::span<const std::uint8_t> jpeg, std::string& out);

bool WriteJpegFile(const std::string& path, const DecodedImage& image, int quality,
                   const std::optional<ExifCamera>& exif, const std::string& make = "Modrin");

}  // namespace modrin::images
