#include "views3d/model_scene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

#include "engine/geometry/camera.h"
#include "images/camera_database.h"
#include "images/decoded_image.h"
#include "mesh/mesh_builder.h"
#include "model/object.h"
#include "model/object_photo_mesh.h"
#include "square_project.h"

namespace modrin::views3d {
namespace {

using testing::SquareProject;

// A box from its corners, centred between them.
ModelBox Box(std::array<double, 3> min, std::array<double, 3> max) {
  ModelBox box;
  box.min = min;
  box.max = max;
  for (int axis = 0; axis < 3; ++axis) box.center[axis] = (min[axis] + max[axis]) / 2;
  return box;
}

// Each side the next power of two, at most 1024.
TEST(TextureTest, SidesArePowersOfTwoUpTo1024) {
  const struct {
    int width, height, textureWidth, textureHeight;
  } cases[] = {
      {600, 400, 1024, 512}, {2000, 1500, 1024, 1024}, {512, 256, 512, 256}, {257, 1, 512, 1}};
  for (const auto& c : cases) {
    const TextureImage texture = MakeTexture(images::DecodedImage::Filled(c.width, c.height, 0));
    EXPECT_EQ(texture.width, c.textureWidth) << c.width;
    EXPECT_EQ(texture.height, c.textureHeight) << c.height;
  }
  EXPECT_TRUE(MakeTexture(images::DecodedImage{}).empty());
}

// A picture whose left half is red and whose bottom row is blue: the texture holds the bottom
// row first, in blue-green-red order, sampled at the nearest pixel.
TEST(TextureTest, RowsBottomUpInBlueGreenRedOrder) {
  images::DecodedImage picture = images::DecodedImage::Filled(6, 4, 0);
  for (int y = 0; y < 4; ++y) {
    for (int x = 0; x < 6; ++x) {
      auto* rgb = const_cast<std::uint8_t*>(picture.Pixel(x, y));
      rgb[0] = x < 3 ? 200 : 0;
      rgb[1] = static_cast<std::uint8_t>(10 * x);
      rgb[2] = y == 0 ? 150 : 0;
    }
  }
  const TextureImage texture = MakeTexture(picture);
  ASSERT_EQ(texture.width, 8);
  ASSERT_EQ(texture.height, 4);
  auto texel = [&](int x, int y) {
    const std::uint8_t* bgr = &texture.bgr[(static_cast<std::size_t>(y) * 8 + x) * 3];
    return std::array<int, 3>{bgr[0], bgr[1], bgr[2]};
  };
  EXPECT_EQ(texel(0, 0), (std::array<int, 3>{150, 0, 200}));
  EXPECT_EQ(texel(7, 3), (std::array<int, 3>{0, 50, 0}));
  // Texel 3 of 8 has its centre at 3.5 / 8 of the width: column 2 of 6, still red.
  EXPECT_EQ(texel(3, 1)[2], 200);
  EXPECT_EQ(texel(4, 1)[2], 0);
}

// The unit square in the x-z plane (y = 0), marked in photo 0 only, in two objects: each
// current object's triangles in object order.
TEST(ArraysTest, CornersInViewAxesAroundTheBoxCentre) {
  SquareProject square({"A", "B"});
  mesh::UpdateModelWithMeshes(square.project);
  std::vector<PhotoDrawEntry> entries = CreateEntries(square.project);
  ASSERT_EQ(entries.size(), 2u);
  const ModelBox box = BuildArrays(square.project, entries);
  EXPECT_EQ(box.center, (std::array<double, 3>{0.5, 0, 0.5}));

  const model::ObjectPhotoMesh& mesh = *square.project.objects[0]->photoMeshes[0];
  ASSERT_EQ(entries[0].vertices.size(), 2 * 3 * mesh.triangleCount());
  const DrawVertex* d = entries[0].vertices.data();
  for (const model::MeshTriangle& triangle : mesh.triangles()) {
    for (int corner = 0; corner < 3; ++corner, ++d) {
      const model::MeshVertex& v = *triangle.Corner(corner);
      EXPECT_FLOAT_EQ(d->s, static_cast<float>(v.u));
      EXPECT_FLOAT_EQ(d->t, static_cast<float>(v.v));
      EXPECT_FLOAT_EQ(d->x, static_cast<float>(v.x - 0.5));
      EXPECT_FLOAT_EQ(d->y, static_cast<float>(v.z - 0.5));
      EXPECT_FLOAT_EQ(d->z, static_cast<float>(-v.y));
      // The square's normal, (0, -1, 0) toward the side its marks show, faces the eye.
      EXPECT_EQ((std::array<float, 3>{d->nx, d->ny, d->nz}), (std::array<float, 3>{0, 0, 1}));
    }
  }

  // Entries past the project's photos (a photo added since the textures were made) stay empty.
  entries.resize(1);
  BuildArrays(square.project, entries);
  EXPECT_EQ(entries[0].vertices.size(), 2 * 3 * mesh.triangleCount());
  // Objects that are not current are not drawn; with none left the box keeps its extremes.
  for (auto& object : square.project.objects) object->current = false;
  EXPECT_TRUE(BuildArrays(square.project, entries).empty());
  EXPECT_EQ(entries[0].vertices.size(), 0u);
}

// The square with photo 0's camera calibrated two units in front of it: a dot per position
// (all typed, so all control points), coloured by its error or grey without one; a pyramid for
// the calibrated camera only, whose base corners lie on the rays of the photo's corners, in
// front of the camera, a tenth of the scene's size away; the box takes in both. Without
// markers the box is the meshes' alone.
TEST(ArraysTest, PointsAndCamerasAreDrawnWhereTheyAre) {
  SquareProject square({"A"});
  mesh::UpdateModelWithMeshes(square.project);
  const images::CameraEntry sensor{"test", 0.0064, 0.0048};
  engine::CameraRecord& camera = square.project.photos[0]->camera;
  camera.calibrated = true;
  camera.cameraEntry = &sensor;
  camera.focal = 0.008;
  camera.translation = {0.5, -2, 0.5};
  camera.orientation = {0, 0, 0};
  // The pose is taken as given; the test needs the camera to look at the square.
  ASSERT_TRUE(engine::WorldToImage(camera, {0.5, 0, 0.5}).inFront);

  std::vector<PhotoDrawEntry> entries = CreateEntries(square.project);
  SceneMarkers markers;
  MarkerOptions options;
  const std::int32_t first = square.project.graph.positions.begin()->first;
  options.largestError_px[first] = 6;
  options.highlightedPhotos = {0};
  const ModelBox box = BuildArrays(square.project, entries, &markers, options);
  ASSERT_EQ(markers.points.size(), 4u);
  EXPECT_TRUE(markers.points[0].control);
  EXPECT_EQ(markers.points[0].colour, ErrorColour(6));
  EXPECT_EQ(markers.points[1].colour, (std::array<std::uint8_t, 3>{150, 150, 150}));
  ASSERT_EQ(markers.cameras.size(), 1u);
  const MarkerCamera& drawn = markers.cameras[0];
  EXPECT_TRUE(drawn.highlighted);
  // Back from the view's axes into the world.
  auto world = [&](const std::array<float, 3>& p) {
    return engine::Vec3{p[0] + box.center[0], -p[2] + box.center[1], p[1] + box.center[2]};
  };
  EXPECT_NEAR(world(drawn.apex).y, -2, 1e-5);
  EXPECT_LE(box.min[1], -2);                // the camera is in the box
  const double sceneSize = std::sqrt(2.0);  // the square's diagonal
  const double corners[4][2] = {{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}};
  for (std::size_t k = 0; k < 4; ++k) {
    const engine::ImageProjection seen = engine::WorldToImage(camera, world(drawn.base[k]));
    EXPECT_TRUE(seen.inFront) << k;
    EXPECT_NEAR(seen.image.x, corners[k][0], 1e-5) << k;
    EXPECT_NEAR(seen.image.y, corners[k][1], 1e-5) << k;
  }
  const engine::Vec3 baseCentre = (world(drawn.base[0]) + world(drawn.base[2])) / 2;
  EXPECT_NEAR(std::sqrt((baseCentre - world(drawn.apex)).SquaredLength()), sceneSize / 10, 1e-5);

  options.cameras = false;
  options.points = false;
  EXPECT_EQ(BuildArrays(square.project, entries, &markers, options).min[1], 0);
  EXPECT_TRUE(markers.points.empty() && markers.cameras.empty());
}

// Green below one pixel, yellow at three, red from five on.
TEST(ArraysTest, ErrorColoursRunFromGreenToRed) {
  using Rgb = std::array<std::uint8_t, 3>;
  const struct {
    double error;
    Rgb colour;
  } cases[] = {
      {0, {0, 200, 0}}, {1, {0, 200, 0}}, {3, {220, 200, 0}}, {5, {220, 0, 0}}, {50, {220, 0, 0}}};
  for (const auto& c : cases) EXPECT_EQ(ErrorColour(c.error), c.colour) << c.error;
}

// A photo whose picture did not load, or is known only by its size, gets no texture; its
// meshes are empty, so it draws nothing.
TEST(ArraysTest, PhotoWithoutPictureHasNoTexture) {
  SquareProject square({"A"});
  square.project.photos[1]->levels.clear();
  square.project.photos[0]->levels.front()->pixels.clear();
  mesh::UpdateModelWithMeshes(square.project);
  std::vector<PhotoDrawEntry> entries = CreateEntries(square.project);
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_TRUE(entries[0].texture.empty());
  EXPECT_TRUE(entries[1].texture.empty());
  BuildArrays(square.project, entries);
  EXPECT_TRUE(entries[1].vertices.empty());
}

// Unturned, the box's front face fills kFitShare of the view: its height decides in a square
// view, its width in a narrow one. Turned, every corner keeps within that share, and one
// reaches it. The depth range brackets the box.
TEST(FitTest, BoxFillsItsShareOfTheViewAndDepthRangeBracketsTheBox) {
  const ModelBox box = Box({-1, -0.5, -2}, {1, 0.5, 2});
  const double t = std::tan(22.5 * std::numbers::pi / 180) * kFitShare;
  const ViewPose unturned;
  EXPECT_FLOAT_EQ(FitDistance(box, unturned, 45, 1.0), static_cast<float>(-2 / t - 0.5));
  EXPECT_FLOAT_EQ(FitDistance(box, unturned, 45, 0.25), static_cast<float>(-1 / (0.25 * t) - 0.5));

  for (const ViewPose& turn : {ViewPose{30, -30, 0}, ViewPose{-90, 200, 15}, ViewPose{5, 91, 0}}) {
    const float zDist = FitDistance(box, turn, 45, 1.5);
    double widest = 0;
    for (int corner = 0; corner < 8; ++corner) {
      const double x = corner & 1 ? 1 : -1, y = corner & 2 ? 0.5 : -0.5, z = corner & 4 ? 2 : -2;
      const auto [vx, vy, vz] = Turned(turn, {x, z, -y});
      const double depth = -(vz + zDist);
      widest = std::max({widest, std::abs(vx) / (depth * 1.5 * t), std::abs(vy) / (depth * t)});
    }
    EXPECT_NEAR(widest, 1, 1e-6) << turn.rotX << " " << turn.rotY;
  }

  Projection projection;
  const float zDist = FitDistance(box, unturned, 45, 1.0);
  SetDepthRange(box, zDist, projection);
  EXPECT_NEAR(projection.zNear, (-0.5 - zDist) * 0.1, 1e-6);
  EXPECT_NEAR(projection.zFar, (0.5 - zDist) * 10.0, 1e-6);

  // A box of one point, or none, still gives a depth range OpenGL accepts.
  const ModelBox point = Box({3, 3, 3}, {3, 3, 3});
  SetDepthRange(point, FitDistance(point, unturned, 45, 1.0), projection);
  EXPECT_GT(projection.zNear, 0);
  EXPECT_GT(projection.zFar, projection.zNear);
  SetDepthRange(ModelBox{}, -10, projection);
  EXPECT_EQ(projection.zNear, 0.1);
  EXPECT_EQ(projection.zFar, 100.0);
}

// After a model update the view is fitted again only when the model no longer fits the view
// as it was last fitted, in a view twice as wide as high.
TEST(FitTest, RefitOnlyWhenTheBoxOutgrowsTheFit) {
  const ModelBox fitted = Box({0, 0, 0}, {8, 6, 3});
  const struct {
    const char* what;
    ModelBox box;
    bool refit;
  } cases[] = {
      {"the same box", fitted, false},
      {"the same box moved", Box({5, -2, 1}, {13, 4, 4}), false},
      {"smaller", Box({1, 1, 0}, {7, 5, 2}), false},
      {"nothing left to show", ModelBox{}, false},
      {"wider", Box({0, 0, 0}, {9, 6, 3}), true},
      {"deeper", Box({0, -1, 0}, {8, 6, 3}), true},
      {"taller, beyond the width's share", Box({0, 0, 0}, {8, 6, 5}), true},
      {"taller, within the width's share", Box({0, 0, 0}, {8, 6, 3.5}), false},
  };
  const ViewPose unturned;
  for (const auto& c : cases) {
    EXPECT_EQ(OutgrowsFit(fitted, c.box, unturned, 45, 2.0), c.refit) << c.what;
  }
  // A fit made before there was anything to show shows nothing of a model that appears.
  EXPECT_TRUE(OutgrowsFit(ModelBox{}, fitted, unturned, 45, 2.0));
  EXPECT_FALSE(OutgrowsFit(ModelBox{}, ModelBox{}, unturned, 45, 2.0));
}

}  // namespace
}  // namespace modrin::views3d
