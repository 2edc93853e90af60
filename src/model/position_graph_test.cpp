#include "model/position_graph.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <memory>
#include <tuple>
#include <vector>

#include "engine/geometry/camera.h"
#include "images/camera_database.h"
#include "model/photo.h"

namespace modrin::model {
namespace {

constexpr std::int32_t kMin = std::numeric_limits<std::int32_t>::min();
constexpr std::int32_t kMax = std::numeric_limits<std::int32_t>::max();

using Coords = PositionGraph::Coords;
using Ids = std::vector<std::int32_t>;
using EdgeRow = std::tuple<std::int32_t, std::int32_t, std::int32_t>;  // id, first, second
using Rows = std::vector<EdgeRow>;

// A new position marked at (x, y) in `photo`.
std::int32_t Mark(PositionGraph& graph, std::int32_t photo, std::int32_t x, std::int32_t y) {
  std::int32_t id = -1;
  EXPECT_TRUE(graph.NewPosition(id));
  EXPECT_TRUE(graph.SetImagePoint(id, photo, {x, y}));
  return id;
}

std::int32_t Join(PositionGraph& graph, std::int32_t a, std::int32_t b) {
  std::int32_t id = -1;
  EXPECT_TRUE(graph.CreateEdge(a, b, id));
  return id;
}

Rows Edges(const PositionGraph& graph) {
  Rows rows;
  for (const auto& [id, edge] : graph.edges) rows.emplace_back(id, edge.first, edge.second);
  return rows;
}

enum class Find { kPositions, kEdges };

// Every id the search hands out when it is called again with its last answer, from `id` on.
Ids Walk(const PositionGraph& graph, Find what, std::int32_t photo, std::int32_t tolerance,
         ImagePoint point, std::int32_t id = -1) {
  Ids found;
  while (what == Find::kEdges ? graph.FindEdgeNear(photo, tolerance, point, id)
                              : graph.FindPositionNear(photo, tolerance, point, id)) {
    found.push_back(id);
  }
  return found;
}

class PositionGraphTest : public ::testing::Test {
 protected:
  std::vector<std::unique_ptr<Photo>> photos;
  PositionGraph graph{photos};
};

TEST_F(PositionGraphTest, IdsStartAtOneAndAreNeverReused) {
  const std::int32_t a = Mark(graph, 0, 1, 1), b = Mark(graph, 0, 2, 2);
  EXPECT_EQ(Ids({a, b, Join(graph, a, b)}), Ids({1, 2, 1}));
  bool removed = false;
  ASSERT_TRUE(graph.RemoveImagePoint(b, 0, removed));
  EXPECT_EQ(Mark(graph, 0, 3, 3), 3);
  EXPECT_EQ(Join(graph, a, 3), 2);

  // At the top of the id space the counters refuse instead of wrapping to negative ids.
  graph.lastPositionId = kMax - 1;
  EXPECT_EQ(Mark(graph, 0, 4, 4), kMax);
  std::int32_t id = 77;
  EXPECT_FALSE(graph.NewPosition(id));
  EXPECT_EQ(id, 77);
  EXPECT_EQ(graph.lastPositionId, kMax);
  EXPECT_EQ(graph.positions.size(), 3u);
  graph.lastEdgeId = kMax;
  EXPECT_FALSE(graph.CreateEdge(1, kMax, id));
  EXPECT_EQ(id, 77);
  EXPECT_EQ(graph.lastEdgeId, kMax);
  EXPECT_EQ(Edges(graph), (Rows{{2, 1, 3}}));
  // Splitting needs two new ids; without them the edge stays instead of being lost.
  std::int32_t edgeId = 2;
  EXPECT_TRUE(graph.SplitEdge(edgeId, kMax));
  EXPECT_EQ(edgeId, 2);
  EXPECT_EQ(Edges(graph), (Rows{{2, 1, 3}}));
}

TEST_F(PositionGraphTest, PointChangesClearComputedButNothingClearsReal) {
  const std::int32_t p = Mark(graph, 0, 5, 5);
  Coords xyz{7, 7, 7};
  EXPECT_FALSE(graph.GetCoords(p, xyz));  // unknown coordinates are copied all the same
  EXPECT_EQ(xyz, (Coords{0, 0, 0}));

  ASSERT_TRUE(graph.SetRealCoords(p, {1, 2, 3}));
  Position& position = graph.positions.at(p);
  for (int change = 0; change < 4; ++change) {
    SCOPED_TRACE(change);
    position.isComputed = true;
    bool removed = false;
    if (change == 0) graph.SetImagePoint(p, 1, {6, 6});
    if (change == 1) graph.RemoveImagePoint(p, 1, removed);
    if (change == 2) graph.InvalidateComputed(p);
    if (change == 3) graph.InvalidateAllComputed();
    EXPECT_FALSE(position.isComputed);
    EXPECT_TRUE(graph.IsReal(p));
  }
}

TEST_F(PositionGraphTest, RemoveImagePointDropsEveryEdgeAndJoinsExactlyTwoFarEnds) {
  for (int spokes = 1; spokes <= 3; ++spokes) {
    for (bool markedTwice : {false, true}) {
      SCOPED_TRACE(testing::Message() << spokes << " edges, marked twice: " << markedTwice);
      PositionGraph g(photos);
      const std::int32_t x = Mark(g, 0, 0, 0), y = Mark(g, 0, 1, 0), hub = Mark(g, 0, 5, 5);
      const std::int32_t unrelated = Join(g, x, y);
      if (markedTwice) g.SetImagePoint(hub, 1, {6, 6});
      g.positions.at(hub).isComputed = true;
      std::vector<std::int32_t> ends;
      for (int i = 0; i < spokes; ++i) {
        ends.push_back(Mark(g, 0, 10 + i, 0));
        Join(g, ends.back(), hub);
      }
      const std::int32_t lastEdge = g.lastEdgeId;
      bool removed = false;
      ASSERT_TRUE(g.RemoveImagePoint(hub, 0, removed));
      EXPECT_EQ(removed, !markedTwice);
      EXPECT_EQ(g.positions.contains(hub), markedTwice);
      if (markedTwice) {
        EXPECT_EQ(g.positions.at(hub).imagePoints.size(), 1u);
        EXPECT_FALSE(g.positions.at(hub).isComputed);
      }
      std::vector<EdgeRow> expected = {{unrelated, x, y}};
      if (spokes == 2) expected.emplace_back(lastEdge + 1, ends[0], ends[1]);
      EXPECT_EQ(Edges(g), expected);
    }
  }

  // Far ends that are already joined keep their edge; a missing id changes nothing.
  const std::int32_t a = Mark(graph, 0, 0, 0), p = Mark(graph, 0, 1, 1), b = Mark(graph, 0, 2, 2);
  Join(graph, a, b);
  Join(graph, a, p);
  Join(graph, p, b);
  bool removed = true;
  EXPECT_FALSE(graph.RemoveImagePoint(42, 0, removed));
  EXPECT_FALSE(removed);
  ASSERT_TRUE(graph.RemoveImagePoint(p, 0, removed));
  EXPECT_EQ(Edges(graph), (Rows{{1, a, b}}));
}

TEST_F(PositionGraphTest, MergeRewritesEdgesWithoutLoopsOrDuplicates) {
  const std::int32_t a = Mark(graph, 0, 1, 1), from = Mark(graph, 0, 2, 2);
  const std::int32_t b = Mark(graph, 0, 3, 3), into = Mark(graph, 0, 4, 4);
  const std::int32_t c = Mark(graph, 0, 5, 5);
  graph.SetImagePoint(from, 1, {9, 9});
  Join(graph, from, into);  // 1: would join `into` to itself
  Join(graph, a, from);     // 2: duplicates edge 3 once rewritten
  Join(graph, a, into);     // 3
  Join(graph, from, b);     // 4: becomes (into, b), stored in ascending order
  Join(graph, b, c);        // 5: untouched
  Join(graph, into, c);     // 6
  Join(graph, from, c);     // 7: duplicates edge 6

  EXPECT_TRUE(graph.MergePositions(from, from));
  EXPECT_FALSE(graph.MergePositions(from, 99));
  EXPECT_FALSE(graph.MergePositions(99, into));
  EXPECT_EQ(graph.edges.size(), 7u);

  ASSERT_TRUE(graph.MergePositions(from, into));
  EXPECT_EQ(Edges(graph), (Rows{{3, a, into}, {4, b, into}, {5, b, c}, {6, into, c}}));
  EXPECT_FALSE(graph.positions.contains(from));
  // The merged position's points are dropped, not carried over.
  EXPECT_EQ(graph.positions.at(into).imagePoints,
            (std::map<std::int32_t, ImagePoint>{{0, ImagePoint{4, 4}}}));
}

TEST_F(PositionGraphTest, CreateEdgeKeepsPairsUniqueAndOrdered) {
  std::int32_t id = 42;
  EXPECT_FALSE(graph.CreateEdge(7, 7, id));
  EXPECT_EQ(id, 42);
  EXPECT_TRUE(graph.CreateEdge(9, 4, id));  // endpoints need not exist
  EXPECT_EQ(id, 1);
  id = 42;
  EXPECT_FALSE(graph.CreateEdge(4, 9, id));
  EXPECT_EQ(id, 1);  // the edge that already joins them

  // Edges read from a file are kept as written; FindEdge reports the last one of a pair.
  graph.edges[5] = Edge{9, 4};
  EXPECT_TRUE(graph.FindEdge(4, 9, id));
  EXPECT_EQ(id, 5);
  EXPECT_FALSE(graph.FindEdge(4, 5, id));
  EXPECT_EQ(id, 5);
  EXPECT_TRUE(graph.DeleteEdge(5));
  EXPECT_TRUE(graph.DeleteEdge(5));
  EXPECT_EQ(Edges(graph), (Rows{{1, 4, 9}}));  // stored in ascending order
}

TEST_F(PositionGraphTest, SplitEdgeReplacesTheEdgeByTwo) {
  Join(graph, 1, 2);
  std::int32_t missing = 7, edgeId = 1;
  EXPECT_TRUE(graph.SplitEdge(missing, 3));
  EXPECT_TRUE(graph.SplitEdge(edgeId, 2));  // the split point is an end of the edge
  EXPECT_EQ(std::tie(missing, edgeId), std::make_tuple(7, 1));
  EXPECT_EQ(Edges(graph), (Rows{{1, 1, 2}}));
  EXPECT_TRUE(graph.SplitEdge(edgeId, 3));
  EXPECT_EQ(edgeId, -1);
  EXPECT_EQ(Edges(graph), (Rows{{2, 1, 3}, {3, 2, 3}}));

  // A split point already joined to one end gets only the missing edge.
  Join(graph, 3, 4);
  edgeId = 2;
  EXPECT_TRUE(graph.SplitEdge(edgeId, 4));
  EXPECT_EQ(Edges(graph), (Rows{{3, 2, 3}, {4, 3, 4}, {5, 1, 4}}));
}

TEST_F(PositionGraphTest, PlaceOnEdgeInterpolatesAlongTheLongerAxis) {
  struct Case {
    const char* what;
    ImagePoint pa, pb, p;
    double t;
  };
  const Case cases[] = {
      {"on Pa", {0, 0}, {10, 4}, {0, 0}, 0},
      {"on Pb", {0, 0}, {10, 4}, {10, 4}, 1},
      {"beyond Pb", {0, 0}, {10, 4}, {15, 6}, 1.5},
      {"45 degrees uses x", {0, 0}, {10, 10}, {5, 9}, 0.5},
      {"vertical uses y", {5, 0}, {5, 20}, {7, 5}, 0.25},
      {"steep uses y", {0, 0}, {4, 8}, {1, 6}, 0.75},
      {"behind a reversed edge", {10, 0}, {0, 0}, {12, 3}, -0.2},
      {"one-pixel edge", {3, 3}, {3, 3}, {8, 8}, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    PositionGraph g(photos);
    const std::int32_t a = Mark(g, 0, c.pa.x, c.pa.y), b = Mark(g, 0, c.pb.x, c.pb.y);
    const std::int32_t p = Mark(g, 0, c.p.x, c.p.y);
    g.SetRealCoords(a, {1, 2, 3});
    g.positions.at(b).coords = {3, 6, -1};  // computed coordinates count as known too
    g.positions.at(b).isComputed = true;
    Coords xyz{};
    ASSERT_TRUE(g.PlaceOnEdge(0, Join(g, a, b), p, xyz));
    const Coords expected{1 + 2 * c.t, 2 + 4 * c.t, 3 - 4 * c.t};
    for (int axis = 0; axis < 3; ++axis) EXPECT_DOUBLE_EQ(xyz[axis], expected[axis]);
    EXPECT_EQ(g.positions.at(p).coords, xyz);
    EXPECT_TRUE(g.positions.at(p).isComputed);
  }

  // Each case takes away one thing PlaceOnEdge needs; then nothing may change.
  for (int spoil = 0; spoil < 7; ++spoil) {
    SCOPED_TRACE(spoil);
    PositionGraph g(photos);
    const std::int32_t a = Mark(g, 0, 0, 0), b = Mark(g, 0, 10, 0), p = Mark(g, 0, 5, 0);
    g.SetRealCoords(a, {0, 0, 0});
    g.SetRealCoords(b, {10, 0, 0});
    const std::int32_t edge = Join(g, a, b);
    if (spoil == 0) g.edges.clear();
    if (spoil == 1) g.positions.at(a).isReal = false;
    if (spoil == 2) g.positions.at(b).isReal = false;
    if (spoil == 3) g.positions.erase(b);
    if (spoil == 4) g.positions.at(p).imagePoints.clear();
    if (spoil == 5) g.positions.at(b).imagePoints.clear();
    Coords xyz{7, 7, 7};
    EXPECT_FALSE(g.PlaceOnEdge(0, edge, spoil == 6 ? 99 : p, xyz));
    EXPECT_EQ(xyz, (Coords{7, 7, 7}));
    EXPECT_FALSE(g.positions.at(p).isComputed);
    EXPECT_EQ(g.positions.at(p).coords, (Coords{0, 0, 0}));
  }
}

TEST_F(PositionGraphTest, FindPositionNearStepsThroughMatchesInIdOrder) {
  Mark(graph, 0, 10, 10);  // 1
  Mark(graph, 0, 11, 10);  // 2
  Mark(graph, 0, 10, 10);  // 3
  Mark(graph, 1, 10, 10);  // 4: another photo
  Mark(graph, 0, 12, 8);   // 5: two pixels off on both axes
  EXPECT_EQ(Walk(graph, Find::kPositions, 0, 0, {10, 10}), (Ids{1, 3}));
  EXPECT_EQ(Walk(graph, Find::kPositions, 0, 1, {10, 10}), (Ids{1, 2, 3}));
  EXPECT_EQ(Walk(graph, Find::kPositions, 0, 2, {10, 10}), (Ids{1, 2, 3, 5}));
  EXPECT_EQ(Walk(graph, Find::kPositions, 1, 0, {10, 10}), (Ids{4}));
  // No wrap-around past the last position.
  EXPECT_EQ(Walk(graph, Find::kPositions, 0, 0, {10, 10}, 3), (Ids{}));

  graph.positions.erase(2);
  std::int32_t id = 2;
  EXPECT_FALSE(graph.FindPositionNear(0, 5, {10, 10}, id));
  EXPECT_EQ(id, 2);
}

TEST_F(PositionGraphTest, FindEdgeNearUsesInclusiveBoxAndStrictDistance) {
  Mark(graph, 0, 0, 0);   // 1
  Mark(graph, 0, 10, 0);  // 2
  Mark(graph, 0, 5, 5);   // 3
  Mark(graph, 0, 5, 5);   // 4: same pixel as 3
  Mark(graph, 1, 5, 0);   // 5: not in photo 0
  Join(graph, 1, 2);      // 1: horizontal
  Join(graph, 3, 4);      // 2: both ends on one pixel
  Join(graph, 1, 5);      // 3: an end without a point in photo 0
  Join(graph, 2, 99);     // 4: an end that does not exist
  Join(graph, 1, 3);      // 5: diagonal
  EXPECT_EQ(Walk(graph, Find::kEdges, 0, 2, {5, 1}), Ids{1});
  EXPECT_EQ(Walk(graph, Find::kEdges, 0, 2, {5, 2}), Ids{});  // distance equal to the tolerance
  EXPECT_EQ(Walk(graph, Find::kEdges, 0, 2, {12, 0}), Ids{1});
  EXPECT_EQ(Walk(graph, Find::kEdges, 0, 2, {13, 0}), Ids{});
  EXPECT_EQ(Walk(graph, Find::kEdges, 0, 100, {5, 5}), (Ids{1, 5}));
  // A start id without an edge starts at the first edge, unlike FindPositionNear.
  EXPECT_EQ(Walk(graph, Find::kEdges, 0, 100, {5, 5}, 77), (Ids{1, 5}));
  EXPECT_EQ(Walk(graph, Find::kEdges, 0, 100, {5, 5}, 1), (Ids{5}));
}

TEST_F(PositionGraphTest, ExtremePixelCoordinatesDoNotOverflow) {
  const std::int32_t low = Mark(graph, 0, kMin, kMin), high = Mark(graph, 0, kMax, kMax);
  EXPECT_EQ(Walk(graph, Find::kPositions, 0, kMax, {kMax, kMax}), Ids{high});
  EXPECT_EQ(Walk(graph, Find::kPositions, 0, kMax, {0, 0}), Ids{high});
  EXPECT_EQ(Walk(graph, Find::kPositions, 0, kMax, {-1, -1}), Ids{low});
  EXPECT_EQ(Walk(graph, Find::kPositions, 0, kMax, {kMax, kMin}), Ids{});

  const std::int32_t edge = Join(graph, low, high);
  EXPECT_EQ(Walk(graph, Find::kEdges, 0, kMax, {0, 0}), Ids{edge});
  EXPECT_EQ(Walk(graph, Find::kEdges, 0, kMax, {kMax, kMin}), Ids{});
  EXPECT_EQ(Walk(graph, Find::kEdges, 0, kMax, {kMin, kMin}), Ids{edge});

  const std::int32_t p = Mark(graph, 0, 0, kMin);
  graph.SetRealCoords(low, {0, 0, 0});
  graph.SetRealCoords(high, {4294967295.0, 0, 0});
  Coords xyz{};
  ASSERT_TRUE(graph.PlaceOnEdge(0, edge, p, xyz));
  EXPECT_DOUBLE_EQ(xyz[0], 2147483648.0);
}

}  // namespace
}  // namespace modrin::model

namespace modrin::model {
namespace {

// Three photos of a scene point from known poses; ComputePosition intersects the rays of the
// first two calibrated ones.
class ComputePositionTest : public ::testing::Test {
 protected:
  ComputePositionTest() {
    const engine::Vec3 poses[3][2] = {{{-8, -6, 3}, {0.3, 0.05, 0.8}},
                                      {{10, -7, 2}, {0.2, 0, -0.6}},
                                      {{1, -12, 1.5}, {0.1, 0, 0}}};
    for (const auto& [translation, orientation] : poses) {
      auto photo = std::make_unique<Photo>();
      photo->levels.push_back(
          std::make_unique<images::DecodedImage>(images::DecodedImage::Filled(3000, 2000, 0)));
      photo->camera.cameraEntry = &sensor;
      photo->camera.focal = 0.035;
      photo->camera.translation = translation;
      photo->camera.orientation = orientation;
      photo->camera.calibrated = true;
      photos.push_back(std::move(photo));
    }
  }

