#include "engine/reconstruction.h"

#include <chrono>

#include "engine/control_points.h"
#include "engine/face_finder.h"
#include "model/project.h"
#include "model/project_document.h"

namespace modrin::engine {
namespace {

// The correspondences of photo `index` from its calibration positions. A photo without its
// picture cannot turn pixels into normalized points and gets none.
std::vector<Correspondence> BuildCorrespondences(const model::Project& project, std::size_t index,
                                                 bool borrowComputed) {
  const model::Photo& photo = *project.photos[index];
  std::vector<Correspondence> correspondences;
  if (!photo.HasImage()) return correspondences;
  const auto photoIndex = static_cast<std::int32_t>(index);
  for (const std::int32_t id : project.CalibrationPositions(photoIndex, borrowComputed)) {
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
  return {};
}

}  // namespace

CalibrationReadiness CheckCalibrationReadiness(const model::Project& project, std::size_t index) {
  return Readiness(*project.photos[index], BuildCorrespondences(project, index, true));
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
    camera.correspondences = BuildCorrespondences(project, i, camera.pending);
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
