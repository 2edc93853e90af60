#include "engine/face_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <map>
#include <random>
#include <set>
#include <tuple>
#include <utility>
#include <vector>

#include "engine/geometry/vec.h"
#include "model/project.h"

namespace modrin::engine {
namespace {

using model::ImagePoint;
using model::Project;
using Pairs = std::vector<std::pair<std::int32_t, std::int32_t>>;
using Segments = std::set<std::pair<std::int32_t, std::int32_t>>;

// A new position with the given points, keyed by photo index.
void Mark(Project& project, const std::map<std::int32_t, ImagePoint>& points) {
  std::int32_t id = -1;
  ASSERT_TRUE(project.graph.NewPosition(id));
  for (const auto& [photo, point] : points) project.graph.SetImagePoint(id, photo, point);
}

// A finder over the project's edges after FindFaces for each of `photos`.
struct Found {
  Found(const Project& project, const std::vector<int>& photos) : finder(project.graph) {
    finder.BuildAdjacency();
    for (int p : photos) finder.FindFaces(p);
  }
  Pairs Adjacency() const { return {finder.adjacency.begin(), finder.adjacency.end()}; }
  std::vector<Segments> Faces() const {
    std::vector<Segments> faces;
    for (const Face& face : finder.faces) faces.push_back(face.segments);
    return faces;
  }
  FaceFinder finder;
};

class FaceFinderTest : public ::testing::Test {
 protected:
  // Positions 1 to 4 at the corners of a 10 pixel square in photo 0, joined around.
  FaceFinderTest() {
    project.AddPhoto();
    for (ImagePoint corner : {ImagePoint{0, 0}, {10, 0}, {10, 10}, {0, 10}}) {
      Mark(project, {{0, corner}});
    }
    Join({{1, 2}, {2, 3}, {3, 4}, {1, 4}});
  }
  void Join(const Pairs& edges) {
    for (const auto& [a, b] : edges) project.AddEdge(a, b);
  }

