#include "engine/control_points.h"

#include <gtest/gtest.h>

#include <vector>

namespace modrin::engine {
namespace {

constexpr double U = UnknownCoordinate;
using Problem = ControlPointProblem;

// Correspondences of the real points; the image points play no part.
Problem Check(const std::vector<Vec3>& points) {
  std::vector<Correspondence> correspondences;
  for (const Vec3& p : points) correspondences.push_back({{0, 0}, p});
  return CheckControlPoints(correspondences);
}

TEST(CheckControlPointsTest, ThreeFullyKnownPointsOffOneLineFixThePose) {
  EXPECT_EQ(Check({{0, 0, 0}, {4, 0, 0}, {4, 3, 0}}), Problem::kNone);
  EXPECT_EQ(Check({{0, 0, 0}, {10, 0, 0}, {10, 8, 0}, {0, 8, 5}, {U, U, 2}}), Problem::kNone);
}

TEST(CheckControlPointsTest, FewerThanTheMinimumNeverFixThePose) {
  // Every kind of pair: two places, a place and a line, two lines, whatever their layout.
  ASSERT_EQ(kMinControlPoints, 3u);
  const std::vector<std::vector<Vec3>> pairs{{{0, 0, 0}, {4, 3, 2}},
                                             {{0, 0, 0}, {4, U, 2}},
                                             {{0, 0, 0}, {4, 3, U}},
                                             {{1, U, 0}, {U, 3, 2}}};
  for (const auto& pair : pairs) EXPECT_NE(Check(pair), Problem::kNone);
}

TEST(CheckControlPointsTest, EverythingKnownOnOneLine) {
  // Fully known points on a slanted line, also as typed with three decimals; coincident
  // points and a single one.
  EXPECT_EQ(Check({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}}), Problem::kOnOneLine);
  EXPECT_EQ(Check({{0, 0, 0}, {1, 0.333, 0.667}, {3, 1, 2}}), Problem::kOnOneLine);
  EXPECT_EQ(Check({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}), Problem::kOnOneLine);
  EXPECT_EQ(Check({{1, 2, 3}}), Problem::kOnOneLine);
  // Heights alone are planes, which every viewing ray meets: they do not count.
  EXPECT_EQ(Check({{0, 0, 0}, {4, 0, 0}, {U, U, 2}, {U, U, 5}}), Problem::kOnOneLine);
  // A point known in x and z is the line along y through them; here the line of the two
  // fully known points.
  EXPECT_EQ(Check({{2, 0, 1}, {2, 5, 1}, {2, U, 1}}), Problem::kOnOneLine);
  EXPECT_EQ(Check({{2, U, 1}, {2, U, 1}, {U, U, 7}}), Problem::kOnOneLine);
}

TEST(CheckControlPointsTest, NoPointWithTwoKnownCoordinates) {
  EXPECT_EQ(Check({{U, U, 0}, {U, U, 1}, {U, U, 2}}), Problem::kNoPointWithTwoKnownCoordinates);
  EXPECT_EQ(Check({{1, U, U}, {U, 2, U}, {U, U, 3}, {U, U, U}}),
            Problem::kNoPointWithTwoKnownCoordinates);
}

TEST(CheckControlPointsTest, PartlyKnownPoints) {
  // The camera centre comes from two different fully known points.
  EXPECT_EQ(Check({{0, 0, 0}, {4, U, 0}, {U, 3, 2}, {1, U, 1}}), Problem::kFewerThanTwoFullyKnown);
  EXPECT_EQ(Check({{4, U, 0}, {U, 3, 2}, {1, U, 1}}), Problem::kFewerThanTwoFullyKnown);
  EXPECT_EQ(Check({{0, 0, 0}, {0, 0, 0}, {4, U, 0}, {U, 3, 2}}), Problem::kFewerThanTwoFullyKnown);
  // Two of them leave the turn about their line and one more degree: one point known in its
  // height and x or y off that line is not enough, two are.
  EXPECT_EQ(Check({{0, 0, 0}, {4, 0, 0}, {4, U, 1}}), Problem::kTooFewKnownCoordinates);
  EXPECT_EQ(Check({{0, 0, 0}, {4, 0, 0}, {4, U, 1}, {U, 3, 2}}), Problem::kNone);
  // A point on their line adds nothing.
  EXPECT_EQ(Check({{0, 0, 0}, {4, 0, 0}, {4, U, 1}, {U, 0, 0}}), Problem::kTooFewKnownCoordinates);
  // Three on one line leave only the turn, which one such point fixes.
  EXPECT_EQ(Check({{0, 0, 0}, {2, 0, 0}, {4, 0, 0}, {4, U, 1}}), Problem::kNone);
  // x and y without the height: a vertical line that the search never compares.
  EXPECT_EQ(Check({{0, 0, 0}, {2, 0, 0}, {4, 0, 0}, {1, 3, U}, {2, 5, U}}),
            Problem::kTooFewKnownCoordinates);
}

TEST(CheckControlPointsTest, ToleranceFollowsTheSceneSize) {
  // A third point off the line of two by a ten-thousandth of the scene's size counts as on
  // it; by a hundredth it fixes the pose. The unit does not matter.
  for (const double unit : {0.001, 1.0, 1000.0}) {
    const auto scaled = [&](const Vec3& p) {
      const auto times = [&](double c) { return c == U ? U : c * unit; };
      return Vec3{times(p.x), times(p.y), times(p.z)};
    };
    EXPECT_EQ(Check({scaled({0, 0, 0}), scaled({10, 0, 0}), scaled({5, 0.001, 0})}),
              Problem::kOnOneLine)
        << unit;
    EXPECT_EQ(Check({scaled({0, 0, 0}), scaled({10, 0, 0}), scaled({5, 0.1, 0})}), Problem::kNone)
        << unit;
    // Two fully known points a ten-thousandth apart are one place.
    EXPECT_EQ(
        Check({scaled({0, 0, 0}), scaled({0.001, 0, 0}), scaled({10, U, 0}), scaled({U, 10, 1})}),
        Problem::kFewerThanTwoFullyKnown)
        << unit;
  }
}

}  // namespace
}  // namespace modrin::engine
