#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "engine/geometry/vec.h"
#include "engine/residuals.h"

namespace modrin::model {
class Project;
}

namespace modrin::engine {

class Progress;

// How the joint refinement of poses and points runs.
struct RefineOptions {
  CheckPoints checks;  // real positions left out: neither observations nor constraints
  // Empty: the control points' typed coordinates are held fixed. Set: they are priors with this
  // standard deviation in world units, and their points move with the rest.
  std::optional<double> softSigma;
  double huberPixels = 1;    // scale of the robust (Huber) loss on each mark's error, pixels
  bool refineFocal = false;  // also refine one focal length per camera model and focal
  int maxIterations = 100;
  int threads = 0;  // 0: one per core
};

// A refined photo pose: centre in world units, (pitch, roll, yaw) in radians, focal in metres.
struct RefinedPose {
  std::size_t photo = 0;
  Vec3 translation;
  Vec3 orientation;
  double focal = 0;
};

// A refined computed position, world units.
struct RefinedPoint {
  std::int32_t id = 0;
  Vec3 point;
};

// What a refinement found; nothing of the project is changed until ApplyRefinement.
struct RefineResult {
  bool ok = false;
  bool cancelled = false;            // the user stopped it (ok is false)
  std::string message;               // why it did not run or did not converge, for the user
  std::vector<RefinedPose> poses;    // every calibrated photo, in photo order
  std::vector<RefinedPoint> points;  // every computed position refined, in id order
  int observations = 0;              // marks the refinement went by
  int leftOut = 0;       // positions that are not real and seen by one calibrated photo only
  double rmsBefore = 0;  // reprojection RMS in pixels over those marks, at the start
  double rmsAfter = 0;   // and at the end
  int iterations = 0;
};

// Refines every calibrated photo's pose (and focal, when asked) and every position's point
// together from every mark in the calibrated photos (bundle adjustment, Levenberg-Marquardt),
// through the engine's camera model. Computed positions start at the least-squares point of all
// their rays; real ones at their typed coordinates, which stay fixed, or are priors with
// softSigma. Check points are left out. Degenerate input (fewer than two calibrated photos, a
// photo with fewer than three marks, control points that cannot fix the model, all points on a
// line, a point behind a camera, values not finite) gives a result with ok false and a message.
// Reports through `progress` (null: none) and stops, ok false and cancelled, when it asks to.
// Reads the project only, so it can run on a copy of it on another thread.
RefineResult Refine(const model::Project& project, const RefineOptions& options = {},
                    Progress* progress = nullptr);

// Puts an ok result into the project: the photos' poses and focal lengths and the computed
// positions' points (marked computed). Does nothing for a result that is not ok.
void ApplyRefinement(model::Project& project, const RefineResult& result);

}  // namespace modrin::engine
