#include "mesh/triangulation.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace modrin::mesh {
namespace {

using model::MeshHalfEdge;
using model::MeshTriangle;
using model::MeshVertex;
using model::ObjectPhotoMesh;
using Point = std::pair<std::int64_t, std::int64_t>;
using Segment = std::pair<int, int>;  // indices into the points

MeshVertex At(double x, double y) {
  MeshVertex vertex;
  vertex.x = x;
  vertex.y = y;
  return vertex;
}

// Twice the signed area of a, b, c; exact for the small integers of these tests.
std::int64_t Area2(const Point& a, const Point& b, const Point& c) {
  return (b.first - a.first) * (c.second - a.second) - (b.second - a.second) * (c.first - a.first);
}

Point PixelOf(const MeshVertex* vertex) {
  return {static_cast<std::int64_t>(vertex->x), static_cast<std::int64_t>(vertex->y)};
}

// Two counter-clockwise triangles of positive area share no interior point when some side of one
// has the whole other triangle on or right of it.
bool InteriorsMeet(const std::array<Point, 3>& s, const std::array<Point, 3>& t) {
  auto separates = [](const std::array<Point, 3>& side, const std::array<Point, 3>& other) {
    for (int k = 0; k < 3; ++k) {
      const Point& a = side[k];
      const Point& b = side[(k + 1) % 3];
      if (std::all_of(other.begin(), other.end(),
                      [&](const Point& p) { return Area2(a, b, p) <= 0; })) {
        return true;
      }
    }
    return false;
  };
  return !separates(s, t) && !separates(t, s);
}

// The side a - b lies on one of the constraint segments.
bool OnConstraint(const ObjectPhotoMesh& mesh, const Point& a, const Point& b) {
  for (const auto& [from, to] : mesh.constraints()) {
    const Point p = PixelOf(from), q = PixelOf(to);
    auto within = [&](const Point& r) {
      return Area2(p, q, r) == 0 && std::min(p.first, q.first) <= r.first &&
             r.first <= std::max(p.first, q.first) && std::min(p.second, q.second) <= r.second &&
             r.second <= std::max(p.second, q.second);
    };
    if (within(a) && within(b)) return true;
  }
  return false;
}

struct Scene {
  std::vector<Point> points;
  std::vector<Segment> segments;
  std::int64_t ringArea2 = -1;  // when set, the remaining triangles must cover exactly this
};

// Triangulates the scene and checks what must hold for any input. Returns the failure, if any.
std::string CheckTriangulation(const Scene& scene) {
  ObjectPhotoMesh mesh;
  std::vector<MeshVertex*> vertexOf;
  for (const auto& [x, y] : scene.points) {
    model::MeshVertexRecord record;
    record.x = static_cast<double>(x);
    record.y = static_cast<double>(y);
    vertexOf.push_back(mesh.AddVertex(record));
  }
  for (const auto& [a, b] : scene.segments) mesh.AddSegment(vertexOf[a], vertexOf[b]);
  Triangulate(mesh);

  if (mesh.enclosingCorners()[0]) return "enclosing corners left";
  const std::set<const MeshVertex*> vertices(mesh.vertices().begin(), mesh.vertices().end());
  std::vector<std::array<Point, 3>> shapes;
  for (const MeshTriangle& triangle : mesh.triangles()) {
    for (int k = 0; k < 3; ++k) {
      const MeshHalfEdge* edge = triangle.edges[k];
      if (!edge || edge->triangle != &triangle) return "triangle side not owned";
      if (edge->to != triangle.edges[(k + 1) % 3]->from) return "sides not chained";
      if (!vertices.contains(edge->from)) return "corner not a mesh vertex";
      if (ObjectPhotoMesh::FindHalfEdge(edge->from, edge->to) != edge) return "side not outgoing";
      if (edge->twin && (edge->twin->twin != edge || edge->twin->from != edge->to)) {
        return "twins not paired";
      }
    }
    shapes.push_back(
        {PixelOf(triangle.Corner(0)), PixelOf(triangle.Corner(1)), PixelOf(triangle.Corner(2))});
    const auto& [a, b, c] = shapes.back();
    if (Area2(a, b, c) < 0) return "clockwise triangle";
    for (int k = 0; k < 3; ++k) {
      const MeshHalfEdge* edge = triangle.edges[k];
      if ((!edge->twin || !edge->twin->triangle) &&
          !OnConstraint(mesh, PixelOf(edge->from), PixelOf(edge->to))) {
        return "triangle not closed in by constraints";
      }
    }
  }
  if (shapes.size() != mesh.triangleCount()) return "triangle count";
  for (const MeshVertex* vertex : vertices) {
    for (const auto& entry : vertex->outgoing) {
      if (!entry.edge->triangle) return "half-edge without triangle left";
    }
  }

  std::int64_t area2 = 0;
  for (std::size_t i = 0; i < shapes.size(); ++i) {
    const auto& [a, b, c] = shapes[i];
    area2 += Area2(a, b, c);
    if (Area2(a, b, c) == 0) continue;
    for (std::size_t j = 0; j < i; ++j) {
      const auto& [d, e, f] = shapes[j];
      if (Area2(d, e, f) > 0 && InteriorsMeet(shapes[i], shapes[j])) return "triangles overlap";
    }
  }
  if (scene.ringArea2 >= 0 && area2 != scene.ringArea2) {
    return "covered area " + std::to_string(area2) + " instead of " +
           std::to_string(scene.ringArea2);
  }
  return "";
}

void AddRing(Scene& scene, const std::vector<int>& ring) {
  for (std::size_t i = 0; i < ring.size(); ++i) {
    scene.segments.emplace_back(ring[i], ring[(i + 1) % ring.size()]);
  }
}

void AddRandomSegments(Scene& scene, std::mt19937& random, int count) {
  const int n = static_cast<int>(scene.points.size());
  std::uniform_int_distribution<int> pick(0, n - 1);
  for (int i = 0; i < count; ++i) scene.segments.emplace_back(pick(random), pick(random));
}

// Random point and segment sets, generic and degenerate.
Scene MakeScene(int kind, std::mt19937& random) {
  Scene scene;
  auto uniform = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random); };
  switch (kind) {
    case 0: {  // scattered points, crossing segments and a star-shaped ring
      const int n = uniform(0, 30);
      for (int i = 0; i < n; ++i) scene.points.emplace_back(uniform(0, 999), uniform(0, 999));
      if (n >= 3) {
        AddRandomSegments(scene, random, uniform(0, 8));
        std::vector<int> ring(static_cast<std::size_t>(uniform(3, n)));
        for (std::size_t i = 0; i < ring.size(); ++i) ring[i] = static_cast<int>(i);
        std::sort(ring.begin(), ring.end(), [&](int a, int b) {
          const Point& p = scene.points[a];
          const Point& q = scene.points[b];
          return std::atan2(p.second - 500.0, p.first - 500.0) <
                 std::atan2(q.second - 500.0, q.first - 500.0);
        });
        AddRing(scene, ring);
      }
      break;
    }
    case 1: {  // a small lattice: duplicates, collinear and cocircular points everywhere
      const int side = uniform(2, 7);
      const int n = uniform(3, 40);
      for (int i = 0; i < n; ++i) scene.points.emplace_back(uniform(0, side), uniform(0, side));
      AddRandomSegments(scene, random, uniform(0, 12));
      break;
    }
    case 2: {  // one line: horizontal, vertical or slanted
      const int n = uniform(3, 20);
      const int dx = uniform(0, 2), dy = dx == 0 ? 1 : uniform(0, 2);
      for (int i = 0; i < n; ++i) {
        const int t = uniform(-10, 10);
        scene.points.emplace_back(5 + dx * t, 7 + dy * t);
      }
      AddRandomSegments(scene, random, uniform(0, 10));
      break;
    }
    default: {  // a lattice triangle as a ring, with points inside, outside and on its sides
      const int side = uniform(2, 12);
      for (int i = 0; i < 3 + uniform(0, 20); ++i) {
        scene.points.emplace_back(uniform(0, side), uniform(0, side));
      }
      AddRing(scene, {0, 1, 2});
      const auto& p = scene.points;
      scene.ringArea2 = std::abs(Area2(p[0], p[1], p[2]));  // a flat ring encloses nothing
      break;
    }
  }
  return scene;
}