  // Marks the scene point in the given photos at its (rounded) pixel.
  std::int32_t MarkScenePoint(std::initializer_list<int> inPhotos) {
    std::int32_t id = -1;
    graph.NewPosition(id);
    for (int p : inPhotos) {
      const auto seen = engine::WorldToImage(photos[p]->camera, kScenePoint);
      int x = 0, y = 0;
      NormalizedToPixel(*photos[p], seen.image.x, seen.image.y, x, y);
      graph.SetImagePoint(id, p, {x, y});
    }
    return id;
  }

  static constexpr engine::Vec3 kScenePoint{2, 1.5, 2};
  images::CameraEntry sensor{"Test", 0.036, 0.024};
  std::vector<std::unique_ptr<Photo>> photos;
  PositionGraph graph{photos};
};

TEST_F(ComputePositionTest, IntersectsTheFirstTwoCalibratedViews) {
  const std::int32_t id = MarkScenePoint({0, 1, 2});
  graph.ComputeAll();
  Coords xyz{};
  ASSERT_TRUE(graph.GetCoords(id, xyz));
  // Marks are whole pixels, so the point is found to within a few centimetres.
  EXPECT_NEAR(xyz[0], kScenePoint.x, 0.05);
  EXPECT_NEAR(xyz[1], kScenePoint.y, 0.05);
  EXPECT_NEAR(xyz[2], kScenePoint.z, 0.05);

  // Computed coordinates are not recomputed, and real ones never overwritten.
  photos[0]->camera.translation = {-9, -6, 3};
  graph.ComputePosition(id);
  Coords again{};
  graph.GetCoords(id, again);
  EXPECT_EQ(again, xyz);
  graph.SetRealCoords(id, {7, 7, 7});
  graph.InvalidateComputed(id);
  graph.ComputePosition(id);
  graph.GetCoords(id, again);
  EXPECT_EQ(again, (Coords{7, 7, 7}));
}

TEST_F(ComputePositionTest, NeedsTwoViewsThatCanBeMapped) {
  const std::int32_t oneView = MarkScenePoint({0, 1});
  const std::int32_t unloaded = MarkScenePoint({0, 2});
  const std::int32_t noCamera = MarkScenePoint({1, 2});
  photos[1]->camera.calibrated = false;
  photos[2]->levels.clear();  // calibrated, but its picture is not loaded
  graph.ComputeAll();
  photos[2]->levels.push_back(
      std::make_unique<images::DecodedImage>(images::DecodedImage::Filled(3000, 2000, 0)));
  photos[1]->camera.calibrated = true;
  photos[2]->camera.cameraEntry = nullptr;
  graph.ComputePosition(noCamera);
  for (std::int32_t id : {oneView, unloaded, noCamera}) EXPECT_FALSE(graph.IsKnown(id)) << id;

  // Two views from the same pose give parallel rays: no coordinates rather than wrong ones.
  photos[2]->camera = photos[0]->camera;
  const std::int32_t sameRay = MarkScenePoint({0, 2});
  graph.ComputePosition(sameRay);
  EXPECT_FALSE(graph.IsKnown(sameRay));
}

}  // namespace
}  // namespace modrin::model
