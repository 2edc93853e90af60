#include "engine/residuals.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

#include "engine/reconstruction.h"
#include "scene_project.h"

namespace modrin::engine {
namespace {

using testing::SceneProject;

const PositionResiduals& Find(const ResidualReport& report, std::int32_t id) {
  const auto it = std::find_if(report.positions.begin(), report.positions.end(),
                               [id](const PositionResiduals& p) { return p.id == id; });
  EXPECT_NE(it, report.positions.end()) << id;
  return *it;
}

TEST(ResidualReportTest, ControlPointsAgreeWithTheCalibrationRms) {
  SceneProject scene;
  testing::AddBoxScene(scene);
  std::mt19937 random(7);
  for (const Vec3& p : {Vec3{2, 3, 1}, Vec3{7, 2, 4}, Vec3{4, 6, 2}}) {
    scene.Mark(p, {0, 1, 2}, false, &random, 1.0);
  }
  // A mark of a corner moved by a few pixels, so the photos' errors differ.
  scene.project.graph.positions.at(1).imagePoints.at(1).x += 4;
  RunCalibration(scene.project);
  const std::vector<std::optional<double>> rms = ControlPointRms(scene.project);
  const ResidualReport report = BuildResidualReport(scene.project);
  ASSERT_EQ(report.photos.size(), 3u);
  for (const PhotoResiduals& photo : report.photos) {
    ASSERT_TRUE(rms[photo.photo].has_value());
    EXPECT_NEAR(photo.control.rms, *rms[photo.photo], 1e-12) << photo.photo;
    EXPECT_EQ(photo.control.count, 8);
    EXPECT_EQ(photo.all.count, 11);
    EXPECT_GE(photo.all.largest, photo.all.rms);
  }
  for (std::size_t i = 1; i < report.photos.size(); ++i) {
    EXPECT_GE(report.photos[i - 1].all.rms, report.photos[i].all.rms);
  }
  EXPECT_EQ(report.overall.count, 33);
  EXPECT_NEAR(report.sceneSize, std::sqrt(100.0 + 64 + 25), 1e-9);
}

TEST(ResidualReportTest, AMovedMarkIsTheWorstOfItsPhotoAndOfTheProject) {
  SceneProject scene;
  testing::AddBoxScene(scene);
  scene.UseTruePoses();
  const std::int32_t id = scene.Mark({3, 2, 4}, {0, 1, 2}, false);
  scene.project.graph.positions.at(id).imagePoints.at(2).y += 12;
  // Computed from photos 0 and 1, which the moved mark does not enter.
  scene.project.graph.ComputeAll();
  const ResidualReport report = BuildResidualReport(scene.project);
  EXPECT_EQ(report.worstId, id);
  EXPECT_EQ(report.worstPhoto, 2u);
  EXPECT_NEAR(report.overall.largest, 12, 1.5);
  EXPECT_EQ(report.photos.front().photo, 2u);
  EXPECT_EQ(report.photos.front().worstId, id);
  const PositionResiduals& moved = report.positions.front();
  EXPECT_EQ(moved.id, id);
  EXPECT_EQ(moved.role, PositionRole::kComputed);
  EXPECT_EQ(moved.views, 3);
  ASSERT_EQ(moved.errors.size(), 3u);
  EXPECT_LT(moved.errors[0].pixels, 1.5);
  EXPECT_NEAR(moved.errors[2].pixels, 12, 1.5);
  EXPECT_FALSE(moved.typedDistance.has_value());
}

struct TypedCase {
  const char* name;
  Vec3 typed;  // of the truth (4, 3, 1)
  bool check;
  double distance;
};

TEST(ResidualReportTest, RealPositionsTellTheirTypedToTriangulatedDistance) {
  const std::vector<TypedCase> cases = {
      {"typed right", {4, 3, 1}, false, 0},
      {"typed 0.3 off in x", {4.3, 3, 1}, false, 0.3},
      {"check point 0.4 off in z", {4, 3, 1.4}, true, 0.4},
      // Only the known coordinates count.
      {"x unknown", {UnknownCoordinate, 3, 1.2}, false, 0.2},
  };
  for (const TypedCase& c : cases) {
    SceneProject scene(6000, 4000);
    testing::AddBoxScene(scene);
    scene.UseTruePoses();
    const std::int32_t id = scene.Mark({4, 3, 1}, {0, 1, 2}, true);
    scene.project.graph.SetRealCoords(id, {c.typed.x, c.typed.y, c.typed.z});
    const CheckPoints checks = c.check ? CheckPoints{id} : CheckPoints{};
    const ResidualReport report = BuildResidualReport(scene.project, checks);
    const PositionResiduals& p = Find(report, id);
    EXPECT_EQ(p.role, c.check ? PositionRole::kCheck : PositionRole::kControl) << c.name;
    ASSERT_TRUE(p.typedDistance.has_value()) << c.name;
    EXPECT_NEAR(*p.typedDistance, c.distance, 0.01) << c.name;
    EXPECT_EQ(report.checkDistances.count, c.check ? 1 : 0) << c.name;
    // The box corners are the control points of every photo; a check point is not one.
    const bool fullyControl = !c.check && c.typed.x != UnknownCoordinate;
    EXPECT_EQ(report.photos.front().control.count, fullyControl ? 9 : 8) << c.name;
  }
}

}  // namespace
}  // namespace modrin::engine
