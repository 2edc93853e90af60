#include "views3d/model_scene.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

#include "engine/geometry/camera.h"
#include "images/decoded_image.h"
#include "model/object.h"
#include "model/object_photo_mesh.h"
#include "model/project.h"

namespace modrin::views3d {

namespace {

constexpr int kLargestTextureSide = 1024;

constexpr double kRadiansPerDegree = std::numbers::pi / 180;

// Turns the pair (a, b) by `degrees` from a toward b.
void Rotate(double& a, double& b, float degrees) {
  const double c = std::cos(degrees * kRadiansPerDegree), s = std::sin(degrees * kRadiansPerDegree);
  const double turnedA = a * c - b * s;
  b = a * s + b * c;
  a = turnedA;
}

// The meshes drawn for photo `photo`: every current object's, in object order.
template <typename Visit>
void ForEachTriangle(const model::Project& project, std::size_t photo, Visit visit) {
  for (const auto& object : project.objects) {
    if (!object->current || photo >= object->photoMeshes.size()) continue;
    const model::ObjectPhotoMesh* mesh = object->photoMeshes[photo].get();
    if (mesh == nullptr) continue;
    for (const model::MeshTriangle& triangle : mesh->triangles()) visit(triangle);
  }
}

}  // namespace

int TextureSide(int pictureSide) {
  int side = 1;
  while (side < pictureSide && side < kLargestTextureSide) side *= 2;
  return side;
}

TextureImage MakeTexture(const images::DecodedImage& picture) {
  TextureImage texture;
  // A picture known only by its size has no pixels to show.
  if (!picture.IsValid() || picture.pixels.size() < picture.stride() * picture.height) {
    return texture;
  }
  texture.width = TextureSide(picture.width);
  texture.height = TextureSide(picture.height);
  texture.bgr.resize(static_cast<std::size_t>(texture.width) * texture.height * 3);
  // The source column of each texture column, taken at the texel's centre.
  std::vector<int> columns(static_cast<std::size_t>(texture.width));
  for (int x = 0; x < texture.width; ++x) {
    columns[static_cast<std::size_t>(x)] = static_cast<int>((2 * static_cast<std::int64_t>(x) + 1) *
                                                            picture.width / (2 * texture.width));
  }
  std::uint8_t* out = texture.bgr.data();
  for (int y = 0; y < texture.height; ++y) {
    const int row = static_cast<int>((2 * static_cast<std::int64_t>(y) + 1) * picture.height /
                                     (2 * texture.height));
    for (const int column : columns) {
      const std::uint8_t* rgb = picture.Pixel(column, row);
      out[0] = rgb[2];
      out[1] = rgb[1];
      out[2] = rgb[0];
      out += 3;
    }
  }
  return texture;
}

std::vector<PhotoDrawEntry> CreateEntries(const model::Project& project) {
  std::vector<PhotoDrawEntry> entries(project.photos.size());
  for (std::size_t i = 0; i < project.photos.size(); ++i) {
    const model::Photo& photo = *project.photos[i];
    if (photo.HasImage()) entries[i].texture = MakeTexture(photo.image());
  }
  return entries;
}

namespace {

using World = std::array<double, 3>;

void Widen(ModelBox& box, const World& point) {
  for (int axis = 0; axis < 3; ++axis) {
    box.min[axis] = std::min(box.min[axis], point[axis]);
    box.max[axis] = std::max(box.max[axis], point[axis]);
  }
}

double Diagonal(const ModelBox& box) {
  if (box.empty()) return 0;
  const double dx = box.max[0] - box.min[0], dy = box.max[1] - box.min[1],
               dz = box.max[2] - box.min[2];
  return std::sqrt(dx * dx + dy * dy + dz * dz);
}

// The model's z axis points up on the screen and its y axis into the screen.
std::array<float, 3> ViewAxes(const World& p, const World& c) {
  return {static_cast<float>(p[0] - c[0]), static_cast<float>(p[2] - c[2]),
          static_cast<float>(-(p[1] - c[1]))};
}

// The positions whose three coordinates are known, in id order.
template <typename Visit>
void ForEachKnownPosition(const model::Project& project, Visit visit) {
  for (const auto& [id, position] : project.graph.positions) {
    model::PositionGraph::Coords xyz;
    if (project.graph.GetCoords(id, xyz)) visit(id, position, xyz);
  }
}

// The photos whose camera can be drawn: calibrated, with a sensor to give its frame.
template <typename Visit>
void ForEachDrawnCamera(const model::Project& project, Visit visit) {
  for (std::size_t i = 0; i < project.photos.size(); ++i) {
    const engine::CameraRecord& camera = project.photos[i]->camera;
    if (camera.calibrated && camera.cameraEntry != nullptr && camera.focal > 0) visit(i, camera);
  }
}

// The pyramid of a camera in world coordinates: apex, then the base's corners, `depth` in
// front of the apex.
std::array<World, 5> CameraPyramid(const engine::CameraRecord& camera, double depth) {
  const engine::Rotation rotation = engine::CameraRotation(camera.orientation);
  const engine::Vec3 apex = camera.translation;
  const engine::Vec3 centre = engine::ImageToWorld(camera, rotation, 0, 0) - apex;
  const double scale = depth / std::sqrt(centre.SquaredLength());
  std::array<World, 5> pyramid;
  pyramid[0] = {apex.x, apex.y, apex.z};
  const double corners[4][2] = {{-0.5, -0.5}, {0.5, -0.5}, {0.5, 0.5}, {-0.5, 0.5}};
  for (int k = 0; k < 4; ++k) {
    // The image plane lies in front of the centre, on the side of what the photo shows.
    const engine::Vec3 plane =
        engine::ImageToWorld(camera, rotation, corners[k][0], corners[k][1]) - apex;
    const engine::Vec3 p = apex + plane * scale;
    pyramid[static_cast<std::size_t>(k) + 1] = {p.x, p.y, p.z};
  }
  return pyramid;
}

void FillMarkers(const model::Project& project, const MarkerOptions& options, const World& c,
                 double sceneSize, SceneMarkers& markers) {
  markers = {};
  if (options.points) {
    ForEachKnownPosition(project, [&](std::int32_t id, const model::Position& position,
                                      const model::PositionGraph::Coords& xyz) {
      const auto error = options.largestError_px.find(id);
      const std::array<std::uint8_t, 3> grey{150, 150, 150};
      markers.points.push_back(
          {ViewAxes(xyz, c),
           error == options.largestError_px.end() ? grey : ErrorColour(error->second),
           position.isReal});
    });
  }
  if (!options.cameras) return;
  ForEachDrawnCamera(project, [&](std::size_t photo, const engine::CameraRecord& camera) {
    const std::array<World, 5> pyramid = CameraPyramid(camera, sceneSize / 10);
    MarkerCamera& drawn = markers.cameras.emplace_back();
    drawn.apex = ViewAxes(pyramid[0], c);
    for (std::size_t k = 0; k < 4; ++k) drawn.base[k] = ViewAxes(pyramid[k + 1], c);
    drawn.highlighted = options.highlightedPhotos.contains(photo);
    drawn.photo = photo;
  });
}

}  // namespace

std::array<std::uint8_t, 3> ErrorColour(double error_px) {
  // Green to yellow over 1..3 pixels, yellow to red over 3..5.
  const double t = std::clamp((error_px - 1) / 4, 0.0, 1.0);
  const double red = std::min(1.0, 2 * t), green = std::min(1.0, 2 * (1 - t));
  return {static_cast<std::uint8_t>(std::lround(red * 220)),
          static_cast<std::uint8_t>(std::lround(green * 200)), 0};
}

ModelBox BuildArrays(const model::Project& project, std::vector<PhotoDrawEntry>& entries,
                     SceneMarkers* markers, const MarkerOptions& options) {
  ModelBox box;
  box.min.fill(std::numeric_limits<double>::max());
  box.max.fill(-std::numeric_limits<double>::max());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    ForEachTriangle(project, i, [&](const model::MeshTriangle& triangle) {
      for (int k = 0; k < 3; ++k) {
        const model::MeshVertex& corner = *triangle.Corner(k);
        Widen(box, {corner.x, corner.y, corner.z});
      }
    });
  }
  const bool drawsPoints = markers != nullptr && options.points;
  const bool drawsCameras = markers != nullptr && options.cameras;
  if (drawsPoints) {
    ForEachKnownPosition(project,
                         [&](std::int32_t, const model::Position&,
                             const model::PositionGraph::Coords& xyz) { Widen(box, xyz); });
  }
  // The pyramids' size follows the model and its points, never the cameras' own spread,
  // unless there is nothing else.
  double sceneSize = Diagonal(box);
  if (drawsCameras) {
    ModelBox centres = box;
    ForEachDrawnCamera(project, [&](std::size_t, const engine::CameraRecord& camera) {
      Widen(centres, {camera.translation.x, camera.translation.y, camera.translation.z});
    });
    if (!(sceneSize > 0)) sceneSize = Diagonal(centres) > 0 ? Diagonal(centres) : 1;
    ForEachDrawnCamera(project, [&](std::size_t, const engine::CameraRecord& camera) {
      for (const World& corner : CameraPyramid(camera, sceneSize / 10)) Widen(box, corner);
    });
  }
  for (int axis = 0; axis < 3; ++axis) box.center[axis] = (box.min[axis] + box.max[axis]) / 2;

