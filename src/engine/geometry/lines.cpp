#include "engine/geometry/lines.h"

#include <cmath>

namespace modrin::engine {

namespace {

bool IsFinite(const Vec3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

// The line through the projections of line's origin and of origin + dir.
Line3 ProjectLine(const Plane& plane, const Line3& line) {
  const Vec3 origin = ProjectOntoPlane(plane, line.origin);
  return {origin, ProjectOntoPlane(plane, line.origin + line.dir) - origin};
}

// The common perpendicular of two lines: projected onto the plane orthogonal to both
// directions, the lines cross (in x-y) where it passes. Empty for parallel lines.
std::optional<Line3> CommonPerpendicular(const Line3& a, const Line3& b) {
  const Vec3 cross = Cross(a.dir, b.dir);
  if (cross.SquaredLength() == 0) return std::nullopt;
  const Plane plane(cross, 0);
  return Line3{IntersectLinesXY(ProjectLine(plane, a), ProjectLine(plane, b)).point, plane.normal};
}

}  // namespace

std::optional<ClosestPoint> ClosestPointBetweenLines(const Line3& a, const Line3& b) {
  const std::optional<Line3> perpendicular = CommonPerpendicular(a, b);
  if (!perpendicular) return std::nullopt;
  const Vec3 ca = IntersectLinesXY(a, *perpendicular).point;
  const Vec3 cb = IntersectLinesXY(b, *perpendicular).point;
  ClosestPoint result{ca, (ca - cb).SquaredLength()};
  if (!IsFinite(result.point) || !std::isfinite(result.squaredGap)) return std::nullopt;
  return result;
}

std::optional<Vec3> ClosestPointOnLine(const Line3& a, const Line3& b) {
  const std::optional<Line3> perpendicular = CommonPerpendicular(a, b);
  if (!perpendicular) return std::nullopt;
  const Vec3 ca = IntersectLinesXY(a, *perpendicular).point;
  if (!IsFinite(ca)) return std::nullopt;
  return ca;
}

}  // namespace modrin::engine