std::string Describe(const Scene& scene) {
  std::string text = "points";
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string.
  for (const auto& [x, y] : scene.points) {
    text += ' ';
    text += std::to_string(x);
    text += ',';
    text += std::to_string(y);
  }
  text += " segments";
  for (const auto& [a, b] : scene.segments) {
    text += ' ';
    text += std::to_string(a);
    text += '-';
    text += std::to_string(b);
  }
  return text;
}

TEST(TriangulateTest, RandomAndDegenerateInputsGiveCleanMeshes) {
  constexpr int kScenesPerKind = 1500;
  for (int kind = 0; kind < 4; ++kind) {
    for (int seed = 0; seed < kScenesPerKind; ++seed) {
      std::mt19937 random(static_cast<std::uint32_t>(kind * 100003 + seed));
      const Scene scene = MakeScene(kind, random);
      const std::string failure = CheckTriangulation(scene);
      ASSERT_EQ(failure, "") << "kind " << kind << " seed " << seed << ": " << Describe(scene);
    }
  }
}

TEST(TriangulateTest, CocircularPointsEnd) {
  // A square and the twelve lattice points of the circle of radius 5, each closed by a ring.
  Scene square{{{0, 0}, {10, 0}, {10, 10}, {0, 10}}, {{0, 1}, {1, 2}, {2, 3}, {3, 0}}, 200};
  EXPECT_EQ(CheckTriangulation(square), "");

  Scene circle;
  for (int x = -5; x <= 5; ++x) {
    for (int y = -5; y <= 5; ++y) {
      if (x * x + y * y == 25) circle.points.emplace_back(x, y);
    }
  }
  std::sort(circle.points.begin(), circle.points.end(), [](const Point& p, const Point& q) {
    return std::atan2(p.second, p.first) < std::atan2(q.second, q.first);
  });
  AddRing(circle, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  circle.ringArea2 = 2 * 74;  // the 10 x 10 square less four corners of 6.5
  EXPECT_EQ(CheckTriangulation(circle), "");
}

TEST(TriangulateTest, SegmentThroughVerticesIsKeptInPieces) {
  // The bottom side of the square passes through (5, 0) and (7, 0); the square stays whole.
  Scene scene{{{0, 0}, {10, 0}, {10, 10}, {0, 10}, {5, 0}, {7, 0}, {5, 5}},
              {{0, 1}, {1, 2}, {2, 3}, {3, 0}},
              200};
  EXPECT_EQ(CheckTriangulation(scene), "");
}

TEST(PredicatesTest, SidesCirclesAndFlatTriangles) {
  const MeshVertex a = At(0, 0), b = At(4, 0), c = At(0, 4);
  EXPECT_EQ(Orientation(a, b, At(1, 1)), kLeft);
  EXPECT_EQ(Orientation(a, b, At(1, -1)), kRight);
  EXPECT_EQ(Orientation(a, b, At(9, 0)), kOn);
  EXPECT_EQ(InCircle(At(1, 1), a, b, c), kInside);
  EXPECT_EQ(InCircle(At(4, 4), a, b, c), kOn);
  EXPECT_EQ(InCircle(At(5, 5), a, b, c), kOutside);

  ObjectPhotoMesh mesh;
  auto add = [&](double x, double y) {
    model::MeshVertexRecord record;
    record.x = x;
    record.y = y;
    return mesh.AddVertex(record);
  };
  const std::vector<MeshVertex*> v{add(0, 0), add(4, 0), add(2, 3), add(2, 0)};
  const MeshTriangle* proper = mesh.MakeTriangle(v[0], v[1], v[2]);
  EXPECT_EQ(InTriangle(*proper, At(2, 1)), kInside);
  EXPECT_EQ(InTriangle(*proper, At(2, 0)), kOn);
  EXPECT_EQ(InTriangle(*proper, At(2, -1)), kOutside);
  const MeshTriangle* flat = mesh.MakeTriangle(v[1], v[0], v[3]);
  EXPECT_EQ(InTriangle(*flat, At(3, 0)), kOn);
  EXPECT_EQ(InTriangle(*flat, At(6, 0)), kOutside);
}

// The mesh as its readers see it: every vertex's half-edges in order (end, constrained, twin,
// triangle) and the triangles' corners in collection order. A cached end index that differs
// from the end's own shows as well.
std::string DescribeMesh(const ObjectPhotoMesh& mesh) {
  std::string text;
  for (const MeshVertex* vertex : mesh.vertices()) {
    for (const auto& entry : vertex->outgoing) {
      const MeshHalfEdge& edge = *entry.edge;
      text += std::to_string(entry.to->index);
      if (entry.index != entry.to->index || edge.from != vertex || edge.to != entry.to) text += "!";
      if (edge.constrained) text += 'c';
      if (edge.twin) text += edge.twin->twin == &edge && edge.twin->from == edge.to ? "t" : "T!";
      if (edge.triangle) text += 'f';
      text += ' ';
    }
    text += '\n';
  }
  for (const MeshTriangle& triangle : mesh.triangles()) {
    for (int k = 0; k < 3; ++k) text += std::to_string(triangle.Corner(k)->index) + ' ';
    text += '\n';
  }
  return text;
}

// A flip made of the general operations: destroy both triangles, make the two new ones with
// their half-edges found or made, then destroy the old diagonal where nothing took it up.
MeshHalfEdge* PlainFlip(ObjectPhotoMesh& mesh, MeshTriangle* triangle, int k) {
  const MeshHalfEdge* across = triangle->edges[k]->twin;
  if (!across || !across->triangle || across->triangle == triangle) return nullptr;
  MeshTriangle* other = across->triangle;
  const int j = static_cast<int>(std::find(other->edges.begin(), other->edges.end(), across) -
                                 other->edges.begin());
  MeshVertex* b = triangle->edges[(k + 1) % 3]->from;
  MeshVertex* c = triangle->edges[(k + 2) % 3]->from;
  MeshVertex* a = other->edges[(j + 1) % 3]->from;
  MeshVertex* d = other->edges[(j + 2) % 3]->from;
  if (Orientation(*triangle->edges[(k + 1) % 3], *d) == kRight ||
      Orientation(*triangle->edges[(k + 2) % 3], *d) == kRight) {
    return nullptr;
  }
  const MeshHalfEdge* cd = ObjectPhotoMesh::FindHalfEdge(c, d);
  const MeshHalfEdge* dc = ObjectPhotoMesh::FindHalfEdge(d, c);
  if (c == d || (cd && cd->triangle) || (dc && dc->triangle)) return nullptr;
  mesh.DestroyTriangleKeepingSides(triangle);
  mesh.DestroyTriangleKeepingSides(other);
  MeshTriangle* first = mesh.MakeTriangle(c, d, b);
  mesh.MakeTriangle(d, c, a);
  for (MeshHalfEdge* old :
       {ObjectPhotoMesh::FindHalfEdge(a, b), ObjectPhotoMesh::FindHalfEdge(b, a)}) {
    if (old && !old->triangle) mesh.DestroyHalfEdge(old);
  }
  return first ? first->edges[0] : nullptr;
}

MeshTriangle* NthTriangle(const ObjectPhotoMesh& mesh, std::size_t n) {
  auto it = mesh.triangles().begin();
  for (; n > 0; --n) ++it;
  return &*it;
}

void Build(ObjectPhotoMesh& mesh, const Scene& scene) {
  std::vector<MeshVertex*> vertexOf;
  for (const auto& [x, y] : scene.points) {
    model::MeshVertexRecord record;
    record.x = static_cast<double>(x);
    record.y = static_cast<double>(y);
    vertexOf.push_back(mesh.AddVertex(record));
  }
  for (const auto& [a, b] : scene.segments) mesh.AddSegment(vertexOf[a], vertexOf[b]);
  Triangulate(mesh);
}

TEST(MeshOperationsTest, FlipsAndBulkRemovalLeaveWhatTheGeneralOperationsLeave) {
  // Two meshes built alike; one takes FlipEdge and DestroyTrianglesAndFreeHalfEdges, the other
  // the same steps made of the general operations. Half-edges made ahead of their triangles
  // between the flips stand for constraint segments.
  std::size_t flips = 0;
  for (int seed = 0; seed < 3000; ++seed) {
    std::mt19937 random(static_cast<std::uint32_t>(seed));
    const Scene scene = MakeScene(seed % 2 == 0 ? 0 : 3, random);
    ObjectPhotoMesh fast, plain;
    Build(fast, scene);
    Build(plain, scene);
    ASSERT_EQ(DescribeMesh(fast), DescribeMesh(plain)) << Describe(scene);
    const std::size_t n = fast.vertices().size();
    for (int step = 0; step < 30 && fast.triangleCount() > 0; ++step) {
      if (random() % 4 == 0 && n >= 2) {
        const std::size_t u = random() % n, v = random() % n;
        if (u == v) continue;
        fast.FindOrCreateHalfEdge(fast.vertices()[u], fast.vertices()[v]);
        plain.FindOrCreateHalfEdge(plain.vertices()[u], plain.vertices()[v]);
        continue;
      }
      const std::size_t t = random() % fast.triangleCount();
      const int k = static_cast<int>(random() % 3);
      const MeshHalfEdge* made = FlipEdge(fast, NthTriangle(fast, t), k);
      const MeshHalfEdge* expected = PlainFlip(plain, NthTriangle(plain, t), k);
      ASSERT_EQ(made != nullptr, expected != nullptr) << Describe(scene) << " step " << step;
      if (made) {
        ++flips;
        EXPECT_EQ(made->from->index, expected->from->index);
        EXPECT_EQ(made->to->index, expected->to->index);
      }
      ASSERT_EQ(DescribeMesh(fast), DescribeMesh(plain)) << Describe(scene) << " step " << step;
    }
    std::vector<bool> doomed(fast.triangleSlots(), false);
    std::vector<MeshTriangle*> doomedPlain;
    std::size_t t = 0;
    for (const MeshTriangle& triangle : fast.triangles()) {
      if (random() % 2 == 0) {
        doomed[triangle.slot()] = true;
        doomedPlain.push_back(NthTriangle(plain, t));
      }
      ++t;
    }
    fast.DestroyTrianglesAndFreeHalfEdges(doomed);
    for (MeshTriangle* triangle : doomedPlain) plain.DestroyTriangle(triangle);
    plain.DestroyFreeHalfEdges();
    ASSERT_EQ(DescribeMesh(fast), DescribeMesh(plain)) << Describe(scene);
  }
  EXPECT_GT(flips, 5000u);
}

}  // namespace
}  // namespace modrin::mesh
