#include "engine/reconstruction.h"

#include <algorithm>
#include <chrono>

#include "engine/control_points.h"
#include "engine/face_finder.h"
#include "images/number_text.h"
#include "model/project.h"
#include "model/project_document.h"

namespace modrin::engine {
namespace {

// The correspondences of photo `index` from its calibration positions other than `checks`. A
// photo without its picture cannot turn pixels into normalized points and gets none.
std::vector<Correspondence> BuildCorrespondences(const model::Project& project, std::size_t index,
                                                 bool borrowComputed, const CheckPoints& checks) {
  const model::Photo& photo = *project.photos[index];
  std::vector<Correspondence> correspondences;
  if (!photo.HasImage()) return correspondences;
  const auto photoIndex = static_cast<std::int32_t>(index);
  for (const std::int32_t id : project.CalibrationPositions(photoIndex, borrowComputed)) {
    if (checks.contains(id)) continue;
    const model::Position& position = project.graph.positions.at(id);
    const model::ImagePoint& point = position.imagePoints.at(photoIndex);
    correspondences.push_back({model::PixelToNormalized(photo, point.x, point.y),
                               {position.coords[0], position.coords[1], position.coords[2]}});
  }
  return correspondences;
}

// A photo whose control points cannot fix its pose is not tried: a search would only accept
// some pose among the many that match them.
CalibrationReadiness Readiness(const model::Photo& photo,
                               const std::vector<Correspondence>& correspondences) {
  if (!photo.HasImage()) return {CalibrationReadiness::kNoPicture};
  if (photo.camera.cameraEntry == nullptr) return {CalibrationReadiness::kNoCameraModel};
  if (correspondences.size() < kMinControlPoints) return {CalibrationReadiness::kTooFewPoints};
  const ControlPointProblem problem = CheckControlPoints(correspondences);
  if (problem != ControlPointProblem::kNone) {
    return {CalibrationReadiness::kControlPoints, problem};
  }
  if (photo.camera.focal > 0) {
    CameraRecord camera = photo.camera;
    camera.correspondences = correspondences;
    if (ThreePointPosesAmbiguous(camera, photo.image().width)) {
      return {CalibrationReadiness::kSeveralPoses};
    }
  }
  return {};
}

}  // namespace

std::string ReadinessText(const CalibrationReadiness& readiness) {
  using Readiness = CalibrationReadiness;
  switch (readiness.obstacle) {
    case Readiness::kReady:
      return "";
    case Readiness::kNoPicture:
      return "no picture";
    case Readiness::kNoCameraModel:
      return "no camera model (its picture carries no EXIF camera model)";
    case Readiness::kTooFewPoints:
      return "fewer than " + std::to_string(kMinControlPoints) +
             " marked points with known coordinates";
    case Readiness::kSeveralPoses:
      return "3 points with x, y and z known allow several poses; mark a fourth";
    case Readiness::kControlPoints:
      break;
  }
  switch (readiness.problem) {
    case ControlPointProblem::kNoPointWithTwoKnownCoordinates:
      return "no marked point has more than one known coordinate";
    case ControlPointProblem::kOnOneLine:
      return "the marked points with two or three known coordinates lie on one line";
    case ControlPointProblem::kFewerThanTwoFullyKnown:
      return "fewer than 2 different marked points with x, y and z known";
    case ControlPointProblem::kTooFewKnownCoordinates:
      return "too few known coordinates to fix the pose";
    case ControlPointProblem::kNone:
      break;
  }
  return "";
}

CalibrationReadiness CheckCalibrationReadiness(const model::Project& project, std::size_t index,
                                               const CheckPoints& checks) {
  return Readiness(*project.photos[index], BuildCorrespondences(project, index, true, checks));
}

std::vector<bool> PhotosToCalibrate(const model::Project& project) {
  std::vector<bool> chosen(project.photos.size());
  for (std::size_t i = 0; i < chosen.size(); ++i) {
    chosen[i] =
        !project.photos[i]->camera.calibrated && CheckCalibrationReadiness(project, i).ready();
  }
  return chosen;
}

CalibrationRunSummary RunCalibration(model::Project& project,
                                     const CalibrationRunOptions& options) {
  // Borrowed correspondences are built before any solve, from the photos calibrated already.
  for (std::size_t i = 0; i < project.photos.size(); ++i) {
    CameraRecord& camera = project.photos[i]->camera;
    camera.correspondences = BuildCorrespondences(project, i, camera.pending, options.checks);
  }

  // Passes repeat while one calibrates a photo, so that a photo whose search was cancelled
  // gets a whole search once the others are done; the coordinates are computed after each.
  CalibrationRunSummary summary;
  for (bool calibratedAny = true; calibratedAny && !summary.stopped;) {
    calibratedAny = false;
    for (std::size_t i = 0; i < project.photos.size(); ++i) {
      model::Photo& photo = *project.photos[i];
      if (!photo.camera.pending || !Readiness(photo, photo.camera.correspondences).ready()) {
        continue;
      }
      if (options.stopRequested && options.stopRequested()) {
        summary.stopped = true;
        break;
      }
      const auto started = std::chrono::steady_clock::now();
      const CalibrationResult result =
          Calibrate(photo.camera, model::FileNamePart(photo.path), options.calibration);
      const std::chrono::duration<double> seconds = std::chrono::steady_clock::now() - started;
      photo.camera.calibrated = result.accepted;
      photo.camera.pending = !result.accepted;
      ++summary.solves;
      if (result.accepted) ++summary.accepted;
      calibratedAny = calibratedAny || result.accepted;
      if (options.onPhotoDone) options.onPhotoDone(i, result, seconds.count());
    }
    project.graph.ComputeAll();
  }
  return summary;
}

std::vector<std::optional<double>> ControlPointRms(const model::Project& project,
                                                   const CheckPoints& checks) {
  std::vector<std::optional<double>> rms(project.photos.size());
  for (std::size_t i = 0; i < rms.size(); ++i) {
    const model::Photo& photo = *project.photos[i];
    if (!photo.camera.calibrated || !photo.HasImage() || photo.camera.cameraEntry == nullptr) {
      continue;
    }
    CameraRecord camera = photo.camera;
    camera.correspondences = BuildCorrespondences(project, i, false, checks);
    rms[i] = ReprojectionRms(camera, photo.image().width, photo.image().height);
  }
  return rms;
}

std::vector<bool> DoubtfulPhotos(const std::vector<std::optional<double>>& rms) {
  std::vector<bool> doubtful(rms.size(), false);
  for (std::size_t i = 0; i < rms.size(); ++i) {
    if (!rms[i] || !(*rms[i] > kDoubtfulPixels)) continue;
    std::vector<double> others;
    for (std::size_t j = 0; j < rms.size(); ++j) {
      if (j != i && rms[j]) others.push_back(*rms[j]);
    }
    if (others.empty()) continue;
    // The lower median of an even count: a doubtful photo among two is still told.
    const auto middle = others.begin() + static_cast<std::ptrdiff_t>((others.size() - 1) / 2);
    std::nth_element(others.begin(), middle, others.end());
    doubtful[i] = *rms[i] > kDoubtfulFactor * *middle;
  }
  return doubtful;
}

std::string CheckMarksNote(double rmsPixels) {
  std::string note = "check its marks: ";
  images::AppendFixed(note, rmsPixels, 1);
  return note + " px";
}

std::size_t UpdateModel(model::Project& project, const ObjectMeshBuilder& buildMesh) {
  project.graph.ComputeAll();
  FaceFinder finder(project.graph);
  finder.BuildAdjacency();
  for (std::size_t p = 0; p < project.photos.size(); ++p) {
    finder.FindFaces(static_cast<int>(p));
    if (!buildMesh) continue;
    for (auto& object : project.objects) buildMesh(project, *object, static_cast<int>(p), finder);
  }
  return finder.faces.size();
}

}  // namespace modrin::engine
