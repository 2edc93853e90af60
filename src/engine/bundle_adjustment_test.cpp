#include "engine/bundle_adjustment.h"

#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine/progress.h"
#include "engine/reconstruction.h"
#include "scene_project.h"

namespace modrin::engine {
namespace {

using testing::SceneProject;

double Distance(const Vec3& a, const Vec3& b) { return std::sqrt((a - b).SquaredLength()); }

Vec3 CoordsOf(const model::Project& project, std::int32_t id) {
  const auto& c = project.graph.positions.at(id).coords;
  return {c[0], c[1], c[2]};
}

struct RingScene {
  SceneProject scene{6000, 4000};
  std::vector<std::int32_t> free, checks;
  std::vector<Vec3> freeTruth, checkTruth;
  CheckPoints checkSet;
};

// The ring with the box's corners as control points and random points, some held back as
// check points, all marked with `sigma` pixels of noise before rounding to pixels.
void FillRing(RingScene& ring, int freeCount, int checkCount, double sigma) {
  testing::AddRing(ring.scene, 8);
  std::mt19937 random(2024);
  std::uniform_real_distribution<double> unit(0, 1);
  const std::vector<int> all = {0, 1, 2, 3, 4, 5, 6, 7};
  for (const double x : {0.0, 10.0}) {
    for (const double y : {0.0, 8.0}) {
      for (const double z : {0.0, 5.0}) ring.scene.Mark({x, y, z}, all, true, &random, sigma);
    }
  }
  for (int i = 0; i < freeCount + checkCount; ++i) {
    const Vec3 p{10 * unit(random), 8 * unit(random), 5 * unit(random)};
    const bool check = i >= freeCount;
    const std::int32_t id = ring.scene.Mark(p, all, check, &random, sigma);
    (check ? ring.checks : ring.free).push_back(id);
    (check ? ring.checkTruth : ring.freeTruth).push_back(p);
    if (check) ring.checkSet.insert(id);
  }
}

double RmsError(const model::Project& project, const std::vector<std::int32_t>& ids,
                const std::vector<Vec3>& truth) {
  double sum = 0;
  for (std::size_t i = 0; i < ids.size(); ++i) {
    sum += (CoordsOf(project, ids[i]) - truth[i]).SquaredLength();
  }
  return std::sqrt(sum / static_cast<double>(ids.size()));
}

TEST(RefineAccuracyTest, RefinedPointsReachOneFiveThousandthOfTheScene) {
  RingScene ring;
  FillRing(ring, 200, 60, 0.3);
  model::Project& project = ring.scene.project;
  CalibrationRunOptions calibration;
  calibration.checks = ring.checkSet;
  RunCalibration(project, calibration);
  const double before = RmsError(project, ring.free, ring.freeTruth);

  RefineOptions options;
  options.checks = ring.checkSet;
  const RefineResult result = Refine(project, options);
  ASSERT_TRUE(result.ok) << result.message;
  ApplyRefinement(project, result);
  const double after = RmsError(project, ring.free, ring.freeTruth);
  const double sceneSize = std::sqrt(100.0 + 64 + 25);
  std::cout << "points RMS error: before " << before << ", after " << after
            << " (1:" << sceneSize / after << "); marks RMS " << result.rmsBefore << " -> "
            << result.rmsAfter << " px in " << result.iterations << " iterations\n";
  EXPECT_LT(after, sceneSize / 5000);
  EXPECT_LT(after, before);
  EXPECT_LT(result.rmsAfter, result.rmsBefore);

  // The check points' reported distances are their true errors: computed from the refined
  // poses, not taken from their typed coordinates.
  const ResidualReport report = BuildResidualReport(project, ring.checkSet);
  double trueSum = 0;
  for (std::size_t i = 0; i < ring.checks.size(); ++i) {
    const PositionResiduals& p =
        *std::find_if(report.positions.begin(), report.positions.end(),
                      [&](const PositionResiduals& r) { return r.id == ring.checks[i]; });
    ASSERT_TRUE(p.triangulated.has_value());
    const double trueError = Distance(*p.triangulated, ring.checkTruth[i]);
    EXPECT_NEAR(*p.typedDistance, trueError, 0.1 * trueError + 1e-12);
    trueSum += trueError * trueError;
  }
  // And their RMS tells the accuracy of the computed points.
  EXPECT_EQ(report.checkDistances.count, 60);
  EXPECT_NEAR(report.checkDistances.rms, std::sqrt(trueSum / 60), 1e-9);
  EXPECT_NEAR(report.checkDistances.rms, after, 0.1 * after);
  std::cout << "check points RMS " << report.checkDistances.rms << " against the points' " << after
            << '\n';
}

// A progress display whose user cancels at once.
class CancelAtOnce : public NullProgress {
 public:
  bool CancelRequested() override { return true; }
};

struct DegenerateCase {
  const char* name;
  void (*spoil)(model::Project&, RefineOptions&);
  const char* message;
};

TEST(RefineTest, DegenerateInputEndsWithAMessageAndChangesNothing) {
  const std::vector<DegenerateCase> cases = {
      {"one calibrated photo",
       [](model::Project& p, RefineOptions&) {
         for (std::size_t i = 1; i < p.photos.size(); ++i) p.photos[i]->camera.calibrated = false;
       },
       "at least two calibrated photos"},
      {"a photo with two marks",
       [](model::Project& p, RefineOptions&) {
         for (auto& [id, position] : p.graph.positions) {
           if (id > 2) position.imagePoints.erase(3);
         }
       },
       "photo 3 has 2 marked points with coordinates; a pose needs at least 3"},
      {"control points on a line",
       [](model::Project& p, RefineOptions& options) {
         // Only corners 1 (0, 0, 0) and 2 (0, 0, 5) stay control points: a line.
         for (std::int32_t id = 3; id <= 8; ++id) options.checks.insert(id);
         (void)p;
       },
       "the control points cannot hold the model"},
      {"a pose not finite",
       [](model::Project& p, RefineOptions&) { p.photos[2]->camera.translation.x = NAN; },
       "photo 2 has a pose or focal length that is not a finite number"},
      {"no robust scale", [](model::Project&, RefineOptions& options) { options.huberPixels = 0; },
       "robust loss scale"},
  };
  for (const DegenerateCase& c : cases) {
    RingScene ring;
    FillRing(ring, 20, 0, 0.3);
    ring.scene.UseTruePoses();
    ring.scene.project.graph.ComputeAll();
    RefineOptions options;
    c.spoil(ring.scene.project, options);
    const std::string before = ring.scene.project.Write();
    const RefineResult result = Refine(ring.scene.project, options);
    EXPECT_FALSE(result.ok) << c.name;
    EXPECT_NE(result.message.find(c.message), std::string::npos)
        << c.name << ": " << result.message;
    ApplyRefinement(ring.scene.project, result);
    EXPECT_EQ(ring.scene.project.Write(), before) << c.name;
  }
}

TEST(RefineTest, ACancelledRunChangesNothing) {
  RingScene ring;
  FillRing(ring, 20, 0, 0.3);
  ring.scene.UseTruePoses();
  CancelAtOnce cancel;
  const RefineResult result = Refine(ring.scene.project, {}, &cancel);
  EXPECT_FALSE(result.ok);
  EXPECT_TRUE(result.cancelled);
  EXPECT_TRUE(result.poses.empty());
}

TEST(RefineTest, SoftControlPointsGiveWayToAMistypedOne) {
  // Corner 1 is typed 0.2 off. Held fixed it drags the poses and cannot fit its marks; as a
  // prior of 1 unit the marks win and the poses stay true.
  double hardRms = 0, softRms = 0;
  for (const bool soft : {false, true}) {
    RingScene ring;
    FillRing(ring, 40, 0, 0.3);
    ring.scene.UseTruePoses();
    ring.scene.project.graph.SetRealCoords(1, {0.2, 0, 0});
    RefineOptions options;
    if (soft) options.softSigma = 1.0;
    const RefineResult result = Refine(ring.scene.project, options);
    ASSERT_TRUE(result.ok) << result.message;
    (soft ? softRms : hardRms) = result.rmsAfter;
    ApplyRefinement(ring.scene.project, result);
    // Typed coordinates are never overwritten.
    EXPECT_EQ(CoordsOf(ring.scene.project, 1), (Vec3{0.2, 0, 0}));
  }
  EXPECT_LT(softRms, 0.6);
  EXPECT_GT(hardRms, 2 * softRms);
}

TEST(RefineTest, RefinesTheFocalLengthAndLeavesOutPointsSeenOnce) {
  RingScene ring;
  FillRing(ring, 40, 0, 0.3);
  ring.scene.UseTruePoses();
  for (auto& photo : ring.scene.project.photos) photo->camera.focal *= 1.01;
  const std::int32_t once = ring.scene.Mark({5, 5, 5}, {2}, false);
  ring.scene.project.graph.positions.at(once).coords = {1, 2, 3};
  ring.scene.project.graph.positions.at(once).isComputed = true;
  RefineOptions options;
  options.refineFocal = true;
  const RefineResult result = Refine(ring.scene.project, options);
  ASSERT_TRUE(result.ok) << result.message;
  EXPECT_EQ(result.leftOut, 1);
  ApplyRefinement(ring.scene.project, result);
  // Each photo of the ring has a focal length of its own, so each finds its own again.
  for (std::size_t p = 0; p < ring.scene.truths.size(); ++p) {
    EXPECT_NEAR(ring.scene.camera(p).focal, ring.scene.truths[p].focal,
                0.002 * ring.scene.truths[p].focal);
  }
  EXPECT_EQ(CoordsOf(ring.scene.project, once), (Vec3{1, 2, 3}));
  EXPECT_LT(result.rmsAfter, 0.6);
}

}  // namespace
}  // namespace modrin::engine
