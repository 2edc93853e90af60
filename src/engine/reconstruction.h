#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/calibration.h"
#include "engine/control_points.h"
#include "engine/residuals.h"

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
  // Real positions the run leaves out of every photo's correspondences.
  CheckPoints checks;
};

struct CalibrationRunSummary {
  int solves = 0;        // Calibrate calls made, in all passes
  int accepted = 0;      // of which accepted
  bool stopped = false;  // stopRequested ended the run before a photo it would have solved
};

// Whether a calibration run can try a photo, and if not, what stops it.
struct CalibrationReadiness {
  enum Obstacle {
    kReady,
    kNoPicture,
    kNoCameraModel,
    kTooFewPoints,   // fewer than kMinControlPoints correspondences
    kControlPoints,  // their real points cannot fix a pose: `problem` says why
    kSeveralPoses,   // three fully known points fit several poses and no other mark tells
                     // them apart (ThreePointPosesAmbiguous)
  };
  Obstacle obstacle = kReady;
  ControlPointProblem problem = ControlPointProblem::kNone;

  bool ready() const { return obstacle == kReady; }
};

// Why a run does not try a photo, as the user reads it ("no picture", ...); empty when ready.
std::string ReadinessText(const CalibrationReadiness& readiness);

// Checks photo `index` of the project as it is, with the correspondences a run would give it
// were it pending (those of Project::CalibrationPositions, borrowed ones included, without
// `checks`).
CalibrationReadiness CheckCalibrationReadiness(const model::Project& project, std::size_t index,
                                               const CheckPoints& checks = {});

// The photos to calibrate when the user has not chosen: every photo not calibrated yet that a
// run can try. These are the photos `modrin-cli calibrate` solves without options, and the
// ones the calibration dialog ticks when it opens.
std::vector<bool> PhotosToCalibrate(const model::Project& project);

// Builds every photo's correspondences from its Project::CalibrationPositions (borrowing only
// for a pending photo) less the run's check points, then solves in passes: each pass calibrates, in
// photo order, the pending photos that are ready (CheckCalibrationReadiness; the others keep their
// pose and flags), then computes the positions seen in two calibrated photos; passes repeat while
// one calibrates a photo. Correspondences are built once, so a repeated pass changes a result only
// where the previous solve was cancelled.
CalibrationRunSummary RunCalibration(model::Project& project,
                                     const CalibrationRunOptions& options = {});

// A calibrated photo is doubtful when its control points reproject at more than this many
// times the median of the other calibrated photos' and by more than kDoubtfulPixels: a wrong
// mark, or a pose its marks barely hold.
inline constexpr double kDoubtfulFactor = 3;
inline constexpr double kDoubtfulPixels = 2;

// The control-point RMS in pixels (ReprojectionRms of the marks of its real positions) of
// every calibrated photo with its picture; empty for the others. Check points are left out.
std::vector<std::optional<double>> ControlPointRms(const model::Project& project,
                                                   const CheckPoints& checks = {});

// Which of the photos whose RMS is given are doubtful against the others' median (see
// kDoubtfulFactor). A photo alone has nothing to be compared with and is never doubtful.
std::vector<bool> DoubtfulPhotos(const std::vector<std::optional<double>>& rms);

// "check its marks: 4.7 px", the note of a doubtful photo.
std::string CheckMarksNote(double rmsPixels);

// Rebuilds one object's mesh for one photo from the faces found so far.
using ObjectMeshBuilder =
    std::function<void(model::Project&, model::Object&, int photo, const FaceFinder&)>;

// Computes missing coordinates, finds the closed faces photo by photo and, after each photo,
// has `buildMesh` (when set) rebuild every object's mesh for it. Returns the number of faces
// found.
std::size_t UpdateModel(model::Project& project, const ObjectMeshBuilder& buildMesh = {});

}  // namespace modrin::engine
