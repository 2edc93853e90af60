#include "synthetic_scene.h"

#include <algorithm>
#include <cmath>

#include "engine/geometry/camera.h"

namespace modrin::testing {

using engine::Vec3;

Vec3 LookAt(const Vec3& centre, const Vec3& target, double roll) {
  // The viewing direction is (sin yaw cos pitch, cos yaw cos pitch, -sin pitch).
  const Vec3 d = target - centre;
  const double length = std::sqrt(d.SquaredLength());
  return {-std::asin(d.z / length), roll, std::atan2(d.x, d.y)};
}

engine::CameraRecord MakeCamera(double focal, const Vec3& translation, const Vec3& orientation) {
  engine::CameraRecord camera;
  camera.cameraEntry = &kFullFrame;
  camera.focal = focal;
  camera.translation = translation;
  camera.orientation = orientation;
  return camera;
}

std::vector<engine::Correspondence> Marks(const engine::CameraRecord& camera,
                                          const std::vector<Vec3>& points, bool roundToPixels) {
  std::vector<engine::Correspondence> marks;
  for (const Vec3& p : points) {
    engine::Vec2 image = engine::WorldToImage(camera, p).image;
    if (roundToPixels) {
      image = {std::round((image.x + 0.5) * kPhotoWidth) / kPhotoWidth - 0.5,
               std::round((image.y + 0.5) * kPhotoHeight) / kPhotoHeight - 0.5};
    }
    marks.push_back({image, p});
  }
  return marks;
}

std::vector<engine::Correspondence> NoisyMarks(const engine::CameraRecord& camera,
                                               const std::vector<Vec3>& points,
                                               std::mt19937& random, double sigmaPixels) {
  std::normal_distribution<double> noise(0, sigmaPixels);
  std::vector<engine::Correspondence> marks = Marks(camera, points, false);
  for (engine::Correspondence& mark : marks) {
    mark.image.x += noise(random) / kPhotoWidth;
    mark.image.y += noise(random) / kPhotoHeight;
  }
  return marks;
}

namespace {

const Vec3 kSceneCentre{5, 4, 2.5};

std::vector<Vec3> BoxPoints(std::mt19937& random, int count) {
  std::uniform_real_distribution<double> unit(0, 1);
  std::vector<Vec3> points;
  for (int i = 0; i < count; ++i)
    points.push_back({10 * unit(random), 8 * unit(random), 5 * unit(random)});
  return points;
}

// Chooses the focal length so that the farthest mark lies 70 to 95 % of the way from the
// centre to the frame's edge, as a photographer would frame the scene. False when a point
// lies behind the camera or the focal length comes out implausibly short.
bool Frame(SyntheticView& view, std::mt19937& random) {
  std::uniform_real_distribution<double> unit(0, 1);
  view.truth.focal = 0.035;
  double extent = 0;
  for (const Vec3& p : view.points) {
    const engine::ImageProjection q = engine::WorldToImage(view.truth, p);
    if (!q.inFront) return false;
    extent = std::max({extent, std::abs(q.image.x), std::abs(q.image.y)});
  }
  const double fill = 0.7 + 0.25 * unit(random);
  view.truth.focal *= 0.5 * fill / extent;
  return std::isfinite(view.truth.focal) && view.truth.focal > 0.005;
}

}  // namespace

SyntheticView RandomView(std::mt19937& random, int count) {
  std::uniform_real_distribution<double> unit(0, 1);
  for (;;) {
    SyntheticView view;
    view.points = BoxPoints(random, count);
    const double distance = 18 + 12 * unit(random);
    const double azimuth = 2 * engine::Pi() * unit(random);
    const double elevation = 0.1 + 0.5 * unit(random);
    const Vec3 centre =
        kSceneCentre + Vec3{std::cos(azimuth) * std::cos(elevation),
                            std::sin(azimuth) * std::cos(elevation), std::sin(elevation)} *
                           distance;
    const Vec3 target = kSceneCentre + Vec3{unit(random) - 0.5, unit(random) - 0.5, 0};
    const double roll = 0.3 * (unit(random) - 0.5);
    view.truth = MakeCamera(0.035, centre, LookAt(centre, target, roll));
    if (Frame(view, random)) return view;
  }
}

SyntheticView ViewAtAttitude(std::mt19937& random, int count, double pitch, double roll) {
  std::uniform_real_distribution<double> unit(0, 1);
  for (;;) {
    SyntheticView view;
    view.points = BoxPoints(random, count);
    const double yaw = engine::TwoPi() * (unit(random) - 0.5);
    const double distance = 18 + 12 * unit(random);
    // The viewing direction of (pitch, roll, yaw); the camera stands back from the target.
    const Vec3 viewing{std::sin(yaw) * std::cos(pitch), std::cos(yaw) * std::cos(pitch),
                       -std::sin(pitch)};
    const Vec3 target = kSceneCentre + Vec3{unit(random) - 0.5, unit(random) - 0.5, 0};
    view.truth = MakeCamera(0.035, target - viewing * distance, {pitch, roll, yaw});
    if (Frame(view, random)) return view;
  }
}

double RotationAngle(const Vec3& a, const Vec3& b) {
  const engine::Rotation ra = engine::CameraRotation(a), rb = engine::CameraRotation(b);
  // trace(ra^T rb) is the sum of the elementwise products of the two matrices.
  double trace = 0;
  for (int r = 0; r < 3; ++r) trace += engine::Dot(ra.rows[r], rb.rows[r]);
  return std::acos(std::clamp((trace - 1) / 2, -1.0, 1.0));
}

}  // namespace modrin::testing
