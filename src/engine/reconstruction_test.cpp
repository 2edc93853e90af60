#include "engine/reconstruction.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine/face_finder.h"
#include "engine/progress.h"
#include "model/project.h"
#include "synthetic_scene.h"

namespace modrin::engine {
namespace {

using testing::kPhotoHeight;
using testing::kPhotoWidth;

// A project whose photos are blank pictures of the synthetic size taken by known cameras.
class SceneProject {
 public:
  // Adds a pending, not calibrated photo of the camera, without its pose.
  void AddPhoto(const CameraRecord& truth) {
    model::Photo& photo = project.AddPhoto();
    photo.path = "/scene/photo" + std::to_string(project.photos.size()) + ".jpg";
    photo.levels.push_back(std::make_unique<images::DecodedImage>(
        images::DecodedImage::Filled(kPhotoWidth, kPhotoHeight, 128)));
    photo.camera.cameraEntry = truth.cameraEntry;
    photo.camera.focal = truth.focal;
    photo.camera.pending = true;
    truths.push_back(truth);
  }

  // A position marked in the given photos at its projection rounded to pixels.
  std::int32_t Mark(const Vec3& point, const std::vector<int>& photos, bool real) {
    std::int32_t id = 0;
    project.graph.NewPosition(id);
    for (const int p : photos) {
      const Vec2 uv = WorldToImage(truths[p], point).image;
      project.graph.SetImagePoint(
          id, p,
          {static_cast<std::int32_t>(std::lround((uv.x + 0.5) * kPhotoWidth)),
           static_cast<std::int32_t>(std::lround((uv.y + 0.5) * kPhotoHeight))});
    }
    if (real) project.graph.SetRealCoords(id, {point.x, point.y, point.z});
    return id;
  }

  const CameraRecord& camera(int p) const { return project.photos[p]->camera; }

