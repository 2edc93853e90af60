// Writes the small sample project of examples/sample: three photos of a box on a checkered
// ground, rendered with a pinhole camera, and a project file with the box corners marked where
// they are visible, its edges, one object and real coordinates for the four ground corners.
// Deterministic: the same program writes the same bytes.

#include <array>
#include <cmath>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

#include "engine/geometry/camera.h"
#include "images/camera_database.h"
#include "images/decoded_image.h"
#include "images/exif_reader.h"
#include "images/file_io.h"
#include "images/jpeg_writer.h"
#include "model/project.h"
#include "model/project_file.h"
#include "sample_camera.h"

namespace {

using modrin::engine::Vec3;

constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr double kFocal = 0.024;         // metres
constexpr double kSensorWidth = 0.0236;  // metres
constexpr double kSensorHeight = 0.0177;
constexpr Vec3 kBoxMin{0, 0, 0};
constexpr Vec3 kBoxMax{4, 3, 2.5};

using Camera = modrin::tools::SampleCamera;

Camera LookingAt(const Vec3& centre, const Vec3& target) {
  static const modrin::images::CameraEntry sensor{"", kSensorWidth, kSensorHeight};
  return Camera::LookingAt(sensor, kWidth, kHeight, kFocal, centre, target, 0);
}

// Distance along the ray to the box, or a negative value when it misses.
double HitBox(const Vec3& origin, const Vec3& dir, int& face) {
  double tNear = -1e300, tFar = 1e300;
  const double o[3] = {origin.x, origin.y, origin.z}, d[3] = {dir.x, dir.y, dir.z};
  const double lo[3] = {kBoxMin.x, kBoxMin.y, kBoxMin.z}, hi[3] = {kBoxMax.x, kBoxMax.y, kBoxMax.z};
  for (int axis = 0; axis < 3; ++axis) {
    if (d[axis] == 0) {
      if (o[axis] < lo[axis] || o[axis] > hi[axis]) return -1;
      continue;
    }
    double t1 = (lo[axis] - o[axis]) / d[axis], t2 = (hi[axis] - o[axis]) / d[axis];
    int f1 = axis * 2, f2 = axis * 2 + 1;
    if (t1 > t2) {
      std::swap(t1, t2);
      std::swap(f1, f2);
    }
    if (t1 > tNear) {
      tNear = t1;
      face = f1;
    }
    tFar = std::min(tFar, t2);
  }
  return tNear <= tFar && tNear > 0 ? tNear : -1;
}

std::array<std::uint8_t, 3> Shade(const Camera& camera, const Vec3& dir) {
  int face = 0;
  const double tBox = HitBox(camera.centre(), dir, face);
  if (tBox > 0) {
    const Vec3 p = camera.centre() + dir * tBox;
    // Brick-like stripes on the walls, a darker roof.
    static const std::array<std::array<int, 3>, 6> kFaceColours = {{{200, 90, 70},
                                                                    {190, 85, 65},
                                                                    {210, 120, 80},
                                                                    {205, 110, 75},
                                                                    {90, 90, 90},
                                                                    {120, 60, 50}}};
    const auto& base = kFaceColours[face];
    const bool mortar = std::fmod(p.z + 10, 0.25) < 0.03;
    const double k = mortar ? 0.6 : 1.0;
    return {static_cast<std::uint8_t>(base[0] * k), static_cast<std::uint8_t>(base[1] * k),
            static_cast<std::uint8_t>(base[2] * k)};
  }
  if (dir.z < 0) {
    const double t = -camera.centre().z / dir.z;
    const Vec3 p = camera.centre() + dir * t;
    const bool dark = (static_cast<long>(std::floor(p.x)) + static_cast<long>(std::floor(p.y))) % 2;
    return dark ? std::array<std::uint8_t, 3>{70, 120, 60}
                : std::array<std::uint8_t, 3>{110, 160, 90};
  }
  const double sky = std::min(1.0, dir.z / std::sqrt(dir.SquaredLength()) * 3);
  return {static_cast<std::uint8_t>(170 - 60 * sky), static_cast<std::uint8_t>(200 - 50 * sky),
          240};
}

modrin::images::DecodedImage Render(const Camera& camera) {
  modrin::images::DecodedImage image;
  image.width = kWidth;
  image.height = kHeight;
  image.format = modrin::images::ImageFormat::Jpeg;
  image.pixels.resize(image.stride() * kHeight);
  for (int row = 0; row < kHeight; ++row) {
    const int y = kHeight - 1 - row;  // rows are stored top-down
    for (int x = 0; x < kWidth; ++x) {
      const auto colour = Shade(camera, camera.Ray(x + 0.5, y + 0.5));
      std::copy(colour.begin(), colour.end(), image.pixels.begin() + row * image.stride() + x * 3);
    }
  }
  return image;
}

bool Visible(const Camera& camera, const Vec3& corner) {
  int face = 0;
  const Vec3 dir = corner - camera.centre();
  const double t = HitBox(camera.centre(), dir, face);
  return t < 0 || t > 1 - 1e-6;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: %s OUTPUT_FOLDER\n", argv[0]);
    return 2;
  }
  const std::string folder = argv[1];
  const Vec3 target{2, 1.5, 1.0};
  const std::vector<Camera> cameras = {LookingAt({-6, -9, 1.6}, target),
                                       LookingAt({2.5, -11, 2.0}, target),
                                       LookingAt({11, -7, 1.7}, target)};
  std::vector<Vec3> corners;
  for (int i = 0; i < 8; ++i) {
    corners.push_back({i & 1 ? kBoxMax.x : kBoxMin.x, i & 2 ? kBoxMax.y : kBoxMin.y,
                       i & 4 ? kBoxMax.z : kBoxMin.z});
  }

