#include "engine/geometry/lines.h"

#include <cmath>

namespace modrin::engine {

std::optional<ClosestPoint> ClosestPointBetweenLines(const Line3& a, const Line3& b) {
  const std::optional<Line3> perpendicular = detail::CommonPerpendicular(a, b);
  if (!perpendicular) return std::nullopt;
  const Vec3 ca = IntersectLinesXY(a, *perpendicular).point;
  const Vec3 cb = IntersectLinesXY(b, *perpendicular).point;
  ClosestPoint result{ca, (ca - cb).SquaredLength()};
  if (!detail::IsFinite(result.point) || !std::isfinite(result.squaredGap)) return std::nullopt;
  return result;
}

}  // namespace modrin::engine
