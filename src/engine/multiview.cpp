#include "engine/multiview.h"

#include <Eigen/Dense>
#include <cmath>

#include "engine/geometry/camera.h"
#include "model/project.h"

namespace modrin::engine {
namespace {

// Smallest eigenvalue per line of the normal matrix below which the lines count as parallel:
// about 1e-4 radians between them.
constexpr double kParallelEigenvalue = 1e-8;

Eigen::Vector3d ToEigen(const Vec3& v) { return {v.x, v.y, v.z}; }

}  // namespace

bool CanMapPhoto(const model::Photo& photo) {
  return photo.camera.calibrated && photo.HasImage() && photo.camera.cameraEntry != nullptr;
}

std::optional<Vec3> NearestPointToLines(const std::vector<Line3>& lines) {
  if (lines.size() < 2) return std::nullopt;
  // Each line adds its projector onto the plane normal to it: sum (I - d d^T) x = sum
  // (I - d d^T) o.
  Eigen::Matrix3d normal = Eigen::Matrix3d::Zero();
  Eigen::Vector3d right = Eigen::Vector3d::Zero();
  for (const Line3& line : lines) {
    const Eigen::Vector3d d = ToEigen(line.dir).normalized();
    const Eigen::Matrix3d projector = Eigen::Matrix3d::Identity() - d * d.transpose();
    normal += projector;
    right += projector * ToEigen(line.origin);
  }
  if (!normal.allFinite() || !right.allFinite()) return std::nullopt;
  const Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> eigen(normal);
  if (!(eigen.eigenvalues()[0] > kParallelEigenvalue * static_cast<double>(lines.size()))) {
    return std::nullopt;
  }
  const Eigen::Vector3d x = normal.ldlt().solve(right);
  if (!x.allFinite()) return std::nullopt;
  return Vec3{x[0], x[1], x[2]};
}

std::vector<MappedMark> MappedMarks(const model::Project& project, std::int32_t id) {
  std::vector<MappedMark> marks;
  const auto it = project.graph.positions.find(id);
  if (it == project.graph.positions.end()) return marks;
  for (const auto& [index, mark] : it->second.imagePoints) {
    if (index < 0 || static_cast<std::size_t>(index) >= project.photos.size()) continue;
    const model::Photo& photo = *project.photos[index];
    if (!CanMapPhoto(photo)) continue;
    marks.push_back(
        {static_cast<std::size_t>(index), model::PixelToNormalized(photo, mark.x, mark.y)});
  }
  return marks;
}

std::optional<Vec3> TriangulatePosition(const model::Project& project, std::int32_t id) {
  const std::vector<MappedMark> marks = MappedMarks(project, id);
  std::vector<Line3> rays;
  for (const MappedMark& mark : marks) {
    rays.push_back(ViewRay(project.photos[mark.photo]->camera, mark.image.x, mark.image.y));
  }
  const std::optional<Vec3> point = NearestPointToLines(rays);
  if (!point) return std::nullopt;
  for (const MappedMark& mark : marks) {
    if (!WorldToImage(project.photos[mark.photo]->camera, *point).inFront) return std::nullopt;
  }
  return point;
}

}  // namespace modrin::engine
