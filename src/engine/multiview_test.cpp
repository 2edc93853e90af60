#include "engine/multiview.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "scene_project.h"

namespace modrin::engine {
namespace {

struct LinesCase {
  const char* name;
  std::vector<Line3> lines;
  std::optional<Vec3> expected;
};

TEST(NearestPointToLinesTest, MeetsCrossingLinesAndRefusesParallelOnes) {
  const std::vector<LinesCase> cases = {
      {"three lines through (1, 2, 3)",
       {{{1, 2, 0}, {0, 0, 1}}, {{0, 2, 3}, {2, 0, 0}}, {{0, 1, 2}, {1, 1, 1}}},
       Vec3{1, 2, 3}},
      // Two skew lines: the middle of their common perpendicular.
      {"skew pair", {{{0, 0, 0}, {1, 0, 0}}, {{0, 0, 2}, {0, 1, 0}}}, Vec3{0, 0, 1}},
      {"one line", {{{0, 0, 0}, {1, 0, 0}}}, std::nullopt},
      {"parallel lines", {{{0, 0, 0}, {1, 0, 0}}, {{0, 1, 0}, {-3, 0, 0}}}, std::nullopt},
      {"not finite",
       {{{0, 0, 0}, {1, 0, 0}}, {{0, 1, 0}, {0, 0, std::numeric_limits<double>::infinity()}}},
       std::nullopt},
  };
  for (const LinesCase& c : cases) {
    const std::optional<Vec3> point = NearestPointToLines(c.lines);
    ASSERT_EQ(point.has_value(), c.expected.has_value()) << c.name;
    if (!point) continue;
    EXPECT_LT(std::sqrt((*point - *c.expected).SquaredLength()), 1e-9) << c.name;
  }
}

TEST(TriangulatePositionTest, UsesEveryCalibratedPhotoThatMarksIt) {
  testing::SceneProject scene(6000, 4000);
  testing::AddBoxScene(scene);
  scene.UseTruePoses();
  const Vec3 truth{3.3, 2.2, 4.1};
  const std::int32_t id = scene.Mark(truth, {0, 1, 2}, false);
  const std::optional<Vec3> point = TriangulatePosition(scene.project, id);
  ASSERT_TRUE(point.has_value());
  // Marks rounded to pixels of a 6000-pixel-wide picture about 25 units away.
  EXPECT_LT(std::sqrt((*point - truth).SquaredLength()), 0.005);
  EXPECT_EQ(MappedMarks(scene.project, id).size(), 3u);

  // Seen in one calibrated photo only, it has no point.
  scene.project.photos[1]->camera.calibrated = false;
  scene.project.photos[2]->camera.calibrated = false;
  EXPECT_FALSE(TriangulatePosition(scene.project, id).has_value());
  EXPECT_FALSE(TriangulatePosition(scene.project, 12345).has_value());
}

}  // namespace
}  // namespace modrin::engine
