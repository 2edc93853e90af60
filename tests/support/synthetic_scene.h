#pragma once

#include <random>
#include <vector>

#include "engine/geometry/camera_record.h"
#include "engine/geometry/vec.h"
#include "images/camera_database.h"

namespace modrin::testing {

// A full-frame sensor (36 x 24 mm) and the pixel size of its photos in the synthetic scenes.
inline const images::CameraEntry kFullFrame{"Synthetic", 0.036, 0.024};
inline constexpr int kPhotoWidth = 1200;
inline constexpr int kPhotoHeight = 800;

// The orientation (pitch, roll, yaw) of a camera at `centre` looking at `target`.
engine::Vec3 LookAt(const engine::Vec3& centre, const engine::Vec3& target, double roll);

// A camera of the full-frame sensor with the given focal length (metres) and pose.
engine::CameraRecord MakeCamera(double focal, const engine::Vec3& translation,
                                const engine::Vec3& orientation);

// The camera's marks of `points`: their exact projections, or, with `roundToPixels`, the
// nearest pixel of a kPhotoWidth x kPhotoHeight photo in normalized coordinates.
std::vector<engine::Correspondence> Marks(const engine::CameraRecord& camera,
                                          const std::vector<engine::Vec3>& points,
                                          bool roundToPixels);

// The camera's marks of `points` with normally distributed noise of `sigmaPixels` pixels on
// each axis of a kPhotoWidth x kPhotoHeight photo, in normalized coordinates.
std::vector<engine::Correspondence> NoisyMarks(const engine::CameraRecord& camera,
                                               const std::vector<engine::Vec3>& points,
                                               std::mt19937& random, double sigmaPixels);

// A seeded random scene: `count` points in a 10 x 8 x 5 box and a camera 18 to 30 units from
// its centre, above the ground, whose focal length frames the points to fill most of the photo.
struct SyntheticView {
  engine::CameraRecord truth;  // the camera with its true pose, no correspondences
  std::vector<engine::Vec3> points;
};
SyntheticView RandomView(std::mt19937& random, int count);

// A seeded scene as RandomView's, seen by a camera of the given pitch and roll (radians) and a
// random yaw, 18 to 30 units from the scene's centre and looking at it: straight down at
// pitch pi/2, upside down at roll pi. The points are drawn again until all lie in front.
SyntheticView ViewAtAttitude(std::mt19937& random, int count, double pitch, double roll);

// The angle in radians of the rotation between two orientations.
double RotationAngle(const engine::Vec3& a, const engine::Vec3& b);

}  // namespace modrin::testing
