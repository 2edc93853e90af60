#include "engine/geometry/camera.h"

#include <cmath>

#include "engine/geometry/lines.h"
#include "images/camera_database.h"

namespace modrin::engine {

Rotation CameraRotation(const Vec3& orientation) {
  const double cP = std::cos(orientation.x), sP = std::sin(orientation.x);
  const double cR = std::cos(orientation.y), sR = std::sin(orientation.y);
  const double cY = std::cos(orientation.z), sY = std::sin(orientation.z);
  return {{Vec3{cY * cR + sY * sR * sP, sY * cP, sY * cR * sP - cY * sR},
           Vec3{cY * sR * sP - sY * cR, cY * cP, cY * cR * sP + sY * sR},
           Vec3{sR * cP, -sP, cR * cP}}};
}

namespace {

// `angle` moved by whole turns to lie within half a turn of `near`.
double NearestTurn(double angle, double near) {
  return angle + TwoPi() * std::round((near - angle) / TwoPi());
}

}  // namespace

Vec3 OrientationOf(const Rotation& rotation, const Vec3& near) {
  const auto& r = rotation.rows;
  // Row 3 is (sin roll cos pitch, -sin pitch, cos roll cos pitch); column 2 holds (sin yaw cos
  // pitch, cos yaw cos pitch).
  const double cosPitch = std::hypot(r[2].x, r[2].z);
  const double pitch = std::atan2(-r[2].y, cosPitch);
  double roll = 0, yaw = 0;
  if (cosPitch > 1e-9) {
    roll = std::atan2(r[2].x, r[2].z);
    yaw = std::atan2(r[0].y, r[1].y);
  } else {
    // Gimbal lock: with roll fixed, row 1 gives yaw from (cos(yaw -/+ roll), ...).
    roll = near.y;
    const double sign = pitch > 0 ? 1 : -1;
    yaw = std::atan2(-r[1].x, r[0].x) + sign * roll;
  }
  return {pitch, NearestTurn(roll, near.y), NearestTurn(yaw, near.z)};
}

Vec3 ImageToWorld(const CameraRecord& camera, double u, double v) {
  return ImageToWorld(camera, CameraRotation(camera.orientation), u, v);
}

Vec3 ImageToWorld(const CameraRecord& camera, const Rotation& rotation, double u, double v) {
  const Vec3 c{u * camera.cameraEntry->cellWidth, camera.focal, v * camera.cameraEntry->cellHeight};
  return rotation.Apply(c) + camera.translation;
}

ImageProjection WorldToImage(const CameraRecord& camera, const Vec3& p) {
  return WorldToImage(camera, CameraRotation(camera.orientation), p);
}

ImageProjection WorldToImage(const CameraRecord& camera, const Rotation& rotation, const Vec3& p) {
  const Vec3 d = rotation.ApplyInverse(p - camera.translation);
  ImageProjection projection;
  projection.image = {d.x / d.y * camera.focal / camera.cameraEntry->cellWidth,
                      d.z / d.y * camera.focal / camera.cameraEntry->cellHeight};
  projection.inFront = d.y > camera.focal;
  return projection;
}

std::optional<Vec3> RayAtHeight(const CameraRecord& camera, double u, double v, double z) {
  return RayAtHeight(camera, CameraRotation(camera.orientation), u, v, z);
}

std::optional<Vec3> RayAtHeight(const CameraRecord& camera, const Rotation& rotation, double u,
                                double v, double z) {
  const Vec3 w = ImageToWorld(camera, rotation, u, v);
  const Vec3& t = camera.translation;
  const double along = (z - t.z) / (w.z - t.z);
  const Vec3 point{t.x + (w.x - t.x) * along, t.y + (w.y - t.y) * along, z};
  if (!std::isfinite(point.x) || !std::isfinite(point.y)) return std::nullopt;
  return point;
}

Line3 ViewRay(const CameraRecord& camera, double u, double v) {
  return {camera.translation, camera.translation - ImageToWorld(camera, u, v)};
}

std::optional<Vec3> IntersectViewRays(const CameraRecord& cameraA, const Vec2& a,
                                      const CameraRecord& cameraB, const Vec2& b) {
  const auto closest =
      ClosestPointBetweenLines(ViewRay(cameraA, a.x, a.y), ViewRay(cameraB, b.x, b.y));
  if (!closest) return std::nullopt;
  return closest->point;
}

}  // namespace modrin::engine
