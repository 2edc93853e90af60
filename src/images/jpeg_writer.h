#pragma once

#include <cstdint>
#include <optional>
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
bool WriteJpegFile(const std::string& path, const DecodedImage& image, int quality,
                   const std::optional<ExifCamera>& exif, const std::string& make = "Modrin");

}  // namespace modrin::images
