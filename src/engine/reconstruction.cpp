#include "engine/reconstruction.h"

#include <chrono>

#include "engine/control_points.h"
#include "engine/face_finder.h"
#include "model/project.h"
#include "model/project_document.h"

namespace modrin::engine {
namespace {

bool HasPhoto(const model::Project& project, std::int32_t index) {
  return index >= 0 && static_cast<std::size_t>(index) < project.photos.size() &&
         project.photos[index]->HasImage();
}

// Every image point of a position with real coordinates becomes a correspondence of its
// photo. A photo without its picture cannot turn pixels into normalized points and gets none.
void AddRealCorrespondences(model::Project& project) {
  for (const auto& [id, position] : project.graph.positions) {
    if (!position.isReal) continue;
    const Vec3 real{position.coords[0], position.coords[1], position.coords[2]};
    for (const auto& [index, point] : position.imagePoints) {
      if (!HasPhoto(project, index)) continue;
      model::Photo& photo = *project.photos[index];
      photo.camera.AddCorrespondence(model::PixelToNormalized(photo, point.x, point.y), real);
    }
  }
}

bool SeenInOtherCalibratedPhoto(const model::Project& project, const model::Position& position,
                                std::int32_t photo) {
  for (const auto& [index, point] : position.imagePoints) {
    if (index != photo && index >= 0 && static_cast<std::size_t>(index) < project.photos.size() &&
        project.photos[index]->camera.calibrated) {
      return true;
    }
  }
  return false;
}

// A pending photo with too few real points borrows the computed positions that a calibrated
// photo also sees. Real positions were added already, and positions without coordinates would
// only mislead the search, so both are left out.
void AddComputedCorrespondences(model::Project& project, std::int32_t index) {
  model::Photo& photo = *project.photos[index];
  for (const auto& [id, position] : project.graph.positions) {
    if (position.isReal || !position.isComputed) continue;
    const auto point = position.imagePoints.find(index);
    if (point == position.imagePoints.end()) continue;
    if (!SeenInOtherCalibratedPhoto(project, position, index)) continue;
    photo.camera.AddCorrespondence(
        model::PixelToNormalized(photo, point->second.x, point->second.y),
        {position.coords[0], position.coords[1], position.coords[2]});
  }
}

// A photo whose control points cannot fix its pose is not tried: a search would only accept
// some pose among the many that match them. It keeps its pose and flags.
bool ReadyToCalibrate(const CameraRecord& camera) {
  return camera.cameraEntry != nullptr && camera.pending && camera.CountCorrespondences() >= 2 &&
         CheckControlPoints(camera.correspondences) == ControlPointProblem::kNone;
}

}  // namespace

CalibrationRunSummary RunCalibration(model::Project& project,
                                     const CalibrationRunOptions& options) {
  for (auto& photo : project.photos) photo->camera.ClearCorrespondences();
  AddRealCorrespondences(project);
  for (std::size_t i = 0; i < project.photos.size(); ++i) {
    const model::Photo& photo = *project.photos[i];
    if (photo.camera.pending && photo.camera.CountCorrespondences() < 2 && photo.HasImage()) {
      AddComputedCorrespondences(project, static_cast<std::int32_t>(i));
    }
  }

  // Passes repeat while one calibrates a photo, so that a photo whose search was cancelled
  // gets a whole search once the others are done; the coordinates are computed after each.
  CalibrationRunSummary summary;
  for (bool calibratedAny = true; calibratedAny && !summary.stopped;) {
    calibratedAny = false;
    for (std::size_t i = 0; i < project.photos.size(); ++i) {
      model::Photo& photo = *project.photos[i];
      if (!ReadyToCalibrate(photo.camera)) continue;
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
