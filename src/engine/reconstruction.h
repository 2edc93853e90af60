#pragma once

#include <cstddef>
#include <functional>

#include "engine/calibration.h"

namespace modrin::model {
class Project;
class Object;
}  // namespace modrin::model

namespace modrin::engine {

class FaceFinder;

struct CalibrationRunOptions {
  CalibrationOptions calibration;
  // Called after each solve with the photo index, its result and the seconds it took.
  std::function<void(std::size_t photo, const CalibrationResult&, double seconds)> onPhotoDone;
};

struct CalibrationRunSummary {
  int solves = 0;          // Calibrate calls made
  int accepted = 0;        // of which accepted
  bool cancelled = false;  // the user stopped the run; photos not reached stay pending
};

// Builds every photo's correspondences from the positions with real coordinates, calibrates
// the pending photos that have a camera model and two or more correspondences (repeating
// passes while one succeeds), and computes the positions seen in two calibrated photos.
CalibrationRunSummary RunCalibration(model::Project& project,
                                     const CalibrationRunOptions& options = {});

// Rebuilds one object's mesh for one photo from the faces found so far.
using ObjectMeshBuilder =
    std::function<void(model::Project&, model::Object&, int photo, const FaceFinder&)>;

// Computes missing coordinates, finds the closed faces photo by photo and, after each photo,
// has `buildMesh` (when set) rebuild every object's mesh for it. Returns the number of faces
// found.
std::size_t UpdateModel(model::Project& project, const ObjectMeshBuilder& buildMesh = {});

}  // namespace modrin::engine
