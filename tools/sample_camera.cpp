#include "sample_camera.h"

#include <cmath>

namespace modrin::tools {

using engine::Vec3;

Vec3 SampleCamera::Ray(double x, double y) const {
  const Vec3 c{(x / width - 0.5) * record.cameraEntry->cellWidth, record.focal,
               (y / height - 0.5) * record.cameraEntry->cellHeight};
  return rotation.Apply(c);
}

std::optional<std::array<double, 2>> SampleCamera::Project(const Vec3& p) const {
  const auto projection = engine::WorldToImage(record, rotation, p);
  if (!projection.inFront) return std::nullopt;
  return std::array<double, 2>{(projection.image.x + 0.5) * width,
                               (projection.image.y + 0.5) * height};
}

SampleCamera SampleCamera::LookingAt(const images::CameraEntry& sensor, int width, int height,
                                     double focal, const Vec3& centre, const Vec3& target,
                                     double roll) {
  const Vec3 dir = target - centre;
  SampleCamera camera;
  camera.record.cameraEntry = &sensor;
  camera.record.focal = focal;
  camera.record.translation = centre;
  camera.record.orientation = {std::asin(-dir.z / std::sqrt(dir.SquaredLength())), roll,
                               std::atan2(dir.x, dir.y)};
  camera.rotation = engine::CameraRotation(camera.record.orientation);
  camera.width = width;
  camera.height = height;
  return camera;
}

images::ExifCamera SampleExif(const std::string& model, const SampleCamera& camera) {
  images::ExifCamera exif;
  exif.model = model;
  exif.focalLengthMm = camera.record.focal * 1000;
  exif.focalPlaneResolutionUnit = 2;  // inches
  exif.focalPlaneXResolution = camera.width / (camera.record.cameraEntry->cellWidth / 0.0254);
  exif.focalPlaneYResolution = camera.height / (camera.record.cameraEntry->cellHeight / 0.0254);
  return exif;
}

}  // namespace modrin::tools
