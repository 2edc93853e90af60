#include "engine/calibration.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/pose_polish.h"
#include "engine/progress.h"
#include "synthetic_scene.h"

namespace modrin::engine {
namespace {

using testing::MakeCamera;
using testing::Marks;

constexpr double kLargest = std::numeric_limits<double>::max();

void ExpectFinitePose(const CameraRecord& camera) {
  for (const double v : {camera.translation.x, camera.translation.y, camera.translation.z,
                         camera.orientation.x, camera.orientation.y, camera.orientation.z}) {
    EXPECT_TRUE(std::isfinite(v));
  }
}

bool SamePoseBits(const CameraRecord& a, const CameraRecord& b) {
  return std::memcmp(&a.translation, &b.translation, sizeof(Vec3)) == 0 &&
         std::memcmp(&a.orientation, &b.orientation, sizeof(Vec3)) == 0;
}

// The camera of the six-point scene and its exact marks; the solve starts elsewhere.
CameraRecord SixPointCamera() {
  const CameraRecord truth = MakeCamera(0.05, {-8, -6, 3}, {0.3, 0.05, 0.8});
  CameraRecord camera = MakeCamera(0.05, {1, 2, 3}, {1, -1, 2});
  camera.correspondences =
      Marks(truth, {{0, 0, 0}, {4, 0, 0}, {4, 3, 0}, {0, 3, 0}, {2, 1.5, 2}, {1, 2, 1}}, false);
  return camera;
}

void ExpectPoseNear(const CameraRecord& camera, const Vec3& translation, const Vec3& orientation,
                    double tolerance) {
  EXPECT_NEAR(camera.translation.x, translation.x, tolerance);
  EXPECT_NEAR(camera.translation.y, translation.y, tolerance);
  EXPECT_NEAR(camera.translation.z, translation.z, tolerance);
  EXPECT_NEAR(camera.orientation.x, orientation.x, tolerance);
  EXPECT_NEAR(camera.orientation.y, orientation.y, tolerance);
  EXPECT_NEAR(camera.orientation.z, orientation.z, tolerance);
}

// Records the calls a solve makes, and the bar's position after each step or set, and cancels
// after a given number of queries.
class RecordingProgress : public Progress {
 public:
  explicit RecordingProgress(int cancelAfter = -1) : cancelAfter_(cancelAfter) {}
  void Create(const std::string& label) override { text = label; }
  void SetRange(int low, int high) override {
    range = {low, high};
    position = low;
  }
  void SetStep(int n) override { step = n; }
  void StepIt() override {
    ++steps;
    position += step;
    positions.push_back(position);
  }
  void SetPos(int p) override {
    ++sets;
    position = p;
    positions.push_back(position);
  }
  void Destroy() override { destroyed = true; }
  bool CancelRequested() override { return cancelAfter_ >= 0 && ++queries > cancelAfter_; }

  std::string text;
  std::pair<int, int> range;
  int step = 0, steps = 0, sets = 0, queries = 0, position = 0;
  std::vector<int> positions;
  bool destroyed = false;

