#pragma once

#include <vector>

#include "engine/geometry/camera_record.h"

namespace modrin::engine {

// Why the control points of a photo (the real points of its correspondences) cannot fix its
// pose for the pose search, or kNone when they can. See control_points.cpp for the rule.
enum class ControlPointProblem {
  kNone,
  kNoPointWithTwoKnownCoordinates,  // every point has at most one known coordinate
  kOnOneLine,                       // the points with two or three known coordinates lie on
                                    // one straight line (a single place included)
  kFewerThanTwoFullyKnown,          // fewer than two different points have x, y and z known
  kTooFewKnownCoordinates,          // what is known leaves the pose free to move
};

// The relative size, against the diagonal of the box of the known coordinates, within which
// points count as one place and a point or line counts as lying on a line.
inline constexpr double kControlPointTolerance = 1e-3;

// Checks whether the correspondences' real points can fix a pose (see ControlPointProblem).
// Only the real points are read; the image points do not enter.
ControlPointProblem CheckControlPoints(const std::vector<Correspondence>& correspondences);

}  // namespace modrin::engine
