#include "engine/resection.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "engine/calibration.h"
#include "synthetic_scene.h"

namespace modrin::engine {
namespace {

double Radians(double degrees) { return degrees * Pi() / 180; }

// Angles between orientations come through acos, which rounds to 2e-8 radians near zero.
double Distance(const Vec3& a, const Vec3& b) { return std::sqrt((a - b).SquaredLength()); }

// The attitudes a camera is held at: level, on its side, upside down, straight down or up.
const std::vector<Vec3> kAttitudes{
    {0, 0, 0},    {8, 90, 30},    {8, -90, -150}, {0, 180, 100},  {-30, 180, -60},
    {85, 0, 170}, {-85, 45, -10}, {85, -90, 60},  {-85, 180, 10}, {45, 135, -179},
};

Vec3 InRadians(const Vec3& degrees) {
  return {Radians(degrees.x), Radians(degrees.y), Radians(degrees.z)};
}

TEST(OrientationOfTest, GivesBackTheRotationOfEveryAttitude) {
  for (const Vec3& degrees : kAttitudes) {
    const Vec3 orientation = InRadians(degrees);
    const Vec3 back = OrientationOf(CameraRotation(orientation));
    EXPECT_LT(testing::RotationAngle(back, orientation), 1e-7) << degrees.x << " " << degrees.y;
    EXPECT_LE(std::abs(back.x), Pi() / 2);
  }
}

TEST(ResectionTest, ThreeAndMorePointsGiveTheTruePoseAtEveryAttitude) {
  std::mt19937 random(3);
  for (const Vec3& degrees : kAttitudes) {
    SCOPED_TRACE(::testing::Message() << degrees.x << " " << degrees.y << " " << degrees.z);
    const testing::SyntheticView view =
        testing::ViewAtAttitude(random, 7, Radians(degrees.x), Radians(degrees.y));
    CameraRecord camera = view.truth;
    camera.correspondences = testing::Marks(view.truth, view.points, false);
    const auto& marks = camera.correspondences;

    // Every three-point pose fits its three marks; one of them is the truth.
    const std::vector<CameraPose> poses = ThreePointPoses(camera, marks[0], marks[1], marks[2]);
    ASSERT_FALSE(poses.empty());
    ASSERT_LE(poses.size(), 4u);
    bool foundTruth = false;
    for (const CameraPose& pose : poses) {
      CameraRecord placed = camera;
      placed.translation = pose.translation;
      placed.orientation = pose.orientation;
      for (int i = 0; i < 3; ++i) {
        const Vec2 q = WorldToImage(placed, marks[i].real).image;
        EXPECT_NEAR(q.x, marks[i].image.x, 1e-9);
        EXPECT_NEAR(q.y, marks[i].image.y, 1e-9);
      }
      foundTruth =
          foundTruth || (Distance(pose.translation, view.truth.translation) < 1e-6 &&
                         testing::RotationAngle(pose.orientation, view.truth.orientation) < 1e-7);
    }
    EXPECT_TRUE(foundTruth);

    const std::optional<CameraPose> closed = ClosedFormPose(camera);
    ASSERT_TRUE(closed);
    EXPECT_LT(Distance(closed->translation, view.truth.translation), 1e-6);
    EXPECT_LT(testing::RotationAngle(closed->orientation, view.truth.orientation), 1e-7);
  }
}

TEST(ResectionTest, DegenerateInputsGiveNoPose) {
  const CameraRecord truth = testing::MakeCamera(0.05, {-8, -6, 3}, {0.3, 0.05, 0.8});
  CameraRecord camera = truth;
  // Three points on one line, and only three fully known points for the closed form.
  camera.correspondences = testing::Marks(truth, {{0, 0, 0}, {1, 1, 1}, {2, 2, 2}}, false);
  const auto& marks = camera.correspondences;
  EXPECT_TRUE(ThreePointPoses(camera, marks[0], marks[1], marks[2]).empty());
  camera.correspondences = testing::Marks(truth, {{0, 0, 0}, {4, 0, 0}, {0, 3, 0}}, false);
  EXPECT_FALSE(ClosedFormPose(camera));
  camera.AddCorrespondence({0.1, 0.1}, {1, UnknownCoordinate, 1});
  EXPECT_FALSE(ClosedFormPose(camera));
}

TEST(LineResidualTest, DistanceFromTheImageOfTheLineOfKnownCoordinates) {
  const CameraRecord camera = testing::MakeCamera(0.05, {-8, -6, 3}, {0.3, 0.05, 0.8});
  const Rotation rotation = CameraRotation(camera.orientation);
  const Vec3 point{2, 1.5, 2};
  const Vec2 mark = WorldToImage(camera, point).image;
  // The image of the vertical line through the point is the line through the marks of the
  // point and of one below it; a mark moved along it fits, one moved across it does not.
  const Vec2 below = WorldToImage(camera, {2, 1.5, 0}).image;
  const Vec2 along{mark.x + 0.5 * (below.x - mark.x), mark.y + 0.5 * (below.y - mark.y)};
  struct Case {
    Vec2 image;
    Vec3 real;
    std::optional<double> expected;
  };
  // A mark moved across the line's image by a hundredth of the sensor's width.
  const double cellWidth = camera.cameraEntry->cellWidth;
  const double cellHeight = camera.cameraEntry->cellHeight;
  const Vec2 direction{(below.x - mark.x) * cellWidth, (below.y - mark.y) * cellHeight};
  const double length = std::sqrt(direction.SquaredLength());
  const Vec2 across{mark.x - 0.01 * direction.y / length,
                    mark.y + 0.01 * cellWidth * direction.x / length / cellHeight};
  const std::vector<Case> cases{
      {mark, {2, 1.5, UnknownCoordinate}, 0.0},
      {along, {2, 1.5, UnknownCoordinate}, 0.0},
      {across, {2, 1.5, UnknownCoordinate}, 0.01},
      {mark, {UnknownCoordinate, 1.5, 2}, 0.0},
      {mark, point, std::nullopt},
      {mark, {2, UnknownCoordinate, UnknownCoordinate}, std::nullopt},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const std::optional<double> residual =
        LineResidual(camera, rotation, {cases[i].image, cases[i].real});
    ASSERT_EQ(residual.has_value(), cases[i].expected.has_value()) << "case " << i;
    if (residual) {
      EXPECT_NEAR(*residual, *cases[i].expected, 1e-9) << "case " << i;
    }
  }
}

}  // namespace
}  // namespace modrin::engine
