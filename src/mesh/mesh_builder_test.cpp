#include "mesh/mesh_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "engine/face_finder.h"
#include "grid_project.h"
#include "model/project.h"

namespace modrin::mesh {
namespace {

using model::ImagePoint;
using model::MeshTriangle;
using model::MeshVertex;
using model::ObjectPhotoMesh;
using model::PositionGraph;
using Coords = PositionGraph::Coords;

constexpr int kWidth = 800;
constexpr int kHeight = 600;

// A project with `photos` pictures of kWidth x kHeight and one object.
struct Scene {
  explicit Scene(int photos) {
    for (int p = 0; p < photos; ++p) {
      project.AddPhoto().levels.push_back(std::make_unique<images::DecodedImage>(
          images::DecodedImage::Filled(kWidth, kHeight, 128)));
    }
    object = &project.AddObject("Object");
  }

  // A position of the object marked at `points` (photo index -> pixel), with real coordinates
  // when given.
  std::int32_t Mark(const std::map<int, ImagePoint>& points, std::optional<Coords> coords) {
    std::int32_t id = -1;
    project.graph.NewPosition(id);
    for (const auto& [photo, point] : points) project.graph.SetImagePoint(id, photo, point);
    if (coords) project.graph.SetRealCoords(id, *coords);
    object->AddPosition(id);
    return id;
  }

  // Joins the positions into a closed ring of edges.
  void Ring(const std::vector<std::int32_t>& ids) {
    for (std::size_t i = 0; i < ids.size(); ++i) project.AddEdge(ids[i], ids[(i + 1) % ids.size()]);
  }

  const ObjectPhotoMesh& Mesh(int photo) const { return *object->photoMeshes[photo]; }

