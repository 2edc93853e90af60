#pragma once

#include <optional>
#include <vector>

#include "engine/geometry/camera.h"
#include "engine/geometry/camera_record.h"
#include "engine/geometry/vec.h"

namespace modrin::engine {

// A camera pose: centre of projection (world units) and (pitch, roll, yaw) in radians.
struct CameraPose {
  Vec3 translation;
  Vec3 orientation;
};

// The poses, up to four, at which the camera sees the real points a, b, c exactly at the
// image points of the three correspondences (all fully known, normalized image points): the
// three-point resection. Only poses with every point in front of the camera are given. Empty
// when the points lie on one line or the rays do not fit them.
std::vector<CameraPose> ThreePointPoses(const CameraRecord& camera, const Correspondence& a,
                                        const Correspondence& b, const Correspondence& c);

// A closed-form pose from four or more fully known correspondences: of the three-point poses
// of well spread triples, the one with the least squared reprojection sum over all of them.
// Empty with fewer than four such points or when no triple gives a pose in front of them all.
std::optional<CameraPose> ClosedFormPose(const CameraRecord& camera);

// How far, in image widths (normalized u), the mark of a correspondence with exactly one
// unknown coordinate lies from the image of the line its known coordinates leave. Empty for
// other correspondences, or when the camera centre lies on that line.
std::optional<double> LineResidual(const CameraRecord& camera, const Rotation& rotation,
                                   const Correspondence& correspondence);

// How well the pose fits every mark that can judge it: the squared reprojection sum of the
// fully known correspondences (normalized coordinates) plus the squared line residual of
// those with one unknown coordinate. Empty when a fully known point is not in front.
std::optional<double> MarkFit(const CameraRecord& camera);

}  // namespace modrin::engine
