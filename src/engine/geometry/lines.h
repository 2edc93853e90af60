#pragma once

#include <cmath>
#include <optional>

#include "engine/geometry/vec.h"

namespace modrin::engine {

// Where two lines cross in the x-y plane, with the mean height of the two lines there.
struct XYCrossing {
  Vec3 point;    // on line a, its z replaced by the mean of both lines' heights
  double h = 0;  // half the height difference (b minus a) at the crossing
};

// Intersects the x-y projections of two lines. Lines whose x-y directions are parallel
// (including vertical lines) give a's origin and h = 0. Inline: the pose search calls it
// millions of times.
inline XYCrossing IntersectLinesXY(const Line3& a, const Line3& b) {
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

// The orthogonal projection of p onto the plane through the origin with the plane's normal.
inline Vec3 ProjectOntoPlane(const Plane& plane, const Vec3& p) {
  return p - plane.normal * Dot(p, plane.normal);
}

// The point of line a closest to line b, and the squared length of the gap between them.
struct ClosestPoint {
  Vec3 point;
  double squaredGap = 0;
};

// Finds the common perpendicular of two lines by projecting both onto the plane orthogonal to
// it and intersecting them in x-y. Empty when the lines are parallel (their common
// perpendicular is not defined) or the construction gives a non-finite result.
std::optional<ClosestPoint> ClosestPointBetweenLines(const Line3& a, const Line3& b);

namespace detail {

// The line through the projections of line's origin and of origin + dir.
inline Line3 ProjectLine(const Plane& plane, const Line3& line) {
  const Vec3 origin = ProjectOntoPlane(plane, line.origin);
  return {origin, ProjectOntoPlane(plane, line.origin + line.dir) - origin};
}

// The common perpendicular of two lines: projected onto the plane orthogonal to both
// directions, the lines cross (in x-y) where it passes. Empty for parallel lines.
inline std::optional<Line3> CommonPerpendicular(const Line3& a, const Line3& b) {
  const Vec3 cross = Cross(a.dir, b.dir);
  if (cross.SquaredLength() == 0) return std::nullopt;
  const Plane plane(cross, 0);
  return Line3{IntersectLinesXY(ProjectLine(plane, a), ProjectLine(plane, b)).point, plane.normal};
}

inline bool IsFinite(const Vec3& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z);
}

}  // namespace detail

// The point of ClosestPointBetweenLines alone, for callers that do not need the gap. Inline:
// the pose search's translation estimate calls it for every pair of points at every pose.
inline std::optional<Vec3> ClosestPointOnLine(const Line3& a, const Line3& b) {
  const std::optional<Line3> perpendicular = detail::CommonPerpendicular(a, b);
  if (!perpendicular) return std::nullopt;
  const Vec3 ca = IntersectLinesXY(a, *perpendicular).point;
  if (!detail::IsFinite(ca)) return std::nullopt;
  return ca;
}

}  // namespace modrin::engine
