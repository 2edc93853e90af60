#pragma once

#include <optional>
#include <string>
#include <vector>

#include "engine/geometry/camera.h"
#include "engine/geometry/camera_record.h"
#include "engine/geometry/vec.h"
#include "engine/resection.h"

namespace modrin::engine {

class Progress;

// Tuning of the pose search. Fixed values of the program.
inline constexpr int CoarseSteps = 12;             // grid steps per axis of the top-level search
inline constexpr int RefineLevels = 15;            // refinement levels per kept candidate
inline constexpr int RefineSteps = 3;              // grid steps per axis of a refinement search
inline constexpr double RefineShrink = 2.0;        // range factor between refinement levels
inline constexpr double KeepFraction = 0.2;        // share of grid points kept by each threshold
inline constexpr int HistogramBins = 100;          // bins of the threshold histogram
inline constexpr double kValidityWindow = 0.7;     // largest |u|, |v| of a projected real point
inline constexpr double kAcceptanceFactor = 0.01;  // times the squared scene diagonal

// The measures a search can rank by; a search ranks by the last of its set in this order.
enum MeasureFlag : unsigned {
  kAngleError = 2,
  kLengthError = 4,
  kRayError = 8,
};

// How a calibration runs.
struct CalibrationOptions {
  Progress* progress = nullptr;  // null: no display, no cancel
  bool polish = true;            // finish with the least-squares pose polish
  int threads = 0;               // worker threads; 0: one per core. The result does not depend
                                 // on it.
};

// Where the pose a solve kept came from.
enum class PoseSource {
  kSearch,           // the grid search's best pose (polished when `polished`)
  kSearchCandidate,  // another of the search's best refined candidates, polished
  kClosedForm,       // the closed-form resection of the marks, polished
};

// What one solve found; the pose itself is left in the camera.
struct CalibrationResult {
  bool accepted = false;   // Accept passed for `error`, or `fitAccepted`
  double error = 0;        // the ray error of the pose left in the camera, the value Accept
                           // judged (world units; largest double: no plausible pose)
  bool polished = false;   // the polished pose was kept: it lowered the reprojection error of
                           // the search's pose, stayed plausible and passed Accept itself
  bool cancelled = false;  // the user stopped the solve; the pose found so far was judged
  PoseSource source = PoseSource::kSearch;
  bool fitAccepted = false;  // accepted although Accept fails `error`: a polished start that
                             // reprojects its marks closely (see Calibrate)
};

// Finds the pose of one photo's camera from its correspondences: an exhaustive search of the
// three angles, a translation derived for each, refinement of the most plausible orientations,
// acceptance against the scene's size, and an optional least-squares polish that is kept only
// when it passes the acceptance too (so it never loses a photo the search accepted). With the
// polish, a few more starts are polished as well: the search's next best refined candidates and
// the closed-form resection of the marks (ClosedFormPose, or every ThreePointCandidates pose),
// which has no blind attitude. Among the starts that pass Accept, or reproject their marks
// within half a percent of the image (the ray error Accept judges grows without bound for a
// level camera's glancing rays), the one that fits the marks best (MarkFit) is kept; the
// search's own pose stays unless another fits clearly better, so a pose the search finds well
// is not moved by rounding. Needs the camera's cameraEntry and at least two correspondences
// (callers check both). `photoName` is shown in the progress text.
CalibrationResult Calibrate(CameraRecord& camera, const std::string& photoName,
                            const CalibrationOptions& options = {});

// One grid search around the camera's current orientation (see calibration.cpp). Leaves the
// camera at the best pose found, or at its entry pose when no grid point is plausible, and
// returns the best ranking value (largest double: none). Top-level searches refine their kept
// candidates and return the refined RayError.
double Search(CameraRecord& camera, const Vec3& range, const Vec3& steps, bool topLevel,
              unsigned flags, double keepFraction, const CalibrationOptions& options = {});

// Sets the translation for the current orientation: the mean of the closest points between
// the lines through each fully known real point along its viewing ray.
void EstimateTranslation(CameraRecord& camera);

// Every fully known real point projects in front of the camera within the validity window.
bool IsPlausible(const CameraRecord& camera);

// The largest angle between a projected and a measured segment of two fully known points.
double AngleError(const CameraRecord& camera);
// The largest difference of squared lengths of projected and measured segments.
double LengthError(const CameraRecord& camera);
// The largest world distance between a real point and its viewing ray's point at its height.
double RayError(const CameraRecord& camera);

// The lower end of the values' range plus the first hundredth at which the running histogram
// count exceeds `fraction` of the values.
double Threshold(const std::vector<double>& values, double fraction);

// Whether `error` is small against the squared diagonal of the real points' bounding box.
bool Accept(const CameraRecord& camera, double error);

// With exactly three fully known correspondences: their three-point poses that are plausible
// and pass the acceptance of Calibrate's starts. They all fit those three marks exactly; only other
// marks tell them apart. Empty with any other number of fully known correspondences.
std::vector<CameraPose> ThreePointCandidates(const CameraRecord& camera);

// Whether the photo's pose rests on three fully known points with nothing to choose among their
// poses: two or more ThreePointCandidates and no mark of a point with one unknown coordinate
// that the best-fitting candidate fits by more than a pixel better than each other candidate.
// `pixelsPerWidth` is the photo's width in pixels.
bool ThreePointPosesAmbiguous(const CameraRecord& camera, double pixelsPerWidth);

// Whether every coordinate of the point is known.
bool IsFullyKnown(const Vec3& point);

// Root mean square distance, in pixels of a width x height picture, between each fully known
// correspondence's marked point and the projection of its real point. Empty without such
// points or when one of them lies behind the camera.
std::optional<double> ReprojectionRms(const CameraRecord& camera, int width, int height);

}  // namespace modrin::engine
