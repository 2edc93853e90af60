#include "engine/bundle_adjustment.h"

#include <ceres/ceres.h>
#include <ceres/rotation.h>

#include <Eigen/Dense>
#include <array>
#include <cmath>
#include <memory>
#include <thread>

#include "engine/calibration.h"
#include "engine/control_points.h"
#include "engine/geometry/camera.h"
#include "engine/multiview.h"
#include "engine/progress.h"
#include "engine/reconstruction.h"
#include "images/camera_database.h"
#include "model/project.h"

namespace modrin::engine {
namespace {

// One calibrated photo: its rotation is the start's turned by a small world-frame increment
// (angle-axis), which keeps the parameters away from the gimbal lock of pitch, roll and yaw.
struct CameraBlock {
  std::size_t photo = 0;
  const CameraRecord* start = nullptr;
  Rotation startRotation;
  std::array<double, 3> increment{0, 0, 0};
  std::array<double, 3> translation{0, 0, 0};
  std::size_t focalGroup = 0;
  int width = 0;
  int height = 0;
};

// The photos of one camera model at one focal length share a focal scale (1: as calibrated).
struct FocalGroup {
  const images::CameraEntry* entry = nullptr;
  double focal = 0;
  double scale = 1;
};

struct PointBlock {
  std::int32_t id = 0;
  bool real = false;
  Vec3 typed;  // of a real position; UnknownCoordinate on the axes not known
  std::array<double, 3> xyz{0, 0, 0};
};

struct Observation {
  std::size_t camera = 0;
  std::size_t point = 0;
  Vec2 mark;  // normalized image coordinates
};

// Everything the refinement works on, copied out of the project.
struct Adjustment {
  std::vector<CameraBlock> cameras;
  std::vector<FocalGroup> focals;
  std::vector<PointBlock> points;
  std::vector<Observation> observations;
  int leftOut = 0;
};

bool IsFinite(const Vec3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

Vec3 ToVec3(const std::array<double, 3>& a) { return {a[0], a[1], a[2]}; }

// The world-frame rotation exp(increment) applied after `start`: camera-to-world matrix.
Rotation Turned(const Rotation& start, const std::array<double, 3>& increment) {
  const Eigen::Vector3d axis(increment[0], increment[1], increment[2]);
  const double angle = axis.norm();
  const Eigen::Matrix3d turn = angle > 0 ? Eigen::AngleAxisd(angle, axis / angle).toRotationMatrix()
                                         : Eigen::Matrix3d::Identity();
  Rotation turned;
  for (int i = 0; i < 3; ++i) {
    turned.rows[i] =
        start.rows[0] * turn(i, 0) + start.rows[1] * turn(i, 1) + start.rows[2] * turn(i, 2);
  }
  return turned;
}

// The camera a block stands for now, with the start's sensor and the group's focal length.
CameraRecord CameraOf(const Adjustment& adjustment, const CameraBlock& block) {
  CameraRecord camera;
  camera.cameraEntry = block.start->cameraEntry;
  const FocalGroup& group = adjustment.focals[block.focalGroup];
  camera.focal = group.focal * group.scale;
  camera.translation = ToVec3(block.translation);
  camera.orientation =
      OrientationOf(Turned(block.startRotation, block.increment), block.start->orientation);
  return camera;
}

// The reprojection RMS in pixels over every observation, through the engine's WorldToImage;
// empty when a point lies behind its camera.
std::optional<double> RmsPixels(const Adjustment& adjustment) {
  std::vector<CameraRecord> cameras;
  for (const CameraBlock& block : adjustment.cameras)
    cameras.push_back(CameraOf(adjustment, block));
  double sum = 0;
  for (const Observation& o : adjustment.observations) {
    const CameraBlock& block = adjustment.cameras[o.camera];
    const ImageProjection q =
        WorldToImage(cameras[o.camera], ToVec3(adjustment.points[o.point].xyz));
    if (!q.inFront) return std::nullopt;
    const double du = (q.image.x - o.mark.x) * block.width;
    const double dv = (q.image.y - o.mark.y) * block.height;
    sum += du * du + dv * dv;
  }
  if (adjustment.observations.empty()) return std::nullopt;
  const double rms = std::sqrt(sum / static_cast<double>(adjustment.observations.size()));
  return std::isfinite(rms) ? std::optional<double>(rms) : std::nullopt;
}

// The pixel error of one mark, as WorldToImage projects: d = R^T (p - t) with R = exp(increment)
// R0, so d = R0^T exp(-increment) (p - t).
struct ReprojectionCost {
  Rotation startRotation;
  double focal, cellWidth, cellHeight;
  double width, height;
  Vec2 mark;

  template <typename T>
  bool operator()(const T* increment, const T* translation, const T* point, const T* focalScale,
                  T* residual) const {
    const T relative[3] = {point[0] - translation[0], point[1] - translation[1],
                           point[2] - translation[2]};
    const T back[3] = {-increment[0], -increment[1], -increment[2]};
    T y[3];
    ceres::AngleAxisRotatePoint(back, relative, y);
    const auto& r = startRotation.rows;
    const T dx = r[0].x * y[0] + r[1].x * y[1] + r[2].x * y[2];
    const T dy = r[0].y * y[0] + r[1].y * y[1] + r[2].y * y[2];
    const T dz = r[0].z * y[0] + r[1].z * y[1] + r[2].z * y[2];
    const T f = focal * focalScale[0];
    if (!(dy > f)) return false;  // behind the image plane: the step is refused
    residual[0] = (dx / dy * f / cellWidth - mark.x) * width;
    residual[1] = (dz / dy * f / cellHeight - mark.y) * height;
    return true;
  }
};

// A soft control point: (point - typed) / sigma on each known axis.
struct PriorCost {
  Vec3 typed;
  double sigma;

  template <typename T>
  bool operator()(const T* point, T* residual) const {
    const double axes[3] = {typed.x, typed.y, typed.z};
    for (int k = 0; k < 3; ++k) {
      residual[k] = axes[k] == UnknownCoordinate ? T(0.0) : (point[k] - axes[k]) / sigma;
    }
    return true;
  }
};

// Shows the iterations and asks for a cancel after each.
class ProgressCallback : public ceres::IterationCallback {
 public:
  explicit ProgressCallback(Progress& progress) : progress_(progress) {}
  ceres::CallbackReturnType operator()(const ceres::IterationSummary& summary) override {
    progress_.SetPos(summary.iteration);
    return progress_.CancelRequested() ? ceres::SOLVER_ABORT : ceres::SOLVER_CONTINUE;
  }

 private:
  Progress& progress_;
};

std::size_t FocalGroupOf(Adjustment& adjustment, const CameraRecord& camera) {
  for (std::size_t g = 0; g < adjustment.focals.size(); ++g) {
    const FocalGroup& group = adjustment.focals[g];
    if (group.entry == camera.cameraEntry && group.focal == camera.focal) return g;
  }
  adjustment.focals.push_back({camera.cameraEntry, camera.focal, 1});
  return adjustment.focals.size() - 1;
}

// Copies the calibrated photos into camera blocks; a message when there are too few or a pose
// is not finite.
std::string CollectCameras(const model::Project& project, Adjustment& adjustment,
                           std::vector<std::optional<std::size_t>>& blockOf) {
  blockOf.assign(project.photos.size(), std::nullopt);
  for (std::size_t i = 0; i < project.photos.size(); ++i) {
    const model::Photo& photo = *project.photos[i];
    if (!CanMapPhoto(photo)) continue;
    const CameraRecord& camera = photo.camera;
    if (!IsFinite(camera.translation) || !IsFinite(camera.orientation) ||
        !std::isfinite(camera.focal) || !(camera.focal > 0)) {
      return "photo " + std::to_string(i) +
             " has a pose or focal length that is not a finite number";
    }
    CameraBlock block;
    block.photo = i;
    block.start = &camera;
    block.startRotation = CameraRotation(camera.orientation);
    block.translation = {camera.translation.x, camera.translation.y, camera.translation.z};
    block.focalGroup = FocalGroupOf(adjustment, camera);
    block.width = photo.image().width;
    block.height = photo.image().height;
    blockOf[i] = adjustment.cameras.size();
    adjustment.cameras.push_back(block);
  }
  if (adjustment.cameras.size() < 2) {
    return "refining needs at least two calibrated photos with their pictures and camera models; "
           "the project has " +
           std::to_string(adjustment.cameras.size());
  }
  return "";
}

// The starting point of a position: typed when fully known, else the least-squares point of its
// rays with any typed coordinates put in. Empty when it cannot be placed.
std::optional<Vec3> StartingPoint(const model::Project& project, std::int32_t id, const Vec3& typed,
                                  bool real, std::size_t marks) {
  if (real && IsFullyKnown(typed)) return typed;
  if (marks < 2) return std::nullopt;
  std::optional<Vec3> point = TriangulatePosition(project, id);
  if (!point || !real) return point;
  if (typed.x != UnknownCoordinate) point->x = typed.x;
  if (typed.y != UnknownCoordinate) point->y = typed.y;
  if (typed.z != UnknownCoordinate) point->z = typed.z;
  return point;
}

// Copies the positions seen by the calibrated photos, less the check points, into point blocks
// and their marks into observations; a message when a point is not finite or behind a camera.
std::string CollectPoints(const model::Project& project, const CheckPoints& checks,
                          const std::vector<std::optional<std::size_t>>& blockOf,
                          Adjustment& adjustment) {
  for (const auto& [id, position] : project.graph.positions) {
    if (checks.contains(id)) continue;
    const std::vector<MappedMark> marks = MappedMarks(project, id);
    if (marks.empty()) continue;
    const Vec3 typed{position.coords[0], position.coords[1], position.coords[2]};
    const std::optional<Vec3> start =
        StartingPoint(project, id, typed, position.isReal, marks.size());
    if (!start) {
      ++adjustment.leftOut;
      continue;
    }
    if (!IsFinite(*start)) {
      return "position " + std::to_string(id) + " has coordinates that are not finite numbers";
    }
    const std::size_t point = adjustment.points.size();
    adjustment.points.push_back({id, position.isReal, typed, {start->x, start->y, start->z}});
    for (const MappedMark& mark : marks) {
      const std::size_t camera = *blockOf[mark.photo];
      if (!WorldToImage(*adjustment.cameras[camera].start, *start).inFront) {
        return "position " + std::to_string(id) + " lies behind the camera of photo " +
               std::to_string(mark.photo) + "; check its marks and coordinates";
      }
      adjustment.observations.push_back({camera, point, mark.image});
    }
  }
  return "";
}

// A message when the refinement's shape leaves poses free: a photo with fewer than three
// marks, or control points that cannot hold the model (all on one line among them: the other
// points are then free to turn about it with the photos).
std::string CheckShape(const Adjustment& adjustment) {
  std::vector<int> marks(adjustment.cameras.size(), 0);
  for (const Observation& o : adjustment.observations) ++marks[o.camera];
  for (std::size_t c = 0; c < marks.size(); ++c) {
    if (marks[c] < 3) {
      return "photo " + std::to_string(adjustment.cameras[c].photo) + " has " +
             std::to_string(marks[c]) + " marked points with coordinates; a pose needs at least 3";
    }
  }
  std::vector<Correspondence> control;
  for (const PointBlock& p : adjustment.points) {
    if (p.real) control.push_back({{}, p.typed});
  }
  const ControlPointProblem problem = CheckControlPoints(control);
  if (problem != ControlPointProblem::kNone) {
    return "the control points cannot hold the model: " +
           ReadinessText({CalibrationReadiness::kControlPoints, problem});
  }
  return "";
}

void AddControlConstraint(ceres::Problem& problem, PointBlock& point,
                          const RefineOptions& options) {
  if (options.softSigma) {
    problem.AddResidualBlock(new ceres::AutoDiffCostFunction<PriorCost, 3, 3>(
                                 new PriorCost{point.typed, *options.softSigma}),
                             nullptr, point.xyz.data());
    return;
  }
  std::vector<int> known;
  if (point.typed.x != UnknownCoordinate) known.push_back(0);
  if (point.typed.y != UnknownCoordinate) known.push_back(1);
  if (point.typed.z != UnknownCoordinate) known.push_back(2);
  if (known.size() == 3) {
    problem.SetParameterBlockConstant(point.xyz.data());
  } else if (!known.empty()) {
    problem.SetManifold(point.xyz.data(), new ceres::SubsetManifold(3, known));
  }
}

void BuildProblem(Adjustment& adjustment, const RefineOptions& options, ceres::Problem& problem) {
  // One loss for every mark; the problem deletes it once.
  ceres::LossFunction* loss = new ceres::HuberLoss(options.huberPixels);
  for (const Observation& o : adjustment.observations) {
    CameraBlock& camera = adjustment.cameras[o.camera];
    FocalGroup& group = adjustment.focals[camera.focalGroup];
    const images::CameraEntry& sensor = *camera.start->cameraEntry;
    auto* cost =
        new ceres::AutoDiffCostFunction<ReprojectionCost, 2, 3, 3, 3, 1>(new ReprojectionCost{
            camera.startRotation, group.focal, sensor.cellWidth, sensor.cellHeight,
            static_cast<double>(camera.width), static_cast<double>(camera.height), o.mark});
    problem.AddResidualBlock(cost, loss, camera.increment.data(), camera.translation.data(),
                             adjustment.points[o.point].xyz.data(), &group.scale);
  }
  for (FocalGroup& group : adjustment.focals) {
    if (!options.refineFocal) problem.SetParameterBlockConstant(&group.scale);
  }
  for (PointBlock& point : adjustment.points) {
    if (point.real) AddControlConstraint(problem, point, options);
  }
}

RefineResult Failure(std::string message) {
  RefineResult result;
  result.message = std::move(message);
  return result;
}

std::string CheckOptions(const RefineOptions& options) {
  if (!(options.huberPixels > 0) || !std::isfinite(options.huberPixels)) {
    return "the robust loss scale must be a positive number of pixels";
  }
  if (options.softSigma && (!(*options.softSigma > 0) || !std::isfinite(*options.softSigma))) {
    return "the control points' standard deviation must be a positive number";
  }
  return "";
}

// The solver's poses and computed points, or a message when a value is not finite.
std::string CollectResult(const Adjustment& adjustment, RefineResult& result) {
  for (const CameraBlock& block : adjustment.cameras) {
    const CameraRecord camera = CameraOf(adjustment, block);
    if (!IsFinite(camera.translation) || !IsFinite(camera.orientation) ||
        !std::isfinite(camera.focal)) {
      return "the refinement ended with values that are not finite numbers";
    }
    result.poses.push_back({block.photo, camera.translation, camera.orientation, camera.focal});
  }
  for (const PointBlock& point : adjustment.points) {
    if (point.real) continue;
    if (!IsFinite(ToVec3(point.xyz))) {
      return "the refinement ended with values that are not finite numbers";
    }
    result.points.push_back({point.id, ToVec3(point.xyz)});
  }
  return "";
}

int ThreadCount(int threads) {
  if (threads > 0) return threads;
  return std::max(1, static_cast<int>(std::thread::hardware_concurrency()));
}

}  // namespace

RefineResult Refine(const model::Project& project, const RefineOptions& options,
                    Progress* progress) {
  Adjustment adjustment;
  std::vector<std::optional<std::size_t>> blockOf;
  std::string error = CheckOptions(options);
  if (error.empty()) error = CollectCameras(project, adjustment, blockOf);
  if (error.empty()) error = CollectPoints(project, options.checks, blockOf, adjustment);
  if (error.empty()) error = CheckShape(adjustment);
  const std::optional<double> before = RmsPixels(adjustment);
  if (error.empty() && !before) error = "a point lies behind a camera that marks it";
  if (!error.empty()) return Failure(error);

  ceres::Problem problem;
  BuildProblem(adjustment, options, problem);
  ceres::Solver::Options solver;
  solver.linear_solver_type = ceres::DENSE_SCHUR;
  solver.max_num_iterations = options.maxIterations;
  solver.num_threads = ThreadCount(options.threads);
  solver.logging_type = ceres::SILENT;
  NullProgress silent;
  Progress& shown = progress != nullptr ? *progress : silent;
  ProgressCallback callback(shown);
  solver.callbacks.push_back(&callback);
  shown.Create("Refining poses and points ");
  shown.SetRange(0, options.maxIterations);
  ceres::Solver::Summary summary;
  ceres::Solve(solver, &problem, &summary);
  shown.Destroy();

  if (summary.termination_type == ceres::USER_FAILURE) {
    RefineResult cancelled = Failure("the refinement was cancelled; nothing was changed");
    cancelled.cancelled = true;
    return cancelled;
  }
  if (!summary.IsSolutionUsable()) return Failure("the refinement failed: " + summary.message);
  RefineResult result;
  error = CollectResult(adjustment, result);
  const std::optional<double> after = RmsPixels(adjustment);
  if (error.empty() && !after) error = "the refinement moved a point behind a camera";
  if (!error.empty()) return Failure(error);
  result.ok = true;
  result.observations = static_cast<int>(adjustment.observations.size());
  result.leftOut = adjustment.leftOut;
  result.rmsBefore = *before;
  result.rmsAfter = *after;
  result.iterations = static_cast<int>(summary.iterations.size());
  return result;
}

void ApplyRefinement(model::Project& project, const RefineResult& result) {
  if (!result.ok) return;
  for (const RefinedPose& pose : result.poses) {
    CameraRecord& camera = project.photos.at(pose.photo)->camera;
    camera.translation = pose.translation;
    camera.orientation = pose.orientation;
    camera.focal = pose.focal;
  }
  for (const RefinedPoint& refined : result.points) {
    const auto it = project.graph.positions.find(refined.id);
    if (it == project.graph.positions.end() || it->second.isReal) continue;
    it->second.coords = {refined.point.x, refined.point.y, refined.point.z};
    it->second.isComputed = true;
  }
}

}  // namespace modrin::engine