  model::Project project;
  model::Object* object = nullptr;
};

std::vector<Coords> WorldCoords(const ObjectPhotoMesh& mesh) {
  std::vector<Coords> coords;
  for (const MeshVertex* vertex : mesh.vertices())
    coords.push_back({vertex->x, vertex->y, vertex->z});
  return coords;
}

// Twice the signed pixel area of a triangle, recovered from its texture coordinates.
double PixelArea2(const MeshTriangle& triangle) {
  std::array<std::array<double, 2>, 3> p{};
  for (int k = 0; k < 3; ++k)
    p[k] = {triangle.Corner(k)->u * kWidth, triangle.Corner(k)->v * kHeight};
  return (p[1][0] - p[0][0]) * (p[2][1] - p[0][1]) - (p[1][1] - p[0][1]) * (p[2][0] - p[0][0]);
}

TEST(BuildObjectPhotoMeshTest, FourCornerFaceGivesTwoTexturedTriangles) {
  Scene scene(1);
  const std::vector<ImagePoint> pixels{{100, 100}, {500, 120}, {480, 500}, {120, 460}};
  const std::vector<Coords> world{{0, 0, 0}, {4, 0, 0}, {4, 0, 3}, {0, 0, 3}};
  std::vector<std::int32_t> ids;
  for (int i = 0; i < 4; ++i) ids.push_back(scene.Mark({{0, pixels[i]}}, world[i]));
  scene.Ring(ids);

  UpdateModelWithMeshes(scene.project);

  const ObjectPhotoMesh& mesh = scene.Mesh(0);
  // Vertex order is pixel x, then y: (100, 100), (120, 460), (480, 500), (500, 120).
  EXPECT_EQ(WorldCoords(mesh), (std::vector<Coords>{world[0], world[3], world[2], world[1]}));
  ASSERT_EQ(mesh.triangleCount(), 2u);
  double area2 = 0;
  for (const MeshTriangle& triangle : mesh.triangles()) {
    EXPECT_GT(PixelArea2(triangle), 0);
    area2 += PixelArea2(triangle);
    for (int k = 0; k < 3; ++k) {
      const MeshVertex& corner = *triangle.Corner(k);
      const int i = static_cast<int>(
          std::find(world.begin(), world.end(), Coords{corner.x, corner.y, corner.z}) -
          world.begin());
      ASSERT_LT(i, 4);
      EXPECT_DOUBLE_EQ(corner.u, pixels[i].x / double{kWidth});
      EXPECT_DOUBLE_EQ(corner.v, pixels[i].y / double{kHeight});
    }
  }
  // Together they cover the quadrilateral (twice its area by the shoelace formula).
  EXPECT_NEAR(area2, 281200, 1e-6);
}

TEST(BuildObjectPhotoMeshTest, FaceSeenLargerInAnotherPhotoIsMeshedThereOnly) {
  Scene scene(2);
  // In photo 1 the corners make a square, four points on one circle.
  scene.Ring({scene.Mark({{0, {10, 10}}, {1, {100, 100}}}, Coords{0, 0, 0}),
              scene.Mark({{0, {60, 10}}, {1, {400, 100}}}, Coords{1, 0, 0}),
              scene.Mark({{0, {60, 50}}, {1, {400, 400}}}, Coords{1, 0, 1}),
              scene.Mark({{0, {10, 50}}, {1, {100, 400}}}, Coords{0, 0, 1})});

  UpdateModelWithMeshes(scene.project);

  EXPECT_EQ(scene.Mesh(0).vertices().size(), 4u);
  EXPECT_EQ(scene.Mesh(0).triangleCount(), 0u);
  EXPECT_EQ(scene.Mesh(1).vertices().size(), 4u);
  EXPECT_EQ(scene.Mesh(1).triangleCount(), 2u);
}

TEST(BuildObjectPhotoMeshTest, LeavesOutUnknownAndHiddenPositionsAndSharedPixels) {
  Scene scene(3);
  scene.Mark({{0, {10, 10}}}, Coords{1, 2, 3});
  scene.Mark({{0, {10, 10}}, {2, {5, 5}}}, Coords{7, 8, 9});  // same pixel in photo 0, later id
  scene.Mark({{0, {50, 20}}}, std::nullopt);                  // not known
  scene.Mark({{1, {30, 40}}}, Coords{0, 0, 0});               // not in photo 0
  scene.Mark({{0, {60, 70}}, {2, {6, 6}}}, Coords{4, 5, 6});
  scene.project.photos[2]->levels.clear();  // no picture, so no texture

  UpdateModelWithMeshes(scene.project);

  EXPECT_EQ(WorldCoords(scene.Mesh(0)), (std::vector<Coords>{{1, 2, 3}, {4, 5, 6}}));
  EXPECT_EQ(scene.Mesh(0).triangleCount(), 0u);
  EXPECT_EQ(scene.Mesh(1).vertices().size(), 1u);
  EXPECT_EQ(scene.Mesh(2).vertices().size(), 0u);
}

TEST(BuildObjectPhotoMeshTest, VerticesFollowPixelsAndCarryTexture) {
  Scene scene(1);
  // World coordinates fall while pixels rise, so only the pixel order can give this result.
  scene.Mark({{0, {300, 200}}}, Coords{1, 1, 1});
  scene.Mark({{0, {kWidth / 2, kHeight / 4}}}, Coords{2, 2, 2});
  scene.Mark({{0, {300, 100}}}, Coords{3, 3, 3});
  scene.Mark({{0, {20, 500}}}, Coords{4, 4, 4});

  UpdateModelWithMeshes(scene.project);

  const ObjectPhotoMesh& mesh = scene.Mesh(0);
  EXPECT_EQ(WorldCoords(mesh), (std::vector<Coords>{{4, 4, 4}, {3, 3, 3}, {1, 1, 1}, {2, 2, 2}}));
  for (std::size_t i = 0; i < mesh.vertices().size(); ++i) {
    const MeshVertex& vertex = *mesh.vertices()[i];
    EXPECT_EQ(vertex.index, static_cast<int>(i));
  }
  EXPECT_EQ(mesh.vertices()[3]->u, 0.5);
  EXPECT_EQ(mesh.vertices()[3]->v, 0.25);
}

// The quadrilateral of the first test, its corners in the plane y = 0 or, where the face has
// collapsed, on one line (steps that are not exact in binary, so the sides' cross product is
// rounding noise, not zero). A calibrated photo's normals face its camera's centre; an
// uncalibrated one's follow the corners' turn in the photo, which these marks give as a camera
// on the -y side would. A triangle on one line faces the camera, or points up.
TEST(BuildObjectPhotoMeshTest, TriangleNormalsFaceThePhotosCamera) {
  const std::vector<ImagePoint> pixels{{100, 100}, {500, 120}, {480, 500}, {120, 460}};
  const std::vector<Coords> wall{{0, 0, 0}, {4, 0, 0}, {4, 0, 3}, {0, 0, 3}};
  std::vector<Coords> line;
  for (int i = 0; i < 4; ++i) line.push_back({0.1 * i, 0.7 * i, 0.3 * i});
  const engine::Vec3 front{2, -10, 1.5}, back{2, 10, 1.5};
  const struct {
    const char* what;
    const std::vector<Coords>& world;
    std::optional<engine::Vec3> camera;  // the calibrated camera's centre
    std::optional<engine::Vec3> normal;  // unset: toward the camera from the triangle's centre
  } cases[] = {
      {"camera in front", wall, front, engine::Vec3{0, -1, 0}},
      {"camera behind the marks' side", wall, back, engine::Vec3{0, 1, 0}},
      {"not calibrated", wall, std::nullopt, engine::Vec3{0, -1, 0}},
      {"on one line", line, front, std::nullopt},
      {"on one line, not calibrated", line, std::nullopt, engine::Vec3{0, 0, 1}},
  };
  for (const auto& c : cases) {
    Scene scene(1);
    engine::CameraRecord& camera = scene.project.photos[0]->camera;
    camera.calibrated = c.camera.has_value();
    if (c.camera) camera.translation = *c.camera;
    std::vector<std::int32_t> ids;
    for (int i = 0; i < 4; ++i) ids.push_back(scene.Mark({{0, pixels[i]}}, c.world[i]));
    scene.Ring(ids);

    UpdateModelWithMeshes(scene.project);

    ASSERT_EQ(scene.Mesh(0).triangleCount(), 2u) << c.what;
    for (const MeshTriangle& triangle : scene.Mesh(0).triangles()) {
      engine::Vec3 expected;
      if (c.normal) {
        expected = *c.normal;
      } else {
        engine::Vec3 centre;
        for (int k = 0; k < 3; ++k) {
          const MeshVertex& corner = *triangle.Corner(k);
          centre = centre + engine::Vec3{corner.x, corner.y, corner.z} / 3;
        }
        const engine::Vec3 toCamera = *c.camera - centre;
        expected = toCamera / std::sqrt(toCamera.SquaredLength());
      }
      for (int axis = 0; axis < 3; ++axis) {
        const double want[3] = {expected.x, expected.y, expected.z};
        EXPECT_NEAR(triangle.normal[axis], want[axis], 1e-12) << c.what << ", axis " << axis;
      }
    }
  }
}

// Everything a reader can see of the meshes of every object, in reading order: each vertex's
// fields and its half-edges (end, constrained, twin, triangle), then the triangles' corners in
// collection order, with their normals unless left out.
std::string Describe(const model::Project& project, bool normals = true) {
  std::string text;
  auto add = [&](double value) {
    text += std::to_string(std::bit_cast<std::uint64_t>(value)) + ' ';
  };
  for (const auto& object : project.objects) {
    for (const auto& mesh : object->photoMeshes) {
      text += "mesh " + std::to_string(mesh->vertices().size()) + '\n';
      for (const MeshVertex* vertex : mesh->vertices()) {
        for (double value : {vertex->x, vertex->y, vertex->z, vertex->u, vertex->v}) add(value);
        for (const auto& entry : vertex->outgoing) {
          text += std::to_string(entry.to->index) + (entry.edge->constrained ? "c" : "") +
                  (entry.edge->twin ? "t" : "") + (entry.edge->triangle ? "f " : " ");
        }
        text += '\n';
      }
      for (const MeshTriangle& triangle : mesh->triangles()) {
        for (int k = 0; k < 3; ++k) text += std::to_string(triangle.Corner(k)->index) + ' ';
        if (normals) {
          for (double value : triangle.normal) add(value);
        }
        text += '\n';
      }
    }
  }
  return text;
}

std::uint64_t Fnv1a(const std::string& text) {
  std::uint64_t hash = 14695981039346656037ull;
  for (unsigned char c : text) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

// Random projects: jittered grids of positions marked with gaps in up to four photos at
// different scales (some sparse), some photos without a picture, some positions unknown or sharing
// a pixel, grid edges with gaps, diagonals and random chords; one object with most positions,
// others with a few or with half of them, and ids of positions that do not exist.
void FillRandomProject(model::Project& project, std::mt19937& random) {
  auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
  const int photos = 1 + below(4), side = 2 + below(below(5) == 0 ? 16 : 7);
  std::vector<int> scale, gaps;
  for (int p = 0; p < photos; ++p) {
    gaps.push_back(below(3) == 0 ? 2 : 8);  // a sparse photo marks one in five positions
    model::Photo& photo = project.AddPhoto();
    if (below(6) != 0) {
      photo.levels.push_back(std::make_unique<images::DecodedImage>(
          images::DecodedImage::Filled(64 + below(900), 48 + below(900), 128)));
    }
    scale.push_back(1 + below(9));
  }
  std::vector<model::Object*> objects;
  for (int k = 1 + below(3); k > 0; --k) {
    objects.push_back(&project.AddObject("Object " + std::to_string(k)));
  }
  auto& graph = project.graph;
  for (int i = 0; i < side * side; ++i) {
    std::int32_t id = -1;
    graph.NewPosition(id);
    for (int p = 0; p < photos; ++p) {
      if (gaps[p] == 8 ? below(8) == 0 : below(5) != 0) continue;
      graph.SetImagePoint(
          id, p, {i % side * scale[p] + below(5) - 2 + 7 * p, i / side * scale[p] + below(5) - 2});
    }
    if (below(10) != 0) graph.SetRealCoords(id, {0.25 * (i % side), 0.5 * below(3), 0.25 * i});
    for (std::size_t k = 0; k < objects.size(); ++k) {
      const int share = k == 0 ? 10 : k == 1 ? 2 : 25;  // most, half, a few
      if (k == 0 ? below(share) != 0 : below(share) == 0) objects[k]->AddPosition(id);
    }
  }
  objects.back()->AddPosition(side * side + 5);  // no such position
  auto join = [&](std::int32_t a, std::int32_t b) {
    graph.edges[++graph.lastEdgeId] = below(2) ? model::Edge{a, b} : model::Edge{b, a};
  };
  for (int i = 1; i <= side * side; ++i) {
    if (i % side != 0 && below(8)) join(i, i + 1);
    if (i + side <= side * side && below(8)) join(i, i + side);
    if (i % side != 0 && i + side <= side * side && below(6) == 0) join(i, i + side + 1);
  }
  for (int k = below(2 * side); k > 0; --k) join(1 + below(side * side), 1 + below(side * side));
}

TEST(UpdateModelWithMeshesTest, SameMeshesAsBuildingEachObjectFromTheFinder) {
  std::mt19937 random(20261207);
  std::size_t triangles = 0;
  for (int scene = 0; scene < 300; ++scene) {
    model::Project project;
    FillRandomProject(project, random);
    UpdateModelWithMeshes(project, 1);
    const std::string update = Describe(project);
    // Again on the same meshes, and with the meshes built beside the face finding: what a
    // rebuild keeps from the last one and which thread builds a mesh must not show.
    UpdateModelWithMeshes(project, 1);
    ASSERT_EQ(Describe(project), update) << "scene " << scene;
    UpdateModelWithMeshes(project, 3);
    ASSERT_EQ(Describe(project), update) << "scene " << scene;

    engine::FaceFinder finder(project.graph);
    finder.BuildAdjacency();
    for (int p = 0; p < static_cast<int>(project.photos.size()); ++p) {
      finder.FindFaces(p);
      for (auto& object : project.objects) BuildObjectPhotoMesh(*object, p, finder.faces);
    }
    ASSERT_EQ(Describe(project), update) << "scene " << scene;
    for (const auto& object : project.objects) {
      for (const auto& mesh : object->photoMeshes) triangles += mesh->triangleCount();
    }
  }
  EXPECT_GT(triangles, 3000u);  // the scenes make meshes, not only vertices
}

TEST(UpdateModelWithMeshesTest, LargeGridGivesTheMeshesItAlwaysGave) {
  // A 45 x 45 grid of quads in 20 photos, each showing a 30 x 30 window at its own scale and
  // offset with a pixel or two of jitter and a few positions unmarked (the benchmark's project).
  // The fingerprint was taken with the builder before it was made faster; any change in a
  // vertex, a half-edge or the order of the triangles changes it. The triangles' normals came
  // later and are left out of it.
  model::Project project;
  testing::FillProject(project);

  for (int threads : {1, 2}) {
    EXPECT_EQ(UpdateModelWithMeshes(project, threads), 1827u);
    EXPECT_EQ(Fnv1a(Describe(project, false)), 1655660052877182139ull) << threads << " threads";
  }
}

}  // namespace
}  // namespace modrin::mesh