  modrin::model::Project project;
  const modrin::images::ExifCamera exif =
      modrin::tools::SampleExif("Modrin Sample Camera", cameras[0]);

  std::vector<std::int32_t> ids(corners.size());
  for (std::size_t c = 0; c < cameras.size(); ++c) {
    const std::string name = "photo" + std::to_string(c + 1) + ".jpg";
    if (!modrin::images::WriteJpegFile(folder + "/" + name, Render(cameras[c]), 85, exif)) {
      std::fprintf(stderr, "cannot write %s/%s\n", folder.c_str(), name.c_str());
      return 1;
    }
    auto& photo = project.AddPhoto();
    photo.SetPath(name);
    photo.camera.focal = kFocal;
  }
  for (std::size_t i = 0; i < corners.size(); ++i) project.graph.NewPosition(ids[i]);
  for (std::size_t c = 0; c < cameras.size(); ++c) {
    for (std::size_t i = 0; i < corners.size(); ++i) {
      auto pixel = cameras[c].Project(corners[i]);
      if (!pixel || !Visible(cameras[c], corners[i])) continue;
      project.graph.SetImagePoint(ids[i], static_cast<std::int32_t>(c),
                                  {static_cast<std::int32_t>(std::lround((*pixel)[0])),
                                   static_cast<std::int32_t>(std::lround((*pixel)[1]))});
    }
  }
  for (std::size_t i = 0; i < 4; ++i) {
    project.graph.SetRealCoords(ids[i], {corners[i].x, corners[i].y, corners[i].z});
  }
  for (int a = 0; a < 8; ++a) {
    for (int bit = 1; bit < 8; bit <<= 1) {
      if (!(a & bit)) project.AddEdge(ids[a], ids[a | bit]);
    }
  }
  auto& house = project.AddObject("House");
  house.current = true;
  for (auto id : ids) house.AddPosition(id);

  std::string error;
  if (!modrin::images::WriteFileAtomically(folder + "/sample.mpj",
                                           modrin::model::WriteProjectText(project), error)) {
    std::fprintf(stderr, "cannot write %s/sample.mpj: %s\n", folder.c_str(), error.c_str());
    return 1;
  }
  return 0;
}
