#include "mesh/mesh_builder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <vector>

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

TEST(BuildObjectPhotoMeshTest, VerticesFollowPixelsAndCarryNormalAndTexture) {
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
    EXPECT_EQ(vertex.nx, 0);
    EXPECT_EQ(vertex.ny, -1);
    EXPECT_EQ(vertex.nz, 0);
  }
  EXPECT_EQ(mesh.vertices()[3]->u, 0.5);
  EXPECT_EQ(mesh.vertices()[3]->v, 0.25);
}

}  // namespace
}  // namespace modrin::mesh
