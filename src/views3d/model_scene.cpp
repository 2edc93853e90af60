#include "views3d/model_scene.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

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

ModelBox BuildArrays(const model::Project& project, std::vector<PhotoDrawEntry>& entries) {
  ModelBox box;
  box.min.fill(std::numeric_limits<double>::max());
  box.max.fill(-std::numeric_limits<double>::max());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    ForEachTriangle(project, i, [&](const model::MeshTriangle& triangle) {
      for (int k = 0; k < 3; ++k) {
        const model::MeshVertex& corner = *triangle.Corner(k);
        const double point[3] = {corner.x, corner.y, corner.z};
        for (int axis = 0; axis < 3; ++axis) {
          box.min[axis] = std::min(box.min[axis], point[axis]);
          box.max[axis] = std::max(box.max[axis], point[axis]);
        }
      }
    });
  }
  for (int axis = 0; axis < 3; ++axis) box.center[axis] = (box.min[axis] + box.max[axis]) / 2;

  const auto& c = box.center;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    std::vector<DrawVertex>& vertices = entries[i].vertices;
    vertices.clear();
    ForEachTriangle(project, i, [&](const model::MeshTriangle& triangle) {
      const auto& n = triangle.normal;
      for (int k = 0; k < 3; ++k) {
        const model::MeshVertex& v = *triangle.Corner(k);
        // The model's z axis points up on the screen and its y axis into the screen.
        vertices.push_back({static_cast<float>(v.u), static_cast<float>(v.v),
                            static_cast<float>(n[0]), static_cast<float>(n[2]),
                            static_cast<float>(-n[1]), static_cast<float>(v.x - c[0]),
                            static_cast<float>(v.z - c[2]), static_cast<float>(-(v.y - c[1]))});
      }
    });
  }
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
