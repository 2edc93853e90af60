#include "engine/reconstruction.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <optional>
#include <random>

#include "engine/control_points.h"
#include "engine/face_finder.h"
#include "engine/progress.h"
#include "model/project.h"
#include "scene_project.h"
#include "synthetic_scene.h"

namespace modrin::engine {
namespace {

using testing::kPhotoHeight;
using testing::kPhotoWidth;

using testing::AddBoxScene;
using testing::SceneProject;

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

TEST(RunCalibrationTest, CheckPointsAreLeftOutOfEverySolve) {
  SceneProject scene;
  AddBoxScene(scene);
  // Corner 1 is typed 2 units off: as a check point it moves no pose.
  scene.project.graph.SetRealCoords(1, {2, 0, 0});
  CalibrationRunOptions options;
  options.checks = {1};
  RunCalibration(scene.project, options);
  for (int p = 0; p < 3; ++p) {
    EXPECT_TRUE(scene.camera(p).calibrated);
    EXPECT_EQ(scene.camera(p).CountCorrespondences(), 7u);
    EXPECT_LT(
        std::sqrt((scene.camera(p).translation - scene.truths[p].translation).SquaredLength()),
        0.1);
  }
  const auto withCheck = ControlPointRms(scene.project, options.checks);
  const auto withoutCheck = ControlPointRms(scene.project);
  ASSERT_TRUE(withCheck[0] && withoutCheck[0]);
  EXPECT_LT(*withCheck[0], 1);
  EXPECT_GT(*withoutCheck[0], 10);
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

// Escape held while the first solve of a run searches, and only then.
class EscapeDuringFirstSolve : public NullProgress {
 public:
  void Create(const std::string&) override { ++solves_; }
  bool CancelRequested() override { return solves_ == 1; }

 private:
  int solves_ = 0;
};

// Adds a photo of the box from (-12, 20, 6) whose marks are mirrored left to right, which no
// pose of the box can give.
void AddMirroredPhoto(SceneProject& scene) {
  const Vec3 centre{-12, 20, 6};
  scene.AddPhoto(testing::MakeCamera(0.03, centre, testing::LookAt(centre, {5, 4, 2.5}, 0)));
  const int photo = static_cast<int>(scene.project.photos.size()) - 1;
  for (auto& [id, position] : scene.project.graph.positions) {
    if (!position.isReal) continue;
    const Vec3 p{position.coords[0], position.coords[1], position.coords[2]};
    const Vec2 uv = WorldToImage(scene.truths[photo], p).image;
    position.imagePoints[photo] = {
        static_cast<std::int32_t>(std::lround((0.5 - uv.x) * kPhotoWidth)),
        static_cast<std::int32_t>(std::lround((uv.y + 0.5) * kPhotoHeight))};
  }
}

TEST(RunCalibrationTest, EscapeStopsOnePhotoAndPassesRepeatWhileOneCalibratesAPhoto) {
  SceneProject scene;
  AddBoxScene(scene);
  AddMirroredPhoto(scene);
  const std::int32_t seenBy12 = scene.Mark({3, 2, 4}, {1, 2}, false);
  const std::int32_t seenBy01 = scene.Mark({6, 5, 1}, {0, 1}, false);
  EscapeDuringFirstSolve escape;
  CalibrationRunOptions options;
  options.calibration.progress = &escape;
  std::vector<std::size_t> reported;
  std::vector<CalibrationResult> results;
  std::vector<std::pair<bool, bool>> known;  // (seenBy12, seenBy01) when each solve ended
  options.onPhotoDone = [&](std::size_t photo, const CalibrationResult& result, double) {
    reported.push_back(photo);
    results.push_back(result);
    known.emplace_back(scene.project.graph.IsKnown(seenBy12),
                       scene.project.graph.IsKnown(seenBy01));
  };
  const CalibrationRunSummary summary = RunCalibration(scene.project, options);

  // Pass 1: Escape cuts photo 0's search short and it is rejected; photos 1 and 2 are
  // calibrated, the mirrored photo 3 is not. Pass 2 solves photo 0 again, whole, and accepts
  // it; photo 3 fails again. Pass 3 tries photo 3 once more and, calibrating nothing, ends the
  // run.
  ASSERT_EQ(reported, (std::vector<std::size_t>{0, 1, 2, 3, 0, 3, 3}));
  EXPECT_TRUE(results[0].cancelled);
  EXPECT_FALSE(results[0].accepted);
  EXPECT_FALSE(results[4].cancelled);
  EXPECT_TRUE(results[4].accepted);
  for (const std::size_t r : {1, 2}) EXPECT_TRUE(results[r].accepted) << r;
  for (const std::size_t r : {3, 5, 6}) EXPECT_FALSE(results[r].accepted) << r;
  EXPECT_EQ(summary.solves, 7);
  EXPECT_EQ(summary.accepted, 3);
  EXPECT_FALSE(summary.stopped);
  for (int p = 0; p < 3; ++p) EXPECT_TRUE(scene.camera(p).calibrated) << p;
  EXPECT_TRUE(scene.camera(3).pending);
  // The coordinates are computed after each pass: pass 2 already sees the point that photos
  // 1 and 2 mark, pass 3 the one photos 0 and 1 mark.
  EXPECT_EQ(known[3], std::make_pair(false, false));
  EXPECT_EQ(known[4], std::make_pair(true, false));
  EXPECT_EQ(known[6], std::make_pair(true, true));
}

TEST(RunCalibrationTest, AStopRequestEndsTheRunBeforeTheNextSolve) {
  SceneProject scene;
  AddBoxScene(scene);
  const Vec3 before = scene.camera(1).translation;
  int asked = 0;
  CalibrationRunOptions options;
  options.stopRequested = [&] { return ++asked > 1; };
  const CalibrationRunSummary summary = RunCalibration(scene.project, options);
  EXPECT_TRUE(summary.stopped);
  EXPECT_EQ(summary.solves, 1);
  EXPECT_EQ(asked, 2);
  EXPECT_TRUE(scene.camera(0).calibrated);
  for (int p = 1; p < 3; ++p) {
    EXPECT_TRUE(scene.camera(p).pending) << p;
    EXPECT_FALSE(scene.camera(p).calibrated) << p;
  }
  EXPECT_EQ(scene.camera(1).translation, before);
}

TEST(RunCalibrationTest, PhotosWhoseControlPointsCannotFixAPoseAreNotTried) {
  SceneProject scene;
  AddBoxScene(scene);
  // Photo 3 marks only real points on the front bottom edge, photo 4 only points whose height
  // alone is known. Photo 3 was calibrated before and is chosen again.
  for (const Vec3& centre : {Vec3{-12, 20, 6}, Vec3{20, 22, 9}}) {
    scene.AddPhoto(testing::MakeCamera(0.03, centre, testing::LookAt(centre, {5, 4, 2.5}, 0)));
  }
  for (const double x : {1.0, 4.0, 7.5}) scene.Mark({x, 0, 0}, {3}, true);
  for (const Vec3& p : {Vec3{2, 3, 1}, Vec3{7, 2, 4}, Vec3{4, 6, 2}, Vec3{8, 7, 3}}) {
    scene.project.graph.SetRealCoords(scene.Mark(p, {4}, false),
                                      {UnknownCoordinate, UnknownCoordinate, p.z});
  }
  CameraRecord& line = scene.project.photos[3]->camera;
  line.calibrated = true;
  line.translation = {1, 2, 3};
  line.orientation = {0.1, 0.2, 0.3};
  const CameraRecord heightsBefore = scene.camera(4);

  std::vector<std::size_t> reported;
  CalibrationRunOptions options;
  options.onPhotoDone = [&](std::size_t photo, const CalibrationResult&, double) {
    reported.push_back(photo);
  };
  const CalibrationRunSummary summary = RunCalibration(scene.project, options);
  EXPECT_EQ(reported, (std::vector<std::size_t>{0, 1, 2}));
  EXPECT_EQ(summary.solves, 3);
  EXPECT_EQ(CheckControlPoints(line.correspondences), ControlPointProblem::kOnOneLine);
  EXPECT_TRUE(line.calibrated);
  EXPECT_TRUE(line.pending);
  EXPECT_EQ(line.translation, (Vec3{1, 2, 3}));
  EXPECT_EQ(line.orientation, (Vec3{0.1, 0.2, 0.3}));
  const CameraRecord& heights = scene.camera(4);
  EXPECT_EQ(heights.CountCorrespondences(), 4u);
  EXPECT_EQ(CheckControlPoints(heights.correspondences),
            ControlPointProblem::kNoPointWithTwoKnownCoordinates);
  EXPECT_FALSE(heights.calibrated);
  EXPECT_TRUE(heights.pending);
  EXPECT_EQ(heights.translation, heightsBefore.translation);
  EXPECT_EQ(heights.orientation, heightsBefore.orientation);
}

// A seeded view whose three first points fit several plausible poses, and whose fourth point
// tells them apart once its x and y are known.
testing::SyntheticView AmbiguousThreePointView() {
  std::mt19937 random(303);
  for (;;) {
    testing::SyntheticView view = testing::RandomView(random, 4);
    CameraRecord camera = view.truth;
    camera.correspondences =
        testing::Marks(view.truth, {view.points[0], view.points[1], view.points[2]}, false);
    if (!ThreePointPosesAmbiguous(camera, kPhotoWidth)) continue;
    const Vec3& fourth = view.points[3];
    camera.AddCorrespondence(WorldToImage(view.truth, fourth).image,
                             {fourth.x, fourth.y, UnknownCoordinate});
    if (!ThreePointPosesAmbiguous(camera, kPhotoWidth)) return view;
  }
}

TEST(RunCalibrationTest, ThreePointPhotosAreNotSolvedUntilAFourthPointTellsThePosesApart) {
  const testing::SyntheticView view = AmbiguousThreePointView();
  SceneProject scene;
  scene.AddPhoto(view.truth);
  for (int i = 0; i < 3; ++i) scene.Mark(view.points[i], {0}, true);
  CameraRecord& camera = scene.project.photos[0]->camera;
  camera.translation = {1, 2, 3};
  camera.orientation = {0.1, 0.2, 0.3};

  const CalibrationReadiness readiness = CheckCalibrationReadiness(scene.project, 0);
  EXPECT_EQ(readiness.obstacle, CalibrationReadiness::kSeveralPoses);
  EXPECT_EQ(ReadinessText(readiness),
            "3 points with x, y and z known allow several poses; mark a fourth");
  EXPECT_EQ(PhotosToCalibrate(scene.project), std::vector<bool>{false});
  EXPECT_EQ(RunCalibration(scene.project).solves, 0);
  EXPECT_FALSE(camera.calibrated);
  EXPECT_TRUE(camera.pending);
  EXPECT_EQ(camera.translation, (Vec3{1, 2, 3}));
  EXPECT_EQ(camera.orientation, (Vec3{0.1, 0.2, 0.3}));

  // The fourth point's height is not known: its x and y pick the true pose.
  const Vec3& fourth = view.points[3];
  scene.project.graph.SetRealCoords(scene.Mark(fourth, {0}, false),
                                    {fourth.x, fourth.y, UnknownCoordinate});
  EXPECT_TRUE(CheckCalibrationReadiness(scene.project, 0).ready());
  EXPECT_EQ(RunCalibration(scene.project).accepted, 1);
  EXPECT_TRUE(camera.calibrated);
  const double distance = std::sqrt((view.truth.translation - Vec3{5, 4, 2.5}).SquaredLength());
  EXPECT_LT(std::sqrt((camera.translation - view.truth.translation).SquaredLength()),
            0.01 * distance);
  EXPECT_LT(testing::RotationAngle(camera.orientation, view.truth.orientation), 0.5 * Pi() / 180);
}

TEST(DoubtfulPhotosTest, FarAboveTheOthersMedianAndOverTwoPixels) {
  using Rms = std::vector<std::optional<double>>;
  const struct {
    Rms rms;
    std::vector<bool> doubtful;
  } cases[] = {
      {{0.5, 0.6, 4.7, 0.4}, {false, false, true, false}},
      {{0.5, std::nullopt, 2.1}, {false, false, true}},     // a photo without RMS is not counted
      {{0.5, 1.9}, {false, false}},                         // 2 px at most is not doubtful
      {{1.0, 2.9}, {false, false}},                         // under three times the median
      {{0.6, 0.7, 0.8, 2.5}, {false, false, false, true}},  // the lower median: 0.7
      {{5.0}, {false}},                                     // nothing to compare with
      {{4.0, 4.0, 4.0}, {false, false, false}},
  };
  for (const auto& c : cases) EXPECT_EQ(DoubtfulPhotos(c.rms), c.doubtful);
  EXPECT_EQ(CheckMarksNote(4.67), "check its marks: 4.7 px");
}

TEST(DoubtfulPhotosTest, AWrongMarkShowsInItsPhotosRms) {
  SceneProject scene;
  AddBoxScene(scene);
  RunCalibration(scene.project);
  std::vector<std::optional<double>> rms = ControlPointRms(scene.project);
  ASSERT_EQ(rms.size(), 3u);
  for (const auto& value : rms) ASSERT_TRUE(value && *value < 1);
  EXPECT_EQ(DoubtfulPhotos(rms), (std::vector<bool>{false, false, false}));

  // One corner marked 40 pixels off in photo 1: calibrated again, its RMS stands out.
  model::Position& corner = scene.project.graph.positions.begin()->second;
  corner.imagePoints.at(1).x += 40;
  scene.project.photos[1]->camera.pending = true;
  RunCalibration(scene.project);
  rms = ControlPointRms(scene.project);
  ASSERT_TRUE(scene.camera(1).calibrated);
  EXPECT_GT(*rms[1], 3 * std::max(*rms[0], *rms[2]));
  EXPECT_EQ(DoubtfulPhotos(rms), (std::vector<bool>{false, true, false}));
}

TEST(PhotosToCalibrateTest, TheUncalibratedPhotosARunCanTry) {
  SceneProject scene;
  AddBoxScene(scene);
  using Readiness = CalibrationReadiness;
  constexpr double U = UnknownCoordinate;
  struct Case {
    Readiness::Obstacle obstacle;
    ControlPointProblem problem;
    bool chosen;
  };
  // Photo 0 of the box is calibrated already; 1 and 2 are ready.
  std::vector<Case> expected{{Readiness::kReady, ControlPointProblem::kNone, false},
                             {Readiness::kReady, ControlPointProblem::kNone, true},
                             {Readiness::kReady, ControlPointProblem::kNone, true}};
  scene.project.photos[0]->camera.calibrated = true;
  const auto addPhoto = [&](const std::vector<Vec3>& real, Case outcome) {
    scene.AddPhoto(testing::MakeCamera(0.03, {-12, 20, 8}, {0.3, 0, 0.8}));
    const int photo = static_cast<int>(scene.project.photos.size()) - 1;
    for (const Vec3& p : real) scene.Mark(p, {photo}, true);
    expected.push_back(outcome);
    return photo;
  };
  const std::vector<Vec3> corners{{0, 0, 0}, {10, 0, 0}, {10, 8, 5}};
  addPhoto({corners[0], corners[1]}, {Readiness::kTooFewPoints, ControlPointProblem::kNone, false});
  addPhoto(
      {{U, U, 1}, {U, U, 2}, {U, U, 3}},
      {Readiness::kControlPoints, ControlPointProblem::kNoPointWithTwoKnownCoordinates, false});
  const int noModel =
      addPhoto(corners, {Readiness::kNoCameraModel, ControlPointProblem::kNone, false});
  scene.project.photos[noModel]->camera.cameraEntry = nullptr;
  const int noPicture =
      addPhoto(corners, {Readiness::kNoPicture, ControlPointProblem::kNone, false});
  scene.project.photos[noPicture]->levels.clear();
  // One real point makes up the number with the computed positions that calibrated photo 0
  // sees too.
  const int borrowing =
      addPhoto({corners[0]}, {Readiness::kReady, ControlPointProblem::kNone, true});
  for (const Vec3& p : {Vec3{2, 3, 1}, Vec3{7, 2, 4}, Vec3{4, 6, 2}}) {
    model::Position& position = scene.project.graph.positions[scene.Mark(p, {0, borrowing}, false)];
    position.isComputed = true;
    position.coords = {p.x, p.y, p.z};
  }

  const std::vector<bool> chosen = PhotosToCalibrate(scene.project);
  ASSERT_EQ(chosen.size(), expected.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    const Readiness readiness = CheckCalibrationReadiness(scene.project, i);
    EXPECT_EQ(readiness.obstacle, expected[i].obstacle) << "photo " << i;
    EXPECT_EQ(readiness.problem, expected[i].problem) << "photo " << i;
    EXPECT_EQ(chosen[i], expected[i].chosen) << "photo " << i;
  }
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
