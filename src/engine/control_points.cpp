#include "engine/control_points.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>

namespace modrin::engine {

// The rule. A real point with k known coordinates stands for every world point that matches
// them: a point when all three are known, a line along the unknown axis when two are, a plane
// when one is. One photo's pose has six degrees of freedom, and a control point fixes as many
// of them as the conditions it puts on its viewing ray:
// - a fully known point fixes two (the ray must pass through it);
// - a point known in its height and x or y fixes one (the ray must meet its line); the search
//   sees it through the ray error, which compares the ray's point at that height;
// - a point known in x and y alone is a vertical line the search never compares, and a point
//   with one known coordinate is a plane that every ray meets: they fix nothing.
// The search also takes the camera centre from the lines through the fully known points along
// their rays, so it needs two different such points. Fully known points on one line M fix at
// most five degrees (two points four): the turn about M stays free until a height line off M
// fixes it. So, in this order:
// 1. no point has two or more known coordinates: nothing to fix a pose with;
// 2. the fully known points and the lines of every point with two known coordinates all lie
//    on one straight line (one place included): the turn about that line is free;
// 3. fewer than two different fully known points: no camera centre;
// 4. the fully known points lie on one line M and, counted as above, fix fewer than six
//    degrees (two points and a single height line off M);
// otherwise the pose is fixed: no pose near it matches as well, though with few points a pose
// far from it may (three points can fit up to four poses). Lengths are compared against
// kControlPointTolerance times the diagonal of the box of all known coordinates, so the answer
// does not depend on the unit.
namespace {

bool Known(double coordinate) { return coordinate != UnknownCoordinate; }

// The line of a point with two known coordinates: along the unknown axis.
struct AxisLine {
  Vec3 through;  // a point of it, 0 on its axis
  int axis = 0;  // 0, 1, 2: x, y, z
};

Vec3 AxisDirection(int axis) {
  return {axis == 0 ? 1.0 : 0.0, axis == 1 ? 1.0 : 0.0, axis == 2 ? 1.0 : 0.0};
}

double Coordinate(const Vec3& p, int axis) { return axis == 0 ? p.x : axis == 1 ? p.y : p.z; }

Vec3 WithCoordinate(Vec3 p, int axis, double value) {
  (axis == 0 ? p.x : axis == 1 ? p.y : p.z) = value;
  return p;
}

double Length(const Vec3& v) { return std::sqrt(v.SquaredLength()); }

// A line through `origin` along the unit vector `dir`.
struct UnitLine {
  Vec3 origin;
  Vec3 dir;

  double DistanceTo(const Vec3& p) const { return Length(Cross(p - origin, dir)); }
};

class ControlPoints {
 public:
  explicit ControlPoints(const std::vector<Correspondence>& correspondences) {
    std::array<double, 3> lower{}, upper{};
    lower.fill(std::numeric_limits<double>::max());
    upper.fill(std::numeric_limits<double>::lowest());
    for (const Correspondence& c : correspondences) {
      const std::array<double, 3> real{c.real.x, c.real.y, c.real.z};
      int known = 0, unknownAxis = 0;
      for (int axis = 0; axis < 3; ++axis) {
        if (!Known(real[axis])) {
          unknownAxis = axis;
          continue;
        }
        ++known;
        lower[axis] = std::min(lower[axis], real[axis]);
        upper[axis] = std::max(upper[axis], real[axis]);
      }
      if (known == 3) fullyKnown_.push_back(c.real);
      if (known == 2) lines_.push_back({WithCoordinate(c.real, unknownAxis, 0), unknownAxis});
    }
    Vec3 diagonal;
    for (int axis = 0; axis < 3; ++axis) {
      const double extent = upper[axis] >= lower[axis] ? upper[axis] - lower[axis] : 0;
      diagonal = WithCoordinate(diagonal, axis, extent);
    }
    size_ = Length(diagonal);
    tolerance_ = kControlPointTolerance * size_;
    for (const Vec3& p : fullyKnown_) {
      const bool seen = std::any_of(places_.begin(), places_.end(), [&](const Vec3& place) {
        return Length(p - place) <= tolerance_;
      });
      if (!seen) places_.push_back(p);
    }
  }

  ControlPointProblem Problem() const {
    if (fullyKnown_.empty() && lines_.empty()) {
      return ControlPointProblem::kNoPointWithTwoKnownCoordinates;
    }
    if (AllOnOneLine()) return ControlPointProblem::kOnOneLine;
    if (places_.size() < 2) return ControlPointProblem::kFewerThanTwoFullyKnown;
    const UnitLine through = ThroughFarthestPlaces();
    if (!PlacesOn(through)) return ControlPointProblem::kNone;
    int fixed = places_.size() == 2 ? 4 : 5;
    for (const AxisLine& line : lines_) fixed += line.axis != 2 && !Coincides(line, through);
    return fixed >= 6 ? ControlPointProblem::kNone : ControlPointProblem::kTooFewKnownCoordinates;
  }

 private:
  // The line through the first place and the place farthest from it.
  UnitLine ThroughFarthestPlaces() const {
    const Vec3& first = places_.front();
    const Vec3 farthest = *std::max_element(
        places_.begin(), places_.end(),
        [&](const Vec3& a, const Vec3& b) { return Length(a - first) < Length(b - first); });
    const Vec3 d = farthest - first;
    return {first, d / Length(d)};
  }

  // Tested on the only line everything could lie on: through the first place and the one
  // farthest from it, or else along the first axis line. A single place lies on any line.
  bool AllOnOneLine() const {
    if (places_.size() >= 2) return AllOn(ThroughFarthestPlaces());
    if (lines_.empty()) return true;
    return AllOn({lines_.front().through, AxisDirection(lines_.front().axis)});
  }

  bool PlacesOn(const UnitLine& line) const {
    return std::all_of(places_.begin(), places_.end(),
                       [&](const Vec3& p) { return line.DistanceTo(p) <= tolerance_; });
  }

  // Within the scene, the axis line stays within the tolerance of `line`: parallel to it to
  // within the tolerance over the scene's size, and passing near it where `line` starts.
  bool Coincides(const AxisLine& axisLine, const UnitLine& line) const {
    const Vec3 dir = AxisDirection(axisLine.axis);
    if (Length(Cross(dir, line.dir)) * size_ > tolerance_) return false;
    const Vec3 near =
        WithCoordinate(axisLine.through, axisLine.axis, Coordinate(line.origin, axisLine.axis));
    return line.DistanceTo(near) <= tolerance_;
  }

  bool AllOn(const UnitLine& line) const {
    return PlacesOn(line) && std::all_of(lines_.begin(), lines_.end(),
                                         [&](const AxisLine& l) { return Coincides(l, line); });
  }

  std::vector<Vec3> fullyKnown_;
  std::vector<Vec3> places_;  // the fully known points, those within the tolerance as one
  std::vector<AxisLine> lines_;
  double size_ = 0;
  double tolerance_ = 0;
};

}  // namespace

ControlPointProblem CheckControlPoints(const std::vector<Correspondence>& correspondences) {
  return ControlPoints(correspondences).Problem();
}

}  // namespace modrin::engine
