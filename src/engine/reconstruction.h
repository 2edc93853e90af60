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
  // A cancel through its progress interface (Escape) stops the search of the photo being
  // solved; the run goes on with the next photo.
  CalibrationOptions calibration;
  // Asked before each solve; true stops the whole run there, leaving the photos not reached as
  // they were. Unset: the run goes to its end.
  std::function<bool()> stopRequested;
  // Called after each solve with the photo index, its result and the seconds it took. A photo
  // rejected in one pass is solved again in the next, so it can be reported more than once.
  std::function<void(std::size_t photo, const CalibrationResult&, double seconds)> onPhotoDone;
};

struct CalibrationRunSummary {
  int solves = 0;        // Calibrate calls made, in all passes
  int accepted = 0;      // of which accepted
  bool stopped = false;  // stopRequested ended the run before a photo it would have solved
};

// Builds every photo's correspondences from the positions with real coordinates, then solves
// in passes: each pass calibrates, in photo order, the pending photos that have a camera model
// and two or more correspondences whose real points can fix a pose (CheckControlPoints; the
// others keep their pose and flags), then computes the positions seen in two calibrated photos;
// passes repeat while one calibrates a photo. Correspondences are built once, so a repeated
// pass changes a result only where the previous solve was cancelled.
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
