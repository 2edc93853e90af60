#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace modrin::images {

// The camera facts of a JPEG file's EXIF block, as stored (no unit conversion).
struct ExifCamera {
  std::string model;         // the "Model" tag, at most 39 characters
  double focalLengthMm = 0;  // FocalLength
  double focalPlaneXResolution = 0;
  double focalPlaneYResolution = 0;
  int focalPlaneResolutionUnit = 0;  // 0 when the tag is missing
};

// Parses the EXIF block of a JPEG file (in memory / on disk): the first APP1 segment holding
// "Exif" among the segments before the first scan, whatever other segments (comments, JFIF,
// XMP) come before it. Empty when there is none or the segments before it are malformed.
std::optional<ExifCamera> ParseExif(std::span<const std::uint8_t> jpegBytes);
std::optional<ExifCamera> ReadExifFile(const std::string& path);

// The camera in metres: focal length and the size of the whole sensor, derived from the EXIF
// facts and the picture's size in pixels.
struct CameraInMetres {
  std::string model;
  double focal = 0;
  double cellWidth = 0;
  double cellHeight = 0;
};
CameraInMetres ToMetres(const ExifCamera& exif, int widthPixels, int heightPixels);

}  // namespace modrin::images