  Project project;
  const std::vector<Segments> square_{{{1, 2}, {2, 3}, {3, 4}, {4, 1}}};
};

TEST_F(FaceFinderTest, SquaresGiveTheirCounterClockwiseOutlines) {
  Found one(project, {0});
  EXPECT_EQ(one.Faces(), square_);
  EXPECT_EQ(one.finder.faces.begin()->vertexIds, (std::set<std::int32_t>{1, 2, 3, 4}));
  // Only the face's sides leave; the trace around the outside is rejected.
  EXPECT_EQ(one.Adjacency(), (Pairs{{1, 4}, {2, 1}, {3, 2}, {4, 3}}));
  EXPECT_FALSE(one.finder.IsOutlineInterior({0, nullptr, {}, {{1, 4}, {2, 1}, {3, 2}, {4, 3}}}));

  // A second square on the right shares the side 2-3, once in each direction.
  Mark(project, {{0, {20, 0}}});
  Mark(project, {{0, {20, 10}}});
  Join({{2, 5}, {5, 6}, {3, 6}});
  EXPECT_EQ(Found(project, {0}).Faces(),
            (std::vector<Segments>{square_[0], {{2, 5}, {3, 2}, {5, 6}, {6, 3}}}));
}

TEST_F(FaceFinderTest, FaceIsKeptOnlyInThePhotoWhereItLooksLargest) {
  project.AddPhoto();
  project.AddPhoto();  // sees nothing
  auto markInPhoto1 = [&](int scaleX, int scaleY) {
    for (std::int32_t id = 1; id <= 4; ++id) {
      ImagePoint point;
      project.graph.GetImagePoint(id, 0, point);
      project.graph.SetImagePoint(id, 1, {100 + scaleX * point.x, 50 + scaleY * point.y});
    }
  };
  markInPhoto1(3, 2);
  Found found(project, {0});
  EXPECT_TRUE(found.finder.faces.empty());
  for (int p : {1, 2, 0}) found.finder.FindFaces(p);
  ASSERT_EQ(found.Faces(), square_);
  EXPECT_EQ(found.finder.faces.begin()->photo, 1);

  // Equal areas: the first photo wins. No area anywhere: no photo does.
  markInPhoto1(1, 1);
  Face face{0, nullptr, {}, square_[0]};
  EXPECT_TRUE(found.finder.IsBestView(face));
  face.photo = 1;
  EXPECT_FALSE(found.finder.IsBestView(face));
  for (std::int32_t id = 1; id <= 4; ++id) {
    for (int p : {0, 1}) project.graph.SetImagePoint(id, p, {id, 7});
  }
  EXPECT_FALSE(found.finder.IsBestView(face));
}

TEST_F(FaceFinderTest, EdgesToUnmarkedOrDanglingEndsLeaveTheSquareWhole) {
  // Position 5 inside the square is marked in photo 1 only: its edges (5 and 6) play no part
  // in photo 0.
  Mark(project, {{1, {5, 5}}});
  Join({{1, 5}, {5, 3}});
  project.AddPhoto();
  EXPECT_EQ(Found(project, {0}).Faces(), square_);

  // Marked in photo 0 as well, without 1-5, it ends an edge dangling from 3. The trace from
  // 1 -> 2 turns into it at 3 and fails; the one from 3 -> 4 closes the square.
  project.graph.SetImagePoint(5, 0, {5, 5});
  project.DeleteEdge(5);
  Found dangling(project, {0});
  EXPECT_EQ(dangling.Faces(), square_);
  EXPECT_EQ(dangling.Adjacency(), (Pairs{{1, 4}, {2, 1}, {3, 2}, {3, 5}, {4, 3}, {5, 3}}));
}

TEST(FaceFinderOutlineTest, RayThroughAnOutlineVertexCountsOnce) {
  // The test point beside the side 1-2 is (0.1, 5); its ray passes through the corner (20, 5).
  Project project;
  project.AddPhoto();
  for (ImagePoint corner : {ImagePoint{0, 10}, {0, 0}, {10, 0}, {20, 5}, {10, 10}}) {
    Mark(project, {{0, corner}});
  }
  for (std::int32_t id = 1; id <= 5; ++id) project.AddEdge(id, id % 5 + 1);
  Found found(project, {0});
  ASSERT_EQ(found.Faces(), (std::vector<Segments>{{{1, 2}, {2, 3}, {3, 4}, {4, 5}, {5, 1}}}));

  // Where the outline only touches the ray, at the bottom of a notch, it counts twice or not.
  project.graph.SetImagePoint(3, 0, {30, 0});
  project.graph.SetImagePoint(4, 0, {30, 10});
  project.graph.SetImagePoint(5, 0, {20, 5});
  EXPECT_TRUE(found.finder.IsOutlineInterior(*found.finder.faces.begin()));
}

// The scan as plainly described: after each accepted face it starts again from the first entry.
void PlainFindFaces(FaceFinder& finder, int p) {
  auto pixel = [&](std::int32_t id, Vec2& point) {
    ImagePoint image;
    const bool marked = finder.graph.GetImagePoint(id, p, image);
    point = {static_cast<double>(image.x), static_cast<double>(image.y)};
    return marked;
  };
  for (auto it = finder.adjacency.begin(); it != finder.adjacency.end();) {
    const auto [a, b] = *it;
    Face face{p, &finder.graph, {a, b}, {{a, b}}};
    std::int32_t prev = a, cur = b, next = 0;
    Vec2 pPrev, pCur, pNext;
    bool open = pixel(a, pPrev) && pixel(b, pCur), closed = false;
    while (open) {
      pixel(prev, pPrev);
      pixel(cur, pCur);
      double best = -1;
      for (auto [e, end] = finder.adjacency.equal_range(cur); e != end; ++e) {
        if (!pixel(e->second, pNext) || pNext == pPrev) continue;
        double d = (pPrev - pCur).Angle() - (pNext - pCur).Angle();
        if (d > TwoPi()) d -= TwoPi();
        if (d < 0) d += TwoPi();
        if (best < 0 || d < best) std::tie(best, next) = std::pair(d, e->second);
      }
      if (best < 0) break;
      face.segments.emplace(cur, next);
      prev = std::exchange(cur, next);
      closed = next == a;
      open = !closed && face.vertexIds.insert(next).second;
    }
    if (!closed || !finder.IsOutlineInterior(face) || !finder.IsBestView(face)) {
      ++it;
      continue;
    }
    for (const auto& [x, y] : face.segments) {
      auto [e, end] = finder.adjacency.equal_range(x);
      while (e != end && e->second != y) ++e;
      if (e != end) finder.adjacency.erase(e);
    }
    finder.faces.insert(face);
    it = finder.adjacency.begin();
  }
}

TEST(FaceFinderScanTest, SameFacesAndAdjacencyAsThePlainScan) {
  // Jittered grids with missing edges, random chords, self-loops and doubled edges, marked with
  // gaps in up to three photos at different scales.
  std::mt19937 random(20240611);
  auto below = [&](int n) { return static_cast<int>(random() % n); };
  std::size_t faces = 0;
  for (int scene = 0; scene < 3000; ++scene) {
    Project project;
    const int photos = 1 + below(3), side = 2 + below(4);
    std::vector<int> scale;
    for (int q = 0; q < photos; ++q) {
      project.AddPhoto();
      scale.push_back(3 + below(8));
    }
    for (int i = 0; i < side * side; ++i) {
      std::map<std::int32_t, ImagePoint> points;
      for (int q = 0; q < photos; ++q) {
        if (below(8) == 0) continue;
        points[q] = {i % side * scale[q] + below(5) - 2, i / side * scale[q] + below(5) - 2};
      }
      Mark(project, points);
    }
    auto& graph = project.graph;
    auto add = [&](std::int32_t a, std::int32_t b) {
      graph.edges[++graph.lastEdgeId] = below(2) ? model::Edge{a, b} : model::Edge{b, a};
    };
    for (int i = 1; i <= side * side; ++i) {
      if (i % side != 0 && below(8)) add(i, i + 1);
      if (i + side <= side * side && below(8)) add(i, i + side);
    }
    for (int k = below(2 * side); k > 0; --k) add(1 + below(side * side), 1 + below(side * side));

    FaceFinder fast(graph), plain(graph);
    fast.BuildAdjacency();
    plain.BuildAdjacency();
    auto rows = [](const FaceFinder& finder) {
      std::vector<std::tuple<int, std::set<std::int32_t>, Segments>> result;
      for (const Face& f : finder.faces) result.emplace_back(f.photo, f.vertexIds, f.segments);
      return result;
    };
    for (int p = 0; p < photos; ++p) {
      fast.FindFaces(p);
      PlainFindFaces(plain, p);
      ASSERT_EQ(Pairs(fast.adjacency.begin(), fast.adjacency.end()),
                Pairs(plain.adjacency.begin(), plain.adjacency.end()))
          << "scene " << scene << " photo " << p;
      ASSERT_EQ(rows(fast), rows(plain)) << "scene " << scene << " photo " << p;
    }
    faces += fast.faces.size();
  }
  EXPECT_GT(faces, 10000u);  // the scenes accept faces, not only reject traces
}

TEST(FaceFinderScanTest, AcceptedFacesPerPhotoAndAnAdjacencyChangedBetweenPhotos) {
  // Photos scanned in a random order, and before some of them an entry the plain scan would
  // see is taken out of both adjacencies from outside.
  std::mt19937 random(7031);
  auto below = [&](int n) { return static_cast<int>(random() % n); };
  std::size_t faces = 0;
  for (int scene = 0; scene < 1000; ++scene) {
    Project project;
    const int photos = 1 + below(4), side = 2 + below(5);
    for (int q = 0; q < photos; ++q) project.AddPhoto();
    for (int i = 0; i < side * side; ++i) {
      std::map<std::int32_t, ImagePoint> points;
      for (int q = 0; q < photos; ++q) {
        if (below(6) == 0) continue;
        const int scale = 4 + q * 3;
        points[q] = {i % side * scale + below(3) - 1, i / side * scale + below(3) - 1};
      }
      Mark(project, points);
    }
    for (int i = 1; i <= side * side; ++i) {
      if (i % side != 0 && below(8)) project.AddEdge(i, i + 1);
      if (i + side <= side * side && below(8)) project.AddEdge(i, i + side);
    }
    FaceFinder fast(project.graph), plain(project.graph);
    fast.BuildAdjacency();
    plain.BuildAdjacency();
    std::vector<int> order(static_cast<std::size_t>(photos));
    for (int q = 0; q < photos; ++q) order[static_cast<std::size_t>(q)] = q;
    std::shuffle(order.begin(), order.end(), random);
    for (int p : order) {
      if (below(3) == 0 && !fast.adjacency.empty()) {
        const auto k = static_cast<long>(below(static_cast<int>(fast.adjacency.size())));
        fast.adjacency.erase(std::next(fast.adjacency.begin(), k));
        plain.adjacency.erase(std::next(plain.adjacency.begin(), k));
      }
      fast.FindFaces(p);
      PlainFindFaces(plain, p);
      ASSERT_EQ(Pairs(fast.adjacency.begin(), fast.adjacency.end()),
                Pairs(plain.adjacency.begin(), plain.adjacency.end()))
          << "scene " << scene << " photo " << p;
      std::vector<const Face*> inPhoto;
      for (const Face& face : plain.faces) {
        if (face.photo == p) inPhoto.push_back(&face);
      }
      const auto accepted = fast.AcceptedFaces(p);
      ASSERT_EQ(accepted.size(), inPhoto.size()) << "scene " << scene << " photo " << p;
      for (std::size_t i = 0; i < accepted.size(); ++i) {
        EXPECT_EQ(accepted[i]->photo, p);
        EXPECT_EQ(accepted[i]->segments, inPhoto[i]->segments) << "scene " << scene;
      }
    }
    EXPECT_TRUE(fast.AcceptedFaces(photos).empty());
    faces += fast.faces.size();
  }
  EXPECT_GT(faces, 1000u);
}

}  // namespace
}  // namespace modrin::engine
