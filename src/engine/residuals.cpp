#include "engine/residuals.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "engine/calibration.h"
#include "engine/geometry/camera.h"
#include "engine/multiview.h"
#include "model/project.h"

namespace modrin::engine {
namespace {

// The 3D point a position is reprojected from, and its role; empty when it has none.
struct ModelPoint {
  Vec3 point;
  PositionRole role;
  std::optional<Vec3> triangulated;
};

std::optional<ModelPoint> ModelPointOf(const model::Project& project, std::int32_t id,
                                       const model::Position& position, const CheckPoints& checks) {
  const Vec3 coords{position.coords[0], position.coords[1], position.coords[2]};
  if (!position.isReal) {
    if (!position.isComputed) return std::nullopt;
    return ModelPoint{coords, PositionRole::kComputed, std::nullopt};
  }
  const PositionRole role = checks.contains(id) ? PositionRole::kCheck : PositionRole::kControl;
  const std::optional<Vec3> triangulated = TriangulatePosition(project, id);
  if (IsFullyKnown(coords)) return ModelPoint{coords, role, triangulated};
  if (!triangulated) return std::nullopt;
  return ModelPoint{*triangulated, role, triangulated};
}

// The distance between two points over the axes that `typed` knows.
double KnownAxesDistance(const Vec3& typed, const Vec3& other) {
  double sum = 0;
  const double a[] = {typed.x, typed.y, typed.z}, b[] = {other.x, other.y, other.z};
  for (int axis = 0; axis < 3; ++axis) {
    if (a[axis] != UnknownCoordinate) sum += (a[axis] - b[axis]) * (a[axis] - b[axis]);
  }
  return std::sqrt(sum);
}

// The pixel distance between a mark and the projection of `point`, as ReprojectionRms measures
// it; empty when the point does not lie in front of the camera.
std::optional<double> PixelError(const model::Photo& photo, const Vec3& point, const Vec2& mark) {
  const ImageProjection q = WorldToImage(photo.camera, point);
  if (!q.inFront) return std::nullopt;
  const double du = (q.image.x - mark.x) * photo.image().width;
  const double dv = (q.image.y - mark.y) * photo.image().height;
  const double error = std::sqrt(du * du + dv * dv);
  return std::isfinite(error) ? std::optional<double>(error) : std::nullopt;
}

double BoxDiagonal(const std::vector<PositionResiduals>& positions) {
  if (positions.empty()) return 0;
  Vec3 low = positions.front().point, high = low;
  for (const PositionResiduals& p : positions) {
    low = {std::min(low.x, p.point.x), std::min(low.y, p.point.y), std::min(low.z, p.point.z)};
    high = {std::max(high.x, p.point.x), std::max(high.y, p.point.y), std::max(high.z, p.point.z)};
  }
  return std::sqrt((high - low).SquaredLength());
}

// A control point of the photo summary: a real position typed in full, not held back.
bool IsControlPoint(const model::Project& project, const PositionResiduals& p) {
  if (p.role != PositionRole::kControl) return false;
  const model::Position& position = project.graph.positions.at(p.id);
  return IsFullyKnown({position.coords[0], position.coords[1], position.coords[2]});
}

// Per photo: the errors of its control points and of all its points, with the worst one's id.
struct PhotoErrors {
  std::vector<double> control, all;
  double largest = -1;
  std::int32_t worstId = -1;
};

std::vector<PhotoResiduals> SummarizePhotos(const model::Project& project,
                                            const std::vector<PositionResiduals>& positions) {
  std::map<std::size_t, PhotoErrors> byPhoto;
  for (std::size_t i = 0; i < project.photos.size(); ++i) {
    if (CanMapPhoto(*project.photos[i])) byPhoto[i];
  }
  for (const PositionResiduals& p : positions) {
    const bool control = IsControlPoint(project, p);
    for (const PhotoError& e : p.errors) {
      PhotoErrors& photo = byPhoto[e.photo];
      photo.all.push_back(e.pixels);
      if (control) photo.control.push_back(e.pixels);
      if (e.pixels > photo.largest) {
        photo.largest = e.pixels;
        photo.worstId = p.id;
      }
    }
  }
  std::vector<PhotoResiduals> photos;
  for (const auto& [index, errors] : byPhoto) {
    photos.push_back({index, StatsOf(errors.control), StatsOf(errors.all), errors.worstId});
  }
  std::stable_sort(photos.begin(), photos.end(),
                   [](const auto& a, const auto& b) { return a.all.rms > b.all.rms; });
  return photos;
}

PositionResiduals MeasurePosition(const model::Project& project, std::int32_t id,
                                  const ModelPoint& model) {
  PositionResiduals p;
  p.id = id;
  p.role = model.role;
  p.point = model.point;
  p.triangulated = model.triangulated;
  std::vector<double> errors;
  for (const MappedMark& mark : MappedMarks(project, id)) {
    ++p.views;
    const std::optional<double> error =
        PixelError(*project.photos[mark.photo], p.point, mark.image);
    if (!error) continue;
    p.errors.push_back({mark.photo, *error});
    errors.push_back(*error);
  }
  p.stats = StatsOf(errors);
  if (model.role != PositionRole::kComputed && model.triangulated) {
    const auto& coords = project.graph.positions.at(id).coords;
    p.typedDistance = KnownAxesDistance({coords[0], coords[1], coords[2]}, *model.triangulated);
  }
  return p;
}

}  // namespace

ErrorStats StatsOf(const std::vector<double>& errors) {
  ErrorStats stats;
  double sum = 0;
  for (const double e : errors) {
    sum += e * e;
    stats.largest = std::max(stats.largest, e);
  }
  stats.count = static_cast<int>(errors.size());
  if (!errors.empty()) stats.rms = std::sqrt(sum / static_cast<double>(errors.size()));
  return stats;
}

ResidualReport BuildResidualReport(const model::Project& project, const CheckPoints& checks) {
  ResidualReport report;
  std::vector<double> all, checkDistances;
  for (const auto& [id, position] : project.graph.positions) {
    const std::optional<ModelPoint> model = ModelPointOf(project, id, position, checks);
    if (!model) continue;
    PositionResiduals p = MeasurePosition(project, id, *model);
    if (p.views == 0) continue;
    for (const PhotoError& e : p.errors) {
      all.push_back(e.pixels);
      if (report.worstId < 0 || e.pixels > report.overall.largest) {
        report.overall.largest = e.pixels;
        report.worstId = id;
        report.worstPhoto = e.photo;
      }
    }
    if (p.role == PositionRole::kCheck && p.typedDistance) {
      checkDistances.push_back(*p.typedDistance);
    }
    report.positions.push_back(std::move(p));
  }
  report.overall = StatsOf(all);
  report.checkDistances = StatsOf(checkDistances);
  report.sceneSize = BoxDiagonal(report.positions);
  report.photos = SummarizePhotos(project, report.positions);
  std::stable_sort(report.positions.begin(), report.positions.end(),
                   [](const auto& a, const auto& b) { return a.stats.largest > b.stats.largest; });
  return report;
}

}  // namespace modrin::engine
