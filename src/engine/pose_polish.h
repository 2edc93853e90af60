#pragma once

#include <optional>

#include "engine/geometry/camera_record.h"
#include "engine/geometry/vec.h"

namespace modrin::engine {

struct PolishedPose {
  Vec3 translation;
  Vec3 orientation;
  double before = 0;  // sum of squared reprojection errors at the starting pose
  double after = 0;   // and at the polished pose
};

// The sum over the fully known correspondences of the squared distance, in normalized image
// coordinates, between the marked point and the projection of the real point. Empty when a
// real point does not lie in front of the camera.
std::optional<double> SquaredReprojectionSum(const CameraRecord& camera);

// Minimises SquaredReprojectionSum over pitch, roll, yaw and the translation by
// Levenberg-Marquardt, starting at the camera's pose. Empty when the camera has fewer than
// three fully known correspondences, when the start is not in front of every real point, or
// when no pose with a lower sum was found.
std::optional<PolishedPose> PolishPose(const CameraRecord& camera);

}  // namespace modrin::engine
