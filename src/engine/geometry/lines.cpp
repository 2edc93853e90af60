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

}  // namespace

XYCrossing IntersectLinesXY(const Line3& a, const Line3& b) {
  const double den = a.dir.y * b.dir.x - b.dir.y * a.dir.x;
  if (den == 0) return {a.origin, 0};
  const Vec3 delta = b.origin - a.origin;
  const double ta = (delta.y * b.dir.x - delta.x * b.dir.y) / den;
  const double tb = (delta.y * a.dir.x - delta.x * a.dir.y) / den;
  const Vec3 p = a.origin + a.dir * ta;
  const Vec3 q = b.origin + b.dir * tb;
  const double h = (q.z - p.z) * 0.5;
  return {{p.x, p.y, p.z + h}, h};
}

Vec3 ProjectOntoPlane(const Plane& plane, const Vec3& p) {
  return p - plane.normal * Dot(p, plane.normal);
}

std::optional<ClosestPoint> ClosestPointBetweenLines(const Line3& a, const Line3& b) {
  const Vec3 cross = Cross(a.dir, b.dir);
  if (cross.SquaredLength() == 0) return std::nullopt;
  const Plane plane(cross, 0);
  const Line3 perpendicular{IntersectLinesXY(ProjectLine(plane, a), ProjectLine(plane, b)).point,
                            plane.normal};
  const Vec3 ca = IntersectLinesXY(a, perpendicular).point;
  const Vec3 cb = IntersectLinesXY(b, perpendicular).point;
  ClosestPoint result{ca, (ca - cb).SquaredLength()};
  if (!IsFinite(result.point) || !std::isfinite(result.squaredGap)) return std::nullopt;
  return result;
}

}  // namespace modrin::engine