  const World& c = box.center;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::vector<DrawVertex>& vertices = entries[i].vertices;
    vertices.clear();
    ForEachTriangle(project, i, [&](const model::MeshTriangle& triangle) {
      const auto& n = triangle.normal;
      for (int k = 0; k < 3; ++k) {
        const model::MeshVertex& v = *triangle.Corner(k);
        const std::array<float, 3> at = ViewAxes({v.x, v.y, v.z}, c);
        vertices.push_back({static_cast<float>(v.u), static_cast<float>(v.v),
                            static_cast<float>(n[0]), static_cast<float>(n[2]),
                            static_cast<float>(-n[1]), at[0], at[1], at[2]});
      }
    });
  }
  if (markers != nullptr) FillMarkers(project, options, c, sceneSize, *markers);
  return box;
}

std::array<double, 3> Turned(const ViewPose& pose, const std::array<double, 3>& point) {
  auto [x, y, z] = point;
  // OpenGL applies the rotation given last first.
  Rotate(x, y, pose.rotZ);
  Rotate(z, x, pose.rotY);
  Rotate(y, z, pose.rotX);
  return {x, y, z};
}

ViewPose HomeTurn(const model::Project& project, const ModelBox& box) {
  constexpr float kLowestHomeElevation = 20.0f;
  const auto first = std::find_if(project.photos.begin(), project.photos.end(),
                                  [](const auto& photo) { return photo->camera.calibrated; });
  if (box.empty() || first == project.photos.end()) return {30.0f, -30.0f, 0};
  const engine::Vec3& eye = (*first)->camera.translation;
  const double dx = eye.x - box.center[0], dy = eye.y - box.center[1], dz = eye.z - box.center[2];
  // In the view's axes the eye lies at (dx, dz, -dy): turned about the upright axis into the
  // view's y-z plane, then tilted onto the view's z axis.
  const auto degrees = [](double radians) {
    return static_cast<float>(radians / kRadiansPerDegree);
  };
  return {std::max(kLowestHomeElevation, degrees(std::atan2(dz, std::hypot(dx, dy)))),
          degrees(std::atan2(-dx, -dy)), 0};
}

