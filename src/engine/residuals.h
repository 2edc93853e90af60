#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <set>
#include <vector>

#include "engine/geometry/vec.h"

namespace modrin::model {
class Project;
}

namespace modrin::engine {

// Real positions the user holds back to measure accuracy: left out of every calibration and
// refinement, and reported by the distance between their typed and computed coordinates.
using CheckPoints = std::set<std::int32_t>;

// The root mean square and the largest of a set of errors; zero of each when the set is empty.
struct ErrorStats {
  int count = 0;
  double rms = 0;
  double largest = 0;
};
ErrorStats StatsOf(const std::vector<double>& errors);

// How well the marks of one calibrated photo fit the model, in pixels of its picture.
struct PhotoResiduals {
  std::size_t photo = 0;
  ErrorStats control;         // its control points: real, fully known, not check points
  ErrorStats all;             // every position marked in it that has a 3D point
  std::int32_t worstId = -1;  // the position of all.largest; -1 when none
};

// What a position is to the adjustment.
enum class PositionRole {
  kControl,   // real coordinates that calibration and refinement go by
  kCheck,     // real coordinates held back (CheckPoints)
  kComputed,  // coordinates computed from the photos
};

// A position's reprojection error in one calibrated photo it is marked in, in pixels.
struct PhotoError {
  std::size_t photo = 0;
  double pixels = 0;
};

// How well one position with a 3D point fits its marks.
struct PositionResiduals {
  std::int32_t id = 0;
  PositionRole role = PositionRole::kComputed;
  // The point reprojected: the typed one of a fully known real position, else the computed
  // (or, for a real position with unknown coordinates, the triangulated) one. World units.
  Vec3 point;
  int views = 0;                   // calibrated photos with a picture and camera that mark it
  std::vector<PhotoError> errors;  // in photo order; a photo with the point behind it is left out
  ErrorStats stats;                // of `errors`
  // Real positions: the least-squares point of its rays in the calibrated photos, and the
  // distance (world units, over its known coordinates only) between it and the typed point.
  std::optional<Vec3> triangulated;
  std::optional<double> typedDistance;
};

// The residuals of a whole project as its poses and points stand.
struct ResidualReport {
  std::vector<PhotoResiduals> photos;        // calibrated photos, largest all.rms first
  std::vector<PositionResiduals> positions;  // largest stats.largest first
  ErrorStats overall;                        // every reprojection error of `positions`
  std::int32_t worstId = -1;                 // the position and photo of overall.largest
  std::size_t worstPhoto = 0;
  // The diagonal of the bounding box of the positions' points, world units (0: none).
  double sceneSize = 0;
  // The typed-to-triangulated distances of the check points that could be triangulated.
  ErrorStats checkDistances;
};

// Reprojects every position with a 3D point into each calibrated photo it is marked in, with
// the engine's camera model (the projection of ReprojectionRms), and triangulates the real
// positions. Positions of `checks` that are not real are treated as any other.
ResidualReport BuildResidualReport(const model::Project& project, const CheckPoints& checks = {});

}  // namespace modrin::engine
