#include <gtest/gtest.h>

#include <random>

#include "engine/geometry/camera.h"
#include "engine/geometry/lines.h"
#include "images/camera_database.h"

namespace modrin::engine {
namespace {

void ExpectNear(const Vec3& actual, const Vec3& expected, double tolerance = 1e-12) {
  EXPECT_NEAR(actual.x, expected.x, tolerance);
  EXPECT_NEAR(actual.y, expected.y, tolerance);
  EXPECT_NEAR(actual.z, expected.z, tolerance);
}

TEST(Vec2Angle, CoversTheHalfOpenRangeFromMinusHalfPi) {
  EXPECT_DOUBLE_EQ((Vec2{0, 0}).Angle(), Pi() / 2);
  EXPECT_DOUBLE_EQ((Vec2{-1, 0}).Angle(), Pi());
  EXPECT_DOUBLE_EQ((Vec2{0, -1}).Angle(), -Pi() / 2);
  EXPECT_DOUBLE_EQ((Vec2{1, 1}).Angle(), Pi() / 4);
  EXPECT_DOUBLE_EQ((Vec2{-1, -1}).Angle(), Pi() + Pi() / 4);
}

class CameraTest : public ::testing::Test {
 protected:
  CameraTest() {
    camera.cameraEntry = &sensor;
    camera.focal = 0.05;
    camera.translation = {0, 0, 0};
  }
  images::CameraEntry sensor{"Test", 0.036, 0.024};
  CameraRecord camera;
};

TEST_F(CameraTest, MapsBetweenImageAndWorldAtRest) {
  ExpectNear(ImageToWorld(camera, 0.5, 0), {0.018, 0.05, 0});
  const ImageProjection ahead = WorldToImage(camera, {0.018, 0.1, 0});
  EXPECT_NEAR(ahead.image.x, 0.25, 1e-12);
  EXPECT_NEAR(ahead.image.y, 0, 1e-12);
  EXPECT_TRUE(ahead.inFront);
  // On the image plane itself, and behind the camera, a point is not in front.
  EXPECT_FALSE(WorldToImage(camera, {0, 0.05, 0}).inFront);
  EXPECT_FALSE(WorldToImage(camera, {0, -1, 0}).inFront);
  // In the plane of the centre the image point is not finite and not in front.
  const ImageProjection beside = WorldToImage(camera, {1, 0, 0});
  EXPECT_FALSE(beside.inFront);
  EXPECT_FALSE(std::isfinite(beside.image.x));
}

TEST_F(CameraTest, YawTurnsTowardPlusXAndPitchTiltsDown) {
  auto viewing = [&](const Vec3& orientation) {
    camera.orientation = orientation;
    return ImageToWorld(camera, 0, 0) - camera.translation;
  };
  ExpectNear(viewing({0, 0, Pi() / 2}) / 0.05, {1, 0, 0});
  ExpectNear(viewing({Pi() / 2, 0, 0}) / 0.05, {0, 0, -1});
  // Roll turns the picture about the optical axis: a quarter turn points u along +z.
  camera.orientation = {0, Pi() / 2, 0};
  ExpectNear((ImageToWorld(camera, 0.5, 0) - ImageToWorld(camera, 0, 0)) / 0.018, {0, 0, 1});
}

TEST_F(CameraTest, RotationIsTheProductOfTheAxisRotations) {
  // R = Rz(-yaw) Rx(-pitch) Ry(-roll) with the usual right-handed matrices, for any angles.
  std::mt19937 random(11);
  std::uniform_real_distribution<double> angle(-Pi(), Pi());
  for (int i = 0; i < 50; ++i) {
    const double pitch = angle(random), roll = angle(random), yaw = angle(random);
    const Rotation r = CameraRotation({pitch, roll, yaw});
    auto rz = [&](const Vec3& v) {
      const double c = std::cos(-yaw), s = std::sin(-yaw);
      return Vec3{c * v.x - s * v.y, s * v.x + c * v.y, v.z};
    };
    auto rx = [&](const Vec3& v) {
      const double c = std::cos(-pitch), s = std::sin(-pitch);
      return Vec3{v.x, c * v.y - s * v.z, s * v.y + c * v.z};
    };
    auto ry = [&](const Vec3& v) {
      const double c = std::cos(-roll), s = std::sin(-roll);
      return Vec3{c * v.x + s * v.z, v.y, -s * v.x + c * v.z};
    };
    for (const Vec3& axis : {Vec3{1, 0, 0}, Vec3{0, 1, 0}, Vec3{0, 0, 1}}) {
      ExpectNear(r.Apply(axis), rz(rx(ry(axis))));
      ExpectNear(r.ApplyInverse(r.Apply(axis)), axis);
    }
  }
}

TEST_F(CameraTest, WorldToImageUndoesImageToWorldAndRaysMeetTheirPlane) {
  std::mt19937 random(5);
  std::uniform_real_distribution<double> angle(-1.2, 1.2), coord(-0.5, 0.5);
  for (int i = 0; i < 100; ++i) {
    camera.orientation = {angle(random), angle(random), angle(random) * 2};
    camera.translation = {coord(random) * 20, coord(random) * 20, 2 + coord(random)};
    const double u = coord(random), v = coord(random);
    const ImageProjection back = WorldToImage(camera, ImageToWorld(camera, u, v));
    EXPECT_NEAR(back.image.x, u, 1e-9);
    EXPECT_NEAR(back.image.y, v, 1e-9);

    // The ground point of a ray lies on the ray and projects back to (u, v).
    const auto ground = RayAtHeight(camera, u, v, 0);
    ASSERT_TRUE(ground.has_value());
    EXPECT_EQ(ground->z, 0);
    const ImageProjection seen = WorldToImage(camera, *ground);
    if (seen.inFront) {
      EXPECT_NEAR(seen.image.x, u, 1e-9);
      EXPECT_NEAR(seen.image.y, v, 1e-9);
    }
    const Line3 ray = ViewRay(camera, u, v);
    ExpectNear(ray.origin, camera.translation, 0);
    EXPECT_NEAR(Cross(ray.dir, *ground - ray.origin).SquaredLength(), 0, 1e-18);
  }
}

TEST_F(CameraTest, RayParallelToThePlaneHasNoPointAtThatHeight) {
  camera.translation = {0, 0, 1.5};
  EXPECT_FALSE(RayAtHeight(camera, 0, 0, 0).has_value());    // looking level
  EXPECT_FALSE(RayAtHeight(camera, 0, 0, 1.5).has_value());  // 0 / 0
  ExpectNear(*RayAtHeight(camera, 0, -0.5, 0), {0, 0.05 / 0.012 * 1.5, 0}, 1e-9);
}

TEST(OrientationOf, GivesBackTheAnglesOfARotation) {
  // Yaw beyond a half turn comes back near its own value; straight down and up keep the roll.
  const Vec3 cases[] = {{0, 0, 0},   {0.3, 0.05, 0.8},      {-0.4, -0.2, -2.9},
                        {0.1, 3, 5}, {Pi() / 2, 0.2, -1.0}, {-Pi() / 2, -0.3, 2.5}};
  for (const Vec3& orientation : cases) {
    const Rotation rotation = CameraRotation(orientation);
    const Vec3 found = OrientationOf(rotation, orientation);
    ExpectNear(found, orientation, 1e-9);
    const Rotation again = CameraRotation(OrientationOf(rotation));
    for (int r = 0; r < 3; ++r) ExpectNear(again.rows[r], rotation.rows[r], 1e-9);
  }
}

TEST(ViewRays, TwoCamerasSeeingOnePointIntersectThere) {
  const images::CameraEntry sensor{"Test", 0.036, 0.024};
  CameraRecord a, b;
  a.cameraEntry = b.cameraEntry = &sensor;
  a.focal = 0.05;
  a.translation = {-8, -6, 3};
  a.orientation = {0.3, 0.05, 0.8};
  b.focal = 0.035;
  b.translation = {10, -7, 2};
  b.orientation = {0.2, 0, -0.6};
  const Vec3 point{2, 1.5, 2};
  const auto meet =
      IntersectViewRays(a, WorldToImage(a, point).image, b, WorldToImage(b, point).image);
  ASSERT_TRUE(meet.has_value());
  ExpectNear(*meet, point, 1e-9);

  // Both cameras at one place looking the same way: the rays coincide, there is no point.
  EXPECT_FALSE(IntersectViewRays(a, {0.1, 0.1}, a, {0.1, 0.1}).has_value());
}

TEST(Lines, CommonPerpendicularOfCrossingAndSkewLines) {
  const auto meet = ClosestPointBetweenLines({{0, 0, 0}, {1, 1, 1}}, {{0, 3, 0.5}, {1, -2, 0.5}});
  ASSERT_TRUE(meet.has_value());
  ExpectNear(meet->point, {1, 1, 1}, 1e-12);
  EXPECT_NEAR(meet->squaredGap, 0, 1e-24);

  // Both horizontal: the perpendicular is vertical, so the x-y crossing gives the origins.
  const auto level = ClosestPointBetweenLines({{5, 0, 0}, {1, 0, 0}}, {{0, 0, 1}, {0, 1, 0}});
  ASSERT_TRUE(level.has_value());
  ExpectNear(level->point, {5, 0, 0});
  EXPECT_DOUBLE_EQ(level->squaredGap, 26);

  // Skew lines, two units apart in height: a point and a gap that are finite and positive.
  const auto skew = ClosestPointBetweenLines({{0, 0, 0}, {0, 1, 0.5}}, {{0, 0, 2}, {1, 0, 0}});
  ASSERT_TRUE(skew.has_value());
  EXPECT_GT(skew->squaredGap, 0);
}

TEST(Lines, ParallelLinesHaveNoClosestPoint) {
  EXPECT_FALSE(ClosestPointBetweenLines({{0, 0, 0}, {1, 2, 3}}, {{1, 0, 0}, {2, 4, 6}}));
  EXPECT_FALSE(ClosestPointBetweenLines({{0, 0, 0}, {1, 2, 3}}, {{0, 0, 0}, {0, 0, 0}}));
  const XYCrossing parallel = IntersectLinesXY({{1, 2, 3}, {1, 1, 0}}, {{0, 5, 0}, {2, 2, 7}});
  ExpectNear(parallel.point, {1, 2, 3}, 0);
  EXPECT_EQ(parallel.h, 0);
}

TEST(Lines, CrossingTakesTheMeanHeight) {
  const XYCrossing crossing = IntersectLinesXY({{0, 0, 0}, {1, 0, 0}}, {{2, -1, 4}, {0, 1, 0}});
  ExpectNear(crossing.point, {2, 0, 2});
  EXPECT_DOUBLE_EQ(crossing.h, 2);
  ExpectNear(ProjectOntoPlane(Plane({0, 0, 2}, 0), {1, 2, 3}), {1, 2, 0});
}

}  // namespace
}  // namespace modrin::engine
