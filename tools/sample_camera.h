#pragma once

#include <array>
#include <optional>
#include <string>

#include "engine/geometry/camera.h"
#include "engine/geometry/camera_record.h"
#include "images/camera_database.h"
#include "images/exif_reader.h"

namespace modrin::tools {

// A camera of a generated sample: a pinhole camera posed with the system's own camera model,
// taking width x height pixel photos.
struct SampleCamera {
  engine::CameraRecord record;  // pose, focal length and sensor
  engine::Rotation rotation;    // of record.orientation, worked out once
  int width = 0;
  int height = 0;

  const engine::Vec3& centre() const { return record.translation; }

  // World direction of the ray through pixel (x, y), y counted from the bottom row.
  engine::Vec3 Ray(double x, double y) const;

  // Pixel of a world point (y from the bottom row); empty behind the camera.
  std::optional<std::array<double, 2>> Project(const engine::Vec3& p) const;

  // A camera at `centre` looking at `target`, turned by `roll` about its axis. `sensor` must
  // outlive the camera.
  static SampleCamera LookingAt(const images::CameraEntry& sensor, int width, int height,
                                double focal, const engine::Vec3& centre,
                                const engine::Vec3& target, double roll);
};

// The EXIF block of the camera's photos: model, focal length and focal-plane resolution, from
// which photo loading finds the sensor size.
images::ExifCamera SampleExif(const std::string& model, const SampleCamera& camera);

}  // namespace modrin::tools