  model::Project project;
  std::vector<CameraRecord> truths;
};

// Three cameras around a 10 x 8 x 5 box whose eight corners are known.
void AddBoxScene(SceneProject& scene) {
  const Vec3 centre{5, 4, 2.5};
  for (const Vec3& position : {Vec3{-14, -12, 9}, Vec3{22, -10, 7}, Vec3{18, 24, 11}}) {
    scene.AddPhoto(testing::MakeCamera(0.03, position, testing::LookAt(position, centre, 0.02)));
  }
  for (const double x : {0.0, 10.0}) {
    for (const double y : {0.0, 8.0}) {
      for (const double z : {0.0, 5.0}) scene.Mark({x, y, z}, {0, 1, 2}, true);
    }
  }
}

TEST(RunCalibrationTest, CalibratesEveryPhotoAndComputesTheUnknownPoints) {
  SceneProject scene;
  AddBoxScene(scene);
  const std::int32_t inside = scene.Mark({3, 2, 4}, {0, 2}, false);
  const std::int32_t once = scene.Mark({6, 6, 1}, {1}, false);
  std::vector<std::size_t> reported;
  CalibrationRunOptions options;
  options.onPhotoDone = [&](std::size_t photo, const CalibrationResult& result, double seconds) {
    EXPECT_TRUE(result.accepted);
    EXPECT_GE(seconds, 0);
    reported.push_back(photo);
  };
  const CalibrationRunSummary summary = RunCalibration(scene.project, options);
  EXPECT_EQ(summary.solves, 3);
  EXPECT_EQ(summary.accepted, 3);
  EXPECT_EQ(reported, (std::vector<std::size_t>{0, 1, 2}));
  for (int p = 0; p < 3; ++p) {
    EXPECT_TRUE(scene.camera(p).calibrated);
    EXPECT_FALSE(scene.camera(p).pending);
    EXPECT_EQ(scene.camera(p).CountCorrespondences(), 8u);
    EXPECT_LT(
        std::sqrt((scene.camera(p).translation - scene.truths[p].translation).SquaredLength()),
        0.1);
  }
  model::PositionGraph::Coords xyz;
  ASSERT_TRUE(scene.project.graph.GetCoords(inside, xyz));
  EXPECT_NEAR(xyz[0], 3, 0.05);
  EXPECT_NEAR(xyz[1], 2, 0.05);
  EXPECT_NEAR(xyz[2], 4, 0.05);
  EXPECT_FALSE(scene.project.graph.GetCoords(once, xyz));
}

TEST(RunCalibrationTest, WithoutRealPositionsNothingIsTried) {
  SceneProject scene;
  scene.AddPhoto(testing::MakeCamera(0.03, {-14, -12, 9}, {0.3, 0, 0.8}));
  scene.Mark({1, 1, 1}, {0}, false);
  const CalibrationRunSummary summary = RunCalibration(scene.project);
  EXPECT_EQ(summary.solves, 0);
  EXPECT_EQ(scene.camera(0).CountCorrespondences(), 0u);
  EXPECT_TRUE(scene.camera(0).pending);
}

TEST(RunCalibrationTest, APhotoWithOneRealPointBorrowsComputedPositions) {
  SceneProject scene;
  AddBoxScene(scene);
  scene.AddPhoto(
      testing::MakeCamera(0.03, {-12, 20, 8}, testing::LookAt({-12, 20, 8}, {5, 4, 2.5}, 0)));
  scene.Mark({0, 0, 0}, {3}, true);
  // Seen by calibrated photos 0 and 1 and by the new photo 3.
  for (const Vec3& p : {Vec3{2, 3, 1}, Vec3{7, 2, 4}, Vec3{4, 6, 2}, Vec3{8, 7, 3}}) {
    scene.Mark(p, {0, 1, 3}, false);
  }
  scene.Mark({5, 5, 5}, {3}, false);  // seen by no calibrated photo
  scene.project.photos[3]->camera.pending = false;
  RunCalibration(scene.project);
  ASSERT_TRUE(scene.camera(0).calibrated);

  scene.project.photos[3]->camera.pending = true;
  for (int p = 0; p < 3; ++p) scene.project.photos[p]->camera.pending = false;
  const CalibrationRunSummary summary = RunCalibration(scene.project);
  EXPECT_EQ(summary.solves, 1);
  // The real point once, and the four computed ones.
  EXPECT_EQ(scene.camera(3).CountCorrespondences(), 5u);
  EXPECT_TRUE(scene.camera(3).calibrated);
  // Photos not tried keep their flags.
  EXPECT_TRUE(scene.camera(0).calibrated);
  EXPECT_FALSE(scene.camera(0).pending);
}

TEST(RunCalibrationTest, SkipsPhotosWithoutCameraModelOrSelection) {
  SceneProject scene;
  AddBoxScene(scene);
  scene.project.photos[1]->camera.cameraEntry = nullptr;
  scene.project.photos[2]->camera.pending = false;
  const Vec3 before = scene.camera(2).translation;
  const CalibrationRunSummary summary = RunCalibration(scene.project);
  EXPECT_EQ(summary.solves, 1);
  EXPECT_TRUE(scene.camera(0).calibrated);
  EXPECT_TRUE(scene.camera(1).pending);
  EXPECT_FALSE(scene.camera(2).calibrated);
  EXPECT_EQ(scene.camera(2).translation, before);
}

// Cancels at the first query.
class CancellingProgress : public NullProgress {
 public:
  bool CancelRequested() override { return true; }
};

TEST(RunCalibrationTest, ACancelEndsTheRun) {
  SceneProject scene;
  AddBoxScene(scene);
  CancellingProgress progress;
  CalibrationRunOptions options;
  options.calibration.progress = &progress;
  const CalibrationRunSummary summary = RunCalibration(scene.project, options);
  EXPECT_TRUE(summary.cancelled);
  EXPECT_EQ(summary.solves, 1);
  EXPECT_TRUE(scene.camera(1).pending);
  EXPECT_TRUE(scene.camera(2).pending);
}

TEST(UpdateModelTest, FindsFacesAndBuildsEveryObjectForEveryPhoto) {
  SceneProject scene;
  scene.AddPhoto(testing::MakeCamera(0.03, {0, -20, 0}, {0, 0, 0}));
  scene.AddPhoto(testing::MakeCamera(0.03, {0, -40, 0}, {0, 0, 0}));
  const std::int32_t a = scene.Mark({-1, 0, -1}, {0, 1}, false);
  const std::int32_t b = scene.Mark({1, 0, -1}, {0, 1}, false);
  const std::int32_t c = scene.Mark({1, 0, 1}, {0, 1}, false);
  const std::int32_t d = scene.Mark({-1, 0, 1}, {0, 1}, false);
  scene.project.AddEdge(a, b);
  scene.project.AddEdge(b, c);
  scene.project.AddEdge(c, d);
  scene.project.AddEdge(d, a);
  scene.project.AddObject("One");
  scene.project.AddObject("Two");

  std::vector<std::pair<int, std::string>> calls;
  std::size_t facesSeen = 0;
  UpdateModel(scene.project,
              [&](model::Project&, model::Object& object, int photo, const FaceFinder& finder) {
                calls.emplace_back(photo, object.name);
                facesSeen = finder.faces.size();
              });
  EXPECT_EQ(calls, (std::vector<std::pair<int, std::string>>{
                       {0, "One"}, {0, "Two"}, {1, "One"}, {1, "Two"}}));
  // The square is seen larger from the nearer camera and found once.
  EXPECT_EQ(facesSeen, 1u);
}

}  // namespace
}  // namespace modrin::engine