float FitDistance(const ModelBox& box, const ViewPose& turn, double fovy, double aspect) {
  if (box.empty()) return -10.0f;
  const double t = std::tan(fovy / 2 * kRadiansPerDegree) * kFitShare;
  const double hx = (box.max[0] - box.min[0]) / 2;
  const double hy = (box.max[1] - box.min[1]) / 2;
  const double hz = (box.max[2] - box.min[2]) / 2;
  // Each corner, at depth distance - z before the eye, needs |x| <= t * aspect * depth and
  // |y| <= t * depth.
  double distance = 0;
  for (const double sx : {-1.0, 1.0}) {
    for (const double sy : {-1.0, 1.0}) {
      for (const double sz : {-1.0, 1.0}) {
        const auto [x, y, z] = Turned(turn, {sx * hx, sz * hz, -sy * hy});
        distance = std::max(distance, z + std::max(std::abs(x) / (aspect * t), std::abs(y) / t));
      }
    }
  }
  return static_cast<float>(-distance);
}

bool OutgrowsFit(const ModelBox& fitted, const ModelBox& box, const ViewPose& turn, double fovy,
                 double aspect) {
  if (box.empty()) return false;
  if (fitted.empty()) return true;
  // Both distances are worked out the same way, so a box of the same size gives the same one.
  return FitDistance(box, turn, fovy, aspect) < FitDistance(fitted, turn, fovy, aspect);
}

void SetDepthRange(const ModelBox& box, float zDist, Projection& projection) {
  if (box.empty()) {
    projection.zNear = 0.1;
    projection.zFar = 100.0;
    return;
  }
  const double nearFace = box.min[1] - box.center[1] - zDist;
  const double farFace = box.max[1] - box.center[1] - zDist;
  projection.zNear = nearFace * 0.1;
  projection.zFar = farFace * 10.0;
  // A box of no size, or one the eye has entered, still needs a depth range OpenGL accepts.
  if (!(projection.zFar > 0)) projection.zFar = 100.0;
  if (!(projection.zNear > 0)) projection.zNear = projection.zFar * 1e-4;
}

}  // namespace modrin::views3d