 private:
  int cancelAfter_;
};

// The number of plausible grid points of the coarse search, through the public measures.
int CoarseCandidates(CameraRecord camera) {
  int count = 0;
  for (double p = -Pi() / 2; p < Pi() / 2; p += Pi() / CoarseSteps) {
    for (double y = -Pi(); y < Pi(); y += TwoPi() / CoarseSteps) {
      for (double r = -Pi() / 2; r < Pi() / 2; r += Pi() / CoarseSteps) {
        camera.orientation = {p, r, y};
        EstimateTranslation(camera);
        count += IsPlausible(camera);
      }
    }
  }
  return count;
}

// The bar never moves back, stays within its range, and its candidate part ends at the last
// of `candidates` candidates: one position per candidate, trunc(i * 100 / count) after the
// coarse sweep's steps.
void ExpectBarRunsThroughTheCandidates(const RecordingProgress& progress, int candidates) {
  EXPECT_EQ(progress.range, std::make_pair(0, CoarseSteps + 101));
  ASSERT_GT(candidates, 0);
  EXPECT_TRUE(std::is_sorted(progress.positions.begin(), progress.positions.end()));
  EXPECT_GE(progress.positions.front(), 0);
  EXPECT_EQ(progress.sets, candidates);
  EXPECT_EQ(progress.positions.back(), (candidates - 1) * 100 / candidates + CoarseSteps + 1);
  EXPECT_LE(progress.positions.back(), CoarseSteps + 101);
}

TEST(CalibrateTest, SixPointSceneFromAnyStartAndReportsProgress) {
  for (const bool polish : {false, true}) {
    CameraRecord camera = SixPointCamera();
    RecordingProgress progress;
    const CalibrationResult result = Calibrate(camera, "photo.jpg", {&progress, polish, 0});
    EXPECT_TRUE(result.accepted);
    EXPECT_FALSE(result.cancelled);
    ExpectPoseNear(camera, {-8, -6, 3}, {0.3, 0.05, 0.8}, polish ? 1e-6 : 1e-3);
    EXPECT_LT(result.error, polish ? 1e-6 : 1e-4);
    EXPECT_EQ(camera.progress, nullptr);

    EXPECT_EQ(progress.text, "Calibrating image photo.jpg ");
    EXPECT_EQ(progress.range, std::make_pair(0, 113));
    EXPECT_EQ(progress.step, 1);
    EXPECT_EQ(progress.steps, 13);  // one per pitch value of the coarse grid
    // Every candidate moves the bar, the skipped ones too, so it ends at the last candidate's
    // place: 112 of 113 for a hundred candidates or more.
    const int candidates = CoarseCandidates(SixPointCamera());
    ASSERT_GE(candidates, 100);
    ExpectBarRunsThroughTheCandidates(progress, candidates);
    EXPECT_EQ(progress.positions.back(), 112);
    EXPECT_TRUE(progress.destroyed);
  }
}

TEST(CalibrateTest, ResultDoesNotDependOnTheThreadCount) {
  std::mt19937 random(7);
  for (int scene = 0; scene < 3; ++scene) {
    const testing::SyntheticView view = testing::RandomView(random, 8);
    for (const bool polish : {false, true}) {
      CameraRecord one = view.truth, all = view.truth;
      one.correspondences = all.correspondences = Marks(view.truth, view.points, true);
      const CalibrationResult a = Calibrate(one, "a", {nullptr, polish, 1});
      const CalibrationResult b = Calibrate(all, "a", {nullptr, polish, 4});
      EXPECT_TRUE(SamePoseBits(one, all));
      EXPECT_EQ(a.accepted, b.accepted);
      EXPECT_EQ(std::memcmp(&a.error, &b.error, sizeof(double)), 0);
    }
  }
}

TEST(CalibrateTest, PolishRecoversSeededScenesClosely) {
  std::mt19937 random(2026);
  for (int scene = 0; scene < 6; ++scene) {
    const testing::SyntheticView view = testing::RandomView(random, 6 + scene);
    CameraRecord camera = view.truth;
    camera.translation = {0.5, 0, 0};
    camera.correspondences = Marks(view.truth, view.points, true);
    const CalibrationResult result = Calibrate(camera, "photo");
    ASSERT_TRUE(result.accepted) << "scene " << scene;
    const Vec3 centre{5, 4, 2.5};
    const double distance = std::sqrt((view.truth.translation - centre).SquaredLength());
    EXPECT_LT(std::sqrt((camera.translation - view.truth.translation).SquaredLength()),
              0.005 * distance)
        << "scene " << scene;
    EXPECT_LT(testing::RotationAngle(camera.orientation, view.truth.orientation), 0.25 * Pi() / 180)
        << "scene " << scene;
  }
}

// The polish lowers the reprojection error, not the ray error that acceptance judges, so on its
// own it can move an accepted pose to one that fails. Seeded views of a 1 x 0.8 x 0.5 scene
// with marks 1 pixel off: at this size the acceptance limit (a hundredth of the squared
// diagonal) lies near the ray errors, so several scenes sit at its edge.
TEST(CalibrateTest, PolishNeverLosesAPhotoTheSearchAccepts) {
  std::mt19937 random(1234);
  int polishAloneWouldLose = 0, rescued = 0;
  for (int scene = 0; scene < 150; ++scene) {
    testing::SyntheticView view = testing::RandomView(random, 8);
    for (Vec3& p : view.points) p = p * 0.1;
    view.truth.translation = view.truth.translation * 0.1;
    CameraRecord searched = view.truth;
    searched.correspondences = testing::NoisyMarks(view.truth, view.points, random, 1.0);
    CameraRecord polished = searched;
    const CalibrationResult a = Calibrate(searched, "a", {nullptr, false, 0});
    const CalibrationResult b = Calibrate(polished, "b", {nullptr, true, 0});
    SCOPED_TRACE("scene " + std::to_string(scene));

    if (a.accepted) {
      EXPECT_TRUE(b.accepted);
    }
    rescued += b.accepted && !a.accepted;
    // Each result describes the pose it left in the camera.
    for (const auto& [result, camera] : {std::pair{a, searched}, std::pair{b, polished}}) {
      EXPECT_EQ(result.error, RayError(camera));
      EXPECT_EQ(result.accepted, Accept(camera, result.error) || result.fitAccepted);
    }
    EXPECT_FALSE(a.fitAccepted);
    if (b.polished) {
      EXPECT_TRUE(b.accepted);
      EXPECT_TRUE(IsPlausible(polished));
      if (a.accepted) {
        EXPECT_LT(*SquaredReprojectionSum(polished), *SquaredReprojectionSum(searched));
      }
    } else {
      EXPECT_TRUE(SamePoseBits(searched, polished));
      EXPECT_EQ(b.error, a.error);
    }

    // How the polish alone would have judged the search's pose.
    if (const auto alone = PolishPose(searched); alone && a.accepted) {
      CameraRecord moved = searched;
      moved.translation = alone->translation;
      moved.orientation = alone->orientation;
      polishAloneWouldLose += !Accept(moved, RayError(moved));
    }
  }
  // The seeds reach both cases the rule is for.
  EXPECT_GT(polishAloneWouldLose, 0);
  EXPECT_GT(rescued, 0);
}

TEST(CalibrateTest, WithoutPolishTheSearchPoseStands) {
  CameraRecord searched = SixPointCamera(), polished = SixPointCamera();
  const CalibrationResult a = Calibrate(searched, "x", {nullptr, false, 0});
  const CalibrationResult b = Calibrate(polished, "x", {nullptr, true, 0});
  EXPECT_FALSE(a.polished);
  EXPECT_TRUE(b.polished);
  // Searching again from the search's own result with a refinement grid of the last level
  // reproduces the pose the search reported: it is a grid optimum, not the polish's.
  EXPECT_EQ(a.error, RayError(searched));
  EXPECT_FALSE(SamePoseBits(searched, polished));
}

TEST(CalibrateTest, CancelJudgesThePoseFoundSoFar) {
  // Cancelled at the first plausible grid point, later in the coarse sweep, and during the
  // refinement.
  for (const int cancelAfter : {0, 20, 20000}) {
    CameraRecord camera = SixPointCamera();
    RecordingProgress progress(cancelAfter);
    const CalibrationResult result = Calibrate(camera, "p", {&progress, true, 1});
    EXPECT_TRUE(result.cancelled);
    EXPECT_FALSE(result.polished);
    EXPECT_EQ(result.error, RayError(camera));
    // The sweep steps the display once per pitch value it finished; the candidates found so
    // far still move the bar to the end of their part, refined or not.
    EXPECT_EQ(progress.steps < 13, cancelAfter < 20000);
    if (cancelAfter == 20000) {
      ExpectBarRunsThroughTheCandidates(progress, CoarseCandidates(SixPointCamera()));
    } else {
      ExpectBarRunsThroughTheCandidates(progress, progress.sets);
    }
    ExpectFinitePose(camera);
    EXPECT_TRUE(progress.destroyed);
  }
}

TEST(CalibrateTest, DegenerateInputsEndWithAClearResult) {
  const CameraRecord truth = MakeCamera(0.035, {-10, -12, 6}, {0.2, 0, 0.7});
  const auto marks = [&](std::vector<Vec3> points) { return Marks(truth, points, false); };
  const std::vector<std::vector<Correspondence>> inputs = {
      marks({{0, 0, 0}, {4, 0, 0}}),                        // one pair
      marks({{0, 0, 0}, {1, 1, 1}, {2, 2, 2}, {3, 3, 3}}),  // collinear
      marks({{1, 1, 1}, {1, 1, 1}, {1, 1, 1}}),             // coincident
      {{{0.1, 0.1}, {UnknownCoordinate, 2, UnknownCoordinate}},
       {{-0.1, 0.2}, {UnknownCoordinate, UnknownCoordinate, 3}}},  // nothing fully known
  };
  for (const auto& correspondences : inputs) {
    CameraRecord camera = truth;
    camera.correspondences = correspondences;
    const CalibrationResult result = Calibrate(camera, "photo");
    ExpectFinitePose(camera);
    EXPECT_FALSE(std::isnan(result.error));
  }
}

TEST(CalibrateTest, NoPlausibleGridPointLeavesTheEntryPoseAndRejects) {
  // Every mark on the same pixel: the lines are parallel, the translation stays at the origin,
  // and from there no orientation sees points on all sides of it.
  CameraRecord camera = MakeCamera(0.035, {3, 4, 5}, {0.1, 0.2, 0.3});
  for (const Vec3& p : {Vec3{5, 0, 0}, Vec3{-5, 0, 0}, Vec3{0, 5, 0}, Vec3{0, -5, 0}, Vec3{0, 0, 5},
                        Vec3{0, 0, -5}}) {
    camera.AddCorrespondence({0.1, 0.1}, p);
  }
  camera.orientation = {0.4, 0.5, 0.6};
  const double value = Search(camera, {Pi(), Pi(), TwoPi()}, {12, 12, 12}, true,
                              kAngleError | kLengthError, KeepFraction);
  EXPECT_EQ(value, kLargest);
  EXPECT_EQ(camera.translation, (Vec3{3, 4, 5}));
  EXPECT_EQ(camera.orientation, (Vec3{0.4, 0.5, 0.6}));

  const CalibrationResult result = Calibrate(camera, "photo");
  EXPECT_FALSE(result.accepted);
  EXPECT_EQ(result.error, kLargest);
  EXPECT_EQ(camera.orientation, (Vec3{0, 0, 0}));  // the pose the solve started from
}

TEST(SearchTest, RefinementMovesToTheFirstBestGridPoint) {
  CameraRecord camera = SixPointCamera();
  camera.orientation = {0.35, 0.0, 0.75};
  const Vec3 range{0.2, 0.2, 0.4};
  const double value = Search(camera, range, {3, 3, 3}, false, kRayError, 0);

  // The same grid by hand, through the public measures.
  CameraRecord probe = SixPointCamera();
  double best = kLargest;
  Vec3 bestOrientation;
  for (double p = 0.35 - 0.1; p < 0.35 + 0.1; p += 0.2 / 3) {
    for (double y = 0.75 - 0.2; y < 0.75 + 0.2; y += 0.4 / 3) {
      for (double r = -0.1; r < 0.1; r += 0.2 / 3) {
        probe.orientation = {p, r, y};
        EstimateTranslation(probe);
        if (!IsPlausible(probe)) continue;
        const double e = RayError(probe);
        if (e < best) {
          best = e;
          bestOrientation = probe.orientation;
        }
      }
    }
  }
  EXPECT_EQ(value, best);
  EXPECT_EQ(camera.orientation, bestOrientation);
}

TEST(MeasuresTest, UnknownCoordinatesTakePartOnlyInTheRayError) {
  CameraRecord camera = SixPointCamera();
  camera.orientation = {0.3, 0.05, 0.8};
  EstimateTranslation(camera);
  const Vec3 estimate = camera.translation;
  const double angle = AngleError(camera), length = LengthError(camera);

  // A point known in x and z only: no pair, no translation line, but a ray error in x.
  const CameraRecord truth = MakeCamera(0.05, {-8, -6, 3}, {0.3, 0.05, 0.8});
  camera.AddCorrespondence(WorldToImage(truth, {2, 2, 0.5}).image, {2.5, UnknownCoordinate, 0.5});
  EstimateTranslation(camera);
  EXPECT_EQ(camera.translation, estimate);
  EXPECT_EQ(AngleError(camera), angle);
  EXPECT_EQ(LengthError(camera), length);
  camera.translation = truth.translation;
  EXPECT_NEAR(RayError(camera), 0.5, 1e-9);
}

TEST(MeasuresTest, EmptyPairSetsAndMissingHeights) {
  // Looking down at 45 degrees from (0, -10, 10) at the origin.
  CameraRecord camera = MakeCamera(0.05, {0, -10, 10}, {Pi() / 4, 0, 0});
  camera.AddCorrespondence({0, 0}, {0, 0, 0});
  EXPECT_EQ(AngleError(camera), std::numeric_limits<double>::lowest());
  EXPECT_EQ(LengthError(camera), 0);
  EXPECT_NEAR(RayError(camera), 0, 1e-9);
  camera.correspondences[0].real.z = UnknownCoordinate;
  EXPECT_EQ(RayError(camera), kLargest);
  // A horizontal viewing ray never reaches another height: the largest error, not inf or NaN.
  camera.orientation = {0, 0, 0};
  camera.correspondences[0].real = {0, 0, 1};
  EXPECT_EQ(RayError(camera), kLargest);
}

TEST(ThresholdTest, KeepsTheLowestFifth) {
  EXPECT_DOUBLE_EQ(Threshold({0, 1, 2, 3, 4, 5, 6, 7, 8, 9}, 0.2), 1.98);
  EXPECT_EQ(Threshold({3.5, 3.5, 3.5}, 0.2), 3.5);
  // The largest value sits in no bin, so even a fraction of one stops below it.
  EXPECT_DOUBLE_EQ(Threshold({0, 10}, 1.0), 10);
  EXPECT_DOUBLE_EQ(Threshold({0, 0, 0, 10}, 0.5), 0.1);
}

TEST(AcceptTest, BoxOfKnownCoordinatesOnly) {
  CameraRecord camera;
  camera.AddCorrespondence({0, 0}, {0, 0, 0});
  camera.AddCorrespondence({0, 0}, {6, 8, 0});  // diagonal 10: errors below 1 pass
  EXPECT_TRUE(Accept(camera, 0.99));
  EXPECT_FALSE(Accept(camera, 1.0));
  camera.AddCorrespondence({0, 0}, {UnknownCoordinate, 1, UnknownCoordinate});
  EXPECT_FALSE(Accept(camera, 1.0));
  EXPECT_FALSE(Accept(camera, kLargest));
}

TEST(PolishTest, NeedsThreePointsAndOnlyImproves) {
  CameraRecord camera = SixPointCamera();
  camera.correspondences.resize(2);
  camera.translation = {-8, -6, 3};
  camera.orientation = {0.3, 0.05, 0.8};
  EXPECT_FALSE(PolishPose(camera));

  camera = SixPointCamera();
  camera.translation = {-8.2, -5.9, 3.1};
  camera.orientation = {0.31, 0.04, 0.82};
  const auto polished = PolishPose(camera);
  ASSERT_TRUE(polished);
  EXPECT_LT(polished->after, polished->before);
  camera.translation = polished->translation;
  camera.orientation = polished->orientation;
  ExpectPoseNear(camera, {-8, -6, 3}, {0.3, 0.05, 0.8}, 1e-7);
  // At the optimum there is nothing left to gain.
  EXPECT_FALSE(PolishPose(camera));
}

// Three fully known points fit exactly at up to four poses. Alone they leave the choice open;
// the mark of a fourth point, known in all but one coordinate, picks the true pose.
TEST(ThreePointTest, AmbiguousAloneAndSolvedAtTheTruePoseWithAFourthPoint) {
  std::mt19937 random(33);
  int ambiguous = 0, toldApart = 0;
  for (int scene = 0; scene < 40; ++scene) {
    SCOPED_TRACE("scene " + std::to_string(scene));
    const testing::SyntheticView view = testing::RandomView(random, 4);
    CameraRecord camera = MakeCamera(view.truth.focal, {0.5, 0, 0}, {0, 0, 0});
    camera.correspondences =
        Marks(view.truth, {view.points[0], view.points[1], view.points[2]}, false);
    const std::vector<CameraPose> candidates = ThreePointCandidates(camera);
    ASSERT_FALSE(candidates.empty());
    EXPECT_EQ(ThreePointPosesAmbiguous(camera, testing::kPhotoWidth), candidates.size() > 1);
    if (candidates.size() < 2) continue;
    ++ambiguous;

    // The fourth point's height is unknown: it still tells the poses apart.
    const Vec3 fourth = view.points[3];
    camera.AddCorrespondence(WorldToImage(view.truth, fourth).image,
                             {fourth.x, fourth.y, UnknownCoordinate});
    if (ThreePointPosesAmbiguous(camera, testing::kPhotoWidth)) continue;
    ++toldApart;
    const CalibrationResult result = Calibrate(camera, "photo");
    EXPECT_TRUE(result.accepted);
    EXPECT_LT(std::sqrt((camera.translation - view.truth.translation).SquaredLength()), 1e-6);
    EXPECT_LT(testing::RotationAngle(camera.orientation, view.truth.orientation), 1e-7);
  }
  EXPECT_GT(ambiguous, 5);
  EXPECT_GT(toldApart, ambiguous / 2);
}

TEST(ReprojectionRmsTest, InPixels) {
  CameraRecord camera = SixPointCamera();
  camera.translation = {-8, -6, 3};
  camera.orientation = {0.3, 0.05, 0.8};
  EXPECT_NEAR(*ReprojectionRms(camera, 1000, 500), 0, 1e-9);
  for (auto& c : camera.correspondences) c.image.x += 0.003;  // 3 pixels of 1000
  EXPECT_NEAR(*ReprojectionRms(camera, 1000, 500), 3, 1e-9);
  camera.translation = {2, 1.5, 1};  // inside the scene: some points behind
  EXPECT_FALSE(ReprojectionRms(camera, 1000, 500));
}

}  // namespace
}  // namespace modrin::engine
